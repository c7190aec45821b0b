// The four moves of the simplex, worked by hand at temperature 0 on small quadratics in two
// dimensions. Every coordinate and value below is a short binary fraction, so the expected
// points are exact. Each anneal call starts with a budget of 0: it makes one move (the budget
// falls to -2 or below) and stops at the next ranking.
//
// For n = 2 a trial at factor k is c + k (w - c), with w the current worst vertex and c the
// centroid of the other two: reflection 2c - w, expansion 2w - c, contraction (c + w) / 2.
#include "optimiser/amebsa.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Point = std::pair<double, double>;

std::vector<Point> evaluated;

Point pointOf(const NRvector<double>& x) {
    return {x[0], x[1]};
}

// 1 + x^2 + y^2: minimum 1 at the origin.
double bowl(const NRvector<double>& x) {
    evaluated.push_back(pointOf(x));
    return 1.0 + x[0] * x[0] + x[1] * x[1];
}

// 1 + (x + 1)^2 + (y + 2)^2: minimum 1 at (-1, -2).
double shiftedBowl(const NRvector<double>& x) {
    evaluated.push_back(pointOf(x));
    const double dx = x[0] + 1.0;
    const double dy = x[1] + 2.0;
    return 1.0 + dx * dx + dy * dy;
}

// 10 + x^2 - y^2: a saddle, falling off along y, so that a contraction can come out worse than
// the worst vertex and the simplex shrinks.
double saddle(const NRvector<double>& x) {
    evaluated.push_back(pointOf(x));
    return 10.0 + x[0] * x[0] - x[1] * x[1];
}

NRmatrix<double> simplexOf(const std::vector<Point>& vertices) {
    NRmatrix<double> m(static_cast<int>(vertices.size()), 2);
    for (int i = 0; i < m.rows(); i++) {
        m[i][0] = vertices[static_cast<std::size_t>(i)].first;
        m[i][1] = vertices[static_cast<std::size_t>(i)].second;
    }
    return m;
}

struct Move {
    std::vector<Point> trials;  // points evaluated by the call, in order
    std::vector<Point> simplex; // rows after the call
    std::vector<double> values; // vertex values after the call
    Point bestPoint;
    double bestValue;
    int budget;     // left after the call
    bool converged; // what anneal returned
};

// Builds the annealer on `vertices` (evaluating them), then runs one anneal call at
// temperature 0 with a budget of 0.
Move oneMove(ObjectiveFunction& f, const std::vector<Point>& vertices) {
    Amebsa<ObjectiveFunction> a(simplexOf(vertices), f, 1e-12, 12345);
    evaluated.clear();
    Move m;
    m.budget = 0;
    m.converged = a.anneal(m.budget, 0.0);
    m.trials = evaluated;
    for (int i = 0; i < a.vertexCount; i++) {
        m.simplex.push_back({a.simplex[i][0], a.simplex[i][1]});
        m.values.push_back(a.vertexValues[i]);
    }
    m.bestPoint = pointOf(a.bestPoint);
    m.bestValue = a.bestValue;
    return m;
}

} // namespace

TEST(SimplexMoves, ReflectionBetweenBestAndNextHighIsKeptAlone) {
    // Vertices (0,0) f 1 (best), (2,1) f 6 (next-high), (2,2) f 9 (worst). c = (1, 0.5);
    // reflection 2c - w = (0, -1), f 2: 1 < 2 < 6, so it replaces the worst vertex and no
    // further trial is made; the budget goes -2 then +1.
    const Move m = oneMove(bowl, {{0, 0}, {2, 1}, {2, 2}});
    EXPECT_EQ(m.trials, (std::vector<Point>{{0, -1}}));
    EXPECT_EQ(m.simplex, (std::vector<Point>{{0, 0}, {2, 1}, {0, -1}}));
    EXPECT_EQ(m.values, (std::vector<double>{1, 6, 2}));
    EXPECT_EQ(m.bestPoint, Point(0, -1));
    EXPECT_EQ(m.bestValue, 2.0);
    EXPECT_EQ(m.budget, -1);
    EXPECT_FALSE(m.converged);
}

