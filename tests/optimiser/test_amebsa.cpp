#include "optimiser/amebsa.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

int evaluations = 0;
std::vector<double> visited;

// 1 + (x0 - 1)^2 + 2 (x1 - 2)^2: minimum 1 at (1, 2); the offset keeps the spread test
// meaningful at the minimum.
double bowl(const NRvector<double>& x) {
    evaluations++;
    visited.push_back(x[0]);
    double value = 1.0;
    for (int j = 0; j < x.size(); j++) {
        const double d = x[j] - (j + 1);
        value += (j + 1) * d * d;
    }
    return value;
}

double constant(const NRvector<double>&) {
    evaluations++;
    return 5.0;
}

// NaN to the right of 0.5, a bowl elsewhere.
double nanRight(const NRvector<double>& x) {
    evaluations++;
    if (x[0] > 0.5) {
        return std::nan("");
    }
    return 1.0 + x[0] * x[0];
}

struct Start {
    NRvector<double> point;
    NRvector<double> deltas;
    Start(std::initializer_list<double> p, std::initializer_list<double> d)
        : point(static_cast<int>(p.size())), deltas(static_cast<int>(d.size())) {
        int i = 0;
        for (double value : p) {
            point[i++] = value;
        }
        i = 0;
        for (double value : d) {
            deltas[i++] = value;
        }
    }
};

} // namespace

TEST(AmebsaConstruction, StartSimplexAddsOneDeltaPerVertex) {
    Start s({1.0, 2.0, 3.0}, {0.5, 0.25, 0.125});
    evaluations = 0;
    Amebsa<ObjectiveFunction> a(s.point, s.deltas, bowl, 1e-6, 0);
    EXPECT_EQ(evaluations, 4);
    EXPECT_EQ(a.vertexCount, 4);
    EXPECT_EQ(a.simplex[0][0], 1.0);
    EXPECT_EQ(a.simplex[1][0], 1.5);
    EXPECT_EQ(a.simplex[2][1], 2.25);
    EXPECT_EQ(a.simplex[3][2], 3.125);
    EXPECT_EQ(a.simplex[3][0], 1.0);
    EXPECT_EQ(a.bestValue, std::numeric_limits<double>::max());
}

TEST(AmebsaAnneal, FindsBowlMinimumAtTemperatureZero) {
    Start s({0.1, 0.3}, {0.7, 0.9});
    Amebsa<ObjectiveFunction> a(s.point, s.deltas, bowl, 1e-12, 0);
    bool converged = false;
    for (int call = 0; call < 20 && !converged; call++) {
        int budget = 1000;
        converged = a.anneal(budget, 0.0);
    }
    ASSERT_TRUE(converged);
    EXPECT_NEAR(a.bestPoint[0], 1.0, 1e-5);
    EXPECT_NEAR(a.bestPoint[1], 2.0, 1e-5);
    EXPECT_NEAR(a.bestValue, 1.0, 1e-10);
}

TEST(AmebsaAnneal, PathAtTemperatureZeroDoesNotDependOnSeed) {
    Start s({0.0, 0.0}, {1.0, 1.0});
    visited.clear();
    Amebsa<ObjectiveFunction> a(s.point, s.deltas, bowl, 1e-12, 1);
    int budget = 200;
    a.anneal(budget, 0.0);
    const std::vector<double> first = visited;
    visited.clear();
    Amebsa<ObjectiveFunction> b(s.point, s.deltas, bowl, 1e-12, 987654321);
    budget = 200;
    b.anneal(budget, 0.0);
    EXPECT_EQ(first, visited);
}

TEST(AmebsaAnneal, SameSeedGivesSameTrialsAtPositiveTemperature) {
    Start s({0.0, 0.0, 0.0}, {1.0, 1.0, 1.0});
    visited.clear();
    Amebsa<ObjectiveFunction> a(s.point, s.deltas, bowl, 1e-12, 77);
    int budget = 300;
    a.anneal(budget, 5.0);
    const std::vector<double> first = visited;
    visited.clear();
    Amebsa<ObjectiveFunction> b(s.point, s.deltas, bowl, 1e-12, 77);
    budget = 300;
    b.anneal(budget, 5.0);
    EXPECT_EQ(first, visited);
}

TEST(AmebsaBudget, OneUnitPerEvaluationAndStopsJustBelowZero) {
    for (int n = 1; n <= 4; n++) {
        NRvector<double> point(n);
        NRvector<double> deltas(n);
        for (int j = 0; j < n; j++) {
            point[j] = 10.0;
            deltas[j] = 1.0;
        }
        // A high temperature keeps the noisy values far apart, so the call cannot converge.
        Amebsa<ObjectiveFunction> a(point, deltas, bowl, 1e-12, 3);
        evaluations = 0;
        int budget = 1000;
        EXPECT_FALSE(a.anneal(budget, 1e6));
        EXPECT_EQ(evaluations, 1000 - budget) << "n = " << n;
        EXPECT_LE(budget, -1);
        EXPECT_GE(budget, -2 - n);
    }
}

