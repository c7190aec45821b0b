#include "data/builtin_transect.h"
#include "models/cspace.h"

#include <cmath>
#include <initializer_list>
#include <limits>

#include <gtest/gtest.h>

#include "data/transect.h"

namespace {

using Objective = double (*)(const NRvector<double>&);

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();

// Evaluates f at the listed parameters.
double run(Objective f, std::initializer_list<double> values) {
    NRvector<double> x(static_cast<int>(values.size()));
    int i = 0;
    for (double v : values) {
        x[i++] = v;
    }
    return f(x);
}

// As run, checking that nothing was printed (penalties and normal results are silent).
double quiet(Objective f, std::initializer_list<double> values) {
    testing::internal::CaptureStdout();
    const double value = run(f, values);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    return value;
}

// A grid of 201 demes whose adults are all `g`.
std::vector<Population> gridOf(const Genotype& g) {
    std::vector<Population> demes(201, Population(g));
    for (Population& d : demes) {
        d.adults = g;
    }
    return demes;
}

} // namespace

TEST(CspacePenalty, ConeValuesAndOrder) {
    EXPECT_EQ(quiet(cone, {-2, 1, 0.3, 10, 450}), 3000000.0);
    EXPECT_EQ(quiet(cone, {10001, 1, 0.3, 10, 450}), 10002000000.0);
    EXPECT_EQ(quiet(cone, {1, 1, 1.5, 10, 450}), 2500000.0);
    EXPECT_EQ(quiet(cone, {1, 1, 0.3, 20.5, 450}), 21500000.0); // sigma bound 20 here, not 50
    EXPECT_EQ(quiet(cone, {1, 1, 0.3, 0.4, 450}), 1400000.0);
    EXPECT_EQ(quiet(cone, {1, 1, 0.3, 10, 300}), 1000000.0); // open contact bounds
    EXPECT_EQ(quiet(cone, {1, 1, 0.3, 10, 600}), 1000000.0);
    EXPECT_EQ(quiet(cone, {-1, 1, 0.3, 100, 450}), 2000000.0); // lowest entry decides
    EXPECT_EQ(quiet(cone, {1, 1, -0.5, 100, 100}), 1500000.0);
}

TEST(CspacePenalty, CtwoValuesAndOrder) {
    EXPECT_EQ(quiet(ctwo, {1, 1, 1, 1, 0.3, 10, 200}), 1000000.0);
    EXPECT_EQ(quiet(ctwo, {1, 1, 1, 1, 0.3, 10, 600}), 1000000.0);
    EXPECT_EQ(quiet(ctwo, {1, 1, 1, 1, 0.3, 50.5, 400}), 51500000.0);
    EXPECT_EQ(quiet(ctwo, {1, 1, 1, 1, 0.3, 0.4, 400}), 1400000.0);
    EXPECT_EQ(quiet(ctwo, {1, 1, 1, 1, -0.5, 10, 400}), 1500000.0);
    EXPECT_EQ(quiet(ctwo, {1, 1, 1, 10000.5, 0.3, 10, 400}), 10001500000.0);
    EXPECT_EQ(quiet(ctwo, {1, 1, -3, 1, 0.3, 100, 400}), 4000000.0);
}

