#include "population/row_hook.h"

#include <cstddef>

#include "population/kernel_loop.h"
#include "population/stepping_stone_loop.h"

bool continueRow(const RowDynamics& dynamics, RowState& state, double tolerance, int maxGenerations,
                 std::ostream* diagnostics) {
    SimulationContext context;
    context.diagnostics = diagnostics;
    const std::size_t n = state.larvae.size();
    if (maxGenerations < 1 || n < 2) {
        return false;
    }
    std::vector<Population> row;
    row.reserve(n);
    for (const Genotype& larvae : state.larvae) {
        row.emplace_back(larvae);
    }
    switch (dynamics.form) {
    case RowForm::oneRate:
        fast::steppingStone(row, dynamics.migrationRates, dynamics.fitness, dynamics.selfing,
                            tolerance, maxGenerations, context, &state, true);
        return true;
    case RowForm::ratePerDeme:
        fast::steppingStone(row, dynamics.migrationRates, dynamics.fitness, dynamics.selfingRates,
                            tolerance, maxGenerations, context, &state, true);
        return true;
    case RowForm::rateByGenotype:
        fast::steppingStoneByGenotype(row, dynamics.migrationRates, dynamics.fitness,
                                      dynamics.selfingRates, tolerance, maxGenerations, context,
                                      &state, true);
        return true;
    case RowForm::kernel: {
        const int last = static_cast<int>(n) - 1;
        bool inRow = dynamics.kernelWeights.size() == dynamics.kernelOffsets.size();
        for (int offset : dynamics.kernelOffsets) {
            inRow = inRow && offset >= -last && offset <= last;
        }
        if (!inRow) {
            return false;
        }
        fast::kernel(row, dynamics.kernelWeights, dynamics.kernelOffsets, dynamics.fitness,
                     dynamics.selfing, tolerance, maxGenerations, dynamics.border1,
                     dynamics.border2, dynamics.kernelStep, context, &state, true);
        return true;
    }
    case RowForm::none:
        break;
    }
    return false;
}
