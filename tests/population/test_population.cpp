#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "population/mating.h"
#include "population/population.h"
#include "population/simulation_context.h"
#include "population/simulation_report.h"
#include "reference/plain_population.h"

namespace {

void expectTriple(const Genotype& g, double ss, double si, double ii) {
    EXPECT_DOUBLE_EQ(g.SS, ss);
    EXPECT_DOUBLE_EQ(g.SI, si);
    EXPECT_DOUBLE_EQ(g.II, ii);
}

// The same bits (zeros of either sign differ), or two values that are both not a number.
void expectSameValue(double a, double b) {
    if (std::isnan(a) && std::isnan(b)) {
        return;
    }
    std::uint64_t bitsA, bitsB;
    std::memcpy(&bitsA, &a, sizeof a);
    std::memcpy(&bitsB, &b, sizeof b);
    EXPECT_EQ(bitsA, bitsB) << a << " against " << b;
}

void expectSame(const Genotype& a, const Genotype& b) {
    expectSameValue(a.SS, b.SS);
    expectSameValue(a.SI, b.SI);
    expectSameValue(a.II, b.II);
}

Population demeWithVirgins(const Genotype& v) {
    Population deme(Genotype{0.0, 0.0, 0.0});
    deme.virgins = v;
    return deme;
}

// A deme whose virgins and zygotes are given directly, for dispersal tests.
Population demeWithStages(const Genotype& virgins, const Genotype& zygotes) {
    Population deme(Genotype{0.0, 0.0, 0.0});
    deme.virgins = virgins;
    deme.zygotes = zygotes;
    return deme;
}

// A simulation record and the context that passes it down.
struct ReportScope {
    SimulationReport report;
    SimulationContext context{&report, nullptr, nullptr};
};

} // namespace

// ---------------------------------------------------------------- deme records, life cycle

TEST(GenotypeRecord, PrintsThreeLabelledValuesWithoutLineEnd) {
    std::ostringstream os;
    os << Genotype{0.25, 0.5, 0.25};
    EXPECT_EQ(os.str(), "SS: 0.25, SI: 0.5, II: 0.25");
    std::ostringstream fixed;
    fixed.precision(2);
    fixed << std::fixed << Genotype{1, 0, 1.0 / 3};
    EXPECT_EQ(fixed.str(), "SS: 1.00, SI: 0.00, II: 0.33");
}

TEST(PopulationRecord, ConstructorSetsLarvaeOnly) {
    const Population deme(Genotype{0.2, 0.3, 0.5});
    expectTriple(deme.getLarvae(), 0.2, 0.3, 0.5);
    expectTriple(deme.getVirgins(), 0, 0, 0);
    expectTriple(deme.getZygotes(), 0, 0, 0);
    expectTriple(deme.getAdults(), 0, 0, 0);
}

TEST(Selection, EqualFitnessRescalesLarvae) {
    Population deme(Genotype{2, 1, 1});
    deme.goVirgins(Genotype{1, 1, 1});
    expectTriple(deme.getVirgins(), 0.5, 0.25, 0.25);
}

TEST(Selection, WeightsByFitnessOverMeanFitness) {
    Population deme(Genotype{0.25, 0.5, 0.25});
    // Mean fitness 0.5 * 1 + 0.25 * 2 = 1: SS removed, SI and II weighted 1 and 2.
    deme.goVirgins(Genotype{0, 1, 2});
    expectTriple(deme.getVirgins(), 0, 0.5, 0.5);
    expectTriple(deme.getLarvae(), 0.25, 0.5, 0.25);
}

TEST(Mating, NoSelfingGivesHardyWeinberg) {
    Population deme = demeWithVirgins(Genotype{0.5, 0.2, 0.3});
    deme.goZygotes(0.0);
    // p = 0.6, q = 0.4.
    expectTriple(deme.getZygotes(), 0.36, 0.48, 0.16);
}

TEST(Mating, FullSelfingSplitsHeterozygotes) {
    Population deme = demeWithVirgins(Genotype{0.5, 0.2, 0.3});
    deme.goZygotes(1.0);
    expectTriple(deme.getZygotes(), 0.55, 0.1, 0.35);
}

TEST(Mating, HalfSelfingFromHardyWeinbergVirgins) {
    Population deme = demeWithVirgins(Genotype{0.25, 0.5, 0.25});
    deme.goZygotes(0.5);
    EXPECT_EQ(deme.zygotes.SS, 0.3125);
    EXPECT_EQ(deme.zygotes.SI, 0.375);
    EXPECT_EQ(deme.zygotes.II, 0.3125);
}

TEST(MatingByGenotype, EqualRatesMatchSingleRateAndPrintNothing) {
    const Genotype virgins[] = {{0.25, 0.5, 0.25}, {0.7, 0.1, 0.2}, {0.05, 0.35, 0.6}};
    for (const Genotype& v : virgins) {
        for (double F : {0.0, 0.3, 0.9}) {
            Population single = demeWithVirgins(v);
            Population byGenotype = demeWithVirgins(v);
            single.goZygotes(F);
            testing::internal::CaptureStdout();
            byGenotype.goZygotes(std::vector<double>{F, F, F});
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
            EXPECT_NEAR(byGenotype.zygotes.SS, single.zygotes.SS, 1e-15);
            EXPECT_NEAR(byGenotype.zygotes.SI, single.zygotes.SI, 1e-15);
            EXPECT_NEAR(byGenotype.zygotes.II, single.zygotes.II, 1e-15);
        }
    }
}

