// Time per generation of the simulate forms, the library's against the plain versions of
// tests/reference on the same inputs. Each run is capped at a fixed number of generations with
// a tolerance of 0, which no row reaches, so that every iteration runs exactly that many.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "bench/bench_rows.h"
#include "data/builtin_transect.h"
#include "models/cspace.h"
#include "population/band_lu.h"
#include "population/instruction_set.h"
#include "population/population.h"
#include "reference/plain_population.h"

namespace {

enum class Form { oneRate, ratePerDeme, rateByGenotype };

// Generations per iteration: enough to hide the setup of one call.
int generationsFor(bool plainVersion) {
    return plainVersion ? 200 : 5000;
}

// A stepping-stone row of `demes` demes: the 105 sites repeated, with their rates at sigma 15.
struct SteppingStoneInput {
    std::vector<Population> row;
    std::vector<double> rates;
    std::vector<Genotype> fitness;
    std::vector<double> demeSelfing;
    std::vector<double> genotypeSelfing{0.3, 0.3, 0.3};

    explicit SteppingStoneInput(int demes) {
        const std::vector<Population> sites = bench::siteRow();
        const std::vector<double> siteRates = bench::siteRates(15.0);
        for (int i = 0; i < demes; ++i) {
            row.push_back(sites[static_cast<std::size_t>(i % siteCount)]);
            if (i + 1 < demes) {
                rates.push_back(siteRates[static_cast<std::size_t>(i % gapCount)]);
            }
        }
        fitness.assign(static_cast<std::size_t>(demes), Genotype{1.05, 1.0, 1.05});
        demeSelfing.assign(static_cast<std::size_t>(demes), 0.3);
    }
};

void runSteppingStone(benchmark::State& state, Form form, bool plainVersion, int demes) {
    const SteppingStoneInput in(demes);
    const int generations = generationsFor(plainVersion);
    const double F = 0.3;
    bench::QuietDiagnostics quiet;
    const SimulationContext dropped = quiet.context();
    for (auto _ : state) {
        std::vector<Genotype> adults;
        if (form == Form::oneRate) {
            adults =
                plainVersion
                    ? plain::simulate(dropped, in.row, in.rates, in.fitness, F, 0.0, generations)
                    : simulate(dropped, in.row, in.rates, in.fitness, F, 0.0, generations);
        } else if (form == Form::ratePerDeme) {
            adults = plainVersion ? plain::simulate(dropped, in.row, in.rates, in.fitness,
                                                    in.demeSelfing, 0.0, generations)
                                  : simulate(dropped, in.row, in.rates, in.fitness, in.demeSelfing,
                                             0.0, generations);
        } else {
            adults = plainVersion ? plain::simulateByGenotype(dropped, in.row, in.rates, in.fitness,
                                                              in.genotypeSelfing, 0.0, generations)
                                  : simulateByGenotype(dropped, in.row, in.rates, in.fitness,
                                                       in.genotypeSelfing, 0.0, generations);
        }
        benchmark::DoNotOptimize(adults.data());
    }
    state.counters["generation"] = bench::perUnit(generations);
    state.counters["deme_generation"] = bench::perUnit(static_cast<double>(generations) * demes);
}

// Kernel form on a grid of gridIntervals + 1 demes with 2 * halfPoints + 1 points at sigma,
// started as C_1 starts (pure SS left of position 450, pure II right of it).
void runKernel(benchmark::State& state, int gridIntervals, int halfPoints, double sigma,
               bool plainVersion) {
    const double spacing = gridSpacing(builtInTransectValue(), gridIntervals);
    Kernel kernel = buildKernel(sigma, spacing, halfPoints);
    const int demes = gridIntervals + 1;
    const std::vector<Population> start =
        bench::contactGrid(demes, static_cast<int>(std::ceil(450.0 / spacing)));
    const std::vector<Genotype> fitness{Genotype{1.05, 1.0, 1.05}};
    double F = 0.3;
    double tolerance = 0.0;
    int generations = generationsFor(plainVersion);
    int border = 100000;
    bench::QuietDiagnostics quiet;
    const SimulationContext dropped = quiet.context();
    for (auto _ : state) {
        std::vector<Population> row = start;
        if (plainVersion) {
            plain::simulate(dropped, row, kernel.weights, kernel.offsets, fitness, F, tolerance,
                            generations, border, border, spacing);
        } else {
            simulate(dropped, row, kernel.weights, kernel.offsets, fitness, F, tolerance,
                     generations, border, border, spacing);
        }
        benchmark::DoNotOptimize(row.data());
    }
    state.counters["generation"] = bench::perUnit(generations);
    state.counters["deme_generation"] = bench::perUnit(static_cast<double>(generations) * demes);
    state.counters["reach"] = static_cast<double>(kernel.offsets.back());
}

void SteppingStone(benchmark::State& state, Form form, bool plainVersion) {
    runSteppingStone(state, form, plainVersion, siteCount);
}

void KernelForm(benchmark::State& state, int gridIntervals, int halfPoints, double sigma,
                bool plainVersion) {
    runKernel(state, gridIntervals, halfPoints, sigma, plainVersion);
}

// Growth with the size of the row (fast versions only): demes for the stepping-stone form;
// demes and kernel half-points (sigma 10) for the kernel form.
void SteppingStoneScaling(benchmark::State& state) {
    runSteppingStone(state, Form::oneRate, false, static_cast<int>(state.range(0)));
}

void KernelScaling(benchmark::State& state) {
    runKernel(state, static_cast<int>(state.range(0)) - 1, static_cast<int>(state.range(1)), 10.0,
              false);
}

// Throughput of one vector operation on this machine: twelve independent blocks of eight
// doubles, each multiplied, added to or divided by a constant in every round. The time per
// double is the machine's limit for that operation in the kernels above.
enum class Operation { multiply, add, divide };

typedef double Block __attribute__((vector_size(8 * sizeof(double))));

// Rounds of the operation on the blocks, in the widest vector registers the build can name:
// the loops of the library run there when the processor has AVX-512.
ZONEFIT_TARGET_AVX512 void operate(Block* x, int rounds, Operation operation, double factor) {
    constexpr int chains = 12;
    for (int r = 0; r < rounds; ++r) {
        for (int j = 0; j < chains; ++j) {
            if (operation == Operation::multiply) {
                x[j] = x[j] * factor;
            } else if (operation == Operation::add) {
                x[j] = x[j] + factor;
            } else {
                x[j] = x[j] / factor;
            }
        }
        // Keeps the blocks in registers and every round's operations in place.
        asm volatile(""
                     : "+v"(x[0]), "+v"(x[1]), "+v"(x[2]), "+v"(x[3]), "+v"(x[4]), "+v"(x[5]),
                       "+v"(x[6]), "+v"(x[7]), "+v"(x[8]), "+v"(x[9]), "+v"(x[10]), "+v"(x[11]));
    }
}

void MachineLimit(benchmark::State& state, Operation operation) {
    if (!ZONEFIT_HAS_WIDER_LEVELS || !instructionSetSupported(InstructionSet::avx512)) {
        state.SkipWithError("measured in 512-bit registers; this processor lacks AVX-512");
        return;
    }
    constexpr int chains = 12;
    constexpr int rounds = 1000;
    Block x[chains];
    for (int j = 0; j < chains; ++j) {
        for (int lane = 0; lane < 8; ++lane) {
            x[j][lane] = 1.0 + 1e-3 * (j * 8 + lane);
        }
    }
    const double factor = 1.0000000001;
    for (auto _ : state) {
        operate(x, rounds, operation, factor);
    }
    benchmark::DoNotOptimize(x);
    state.counters["double"] = bench::perUnit(static_cast<double>(rounds) * chains * 8);
}

// One factorisation and solve of an n x n band matrix with kl = ku = `band`, as a Newton step
// of the settled objective makes them (the matrix copied first, as each step fills it anew).
// The entries vary smoothly and change sign, so rows are swapped in about half the columns.
void BandSolve(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const int band = static_cast<int>(state.range(1));
    BandMatrix matrix(n, band, band);
    for (int j = 0; j < n; ++j) {
        for (int i = std::max(0, j - band); i <= std::min(n - 1, j + band); ++i) {
            matrix.at(i, j) = std::sin(0.7 * i + 1.3 * j) + (i == j ? 0.5 : 0.0);
        }
    }
    BandMatrix work = matrix;
    std::vector<double> b(static_cast<std::size_t>(n));
    for (auto _ : state) {
        work = matrix;
        for (int i = 0; i < n; ++i) {
            b[static_cast<std::size_t>(i)] = 1.0 + 1e-3 * i;
        }
        benchmark::DoNotOptimize(work.factorise());
        work.solve(b.data());
        benchmark::DoNotOptimize(b.data());
    }
}

} // namespace

