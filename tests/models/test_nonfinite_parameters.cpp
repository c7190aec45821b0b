// Every objective of the model table answers a NaN or infinite parameter with its penalty,
// without simulating or printing anything.
#include "models/model_context.h"
#include "models/model_table.h"

#include "population/simulation_report.h"

#include <gtest/gtest.h>

#include "support/work_dir.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

struct ModelCase {
    int model;
    std::vector<double> inside; // a point inside the box
    double unit;                // penalty unit
    std::set<int> flat;         // parameters whose penalty is the unit itself, whatever the value
};

// Border positions and SS_2's border deme carry a flat penalty; every other parameter costs
// (|v| + 1) units, which is infinite for an infinite v.
const ModelCase cases[] = {
    {1, {1, 1, 0.5, 10}, 1e5, {}},
    {2, {1, 1, 1, 1, 0.5, 10, 40}, 1e5, {6}},
    {3, {1, 1, 1, 1, 1, 1, 0.5, 10}, 1e5, {}},
    {4, {1, 1, 1, 1, 1, 1, 10}, 1e5, {}},
    {5, {1, 1, 1, 1, 1, 1, 0.5, 10, 0.5, 0.5}, 1e5, {}},
    {6, {1, 1, 1, 1, 1, 1, 0.5, 10, 0.5, 0.5}, 1e5, {}},
    {7, {1, 1, 0.5, 10, 450}, 1e6, {4}},
    {8, {1, 1, 1, 1, 0.5, 10, 400}, 1e6, {6}},
    {9, {1, 1, 1, 1, 1, 1, 0.5, 10, 250, 600}, 1e5, {8, 9}},
    {10, {1, 1, 1, 1, 1, 1, 10, 250, 600}, 1e5, {7, 8}},
};

// Runs in a directory of its own holding a valid border file (models 3 to 6 read it at every
// call) and counts the simulations through the simulation record.
class NonFiniteParameter : public InScratchWorkDir {
  protected:
    void SetUp() override {
        InScratchWorkDir::SetUp();
        std::ofstream("borders.txt") << "25\n79\n";
    }

    // The objective's value at `x`; `printed` receives what it wrote to standard output.
    double evaluate(const ModelEntry& model, const std::vector<double>& x, std::string& printed) {
        NRvector<double> point(static_cast<int>(x.size()));
        for (std::size_t j = 0; j < x.size(); j++) {
            point[static_cast<int>(j)] = x[j];
        }
        testing::internal::CaptureStdout();
        const double value = model.evaluate(recording, point);
        printed = testing::internal::GetCapturedStdout();
        return value;
    }

    SimulationReport record;
    const ModelContext recording{nullptr, nullptr, nullptr, {&record, nullptr, nullptr}};
};

TEST_F(NonFiniteParameter, IsAnsweredWithItsPenaltyAndNeverSimulated) {
    for (const ModelCase& c : cases) {
        const ModelEntry& model = *findModel(c.model);
        ASSERT_EQ(model.parameterCount, static_cast<int>(c.inside.size())) << model.name;
        for (int k = 0; k < model.parameterCount; k++) {
            const bool flat = c.flat.count(k) != 0;
            for (const double v : {nan, inf, -inf}) {
                std::vector<double> x = c.inside;
                x[static_cast<std::size_t>(k)] = v;
                std::string printed;
                const double value = evaluate(model, x, printed);
                const double expected = std::isnan(v) || flat ? c.unit : inf;
                EXPECT_EQ(value, expected) << model.name << " x" << k << " = " << v;
                EXPECT_EQ(printed, "") << model.name << " x" << k << " = " << v;
                EXPECT_EQ(record.runs, 0) << model.name << " x" << k << " = " << v;
            }
        }
    }
}

TEST_F(NonFiniteParameter, TheRecordCountsASimulationInsideTheBox) {
    std::string printed;
    const double value = evaluate(*findModel(1), {1.05, 1.05, 0.3, 15}, printed);
    EXPECT_LT(value, 1e5); // a likelihood, not a penalty
    EXPECT_EQ(printed, "");
    EXPECT_EQ(record.runs, 1);
}

} // namespace
