// Time per objective evaluation of every model at representative parameter vectors: the
// example start vectors and slow-converging points with thousands of generations. Model 1 is
// also timed with the plain simulation of tests/reference in the same frame. The "_data"
// variants read the transect from examples/transect.tsv, as zonetool --data does: the built-in
// data in a file, so the same values and generations at the cost of reading it from memory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/bench_rows.h"
#include "models/SS_F.h"
#include "models/cspace.h"
#include "models/ss.h"
#include "models/ss_frame.h"
#include "optimiser/nr3.h"
#include "population/simulation_report.h"
#include "reference/plain_population.h"
#include "tools/data_option.h"

namespace {

// A directory holding the example borders (25 and 79), where models 3 to 6 are evaluated, and
// the directory to return to.
std::string bordersDir;
std::string homeDir;

double plainSsone(const NRvector<double>& x) {
    return ssframe::modelOne(x, plain::simulate);
}

// One evaluation per iteration; the counters give the generations of the simulation and the
// time per generation and per deme-generation.
void Evaluate(benchmark::State& state, ObjectiveFunction* objective, int demes,
              std::vector<double> point) {
    NRvector<double> x(static_cast<int>(point.size()));
    for (std::size_t i = 0; i < point.size(); ++i) {
        x[static_cast<int>(i)] = point[i];
    }
    bench::QuietDiagnostics quiet;
    SimulationReport report;
    const ScopedSimulationReport recording(report);
    double value = 0.0;
    if (chdir(bordersDir.c_str()) != 0) {
        state.SkipWithError("cannot enter the border directory");
        return;
    }
    for (auto _ : state) {
        value = objective(x);
        benchmark::DoNotOptimize(value);
    }
    if (chdir(homeDir.c_str()) != 0) {
        state.SkipWithError("cannot return to the working directory");
    }
    const double generations = report.generations;
    state.counters["generations"] = generations;
    state.counters["generation"] = bench::perUnit(generations);
    state.counters["deme_generation"] = bench::perUnit(generations * demes);
    char label[64];
    std::snprintf(label, sizeof label, "value %.17g", value);
    state.SetLabel(label);
}

// The same with the transect and boxes of `zonetool --data examples/transect.tsv` in force.
void EvaluateWithData(benchmark::State& state, ObjectiveFunction* objective, int demes,
                      std::vector<double> point) {
    static DataContext context;
    static const int status = [] {
        std::vector<std::string> rest;
        return readDataOptions("bench", {"--data", ZONEFIT_SOURCE_DIR "/examples/transect.tsv"},
                               rest, context);
    }();
    if (status != -1) {
        state.SkipWithError("cannot read examples/transect.tsv");
        return;
    }
    const DataScope scope(&context);
    Evaluate(state, objective, demes, std::move(point));
}

} // namespace

BENCHMARK_CAPTURE(Evaluate, m1_start, ssone, 105, {1.05, 1.05, 0.3, 15});
BENCHMARK_CAPTURE(Evaluate, m1_start_plain, plainSsone, 105, {1.05, 1.05, 0.3, 15});
BENCHMARK_CAPTURE(Evaluate, m1_slow, ssone, 105, {1.001, 1.001, 0.1, 3});
BENCHMARK_CAPTURE(Evaluate, m1_slow_plain, plainSsone, 105, {1.001, 1.001, 0.1, 3});
BENCHMARK_CAPTURE(Evaluate, m1_quick, ssone, 105, {3, 0.2, 1, 100});
BENCHMARK_CAPTURE(Evaluate, m1_quick_plain, plainSsone, 105, {3, 0.2, 1, 100});
// Points outside the box at their last parameter: the whole box test and nothing else.
BENCHMARK_CAPTURE(Evaluate, m1_penalty, ssone, 105, {1.05, 1.05, 0.3, 150});
BENCHMARK_CAPTURE(Evaluate, m9_penalty, cthree, 401,
                  {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0.3, 10, 250, 700});
