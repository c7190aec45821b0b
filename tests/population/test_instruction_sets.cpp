// The instruction-set levels of the simulation loops: how a level is chosen, and that every
// level the processor runs gives the bits of the plain versions.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "population/instruction_set.h"
#include "population/population.h"
#include "population/simulation_context.h"
#include "population/simulation_report.h"
#include "random_inputs.h"
#include "reference/plain_population.h"
#include "support/run_program.h"

namespace {

const InstructionSet allLevels[] = {InstructionSet::baseline, InstructionSet::avx2,
                                    InstructionSet::avx512};

// Runs the loops at one level for the lifetime of the object, then at the level before.
struct AtLevel {
    InstructionSet before = activeInstructionSet();
    bool ok;
    explicit AtLevel(InstructionSet level) : ok(useInstructionSet(level)) {}
    ~AtLevel() { useInstructionSet(before); }
};

// The same bits, or both not a number.
bool same(double a, double b) {
    if (a != a && b != b) {
        return true;
    }
    std::uint64_t x, y;
    std::memcpy(&x, &a, sizeof a);
    std::memcpy(&y, &b, sizeof b);
    return x == y;
}

bool same(const Genotype& a, const Genotype& b) {
    return same(a.SS, b.SS) && same(a.SI, b.SI) && same(a.II, b.II);
}

// What one call did: printed lines, generations, changes of the last generations.
struct Run {
    std::string output;
    int generations = -1;
    std::vector<double> changes;
};

template <class Call> Run observe(Call call) {
    SimulationReport report;
    report.keepChanges = true;
    SimulationContext context;
    context.report = &report;
    testing::internal::CaptureStdout();
    call(context);
    Run run;
    run.output = testing::internal::GetCapturedStdout();
    run.generations = report.generations;
    run.changes = report.recentChanges;
    return run;
}

// Every simulate form on random rows at `level`, against the plain versions: same results,
// printed lines and generation counts, and the same changes at every level.
void compareAtLevel(InstructionSet level) {
    if (!instructionSetSupported(level)) {
        GTEST_SKIP() << "this processor lacks " << instructionSetName(level);
    }
    AtLevel at(level);
    ASSERT_TRUE(at.ok);
    ASSERT_EQ(activeInstructionSet(), level);
    inputs::Rng rng(51);
    for (int t = 0; t < 30; ++t) {
        const int n = t % 6 == 5 ? 105 : inputs::uniformInt(rng, 2, 40);
        const std::vector<Population> row = inputs::row(rng, n);
        const std::vector<double> rates = inputs::rates(rng, n);
        std::vector<Genotype> fitness;
        std::vector<double> selfing;
        for (int i = 0; i < n; ++i) {
            fitness.push_back(inputs::fitness(rng));
            selfing.push_back(inputs::uniform(rng, 0, 1));
        }
        const std::vector<double> byGenotype{0.2, inputs::uniform(rng, 0, 0.9), 0.6};
        const double tol = 1e-8;
        const int cap = inputs::uniformInt(rng, 1, 2000);
        for (int form = 0; form < 3; ++form) {
            std::vector<Genotype> fast, reference;
            const Run fastRun = observe([&](const SimulationContext& c) {
                fast = form == 0 ? simulate(c, row, rates, fitness, selfing[0], tol, cap)
                       : form == 1
                           ? simulate(c, row, rates, fitness, selfing, tol, cap)
                           : simulateByGenotype(c, row, rates, fitness, byGenotype, tol, cap);
            });
            const Run plainRun = observe([&](const SimulationContext& c) {
                reference =
                    form == 0 ? plain::simulate(c, row, rates, fitness, selfing[0], tol, cap)
                    : form == 1
                        ? plain::simulate(c, row, rates, fitness, selfing, tol, cap)
                        : plain::simulateByGenotype(c, row, rates, fitness, byGenotype, tol, cap);
            });
            EXPECT_EQ(fastRun.output, plainRun.output);
            EXPECT_EQ(fastRun.generations, plainRun.generations);
            ASSERT_EQ(fast.size(), reference.size());
            for (std::size_t i = 0; i < fast.size(); ++i) {
                EXPECT_TRUE(same(fast[i], reference[i])) << "form " << form << ", deme " << i;
            }
        }

        inputs::Kernel k = inputs::kernel(rng);
        const int demes = inputs::uniformInt(rng, k.offsets.back() + 1, k.offsets.back() + 40);
        std::vector<Population> grid = inputs::row(rng, demes);
        std::vector<Population> expected = grid;
        const std::vector<Genotype> regions{inputs::fitness(rng), inputs::fitness(rng),
                                            inputs::fitness(rng)};
        double F = selfing[0], tolerance = tol;
        int kernelCap = cap, border1 = demes / 3, border2 = 2 * demes / 3;
        const Run fastRun = observe([&](const SimulationContext& c) {
            simulate(c, grid, k.weights, k.offsets, regions, F, tolerance, kernelCap, border1,
                     border2, k.step);
        });
        const Run plainRun = observe([&](const SimulationContext& c) {
            plain::simulate(c, expected, k.weights, k.offsets, regions, F, tolerance, kernelCap,
                            border1, border2, k.step);
        });
        EXPECT_EQ(fastRun.output, plainRun.output);
        EXPECT_EQ(fastRun.generations, plainRun.generations);
        for (std::size_t i = 0; i < grid.size(); ++i) {
            EXPECT_TRUE(same(grid[i].adults, expected[i].adults)) << "kernel, deme " << i;
            EXPECT_TRUE(same(grid[i].larvae, expected[i].larvae)) << "kernel, deme " << i;
        }
    }
}

// Every row size from 2 to 19 demes at `level` (one to three blocks of eight, up to ten of two,
// each with every count of padding lanes, where the loops start and end their pipelines
// differently), every stepping-stone form, and the kernel form on rows from just longer than
// its reach to 17 demes longer: the bits, lines and generation counts of the plain versions.
void compareRowSizesAtLevel(InstructionSet level) {
    AtLevel at(level);
    ASSERT_TRUE(at.ok);
    inputs::Rng rng(53);
    const std::vector<double> byGenotype{0.2, 0.5, 0.6};
    for (int n = 2; n <= 19; ++n) {
        const std::vector<Population> row = inputs::row(rng, n);
        const std::vector<double> rates = inputs::rates(rng, n);
        std::vector<Genotype> fitness;
        std::vector<double> selfing;
        for (int i = 0; i < n; ++i) {
            fitness.push_back(inputs::fitness(rng));
            selfing.push_back(inputs::uniform(rng, 0, 1));
        }
        for (int form = 0; form < 3; ++form) {
            std::vector<Genotype> fast, reference;
            const Run fastRun = observe([&](const SimulationContext& c) {
                fast = form == 0 ? simulate(c, row, rates, fitness, 0.3, 1e-8, 300)
                       : form == 1
                           ? simulate(c, row, rates, fitness, selfing, 1e-8, 300)
                           : simulateByGenotype(c, row, rates, fitness, byGenotype, 1e-8, 300);
            });
            const Run plainRun = observe([&](const SimulationContext& c) {
                reference =
                    form == 0 ? plain::simulate(c, row, rates, fitness, 0.3, 1e-8, 300)
                    : form == 1
                        ? plain::simulate(c, row, rates, fitness, selfing, 1e-8, 300)
                        : plain::simulateByGenotype(c, row, rates, fitness, byGenotype, 1e-8, 300);
            });
            EXPECT_EQ(fastRun.output, plainRun.output) << n << " demes, form " << form;
            EXPECT_EQ(fastRun.generations, plainRun.generations) << n << " demes, form " << form;
            ASSERT_EQ(fast.size(), reference.size());
            for (std::size_t i = 0; i < fast.size(); ++i) {
                EXPECT_TRUE(same(fast[i], reference[i]))
                    << n << " demes, form " << form << ", deme " << i;
            }
        }
    }
    inputs::Kernel k = inputs::kernel(rng);
    const std::vector<Genotype> regions{inputs::fitness(rng), inputs::fitness(rng),
                                        inputs::fitness(rng)};
    for (int demes = k.offsets.back() + 1; demes <= k.offsets.back() + 18; ++demes) {
        std::vector<Population> grid = inputs::row(rng, demes);
        std::vector<Population> expected = grid;
        double F = 0.3, tolerance = 1e-8;
        int cap = 300, border1 = demes / 3, border2 = 2 * demes / 3;
        const Run fastRun = observe([&](const SimulationContext& c) {
            simulate(c, grid, k.weights, k.offsets, regions, F, tolerance, cap, border1, border2,
                     k.step);
        });
        const Run plainRun = observe([&](const SimulationContext& c) {
            plain::simulate(c, expected, k.weights, k.offsets, regions, F, tolerance, cap, border1,
                            border2, k.step);
        });
        EXPECT_EQ(fastRun.output, plainRun.output) << "kernel, " << demes << " demes";
        EXPECT_EQ(fastRun.generations, plainRun.generations) << "kernel, " << demes << " demes";
        for (std::size_t i = 0; i < grid.size(); ++i) {
            EXPECT_TRUE(same(grid[i].adults, expected[i].adults))
                << "kernel, " << demes << " demes, deme " << i;
            EXPECT_TRUE(same(grid[i].larvae, expected[i].larvae))
                << "kernel, " << demes << " demes, deme " << i;
        }
    }
}

// The changes the fast loops record at `level` for a fixed set of runs.
std::vector<std::vector<double>> changesAt(InstructionSet level) {
    AtLevel at(level);
    std::vector<std::vector<double>> all;
    inputs::Rng rng(52);
    for (int t = 0; t < 10; ++t) {
        const int n = inputs::uniformInt(rng, 2, 60);
        const std::vector<Population> row = inputs::row(rng, n);
        const std::vector<double> rates = inputs::rates(rng, n);
        std::vector<Genotype> fitness;
        for (int i = 0; i < n; ++i) {
            fitness.push_back(inputs::fitness(rng));
        }
        all.push_back(observe([&](const SimulationContext& c) {
                          simulate(c, row, rates, fitness, 0.4, 1e-8, 3000);
                      }).changes);
    }
    return all;
}

} // namespace