TEST(SimplexMoves, ReflectionBelowTheBestIsExpanded) {
    // Vertices (0,1) f 11 (best), (1,1) f 14, (1,2) f 21 (worst). c = (0.5, 1); reflection
    // (0, 0), f 6 <= 11: accepted, then expanded from it: 2 (0,0) - c = (-0.5, -1), f 2.25,
    // accepted in turn. The final ranking puts the expanded vertex in row 0 (rows 0 and 2
    // exchanged).
    const Move m = oneMove(shiftedBowl, {{0, 1}, {1, 1}, {1, 2}});
    EXPECT_EQ(m.trials, (std::vector<Point>{{0, 0}, {-0.5, -1}}));
    EXPECT_EQ(m.simplex, (std::vector<Point>{{-0.5, -1}, {1, 1}, {0, 1}}));
    EXPECT_EQ(m.values, (std::vector<double>{2.25, 14, 11}));
    EXPECT_EQ(m.bestPoint, Point(-0.5, -1));
    EXPECT_EQ(m.bestValue, 2.25);
    EXPECT_EQ(m.budget, -2);
}

TEST(SimplexMoves, ExpansionThatIsWorseIsRejected) {
    // Same as above on 1 + x^2 + y^2: reflection (0,0) f 1 <= 2 (best (0,1)), expansion
    // (-0.5, -1) f 2.25 > 1 is evaluated but neither kept nor the best.
    const Move m = oneMove(bowl, {{0, 1}, {1, 1}, {1, 2}});
    EXPECT_EQ(m.trials, (std::vector<Point>{{0, 0}, {-0.5, -1}}));
    EXPECT_EQ(m.simplex, (std::vector<Point>{{0, 0}, {1, 1}, {0, 1}}));
    EXPECT_EQ(m.values, (std::vector<double>{1, 3, 2}));
    EXPECT_EQ(m.bestPoint, Point(0, 0));
    EXPECT_EQ(m.bestValue, 1.0);
}

TEST(SimplexMoves, ContractionWorksFromTheAcceptedReflection) {
    // Vertices (0,0) f 1, (1,0) f 2, (2,2) f 9 (worst). c = (0.5, 0); reflection (-1, -2),
    // f 6: better than the worst (accepted) but not than the next-high 2, so contract from
    // the reflected point: (c + (-1,-2)) / 2 = (-0.25, -1), f 2.0625 < 6, accepted.
    const Move m = oneMove(bowl, {{0, 0}, {1, 0}, {2, 2}});
    EXPECT_EQ(m.trials, (std::vector<Point>{{-1, -2}, {-0.25, -1}}));
    EXPECT_EQ(m.simplex, (std::vector<Point>{{0, 0}, {1, 0}, {-0.25, -1}}));
    EXPECT_EQ(m.values, (std::vector<double>{1, 2, 2.0625}));
    EXPECT_EQ(m.bestValue, 2.0625);
    EXPECT_EQ(m.budget, -2);
}

TEST(SimplexMoves, ContractionAfterARejectedReflection) {
    // Vertices (0,0) f 1, (1,0) f 2, (0,3) f 10 (worst). c = (0.5, 0); reflection (1, -3),
    // f 11 >= 10, rejected; contraction from the worst vertex itself: (0.25, 1.5),
    // f 1 + 0.0625 + 2.25 = 3.3125 < 10, accepted.
    const Move m = oneMove(bowl, {{0, 0}, {1, 0}, {0, 3}});
    EXPECT_EQ(m.trials, (std::vector<Point>{{1, -3}, {0.25, 1.5}}));
    EXPECT_EQ(m.simplex, (std::vector<Point>{{0, 0}, {1, 0}, {0.25, 1.5}}));
    EXPECT_EQ(m.values, (std::vector<double>{1, 2, 3.3125}));
    EXPECT_EQ(m.bestPoint, Point(0.25, 1.5));
    EXPECT_EQ(m.bestValue, 3.3125);
}

TEST(SimplexMoves, FailedContractionShrinksTowardsTheBest) {
    // Saddle 10 + x^2 - y^2. Vertices (0,2) f 6, (0,-2) f 6, (1,1.5) f 8.75. The tie of
    // vertices 0 and 1 makes 0 the best; vertex 2 is the worst, vertex 1 the next-high.
    // c = (0, 0); reflection (-1, -1.5), f 8.75: not below the worst value, rejected (but the
    // best trial so far); contraction (0.5, 0.75), f 9.6875 >= 8.75: shrink. Vertices 1 and 2
    // move halfway to (0,2): (0, 0) f 10 and (0.5, 1.75) f 10 + 0.25 - 3.0625 = 7.1875. The
    // budget loses 2 for the trials and n = 2 for the shrink.
    const Move m = oneMove(saddle, {{0, 2}, {0, -2}, {1, 1.5}});
    EXPECT_EQ(m.trials, (std::vector<Point>{{-1, -1.5}, {0.5, 0.75}, {0, 0}, {0.5, 1.75}}));
    EXPECT_EQ(m.simplex, (std::vector<Point>{{0, 2}, {0, 0}, {0.5, 1.75}}));
    EXPECT_EQ(m.values, (std::vector<double>{6, 10, 7.1875}));
    // Shrink evaluations never count as trials: the best is still the reflection.
    EXPECT_EQ(m.bestPoint, Point(-1, -1.5));
    EXPECT_EQ(m.bestValue, 8.75);
    EXPECT_EQ(m.budget, -4);
    EXPECT_FALSE(m.converged);
}

