// Genotype and deme records, the per-deme life-cycle steps, dispersal along a row of demes and
// the simulation of a row to equilibrium.
#pragma once

#include <ostream>
#include <vector>

struct SimulationContext;

// One number per genotype of a diploid locus with alleles S and I: genotype frequencies
// (non-negative, summing to 1) or relative fitnesses (non-negative, not normalised).
struct Genotype {
    double SS;
    double SI;
    double II;
};

// Writes "SS: a, SI: b, II: c" with the stream's number format and no line end.
std::ostream& operator<<(std::ostream& os, const Genotype& g);

// One deme: four stages of the life cycle, each a triple of genotype frequencies.
class Population {
  public:
    // Sets the larvae to `start`; the other stages are zero until the first generation.
    explicit Population(const Genotype& start);

    Genotype getVirgins() const { return virgins; }
    Genotype getZygotes() const { return zygotes; }
    Genotype getAdults() const { return adults; }
    Genotype getLarvae() const { return larvae; }

    // Selection: virgins = larvae weighted by `fitness`, divided by the mean fitness.
    void goVirgins(const Genotype& fitness);
    // Mating with selfing rate F in [0, 1] for every genotype: virgins to zygotes.
    void goZygotes(const double& selfing);
    // Mating with selfing rates by genotype (elements 0, 1, 2 for SS, SI, II): virgins to
    // zygotes. Writes "zygotes off =" and the zygote sum to standard output when the sum is
    // off 1 by more than 1e-7.
    void goZygotes(const std::vector<double>& selfingByGenotype);
    // The same, writing that line to `diagnostics`.
    void goZygotes(const std::vector<double>& selfingByGenotype, std::ostream& diagnostics);

    Genotype virgins; // after selection, before mating
    Genotype zygotes; // after mating
    Genotype adults;  // virgins after dispersal; compared with the field samples
    Genotype larvae;  // zygotes after dispersal; input of the next selection
};

// Stepping-stone dispersal: rate m[i] is exchanged between demes i and i + 1 (at least
// row.size() - 1 rates, row.size() >= 2). Writes adults from virgins and larvae from zygotes.
// Returns true while some larva value changed by `tolerance` or more (not converged); a change
// that is not a number is not counted.
bool migration(std::vector<Population>& row, const std::vector<double>& migrationRates,
               double tolerance);

// Kernel dispersal: each deme receives the Simpson-weighted mixture of the demes at
// `kernelOffsets` from it (reflected once at the row's ends). Returns true while not converged.
bool migration(std::vector<Population>& row, const std::vector<double>& kernelWeights,
               std::vector<int>& kernelOffsets, double kernelStep, double tolerance);

// Normalised kernel mixture of the zygotes (useZygotes) or the virgins of the demes `indices`.
// Every index must lie in the row; an index outside it throws std::out_of_range.
Genotype migKernel(std::vector<Population>& row, const std::vector<double>& kernelWeights,
                   double kernelStep, std::vector<int> indices, bool useZygotes);

// Deme indices of the integration points of deme `focal` in a row of demes 0..last.
std::vector<int> createIndx(int focal, std::vector<int>& kernelOffsets, int last);

// Reflects index i once at each end of the row 0..last.
int itr(int i, int last);

// Simpson weights for n points of unit spacing: 1/3, 4/3, 2/3, ..., 4/3 or 2/3, 1/3.
std::vector<double> getSimpson(int n);

// Region of deme i: 2 when i >= border2, else 1 when i >= border1, else 0.
int detectRegion(int i, int border1, int border2);

// Kernel form: runs the row in place until the larvae stop changing by `tolerance` or
// `maxGenerations` generations have run. Deme i takes
// regionFitness[detectRegion(i, border1, border2)] and the common selfing rate. A cap below 1
// runs no generation and leaves the row as it is, without a message.
void simulate(std::vector<Population>& row, const std::vector<double>& kernelWeights,
              std::vector<int>& kernelOffsets, const std::vector<Genotype>& regionFitness,
              const double& selfing, double& tolerance, int& maxGenerations, int& border1,
              int& border2, double kernelStep);
// The same, recording into, writing diagnostics to and hooked by what `context` names.
void simulate(const SimulationContext& context, std::vector<Population>& row,
              const std::vector<double>& kernelWeights, std::vector<int>& kernelOffsets,
              const std::vector<Genotype>& regionFitness, const double& selfing, double& tolerance,
              int& maxGenerations, int& border1, int& border2, double kernelStep);

// Stepping-stone form with one selfing rate: returns the adults of every deme. At the
// generation cap the first returned SS value is replaced by 2.0 (not at equilibrium). A cap
// below 1 runs no generation and returns the larvae with that mark, without a message.
std::vector<Genotype> simulate(std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness, const double& selfing,
                               double tolerance, int maxGenerations);
std::vector<Genotype> simulate(const SimulationContext& context, std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness, const double& selfing,
                               double tolerance, int maxGenerations);

// Stepping-stone form with one selfing rate per deme; otherwise as above.
std::vector<Genotype> simulate(std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness,
                               const std::vector<double>& demeSelfing, double tolerance,
                               int maxGenerations);
std::vector<Genotype> simulate(const SimulationContext& context, std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness,
                               const std::vector<double>& demeSelfing, double tolerance,
                               int maxGenerations);

// Stepping-stone form whose mating step uses selfing rates by genotype (SS, SI, II), the same
// three at every deme; otherwise as above.
std::vector<Genotype> simulateByGenotype(std::vector<Population> row,
                                         const std::vector<double>& migrationRates,
                                         const std::vector<Genotype>& demeFitness,
                                         const std::vector<double>& genotypeSelfing,
                                         double tolerance, int maxGenerations);
std::vector<Genotype> simulateByGenotype(const SimulationContext& context,
                                         std::vector<Population> row,
                                         const std::vector<double>& migrationRates,
                                         const std::vector<Genotype>& demeFitness,
                                         const std::vector<double>& genotypeSelfing,
                                         double tolerance, int maxGenerations);
