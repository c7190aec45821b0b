// The row hook of the simulate forms: a captured run continued with a smaller tolerance is the
// run made with that tolerance from the start, bit for bit, for every form; a replacing hook
// answers with its state and runs nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <vector>

#include "population/row_hook.h"
#include "population/simulation_context.h"
#include "population/simulation_report.h"
#include "random_inputs.h"

namespace {

using inputs::Rng;

// Same bits, or both not a number.
bool same(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

void expectSameRow(const std::vector<Genotype>& a, const std::vector<Genotype>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_TRUE(same(a[i].SS, b[i].SS) && same(a[i].SI, b[i].SI) && same(a[i].II, b[i].II))
            << "deme " << i;
    }
}

// Runs `form(tolerance, cap)` once with `coarse` under a capturing hook and continues the
// captured row with `fine`; runs it again with `fine` from the start under a second hook. The
// two end states and generation counts must agree.
template <class Form> void expectContinuationIsTheLongerRun(Form form, double coarse, double fine) {
    RowHook first;
    form(SimulationContext{nullptr, nullptr, &first}, coarse, 100000);
    ASSERT_TRUE(first.captured);
    ASSERT_TRUE(first.state.converged);
    const int firstGenerations = first.state.generations;
    ASSERT_TRUE(continueRow(first.dynamics, first.state, fine, 100000));

    RowHook whole;
    form(SimulationContext{nullptr, nullptr, &whole}, fine, 100000);
    ASSERT_TRUE(whole.captured);
    EXPECT_EQ(firstGenerations + first.state.generations, whole.state.generations);
    EXPECT_EQ(first.state.converged, whole.state.converged);
    expectSameRow(first.state.larvae, whole.state.larvae);
    expectSameRow(first.state.adults, whole.state.adults);
}

// Selection that keeps every deme alive, so that the runs converge.
std::vector<Genotype> liveFitness(Rng& rng, int n) {
    std::vector<Genotype> f;
    for (int i = 0; i < n; ++i) {
        f.push_back({inputs::uniform(rng, 0.9, 1.1), 1.0, inputs::uniform(rng, 0.9, 1.1)});
    }
    return f;
}

} // namespace

TEST(RowHook, AContinuedRunIsTheRunWithTheSmallerTolerance) {
    Rng rng(11);
    for (int trial = 0; trial < 12; ++trial) {
        SCOPED_TRACE(trial);
        const int n = inputs::uniformInt(rng, 2, 40);
        const std::vector<Population> row = inputs::row(rng, n);
        const std::vector<double> m = inputs::rates(rng, n);
        const std::vector<Genotype> f = liveFitness(rng, n);
        const double F = inputs::uniform(rng, 0, 1);
        std::vector<double> perDeme;
        for (int i = 0; i < n; ++i) {
            perDeme.push_back(inputs::uniform(rng, 0, 1));
        }
        const std::vector<double> byGenotype = {inputs::uniform(rng, 0, 0.9),
                                                inputs::uniform(rng, 0, 0.9),
                                                inputs::uniform(rng, 0, 0.9)};
        expectContinuationIsTheLongerRun([&](const SimulationContext& c, double tol,
                                             int cap) { simulate(c, row, m, f, F, tol, cap); },
                                         1e-6, 1e-11);
        expectContinuationIsTheLongerRun(
            [&](const SimulationContext& c, double tol, int cap) {
                simulate(c, row, m, f, perDeme, tol, cap);
            },
            1e-6, 1e-11);
        expectContinuationIsTheLongerRun(
            [&](const SimulationContext& c, double tol, int cap) {
                simulateByGenotype(c, row, m, f, byGenotype, tol, cap);
            },
            1e-6, 1e-11);

        const inputs::Kernel k = inputs::kernel(rng);
        const int reach = k.offsets.back();
        const int demes = reach + inputs::uniformInt(rng, 1, 30);
        const std::vector<Population> grid = inputs::row(rng, demes);
        const std::vector<Genotype> regions = liveFitness(rng, 3);
        int border1 = inputs::uniformInt(rng, 0, demes);
        int border2 = inputs::uniformInt(rng, border1, demes + 1);
        expectContinuationIsTheLongerRun(
            [&](const SimulationContext& c, double tol, int cap) {
                std::vector<Population> copy = grid;
                std::vector<int> offsets = k.offsets;
                simulate(c, copy, k.weights, offsets, regions, F, tol, cap, border1, border2,
                         k.step);
            },
            1e-6, 1e-11);
    }
}

