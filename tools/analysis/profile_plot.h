// The figure of a walked profile: -lnL above its value at the estimate against the value the
// parameter is fixed at, one panel per parameter, with the support-limit line.
#pragma once

#include "tools/formats/profile_curve.h"

#include <string>
#include <vector>

// The standalone SVG document: a title naming `source`, then one panel per parameter, in the
// order given, showing delta = -lnL - (its value at the estimate) at every point (the estimate
// marked), joined in the order of the fixed values, and a dashed line at delta = `units`. The
// delta axis runs from 0 (or the lowest delta, when below) to at least 1.25 units, taking in
// points up to 4 units; points above that (penalties, say) are left out and counted in the
// panel's heading.
std::string renderProfileSvg(const std::vector<CurveParameter>& parameters,
                             const std::string& source, double units);
