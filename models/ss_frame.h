// The frame shared by the stepping-stone objectives (models 1 to 6).
#pragma once

#include "data/borders.h"
#include "models/boxes.h"
#include "models/model_context.h"
#include "optimiser/nr3.h"
#include "population/population.h"

#include <functional>
#include <vector>

namespace ssframe {

// Runs a row of demes to equilibrium with the model's selfing; returns the adults of every deme.
using RowSimulation = std::function<std::vector<Genotype>(const std::vector<Population>& demes,
                                                          const std::vector<double>& migrationRates,
                                                          double tolerance, int maxGenerations)>;

// Reads borders.txt of the working directory, as models 3 to 6 do at every call, checking the
// borders against the context's transect. On failure reports the reason to the context's
// failure sink and returns false; the objective then answers with one penalty unit without
// simulating.
bool readRegionBorders(const ModelContext& context, Borders& borders);

// What every three-region objective does first, in this order: reads the borders, then tests
// `x` against `box`. False, with the value to answer in `penalty`, when either fails: one
// penalty unit for unreadable borders, the box's penalty for a point outside it.
bool regionsAndBox(const ModelContext& context, const ModelBox& box, const NRvector<double>& x,
                   Borders& borders, double& penalty);

// The per-deme values of the three regions, one per site of the context's transect, written in
// three passes (a later region overwrites an earlier one, so demes from border2 on take
// region 3 even when border1 > border2). The borders are 0 to the number of sites.
std::vector<double> regionValues(const ModelContext& context, const Borders& borders,
                                 double region1, double region2, double region3);

// The per-deme fitness triples of models 3 to 6, (SS = 1, SI, II) of the three regions from
// x[0] to x[5], placed as regionValues places values.
std::vector<Genotype> regionFitness(const ModelContext& context, const NRvector<double>& x,
                                    const Borders& borders);

// Builds the row of demes (one per site of the context's transect) with their migration rates for
// dispersal scale `sigma` (finite, greater than 0), runs `simulateRow` and returns the negative
// log-likelihood of the counts, or `penaltyUnit` with a message when the run did not reach
// equilibrium or the likelihood is NaN. Predictions go to the context's report, messages to its
// diagnostics.
double evaluate(const ModelContext& context, double sigma, const RowSimulation& simulateRow,
                double penaltyUnit);

// A stepping-stone simulation with one selfing rate, with the arguments of `simulate` in a
// simulation context.
using OneRateSimulation = std::vector<Genotype> (*)(const SimulationContext& context,
                                                    std::vector<Population> row,
                                                    const std::vector<double>& migrationRates,
                                                    const std::vector<Genotype>& demeFitness,
                                                    const double& selfing, double tolerance,
                                                    int maxGenerations);

// The objective of model 1 in `context` with `simulateRow` running its rows in the context's
// simulation: ssone(context, x) is modelOne(context, x, simulate). Benchmarks pass other
// implementations of the same simulation.
double modelOne(const ModelContext& context, const NRvector<double>& x,
                OneRateSimulation simulateRow);

} // namespace ssframe