TEST(MatingByGenotype, SelfingOnlyInHomozygotes) {
    // SS always selfs, SI never, II half the time: the outcrossing pool is SI 0.4 and II 0.15
    // (T = 0.55) with allele S at 0.2 / 0.55.
    Population deme = demeWithVirgins(Genotype{0.3, 0.4, 0.3});
    testing::internal::CaptureStdout();
    deme.goZygotes(std::vector<double>{1.0, 0.0, 0.5});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_NEAR(deme.zygotes.SS, 0.04 / 0.55 + 0.3, 1e-15);
    EXPECT_NEAR(deme.zygotes.SI, 0.14 / 0.55, 1e-15);
    EXPECT_NEAR(deme.zygotes.II, 0.1225 / 0.55 + 0.15, 1e-15);
}

TEST(MatingByGenotype, ReportsZygoteSumOffOne) {
    Population deme = demeWithVirgins(Genotype{0.5, 0.5, 0.5});
    testing::internal::CaptureStdout();
    deme.goZygotes(std::vector<double>{0.0, 0.0, 0.0});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "zygotes off =1.5\n");
    // Reported, not corrected.
    expectTriple(deme.getZygotes(), 0.375, 0.75, 0.375);

    // 2e-7 off is reported (at the stream's default precision), 5e-8 off is not.
    Population slightly = demeWithVirgins(Genotype{0.25, 0.5, 0.25 + 2e-7});
    testing::internal::CaptureStdout();
    slightly.goZygotes(std::vector<double>{0.0, 0.0, 0.0});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "zygotes off =1\n");
    Population barely = demeWithVirgins(Genotype{0.25, 0.5, 0.25 + 5e-8});
    testing::internal::CaptureStdout();
    barely.goZygotes(std::vector<double>{0.0, 0.0, 0.0});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(MatingByGenotype, SumBoundsOfTheFastLoopsFlagWhatTheDemeReports) {
    // The fast loops flag a generation by the smallest and largest zygote sum; a sum off by one
    // unit in the last place at either bound, or one that is not a number, must be flagged
    // exactly when the per-deme check reports it.
    const fast::SumBounds bounds = fast::sumBounds();
    EXPECT_LT(bounds.low, 1.0);
    EXPECT_GT(bounds.high, 1.0);
    EXPECT_NEAR(bounds.low, 1 - 1e-7, 1e-15);
    EXPECT_NEAR(bounds.high, 1 + 1e-7, 1e-15);
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> sums{0.0,      -1.0,     0.5, 1.0,  2.0,         3.0,
                             1 - 1e-7, 1 + 1e-7, inf, -inf, std::nan("")};
    for (double bound : {bounds.low, bounds.high}) {
        double below = bound;
        double above = bound;
        for (int step = 0; step < 3; ++step) {
            sums.push_back(below);
            sums.push_back(above);
            below = std::nextafter(below, 0.0);
            above = std::nextafter(above, 2.0);
        }
    }
    for (double s : sums) {
        const bool flagged = s < bounds.low || s > bounds.high;
        EXPECT_EQ(flagged, fast::sumOff(s, 0.0, 0.0)) << "sum " << s;
    }
    EXPECT_FALSE(fast::sumOff(bounds.low, 0.0, 0.0));
    EXPECT_TRUE(fast::sumOff(std::nextafter(bounds.low, 0.0), 0.0, 0.0));
    EXPECT_FALSE(fast::sumOff(bounds.high, 0.0, 0.0));
    EXPECT_TRUE(fast::sumOff(std::nextafter(bounds.high, 2.0), 0.0, 0.0));
}

// ---------------------------------------------------------------- stepping-stone dispersal

TEST(SteppingStoneMigration, ZeroRatesKeepEveryDemeToItself) {
    std::vector<Population> row{
        demeWithStages(Genotype{0.1, 0.2, 0.7}, Genotype{0.3, 0.3, 0.4}),
        demeWithStages(Genotype{0.6, 0.3, 0.1}, Genotype{0.5, 0.25, 0.25}),
        demeWithStages(Genotype{0.2, 0.2, 0.6}, Genotype{0.0, 0.5, 0.5}),
    };
    const std::vector<double> rates{0.0, 0.0};
    EXPECT_TRUE(migration(row, rates, 1e-8));
    for (const Population& deme : row) {
        expectSame(deme.adults, deme.virgins);
        expectSame(deme.larvae, deme.zygotes);
    }
    // Same sources again: the larvae no longer change.
    EXPECT_FALSE(migration(row, rates, 1e-8));
}

TEST(SteppingStoneMigration, TwoDemesAtHalfRateShareTheMean) {
    std::vector<Population> row{
        demeWithStages(Genotype{1, 0, 0}, Genotype{0.5, 0.5, 0}),
        demeWithStages(Genotype{0, 0.5, 0.5}, Genotype{0, 0, 1}),
    };
    migration(row, std::vector<double>{0.5}, 1e-8);
    for (const Population& deme : row) {
        expectTriple(deme.adults, 0.5, 0.25, 0.25);
        expectTriple(deme.larvae, 0.25, 0.25, 0.5);
    }
}

TEST(SteppingStoneMigration, EndsExchangeWithOneNeighbourOnly) {
    // Pure SS, SI and II demes with rates 0.1 (demes 0-1) and 0.2 (demes 1-2).
    std::vector<Population> row{
        demeWithStages(Genotype{1, 0, 0}, Genotype{1, 0, 0}),
        demeWithStages(Genotype{0, 1, 0}, Genotype{0, 1, 0}),
        demeWithStages(Genotype{0, 0, 1}, Genotype{0, 0, 1}),
    };
    migration(row, std::vector<double>{0.1, 0.2}, 1e-8);
    expectTriple(row[0].adults, 0.9, 0.1, 0);
    expectTriple(row[1].adults, 0.1, 0.7, 0.2);
    expectTriple(row[2].adults, 0, 0.2, 0.8);
    expectTriple(row[1].larvae, 0.1, 0.7, 0.2);
}