TEST(InstructionSets, NamesAndSupport) {
    EXPECT_STREQ(instructionSetName(InstructionSet::baseline), "baseline");
    EXPECT_STREQ(instructionSetName(InstructionSet::avx2), "avx2");
    EXPECT_STREQ(instructionSetName(InstructionSet::avx512), "avx512");
    EXPECT_TRUE(instructionSetSupported(InstructionSet::baseline));
    // A processor with AVX-512 has AVX2.
    if (instructionSetSupported(InstructionSet::avx512)) {
        EXPECT_TRUE(instructionSetSupported(InstructionSet::avx2));
    }
    const InstructionSet widest = widestInstructionSet();
    EXPECT_TRUE(instructionSetSupported(widest));
    for (InstructionSet level : allLevels) {
        if (level > widest) {
            EXPECT_FALSE(instructionSetSupported(level));
        }
    }
}

TEST(InstructionSets, ChoiceFromTheEnvironmentValue) {
    const InstructionSet widest = widestInstructionSet();
    const std::string widestName = instructionSetName(widest);
    std::string warning = "stale";
    EXPECT_EQ(chooseInstructionSet(nullptr, warning), widest);
    EXPECT_EQ(warning, "");
    EXPECT_EQ(chooseInstructionSet("", warning), widest);
    EXPECT_EQ(warning, "");
    for (InstructionSet level : allLevels) {
        const std::string name = instructionSetName(level);
        const InstructionSet chosen = chooseInstructionSet(name.c_str(), warning);
        if (instructionSetSupported(level)) {
            EXPECT_EQ(chosen, level);
            EXPECT_EQ(warning, "");
        } else {
            EXPECT_EQ(chosen, widest);
            EXPECT_EQ(warning, "Warning: ZONEFIT_ISA=" + name +
                                   " asks for instructions this processor lacks; the simulation "
                                   "uses " +
                                   widestName + ".");
        }
    }
    // Names are exact: no other spelling, no blanks.
    for (const char* wrong : {"AVX2", "avx", "avx512 ", "sse2", "native"}) {
        EXPECT_EQ(chooseInstructionSet(wrong, warning), widest);
        EXPECT_EQ(warning, std::string("Warning: ZONEFIT_ISA=") + wrong +
                               " is not one of baseline, avx2, avx512; the simulation uses " +
                               widestName + ".");
    }
}

