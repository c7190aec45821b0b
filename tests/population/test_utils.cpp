#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "population/utils.h"

namespace {

void expectTriple(const Genotype& g, double ss, double si, double ii) {
    EXPECT_DOUBLE_EQ(g.SS, ss);
    EXPECT_DOUBLE_EQ(g.SI, si);
    EXPECT_DOUBLE_EQ(g.II, ii);
}

} // namespace

TEST(Deterministic, EqualFitnessesGiveHalf) {
    expectTriple(deterministic(1, 1), 0.25, 0.5, 0.25);
    // Both homozygotes equally unfit: heterozygote advantage balances at p = 1/2.
    expectTriple(deterministic(0.5, 0.5), 0.25, 0.5, 0.25);
}

TEST(Deterministic, OppositeSignsFixTheFitterHomozygote) {
    expectTriple(deterministic(2, 0.5), 1, 0, 0);
    expectTriple(deterministic(0.5, 2), 0, 0, 1);
    // One homozygote as fit as the heterozygote: the other side decides.
    expectTriple(deterministic(1, 0.5), 1, 0, 0);
    expectTriple(deterministic(1, 3), 0, 0, 1);
}

TEST(Deterministic, HeterozygoteAdvantageGivesInternalEquilibrium) {
    // x = -0.5, y = -0.2: p = 1 - 5/7 = 2/7.
    expectTriple(deterministic(0.5, 0.8), 4.0 / 49, 20.0 / 49, 25.0 / 49);
    // x = -0.2, y = -0.5: p = 2/7 without the complement.
    expectTriple(deterministic(0.8, 0.5), 4.0 / 49, 20.0 / 49, 25.0 / 49);
    // Lethal homozygotes: p = 1/2.
    expectTriple(deterministic(0, 0), 0.25, 0.5, 0.25);
}

TEST(Deterministic, HeterozygoteDisadvantageUsesTheSameRule) {
    // x = 1, y = 2: p = 1 - 1/3 = 2/3; swapped, p = 2/3 as well.
    expectTriple(deterministic(2, 3), 4.0 / 9, 4.0 / 9, 1.0 / 9);
    expectTriple(deterministic(3, 2), 4.0 / 9, 4.0 / 9, 1.0 / 9);
}

TEST(Deterministic, NotANumberFallsToAlleleI) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    expectTriple(deterministic(nan, 2), 0, 0, 1);
    expectTriple(deterministic(2, nan), 0, 0, 1);
    expectTriple(deterministic(nan, nan), 0, 0, 1);
    // r = inf / inf is not a number inside the same-sign branch.
    expectTriple(deterministic(inf, inf), 0, 0, 1);
}

TEST(Interpolate, LinearBetweenTwoDemes) {
    EXPECT_DOUBLE_EQ(interpolate(0, 10, 5, 20), 2.5);
    EXPECT_DOUBLE_EQ(interpolate(0.2, 0.6, 0, 4), 0.2);
    EXPECT_DOUBLE_EQ(interpolate(0.2, 0.6, 4, 4), 0.6);
    EXPECT_DOUBLE_EQ(interpolate(1, 0, 1, 4), 0.75);
}

TEST(Interpolate, EvaluatedAsDifferenceOverLengthTimesX) {
    // The site predictions of the kernel models depend on this order bit for bit.
    const double a = 0.1, b = 0.7, x = 2.14212, length = 4.26644;
    EXPECT_EQ(interpolate(a, b, x, length), a + ((b - a) / length) * x);
}
