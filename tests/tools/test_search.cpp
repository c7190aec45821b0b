// The stop rule of the searches and their global phases, on model 1.
#include "tools/analysis/search.h"

#include "data/builtin_transect.h"
#include "models/model_context.h"
#include "tools/analysis/derived_start.h"
#include "tools/formats/number_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {

std::vector<StartOutcome> withValues(const std::vector<double>& values) {
    std::vector<StartOutcome> outcomes(values.size());
    for (std::size_t i = 0; i < values.size(); i++) {
        outcomes[i].value = values[i];
    }
    return outcomes;
}

const ModelEntry& model1() {
    return *findModel(1);
}

// The built-in transect and boxes.
const DataContext builtIn{};

} // namespace

TEST(SearchStopRule, TheFirstPrefixInWhichTwoAgreeOnItsBest) {
    // 480.139 and 480.145 agree within 0.01; 480.16 does not.
    const auto outcomes = withValues({753.19, 480.139, 480.16, 480.145, 480.1});
    EXPECT_EQ(confirmations(builtIn, model1(), outcomes, 2), 1);
    EXPECT_EQ(confirmations(builtIn, model1(), outcomes, 3), 1);
    EXPECT_EQ(confirmations(builtIn, model1(), outcomes, 4), 2);
    EXPECT_EQ(convergedCount(builtIn, model1(), outcomes), 4u);
    // A better fifth would make the best unconfirmed again, but the run has stopped at four.
    EXPECT_EQ(confirmations(builtIn, model1(), outcomes, 5), 1);
    // Two searches ending on the same value stop the run at once.
    EXPECT_EQ(convergedCount(builtIn, model1(), withValues({500.0, 500.005, 480.0})), 2u);
    // Never converged: every search is kept.
    EXPECT_EQ(convergedCount(builtIn, model1(), withValues({500.0, 490.0, 480.0})), 3u);
    EXPECT_EQ(convergedCount(builtIn, model1(), withValues({500.0})), 1u);
    EXPECT_EQ(convergedCount(builtIn, model1(), {}), 0u);
}

TEST(SearchStopRule, PenaltiesAndValuesThatAreNotNumbersConfirmNothing) {
    // Model 1's penalty unit is 1e5: two searches stuck on penalties agree on no likelihood.
    const auto penalties = withValues({1e5, 1e5, NAN, NAN, HUGE_VAL, HUGE_VAL});
    EXPECT_EQ(confirmations(builtIn, model1(), penalties, penalties.size()), 0);
    EXPECT_EQ(convergedCount(builtIn, model1(), penalties), penalties.size());
    // A penalty does not hide a likelihood that two reached.
    EXPECT_EQ(convergedCount(builtIn, model1(), withValues({1e5, 600.0, NAN, 600.001})), 4u);
}

TEST(SearchSeeds, EverySearchHasItsOwnStreamFixedByTheRunsSeed) {
    EXPECT_EQ(searchSeed(1, 0), searchSeed(1, 0));
    EXPECT_NE(searchSeed(1, 0), searchSeed(1, 1));
    EXPECT_NE(searchSeed(1, 0), searchSeed(2, 0));
    // Seed 0 is a seed like any other.
    EXPECT_NE(searchSeed(0, 0), searchSeed(0, 1));
}

