// The row-wide dispersal steps with their convergence measure as a number, for the generation
// loops that also record it; the public migration functions compare it with their tolerance.
#pragma once

#include <vector>

#include "population/population.h"

// Stepping-stone dispersal of the whole row, as migration(row, migrationRates, tolerance).
// Returns the largest |new - old| over the larvae of every deme, from 0; a change that is not a
// number never raises it.
double steppingStoneDispersal(std::vector<Population>& row,
                              const std::vector<double>& migrationRates);

// Kernel dispersal of the whole row, as the kernel migration; returns the same measure.
double kernelDispersal(std::vector<Population>& row, const std::vector<double>& kernelWeights,
                       std::vector<int>& kernelOffsets, double kernelStep);
