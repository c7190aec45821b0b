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

#include "bench/per_model.h"
#include "models/model_table.h"
#include "population/row_hook.h"
#include "population/row_settling.h"
#include "reference/region_points.h"

namespace {

// Seconds of the faster of two settlings of `captured` under `rules`; the rest of the last in
// `rest`.
double timeOf(const RowHook& captured, const SettleRules& rules, RowRest& rest) {
    return bench::fasterOfTwo([&]() {
        RowState state = captured.state;
        rest = settleRow(captured.dynamics, state, rules).rest;
    });
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
    const double cMedian = bench::quantile(checked, 0.5);
    const double uMedian = bench::quantile(unchecked, 0.5);
    std::printf("| %d | %zu | %.3f | %.3f | %.3f | %.3f | %.3f | %d |\n", model.number,
                checked.size(), 1e3 * uMedian, 1e3 * bench::quantile(unchecked, 0.95),
                1e3 * cMedian, 1e3 * bench::quantile(checked, 0.95), cMedian / uMedian, changed);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    return bench::perModel(argc, argv, 100, "bench_saddle_check",
                           "%d points per model; settling times in ms (faster of two runs)\n\n",
                           "| model | rows | unchecked median | unchecked 95% | checked median | "
                           "checked 95% | ratio of medians | kind changed |\n"
                           "|---|---|---|---|---|---|---|---|\n",
                           measure);
}
