// The per-generation convergence measure that a simulation record keeps on request.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "population/population.h"
#include "population/simulation_context.h"
#include "population/simulation_report.h"
#include "random_inputs.h"
#include "reference/plain_population.h"

namespace {

// A record that keeps the changes, and the context that passes it down.
struct Recording {
    SimulationReport report;
    SimulationContext context{&report, nullptr, nullptr};
    explicit Recording(bool keep = true) { report.keepChanges = keep; }
};

// 2^-k for k = from..to.
std::vector<double> halvings(int from, int to) {
    std::vector<double> values;
    for (int k = from; k <= to; ++k) {
        values.push_back(std::ldexp(1.0, -k));
    }
    return values;
}

// Demes of heterozygotes only, every genotype equally fit, full selfing and no migration: each
// generation halves the heterozygotes, so larvae k are ((1 - 2^-k) / 2, 2^-k, (1 - 2^-k) / 2)
// exactly and generation k changes them by at most 2^-k (the SI value).
struct Selfing {
    int n;
    std::vector<Population> row;
    std::vector<double> rates;
    std::vector<Genotype> fitness;
    explicit Selfing(int demes)
        : n(demes), row(demes, Population(Genotype{0, 1, 0})), rates(demes - 1, 0.0),
          fitness(demes, Genotype{1, 1, 1}) {}
};

} // namespace

TEST(RecentChanges, HalvingHeterozygotesInEveryForm) {
    for (int n : {2, 9, 20}) {
        const Selfing s(n);
        {
            // 2^-27 is the first change below 1e-8: 27 generations, all kept.
            Recording rec;
            simulate(rec.context, s.row, s.rates, s.fitness, 1.0, 1e-8, 1000);
            EXPECT_EQ(rec.report.generations, 27);
            EXPECT_EQ(rec.report.recentChanges, halvings(1, 27)) << n << " demes";
        }
        {
            // 2^-40 is the first below 1e-12: of 40 generations the last 32 are kept.
            Recording rec;
            simulate(rec.context, s.row, s.rates, s.fitness, std::vector<double>(n, 1.0), 1e-12,
                     1000);
            EXPECT_EQ(rec.report.generations, 40);
            EXPECT_EQ(rec.report.recentChanges, halvings(9, 40)) << n << " demes";
        }
        {
            // Stopped at the cap of 5: the five changes run.
            Recording rec;
            simulate(rec.context, s.row, s.rates, s.fitness, 1.0, 1e-8, 5);
            EXPECT_EQ(rec.report.recentChanges, halvings(1, 5));
        }
    }
    // A lone deme runs through the per-deme steps and keeps the same measure.
    const Selfing lone(1);
    Recording rec;
    simulate(rec.context, lone.row, std::vector<double>{}, lone.fitness, 1.0, 1e-8, 1000);
    EXPECT_EQ(rec.report.recentChanges, halvings(1, 27));
}

TEST(RecentChanges, HalvingHeterozygotesUnderTheKernel) {
    // One point at offset 0: each deme keeps its own zygotes, rescaled to sum 1, which leaves
    // the halving within rounding.
    std::vector<Population> row(30, Population(Genotype{0, 1, 0}));
    std::vector<double> weights{0.7};
    std::vector<int> offsets{0};
    double F = 1.0, tolerance = 1e-8;
    int cap = 1000, border = 100000;
    Recording rec;
    simulate(rec.context, row, weights, offsets, {Genotype{1, 1, 1}}, F, tolerance, cap, border,
             border, 2.5);
    ASSERT_EQ(rec.report.recentChanges.size(), 27u);
    const std::vector<double> expected = halvings(1, 27);
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_NEAR(rec.report.recentChanges[k], expected[k], 1e-15) << "generation " << k + 1;
    }
}

TEST(RecentChanges, KeptOnlyOnRequestAndReplacedByEachCall) {
    const Selfing s(12);
    {
        Recording rec(false);
        rec.report.recentChanges = {7.0};
        simulate(rec.context, s.row, s.rates, s.fitness, 1.0, 1e-8, 1000);
        EXPECT_EQ(rec.report.recentChanges, std::vector<double>{7.0});
        EXPECT_EQ(rec.report.generations, 27);
    }
    Recording rec;
    simulate(rec.context, s.row, s.rates, s.fitness, 1.0, 1e-8, 1000);
    simulate(rec.context, s.row, s.rates, s.fitness, 1.0, 1e-8, 3);
    EXPECT_EQ(rec.report.recentChanges, halvings(1, 3));
    // A cap below 1 runs no generation: nothing is left from the calls before.
    simulate(rec.context, s.row, s.rates, s.fitness, 1.0, 1e-8, 0);
    EXPECT_TRUE(rec.report.recentChanges.empty());
    std::vector<Population> grid(10, Population(Genotype{0, 1, 0}));
    simulate(rec.context, s.row, s.rates, s.fitness, 1.0, 1e-8, 3);
    std::vector<double> weights{1.0};
    std::vector<int> offsets{0};
    double F = 1.0, tolerance = 1e-8;
    int cap = 0, border = 100000;
    simulate(rec.context, grid, weights, offsets, {Genotype{1, 1, 1}}, F, tolerance, cap, border,
             border, 1.0);
    EXPECT_TRUE(rec.report.recentChanges.empty());
}

