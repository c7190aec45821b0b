// Where a simulation reports besides its result: the diagnostics stream and the simulation
// record its caller passes down.
#include "population/diagnostics.h"
#include "population/simulation_report.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

TEST(Diagnostics, GoToTheGivenStreamOrStandardOutput) {
    std::ostringstream given;
    EXPECT_EQ(&diagnosticsTo(&given), &given);
    EXPECT_EQ(&diagnosticsTo(nullptr), &std::cout);
}

TEST(SimulationReport, RecordsOnlyIntoTheReportGivenAndWhatItAsksFor) {
    recordSimulation(nullptr, 5, true); // no record: nothing happens
    SimulationReport report;
    recordSimulation(&report, 10, false);
    recordSimulation(&report, 20, true);
    EXPECT_EQ(report.runs, 2);
    EXPECT_EQ(report.generations, 20);
    EXPECT_TRUE(report.converged);

    ChangeRing changes;
    changes.push(0.5);
    changes.push(0.25);
    recordSimulation(&report, 2, true, changes);
    EXPECT_TRUE(report.recentChanges.empty()); // not asked for
    EXPECT_FALSE(changesWanted(&report));
    report.keepChanges = true;
    EXPECT_TRUE(changesWanted(&report));
    EXPECT_FALSE(changesWanted(nullptr));
    recordSimulation(&report, 2, true, changes);
    EXPECT_EQ(report.recentChanges, (std::vector<double>{0.5, 0.25}));

    const std::vector<Genotype> predicted{{0.25, 0.5, 0.25}};
    recordPredictions(&report, predicted);
    EXPECT_TRUE(report.predictions.empty());
    report.keepPredictions = true;
    recordPredictions(&report, predicted);
    ASSERT_EQ(report.predictions.size(), 1u);
    EXPECT_EQ(report.predictions[0].SI, 0.5);
}
