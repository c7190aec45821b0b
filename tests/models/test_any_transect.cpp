// The objectives on a transect other than the compiled one: the built-in data read back from
// examples/transect.tsv must give every value, generation count and printed line unchanged,
// and a transect stretched by 2, with the boxes scaled to it and sigma, contact and borders
// doubled, must give exactly the values of the built-in one.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "data/builtin_transect.h"
#include "models/model_context.h"
#include "models/model_table.h"
#include "models/scaled_boxes.h"
#include "models/ss.h"
#include "population/simulation_report.h"
#include "support/quick_fit.h"
#include "support/work_dir.h"

namespace {

struct Point {
    int model;
    std::vector<double> x;
};

// The recorded points of the golden test, points near every box edge in length units, and
// points with a penalty.
const Point points[] = {
    {1, {1.05, 1.05, 0.3, 15}},
    {1, {1.2, 0.8, 0.5, 20}},
    {1, {0.9, 1.1, 0, 5}},
    {1, {1.001, 1.001, 0.1, 3}},
    {1, {3, 0.2, 1, 100}},
    {1, {1, 1, 0, 1}},
    {1, {0, 0, 1, 15}},
    {1, {1.2, 0.8, 0.3, 100.5}},
    {2, {1.05, 0.95, 0.95, 1.05, 0.3, 15, 50}},
    {2, {1.1, 0.9, 0.8, 1.2, 0.1, 5, 40.5}},
    {2, {0.7, 1.3, 1.2, 0.8, 0.6, 30, 75.2}},
    {2, {1.1, 0.9, 0.8, 1.2, 0.1, 0.5, 79.9}},
    {2, {1.1, 0.9, 0.8, 1.2, 0.1, 0.4, 50}},
    {3, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15}},
    {3, {0.9, 0.95, 1.02, 0.98, 1.1, 1.3, 0.7, 40}},
    {4, {0.95, 0.9, 1, 1, 1.05, 1.1, 15}},
    {4, {0.8, 0.6, 1.1, 1.2, 1.3, 1.6, 25}},
    {5, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15, 0.3, 0.3}},
    {5, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.1, 12, 0.5, 0.9}},
    {6, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15, 0.3, 0.3}},
    {6, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.1, 12, 0.5, 0.9}},
    {7, {1.05, 1.05, 0.3, 10, 450}},
    {7, {1.001, 1.002, 0.3, 10, 450}},
    {7, {1.5, 0.7, 0.9, 20, 310}},
    {7, {1, 1, 0.3, 3, 450}},
    {7, {0, 0, 0.3, 10, 450}},
    {7, {1.05, 1.05, 0.3, 0.5, 599}},
    {7, {1.05, 1.05, 0.3, 10, 300}},
    {8, {1.05, 0.95, 0.95, 1.05, 0.3, 10, 450}},
    {8, {1.2, 0.9, 0.8, 1.1, 0.5, 25, 300}},
    {8, {1.2, 0.9, 0.8, 1.1, 0.5, 50.5, 300}},
    {9, {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0.3, 10, 250, 600}},
    {9, {1.01, 0.99, 0.95, 0.95, 0.95, 1.05, 0.3, 5, 250, 600}},
    {9, {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0.3, 50, 300, 550}},
    {9, {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0.3, 10, 206, 680}},
    {9, {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0.3, 10, 205.9, 600}},
    {10, {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 10, 250, 600}},
    {10, {0.9, 1.1, 1.2, 0.8, 1.05, 0.95, 35, 210, 670}},
};

struct Outcome {
    double value = 0.0;
    int runs = 0;
    int generations = 0;
    bool converged = false;
    std::string lines;
    std::vector<Genotype> predictions;
};

// The point evaluated in `base` (its transect and boxes), recording the run.
Outcome evaluate(const Point& p, const std::vector<double>& x,
                 const ModelContext& base = ModelContext{}) {
    NRvector<double> v(static_cast<int>(x.size()));
    for (std::size_t i = 0; i < x.size(); ++i) {
        v[static_cast<int>(i)] = x[i];
    }
    SimulationReport report;
    report.keepPredictions = true;
    ModelContext context = base;
    context.simulation.report = &report;
    testing::internal::CaptureStdout();
    Outcome o;
    o.value = findModel(p.model)->evaluate(context, v);
    o.lines = testing::internal::GetCapturedStdout();
    o.runs = report.runs;
    o.generations = report.generations;
    o.converged = report.converged;
    o.predictions = report.predictions;
    return o;
}

// Equal, or both NaN (a run with zero fitnesses predicts NaN everywhere).
bool same(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

void expectSame(const Outcome& a, const Outcome& b) {
    EXPECT_EQ(a.value, b.value);
    EXPECT_EQ(a.runs, b.runs);
    EXPECT_EQ(a.generations, b.generations);
    EXPECT_EQ(a.converged, b.converged);
    EXPECT_EQ(a.lines, b.lines);
    ASSERT_EQ(a.predictions.size(), b.predictions.size());
    for (std::size_t i = 0; i < a.predictions.size(); ++i) {
        EXPECT_TRUE(same(a.predictions[i].SS, b.predictions[i].SS)) << "site " << i;
        EXPECT_TRUE(same(a.predictions[i].SI, b.predictions[i].SI)) << "site " << i;
        EXPECT_TRUE(same(a.predictions[i].II, b.predictions[i].II)) << "site " << i;
    }
}

std::string trace(const Point& p) {
    std::string text = "model " + std::to_string(p.model) + " at";
    for (double v : p.x) {
        text += " " + std::to_string(v);
    }
    return text;
}

// Whether parameter j of `model` is measured in units of length.
bool inLengthUnits(const ModelEntry& model, int j) {
    const std::string name = model.parameters[j].name;
    return name == "sigma" || (model.geometry == Geometry::kernelGrid &&
                               (name == "contact" || name == "border1" || name == "border2"));
}

class OnAnyTransect : public InScratchWorkDir {
  protected:
    void SetUp() override {
        InScratchWorkDir::SetUp();
        std::ofstream("borders.txt") << "25\n79\n";
    }
};

} // namespace