TEST(AmebsaAnneal, ConstantObjectiveConvergesWithoutTrials) {
    Start s({1.0, 1.0}, {1.0, 1.0});
    Amebsa<ObjectiveFunction> a(s.point, s.deltas, constant, 1e-6, 0);
    evaluations = 0;
    int budget = 1000;
    EXPECT_TRUE(a.anneal(budget, 0.0));
    EXPECT_EQ(evaluations, 0);
    EXPECT_EQ(budget, 1000);
    EXPECT_EQ(a.bestValue, 1.7976931348623157e308);
}

TEST(AmebsaAnneal, RowZeroHoldsTheBestRankedVertexAndItsValue) {
    Start s({3.0, -1.0}, {0.5, 0.5});
    Amebsa<ObjectiveFunction> a(s.point, s.deltas, bowl, 1e-12, 5);
    int budget = 50;
    a.anneal(budget, 0.0);
    NRvector<double> row0(2);
    row0[0] = a.simplex[0][0];
    row0[1] = a.simplex[0][1];
    EXPECT_EQ(a.vertexValues[0], bowl(row0));
    for (int i = 1; i < a.vertexCount; i++) {
        EXPECT_LE(a.vertexValues[0], a.vertexValues[i]);
    }
}

TEST(AmebsaAnneal, OneDimensionalSimplex) {
    Start s({4.0}, {0.3});
    Amebsa<ObjectiveFunction> a(s.point, s.deltas, bowl, 1e-12, 0);
    bool converged = false;
    for (int call = 0; call < 20 && !converged; call++) {
        int budget = 1000;
        converged = a.anneal(budget, 0.0);
    }
    EXPECT_TRUE(converged);
    EXPECT_NEAR(a.bestPoint[0], 1.0, 1e-5);
}

// Two vertices with equal values have no spread: the call converges at once, even when they
// straddle the minimum (here 0 and 2 around 1).
TEST(AmebsaAnneal, EqualVertexValuesCountAsConverged) {
    Start s({4.0}, {1.0});
    Amebsa<ObjectiveFunction> a(s.point, s.deltas, bowl, 1e-12, 0);
    int budget = 1000;
    EXPECT_TRUE(a.anneal(budget, 0.0));
    EXPECT_EQ(a.bestValue, 2.0);
    EXPECT_EQ(a.bestPoint[0], 0.0);
    EXPECT_EQ(1000 - budget, 4);
}

TEST(AmebsaAnneal, NaNTrialsAreNeverAcceptedNorBest) {
    Start s({-1.0}, {1.0});
    Amebsa<ObjectiveFunction> a(s.point, s.deltas, nanRight, 1e-12, 0);
    int budget = 500;
    a.anneal(budget, 0.0);
    EXPECT_FALSE(std::isnan(a.bestValue));
    EXPECT_LE(a.bestPoint[0], 0.5);
    for (int i = 0; i < a.vertexCount; i++) {
        EXPECT_FALSE(std::isnan(a.vertexValues[i]));
    }
}

// A saved annealer continues exactly: the same trials, the same simplex and best, the same
// generator words; rebuilding it evaluates nothing.
TEST(AmebsaState, RestoredAnnealerContinuesTheSameTrials) {
    Start s({0.5, -0.5, 2.0}, {1.0, 0.5, 0.25});
    Amebsa<ObjectiveFunction> a(s.point, s.deltas, bowl, 1e-9, 2026);
    int budget = 150;
    a.anneal(budget, 3.0);
    const Amebsa<ObjectiveFunction>::State saved = a.saveState();
    visited.clear();
    Amebsa<ObjectiveFunction> b(saved, bowl, 1e-9);
    EXPECT_TRUE(visited.empty());
    for (double temperature : {2.0, 1.0, 0.5}) {
        visited.clear();
        budget = 150;
        const bool first = a.anneal(budget, temperature);
        const std::vector<double> trials = visited;
        visited.clear();
        int otherBudget = 150;
        EXPECT_EQ(b.anneal(otherBudget, temperature), first);
        EXPECT_EQ(visited, trials);
        EXPECT_EQ(otherBudget, budget);
    }
    const Amebsa<ObjectiveFunction>::State endA = a.saveState();
    const Amebsa<ObjectiveFunction>::State endB = b.saveState();
    EXPECT_EQ(endA.simplex, endB.simplex);
    EXPECT_EQ(endA.vertexValues, endB.vertexValues);
    EXPECT_EQ(endA.bestPoint, endB.bestPoint);
    EXPECT_EQ(endA.bestValue, endB.bestValue);
    EXPECT_EQ(endA.generator, endB.generator);
    EXPECT_EQ(endA.negTemperature, -0.5);
    EXPECT_NE(endA.generator, saved.generator);
}
