#include "models/ss.h"

#include <gtest/gtest.h>

#include "support/work_dir.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <string>
#include <unistd.h>

#include "data/failure_sink.h"
#include "data/transect.h"

namespace {

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

// Each test runs in a fresh directory of its own, where models 3 and 4 find "borders.txt".
class SteppingStone : public InScratchWorkDir {
  protected:
    void SetUp() override {
        InScratchWorkDir::SetUp();
        borders(40, 70);
    }
    static void borders(int border1, int border2) {
        std::ofstream("borders.txt") << border1 << '\n' << border2 << '\n';
    }
};

TEST_F(SteppingStone, SsonePenaltiesInOrderOfTests) {
    EXPECT_EQ(callObjective(ssone, {-2, -3, 0, 10}), 600000);
    EXPECT_EQ(callObjective(ssone, {-2, 5, 0, 10}), 800000);
    EXPECT_EQ(callObjective(ssone, {-1, 20000, 0, 10}), 2000200000); // first test charges both
    EXPECT_EQ(callObjective(ssone, {20000, 1, 0, 10}), 2000100000);
    EXPECT_EQ(callObjective(ssone, {1, 20000, 2, 500}), 2000100000);
    EXPECT_EQ(callObjective(ssone, {1, 1, 1.5, 10}), 250000);
    EXPECT_EQ(callObjective(ssone, {1, 1, -0.5, 150}), 150000);
    EXPECT_EQ(callObjective(ssone, {1, 1, 0, 150}), 15100000);
    EXPECT_EQ(callObjective(ssone, {1, 1, 0, -1}), 200000);
}

TEST_F(SteppingStone, SstwoPenaltiesAndFlatBorderPenalty) {
    EXPECT_EQ(callObjective(sstwo, {-1, -1, 1, 1, 0.3, 15, 40}), 200000);
    EXPECT_EQ(callObjective(sstwo, {1, 1, -5, 1, 0.3, 15, 40}), 600000);
    EXPECT_DOUBLE_EQ(callObjective(sstwo, {1, 1, 1, 1, 1.2, 15, 40}), 220000);
    EXPECT_EQ(callObjective(sstwo, {1, 1, 1, 1, 0.3, 0.4, 40}), 140000);
    EXPECT_EQ(callObjective(sstwo, {1, 1, 1, 1, 0.3, 50.5, 1000}), 5150000);
    EXPECT_EQ(callObjective(sstwo, {1, 1, 1, 1, 0.3, 0, 40}), 100000);
    for (double border : {30.0, 80.0, 1000.0, -1000.0}) {
        EXPECT_EQ(callObjective(sstwo, {1, 1, 1, 1, 0.3, 15, border}), 100000) << border;
    }
}

TEST_F(SteppingStone, ThreeRegionPenalties) {
    EXPECT_DOUBLE_EQ(callObjective(ssthree, {1, 1, 1, 1, 1, 1, 1.2, 10}),
                     220000); // 2.2 x 100000 in doubles
    EXPECT_EQ(callObjective(ssthree, {1, 1, 1, 1, 1, 1, 0.3, -2}), 300000);
    EXPECT_EQ(callObjective(ssthree, {1, 1, -3, 1, 1, 10001, 2, -1}), 400000);
    EXPECT_EQ(callObjective(ss3_F0, {1, 1, 1, 1, 1, 1, -3}), 400000);
    EXPECT_EQ(callObjective(ss3_F0, {1, 1, 1, 1, 1, 10000.5, -3}), 1000150000);
}

TEST_F(SteppingStone, SigmaOfZeroCostsOnePenaltyUnit) {
    EXPECT_EQ(callObjective(ssone, {1, 1, 0.3, 0}), 100000);
    EXPECT_EQ(callObjective(ssone, {1, 1, 0.3, -0.0}), 100000);
    EXPECT_EQ(callObjective(ssthree, {1, 1, 1, 1, 1, 1, 0.3, 0}), 100000);
    EXPECT_EQ(callObjective(ss3_F0, {1, 1, 1, 1, 1, 1, 0}), 100000);
}

TEST_F(SteppingStone, NonFiniteParametersAreNeverSimulated) {
    EXPECT_EQ(callObjective(ssone, {nan, 1, 0.3, 10}), 100000);
    EXPECT_EQ(callObjective(ssone, {-2, nan, 0.3, 10}), 100000);
    EXPECT_EQ(callObjective(ssone, {1, 1, nan, 10}), 100000);
    EXPECT_EQ(callObjective(ssone, {1, 1, 0.3, nan}), 100000);
    EXPECT_EQ(callObjective(ssone, {-inf, 1, 0.3, 10}), inf);
    EXPECT_EQ(callObjective(ssone, {1, 1, 0.3, inf}), inf);
    EXPECT_EQ(callObjective(sstwo, {1, 1, 1, 1, 0.3, 15, nan}), 100000);
    EXPECT_EQ(callObjective(sstwo, {1, 1, 1, inf, 0.3, 15, 40}), inf);
    EXPECT_EQ(callObjective(ssthree, {nan, 1, 1, 1, 1, 1, 5, 10}), 100000);
    EXPECT_EQ(callObjective(ssthree, {1, 1, 1, 1, 1, 1, 0.3, inf}), inf);
    EXPECT_EQ(callObjective(ssthree, {1, 1, 1, 1, 1, 1, 0.3, nan}), 100000);
    EXPECT_EQ(callObjective(ss3_F0, {1, 1, 1, 1, 1, 1, inf}), inf);
}

// A border file that does not read is reported to the caller's failure sink, also for a point
// outside the box; the objective answers one penalty unit and the process goes on.
TEST_F(SteppingStone, BorderFileIsReadBeforeTheBoundsCheck) {
    FailureSink failures;
    ModelContext context;
    context.failures = &failures;
    std::remove("borders.txt");
    EXPECT_EQ(callObjective(ssthree, context, {-1, 1, 1, 1, 1, 1, 0.3, 10}), 100000);
    EXPECT_EQ(failures.message(), "Error in borders.txt: cannot open the file");
    failures.clear();
    std::ofstream("borders.txt") << "40\n";
    EXPECT_EQ(callObjective(ss3_F0, context, {-1, 1, 1, 1, 1, 1, 10}), 100000);
    EXPECT_EQ(failures.message(), "Error in borders.txt: fewer than two lines");
    // Mended, the file reads again at the next call.
    failures.clear();
    borders(40, 70);
    EXPECT_EQ(callObjective(ss3_F0, context, {-1, 1, 1, 1, 1, 1, 10}), 200000);
    EXPECT_FALSE(failures.failed());
}

// With migration rates of exactly 0 (sigma far below the shortest gap of 1.56) and equal
// fitnesses, every deme settles in Hardy-Weinberg proportions of its own start allele
// frequency; unseen genotypes start at 0.001 before renormalisation.
TEST_F(SteppingStone, IsolatedNeutralDemesScoreHardyWeinbergOfTheirStart) {
    double expected = 0.0;
    for (int i = 0; i < siteCount; i++) {
        const double n = countSS[i] + countSI[i] + countII[i];
        double f[3] = {countSS[i] / n, countSI[i] / n, countII[i] / n};
        for (double& v : f) {
            v = v == 0.0 ? 0.001 : v;
        }
        const double p = (f[0] + 0.5 * f[1]) / (f[0] + f[1] + f[2]);
        expected -= countSS[i] * std::log(p * p) + countSI[i] * std::log(2 * p * (1 - p)) +
                    countII[i] * std::log((1 - p) * (1 - p));
    }
    EXPECT_NEAR(callObjective(ssone, {1, 1, 0, 1e-3}), expected, 1e-9);
}

TEST_F(SteppingStone, RealEvaluationIsFiniteAndRepeatable) {
    const double first = callObjective(ssone, {1.05, 0.95, 0.3, 15});
    EXPECT_TRUE(std::isfinite(first));
    EXPECT_LT(first, 100000);
    EXPECT_EQ(callObjective(ssone, {1.05, 0.95, 0.3, 15}), first);
    // No upper bound on sigma: migration rates close to one half still reach equilibrium.
    EXPECT_LT(callObjective(ssthree, {1, 1, 1, 1, 1, 1, 0.3, 1000000}), 100000);
}

TEST_F(SteppingStone, OutcomeMessages) {
    // SS and II lethal: only SI adults, at sites that sampled no SS, 0 * ln 0 is not a number.
    testing::internal::CaptureStdout();
    EXPECT_EQ(callObjective(ssone, {0, 0, 0, 10}), 100000);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "likelihood=NaN\n");
    // Neutral fitnesses never settle across the widest gaps within the generation cap.
    testing::internal::CaptureStdout();
    EXPECT_EQ(callObjective(ssone, {1, 1, 0, 10}), 100000);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.substr(out.size() - 15), "non-eq penalty\n");
}

