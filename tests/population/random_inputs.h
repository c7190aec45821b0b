// Random rows and parameters for the simulate forms, and the plain steps run one generation at
// a time with the convergence measure of every generation, for the tests that compare the
// fast loops with the plain versions.
#pragma once

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "population/population.h"
#include "reference/plain_population.h"

namespace inputs {

using Rng = std::mt19937_64;

inline double uniform(Rng& rng, double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
}

inline int uniformInt(Rng& rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

// A frequency triple summing to 1.
inline Genotype frequencies(Rng& rng) {
    const Genotype g{uniform(rng, 0, 1), uniform(rng, 0, 1), uniform(rng, 0, 1)};
    const double sum = g.SS + g.SI + g.II;
    return {g.SS / sum, g.SI / sum, g.II / sum};
}

// Weak selection (slow convergence) with the heterozygote as reference; now and then a lethal
// deme (all fitnesses 0), whose frequencies become non-numbers.
inline Genotype fitness(Rng& rng) {
    if (uniformInt(rng, 0, 9) == 0) {
        return {0.0, 0.0, 0.0};
    }
    return {uniform(rng, 0.8, 1.2), 1.0, uniform(rng, 0.8, 1.2)};
}

inline std::vector<Population> row(Rng& rng, int n) {
    std::vector<Population> demes;
    for (int i = 0; i < n; ++i) {
        demes.emplace_back(frequencies(rng));
    }
    return demes;
}

inline std::vector<double> rates(Rng& rng, int n) {
    std::vector<double> m;
    for (int i = 0; i + 1 < n; ++i) {
        m.push_back(uniform(rng, 0, 0.45));
    }
    return m;
}

// A kernel of 2 * half + 1 points spaced `spacing` demes apart, with normal weights.
struct Kernel {
    std::vector<double> weights;
    std::vector<int> offsets;
    double step = 1.0;
};

inline Kernel kernel(Rng& rng) {
    Kernel k;
    const int half = uniformInt(rng, 1, 5);
    const int spacing = uniformInt(rng, 1, 3);
    const double sigma = uniform(rng, 0.5, 8);
    k.step = uniform(rng, 0.5, 5);
    for (int j = -half; j <= half; ++j) {
        k.offsets.push_back(j * spacing);
        const double x = j * spacing * k.step;
        k.weights.push_back(std::exp(-x * x / (2 * sigma * sigma)));
    }
    return k;
}

// The convergence measure of every generation of a plain run, and the generations run. Each
// generation: selection and mating of every deme with `mate(deme, i)`, a snapshot, dispersal
// with `disperse(row)`, then the largest larva change against the snapshot; the run stops when
// that is below `tolerance` or at the cap.
template <class Mate, class Disperse>
std::vector<double> plainChanges(std::vector<Population> demes,
                                 const std::vector<Genotype>& fitnessOfDeme, double tolerance,
                                 int cap, Mate mate, Disperse disperse) {
    std::vector<double> changes;
    for (int g = 0; g < cap; ++g) {
        for (std::size_t i = 0; i < demes.size(); ++i) {
            plain::goVirgins(demes[i], fitnessOfDeme[i]);
            mate(demes[i], i);
        }
        const std::vector<Population> before = demes;
        disperse(demes);
        changes.push_back(plain::largestChange(demes, before));
        if (!(changes.back() >= tolerance)) {
            break;
        }
    }
    return changes;
}

// The last `count` values of `all`, oldest first.
inline std::vector<double> lastOf(const std::vector<double>& all, std::size_t count) {
    const std::size_t from = all.size() > count ? all.size() - count : 0;
    return std::vector<double>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
}

} // namespace inputs
