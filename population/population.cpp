#include "population/population.h"

#include <cmath>
#include <cstddef>
#include <iostream>

#include "population/diagnostics.h"
#include "population/simulation_report.h"

std::ostream& operator<<(std::ostream& os, const Genotype& g) {
    os << "SS: " << g.SS << ", SI: " << g.SI << ", II: " << g.II;
    return os;
}

Population::Population(const Genotype& start)
    : virgins{0.0, 0.0, 0.0}, zygotes{0.0, 0.0, 0.0}, adults{0.0, 0.0, 0.0}, larvae(start) {}

void Population::goVirgins(const Genotype& fitness) {
    const double a = fitness.SS * larvae.SS;
    const double b = fitness.SI * larvae.SI;
    const double c = fitness.II * larvae.II;
    // Mean fitness of the deme; zero (every present genotype lethal) gives non-numbers.
    const double meanFitness = a + b + c;
    virgins.SS = a / meanFitness;
    virgins.SI = b / meanFitness;
    virgins.II = c / meanFitness;
}

void Population::goZygotes(const double& selfing) {
    const double F = selfing;
    const Genotype& V = virgins;
    const double p = V.SS + 0.5 * V.SI; // allele S
    const double q = 0.5 * V.SI + V.II; // allele I
    // Selfed SI parents give SS, SI, II in proportions 1/4, 1/2, 1/4; the rest mate at random.
    zygotes.SS = (V.SS + 0.25 * V.SI) * F + p * p * (1 - F);
    zygotes.SI = F * V.SI * 0.5 + 2 * (1 - F) * p * q;
    zygotes.II = (0.25 * V.SI + V.II) * F + q * q * (1 - F);
}

void Population::goZygotes(const std::vector<double>& selfingByGenotype) {
    const double s0 = selfingByGenotype[0];
    const double s1 = selfingByGenotype[1];
    const double s2 = selfingByGenotype[2];
    const Genotype& V = virgins;
    // Share of the deme that outcrosses, and the allele frequencies of that outcrossing pool.
    const double T = (1 - s0) * V.SS + (1 - s1) * V.SI + (1 - s2) * V.II;
    const double p = (1 - s0) * V.SS / T + 0.5 * (1 - s1) * V.SI / T;
    const double q = 0.5 * (1 - s1) * V.SI / T + (1 - s2) * V.II / T;
    zygotes.SS = p * p * T + (s0 * V.SS + 0.25 * s1 * V.SI);
    zygotes.SI = 2 * p * q * T + 0.5 * s1 * V.SI;
    zygotes.II = q * q * T + (0.25 * s1 * V.SI + s2 * V.II);
    const double sum = zygotes.SI + zygotes.SS + zygotes.II;
    if (std::fabs(1 - sum) > 1e-7) {
        diagnostics() << "zygotes off =" << sum << '\n';
    }
}