TEST(SteppingStoneMigration, ChangeEqualToToleranceIsNotConverged) {
    // Deme 0's larvae move from (0.5, 0.5, 0) to (0.75, 0.25, 0): a change of exactly 0.25.
    std::vector<Population> row(2, Population(Genotype{0.5, 0.5, 0}));
    row[0].zygotes = Genotype{0.75, 0.25, 0};
    row[1].zygotes = Genotype{0.5, 0.5, 0};
    std::vector<Population> again = row;
    const std::vector<double> rates{0.0};
    EXPECT_TRUE(migration(row, rates, 0.25));
    EXPECT_FALSE(migration(again, rates, 0.2500001));
}

// ---------------------------------------------------------------- kernel dispersal

TEST(Reflection, MirrorsOnceAtEachEnd) {
    EXPECT_EQ(itr(-3, 104), 3);
    EXPECT_EQ(itr(0, 104), 0);
    EXPECT_EQ(itr(104, 104), 104);
    EXPECT_EQ(itr(106, 104), 102);
    // Only one reflection: beyond twice the row the index leaves it.
    EXPECT_EQ(itr(-105, 104), 105);
    EXPECT_EQ(itr(210, 104), -2);
}

TEST(SimpsonWeights, PatternForEvenAndOddCounts) {
    const double third = 1.0 / 3, fourThirds = 4.0 / 3, twoThirds = 2.0 / 3;
    EXPECT_EQ(getSimpson(5),
              (std::vector<double>{third, fourThirds, twoThirds, fourThirds, third}));
    EXPECT_EQ(getSimpson(4), (std::vector<double>{third, fourThirds, twoThirds, third}));
    EXPECT_EQ(getSimpson(2), (std::vector<double>{third, third}));
    EXPECT_EQ(getSimpson(1), (std::vector<double>{third}));
    const std::vector<double> eleven = getSimpson(11);
    ASSERT_EQ(eleven.size(), 11u);
    EXPECT_EQ(eleven[9], fourThirds);
    EXPECT_EQ(eleven[10], third);
}

TEST(KernelIndices, ReflectedOffsetsOfTheFocalDeme) {
    std::vector<int> offsets{-1, 0, 1};
    EXPECT_EQ(createIndx(0, offsets, 104), (std::vector<int>{1, 0, 1}));
    EXPECT_EQ(createIndx(104, offsets, 104), (std::vector<int>{103, 104, 103}));
    std::vector<int> wide{-6, -3, 0, 3, 6};
    EXPECT_EQ(createIndx(2, wide, 10), (std::vector<int>{4, 1, 2, 5, 8}));
    EXPECT_EQ(createIndx(9, wide, 10), (std::vector<int>{3, 6, 9, 8, 5}));
}

TEST(KernelMixture, SinglePointNormalisesOwnStage) {
    std::vector<Population> row{demeWithStages(Genotype{2, 1, 1}, Genotype{1, 1, 2}),
                                demeWithStages(Genotype{0, 1, 0}, Genotype{0, 1, 0})};
    const std::vector<double> weights{0.7};
    expectTriple(migKernel(row, weights, 4.0, {0}, false), 0.5, 0.25, 0.25);
    expectTriple(migKernel(row, weights, 4.0, {0}, true), 0.25, 0.25, 0.5);

    std::vector<int> offsets{0};
    migration(row, weights, offsets, 4.0, 1e-8);
    expectTriple(row[0].adults, 0.5, 0.25, 0.25);
    expectTriple(row[1].larvae, 0, 1, 0);
}

TEST(KernelMixture, ReflectedDemeCountsTwice) {
    // Focal deme 0 with offsets (-1, 0, 1) visits demes 1, 0, 1 with Simpson weights 1/3, 4/3,
    // 1/3: deme 0 weighs 4/3 against 2/3 for deme 1.
    std::vector<Population> row{demeWithStages(Genotype{1, 0, 0}, Genotype{1, 0, 0}),
                                demeWithStages(Genotype{0, 1, 0}, Genotype{0, 0, 1}),
                                demeWithStages(Genotype{0, 0, 1}, Genotype{0, 0, 1})};
    const std::vector<double> weights{1, 1, 1};
    expectTriple(migKernel(row, weights, 1.0, {1, 0, 1}, false), 2.0 / 3, 1.0 / 3, 0);

    std::vector<int> offsets{-1, 0, 1};
    migration(row, weights, offsets, 1.0, 1e-8);
    expectTriple(row[0].adults, 2.0 / 3, 1.0 / 3, 0);
    expectTriple(row[0].larvae, 2.0 / 3, 0, 1.0 / 3);
    // Deme 1 sees demes 0, 1, 2 with weights 1/3, 4/3, 1/3.
    expectTriple(row[1].adults, 1.0 / 6, 2.0 / 3, 1.0 / 6);
    // Deme 2 sees demes 1, 2, 1.
    expectTriple(row[2].adults, 0, 1.0 / 3, 2.0 / 3);
}

TEST(KernelMixture, PointOutsideTheRowIsRefused) {
    std::vector<Population> row{demeWithStages(Genotype{1, 0, 0}, Genotype{1, 0, 0}),
                                demeWithStages(Genotype{0, 1, 0}, Genotype{0, 1, 0})};
    EXPECT_THROW(migKernel(row, std::vector<double>{1, 1}, 1.0, {0, 2}, true), std::out_of_range);
    EXPECT_THROW(migKernel(row, std::vector<double>{1}, 1.0, {-1}, false), std::out_of_range);
    // Offset 3 on a row of two demes reflects to -1 at deme 0.
    std::vector<int> offsets{0, 3};
    EXPECT_THROW(migration(row, std::vector<double>{1, 1}, offsets, 1.0, 1e-8), std::out_of_range);
}

