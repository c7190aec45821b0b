// The convergence test of the generation loops when the largest larva change of a generation
// is exactly the tolerance (not converged: one more generation runs) or just below it. The
// change is put in one chosen deme: an end deme (handled apart from the vector lanes in the
// fast loops), a deme at a lane boundary, or an interior deme.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "population/population.h"
#include "population/simulation_context.h"
#include "population/simulation_report.h"
#include "reference/plain_population.h"

namespace {

// Generations run by one simulate call.
int generationsOf(const std::function<void(const SimulationContext&)>& run) {
    SimulationReport report;
    SimulationContext context;
    context.report = &report;
    run(context);
    return report.generations;
}

// A row at Hardy-Weinberg equilibrium (p = 0.6) except deme `k`, whose larvae are far from it.
std::vector<Population> rowDisturbedAt(int n, int k) {
    std::vector<Population> row(static_cast<std::size_t>(n),
                                Population(Genotype{0.36, 0.48, 0.16}));
    row[static_cast<std::size_t>(k)] = Population(Genotype{0.6, 0.2, 0.2});
    return row;
}

// Largest |change| of deme i's larvae and of all other demes' over one generation.
struct Changes {
    double atDeme = 0.0;
    double elsewhere = 0.0;
};

Changes changesOf(const std::vector<Population>& after, const std::vector<Population>& before,
                  int k) {
    Changes c;
    for (std::size_t i = 0; i < after.size(); ++i) {
        const Genotype& a = after[i].larvae;
        const Genotype& b = before[i].larvae;
        const double d = std::fmax(std::fabs(a.SS - b.SS),
                                   std::fmax(std::fabs(a.SI - b.SI), std::fabs(a.II - b.II)));
        double& slot = static_cast<int>(i) == k ? c.atDeme : c.elsewhere;
        slot = std::fmax(slot, d);
    }
    return c;
}

// First-generation changes of the stepping-stone loop, from the plain steps.
Changes steppingStoneChanges(const std::vector<Population>& start, const std::vector<double>& rates,
                             const Genotype& fitness, double selfing, int k) {
    std::vector<Population> row = start;
    for (Population& deme : row) {
        plain::goVirgins(deme, fitness);
        plain::goZygotes(deme, selfing);
    }
    plain::migration(row, rates, 0.0);
    return changesOf(row, start, k);
}

const Genotype fitness{0.9, 1.0, 0.8};
const double selfing = 0.25;

} // namespace

TEST(ToleranceEdge, SteppingStoneChangeOfExactlyTheToleranceRunsAnotherGeneration) {
    struct Case {
        int n;
        int k;
    };
    // Both ends of rows of 2, 9, 17 and 105 demes; lanes are 8 demes wide, so demes 7, 8 and
    // 16 sit at block boundaries.
    const Case cases[] = {{2, 0},  {2, 1},   {9, 0},   {9, 8},     {9, 4},   {17, 0},
                          {17, 7}, {17, 16}, {105, 0}, {105, 104}, {105, 8}, {105, 52}};
    for (const Case& c : cases) {
        SCOPED_TRACE("n " + std::to_string(c.n) + ", deme " + std::to_string(c.k));
        const std::vector<Population> start = rowDisturbedAt(c.n, c.k);
        const std::vector<double> rates(static_cast<std::size_t>(c.n - 1), 0.05);
        const std::vector<Genotype> demeFitness(static_cast<std::size_t>(c.n), fitness);
        const Changes change = steppingStoneChanges(start, rates, fitness, selfing, c.k);
        ASSERT_GT(change.atDeme, change.elsewhere);

        const std::vector<double> demeSelfing(static_cast<std::size_t>(c.n), selfing);
        const std::vector<double> byGenotype(3, selfing);
        for (const double tol : {change.atDeme, std::nextafter(change.atDeme, 1.0)}) {
            const int expected = tol == change.atDeme ? 2 : 1;
            // A cap of 2 ends a run that continues after generation 1 with the cap message.
            testing::internal::CaptureStdout();
            EXPECT_EQ(generationsOf([&](const SimulationContext& c) {
                          simulate(c, start, rates, demeFitness, selfing, tol, 2);
                      }),
                      expected);
            EXPECT_EQ(generationsOf([&](const SimulationContext& c) {
                          simulate(c, start, rates, demeFitness, demeSelfing, tol, 2);
                      }),
                      expected);
            EXPECT_EQ(generationsOf([&](const SimulationContext& c) {
                          simulateByGenotype(c, start, rates, demeFitness, byGenotype, tol, 2);
                      }),
                      expected);
            const std::string out = testing::internal::GetCapturedStdout();
            EXPECT_EQ(out.empty(), expected == 1) << out;
        }
    }
}

TEST(ToleranceEdge, KernelChangeOfExactlyTheToleranceRunsAnotherGeneration) {
    // Three points one deme apart (reflected at the ends), Simpson-weighted 1/3, 4/3, 1/3.
    const std::vector<double> weights{1.0, 1.0, 1.0};
    const std::vector<int> offsets{-1, 0, 1};
    const int rowSizes[] = {9, 30};
    for (const int n : rowSizes) {
        for (const int k : {0, n - 1, 7, n / 2}) {
            SCOPED_TRACE("n " + std::to_string(n) + ", deme " + std::to_string(k));
            const std::vector<Population> start = rowDisturbedAt(n, k);
            std::vector<Population> first = start;
            for (Population& deme : first) {
                plain::goVirgins(deme, fitness);
                plain::goZygotes(deme, selfing);
            }
            plain::migration(first, weights, offsets, 1.0, 0.0);
            const Changes change = changesOf(first, start, k);
            ASSERT_GT(change.atDeme, change.elsewhere);
            for (double tol : {change.atDeme, std::nextafter(change.atDeme, 1.0)}) {
                std::vector<Population> row = start;
                std::vector<double> w = weights;
                std::vector<int> o = offsets;
                const std::vector<Genotype> regions{fitness};
                int cap = 1000;
                int border = n + 1;
                const int generations = generationsOf([&](const SimulationContext& c) {
                    simulate(c, row, w, o, regions, selfing, tol, cap, border, border, 1.0);
                });
                if (tol == change.atDeme) {
                    EXPECT_GT(generations, 1);
                } else {
                    EXPECT_EQ(generations, 1);
                }
            }
        }
    }
}
