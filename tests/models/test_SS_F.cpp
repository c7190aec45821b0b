#include "models/SS_F.h"

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
#include "models/ss.h"
#include "population/simulation_report.h"

namespace {

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

// Each test runs in a fresh directory of its own, where the models find "borders.txt".
class SelfingModels : public InScratchWorkDir {
  protected:
    void SetUp() override {
        InScratchWorkDir::SetUp();
        borders(40, 70);
    }
    static void borders(int border1, int border2) {
        std::ofstream("borders.txt") << border1 << '\n' << border2 << '\n';
    }
};

TEST_F(SelfingModels, PenaltiesInOrderOfTestsWithSigmaBeforeTheLastTwoRates) {
    for (ObjectiveFunction* model : std::initializer_list<ObjectiveFunction*>{ss3_fr, ss3_FG}) {
        EXPECT_EQ(callObjective(model, {1, 1, 1, 1, 1, 1, 0.5, 10, 1.5, 0.5}), 250000);
        EXPECT_EQ(callObjective(model, {1, 1, 1, 1, 1, 1, 0.5, -0.5, 0.5, 0.5}), 150000);
        EXPECT_EQ(callObjective(model, {1, 1, 1, 1, 1, 1, 0.5, -1, 2, 2}), 200000);
        EXPECT_EQ(callObjective(model, {1, 1, 1, 1, 1, 1, 0.5, 10, 0.5, -1}), 200000);
        EXPECT_EQ(callObjective(model, {1, 1, 1, 1, 1, 10001, 3, -1, 2, 2}), 1000200000);
        EXPECT_EQ(callObjective(model, {1, 1, 1, 1, 1, 1, -3, -1, 2, 2}), 400000);
        EXPECT_EQ(callObjective(model, {1, 1, 1, 1, 1, 1, 0.5, 0, 2, 2}), 100000); // sigma of 0
    }
}

TEST_F(SelfingModels, NonFiniteParametersAreNeverSimulated) {
    for (ObjectiveFunction* model : std::initializer_list<ObjectiveFunction*>{ss3_fr, ss3_FG}) {
        EXPECT_EQ(callObjective(model, {1, 1, 1, 1, 1, 1, 0.5, 10, nan, 0.5}), 100000);
        EXPECT_EQ(callObjective(model, {1, 1, 1, 1, 1, 1, nan, -1, 0.5, 0.5}), 100000);
        EXPECT_EQ(callObjective(model, {1, 1, 1, 1, 1, 1, 0.5, -1, nan, 0.5}), 200000);
        EXPECT_EQ(callObjective(model, {1, 1, 1, 1, 1, 1, 0.5, inf, 0.5, 0.5}), inf);
        EXPECT_EQ(callObjective(model, {1, 1, 1, 1, 1, 1, 0.5, 10, 0.5, -inf}), inf);
    }
}

// A bad border file goes to the caller's failure sink; the objective answers one penalty unit
// without simulating and keeps the first message of a series.
TEST_F(SelfingModels, BorderFileIsReadBeforeTheBoundsCheck) {
    SimulationReport report;
    FailureSink failures;
    ModelContext context;
    context.failures = &failures;
    context.simulation.report = &report;
    std::ofstream("borders.txt") << "40\nno border\n";
    EXPECT_EQ(callObjective(ss3_fr, context, {-1, 1, 1, 1, 1, 1, 0.5, 10, 0.5, 0.5}), 100000);
    EXPECT_EQ(failures.message(), "Error in borders.txt: line 2 holds no integer");
    std::ofstream("borders.txt") << "-5\n70\n";
    EXPECT_EQ(callObjective(ss3_FG, context, {1, 1, 1, 1, 1, 1, 0.5, 10, 0.5, 0.5}), 100000);
    EXPECT_EQ(failures.message(), "Error in borders.txt: line 2 holds no integer");
    failures.clear();
    EXPECT_EQ(callObjective(ss3_FG, context, {1, 1, 1, 1, 1, 1, 0.5, 10, 0.5, 0.5}), 100000);
    EXPECT_EQ(failures.message(), "Error in borders.txt: border 1 is -5, outside 0 to 105");
    EXPECT_EQ(report.runs, 0);
}

TEST_F(SelfingModels, EqualSelfingRatesGiveModelThree) {
    const double three = callObjective(ssthree, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15});
    EXPECT_EQ(callObjective(ss3_fr, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15, 0.3, 0.3}), three);
    // Mating by genotype computes the same zygotes in another order of operations.
    EXPECT_NEAR(callObjective(ss3_FG, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15, 0.3, 0.3}), three,
                1e-12 * three);
}

// Each region's selfing rate reaches exactly that region's demes, the same ones that take
// the region's fitnesses.
TEST_F(SelfingModels, SelfingRatesByRegion) {
    const double reference = callObjective(ss3_fr, {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.5, 0.8});
    EXPECT_NE(callObjective(ss3_fr, {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.1, 0.8}), reference);
    borders(40, 40);
    const double noRegion2 = callObjective(ss3_fr, {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.5, 0.8});
    EXPECT_EQ(callObjective(ss3_fr, {0.5, 0.25, 3, 3, 2, 4, 0.2, 15, 0.1, 0.8}), noRegion2);
    borders(70, 40);
    EXPECT_EQ(callObjective(ss3_fr, {0.5, 0.25, 3, 3, 2, 4, 0.2, 15, 0.1, 0.8}), noRegion2);
    borders(0, 70);
    EXPECT_EQ(callObjective(ss3_fr, {3, 3, 0.8, 1.2, 2, 4, 0.9, 15, 0.5, 0.8}),
              callObjective(ss3_fr, {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.5, 0.8}));
    borders(40, 105);
    EXPECT_EQ(callObjective(ss3_fr, {0.5, 0.25, 0.8, 1.2, 3, 3, 0.2, 15, 0.5, 0.1}),
              callObjective(ss3_fr, {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.5, 0.8}));
}

TEST_F(SelfingModels, SelfingRatesByGenotype) {
    const double reference = callObjective(ss3_FG, {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.5, 0.8});
    EXPECT_TRUE(std::isfinite(reference));
    EXPECT_LT(reference, 100000);
    EXPECT_EQ(callObjective(ss3_FG, {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.5, 0.8}), reference);
    for (int k : {6, 8, 9}) {
        double x[10] = {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.5, 0.8};
        x[k] = 0.05;
        EXPECT_NE(
            callObjective(ss3_FG, {x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], x[8], x[9]}),
            reference)
            << k;
    }
}

} // namespace
