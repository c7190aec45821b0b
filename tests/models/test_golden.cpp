// Objective values, generation counts and printed lines of every model at fixed points, as the
// plain implementation of the generation loop computed them (examples/ start vectors, points
// around them, slow runs of tens of thousands of generations, runs stopped at the generation
// cap and a NaN likelihood). The optimised simulation must reproduce every one exactly.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "models/SS_F.h"
#include "models/cspace.h"
#include "models/model_context.h"
#include "models/model_table.h"
#include "models/ss.h"
#include "population/simulation_report.h"
#include "support/work_dir.h"

namespace {

struct Recorded {
    int model;
    ObjectiveFunction* objective;
    std::vector<double> x;
    double value;      // as printed with %.17g
    int generations;   // of the simulation (the cap: 1000000, or 100000 for model 7)
    const char* lines; // everything the evaluation printed
};

const Recorded recorded[] = {
    {1, ssone, {1.05, 1.05, 0.3, 15}, 1510.0746748633017, 608, ""},
    {1, ssone, {1.2, 0.8, 0.5, 20}, 11396.381702204006, 94, ""},
    {1, ssone, {0.9, 1.1, 0, 5}, 11656.566305166589, 238, ""},
    {1, ssone, {1.001, 1.001, 0.1, 3}, 2435.0896164693877, 13297, ""},
    {1, ssone, {3, 0.2, 1, 100}, 11885.135885331507, 13, ""},
    {1,
     ssone,
     {1, 1, 0, 1},
     100000,
     1000000,
     "max number of generations exceeded\n1 1 1 1 1 1\nnon-eq penalty\n"},
    {1, ssone, {0, 0, 1, 15}, 100000, 2, "likelihood=NaN\n"},
    {2, sstwo, {1.05, 0.95, 0.95, 1.05, 0.3, 15, 50}, 1707.1567538828372, 389, ""},
    {2, sstwo, {1.1, 0.9, 0.8, 1.2, 0.1, 5, 40.5}, 5380.9233237998133, 237, ""},
    {2, sstwo, {0.7, 1.3, 1.2, 0.8, 0.6, 30, 75.2}, 12140.165009461105, 87, ""},
    {3, ssthree, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15}, 1013.0113032824568, 43732, ""},
    {3, ssthree, {0.9, 0.95, 1.02, 0.98, 1.1, 1.3, 0.7, 40}, 1141.8000046589232, 2523, ""},
    {4, ss3_F0, {0.95, 0.9, 1, 1, 1.05, 1.1, 15}, 1204.0098776327354, 44221, ""},
    {4, ss3_F0, {0.8, 0.6, 1.1, 1.2, 1.3, 1.6, 25}, 2477.697668368126, 205, ""},
    {5, ss3_fr, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15, 0.3, 0.3}, 1013.0113032824568, 43732, ""},
    {5, ss3_fr, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.1, 12, 0.5, 0.9}, 1608.8350289767745, 91697, ""},
    {6, ss3_FG, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15, 0.3, 0.3}, 1013.0113032824544, 43732, ""},
    {6, ss3_FG, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.1, 12, 0.5, 0.9}, 1577.4983135025259, 88889, ""},
    {7, cone, {1.05, 1.05, 0.3, 10, 450}, 1192.9186488592729, 445, ""},
    {7, cone, {1.001, 1.002, 0.3, 10, 450}, 4898.9629457574792, 9486, ""},
    {7, cone, {1.5, 0.7, 0.9, 20, 310}, 13137.528604399391, 56, ""},
    {7,
     cone,
     {1, 1, 0.3, 3, 450},
     683.57177437469932,
     100000,
     "max number of generations exceeded\n1 1\n"},
    {7, cone, {0, 0, 0.3, 10, 450}, 1000000, 1, "WARNING->likelihood=NaN\n"},
    {8, ctwo, {1.05, 0.95, 0.95, 1.05, 0.3, 10, 450}, 1500.0607738877095, 217, ""},
    {8, ctwo, {1.2, 0.9, 0.8, 1.1, 0.5, 25, 300}, 759.58339378588107, 95, ""},
    {9,
     cthree,
     {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0.3, 10, 250, 600},
     578.72272171737131,
     464,
     ""},
    {9, cthree, {1.01, 0.99, 0.95, 0.95, 0.95, 1.05, 0.3, 5, 250, 600}, 525.6309296208243, 959, ""},
    {9,
     cthree,
     {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0.3, 50, 300, 550},
     588.28441855008691,
     288,
     ""},
    {10,
     CthreeFnot,
     {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 10, 250, 600},
     624.60901200369995,
     413,
     ""},
    {10, CthreeFnot, {0.9, 1.1, 1.2, 0.8, 1.05, 0.95, 35, 210, 670}, 5614.9658779063338, 209, ""},
};

// Runs in a fresh directory holding the example borders (25 and 79) for models 3 to 6.
class RecordedEvaluations : public InScratchWorkDir {
  protected:
    void SetUp() override {
        InScratchWorkDir::SetUp();
        std::ofstream("borders.txt") << "25\n79\n";
    }
    // Checks every recorded point of the models `first` to `last`.
    static void check(int first, int last) {
        for (const Recorded& r : recorded) {
            if (r.model < first || r.model > last) {
                continue;
            }
            NRvector<double> x(static_cast<int>(r.x.size()));
            for (std::size_t i = 0; i < r.x.size(); ++i) {
                x[static_cast<int>(i)] = r.x[i];
            }
            // zonefit's own objective for the value and the lines; the same model in a context
            // that records the run for its generations.
            testing::internal::CaptureStdout();
            const double value = r.objective(x);
            const std::string lines = testing::internal::GetCapturedStdout();
            SimulationReport report;
            std::ostringstream recordedLines;
            ModelContext recording;
            recording.simulation.report = &report;
            recording.simulation.diagnostics = &recordedLines;
            EXPECT_EQ(findModel(r.model)->evaluate(recording, x), value);
            EXPECT_EQ(recordedLines.str(), lines);
            SCOPED_TRACE("model " + std::to_string(r.model) + " at x0 = " + std::to_string(r.x[0]) +
                         ", x1 = " + std::to_string(r.x[1]));
            EXPECT_EQ(value, r.value);
            EXPECT_EQ(report.runs, 1);
            EXPECT_EQ(report.generations, r.generations);
            EXPECT_EQ(lines, r.lines);
        }
    }
};

} // namespace

TEST_F(RecordedEvaluations, SteppingStoneModels) {
    check(1, 6);
}

TEST_F(RecordedEvaluations, KernelModels) {
    check(7, 10);
}