TEST(SearchStarts, TheDerivedStartTakesThePlaceOfTheFirstDesignPointWithoutAUserStart) {
    SearchSettings settings;
    settings.searches = 3;
    settings.seed = 4;
    const std::vector<Region> regions = defaultRegions(builtIn, model1());
    const std::vector<std::vector<double>> design =
        designStarts(model1(), regions, 3, 4, Design::strength);
    const DerivedStart derived =
        deriveStart(model1(), builtIn.box(1), builtIn.data(), derivedBorders(builtIn.data()));
    // Model 1 on the built-in transect: mild underdominance, 1.05 for both homozygotes.
    EXPECT_EQ(derived.start[0], 1.05);
    const SearchStarts starts = searchStarts(builtIn, model1(), settings, {}, {}, "");
    ASSERT_EQ(starts.points.size(), 3u);
    EXPECT_EQ(starts.labels[0], "derived start");
    EXPECT_EQ(starts.points[0], derived.start);
    EXPECT_EQ(starts.steps[0], derived.steps);
    EXPECT_EQ(starts.labels[1], "search 2");
    EXPECT_EQ(starts.points[1], design[1]);
    EXPECT_TRUE(starts.steps[1].empty());
    EXPECT_EQ(starts.points[2], design[2]);

    // A user's start vector comes first instead, and every design point follows it.
    const SearchStarts user = searchStarts(builtIn, model1(), settings, {1.1, 1.1, 0.3, 10.0},
                                           {0.1, 0.1, 0.05, 2.0}, "startvec1.txt");
    ASSERT_EQ(user.points.size(), 4u);
    EXPECT_EQ(user.labels[0], "startvec1.txt");
    EXPECT_EQ(user.labels[1], "search 1");
    EXPECT_EQ(user.points[1], design[0]);

    // Held regions hold the derived start too: at the region's value, with no step.
    settings.regions = regions;
    settings.regions[0] = {1.2, 1.2, true};
    settings.regions[3] = {2.0, 5.0, true};
    const SearchStarts held = searchStarts(builtIn, model1(), settings, {}, {}, "");
    EXPECT_EQ(held.points[0][0], 1.2);
    EXPECT_EQ(held.steps[0][0], 0.0);
    EXPECT_LE(held.points[0][3], 5.0);
    EXPECT_NE(held.steps[0][3], 0.0);

    // Without it, the design alone.
    settings.regions.clear();
    settings.derivedStart = false;
    const SearchStarts plain = searchStarts(builtIn, model1(), settings, {}, {}, "");
    EXPECT_EQ(plain.labels[0], "search 1");
    EXPECT_EQ(plain.points[0], design[0]);
}

TEST(GlobalPhase, EveryMethodStaysInItsRegionsAndBudgetAndRepeatsItself) {
    std::ostream discard(nullptr);
    SimulationContext quiet;
    quiet.diagnostics = &discard;
    const ModelContext context = builtIn.models(nullptr, quiet);
    // F and sigma free near the optimum where the fitnesses are held (F 0.864, sigma 1), where
    // the settled row keeps both alleles and settles within 500 generations.
    const std::vector<Region> regions = {
        {0.8, 0.8, true}, {0.8, 0.8, true}, {0.8, 0.9, false}, {1.0, 1.2, true}};
    const std::vector<double> start = {0.8, 0.8, 0.85, 1.1};
    for (GlobalMethod method : {GlobalMethod::simplex, GlobalMethod::anneal, GlobalMethod::crs2,
                                GlobalMethod::mlsl, GlobalMethod::cmaes, GlobalMethod::xnes}) {
        const char* name = globalMethodName(method);
        GlobalMethod parsed;
        ASSERT_TRUE(parseGlobalMethod(name, parsed));
        EXPECT_EQ(parsed, method);
        const PhaseResult a = runGlobalPhase(context, model1(), ObjectiveKind::settled, regions,
                                             start, method, 40, 7);
        const PhaseResult b = runGlobalPhase(context, model1(), ObjectiveKind::settled, regions,
                                             start, method, 40, 7);
        EXPECT_EQ(a.status, "") << name;
        EXPECT_LE(a.evaluations, 40) << name;
        EXPECT_GE(a.evaluations, 1) << name;
        EXPECT_EQ(a.value, b.value) << name;
        EXPECT_EQ(a.point, b.point) << name;
        EXPECT_EQ(a.point[0], 0.8) << name;
        EXPECT_GE(a.point[2], 0.8) << name;
        EXPECT_LE(a.point[2], 0.9) << name;
        EXPECT_GE(a.point[3], 1.0) << name;
        EXPECT_LE(a.point[3], 1.2) << name;
        // Never worse than the start, which every method evaluates first.
        EXPECT_LE(a.value, runGlobalPhase(context, model1(), ObjectiveKind::settled, regions, start,
                                          method, 1, 7)
                               .value)
            << name;
    }
    GlobalMethod unknown = GlobalMethod::cmaes;
    EXPECT_FALSE(parseGlobalMethod("CMAES", unknown));
    EXPECT_EQ(unknown, GlobalMethod::cmaes);
}