TEST(CspacePenalty, CthreeClosedBordersAndSmallerUnit) {
    EXPECT_EQ(quiet(cthree, {1, 1, 1, 1, 1, 1, 0.3, 10, 205.9, 600}), 100000.0);
    EXPECT_EQ(quiet(cthree, {1, 1, 1, 1, 1, 1, 0.3, 10, 340.1, 600}), 100000.0);
    EXPECT_EQ(quiet(cthree, {1, 1, 1, 1, 1, 1, 0.3, 10, 250, 522.9}), 100000.0);
    EXPECT_EQ(quiet(cthree, {1, 1, 1, 1, 1, 1, 0.3, 10, 250, 680.1}), 100000.0);
    EXPECT_EQ(quiet(cthree, {1, 1, 1, 1, 1, 1, 1.5, 10, 250, 600}), 250000.0);
    EXPECT_EQ(quiet(cthree, {1, 1, 1, 1, 1, 1, 0.3, 0.4, 250, 600}), 140000.0);
    EXPECT_EQ(quiet(cthree, {1, 1, 1, 1, 1, 1, 0.3, 60, 250, 600}), 6100000.0);
    EXPECT_EQ(quiet(cthree, {1, 1, 1, 1, 1, -1, 0.3, 60, 0, 0}), 200000.0);
    // Without a selfing entry sigma is x6 and the borders move down by one.
    EXPECT_EQ(quiet(CthreeFnot, {1, 1, 1, 1, 1, 1, 60, 250, 600}), 6100000.0);
    EXPECT_EQ(quiet(CthreeFnot, {1, 1, 1, 1, 1, 1, 10, 205, 600}), 100000.0);
    EXPECT_EQ(quiet(CthreeFnot, {1, 1, 1, 1, 1, 1, 10, 250, 680.1}), 100000.0);
}

TEST(CspacePenalty, NonFiniteValuesAreNeverSimulated) {
    EXPECT_EQ(quiet(cone, {notANumber, 1, 0.3, 10, 450}), 1000000.0);
    EXPECT_EQ(quiet(cone, {1, 1, 0.3, infinity, 450}), infinity);
    EXPECT_EQ(quiet(cone, {1, 1, 0.3, 10, notANumber}), 1000000.0);
    EXPECT_EQ(quiet(cone, {1, 1, 0.3, 10, -infinity}), 1000000.0);
    EXPECT_EQ(quiet(ctwo, {1, 1, 1, 1, notANumber, 100, 400}), 1000000.0); // NaN fails in its turn
    EXPECT_EQ(quiet(cthree, {1, 1, 1, 1, 1, 1, notANumber, 10, 250, 600}), 100000.0);
    EXPECT_EQ(quiet(CthreeFnot, {1, 1, 1, 1, 1, -infinity, 10, 250, 600}), infinity);
    EXPECT_EQ(quiet(CthreeFnot, {1, 1, 1, 1, 1, 1, 10, 250, notANumber}), 100000.0);
}

TEST(CspaceKernel, OffsetsAndPointsSpanThreeSigma) {
    const Kernel k5 = buildKernel(5, 4.26644, 3); // n = 4, m = 6, s = 2
    EXPECT_EQ(k5.offsets, (std::vector<int>{-6, -4, -2, 0, 2, 4, 6}));
    const double points[7] = {-25.59864, -17.06576, -8.53288, 0, 8.53288, 17.06576, 25.59864};
    for (int k = 0; k < 7; k++) {
        EXPECT_NEAR(k5.points[k], points[k], 1e-12);
    }
    EXPECT_NEAR(k5.weights[3], 0.0797884560802865, 1e-15);      // 1 / (5 sqrt(2 pi))
    EXPECT_NEAR(k5.weights[2] / k5.weights[3], 0.233120, 1e-6); // exp(-8.53288^2 / 50)

    EXPECT_EQ(buildKernel(0.5, 4.26644, 3).offsets, (std::vector<int>{-3, -2, -1, 0, 1, 2, 3}));
    // n = 3 is a multiple of K = 3: the reach still grows to m = 6.
    EXPECT_EQ(buildKernel(4, 4.26644, 3).offsets, (std::vector<int>{-6, -4, -2, 0, 2, 4, 6}));
    EXPECT_EQ(buildKernel(20, 4.26644, 3).offsets.front(), -18);
    EXPECT_EQ(buildKernel(50, 4.26644, 3).offsets.front(), -39);

    const Kernel k10 = buildKernel(10, 2.13322, 5); // n = 15, m = 20, s = 4
    EXPECT_EQ(k10.offsets, (std::vector<int>{-20, -16, -12, -8, -4, 0, 4, 8, 12, 16, 20}));
    const Kernel k50 = buildKernel(50, 2.13322, 5); // n = 71, m = 75, s = 15
    EXPECT_EQ(k50.offsets.front(), -75);
    EXPECT_EQ(k50.offsets[1], -60);
    EXPECT_EQ(k50.offsets.size(), 11u);
}

