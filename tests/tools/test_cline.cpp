// Cline centre and width, heterozygote deficit and the spread of the simulated kernel.
#include "tools/analysis/cline.h"

#include "models/cspace.h"

#include <gtest/gtest.h>

#include "data/builtin_transect.h"

#include <cmath>

namespace {

// Hardy-Weinberg genotype frequencies of allele frequency p, with a deficit F of heterozygotes.
Genotype withDeficit(double p, double F) {
    const double h = 2.0 * p * (1.0 - p) * (1.0 - F);
    return {p - h / 2.0, h, 1.0 - p - h / 2.0};
}

} // namespace

TEST(ClineShape, LogisticClineHasWidthFourOverSlope) {
    // p = 1 / (1 + exp(s (x - c))): steepest slope s/4 at the centre c, so width 4/s.
    for (double s : {0.05, 0.2, 1.0}) {
        std::vector<double> x;
        std::vector<double> p;
        for (int i = 0; i <= 20000; i++) {
            x.push_back(i * 0.05);
            p.push_back(1.0 / (1.0 + std::exp(s * (x.back() - 437.3))));
        }
        const ClineShape shape = clineShape(x, p);
        EXPECT_NEAR(shape.width, 4.0 / s, 4.0 / s * 1e-3) << s;
        EXPECT_NEAR(shape.maxSlope, s / 4.0, s / 4.0 * 1e-3) << s;
        EXPECT_NEAR(shape.centre, 437.3, 1e-3) << s;
    }
}

TEST(ClineShape, HandCheckedStepsInAnyOrder) {
    // Sorted: (0, 1) (10, 0.9) (20, 0.3) (40, 0.1): steepest 0.6 over 10, width 16.667; p
    // crosses 1/2 two thirds of the way from 10 to 20.
    const ClineShape shape = clineShape({20, 0, 40, 10}, {0.3, 1.0, 0.1, 0.9});
    EXPECT_NEAR(shape.maxSlope, 0.06, 1e-15);
    EXPECT_NEAR(shape.width, 1.0 / 0.06, 1e-12);
    EXPECT_NEAR(shape.centre, 10.0 + 10.0 * 0.4 / 0.6, 1e-12);
    // Sites sharing a position are averaged into one point, never a zero-length stretch.
    const ClineShape shared = clineShape({0, 10, 10, 20}, {1.0, 0.6, 0.4, 0.0});
    EXPECT_NEAR(shared.width, 20.0, 1e-12);
    EXPECT_NEAR(shared.centre, 10.0, 1e-12);
}

TEST(ClineShape, SeveralCrossingsFlatAndTooFewPoints) {
    // Crosses 1/2 between 0 and 1 (gentle) and between 3 and 4 (steep): the steep one counts.
    const ClineShape shape = clineShape({0, 1, 2, 3, 4}, {0.45, 0.55, 0.6, 0.9, 0.1});
    EXPECT_NEAR(shape.centre, 3.5, 1e-12);
    EXPECT_NEAR(shape.width, 1.0 / 0.8, 1e-12);
    // A point exactly at 1/2 is the centre, counted once.
    EXPECT_NEAR(clineShape({0, 1, 2}, {1.0, 0.5, 0.0}).centre, 1.0, 1e-15);
    const ClineShape flat = clineShape({0, 1, 2}, {0.7, 0.7, 0.7});
    EXPECT_TRUE(std::isnan(flat.centre));
    EXPECT_TRUE(std::isinf(flat.width));
    EXPECT_TRUE(std::isnan(clineShape({5}, {0.2}).centre));
    EXPECT_TRUE(std::isinf(clineShape({5, 5}, {0.2, 0.9}).width));
}

TEST(HeterozygoteDeficit, RatioOfSampleWeightedSums) {
    EXPECT_NEAR(heterozygoteDeficit({withDeficit(0.3, 0.0), withDeficit(0.8, 0.0)}, {5, 9}), 0.0,
                1e-15);
    // Equilibrium of selfing rate s: F = s / (2 - s); s = 0.5 gives 1/3 at every site.
    EXPECT_NEAR(
        heterozygoteDeficit({withDeficit(0.3, 1.0 / 3), withDeficit(0.6, 1.0 / 3)}, {1, 40}),
        1.0 / 3, 1e-15);
    // Hexp 0.5 and 0.18 with Hobs 0 and 0.18: 1 - (2 x 0 + 1 x 0.18) / (2 x 0.5 + 1 x 0.18).
    EXPECT_NEAR(heterozygoteDeficit({withDeficit(0.5, 1.0), withDeficit(0.1, 0.0)}, {2, 1}),
                1.0 - 0.18 / 1.18, 1e-15);
    // No polymorphism (or no sample): no deficit can be measured.
    EXPECT_TRUE(std::isnan(heterozygoteDeficit({{1, 0, 0}, {0, 0, 1}}, {3, 3})));
    EXPECT_TRUE(std::isnan(heterozygoteDeficit({}, {})));
}

TEST(KernelSpread, SimpsonWeightedDensityOfTheSimulatedKernel) {
    // Three points -1, 0, 1 of equal density: Simpson weights 1, 4, 1, variance 2/6.
    EXPECT_NEAR(kernelStandardDeviation({-1, 0, 1}, {1, 1, 1}), std::sqrt(1.0 / 3), 1e-15);
    // A lopsided kernel has its mean taken out: points 0 and 2 alone.
    EXPECT_NEAR(kernelStandardDeviation({0, 1, 2}, {1, 0, 1}), 1.0, 1e-15);
    // C_1 at sigma = 10 on the transect's grid (spacing 4.26644): seven points 3 demes apart
    // reach 38.4; the discrete kernel's s.d. is 0.897 sigma.
    const Kernel kernel = buildKernel(10.0, gridSpacing(builtInTransectValue(), 200), 3);
    const double sd = kernelStandardDeviation(kernel.points, kernel.weights);
    EXPECT_NEAR(sd / 10.0, 0.897, 0.897e-3);
    // Finer points come close to sigma itself: C_3's 11 points at sigma = 50 on 401 demes.
    const Kernel fine = buildKernel(50.0, gridSpacing(builtInTransectValue(), 400), 5);
    EXPECT_NEAR(kernelStandardDeviation(fine.points, fine.weights) / 50.0, 1.0, 0.02);
}
