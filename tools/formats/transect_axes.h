// The two axes along which the sites of the transect are shown, in the data's length unit.
#pragma once

#include "data/transect_file.h"
#include "models/model_table.h"

#include <vector>

// The distance of each site of `transect` from site 0 along the transect: the sum of the distances
// between neighbouring sites up to it. The stepping-stone models space their demes this way.
std::vector<double> summedSiteDistances(const Transect& transect);

// The position of each site on the transect axis, on which the kernel models lay their grid
// (not monotone: sites lie off the axis).
std::vector<double> axisPositions(const Transect& transect);

// The site positions of a model's figure on `transect`: summedSiteDistances for the
// stepping-stone models (their demes are the sites, the distances their spacing), axisPositions
// for the kernel models (their grid is laid over those).
std::vector<double> sitePositionsFor(const Transect& transect, const ModelEntry& model);
