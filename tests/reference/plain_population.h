// Plain, literal versions of the life cycle, dispersal and simulation of population/: a
// snapshot of the whole row every generation, index and Simpson vectors rebuilt for every deme,
// checked element access, rows passed by value. Slow and obviously right; the library's fast
// versions are tested against them bit for bit, and the benchmarks measure against them.
#pragma once

#include <iostream>
#include <ostream>
#include <vector>

#include "population/population.h"
#include "population/simulation_context.h"

namespace plain {

int itr(int i, int last);
std::vector<double> getSimpson(int n);
std::vector<int> createIndx(int focal, const std::vector<int>& kernelOffsets, int last);

// Kernel mixture of one stage over the demes `indices` (checked access).
Genotype migKernel(const std::vector<Population>& row, const std::vector<double>& kernelWeights,
                   double kernelStep, const std::vector<int>& indices, bool useZygotes);

// Selection and the two mating steps of one deme; the by-genotype step writes "zygotes off ="
// to `diagnostics` like the library's.
void goVirgins(Population& deme, const Genotype& fitness);
void goZygotes(Population& deme, double selfing);
void goZygotes(Population& deme, const std::vector<double>& selfingByGenotype,
               std::ostream& diagnostics = std::cout);

// Largest |larvae now - larvae before| over the row, starting from 0; a non-number never
// raises it.
double largestChange(const std::vector<Population>& row, const std::vector<Population>& before);

// Dispersal of the whole row after a snapshot copy; true while not converged.
bool migration(std::vector<Population>& row, const std::vector<double>& migrationRates,
               double tolerance);
bool migration(std::vector<Population>& row, const std::vector<double>& kernelWeights,
               const std::vector<int>& kernelOffsets, double kernelStep, double tolerance);

// The four simulate forms, same contracts as the library's (messages, generation record,
// non-equilibrium mark), without and with a context.
void simulate(std::vector<Population>& row, const std::vector<double>& kernelWeights,
              std::vector<int>& kernelOffsets, const std::vector<Genotype>& regionFitness,
              const double& selfing, double& tolerance, int& maxGenerations, int& border1,
              int& border2, double kernelStep);
std::vector<Genotype> simulate(std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness, const double& selfing,
                               double tolerance, int maxGenerations);
std::vector<Genotype> simulate(std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness,
                               const std::vector<double>& demeSelfing, double tolerance,
                               int maxGenerations);
std::vector<Genotype> simulateByGenotype(std::vector<Population> row,
                                         const std::vector<double>& migrationRates,
                                         const std::vector<Genotype>& demeFitness,
                                         const std::vector<double>& genotypeSelfing,
                                         double tolerance, int maxGenerations);
void simulate(const SimulationContext& context, std::vector<Population>& row,
              const std::vector<double>& kernelWeights, std::vector<int>& kernelOffsets,
              const std::vector<Genotype>& regionFitness, const double& selfing, double& tolerance,
              int& maxGenerations, int& border1, int& border2, double kernelStep);
std::vector<Genotype> simulate(const SimulationContext& context, std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness, const double& selfing,
                               double tolerance, int maxGenerations);
std::vector<Genotype> simulate(const SimulationContext& context, std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness,
                               const std::vector<double>& demeSelfing, double tolerance,
                               int maxGenerations);
std::vector<Genotype> simulateByGenotype(const SimulationContext& context,
                                         std::vector<Population> row,
                                         const std::vector<double>& migrationRates,
                                         const std::vector<Genotype>& demeFitness,
                                         const std::vector<double>& genotypeSelfing,
                                         double tolerance, int maxGenerations);

} // namespace plain
