// Time per objective evaluation of every model at representative parameter vectors: the
// example start vectors and slow-converging points with thousands of generations. Model 1 is
// also timed with the plain simulation of tests/reference in the same frame. The "_data"
// variants read the transect from examples/transect.tsv, as zonetool --data does: the built-in
// data in a file, so the same values and generations at the cost of reading it from memory.
// The "_zonefit" and "_settled" pairs time the two kinds of value of zonetool's analyses at the
// same point.
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
#include "models/model_table.h"
#include "models/settled_objective.h"
#include "models/ss.h"
#include "models/ss_frame.h"
#include "optimiser/nr3.h"
#include "population/simulation_report.h"
#include "reference/plain_population.h"
#include "tools/formats/data_option.h"

namespace {

// A directory holding the example borders (25 and 79), where models 3 to 6 are evaluated, and
// the directory to return to.
std::string bordersDir;
std::string homeDir;

double plainSsone(const ModelContext& context, const NRvector<double>& x) {
    return ssframe::modelOne(context, x, plain::simulate);
}

// One evaluation per iteration; the counters give the generations of the simulation and the
// time per generation and per deme-generation.
void Evaluate(benchmark::State& state, ModelObjective* objective, int demes,
              std::vector<double> point, ModelContext context = ModelContext{}) {
    NRvector<double> x(static_cast<int>(point.size()));
    for (std::size_t i = 0; i < point.size(); ++i) {
        x[static_cast<int>(i)] = point[i];
    }
    bench::QuietDiagnostics quiet;
    SimulationReport report;
    context.simulation = quiet.context(&report);
    double value = 0.0;
    if (chdir(bordersDir.c_str()) != 0) {
        state.SkipWithError("cannot enter the border directory");
        return;
    }
    for (auto _ : state) {
        value = objective(context, x);
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
void EvaluateWithData(benchmark::State& state, ModelObjective* objective, int demes,
                      std::vector<double> point) {
    static DataContext context;
    static const int status = [] {
        std::vector<std::string> rest;
        return readDataOptions("bench", {"--data", ZONEFIT_SOURCE_DIR "/examples/transect.tsv"},
                               rest, context, std::cerr);
    }();
    if (status != -1) {
        state.SkipWithError("cannot read examples/transect.tsv");
        return;
    }
    Evaluate(state, objective, demes, std::move(point), context.models());
}

// One evaluation of model `number` under `kind` per iteration, as the searches make them
// (without a report); the counters give the
// generations run in all (zonefit's run included) and the label the value and kind of state.
void EvaluateKind(benchmark::State& state, int number, ObjectiveKind kind,
                  std::vector<double> point) {
    const ModelEntry& model = *findModel(number);
    NRvector<double> x(static_cast<int>(point.size()));
    for (std::size_t i = 0; i < point.size(); ++i) {
        x[static_cast<int>(i)] = point[i];
    }
    bench::QuietDiagnostics quiet;
    ModelContext context;
    context.simulation = quiet.context();
    SettledReport report;
    double value = 0.0;
    if (chdir(bordersDir.c_str()) != 0) {
        state.SkipWithError("cannot enter the border directory");
        return;
    }
    for (auto _ : state) {
        value = evaluateModel(context, model, x, kind);
        benchmark::DoNotOptimize(value);
    }
    evaluateModel(context, model, x, kind, &report);
    if (chdir(homeDir.c_str()) != 0) {
        state.SkipWithError("cannot return to the working directory");
    }
    state.counters["generations"] = static_cast<double>(report.generations);
    char label[96];
    std::snprintf(label, sizeof label, "value %.17g, %s", value, stateKindText(report.kind));
    state.SetLabel(label);
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

// The settled value against zonefit's at the same points: the start vectors, the cliff-edge
// optimum of model 1 (69.6 million generations of plain iteration to 1e-13), a transient
// (model 1's lowest value found by a global search), the point where unguarded Newton steps
// find a saddle, and the profile point of model 8 from the README's worked session.
constexpr ObjectiveKind zonefitKind = ObjectiveKind::zonefit;
constexpr ObjectiveKind settledKind = ObjectiveKind::settled;
const std::vector<double> m1Cliff = {1.002584305, 1.002501366, 0.5866120784, 14.13080869};
const std::vector<double> m1Transient = {1.0015445735414139, 1.0014374780222324,
                                         0.52035246227870591, 12.249793860906925};
const std::vector<double> m1Saddle = {1.00687, 1.00435, 0.467739, 7.64224};
const std::vector<double> m8Profile = {
    4.3439497823793802,  4.194007758670292,  0.78321021048844219, 0.96327055945109041,
    0.35543605267321343, 45.508681605298321, 213.5488714708963};
BENCHMARK_CAPTURE(EvaluateKind, m1_start_zonefit, 1, zonefitKind, {1.05, 1.05, 0.3, 15});
BENCHMARK_CAPTURE(EvaluateKind, m1_start_settled, 1, settledKind, {1.05, 1.05, 0.3, 15});
BENCHMARK_CAPTURE(EvaluateKind, m1_cliff_zonefit, 1, zonefitKind, m1Cliff);
BENCHMARK_CAPTURE(EvaluateKind, m1_cliff_settled, 1, settledKind, m1Cliff);
BENCHMARK_CAPTURE(EvaluateKind, m1_transient_zonefit, 1, zonefitKind, m1Transient);
BENCHMARK_CAPTURE(EvaluateKind, m1_transient_settled, 1, settledKind, m1Transient);
BENCHMARK_CAPTURE(EvaluateKind, m1_saddle_zonefit, 1, zonefitKind, m1Saddle);
BENCHMARK_CAPTURE(EvaluateKind, m1_saddle_settled, 1, settledKind, m1Saddle);
BENCHMARK_CAPTURE(EvaluateKind, m3_start_zonefit, 3, zonefitKind,
                  {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15});
BENCHMARK_CAPTURE(EvaluateKind, m3_start_settled, 3, settledKind,
                  {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15});
BENCHMARK_CAPTURE(EvaluateKind, m7_start_zonefit, 7, zonefitKind, {1.05, 1.05, 0.3, 10, 450});
BENCHMARK_CAPTURE(EvaluateKind, m7_start_settled, 7, settledKind, {1.05, 1.05, 0.3, 10, 450});
BENCHMARK_CAPTURE(EvaluateKind, m8_profile_zonefit, 8, zonefitKind, m8Profile);
BENCHMARK_CAPTURE(EvaluateKind, m8_profile_settled, 8, settledKind, m8Profile);
BENCHMARK_CAPTURE(EvaluateKind, m9_start_zonefit, 9, zonefitKind,
                  {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0.3, 10, 250, 600});
BENCHMARK_CAPTURE(EvaluateKind, m9_start_settled, 9, settledKind,
                  {1.05, 0.95, 0.95, 0.95, 0.95, 1.05, 0.3, 10, 250, 600});

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