TEST(RowHook, AReplacingHookAnswersWithItsStateAndRunsNothing) {
    const std::vector<Population> row(3, Population({0.2, 0.3, 0.5}));
    const std::vector<double> m = {0.1, 0.1};
    const std::vector<Genotype> f(3, Genotype{1.1, 1.0, 0.9});
    RowHook hook;
    hook.mode = RowHook::Mode::replace;
    hook.state.adults = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    hook.state.larvae = hook.state.adults;
    hook.recordedGenerations = 1234;
    SimulationReport report;
    const SimulationContext scope{&report, nullptr, &hook};
    expectSameRow(simulate(scope, row, m, f, 0.5, 1e-8, 1000), hook.state.adults);
    EXPECT_EQ(report.generations, 1234);
    EXPECT_TRUE(report.converged);
    EXPECT_FALSE(hook.captured);

    // The kernel form writes the state into the row it was given.
    std::vector<Population> grid = row;
    std::vector<int> offsets = {-1, 0, 1};
    int border1 = 3;
    int border2 = 3;
    double tolerance = 1e-8;
    int cap = 1000;
    simulate(scope, grid, {1, 2, 1}, offsets, f, 0.0, tolerance, cap, border1, border2, 1.0);
    for (std::size_t i = 0; i < grid.size(); ++i) {
        EXPECT_EQ(grid[i].adults.SS, hook.state.adults[i].SS);
        EXPECT_EQ(grid[i].larvae.II, hook.state.larvae[i].II);
    }
    EXPECT_EQ(report.runs, 2);
}

TEST(RowHook, ContinuingIsRefusedForRowsTheFastLoopsDoNotServe) {
    RowDynamics dynamics;
    dynamics.form = RowForm::oneRate;
    RowState lone;
    lone.larvae = {{0.2, 0.3, 0.5}};
    EXPECT_FALSE(continueRow(dynamics, lone, 1e-8, 10));
    EXPECT_EQ(lone.larvae.size(), 1u);

    RowDynamics wide;
    wide.form = RowForm::kernel;
    wide.kernelWeights = {1, 1, 1};
    wide.kernelOffsets = {-3, 0, 3};
    wide.fitness = {{1, 1, 1}};
    RowState three;
    three.larvae.assign(3, Genotype{0.2, 0.3, 0.5});
    EXPECT_FALSE(continueRow(wide, three, 1e-8, 10));
}

TEST(RowHook, AFollowUpAfterTheCaptureChangesWhatTheFormAnswers) {
    const std::vector<Population> row(3, Population({0.2, 0.3, 0.5}));
    const std::vector<double> m = {0.1, 0.1};
    const std::vector<Genotype> f(3, Genotype{1.1, 1.0, 0.9});
    RowHook hook;
    int calls = 0;
    hook.context = &calls;
    hook.afterCapture = [](RowHook& h) {
        ++*static_cast<int*>(h.context);
        h.state.adults.assign(h.state.adults.size(), Genotype{0.0, 1.0, 0.0});
        h.state.larvae = h.state.adults;
    };
    const SimulationContext scope{nullptr, nullptr, &hook};
    const std::vector<Genotype> answer = simulate(scope, row, m, f, 0.5, 1e-8, 1000);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(hook.captured);
    expectSameRow(answer, hook.state.adults);
    EXPECT_EQ(answer[2].SI, 1.0);

    std::vector<Population> grid = row;
    std::vector<int> offsets = {-1, 0, 1};
    int border1 = 3;
    int border2 = 3;
    double tolerance = 1e-8;
    int cap = 1000;
    simulate(scope, grid, {1, 2, 1}, offsets, f, 0.0, tolerance, cap, border1, border2, 1.0);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(hook.dynamics.form, RowForm::kernel);
    EXPECT_EQ(grid[1].adults.SI, 1.0);
    EXPECT_EQ(grid[1].larvae.SI, 1.0);
}