TEST_F(OnAnyTransect, TheExampleFileGivesTheBuiltInResultsOfEveryModel) {
    Transect fromFile;
    std::string error;
    ASSERT_TRUE(readTransectFile(std::string(ZONEFIT_SOURCE_DIR) + "/examples/transect.tsv",
                                 fromFile, error))
        << error;
    const TransectScale scale = transectScale(fromFile);
    EXPECT_EQ(scale.kernel, 1.0);
    EXPECT_EQ(scale.stepping, 1.0);
    EXPECT_EQ(scale.demes, 1.0);
    BoxSet boxes;
    boxes.scale(scale);
    for (const Point& p : points) {
        SCOPED_TRACE(trace(p));
        const Outcome builtIn = evaluate(p, p.x);
        ModelContext context;
        context.transect = &fromFile;
        context.boxes = boxes.boxes();
        expectSame(evaluate(p, p.x, context), builtIn);
    }
}

TEST_F(OnAnyTransect, ATransectTwiceAsLongGivesTheSameValuesAtTwiceTheLengths) {
    Transect stretched = builtInTransectValue();
    for (double& position : stretched.positions) {
        position *= 2.0;
    }
    for (double& distance : stretched.distances) {
        distance *= 2.0;
    }
    const TransectScale scale = transectScale(stretched);
    EXPECT_EQ(scale.kernel, 2.0);
    EXPECT_EQ(scale.stepping, 2.0);
    EXPECT_EQ(scale.demes, 1.0);
    BoxSet boxes;
    boxes.scale(scale);
    for (const Point& p : points) {
        SCOPED_TRACE(trace(p));
        const ModelEntry& model = *findModel(p.model);
        std::vector<double> doubled = p.x;
        for (int j = 0; j < model.parameterCount; ++j) {
            if (inLengthUnits(model, j)) {
                doubled[static_cast<std::size_t>(j)] *= 2.0;
            }
        }
        const Outcome builtIn = evaluate(p, p.x);
        ModelContext context;
        context.transect = &stretched;
        context.boxes = boxes.boxes();
        const Outcome onStretched = evaluate(p, doubled, context);
        NRvector<double> x(static_cast<int>(doubled.size()));
        for (std::size_t i = 0; i < doubled.size(); ++i) {
            x[static_cast<int>(i)] = doubled[i];
        }
        const double penalty = boxPenalty(context.box(p.model), x);
        if (penalty != 0.0 && penalty != builtIn.value) {
            // A length beyond its bound is priced by its own size, which doubled too.
            EXPECT_EQ(onStretched.value, penalty);
            EXPECT_EQ(onStretched.runs, 0);
        } else {
            expectSame(onStretched, builtIn);
        }
    }
}

// Two evaluations on two threads at once, each in its own context (the built-in transect, and
// three sites of 3000 individuals each with boxes scaled to them): each thread's values are
// those of the same evaluations made alone, bit for bit, for a stepping-stone and a kernel model.
// Nothing of one context leaks into the other thread.
TEST(ContextsOnThreads, TwoTransectsAtOnceGiveEachItsOwnValues) {
    Transect small;
    std::string error;
    std::istringstream text(bigSampleTransect);
    ASSERT_TRUE(readTransect(text, "small.tsv", small, error)) << error;
    BoxSet smallBoxes;
    smallBoxes.scale(transectScale(small));
    ModelContext onSmall;
    onSmall.transect = &small;
    onSmall.boxes = smallBoxes.boxes();
    const ModelContext builtIn;

    const struct {
        int model;
        std::vector<double> x;
    } cases[] = {{1, {1.05, 0.95, 0.3, 15}}, {7, {1.05, 0.95, 0.3, 10, 200}}};
    const auto valuesOf = [&cases](const ModelContext& context) {
        std::vector<double> values;
        for (const auto& c : cases) {
            NRvector<double> x(static_cast<int>(c.x.size()));
            for (std::size_t j = 0; j < c.x.size(); ++j) {
                x[static_cast<int>(j)] = c.x[j];
            }
            for (int repeat = 0; repeat < 3; ++repeat) {
                values.push_back(findModel(c.model)->evaluate(context, x));
            }
        }
        return values;
    };
    const std::vector<double> builtInAlone = valuesOf(builtIn);
    const std::vector<double> smallAlone = valuesOf(onSmall);
    // The two data sets give different values: a leak would show.
    ASSERT_NE(builtInAlone[0], smallAlone[0]);
    ASSERT_NE(builtInAlone[3], smallAlone[3]);

    std::vector<double> builtInTogether;
    std::vector<double> smallTogether;
    std::thread first([&] { builtInTogether = valuesOf(builtIn); });
    std::thread second([&] { smallTogether = valuesOf(onSmall); });
    first.join();
    second.join();
    EXPECT_EQ(builtInTogether, builtInAlone);
    EXPECT_EQ(smallTogether, smallAlone);
    // zonefit's own objective keeps the built-in transect whatever the other thread does.
    NRvector<double> x(4);
    for (int j = 0; j < 4; ++j) {
        x[j] = cases[0].x[static_cast<std::size_t>(j)];
    }
    EXPECT_EQ(ssone(x), builtInAlone[0]);
}
