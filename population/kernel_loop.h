// The fast kernel generation loop: the kernel simulate form on the working arrays of a
// workspace, at the instruction-set level that activeInstructionSet() names.
#pragma once

#include <vector>

#include "population/population.h"
#include "population/row_hook.h"
#include "population/simulation_context.h"

namespace fast {

// The kernel simulate form (population.h) for a cap of at least 1 and kernel points that all
// lie in the row after one reflection (every |offset| <= row.size() - 1, as many weights as
// offsets), with its messages and simulation record. With `end`, the state the run ended in is
// also copied there; `quiet` runs without the cap message and the simulation record. The
// messages go to the context's diagnostics, the record to its report; its row hook is not
// looked at.
void kernel(std::vector<Population>& row, const std::vector<double>& kernelWeights,
            const std::vector<int>& kernelOffsets, const std::vector<Genotype>& regionFitness,
            double selfing, double tolerance, int maxGenerations, int border1, int border2,
            double kernelStep, const SimulationContext& context, RowState* end = nullptr,
            bool quiet = false);

} // namespace fast