namespace {

// Raises `change` to |now - before| when that is larger; a non-number never raises it.
inline void track(double& change, double now, double before) {
    const double d = std::fabs(now - before);
    if (d > change) {
        change = d;
    }
}

// Stores the dispersed stages of one deme and folds its larva change into `change`.
inline void settle(Population& deme, const Genotype& adults, const Genotype& larvae,
                   double& change) {
    deme.adults = adults;
    track(change, larvae.SS, deme.larvae.SS);
    track(change, larvae.SI, deme.larvae.SI);
    track(change, larvae.II, deme.larvae.II);
    deme.larvae = larvae;
}

// End deme: keeps 1 - m of its own stage and receives m of its only neighbour's.
inline Genotype endMix(double m, const Genotype& own, const Genotype& neighbour) {
    const double keep = 1 - m;
    return {keep * own.SS + m * neighbour.SS, keep * own.SI + m * neighbour.SI,
            keep * own.II + m * neighbour.II};
}

// Interior deme: mLeft is exchanged with the deme before it, mRight with the deme after it.
inline Genotype innerMix(double mLeft, double mRight, const Genotype& before, const Genotype& own,
                         const Genotype& after) {
    const double keep = 1 - mLeft - mRight;
    return {keep * own.SS + mRight * after.SS + mLeft * before.SS,
            keep * own.SI + mRight * after.SI + mLeft * before.SI,
            keep * own.II + mRight * after.II + mLeft * before.II};
}

// Demes visited by the kernel of every focal deme, and the Simpson weights of the points, for
// one row size. Built once per kernel simulation and reused in every generation.
struct KernelPlan {
    std::vector<double> simpson;
    std::vector<int> demeIndex; // points of focal deme i at [i * points, (i + 1) * points)
    std::size_t points = 0;
    bool inRow = true; // every point lands in the row after the single reflection
};

KernelPlan makeKernelPlan(std::size_t demes, const std::vector<double>& kernelWeights,
                          std::vector<int>& kernelOffsets) {
    KernelPlan plan;
    plan.simpson = getSimpson(static_cast<int>(kernelWeights.size()));
    plan.points = kernelOffsets.size();
    plan.demeIndex.reserve(demes * plan.points);
    const int last = static_cast<int>(demes) - 1;
    for (std::size_t i = 0; i < demes; ++i) {
        for (std::size_t k = 0; k < plan.points; ++k) {
            const int j = itr(kernelOffsets[k] + static_cast<int>(i), last);
            if (j < 0 || j > last) {
                plan.inRow = false;
            }
            plan.demeIndex.push_back(j);
        }
    }
    return plan;
}

// Kernel dispersal of the whole row from a plan whose points all lie in the row. Each mixture
// is the one of migKernel: terms (stage value * step * weight * Simpson weight) summed in point
// order, normalised by SS sum + SI sum + II sum.
bool kernelDispersal(std::vector<Population>& row, const std::vector<double>& kernelWeights,
                     const KernelPlan& plan, double kernelStep, double tolerance) {
    const std::size_t points = plan.points;
    const double* w = kernelWeights.data();
    const double* s = plan.simpson.data();
    Population* demes = row.data();
    double change = 0.0;
    for (std::size_t i = 0; i < row.size(); ++i) {
        const int* index = plan.demeIndex.data() + i * points;
        double vSS = 0.0, vSI = 0.0, vII = 0.0;
        double zSS = 0.0, zSI = 0.0, zII = 0.0;
        for (std::size_t k = 0; k < points; ++k) {
            const Population& source = demes[index[k]];
            const double wk = w[k];
            const double sk = s[k];
            vSS += source.virgins.SS * kernelStep * wk * sk;
            vSI += source.virgins.SI * kernelStep * wk * sk;
            vII += source.virgins.II * kernelStep * wk * sk;
            zSS += source.zygotes.SS * kernelStep * wk * sk;
            zSI += source.zygotes.SI * kernelStep * wk * sk;
            zII += source.zygotes.II * kernelStep * wk * sk;
        }
        const double vTotal = vSS + vSI + vII;
        const double zTotal = zSS + zSI + zII;
        settle(demes[i], Genotype{vSS / vTotal, vSI / vTotal, vII / vTotal},
               Genotype{zSS / zTotal, zSI / zTotal, zII / zTotal}, change);
    }
    return change >= tolerance;
}

// Report of a run stopped by the generation cap: SI and II of the first three fitness triples.
void reportCap(const std::vector<Genotype>& fitness) {
    diagnostics() << "max number of generations exceeded\n";
    const std::size_t shown = fitness.size() < 3 ? fitness.size() : 3;
    for (std::size_t r = 0; r < shown; ++r) {
        if (r > 0) {
            diagnostics() << ' ';
        }
        diagnostics() << fitness[r].SI << ' ' << fitness[r].II;
    }
    diagnostics() << '\n';
}

// Adults of every deme; the first SS is set to 2.0 when the run stopped at the cap.
std::vector<Genotype> adultsOf(const std::vector<Population>& row, bool atCap) {
    std::vector<Genotype> adults;
    adults.reserve(row.size());
    for (const Population& deme : row) {
        adults.push_back(deme.adults);
    }
    if (atCap && !adults.empty()) {
        adults[0].SS = 2.0;
    }
    return adults;
}

// Start state of a run refused for a cap below 1: the larvae, marked as not at equilibrium.
std::vector<Genotype> unsimulated(const std::vector<Population>& row) {
    std::vector<Genotype> larvae;
    larvae.reserve(row.size());
    for (const Population& deme : row) {
        larvae.push_back(deme.larvae);
    }
    if (!larvae.empty()) {
        larvae[0].SS = 2.0;
    }
    return larvae;
}

// Generation loop of the stepping-stone forms; `mate(deme, i)` is the mating step of deme i.
template <typename Mating>
std::vector<Genotype> steppingStone(std::vector<Population>& row,
                                    const std::vector<double>& migrationRates,
                                    const std::vector<Genotype>& demeFitness, double tolerance,
                                    int maxGenerations, Mating mate) {
    if (maxGenerations < 1) {
        recordSimulation(0, false);
        return unsimulated(row);
    }
    int g = 0;
    bool changing = true;
    while (changing && g < maxGenerations) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i].goVirgins(demeFitness[i]);
            mate(row[i], i);
        }
        changing = migration(row, migrationRates, tolerance);
        ++g;
        if (g == maxGenerations) {
            reportCap(demeFitness);
            break;
        }
    }
    recordSimulation(g, g < maxGenerations);
    return adultsOf(row, g == maxGenerations);
}

} // namespace