TEST_F(SteppingStone, SstwoBorderIsTruncatedToADeme) {
    const double at40 = callObjective(sstwo, {2, 0.5, 0.5, 2, 0.3, 15, 40.2});
    EXPECT_EQ(callObjective(sstwo, {2, 0.5, 0.5, 2, 0.3, 15, 40.9}), at40);
    EXPECT_NE(callObjective(sstwo, {2, 0.5, 0.5, 2, 0.3, 15, 41.0}), at40);
    EXPECT_LT(callObjective(sstwo, {2, 0.5, 0.5, 2, 0.3, 15, 30.5}), 100000);
    EXPECT_LT(callObjective(sstwo, {2, 0.5, 0.5, 2, 0.3, 15, 79.99}), 100000);
}

// The sstwo triples (2, 1, 0.5) and (0.5, 1, 2) are (1, 0.5, 0.25) and (1, 2, 4) with SS as
// reference, scaled by powers of two, so both models select identically to the last bit.
TEST_F(SteppingStone, RegionsFollowTheBorderFile) {
    const double split40 = callObjective(sstwo, {2, 0.5, 0.5, 2, 0.3, 15, 40.5});
    const double split60 = callObjective(sstwo, {2, 0.5, 0.5, 2, 0.3, 15, 60.5});
    borders(40, 105); // region 3 empty
    EXPECT_EQ(callObjective(ssthree, {0.5, 0.25, 2, 4, 9, 9, 0.3, 15}), split40);
    borders(60, 105); // a changed file takes effect at the next evaluation
    EXPECT_EQ(callObjective(ssthree, {0.5, 0.25, 2, 4, 9, 9, 0.3, 15}), split60);
    borders(40, 40); // region 2 empty
    EXPECT_EQ(callObjective(ssthree, {0.5, 0.25, 9, 9, 2, 4, 0.3, 15}), split40);
    borders(70, 40); // region 3 from border2 on, region 2 empty
    EXPECT_EQ(callObjective(ssthree, {0.5, 0.25, 9, 9, 2, 4, 0.3, 15}), split40);
    borders(0, 40); // region 1 empty
    EXPECT_EQ(callObjective(ssthree, {9, 9, 0.5, 0.25, 2, 4, 0.3, 15}), split40);
    borders(40, 70);
    EXPECT_NE(callObjective(ssthree, {0.5, 0.25, 9, 9, 2, 4, 0.3, 15}), split40);
}

TEST_F(SteppingStone, SsThreeF0IsSsThreeWithoutSelfing) {
    EXPECT_EQ(callObjective(ss3_F0, {0.5, 0.25, 0.8, 1.2, 2, 4, 15}),
              callObjective(ssthree, {0.5, 0.25, 0.8, 1.2, 2, 4, 0, 15}));
}

} // namespace
