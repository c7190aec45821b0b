// The report of a simulation stopped by the generation cap, shared by every generation loop.
#pragma once

#include <ostream>
#include <vector>

#include "population/population.h"

// Writes "max number of generations exceeded" and a line with the SI and II values of the
// first three entries of `fitness` (as many as exist) to `diagnostics`.
void reportCap(std::ostream& diagnostics, const std::vector<Genotype>& fitness);