bool migration(std::vector<Population>& row, const std::vector<double>& migrationRates,
               double tolerance) {
    const std::size_t n = row.size();
    double change = 0.0;
    if (n == 1) {
        // A lone deme has no neighbour to exchange with.
        settle(row[0], row[0].virgins, row[0].zygotes, change);
        return change >= tolerance;
    }
    if (n == 0) {
        return change >= tolerance;
    }
    Population* d = row.data();
    const double* m = migrationRates.data();
    settle(d[0], endMix(m[0], d[0].virgins, d[1].virgins), endMix(m[0], d[0].zygotes, d[1].zygotes),
           change);
    for (std::size_t i = 1; i + 1 < n; ++i) {
        settle(d[i], innerMix(m[i - 1], m[i], d[i - 1].virgins, d[i].virgins, d[i + 1].virgins),
               innerMix(m[i - 1], m[i], d[i - 1].zygotes, d[i].zygotes, d[i + 1].zygotes), change);
    }
    settle(d[n - 1], endMix(m[n - 2], d[n - 1].virgins, d[n - 2].virgins),
           endMix(m[n - 2], d[n - 1].zygotes, d[n - 2].zygotes), change);
    return change >= tolerance;
}

bool migration(std::vector<Population>& row, const std::vector<double>& kernelWeights,
               std::vector<int>& kernelOffsets, double kernelStep, double tolerance) {
    const int last = static_cast<int>(row.size()) - 1;
    double change = 0.0;
    // Sources (virgins, zygotes) and targets (adults, larvae) are disjoint, so every deme can be
    // updated in place from the same row.
    for (int i = 0; i <= last; ++i) {
        const std::vector<int> indices = createIndx(i, kernelOffsets, last);
        const Genotype adults = migKernel(row, kernelWeights, kernelStep, indices, false);
        const Genotype larvae = migKernel(row, kernelWeights, kernelStep, indices, true);
        settle(row[i], adults, larvae, change);
    }
    return change >= tolerance;
}

