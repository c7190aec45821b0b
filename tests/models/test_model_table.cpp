// The model table: parameter names and boxes, checked against the objectives themselves.
#include "models/model_context.h"
#include "models/model_table.h"

#include "population/simulation_report.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <unistd.h>

namespace {

// A point well inside every box: fitnesses 1, selfing 0.5, sigma 10, model 2's border 50,
// contacts 450, the C_3 borders 250 and 600.
std::vector<double> insidePoint(const ModelEntry& model) {
    std::vector<double> x;
    for (int j = 0; j < model.parameterCount; j++) {
        const std::string name = model.parameters[j].name;
        if (name == "sigma") {
            x.push_back(10.0);
        } else if (name[0] == 'F') {
            x.push_back(0.5);
        } else if (name == "border") {
            x.push_back(50.0);
        } else if (name == "contact") {
            x.push_back(450.0);
        } else if (name == "border1") {
            x.push_back(250.0);
        } else if (name == "border2") {
            x.push_back(600.0);
        } else {
            x.push_back(1.0);
        }
    }
    return x;
}

// The value of the model's objective at x, and whether it simulated.
double evaluate(const ModelEntry& model, const std::vector<double>& x, bool& simulated) {
    NRvector<double> v(static_cast<int>(x.size()));
    for (std::size_t j = 0; j < x.size(); j++) {
        v[static_cast<int>(j)] = x[j];
    }
    SimulationReport report;
    ModelContext recording;
    recording.simulation.report = &report;
    const double value = model.evaluate(recording, v);
    simulated = report.runs > 0;
    return value;
}

} // namespace

TEST(ModelTableParameters, NamesAreUniqueAndFound) {
    for (const ModelEntry& model : modelTable) {
        std::set<std::string> names;
        for (int j = 0; j < model.parameterCount; j++) {
            names.insert(model.parameters[j].name);
            EXPECT_EQ(findParameter(model, model.parameters[j].name), j) << model.name;
        }
        EXPECT_EQ(names.size(), static_cast<std::size_t>(model.parameterCount)) << model.name;
        EXPECT_EQ(findParameter(model, "nothing"), -1);
    }
    EXPECT_EQ(findParameter(*findModel(6), "sigma"), 7);
    EXPECT_EQ(findParameter(*findModel(10), "border1"), 7);
    EXPECT_EQ(findModel(9)->borderParameters[1], 9);
}

TEST(ModelTableParameters, BoxTextAndMembership) {
    const ModelEntry& two = *findModel(2);
    EXPECT_EQ(boxText(two.parameters[0]), "[0, 10000]");
    EXPECT_EQ(boxText(two.parameters[5]), "[0.5, 50]");
    EXPECT_EQ(boxText(two.parameters[6]), "(30, 80)");
    EXPECT_EQ(boxText(findModel(3)->parameters[7]), "(0, inf)");
    EXPECT_EQ(boxText(findModel(1)->parameters[3]), "(0, 100]");
    EXPECT_TRUE(insideBox(two.parameters[5], 0.5));
    EXPECT_FALSE(insideBox(two.parameters[6], 30.0));
    EXPECT_TRUE(insideBox(two.parameters[6], 79.99));
    EXPECT_FALSE(insideBox(two.parameters[0], std::nan("")));
    EXPECT_TRUE(insideBox(findModel(4)->parameters[6], 1e6));
}

// Every bound of the table is where the objective starts answering with a penalty: just past
// a closed bound, or on an open one, the objective returns at least 100000 without simulating.
TEST(ModelTableParameters, BoxesAreThoseTheObjectivesEnforce) {
    ScratchDir dir;
    dir.write("borders.txt", "30\n70\n");
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    for (const ModelEntry& model : modelTable) {
        const std::vector<double> base = insidePoint(model);
        for (int j = 0; j < model.parameterCount; j++) {
            const ParameterInfo& p = model.parameters[j];
            for (int side : {-1, 1}) {
                const double bound = side < 0 ? p.lower : p.upper;
                if (std::isinf(bound)) {
                    continue;
                }
                const bool open = side < 0 ? p.lowerOpen : p.upperOpen;
                std::vector<double> x = base;
                x[static_cast<std::size_t>(j)] =
                    open ? bound : bound + side * 1e-6 * std::fmax(1.0, std::fabs(bound));
                EXPECT_FALSE(insideBox(p, x[static_cast<std::size_t>(j)]));
                bool simulated = true;
                const double value = evaluate(model, x, simulated);
                EXPECT_GE(value, 100000.0) << model.name << " " << p.name << " " << side;
                EXPECT_FALSE(simulated) << model.name << " " << p.name << " " << side;
            }
        }
    }
    ASSERT_EQ(chdir(previous), 0);
}

TEST(ModelTableParameters, ExplorationRegionsLieInTheBoxesNearNeutrality) {
    for (const ModelEntry& model : modelTable) {
        for (int j = 0; j < model.parameterCount; j++) {
            const ParameterInfo& p = model.parameters[j];
            const std::string where = std::string(model.name) + " " + p.name;
            EXPECT_LT(p.exploreLow, p.exploreHigh) << where;
            EXPECT_GE(p.exploreLow, p.lower) << where;
            EXPECT_LE(p.exploreHigh, p.upper) << where;
            EXPECT_TRUE(std::isfinite(p.exploreHigh)) << where;
            if (p.exploreLog) {
                EXPECT_GT(p.exploreLow, 0.0) << where;
            }
            // Fitnesses are searched from weak to strong selection (model 8's best point
            // has wSS_L near 100), not across their box up to 10000.
            EXPECT_EQ(p.fitness, p.name[0] == 'w') << where;
            if (p.name[0] == 'w') {
                EXPECT_TRUE(p.exploreLog && p.exploreLow < 0.01 && p.exploreHigh > 100.0) << where;
                EXPECT_LE(p.exploreHigh, 101.0) << where;
            }
        }
    }
    EXPECT_EQ(regionText(modelTable[0].parameters[0]), "0.00990099 to 101, log scale");
    EXPECT_EQ(regionText(modelTable[0].parameters[2]), "0 to 1");
}

// Steps away from a fitness are measured against its selection strength: from wSS = 1.002 a
// step of 5% of the size moves the strength by 0.0001, not to 0.05.
TEST(ModelTableParameters, StepSizeOfAFitnessIsItsSelectionStrength) {
    const ParameterInfo& wSS = modelTable[0].parameters[0];
    const ParameterInfo& F = modelTable[0].parameters[2];
    EXPECT_DOUBLE_EQ(stepSize(wSS, 1.002), 0.002);
    EXPECT_DOUBLE_EQ(stepSize(wSS, 0.9), 0.1);
    EXPECT_DOUBLE_EQ(stepSize(wSS, 100.0), 99.0);
    // Neutral or nearly so: the weakest strength steps are measured against.
    EXPECT_EQ(stepSize(wSS, 1.0), weakestStepStrength);
    EXPECT_EQ(stepSize(wSS, 1.00005), weakestStepStrength);
    // Any other parameter: its size, 1 at 0.
    EXPECT_EQ(stepSize(F, 0.4), 0.4);
    EXPECT_EQ(stepSize(F, -0.4), 0.4);
    EXPECT_EQ(stepSize(F, 0.0), 1.0);
}