TEST(SearchContext, EveryWorkerScoresTheTransectOfTheRun) {
    // The built-in transect with its counts doubled: -lnL doubles too (twice the sample at the
    // same frequencies), so a search that read the built-in transect on any thread would show.
    DataContext doubled;
    doubled.path = "doubled.tsv";
    doubled.transect = builtInTransectValue();
    for (std::vector<int>* counts :
         {&doubled.transect.countSS, &doubled.transect.countSI, &doubled.transect.countII}) {
        for (int& n : *counts) {
            n *= 2;
        }
    }
    SearchSettings settings;
    settings.searches = 2;
    settings.budget = 24;
    settings.hops = 0;
    // The default global phase draws from NLopt's generator, which must be the worker's own.
    for (GlobalMethod method : {GlobalMethod::simplex, SearchSettings().method}) {
        settings.method = method;
        settings.jobs = 1;
        const ExploreMap alone = runSearch(doubled, model1(), settings);
        settings.jobs = 2;
        const ExploreMap shared = runSearch(doubled, model1(), settings);
        ASSERT_EQ(alone.outcomes.size(), shared.outcomes.size());
        ASSERT_FALSE(alone.outcomes.empty());
        for (std::size_t i = 0; i < alone.outcomes.size(); i++) {
            EXPECT_EQ(alone.outcomes[i].value, shared.outcomes[i].value) << i;
            EXPECT_EQ(alone.outcomes[i].point, shared.outcomes[i].point) << i;
        }
    }
    settings.method = GlobalMethod::simplex;
    // One search from the same start on each transect: the doubled one scores more.
    const SearchStarts starts = searchStarts(builtIn, model1(), settings, {}, {}, "");
    const StartOutcome once = runOneSearch(builtIn, model1(), settings, starts, 0);
    const StartOutcome twice = runOneSearch(doubled, model1(), settings, starts, 0);
    EXPECT_GT(twice.value, once.value);
}

TEST(SearchScale, FitnessesAreSearchedAsSelectionStrengthsWeakAndStrongAlike) {
    const ModelEntry& m = model1();
    const Region fitness{1.0 / 101.0, 101.0, true};
    // The middle is neutrality, the ends the region's edges.
    EXPECT_DOUBLE_EQ(fromSearchUnit(m, 0, fitness, 0.5), std::exp(1e-4));
    EXPECT_NEAR(fromSearchUnit(m, 0, fitness, 1.0), 101.0, 1e-12);
    EXPECT_NEAR(fromSearchUnit(m, 1, fitness, 0.0), 1.0 / 101.0, 1e-15);
    // Three quarters of the way: |ln w| = sqrt(1e-4 x ln 101) = 0.02148, w = 1.0217.
    EXPECT_NEAR(fromSearchUnit(m, 0, fitness, 0.75), std::exp(std::sqrt(1e-4 * std::log(101.0))),
                1e-12);
    EXPECT_NEAR(fromSearchUnit(m, 0, fitness, 0.25), std::exp(-std::sqrt(1e-4 * std::log(101.0))),
                1e-12);
    for (double w : {0.02, 0.5, 0.999, 1.001, 1.3, 96.0}) {
        EXPECT_NEAR(fromSearchUnit(m, 0, fitness, toSearchUnit(m, 0, fitness, w)), w, 1e-9 * w);
    }
    EXPECT_EQ(toSearchUnit(m, 0, fitness, 5000.0), 1.0);
    EXPECT_EQ(toSearchUnit(m, 0, fitness, 0.0), 0.0);
    EXPECT_EQ(toSearchUnit(m, 0, fitness, NAN), 0.0);
    // Selfing and sigma stay on their regions' scales; so does a fitness region not around 1.
    const Region selfing{0.0, 1.0, false};
    EXPECT_DOUBLE_EQ(fromSearchUnit(m, 2, selfing, 0.3), 0.3);
    const Region sigma{1.0, 100.0, true};
    EXPECT_DOUBLE_EQ(fromSearchUnit(m, 3, sigma, 0.5), 10.0);
    EXPECT_DOUBLE_EQ(fromSearchUnit(m, 0, Region{1.0, 4.0, true}, 0.5), 2.0);
}

