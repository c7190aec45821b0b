// The fast stepping-stone generation loop: the stepping-stone simulate forms on the working
// arrays of a workspace, at the instruction-set level that activeInstructionSet() names.
#pragma once

#include <vector>

#include "population/population.h"
#include "population/row_hook.h"
#include "population/simulation_context.h"

namespace fast {

// The stepping-stone simulate forms for rows of at least two demes and a cap of at least 1,
// with the results, messages and simulation record of those forms (population.h). With `end`,
// the state the run ended in is also copied there (its adults unmarked at the cap); `quiet`
// runs without the cap message, the cap mark and the simulation record. The messages go to the
// context's diagnostics, the record to its report; its row hook is not looked at.
std::vector<Genotype> steppingStone(const std::vector<Population>& row,
                                    const std::vector<double>& migrationRates,
                                    const std::vector<Genotype>& demeFitness, double selfing,
                                    double tolerance, int maxGenerations,
                                    const SimulationContext& context, RowState* end = nullptr,
                                    bool quiet = false);
std::vector<Genotype> steppingStone(const std::vector<Population>& row,
                                    const std::vector<double>& migrationRates,
                                    const std::vector<Genotype>& demeFitness,
                                    const std::vector<double>& demeSelfing, double tolerance,
                                    int maxGenerations, const SimulationContext& context,
                                    RowState* end = nullptr, bool quiet = false);
std::vector<Genotype> steppingStoneByGenotype(const std::vector<Population>& row,
                                              const std::vector<double>& migrationRates,
                                              const std::vector<Genotype>& demeFitness,
                                              const std::vector<double>& genotypeSelfing,
                                              double tolerance, int maxGenerations,
                                              const SimulationContext& context,
                                              RowState* end = nullptr, bool quiet = false);

} // namespace fast