TEST(KernelMigration, ChangeEqualToToleranceIsNotConverged) {
    // Pure SS zygotes mix to exactly (1, 0, 0): the larvae move by exactly 0.25.
    std::vector<Population> row(2, Population(Genotype{0.75, 0.25, 0}));
    for (Population& deme : row) {
        deme.virgins = deme.zygotes = Genotype{1, 0, 0};
    }
    std::vector<Population> again = row;
    std::vector<int> offsets{-1, 0, 1};
    const std::vector<double> weights{0.3, 0.4, 0.3};
    EXPECT_TRUE(migration(row, weights, offsets, 4.26644, 0.25));
    expectTriple(row[1].larvae, 1, 0, 0);
    EXPECT_FALSE(migration(again, weights, offsets, 4.26644, 0.2500001));
}

// ---------------------------------------------------------------- simulation

TEST(Regions, BorderTwoIsTestedFirst) {
    EXPECT_EQ(detectRegion(5, 10, 20), 0);
    EXPECT_EQ(detectRegion(10, 10, 20), 1);
    EXPECT_EQ(detectRegion(19, 10, 20), 1);
    EXPECT_EQ(detectRegion(20, 10, 20), 2);
    EXPECT_EQ(detectRegion(7, 10, 5), 2);
    EXPECT_EQ(detectRegion(4, 10, 5), 0);
    // Borders beyond the last deme, as the one-region kernel model passes them.
    EXPECT_EQ(detectRegion(400, 100000, 100000), 0);
}

namespace {

// 105 demes at the same Hardy-Weinberg composition: with equal fitnesses and random mating,
// selection, mating and dispersal leave it where it is.
std::vector<Population> uniformRow(std::size_t n) {
    return std::vector<Population>(n, Population(Genotype{0.36, 0.48, 0.16}));
}

const std::string capMessage = "max number of generations exceeded\n";

} // namespace

TEST(SteppingStoneSimulation, EquilibriumStopsAfterOneGeneration) {
    ReportScope scope;
    const std::vector<double> rates(104, 0.3);
    const std::vector<Genotype> fitness(105, Genotype{1, 1, 1});
    testing::internal::CaptureStdout();
    const std::vector<Genotype> adults =
        simulate(scope.context, uniformRow(105), rates, fitness, 0.0, 1e-8, 1000000);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(scope.report.runs, 1);
    EXPECT_EQ(scope.report.generations, 1);
    EXPECT_TRUE(scope.report.converged);
    ASSERT_EQ(adults.size(), 105u);
    for (const Genotype& g : adults) {
        EXPECT_NEAR(g.SS, 0.36, 1e-15);
        EXPECT_NEAR(g.SI, 0.48, 1e-15);
        EXPECT_NEAR(g.II, 0.16, 1e-15);
    }
}

TEST(SteppingStoneSimulation, CapOfOneReportsAndMarks) {
    const std::vector<double> rates(104, 0.3);
    std::vector<Genotype> fitness;
    for (int i = 0; i < 105; ++i) {
        fitness.push_back(Genotype{1, i + 0.5, i + 0.25});
    }
    std::vector<Population> row = uniformRow(105);
    row[1].larvae = Genotype{0.5, 0.25, 0.25};
    // Run one generation by hand for the expected adults.
    std::vector<Population> byHand = row;
    for (std::size_t i = 0; i < byHand.size(); ++i) {
        byHand[i].goVirgins(fitness[i]);
        byHand[i].goZygotes(0.5);
    }
    migration(byHand, rates, 1e-8);

    ReportScope scope;
    testing::internal::CaptureStdout();
    const std::vector<Genotype> adults = simulate(scope.context, row, rates, fitness, 0.5, 1e-8, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), capMessage + "0.5 0.25 1.5 1.25 2.5 2.25\n");
    EXPECT_EQ(scope.report.generations, 1);
    EXPECT_FALSE(scope.report.converged);
    ASSERT_EQ(adults.size(), 105u);
    EXPECT_EQ(adults[0].SS, 2.0);
    expectSame(adults[1], byHand[1].adults);
    expectSame(adults[104], byHand[104].adults);
    // The caller's row is untouched.
    expectTriple(row[1].getVirgins(), 0, 0, 0);
}

TEST(SteppingStoneSimulation, CapReachedByAConvergedRunStillMarks) {
    const std::vector<double> rates(104, 0.3);
    const std::vector<Genotype> fitness(105, Genotype{1, 1, 1});
    const std::vector<double> selfing(105, 0.0);
    testing::internal::CaptureStdout();
    const std::vector<Genotype> adults =
        simulate(uniformRow(105), rates, fitness, selfing, 1e-8, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), capMessage + "1 1 1 1 1 1\n");
    EXPECT_EQ(adults[0].SS, 2.0);
    EXPECT_NEAR(adults[1].SS, 0.36, 1e-15);
}

TEST(SteppingStoneSimulation, CapBelowOneReturnsMarkedStartState) {
    ReportScope scope;
    std::vector<Population> row = uniformRow(4);
    row[2].larvae = Genotype{0.1, 0.2, 0.7};
    const std::vector<double> rates(3, 0.3);
    const std::vector<Genotype> fitness(4, Genotype{1, 2, 3});
    testing::internal::CaptureStdout();
    const std::vector<Genotype> first = simulate(scope.context, row, rates, fitness, 0.0, 1e-8, 0);
    const std::vector<Genotype> second =
        simulate(scope.context, row, rates, fitness, std::vector<double>(4, 0.0), 1e-8, -5);
    const std::vector<Genotype> third = simulateByGenotype(scope.context, row, rates, fitness,
                                                           std::vector<double>{0, 0, 0}, 1e-8, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(scope.report.runs, 3);
    EXPECT_EQ(scope.report.generations, 0);
    EXPECT_FALSE(scope.report.converged);
    for (const std::vector<Genotype>* result : {&first, &second, &third}) {
        ASSERT_EQ(result->size(), 4u);
        expectTriple((*result)[0], 2.0, 0.48, 0.16);
        expectTriple((*result)[2], 0.1, 0.2, 0.7);
    }
}

TEST(SteppingStoneSimulation, ByGenotypeWithCapOfOne) {
    const std::vector<double> rates(104, 0.1);
    const std::vector<Genotype> fitness(105, Genotype{1, 0.75, 2});
    testing::internal::CaptureStdout();
    const std::vector<Genotype> adults =
        simulateByGenotype(uniformRow(105), rates, fitness, {0.2, 0.4, 0.6}, 1e-8, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), capMessage + "0.75 2 0.75 2 0.75 2\n");
    EXPECT_EQ(adults[0].SS, 2.0);
}