TEST(SearchScale, PolishStepsAreAFractionOfTheSearchScaleAtThePoint) {
    const ModelEntry& m = model1();
    const std::vector<Region> regions = {{1.0 / 101.0, 101.0, true},
                                         {1.0 / 101.0, 101.0, true},
                                         {0.0, 1.0, false},
                                         {1.0, 100.0, true}};
    // A hundredth of the strength scale multiplies |ln w| by (ln 101 / 1e-4)^(1/50) = 1.2396
    // upwards (away from neutrality), so a fitness below 1 steps towards 1; sigma moves by a
    // hundredth of its log region (x 100^0.01 = 1.0471); F by 0.01, downwards at 0.995 where
    // upwards would leave the region.
    const double grow = std::pow(std::log(101.0) / 1e-4, 0.02);
    const double weak = std::exp(0.0025);
    const std::vector<double> steps = searchSteps(m, regions, {weak, 0.98, 0.995, 10.0}, 0.01);
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_NEAR(steps[0], std::exp(0.0025 * grow) - weak, 1e-12);
    EXPECT_NEAR(steps[1], std::exp(std::log(0.98) / grow) - 0.98, 1e-12);
    EXPECT_NEAR(steps[2], -0.01, 1e-12);
    EXPECT_NEAR(steps[3], 10.0 * std::pow(100.0, 0.01) - 10.0, 1e-9);
    // Weak selection takes small steps, strong selection large ones: w = 1.0025 moves by about
    // 6e-4, w = 20 by about 21 (to 41), and at the top of the region the step points back down.
    EXPECT_LT(std::fabs(steps[0]), 1e-3);
    const std::vector<double> strong = searchSteps(m, regions, {20.0, 101.0, 0.5, 1.0}, 0.01);
    EXPECT_GT(strong[0], 10.0);
    EXPECT_LT(strong[1], -10.0);
    EXPECT_GT(strong[3], 0.0);
    // Beyond its region a point takes the step of the region's edge; a fixed one none.
    const std::vector<double> outside = searchSteps(m, regions, {5000.0, 1.0, 0.5, 10.0}, 0.01);
    EXPECT_DOUBLE_EQ(outside[0], strong[1]);
    std::vector<Region> fixed = regions;
    fixed[2] = {0.3, 0.3, false};
    EXPECT_EQ(searchSteps(m, fixed, {weak, 0.98, 0.3, 10.0}, 0.01)[2], 0.0);
}

// Models 1 and 7 have one set of fitnesses on the whole row; every other model names its
// fitnesses by region.
TEST(RidgeSimplex, OnlyTheOneRegionModelsHaveTheRidgeOfEqualFitnesses) {
    for (int number = 1; number <= modelCount; number++) {
        const RidgePair pair = ridgePair(*findModel(number));
        if (number == 1 || number == 7) {
            EXPECT_EQ(pair.ss, 0) << "model " << number;
            EXPECT_EQ(pair.ii, 1) << "model " << number;
            // Only the kernel grid's ridge is exact.
            EXPECT_EQ(pair.exact, number == 7) << "model " << number;
        } else {
            EXPECT_EQ(pair.ss, -1) << "model " << number;
            EXPECT_EQ(pair.ii, -1) << "model " << number;
        }
    }
}

