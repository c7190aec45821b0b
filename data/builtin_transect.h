// The built-in transect as a value, and the two lengths of a transect that the models' rows are
// built on. Which transect an evaluation reads is passed to it (models/model_context.h).
#pragma once

#include "data/transect_file.h"

// The built-in data set as a Transect, made once and kept for the life of the process.
const Transect& builtInTransectValue();

// The largest of 0 and the site positions of `transect`: where the kernel models' grid ends.
double largestPosition(const Transect& transect);

// The sum of the distances of `transect`, added in site order: the length of the
// stepping-stone row.
double totalDistance(const Transect& transect);
