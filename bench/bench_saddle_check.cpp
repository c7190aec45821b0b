// What checking a stop's stability costs the settled value: for every model, POINTS points drawn
// from the exploration regions as bench_settled_cost draws them; each point's row is captured
// once from the model's own run, then settled from copies of that state with the check and
// without it (the faster of two runs each). Prints per model the median and 95th percentile of
// both, the ratio of the medians, and at how many points the check changed the kind of state.
// The rows are settled without the score's weights, which the check does not read.
//
//   bench_saddle_check [POINTS] [MODEL...]      (default 100 points, models 1 to 10)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/bench_rows.h"
#include "models/model_table.h"
#include "population/row_hook.h"
#include "population/row_settling.h"
#include "reference/region_points.h"

namespace {

// Seconds of the faster of two settlings of `captured` under `rules`; the rest of the last in
// `rest`.
double timeOf(const RowHook& captured, const SettleRules& rules, RowRest& rest) {
    double best = HUGE_VAL;
    for (int run = 0; run < 2; ++run) {
        RowState state = captured.state;
        const auto start = std::chrono::steady_clock::now();
        rest = settleRow(captured.dynamics, state, rules).rest;
        const auto end = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(end - start).count());
    }
    return best;
}

double quantile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    const std::size_t at = static_cast<std::size_t>(std::ceil(q * static_cast<double>(v.size())));
    return v[std::min(v.size() - 1, at == 0 ? 0 : at - 1)];
}

void measure(const ModelContext& context, const ModelEntry& model, int points) {
    std::mt19937_64 rng(2000 + static_cast<unsigned>(model.number));
    NRvector<double> x(model.parameterCount);
    std::vector<double> checked, unchecked;
    int changed = 0;
    SettleRules with;
    with.diagnostics = context.simulation.diagnostics;
    SettleRules without = with;
    without.confirmStable = false;
    for (int k = 0; k < points; ++k) {
        drawInRegions(model, rng, x);
        RowHook hook;
        ModelContext capturing = context;
        capturing.simulation.rowHook = &hook;
        model.evaluate(capturing, x);
        if (!hook.captured) {
            continue;
        }
        RowRest a = RowRest::unsettled;
        RowRest b = RowRest::unsettled;
        checked.push_back(timeOf(hook, with, a));
        unchecked.push_back(timeOf(hook, without, b));
        changed += a != b ? 1 : 0;
    }
    if (checked.empty()) {
        std::printf("| %d | no row captured |\n", model.number);
        return;
    }
    const double cMedian = quantile(checked, 0.5);
    const double uMedian = quantile(unchecked, 0.5);
    std::printf("| %d | %zu | %.3f | %.3f | %.3f | %.3f | %.3f | %d |\n", model.number,
                checked.size(), 1e3 * uMedian, 1e3 * quantile(unchecked, 0.95), 1e3 * cMedian,
                1e3 * quantile(checked, 0.95), cMedian / uMedian, changed);
    std::fflush(stdout);
}

} // namespace

// Models 3 to 6 read borders.txt from the working directory: the points are evaluated in a
// fresh directory holding the example borders (25 and 79).
int main(int argc, char** argv) {
    const int points = argc > 1 ? std::atoi(argv[1]) : 100;
    std::vector<int> models;
    for (int a = 2; a < argc; ++a) {
        models.push_back(std::atoi(argv[a]));
    }
    if (models.empty()) {
        for (int m = 1; m <= modelCount; ++m) {
            models.push_back(m);
        }
    }
    char dir[] = "/tmp/zonefit-bench-XXXXXX";
    if (points < 1 || mkdtemp(dir) == nullptr || chdir(dir) != 0) {
        std::cerr << "usage: bench_saddle_check [POINTS >= 1] [MODEL...]\n";
        return 1;
    }
    std::ofstream("borders.txt") << "25\n79\n";
    bench::QuietDiagnostics quiet;
    ModelContext context;
    context.simulation = quiet.context();
    std::printf("%d points per model; settling times in ms (faster of two runs)\n\n", points);
    std::printf(
        "| model | rows | unchecked median | unchecked 95%% | checked median | checked 95%% | "
        "ratio of medians | kind changed |\n|---|---|---|---|---|---|---|---|\n");
    for (int m : models) {
        const ModelEntry* model = findModel(m);
        if (model == nullptr || model->objective == nullptr) {
            std::cerr << "bench_saddle_check: no model " << m << "\n";
            return 1;
        }
        measure(context, *model, points);
    }
    std::remove("borders.txt");
    if (chdir("/") == 0) {
        rmdir(dir);
    }
    return 0;
}
