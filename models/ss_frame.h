// The frame shared by the stepping-stone objectives (models 1 to 6).
#pragma once

#include "data/borders.h"
#include "optimiser/nr3.h"
#include "population/population.h"

#include <functional>
#include <vector>

namespace ssframe {

constexpr double fitnessMax = 10000.0; // upper bound of every fitness parameter

// Runs a row of demes to equilibrium with the model's selfing; returns the adults of every deme.
using RowSimulation = std::function<std::vector<Genotype>(const std::vector<Population>& demes,
                                                          const std::vector<double>& migrationRates,
                                                          double tolerance, int maxGenerations)>;

// Penalty for a parameter value v that failed its bounds test: (|v| + 1) x 100000, or 100000
// for a value that is not a number.
double penalty(double v);

// True when v lies outside [low, high]; a value that is not finite is always outside.
bool outside(double v, double low, double high);

// Fills the 105 per-deme entries region by region in three passes (a later region overwrites an
// earlier one, so demes from border2 on take region 3 even when border1 > border2).
void fillRegions(std::vector<Genotype>& demeFitness, const Borders& borders,
                 const Genotype& region1, const Genotype& region2, const Genotype& region3);
void fillRegions(std::vector<double>& demeSelfing, const Borders& borders, double region1,
                 double region2, double region3);

// Builds the row of 105 demes with their migration rates for dispersal scale `sigma` (finite,
// greater than 0), runs `simulateRow` and returns the negative log-likelihood of the counts, or
// 100000 with a message when the run did not reach equilibrium or the likelihood is NaN.
double evaluate(double sigma, const RowSimulation& simulateRow);

// A stepping-stone simulation with one selfing rate, with the arguments of `simulate`.
using OneRateSimulation = std::vector<Genotype> (*)(std::vector<Population> row,
                                                    const std::vector<double>& migrationRates,
                                                    const std::vector<Genotype>& demeFitness,
                                                    const double& selfing, double tolerance,
                                                    int maxGenerations);

// The objective of model 1 with `simulateRow` running its rows: ssone(x) is
// modelOne(x, simulate). Benchmarks pass other implementations of the same simulation.
double modelOne(const NRvector<double>& x, OneRateSimulation simulateRow);

} // namespace ssframe