// Model 1's ridge lies where wII is a little below wSS (1.0016122 and 1.0014780): a walk along
// it drops wII from its points and puts it back at the same offset from wSS, so that every point
// it tries lies as near the ridge as its start; at wSS = wII (model 7) they stay exactly equal.
TEST(RidgeSimplex, AWalkKeepsWIIAtItsOffsetFromWSS) {
    const RidgeWalk walk = ridgeWalk(ridgePair(*findModel(1)), {1.0016, 1.0014, 0.5, 12.0});
    EXPECT_DOUBLE_EQ(walk.offset, 1.0014 - 1.0016);
    EXPECT_EQ(walk.reduce({1.0016, 1.0014, 0.5, 12.0}), (std::vector<double>{1.0016, 0.5, 12.0}));
    const std::vector<double> moved = walk.expand({1.1016, 0.4, 10.0});
    ASSERT_EQ(moved.size(), 4u);
    EXPECT_EQ(moved[0], 1.1016);
    EXPECT_DOUBLE_EQ(moved[1], 1.1014);
    EXPECT_EQ(moved[2], 0.4);
    EXPECT_EQ(moved[3], 10.0);
    const RidgeWalk equal = ridgeWalk(ridgePair(*findModel(7)), {1.1, 1.1, 0.4, 8.0, 430.0});
    EXPECT_EQ(equal.offset, 0.0);
    const std::vector<double> at = equal.expand({1.0512345, 0.3, 10.0, 450.0});
    EXPECT_EQ(at[0], at[1]);
    // Without a pair (model 8) the walk is the whole point.
    const RidgeWalk none = ridgeWalk(ridgePair(*findModel(8)), {1.0, 2.0, 3.0});
    EXPECT_EQ(none.reduce({1.0, 2.0, 3.0}), (std::vector<double>{1.0, 2.0, 3.0}));
    EXPECT_EQ(none.expand({1.0, 2.0, 3.0}), (std::vector<double>{1.0, 2.0, 3.0}));
}

TEST(SearchProgress, EachStageIsToldWithTheSearchsEvaluationsSoFar) {
    SearchSettings settings;
    settings.searches = 1;
    settings.budget = 30;
    settings.hops = 1;
    settings.method = GlobalMethod::simplex;
    settings.derivedStart = false;
    const SearchStarts starts = searchStarts(builtIn, model1(), settings, {}, {}, "");
    std::vector<std::string> stages;
    std::vector<long> spent;
    std::vector<double> values;
    const StartOutcome told =
        runOneSearch(builtIn, model1(), settings, starts, 0,
                     [&](const std::string& stage, long evaluations, double value) {
                         stages.push_back(stage);
                         spent.push_back(evaluations);
                         values.push_back(value);
                     });
    const StartOutcome silent = runOneSearch(builtIn, model1(), settings, starts, 0);
    // Telling changes nothing of the search.
    EXPECT_EQ(told.value, silent.value);
    EXPECT_EQ(told.point, silent.point);
    EXPECT_EQ(told.evaluations, silent.evaluations);
    ASSERT_GE(stages.size(), 3u);
    EXPECT_EQ(stages.front(), "global phase");
    EXPECT_EQ(stages[1].rfind("polish, ", 0), 0u) << stages[1];
    EXPECT_EQ(stages.back().rfind("hop 1, ", 0), 0u) << stages.back();
    EXPECT_TRUE(std::is_sorted(spent.begin(), spent.end()));
    EXPECT_LE(spent.back(), told.evaluations);
    // The search's best is what one of its stages reached.
    EXPECT_EQ(*std::min_element(values.begin(), values.end()), told.value);

    // --verbose: an indented line per stage before the search's own line.
    std::ostringstream verbose;
    settings.verbose = &verbose;
    runSearch(builtIn, model1(), settings, starts);
    const std::string text = verbose.str();
    EXPECT_EQ(text.rfind("  search 1/1 (search 1), global phase: -lnL ", 0), 0u) << text;
    EXPECT_NE(text.find("\nsearch 1/1 (search 1): -lnL " + format17(told.value)), std::string::npos)
        << text;
}
