// Dispersal of a whole row between its demes: stepping-stone exchange between neighbours and
// the reflected, Simpson-integrated kernel, with their index and weight helpers.
#include "population/dispersal.h"

#include <cmath>
#include <cstddef>

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

} // namespace

double steppingStoneDispersal(std::vector<Population>& row,
                              const std::vector<double>& migrationRates) {
    const std::size_t n = row.size();
    double change = 0.0;
    if (n == 1) {
        // A lone deme has no neighbour to exchange with.
        settle(row[0], row[0].virgins, row[0].zygotes, change);
        return change;
    }
    if (n == 0) {
        return change;
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
    return change;
}

bool migration(std::vector<Population>& row, const std::vector<double>& migrationRates,
               double tolerance) {
    return steppingStoneDispersal(row, migrationRates) >= tolerance;
}

double kernelDispersal(std::vector<Population>& row, const std::vector<double>& kernelWeights,
                       std::vector<int>& kernelOffsets, double kernelStep) {
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
    return change;
}

bool migration(std::vector<Population>& row, const std::vector<double>& kernelWeights,
               std::vector<int>& kernelOffsets, double kernelStep, double tolerance) {
    return kernelDispersal(row, kernelWeights, kernelOffsets, kernelStep) >= tolerance;
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
