// The fast stepping-stone generation loop: the stepping-stone simulate forms on the working
// arrays of a workspace, at the instruction-set level that activeInstructionSet() names.
#pragma once

#include <vector>

#include "population/population.h"

namespace fast {

// The stepping-stone simulate forms for rows of at least two demes and a cap of at least 1,
// with the results, messages and simulation record of those forms (population.h).
std::vector<Genotype> steppingStone(const std::vector<Population>& row,
                                    const std::vector<double>& migrationRates,
                                    const std::vector<Genotype>& demeFitness, double selfing,
                                    double tolerance, int maxGenerations);
std::vector<Genotype> steppingStone(const std::vector<Population>& row,
                                    const std::vector<double>& migrationRates,
                                    const std::vector<Genotype>& demeFitness,
                                    const std::vector<double>& demeSelfing, double tolerance,
                                    int maxGenerations);
std::vector<Genotype> steppingStoneByGenotype(const std::vector<Population>& row,
                                              const std::vector<double>& migrationRates,
                                              const std::vector<Genotype>& demeFitness,
                                              const std::vector<double>& genotypeSelfing,
                                              double tolerance, int maxGenerations);

} // namespace fast