TEST(SteppingStoneSimulation, NotANumberChangesDoNotKeepTheRunGoing) {
    // Every genotype lethal: mean fitness 0, all stages become non-numbers, and the run ends
    // after one generation instead of running to the cap.
    ReportScope scope;
    const std::vector<Genotype> adults =
        simulate(scope.context, uniformRow(5), std::vector<double>(4, 0.1),
                 std::vector<Genotype>(5, Genotype{0, 0, 0}), 0.0, 1e-8, 1000000);
    EXPECT_EQ(scope.report.generations, 1);
    EXPECT_TRUE(std::isnan(adults[2].SI));
}

TEST(SteppingStoneSimulation, SelfingRatesPerDemeAreUsedPerDeme) {
    // Two isolated demes (rate 0): the one that selfs fully keeps its heterozygote deficit.
    std::vector<Population> row(2, Population(Genotype{0.5, 0.0, 0.5}));
    const std::vector<Genotype> fitness(2, Genotype{1, 1, 1});
    const std::vector<Genotype> adults =
        simulate(row, std::vector<double>{0.0}, fitness, std::vector<double>{0.0, 1.0}, 1e-8, 10);
    expectTriple(adults[0], 0.25, 0.5, 0.25);
    expectTriple(adults[1], 0.5, 0.0, 0.5);
}

TEST(KernelSimulation, SingleRegionCapReportsTwoNumbers) {
    ReportScope scope;
    std::vector<Population> row(21, Population(Genotype{1, 0, 0}));
    for (std::size_t i = 10; i < row.size(); ++i) {
        row[i] = Population(Genotype{0, 0, 1});
    }
    std::vector<double> weights{0.05, 0.25, 0.4, 0.25, 0.05};
    std::vector<int> offsets{-4, -2, 0, 2, 4};
    const std::vector<Genotype> fitness{Genotype{0.8, 1, 0.6}};
    double tolerance = 1e-8;
    int cap = 3;
    int border = 100000;
    testing::internal::CaptureStdout();
    simulate(scope.context, row, weights, offsets, fitness, 0.25, tolerance, cap, border, border,
             4.26644);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), capMessage + "1 0.6\n");
    EXPECT_EQ(scope.report.generations, 3);
    EXPECT_FALSE(scope.report.converged);
}

TEST(KernelSimulation, CapMessageListsAtMostThreeRegions) {
    std::vector<Population> row(12, Population(Genotype{0.25, 0.5, 0.25}));
    std::vector<double> weights{1, 2, 1};
    std::vector<int> offsets{-1, 0, 1};
    double tolerance = 1e-8;
    int cap = 1;
    int border1 = 4, border2 = 100000;
    const std::vector<Genotype> two{{1.5, 1, 0.5}, {0.5, 1, 1.5}};
    testing::internal::CaptureStdout();
    simulate(row, weights, offsets, two, 0.0, tolerance, cap, border1, border2, 1.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), capMessage + "1 0.5 1 1.5\n");
    const std::vector<Genotype> four{{1, 2, 3}, {1, 4, 5}, {1, 6, 7}, {1, 8, 9}};
    border2 = 8;
    testing::internal::CaptureStdout();
    simulate(row, weights, offsets, four, 0.0, tolerance, cap, border1, border2, 1.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), capMessage + "2 3 4 5 6 7\n");
}

TEST(KernelSimulation, EquilibriumStopsAfterOneGeneration) {
    ReportScope scope;
    std::vector<Population> row = uniformRow(41);
    std::vector<double> weights{0.1, 0.2, 0.4, 0.2, 0.1, 0.05, 0.01};
    std::vector<int> offsets{-6, -4, -2, 0, 2, 4, 6};
    double tolerance = 1e-8;
    int cap = 100000;
    int border1 = 100000, border2 = 100000;
    testing::internal::CaptureStdout();
    simulate(scope.context, row, weights, offsets, {Genotype{1, 1, 1}}, 0.0, tolerance, cap,
             border1, border2, 2.13322);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(scope.report.generations, 1);
    EXPECT_TRUE(scope.report.converged);
    EXPECT_NEAR(row[0].adults.SI, 0.48, 1e-15);
    EXPECT_NEAR(row[40].larvae.II, 0.16, 1e-15);
}