TEST(CspaceGrid, SpacingAndIndices) {
    EXPECT_DOUBLE_EQ(gridSpacing(builtInTransectValue(), 200), 4.26644);
    EXPECT_DOUBLE_EQ(gridSpacing(builtInTransectValue(), 400), 2.13322);
    // The largest position (site 101) lands on the last deme exactly, without clamping.
    EXPECT_EQ(
        static_cast<int>(std::ceil(sitePosition[101] / gridSpacing(builtInTransectValue(), 200))),
        200);
    EXPECT_EQ(
        static_cast<int>(std::ceil(sitePosition[101] / gridSpacing(builtInTransectValue(), 400))),
        400);
    EXPECT_EQ(gridIndex(0.0, gridSpacing(builtInTransectValue(), 200), 200), 0);
    EXPECT_EQ(gridIndex(10.675, gridSpacing(builtInTransectValue(), 200), 200), 3);
    EXPECT_EQ(gridIndex(599.9, gridSpacing(builtInTransectValue(), 200), 200), 141);
    EXPECT_EQ(gridIndex(206, gridSpacing(builtInTransectValue(), 400), 400), 97);
    EXPECT_EQ(gridIndex(680, gridSpacing(builtInTransectValue(), 400), 400), 319);
    // Beyond the last deme the index stays on it.
    EXPECT_EQ(gridIndex(853.3, 4.26644, 200), 200);
    EXPECT_EQ(gridIndex(2000, 4.26644, 200), 200);
}

TEST(CspaceGrid, SitesInterpolateBetweenNeighbouringDemes) {
    std::vector<Population> demes = gridOf({0.25, 0.5, 0.25});
    demes[0].adults = {0.9, 0.1, 0.0};
    demes[1].adults = {0.5, 0.5, 0.0};
    demes[2].adults = {0.2, 0.3, 0.5};
    demes[3].adults = {0.4, 0.3, 0.3};
    const Genotype site0 = readSite(demes, 0.0, 4.26644, 200);
    EXPECT_EQ(site0.SS, 0.9);
    EXPECT_EQ(site0.SI, 0.1);
    EXPECT_EQ(site0.II, 0.0);
    // Site 1 (2.938): j = 1, j0 = 0, 0.688630 of the way to deme 1.
    EXPECT_NEAR(readSite(demes, 2.938, 4.26644, 200).SS, 0.9 - 0.4 * 0.6886303, 1e-7);
    // Site 2 (10.675): j = 3, j0 = 2, x = 2.14212, 0.502086 of the way to deme 3.
    const Genotype site2 = readSite(demes, 10.675, 4.26644, 200);
    EXPECT_NEAR(site2.SS, 0.2 + 0.2 * 0.502086, 1e-7);
    EXPECT_NEAR(site2.SI, 0.3, 1e-15);
    EXPECT_NEAR(site2.II, 0.5 - 0.2 * 0.502086, 1e-7);
}

TEST(CspaceGrid, RescalesOnlySumsAboveOne) {
    const Genotype over = readSite(gridOf({0.6, 0.3, 0.3}), 100.0, 4.26644, 200);
    EXPECT_DOUBLE_EQ(over.SS, 0.5);
    EXPECT_DOUBLE_EQ(over.SI, 0.25);
    EXPECT_DOUBLE_EQ(over.II, 0.25);
    const Genotype under = readSite(gridOf({0.3, 0.3, 0.3}), 100.0, 4.26644, 200);
    EXPECT_EQ(under.SS, 0.3);
    EXPECT_EQ(under.SI, 0.3);
    EXPECT_EQ(under.II, 0.3);
}