TEST(RecentChanges, SameAsThePlainStepsGenerationByGeneration) {
    inputs::Rng rng(41);
    for (int t = 0; t < 40; ++t) {
        const int n = t % 8 == 7 ? 105 : inputs::uniformInt(rng, 2, 40);
        const std::vector<Population> row = inputs::row(rng, n);
        const std::vector<double> rates = inputs::rates(rng, n);
        std::vector<Genotype> fitness;
        std::vector<double> demeSelfing;
        for (int i = 0; i < n; ++i) {
            fitness.push_back(inputs::fitness(rng));
            demeSelfing.push_back(inputs::uniform(rng, 0, 1));
        }
        const std::vector<double> byGenotype{inputs::uniform(rng, 0, 0.9),
                                             inputs::uniform(rng, 0, 0.9),
                                             inputs::uniform(rng, 0, 0.9)};
        const double tolerance = std::pow(10.0, inputs::uniform(rng, -9, -5));
        const int cap = inputs::uniformInt(rng, 1, 400);
        auto disperse = [&](std::vector<Population>& r) { plain::migration(r, rates, 0.0); };

        for (int form = 0; form < 3; ++form) {
            Recording rec;
            std::vector<double> expected;
            // Runs that reach the cap, and the by-genotype step, write lines of their own.
            testing::internal::CaptureStdout();
            if (form == 0) {
                simulate(rec.context, row, rates, fitness, demeSelfing[0], tolerance, cap);
                expected = inputs::plainChanges(
                    row, fitness, tolerance, cap,
                    [&](Population& d, std::size_t) { plain::goZygotes(d, demeSelfing[0]); },
                    disperse);
            } else if (form == 1) {
                simulate(rec.context, row, rates, fitness, demeSelfing, tolerance, cap);
                expected = inputs::plainChanges(
                    row, fitness, tolerance, cap,
                    [&](Population& d, std::size_t i) { plain::goZygotes(d, demeSelfing[i]); },
                    disperse);
            } else {
                simulateByGenotype(rec.context, row, rates, fitness, byGenotype, tolerance, cap);
                expected = inputs::plainChanges(
                    row, fitness, tolerance, cap,
                    [&](Population& d, std::size_t) { plain::goZygotes(d, byGenotype); }, disperse);
            }
            testing::internal::GetCapturedStdout();
            EXPECT_EQ(rec.report.generations, static_cast<int>(expected.size()));
            EXPECT_EQ(rec.report.recentChanges, inputs::lastOf(expected, 32))
                << "form " << form << ", " << n << " demes";
        }

        // The kernel form on a row the kernel fits in.
        inputs::Kernel k = inputs::kernel(rng);
        const int reach = k.offsets.back();
        const int demes = inputs::uniformInt(rng, reach + 1, reach + 40);
        std::vector<Population> grid = inputs::row(rng, demes);
        const std::vector<Population> start = grid;
        const std::vector<Genotype> regions{inputs::fitness(rng), inputs::fitness(rng)};
        int border1 = inputs::uniformInt(rng, 0, demes), border2 = 100000;
        double F = demeSelfing[0], tol = tolerance;
        int kernelCap = cap;
        Recording rec;
        testing::internal::CaptureStdout();
        simulate(rec.context, grid, k.weights, k.offsets, regions, F, tol, kernelCap, border1,
                 border2, k.step);
        testing::internal::GetCapturedStdout();
        std::vector<Genotype> fitnessOfDeme;
        for (int i = 0; i < demes; ++i) {
            fitnessOfDeme.push_back(regions[detectRegion(i, border1, border2)]);
        }
        const std::vector<double> expected = inputs::plainChanges(
            start, fitnessOfDeme, tolerance, cap,
            [&](Population& d, std::size_t) { plain::goZygotes(d, F); },
            [&](std::vector<Population>& r) {
                plain::migration(r, k.weights, k.offsets, k.step, 0.0);
            });
        EXPECT_EQ(rec.report.generations, static_cast<int>(expected.size()));
        EXPECT_EQ(rec.report.recentChanges, inputs::lastOf(expected, 32)) << demes << " demes";
    }
}
