// The two axes along which the sites of the transect are shown, in the data's length unit.
#pragma once

#include "data/transect_file.h"

#include <vector>

// The distance of each site of `transect` from site 0 along the transect: the sum of the distances
// between neighbouring sites up to it. The stepping-stone models space their demes this way.
std::vector<double> summedSiteDistances(const Transect& transect);

// The position of each site on the transect axis, on which the kernel models lay their grid
// (not monotone: sites lie off the axis).
std::vector<double> axisPositions(const Transect& transect);
