// One generation as a map on the larvae: its value is that of the generation loops, its
// Jacobian that of central differences (its band LU in test_band_lu.cpp), and the
// guarded Newton search accepts stable fixed points only.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "population/band_lu.h"
#include "population/fixed_point.h"
#include "population/row_generation.h"
#include "population/row_hook.h"
#include "random_inputs.h"

namespace {

using inputs::Rng;

// The larvae of `row`, deme-major.
std::vector<double> stateOf(const std::vector<Genotype>& row) {
    std::vector<double> x;
    for (const Genotype& g : row) {
        x.insert(x.end(), {g.SS, g.SI, g.II});
    }
    return x;
}

// Random dynamics of every form for a row of `n` demes (kernel: a grid wide enough for it).
RowDynamics dynamicsOf(RowForm form, Rng& rng, int& n) {
    RowDynamics d;
    d.form = form;
    if (form == RowForm::kernel) {
        const inputs::Kernel k = inputs::kernel(rng);
        d.kernelWeights = k.weights;
        d.kernelOffsets = k.offsets;
        d.kernelStep = k.step;
        n = k.offsets.back() + inputs::uniformInt(rng, 1, 20);
        d.border1 = inputs::uniformInt(rng, 0, n);
        d.border2 = inputs::uniformInt(rng, d.border1, n + 1);
        for (int r = 0; r < 3; ++r) {
            d.fitness.push_back(
                {inputs::uniform(rng, 0.8, 1.2), 1.0, inputs::uniform(rng, 0.8, 1.2)});
        }
        d.selfing = inputs::uniform(rng, 0, 1);
        return d;
    }
    d.migrationRates = inputs::rates(rng, n);
    for (int i = 0; i < n; ++i) {
        d.fitness.push_back({inputs::uniform(rng, 0.8, 1.2), 1.0, inputs::uniform(rng, 0.8, 1.2)});
        d.selfingRates.push_back(inputs::uniform(rng, 0, 1));
    }
    d.selfing = inputs::uniform(rng, 0, 1);
    if (form == RowForm::rateByGenotype) {
        d.selfingRates = {inputs::uniform(rng, 0, 0.9), inputs::uniform(rng, 0, 0.9),
                          inputs::uniform(rng, 0, 0.9)};
    }
    return d;
}

const RowForm forms[] = {RowForm::oneRate, RowForm::ratePerDeme, RowForm::rateByGenotype,
                         RowForm::kernel};

} // namespace

TEST(RowGeneration, OneStepIsAGenerationOfTheLoops) {
    Rng rng(5);
    for (RowForm form : forms) {
        for (int trial = 0; trial < 5; ++trial) {
            int n = inputs::uniformInt(rng, 2, 30);
            const RowDynamics d = dynamicsOf(form, rng, n);
            RowState state;
            for (int i = 0; i < n; ++i) {
                state.larvae.push_back(inputs::frequencies(rng));
            }
            const std::vector<double> x = stateOf(state.larvae);
            ASSERT_TRUE(continueRow(d, state, 0.0, 1));
            const RowGeneration g(d, static_cast<std::size_t>(n));
            std::vector<double> next(x.size()), adults(x.size());
            g.apply(x.data(), next.data(), adults.data());
            const std::vector<double> loopNext = stateOf(state.larvae);
            const std::vector<double> loopAdults = stateOf(state.adults);
            for (std::size_t k = 0; k < x.size(); ++k) {
                EXPECT_NEAR(next[k], loopNext[k], 1e-14) << static_cast<int>(form) << " " << k;
                EXPECT_NEAR(adults[k], loopAdults[k], 1e-14) << static_cast<int>(form) << " " << k;
            }
        }
    }
}

TEST(RowGeneration, TheJacobianIsThatOfCentralDifferences) {
    Rng rng(7);
    for (RowForm form : forms) {
        for (int trial = 0; trial < 4; ++trial) {
            int n = inputs::uniformInt(rng, 2, 12);
            const RowDynamics d = dynamicsOf(form, rng, n);
            std::vector<Genotype> larvae;
            for (int i = 0; i < n; ++i) {
                larvae.push_back(inputs::frequencies(rng));
            }
            const std::vector<double> x = stateOf(larvae);
            const RowGeneration g(d, static_cast<std::size_t>(n));
            const int size = g.size();
            const int band = g.bandwidth();
            BandMatrix J(size, band, band);
            g.jacobian(x.data(), 0.0, J);
            const double h = 1e-6;
            std::vector<double> up(x.size()), down(x.size()), plus = x, minus = x;
            for (int c = 0; c < size; ++c) {
                plus[c] = x[c] + h;
                minus[c] = x[c] - h;
                g.apply(plus.data(), up.data());
                g.apply(minus.data(), down.data());
                plus[c] = minus[c] = x[c];
                for (int r = 0; r < size; ++r) {
                    const double numeric = (up[r] - down[r]) / (2 * h);
                    if (std::abs(r - c) > band) {
                        EXPECT_NEAR(numeric, 0.0, 1e-9) << "outside the band: " << r << " " << c;
                    } else {
                        EXPECT_NEAR(J.at(r, c), numeric, 1e-7)
                            << "form " << static_cast<int>(form) << " entry " << r << " " << c;
                    }
                }
            }
        }
    }
}