TEST(InstructionSets, ALevelThisProcessorLacksIsRefused) {
    const InstructionSet before = activeInstructionSet();
    if (widestInstructionSet() == InstructionSet::avx512) {
        GTEST_SKIP() << "this processor runs every level";
    }
    EXPECT_FALSE(useInstructionSet(InstructionSet::avx512));
    EXPECT_EQ(activeInstructionSet(), before);
}

TEST(InstructionSets, BaselineMatchesThePlainVersions) {
    compareAtLevel(InstructionSet::baseline);
}

TEST(InstructionSets, Avx2MatchesThePlainVersions) {
    compareAtLevel(InstructionSet::avx2);
}

TEST(InstructionSets, Avx512MatchesThePlainVersions) {
    compareAtLevel(InstructionSet::avx512);
}

TEST(InstructionSets, EveryLevelRecordsTheSameChanges) {
    const std::vector<std::vector<double>> baseline = changesAt(InstructionSet::baseline);
    for (InstructionSet level : {InstructionSet::avx2, InstructionSet::avx512}) {
        if (instructionSetSupported(level)) {
            EXPECT_EQ(changesAt(level), baseline) << instructionSetName(level);
        }
    }
}

TEST(InstructionSets, ForcedByTheEnvironmentInTheProgram) {
    // The value printed and the generations are the same at every level; a value that names no
    // level is reported on standard error and the program goes on at the widest level.
    ScratchDir dir;
    const std::string eval = shellQuote(ZONETOOL_BIN) + " eval 1 1.05 1.05 0.3 15";
    const std::string expectedOut = "1510.0746748633017\n";
    const std::string expectedErr = "generations: 608 (equilibrium reached)\n";
    for (InstructionSet level : allLevels) {
        const std::string name = instructionSetName(level);
        const ProgramResult r = runProgram(dir.path(), "env", "ZONEFIT_ISA=" + name + " " + eval);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, expectedOut);
        if (instructionSetSupported(level)) {
            EXPECT_EQ(r.err, expectedErr) << name;
        } else {
            EXPECT_NE(r.err.find("asks for instructions this processor lacks"), std::string::npos);
        }
    }
    const ProgramResult r = runProgram(dir.path(), "env", "ZONEFIT_ISA=fastest " + eval);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expectedOut);
    EXPECT_EQ(r.err, std::string("Warning: ZONEFIT_ISA=fastest is not one of baseline, avx2, "
                                 "avx512; the simulation uses ") +
                         instructionSetName(widestInstructionSet()) + ".\n" + expectedErr);
}

TEST(InstructionSets, EveryRowSizeAroundTheBlockWidthsAtEveryLevel) {
    for (InstructionSet level : allLevels) {
        if (instructionSetSupported(level)) {
            SCOPED_TRACE(instructionSetName(level));
            compareRowSizesAtLevel(level);
        }
    }
}
