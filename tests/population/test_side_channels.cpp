// The per-thread diagnostics stream and simulation record, installed by guards.
#include "population/diagnostics.h"
#include "population/simulation_report.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

TEST(ScopedDiagnostics, NestedGuardsRestoreTheEarlierStream) {
    std::ostringstream outer;
    std::ostringstream inner;
    {
        const ScopedDiagnostics toOuter(&outer);
        diagnostics() << "a";
        {
            const ScopedDiagnostics toInner(&inner);
            diagnostics() << "b";
            // Another thread keeps standard output.
            std::thread([] { EXPECT_EQ(&diagnostics(), &std::cout); }).join();
        }
        diagnostics() << "c";
    }
    EXPECT_EQ(&diagnostics(), &std::cout);
    EXPECT_EQ(outer.str(), "ac");
    EXPECT_EQ(inner.str(), "b");
}

TEST(ScopedSimulationReport, RecordsGoToTheInnermostReportOnly) {
    SimulationReport outer;
    SimulationReport inner;
    recordSimulation(5, true); // no record installed: nothing happens
    {
        const ScopedSimulationReport recordingOuter(outer);
        recordSimulation(10, false);
        {
            const ScopedSimulationReport recordingInner(inner);
            recordSimulation(20, true);
        }
        recordSimulation(30, true);
    }
    EXPECT_EQ(simulationReport(), nullptr);
    EXPECT_EQ(outer.runs, 2);
    EXPECT_EQ(outer.generations, 30);
    EXPECT_EQ(inner.runs, 1);
    EXPECT_EQ(inner.generations, 20);
    EXPECT_TRUE(inner.converged);
}
