// An SVG figure of observed and fitted genotype frequencies along the transect.
#pragma once

#include "models/model_table.h"
#include "population/population.h"
#include "tools/analysis/plot_input.h"
#include "tools/formats/svg_text.h"
#include "tools/formats/transect_axes.h"

#include <limits>
#include <string>
#include <vector>

// The figure of `model` at `point` with value `value`: observed counts, `predicted` (one per
// site, or empty), the borders the model takes from `point` or, for models 3 to 6, from
// `fileBorders` (border1, border2), the sites and counts those of `transect`.
PlotInput plotInputFor(const Transect& transect, const ModelEntry& model,
                       const std::vector<double>& point, double value,
                       const std::vector<Genotype>& predicted, const int fileBorders[2]);

// The standalone SVG document of a figure.
std::string renderSvg(const PlotInput& input);