// What this machine can do: time per double of a vector multiply, add and divide.
BENCHMARK_CAPTURE(MachineLimit, multiply, Operation::multiply);
BENCHMARK_CAPTURE(MachineLimit, add, Operation::add);
BENCHMARK_CAPTURE(MachineLimit, divide, Operation::divide);

// The 105 sites of the stepping-stone models.
BENCHMARK_CAPTURE(SteppingStone, one_rate_105_fast, Form::oneRate, false);
BENCHMARK_CAPTURE(SteppingStone, one_rate_105_plain, Form::oneRate, true);
BENCHMARK_CAPTURE(SteppingStone, per_deme_105_fast, Form::ratePerDeme, false);
BENCHMARK_CAPTURE(SteppingStone, per_deme_105_plain, Form::ratePerDeme, true);
BENCHMARK_CAPTURE(SteppingStone, by_genotype_105_fast, Form::rateByGenotype, false);
BENCHMARK_CAPTURE(SteppingStone, by_genotype_105_plain, Form::rateByGenotype, true);

// The grids of the kernel models: 201 demes with 7 points (C_1, C_2; sigma up to 20 and 50) and
// 401 demes with 11 points (C_3, C_3_F0; sigma up to 50), at a small and a large sigma.
BENCHMARK_CAPTURE(KernelForm, 201x7_sigma2_fast, 200, 3, 2.0, false);
BENCHMARK_CAPTURE(KernelForm, 201x7_sigma2_plain, 200, 3, 2.0, true);
BENCHMARK_CAPTURE(KernelForm, 201x7_sigma20_fast, 200, 3, 20.0, false);
BENCHMARK_CAPTURE(KernelForm, 201x7_sigma20_plain, 200, 3, 20.0, true);
BENCHMARK_CAPTURE(KernelForm, 401x11_sigma5_fast, 400, 5, 5.0, false);
BENCHMARK_CAPTURE(KernelForm, 401x11_sigma5_plain, 400, 5, 5.0, true);
BENCHMARK_CAPTURE(KernelForm, 401x11_sigma50_fast, 400, 5, 50.0, false);
BENCHMARK_CAPTURE(KernelForm, 401x11_sigma50_plain, 400, 5, 50.0, true);

BENCHMARK(SteppingStoneScaling)->ArgName("demes")->Arg(53)->Arg(105)->Arg(210)->Arg(420)->Arg(840);
BENCHMARK(KernelScaling)
    ->ArgNames({"demes", "half_points"})
    ->ArgsProduct({{101, 201, 401, 801}, {3, 5, 10}});

// The Newton steps' band solves: the stepping stone's 105 demes (band 5), and the kernel grids'
// 201 demes with 7 points at sigma 2 (reach 3, band 11) and sigma 20 (reach 63, band 191).
BENCHMARK(BandSolve)
    ->ArgNames({"n", "band"})
    ->Args({315, 5})
    ->Args({603, 11})
    ->Args({603, 32})
    ->Args({603, 191});

BENCHMARK_MAIN();