TEST(KernelSimulation, CapBelowOneLeavesTheRow) {
    ReportScope scope;
    std::vector<Population> row = uniformRow(5);
    std::vector<double> weights{1, 1, 1};
    std::vector<int> offsets{-1, 0, 1};
    double tolerance = 1e-8;
    int cap = 0;
    int border = 100000;
    testing::internal::CaptureStdout();
    simulate(scope.context, row, weights, offsets, {Genotype{2, 1, 1}}, 0.0, tolerance, cap, border,
             border, 1.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(scope.report.runs, 1);
    EXPECT_EQ(scope.report.generations, 0);
    expectTriple(row[3].larvae, 0.36, 0.48, 0.16);
    expectTriple(row[3].adults, 0, 0, 0);
}

TEST(KernelSimulation, PointOutsideTheRowIsRefused) {
    std::vector<Population> row = uniformRow(3);
    std::vector<double> weights{1, 1, 1};
    std::vector<int> offsets{-3, 0, 3};
    double tolerance = 1e-8;
    int cap = 10;
    int border = 100000;
    EXPECT_THROW(simulate(row, weights, offsets, {Genotype{1, 1, 1}}, 0.0, tolerance, cap, border,
                          border, 1.0),
                 std::out_of_range);
}

// ---------------------------------------------------------------- fast against plain
//
// The simulate forms run an optimised generation loop; the plain versions in tests/reference
// (snapshot of the whole row every generation, index and Simpson vectors rebuilt for every
// deme, checked access) must give the same bits on random rows and parameters: the same
// stages, generation count, messages and mark.

namespace {

using Rng = std::mt19937_64;

double uniform(Rng& rng, double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
}

int uniformInt(Rng& rng, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

// A frequency triple summing to 1; now and then one genotype is missing.
Genotype randomFrequencies(Rng& rng) {
    Genotype g{uniform(rng, 0, 1), uniform(rng, 0, 1), uniform(rng, 0, 1)};
    if (uniformInt(rng, 0, 5) == 0)
        g.II = 0.0;
    const double sum = g.SS + g.SI + g.II;
    return {g.SS / sum, g.SI / sum, g.II / sum};
}

// A fitness of one genotype against the reference: mostly weak selection, which converges
// slowly, sometimes anywhere in the models' range (up to 10000).
double randomFitness(Rng& rng) {
    if (uniformInt(rng, 0, 2) == 0)
        return std::pow(10.0, uniform(rng, -3, 4));
    return uniform(rng, 0.7, 1.3);
}

Genotype randomFitnessTriple(Rng& rng) {
    if (uniformInt(rng, 0, 1) == 0)
        return {randomFitness(rng), 1.0, randomFitness(rng)}; // heterozygote reference
    return {1.0, randomFitness(rng), randomFitness(rng)};     // SS reference
}

double randomSelfing(Rng& rng) {
    switch (uniformInt(rng, 0, 5)) {
    case 0:
        return 0.0;
    case 1:
        return 1.0;
    default:
        return uniform(rng, 0, 1);
    }
}

double randomTolerance(Rng& rng) {
    return uniformInt(rng, 0, 1) == 0 ? 1e-8 : std::pow(10.0, uniform(rng, -9, -4));
}

std::vector<Population> randomRow(Rng& rng, int n) {
    std::vector<Population> row;
    if (uniformInt(rng, 0, 2) == 0) {
        // Two blocks, as the kernel models start: one composition left of a contact, one right.
        const Genotype left = randomFrequencies(rng), right = randomFrequencies(rng);
        const int contact = uniformInt(rng, 0, n);
        for (int i = 0; i < n; ++i)
            row.emplace_back(i < contact ? left : right);
    } else {
        for (int i = 0; i < n; ++i)
            row.emplace_back(randomFrequencies(rng));
    }
    return row;
}

// Migration rates as the stepping-stone models make them, 1 - Phi(d / 2 sigma), from random
// gaps d of 2 to 60 and a scale sigma of 0.5 to 100 (erfc stands in for the normal tail).
std::vector<double> randomRates(Rng& rng, int n) {
    const double sigma = std::pow(10.0, uniform(rng, std::log10(0.5), 2));
    std::vector<double> rates;
    for (int i = 0; i < n - 1; ++i)
        rates.push_back(0.5 * std::erfc(0.5 * uniform(rng, 2, 60) / (sigma * std::sqrt(2.0))));
    return rates;
}

// Kernel weights and offsets built the way the kernel models build them: 2K + 1 points spaced
// s demes apart over -m..m demes, weights the normal density of the point's position.
struct Kernel {
    std::vector<double> weights;
    std::vector<int> offsets;
    double step;
    int reach; // m
};

Kernel modelKernel(double sigma, double spacing, int K) {
    Kernel kernel;
    kernel.step = spacing;
    const int n = static_cast<int>(std::ceil(3 * sigma / spacing));
    const int m = n + (K - n % K);
    const int s = m / K;
    kernel.reach = m;
    const double pi = 3.14159265358979323846;
    for (int k = 0; k <= 2 * K; ++k) {
        kernel.offsets.push_back(-m + k * s);
        const double x = k * (s * spacing) + (-m * spacing);
        kernel.weights.push_back(std::exp(-x * x / (2 * sigma * sigma)) /
                                 (sigma * std::sqrt(2 * pi)));
    }
    return kernel;
}

// The kernel of the 201-deme (7 points, sigma up to 20) or the 401-deme grid (11 points,
// sigma up to 50).
Kernel randomKernel(Rng& rng) {
    if (uniformInt(rng, 0, 1) == 0)
        return modelKernel(uniform(rng, 0.5, 20), 4.26644, 3);
    return modelKernel(uniform(rng, 0.5, 50), 2.13322, 5);
}

void expectSameRows(const std::vector<Population>& a, const std::vector<Population>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        expectSame(a[i].virgins, b[i].virgins);
        expectSame(a[i].zygotes, b[i].zygotes);
        expectSame(a[i].adults, b[i].adults);
        expectSame(a[i].larvae, b[i].larvae);
    }
}

void expectSameResults(const std::vector<Genotype>& a, const std::vector<Genotype>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        expectSame(a[i], b[i]);
}

// What one simulate call did: its printed lines and the generation record.
struct Outcome {
    std::string output;
    int generations = -1;
    bool converged = false;
};

template <class Run> Outcome observe(Run run) {
    Outcome outcome;
    SimulationReport report;
    SimulationContext context;
    context.report = &report;
    testing::internal::CaptureStdout();
    run(context);
    outcome.output = testing::internal::GetCapturedStdout();
    outcome.generations = report.generations;
    outcome.converged = report.converged;
    return outcome;
}

void expectSameOutcome(const Outcome& fast, const Outcome& plain) {
    EXPECT_EQ(fast.output, plain.output);
    EXPECT_EQ(fast.generations, plain.generations);
    EXPECT_EQ(fast.converged, plain.converged);
}

const int trials = 50;

} // namespace

TEST(PlainReference, ModelKernelMatchesWorkedExample) {
    // sigma 5 on the 201-deme grid: n = 4, m = 6, s = 2.
    const Kernel k = modelKernel(5, 4.26644, 3);
    EXPECT_EQ(k.offsets, (std::vector<int>{-6, -4, -2, 0, 2, 4, 6}));
    EXPECT_EQ(modelKernel(0.5, 4.26644, 3).offsets, (std::vector<int>{-3, -2, -1, 0, 1, 2, 3}));
    // sigma 50 on the 401-deme grid reaches 75 demes.
    EXPECT_EQ(modelKernel(50, 2.13322, 5).reach, 75);
}

TEST(FastAgainstPlain, SteppingStoneMigration) {
    Rng rng(11);
    for (int t = 0; t < trials; ++t) {
        const int n = uniformInt(rng, 2, 40);
        std::vector<Population> row = randomRow(rng, n);
        for (Population& deme : row) {
            deme.virgins = randomFrequencies(rng);
            deme.zygotes = randomFrequencies(rng);
        }
        const std::vector<double> rates = randomRates(rng, n);
        const double tol = uniform(rng, 0, 0.3);
        std::vector<Population> expected = row;
        EXPECT_EQ(migration(row, rates, tol), plain::migration(expected, rates, tol));
        expectSameRows(row, expected);
    }
}

TEST(FastAgainstPlain, KernelMigration) {
    Rng rng(12);
    for (int t = 0; t < trials; ++t) {
        Kernel kernel = randomKernel(rng);
        const int n = uniformInt(rng, kernel.reach + 1, kernel.reach + 30);
        std::vector<Population> row = randomRow(rng, n);
        for (Population& deme : row) {
            deme.virgins = randomFrequencies(rng);
            deme.zygotes = randomFrequencies(rng);
        }
        const double tol = uniform(rng, 0, 0.3);
        std::vector<Population> expected = row;
        EXPECT_EQ(migration(row, kernel.weights, kernel.offsets, kernel.step, tol),
                  plain::migration(expected, kernel.weights, kernel.offsets, kernel.step, tol));
        expectSameRows(row, expected);
    }
}

namespace {

enum class Mating { oneRate, ratePerDeme, rateByGenotype };

// Random stepping-stone runs of one form, fast against plain: same adults, mark, generation
// count and printed lines. Rows of 2 to 40 demes cover every remainder of a vector block;
// every fifth trial has the 105 demes of the models.
void compareSteppingStone(Mating form, std::uint64_t seed) {
    Rng rng(seed);
    for (int t = 0; t < trials; ++t) {
        const int n = t % 5 == 4 ? 105 : uniformInt(rng, 2, 40);
        const std::vector<Population> row = randomRow(rng, n);
        const std::vector<double> rates = randomRates(rng, n);
        std::vector<Genotype> fitness;
        std::vector<double> demeSelfing;
        for (int i = 0; i < n; ++i) {
            fitness.push_back(randomFitnessTriple(rng));
            demeSelfing.push_back(randomSelfing(rng));
        }
        const double F = demeSelfing[0];
        // Below 1, so that some of every deme outcrosses.
        const std::vector<double> byGenotype{uniform(rng, 0, 0.95), uniform(rng, 0, 0.95),
                                             uniform(rng, 0, 0.95)};
        const double tol = randomTolerance(rng);
        const int cap = uniformInt(rng, 1, 3000);

        std::vector<Genotype> fast, reference;
        const Outcome fastRun = observe([&](const SimulationContext& c) {
            fast = form == Mating::oneRate ? simulate(c, row, rates, fitness, F, tol, cap)
                   : form == Mating::ratePerDeme
                       ? simulate(c, row, rates, fitness, demeSelfing, tol, cap)
                       : simulateByGenotype(c, row, rates, fitness, byGenotype, tol, cap);
        });
        const Outcome plainRun = observe([&](const SimulationContext& c) {
            reference =
                form == Mating::oneRate ? plain::simulate(c, row, rates, fitness, F, tol, cap)
                : form == Mating::ratePerDeme
                    ? plain::simulate(c, row, rates, fitness, demeSelfing, tol, cap)
                    : plain::simulateByGenotype(c, row, rates, fitness, byGenotype, tol, cap);
        });
        expectSameOutcome(fastRun, plainRun);
        expectSameResults(fast, reference);
    }
}

} // namespace

TEST(FastAgainstPlain, OneRateSimulate) {
    compareSteppingStone(Mating::oneRate, 21);
}

TEST(FastAgainstPlain, PerDemeSelfingSimulate) {
    compareSteppingStone(Mating::ratePerDeme, 22);
}

TEST(FastAgainstPlain, ByGenotypeSimulate) {
    compareSteppingStone(Mating::rateByGenotype, 23);
}

TEST(FastAgainstPlain, ByGenotypeSumMessagesInDemeOrder) {
    // Fitnesses that nearly cancel (outside the models' range) blow the virgins up to about
    // 1e10, so that their quotients no longer sum to 1 within 1e-7: "zygotes off" lines from
    // several demes in each generation, then the cap report.
    Rng rng(25);
    for (int t = 0; t < 5; ++t) {
        const int n = uniformInt(rng, 9, 30);
        std::vector<Population> row;
        for (int i = 0; i < n; ++i)
            row.emplace_back(Genotype{0.5, 0.5, 0.0});
        std::vector<Genotype> fitness;
        for (int i = 0; i < n; ++i)
            fitness.push_back({1.0, -1.0 + uniform(rng, 1e-11, 1e-9), 1.0});
        const std::vector<double> rates(n - 1, 0.0);
        const std::vector<double> selfing{0.2, 0.5, 0.1};
        std::vector<Genotype> fast, reference;
        const Outcome fastRun = observe([&](const SimulationContext& c) {
            fast = simulateByGenotype(c, row, rates, fitness, selfing, 1e-8, 2);
        });
        const Outcome plainRun = observe([&](const SimulationContext& c) {
            reference = plain::simulateByGenotype(c, row, rates, fitness, selfing, 1e-8, 2);
        });
        EXPECT_NE(fastRun.output.find("zygotes off ="), std::string::npos);
        expectSameOutcome(fastRun, plainRun);
        expectSameResults(fast, reference);
    }
}

TEST(FastAgainstPlain, NotANumberRows) {
    // Lethal genotypes make whole demes non-numbers; their changes never count.
    Rng rng(26);
    for (int t = 0; t < 10; ++t) {
        const int n = uniformInt(rng, 2, 40);
        std::vector<Population> row = randomRow(rng, n);
        std::vector<Genotype> fitness;
        for (int i = 0; i < n; ++i)
            fitness.push_back(uniformInt(rng, 0, 3) == 0 ? Genotype{0, 0, 0}
                                                         : randomFitnessTriple(rng));
        const std::vector<double> rates = randomRates(rng, n);
        std::vector<Genotype> fast, reference;
        const Outcome fastRun = observe([&](const SimulationContext& c) {
            fast = simulate(c, row, rates, fitness, 0.3, 1e-8, 500);
        });
        const Outcome plainRun = observe([&](const SimulationContext& c) {
            reference = plain::simulate(c, row, rates, fitness, 0.3, 1e-8, 500);
        });
        expectSameOutcome(fastRun, plainRun);
        expectSameResults(fast, reference);

        Kernel kernel = randomKernel(rng);
        std::vector<Population> grid = randomRow(rng, kernel.reach + uniformInt(rng, 1, 20));
        grid[static_cast<std::size_t>(uniformInt(rng, 0, kernel.reach))] =
            Population(Genotype{0, 1, 0});
        const std::vector<Genotype> lethal{Genotype{1, 0, 1}};
        std::vector<Population> expected = grid;
        double F = 0.0, tol = 1e-8;
        int cap = 300, border = 100000;
        const Outcome fastKernel = observe([&](const SimulationContext& c) {
            simulate(c, grid, kernel.weights, kernel.offsets, lethal, F, tol, cap, border, border,
                     kernel.step);
        });
        const Outcome plainKernel = observe([&](const SimulationContext& c) {
            plain::simulate(c, expected, kernel.weights, kernel.offsets, lethal, F, tol, cap,
                            border, border, kernel.step);
        });
        expectSameOutcome(fastKernel, plainKernel);
        expectSameRows(grid, expected);
    }
}

TEST(FastAgainstPlain, KernelSimulate) {
    Rng rng(24);
    for (int t = 0; t < trials; ++t) {
        Kernel kernel = randomKernel(rng);
        // The smallest row the kernel fits in, random rows, and the models' 201 or 401 demes.
        const int n = t % 6 == 0   ? kernel.reach + 1
                      : t % 6 == 5 ? (kernel.offsets.size() == 7 ? 201 : 401)
                                   : uniformInt(rng, kernel.reach + 1, kernel.reach + 40);
        const std::vector<Population> start = randomRow(rng, n);
        std::vector<Genotype> regionFitness;
        const int regions = uniformInt(rng, 1, 3);
        for (int r = 0; r < regions; ++r)
            regionFitness.push_back(randomFitnessTriple(rng));
        int border1 = 100000, border2 = 100000;
        if (regions >= 2)
            border1 = uniformInt(rng, 0, n);
        if (regions == 3)
            border2 = uniformInt(rng, 0, n + 2); // may lie below border1
        double F = randomSelfing(rng);
        double tol = randomTolerance(rng);
        int cap = uniformInt(rng, 1, n > 100 ? 300 : 2000);

        std::vector<Population> row = start;
        const Outcome fastRun = observe([&](const SimulationContext& c) {
            simulate(c, row, kernel.weights, kernel.offsets, regionFitness, F, tol, cap, border1,
                     border2, kernel.step);
        });
        std::vector<Population> expected = start;
        const Outcome plainRun = observe([&](const SimulationContext& c) {
            plain::simulate(c, expected, kernel.weights, kernel.offsets, regionFitness, F, tol, cap,
                            border1, border2, kernel.step);
        });
        expectSameOutcome(fastRun, plainRun);
        expectSameRows(row, expected);
    }
}

TEST(FastAgainstPlain, KernelSimulateToleranceEqualToChangeKeepsGoing) {
    Rng rng(31);
    const Kernel kernel = modelKernel(7, 4.26644, 3);
    const std::vector<Population> start = randomRow(rng, 30);
    const std::vector<Genotype> fitness{Genotype{0.9, 1, 0.8}};
    // Largest larva change of the first generation, from the plain steps.
    std::vector<Population> first = start;
    for (Population& deme : first) {
        plain::goVirgins(deme, fitness[0]);
        plain::goZygotes(deme, 0.2);
    }
    const std::vector<Population> before = first;
    plain::migration(first, kernel.weights, kernel.offsets, kernel.step, 0.0);
    const double change = plain::largestChange(first, before);
    ASSERT_GT(change, 0.0);

    for (double tol : {change, std::nextafter(change, 1.0)}) {
        std::vector<Population> row = start;
        std::vector<double> weights = kernel.weights;
        std::vector<int> offsets = kernel.offsets;
        int cap = 1000, border = 100000;
        ReportScope scope;
        simulate(scope.context, row, weights, offsets, fitness, 0.2, tol, cap, border, border,
                 kernel.step);
        if (tol == change) {
            EXPECT_GT(scope.report.generations, 1);
        } else {
            EXPECT_EQ(scope.report.generations, 1);
        }
    }
}