namespace {

// A row of `n` demes at Hardy-Weinberg frequencies for allele frequency 1/2, every deme with
// fitnesses (w, 1, w) and no selfing: a fixed point of every generation, since selection,
// mating and dispersal all keep the symmetric state.
RowDynamics symmetricRow(int n, double w) {
    RowDynamics d;
    d.form = RowForm::oneRate;
    d.migrationRates.assign(static_cast<std::size_t>(n - 1), 0.2);
    d.fitness.assign(static_cast<std::size_t>(n), Genotype{w, 1.0, w});
    d.selfing = 0.0;
    return d;
}

std::vector<double> halfAndHalf(int n) {
    std::vector<double> x;
    for (int i = 0; i < n; ++i) {
        x.insert(x.end(), {0.25, 0.5, 0.25});
    }
    return x;
}

} // namespace

TEST(StableFixedPoint, AcceptsAStableStateAndRefusesAnUnstableOne) {
    const int n = 5;
    std::vector<double> adults;
    // Heterozygotes fitter: the mixed state is stable.
    const RowGeneration overdominant(symmetricRow(n, 0.9), n);
    std::vector<double> x = halfAndHalf(n);
    EXPECT_EQ(stableFixedPoint(overdominant, x, 1e-9, adults), FixedPointVerdict::accepted);
    ASSERT_EQ(adults.size(), x.size());
    // Adults are the selected virgins, dispersed among equal demes: SI is 0.5 / (0.45 + 0.5).
    EXPECT_DOUBLE_EQ(adults[1], 0.5 / 0.95);
    double largest = 0.0;
    ASSERT_TRUE(eigenvaluesNearOne(overdominant, x, largest));
    EXPECT_LT(largest, 1.0);

    // Heterozygotes less fit: the same state is a fixed point that every perturbation leaves
    // (the allele frequency grows by a factor above 1 a generation), so it is refused.
    const RowGeneration underdominant(symmetricRow(n, 1.1), n);
    x = halfAndHalf(n);
    adults.clear();
    EXPECT_EQ(stableFixedPoint(underdominant, x, 1.0, adults), FixedPointVerdict::unstable);
    EXPECT_TRUE(adults.empty());
    EXPECT_EQ(x, halfAndHalf(n));
    ASSERT_TRUE(eigenvaluesNearOne(underdominant, x, largest));
    EXPECT_GT(largest, 1.0);
}

TEST(StableFixedPoint, RefusesAFixedPointBeyondItsReach) {
    const int n = 4;
    const RowGeneration overdominant(symmetricRow(n, 0.9), n);
    // Start off the fixed point by 0.05 in allele frequency at every deme.
    std::vector<double> x;
    for (int i = 0; i < n; ++i) {
        const double p = 0.55;
        x.insert(x.end(), {p * p, 2 * p * (1 - p), (1 - p) * (1 - p)});
    }
    const std::vector<double> start = x;
    std::vector<double> adults;
    EXPECT_EQ(stableFixedPoint(overdominant, x, 0.01, adults), FixedPointVerdict::tooFar);
    EXPECT_EQ(x, start);
    EXPECT_EQ(stableFixedPoint(overdominant, x, 1.0, adults), FixedPointVerdict::accepted);
    EXPECT_NEAR(x[0], 0.25, 1e-12);
    EXPECT_NEAR(x[1], 0.5, 1e-12);
}

// The same two rows as seen from a stop: the overdominant mixed state is no saddle; the
// underdominant one is, left along the direction whose eigenvalue lies above 1; a row of pure SS
// under underdominance rests, whatever an absent allele would do.
TEST(SaddleNearOne, TellsASaddleFromARest) {
    const int n = 5;
    double largest = 0.0;
    const RowGeneration overdominant(symmetricRow(n, 0.9), n);
    EXPECT_FALSE(saddleNearOne(overdominant, halfAndHalf(n), largest));
    const RowGeneration underdominant(symmetricRow(n, 1.1), n);
    ASSERT_TRUE(saddleNearOne(underdominant, halfAndHalf(n), largest));
    double nearOne = 0.0;
    ASSERT_TRUE(eigenvaluesNearOne(underdominant, halfAndHalf(n), nearOne));
    EXPECT_EQ(largest, nearOne);
    EXPECT_GT(largest, 1.0);
    std::vector<double> pure;
    for (int i = 0; i < n; ++i) {
        pure.insert(pure.end(), {1.0, 0.0, 0.0});
    }
    EXPECT_FALSE(saddleNearOne(underdominant, pure, largest));
}