TEST(CspaceLikelihood, FloorAndSkipRules) {
    EXPECT_NEAR(addSiteLikelihood(0, {0.5, 0.25, 0.25}, 1, 0, 0, 1e6), 0.693147, 1e-6);
    EXPECT_NEAR(addSiteLikelihood(10, {0.5, 0.25, 0.25}, 0, 2, 0, 1e6), 12.772589, 1e-6);
    EXPECT_EQ(addSiteLikelihood(0, {0, 0.5, 0.5}, 1, 0, 0, 1e6), 1000000.0);
    EXPECT_EQ(addSiteLikelihood(0, {0, 0.5, 0.5}, 3, 0, 0, 1e5), 300000.0);
    // Zero counts are skipped, however bad or undefined the prediction.
    EXPECT_EQ(addSiteLikelihood(0, {0, notANumber, 1}, 0, 0, 5, 1e6), 0.0);
    EXPECT_TRUE(std::isnan(addSiteLikelihood(0, {0, notANumber, 1}, 0, 1, 5, 1e6)));
    EXPECT_EQ(flooredLog(-2e6, 1e6), -1e6);
    EXPECT_EQ(flooredLog(-infinity, 1e5), -1e5);
    EXPECT_EQ(flooredLog(-5, 1e5), -5);
    EXPECT_TRUE(std::isnan(flooredLog(notANumber, 1e5)));
}

// Two regions with the fitnesses (0.5, 1, 0.8) start and stay at p = 2/7, so the adults are
// (1/21, 10/21, 10/21) everywhere: L = 228 ln 21 + 523 ln 2.1.
TEST(CspaceObjective, UniformGridsScoreByHand) {
    const double expected = 1082.1843470944;
    EXPECT_NEAR(run(ctwo, {0.5, 0.8, 0.5, 0.8, 0, 10, 200.5}), expected, 1e-8);
    EXPECT_EQ(run(ctwo, {0.5, 0.8, 0.5, 0.8, 0, 10, 200.5}),
              run(ctwo, {0.5, 0.8, 0.5, 0.8, 0, 10, 599.9}));
    // Neutral Hardy-Weinberg (0.25, 0.5, 0.25): 1373 ln 2, with sigma and borders at their bounds.
    EXPECT_NEAR(run(ctwo, {1, 1, 1, 1, 0, 50, 450}), 951.691079, 1e-6);
    EXPECT_NEAR(run(cthree, {1, 1, 1, 1, 1, 1, 0, 0.5, 206, 523}), 951.691079, 1e-6);
    EXPECT_NEAR(run(CthreeFnot, {1, 1, 1, 1, 1, 1, 50, 340, 680}), 951.691079, 1e-6);
    EXPECT_TRUE(std::isfinite(run(ctwo, {10000, 10000, 10000, 10000, 1, 50, 300})));
}

TEST(CspaceObjective, ConeStartsPureEitherSideOfTheContact) {
    // Next to no dispersal (sigma 0.5) and full selfing keep the start: sites 0-78 lie left of
    // deme 141 and read pure SS, the rest pure II, so each SI and each II left of the contact
    // (129 + 190) costs one penalty unit.
    EXPECT_EQ(quiet(cone, {1.2, 1.2, 1, 0.5, 599.999}), 319000000.0);
    const double value = quiet(cone, {10000, 10000, 0, 20, 300.001});
    EXPECT_TRUE(std::isfinite(value));
    EXPECT_LT(value, 1000000.0);
}

TEST(CspaceObjective, NanLikelihoodWarnsAndReturnsPenaltyUnit) {
    // SS lethal (x0 = 0 is inside the box): the pure SS demes divide by a zero mean fitness.
    testing::internal::CaptureStdout();
    EXPECT_EQ(run(cone, {0, 1, 0.3, 10, 450}), 1000000.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING->likelihood=NaN\n");
}

TEST(CspaceObjective, CthreeWithoutSelfingIsCthreeFnot) {
    const double c3 = run(cthree, {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0, 10, 250, 600});
    const double c3f0 = run(CthreeFnot, {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 10, 250, 600});
    EXPECT_TRUE(std::isfinite(c3));
    EXPECT_EQ(c3, c3f0);
    EXPECT_NE(run(cthree, {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0.3, 10, 250, 600}), c3);
}