Genotype migKernel(std::vector<Population>& row, const std::vector<double>& kernelWeights,
                   double kernelStep, std::vector<int> indices, bool useZygotes) {
    const std::vector<double> simpson = getSimpson(static_cast<int>(kernelWeights.size()));
    double sumSS = 0.0;
    double sumSI = 0.0;
    double sumII = 0.0;
    for (std::size_t k = 0; k < indices.size(); ++k) {
        // Checked access: an integration point outside the row is refused, not read.
        const Population& source = row.at(static_cast<std::size_t>(indices[k]));
        const Genotype& g = useZygotes ? source.zygotes : source.virgins;
        sumSS += g.SS * kernelStep * kernelWeights[k] * simpson[k];
        sumSI += g.SI * kernelStep * kernelWeights[k] * simpson[k];
        sumII += g.II * kernelStep * kernelWeights[k] * simpson[k];
    }
    const double total = sumSS + sumSI + sumII;
    return {sumSS / total, sumSI / total, sumII / total};
}

std::vector<int> createIndx(int focal, std::vector<int>& kernelOffsets, int last) {
    std::vector<int> indices(kernelOffsets.size());
    for (std::size_t k = 0; k < kernelOffsets.size(); ++k) {
        indices[k] = itr(kernelOffsets[k] + focal, last);
    }
    return indices;
}

int itr(int i, int last) {
    if (i < 0) {
        return -i;
    }
    if (i > last) {
        return 2 * last - i;
    }
    return i;
}

std::vector<double> getSimpson(int n) {
    if (n < 1) {
        return {};
    }
    std::vector<double> weights(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        if (k == 0 || k == n - 1) {
            weights[k] = 1.0 / 3.0;
        } else if (k % 2 == 1) {
            weights[k] = 4.0 / 3.0;
        } else {
            weights[k] = 2.0 / 3.0;
        }
    }
    return weights;
}

int detectRegion(int i, int border1, int border2) {
    if (i >= border2) {
        return 2;
    }
    if (i >= border1) {
        return 1;
    }
    return 0;
}

void simulate(std::vector<Population>& row, const std::vector<double>& kernelWeights,
              std::vector<int>& kernelOffsets, const std::vector<Genotype>& regionFitness,
              const double& selfing, double& tolerance, int& maxGenerations, int& border1,
              int& border2, double kernelStep) {
    const int cap = maxGenerations;
    if (cap < 1) {
        recordSimulation(0, false);
        return;
    }
    const double F = selfing;
    const double tol = tolerance;
    const int first = border1;
    const int second = border2;
    const KernelPlan plan = makeKernelPlan(row.size(), kernelWeights, kernelOffsets);
    int g = 0;
    bool changing = true;
    while (changing && g < cap) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i].goVirgins(regionFitness[detectRegion(static_cast<int>(i), first, second)]);
            row[i].goZygotes(F);
        }
        // A point outside the row goes through the checked path, which refuses it.
        changing = plan.inRow ? kernelDispersal(row, kernelWeights, plan, kernelStep, tol)
                              : migration(row, kernelWeights, kernelOffsets, kernelStep, tol);
        ++g;
        if (g == cap) {
            reportCap(regionFitness);
            break;
        }
    }
    recordSimulation(g, g < cap);
}

std::vector<Genotype> simulate(std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness, const double& selfing,
                               double tolerance, int maxGenerations) {
    const double F = selfing;
    return steppingStone(row, migrationRates, demeFitness, tolerance, maxGenerations,
                         [F](Population& deme, std::size_t) { deme.goZygotes(F); });
}

std::vector<Genotype> simulate(std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness,
                               const std::vector<double>& demeSelfing, double tolerance,
                               int maxGenerations) {
    return steppingStone(
        row, migrationRates, demeFitness, tolerance, maxGenerations,
        [&demeSelfing](Population& deme, std::size_t i) { deme.goZygotes(demeSelfing[i]); });
}

std::vector<Genotype> simulateByGenotype(std::vector<Population> row,
                                         const std::vector<double>& migrationRates,
                                         const std::vector<Genotype>& demeFitness,
                                         const std::vector<double>& genotypeSelfing,
                                         double tolerance, int maxGenerations) {
    return steppingStone(
        row, migrationRates, demeFitness, tolerance, maxGenerations,
        [&genotypeSelfing](Population& deme, std::size_t) { deme.goZygotes(genotypeSelfing); });
}