BENCHMARK_CAPTURE(Evaluate, m2_start, sstwo, 105, {1.05, 0.95, 0.95, 1.05, 0.3, 15, 50});
BENCHMARK_CAPTURE(Evaluate, m3_start_slow, ssthree, 105, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15});
BENCHMARK_CAPTURE(Evaluate, m4_start_slow, ss3_F0, 105, {0.95, 0.9, 1, 1, 1.05, 1.1, 15});
BENCHMARK_CAPTURE(Evaluate, m5_start_slow, ss3_fr, 105,
                  {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15, 0.3, 0.3});
BENCHMARK_CAPTURE(Evaluate, m5_slower, ss3_fr, 105,
                  {0.95, 0.9, 1, 1, 1.05, 1.1, 0.1, 12, 0.5, 0.9});
BENCHMARK_CAPTURE(Evaluate, m6_start_slow, ss3_FG, 105,
                  {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15, 0.3, 0.3});
BENCHMARK_CAPTURE(Evaluate, m6_slower, ss3_FG, 105,
                  {0.95, 0.9, 1, 1, 1.05, 1.1, 0.1, 12, 0.5, 0.9});
BENCHMARK_CAPTURE(Evaluate, m7_start, cone, 201, {1.05, 1.05, 0.3, 10, 450});
BENCHMARK_CAPTURE(Evaluate, m7_slow, cone, 201, {1.001, 1.002, 0.3, 10, 450});
BENCHMARK_CAPTURE(Evaluate, m7_capped, cone, 201, {1, 1, 0.3, 3, 450});
BENCHMARK_CAPTURE(Evaluate, m8_start, ctwo, 201, {1.05, 0.95, 0.95, 1.05, 0.3, 10, 450});
BENCHMARK_CAPTURE(Evaluate, m9_start, cthree, 401,
                  {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0.3, 10, 250, 600});
BENCHMARK_CAPTURE(Evaluate, m9_sigma5, cthree, 401,
                  {1.01, 0.99, 0.95, 0.95, 0.95, 1.05, 0.3, 5, 250, 600});
BENCHMARK_CAPTURE(Evaluate, m9_sigma50, cthree, 401,
                  {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0.3, 50, 300, 550});
BENCHMARK_CAPTURE(Evaluate, m10_start, CthreeFnot, 401,
                  {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 10, 250, 600});

BENCHMARK_CAPTURE(EvaluateWithData, m1_start_data, ssone, 105, {1.05, 1.05, 0.3, 15});
BENCHMARK_CAPTURE(EvaluateWithData, m1_slow_data, ssone, 105, {1.001, 1.001, 0.1, 3});
BENCHMARK_CAPTURE(EvaluateWithData, m1_penalty_data, ssone, 105, {1.05, 1.05, 0.3, 150});
BENCHMARK_CAPTURE(EvaluateWithData, m3_start_slow_data, ssthree, 105,
                  {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15});
BENCHMARK_CAPTURE(EvaluateWithData, m7_start_data, cone, 201, {1.05, 1.05, 0.3, 10, 450});
BENCHMARK_CAPTURE(EvaluateWithData, m9_start_data, cthree, 401,
                  {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0.3, 10, 250, 600});
BENCHMARK_CAPTURE(EvaluateWithData, m9_penalty_data, cthree, 401,
                  {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0.3, 10, 250, 700});

// Models 3 to 6 read borders.txt from the working directory: they are evaluated in a fresh
// directory holding the example borders (25 and 79).
int main(int argc, char** argv) {
    char dir[] = "/tmp/zonefit-bench-XXXXXX";
    char* home = getcwd(nullptr, 0);
    if (mkdtemp(dir) == nullptr || home == nullptr) {
        std::cerr << "bench_models: cannot make a working directory\n";
        return 1;
    }
    bordersDir = dir;
    homeDir = home;
    std::free(home);
    const std::string borders = bordersDir + "/borders.txt";
    std::ofstream(borders) << "25\n79\n";
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(borders.c_str());
    rmdir(dir);
    return 0;
}