TEST(SimplexMoves, ShrinkAroundABestVertexInALaterRow) {
    // Saddle 10 + x^2 - y^2. Vertices (0,-2) f 6, (0,2.5) f 3.75 (best), (1,1.5) f 8.75
    // (worst). c = (0, 0.25); reflection (-1, -1), f 10, rejected; contraction
    // ((0,0.25) + (1,1.5)) / 2 = (0.5, 0.875), f 10 + 0.25 - 0.765625 = 9.484375 >= 8.75
    // (and the best trial so far): shrink towards (0, 2.5), row 0 to (0, 0.25) f 9.9375, row
    // 2 to (0.5, 2) f 6.25. The final ranking exchanges row 1 (f 3.75) into row 0.
    const Move m = oneMove(saddle, {{0, -2}, {0, 2.5}, {1, 1.5}});
    EXPECT_EQ(m.trials, (std::vector<Point>{{-1, -1}, {0.5, 0.875}, {0, 0.25}, {0.5, 2}}));
    EXPECT_EQ(m.simplex, (std::vector<Point>{{0, 2.5}, {0, 0.25}, {0.5, 2}}));
    EXPECT_EQ(m.values, (std::vector<double>{3.75, 9.9375, 6.25}));
    EXPECT_EQ(m.bestPoint, Point(0.5, 0.875));
    EXPECT_EQ(m.bestValue, 9.484375);
    EXPECT_EQ(m.budget, -4);
}

// The three comparisons of a move at their ties: a reflection as good as the best vertex is
// expanded, one as bad as the next-high vertex is contracted, and a contraction as bad as the
// worst value shrinks the simplex.
TEST(SimplexMoves, TiesChooseTheNextMove) {
    // Vertices (1,0) f 2, (0,2) f 5, (2,2) f 9; c = (0.5, 1); reflection (-1, 0), f 2 = the
    // best: expansion 2 (-1,0) - c = (-2.5, -1), f 8.25, rejected.
    Move m = oneMove(bowl, {{1, 0}, {0, 2}, {2, 2}});
    EXPECT_EQ(m.trials, (std::vector<Point>{{-1, 0}, {-2.5, -1}}));

    // Vertices (0,0) f 1, (2,0) f 5, (2,2) f 9; c = (1, 0); reflection (0, -2), f 5 = the
    // next-high: accepted, then contracted from it: (0.5, -1), f 2.25, accepted.
    m = oneMove(bowl, {{0, 0}, {2, 0}, {2, 2}});
    EXPECT_EQ(m.trials, (std::vector<Point>{{0, -2}, {0.5, -1}}));
    EXPECT_EQ(m.simplex, (std::vector<Point>{{0, 0}, {2, 0}, {0.5, -1}}));

    // Saddle 10 + x^2 - y^2, vertices (0,2) f 6, (0,-2) f 6, (1,1) f 10; c = (0, 0). The
    // saddle is flat along the diagonal: reflection (-1, -1) and contraction (0.5, 0.5) both
    // give 10, the worst value itself, so the simplex shrinks towards (0, 2): (0, 0) f 10 and
    // (0.5, 1.5) f 10 + 0.25 - 2.25 = 8.
    m = oneMove(saddle, {{0, 2}, {0, -2}, {1, 1}});
    EXPECT_EQ(m.trials, (std::vector<Point>{{-1, -1}, {0.5, 0.5}, {0, 0}, {0.5, 1.5}}));
    EXPECT_EQ(m.simplex, (std::vector<Point>{{0, 2}, {0, 0}, {0.5, 1.5}}));
    EXPECT_EQ(m.values, (std::vector<double>{6, 10, 8}));
    EXPECT_EQ(m.budget, -4);
}
