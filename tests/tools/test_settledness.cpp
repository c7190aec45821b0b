// How settled a simulated equilibrium is: the change record of the simulation, the shrink
// factor and the cliff check.
#include "tools/analysis/settledness.h"

#include "population/simulation_report.h"
#include "support/work_dir.h"

#include <gtest/gtest.h>

#include "tools/formats/data_option.h"

#include <cmath>

TEST(ShrinkFactor, GeometricChangesGiveTheirRatio) {
    std::vector<double> changes;
    for (int k = 0; k < 20; k++) {
        changes.push_back(1e-5 * std::pow(0.9, k));
    }
    EXPECT_NEAR(shrinkFactor(changes), 0.9, 1e-12);
    // Zero and non-finite changes are skipped; fewer than three left tell nothing.
    changes.push_back(0.0);
    EXPECT_NEAR(shrinkFactor(changes), 0.9, 1e-12);
    EXPECT_TRUE(std::isnan(shrinkFactor({1e-3, 0.0, 1e-4})));
    EXPECT_TRUE(std::isnan(shrinkFactor({})));
    // Only the last window counts: an early fast drop does not hide a slow end.
    std::vector<double> slowEnd = {1.0, 1e-3, 1e-6};
    for (int k = 0; k < 8; k++) {
        slowEnd.push_back(1e-7 * std::pow(0.99, k));
    }
    EXPECT_NEAR(shrinkFactor(slowEnd), 0.99, 1e-9);
}

TEST(RemainingDistance, ToleranceTimesLambdaOverOneMinusLambda) {
    EXPECT_NEAR(remainingDistance(0.9), 9e-8, 1e-20);
    EXPECT_NEAR(remainingDistance(0.5), 1e-8, 1e-22);
    EXPECT_TRUE(std::isinf(remainingDistance(1.0)));
    EXPECT_TRUE(std::isnan(remainingDistance(NAN)));
}

class Settled : public InScratchWorkDir {};

TEST_F(Settled, ChangeRecordEndsWithTheFirstGenerationBelowTheTolerance) {
    const ModelEntry& model = *findModel(1);
    SimulationReport report;
    ModelContext recording;
    recording.simulation.report = &report;
    callObjective(model.evaluate, recording, {1.2, 0.8, 0.3, 15});
    EXPECT_TRUE(report.recentChanges.empty()); // not asked for
    report.keepChanges = true;
    callObjective(model.evaluate, recording, {1.2, 0.8, 0.3, 15});
    ASSERT_TRUE(report.converged);
    const std::vector<double>& c = report.recentChanges;
    ASSERT_EQ(c.size(), std::min<std::size_t>(32, report.generations));
    // The run stops after the first generation in which nothing moved by 1e-8.
    EXPECT_LT(c.back(), simulationTolerance);
    EXPECT_GE(c[c.size() - 2], simulationTolerance);
    EXPECT_GT(c.front(), c.back());
}

TEST_F(Settled, KernelModelsRecordTheirChangesToo) {
    const ModelEntry& model = *findModel(7);
    SimulationReport report;
    report.keepChanges = true;
    ModelContext recording;
    recording.simulation.report = &report;
    callObjective(model.evaluate, recording, {1.2, 0.8, 0.3, 5, 450});
    ASSERT_TRUE(report.converged);
    ASSERT_FALSE(report.recentChanges.empty());
    EXPECT_LT(report.recentChanges.back(), simulationTolerance);
}

TEST_F(Settled, MeasuresGenerationsShrinkAndCliffs) {
    const ModelEntry& model = *findModel(1);
    const Settledness s = measureSettledness(DataContext{}, model, {1.2, 0.8, 0.3, 15});
    EXPECT_GT(s.generations, 10);
    EXPECT_TRUE(s.converged);
    EXPECT_GT(s.lambda, 0.0);
    EXPECT_LT(s.lambda, 1.0);
    EXPECT_NEAR(s.remaining, remainingDistance(s.lambda), 1e-20);
    EXPECT_EQ(s.value, callObjective(model.objective, {1.2, 0.8, 0.3, 15}));
    // Right at the edge of the box one step leaves it: the penalty is a cliff.
    const Settledness edge = measureSettledness(DataContext{}, model, {1.2, 0.8, 1.0, 15});
    EXPECT_EQ(edge.cliff, "F");
    EXPECT_GT(edge.cliffChange, 1000.0);
    EXPECT_NE(settlednessText(edge).find(", cliff at F ("), std::string::npos);
    // A penalty point is not simulated at all.
    const Settledness outside = measureSettledness(DataContext{}, model, {1.2, 0.8, 0.3, 150});
    EXPECT_EQ(outside.generations, 0);
    EXPECT_EQ(settlednessText(outside), "not simulated (a penalty)");
    EXPECT_EQ(singleStartWarning(model, 2), "");
    EXPECT_EQ(singleStartWarning(model, 1),
              "warning: the best value of model 1 (SS_1) was reached from only one start; "
              "another start may find a better optimum (see zonetool explore)");
}
