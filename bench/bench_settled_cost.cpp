// What the settled value costs against zonefit's: for every model, 200 points drawn uniformly
// (log-uniformly where the region is on a log scale) from the exploration regions, each
// evaluated under both kinds as the searches evaluate them (the faster of two runs each); prints
// per model the median and 95th percentile time of each kind, the ratio of the medians, the median
// of the per-point ratios, and how many points came out of each kind of state.
//
//   bench_settled_cost [POINTS] [MODEL...]      (default 200 points, models 1 to 10)
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
#include "models/settled_objective.h"
#include "reference/region_points.h"

namespace {

// Seconds of the faster of two evaluations of `x` under `kind`, as the searches make them
// (without a report).
double timeOf(const ModelContext& context, const ModelEntry& model, const NRvector<double>& x,
              ObjectiveKind kind) {
    return bench::fasterOfTwo([&]() { evaluateModel(context, model, x, kind); });
}

void measure(const ModelContext& context, const ModelEntry& model, int points) {
    std::mt19937_64 rng(2000 + static_cast<unsigned>(model.number));
    NRvector<double> x(model.parameterCount);
    std::vector<double> zonefit, settled, ratio;
    int kinds[6] = {0, 0, 0, 0, 0, 0};
    for (int k = 0; k < points; ++k) {
        drawInRegions(model, rng, x);
        zonefit.push_back(timeOf(context, model, x, ObjectiveKind::zonefit));
        settled.push_back(timeOf(context, model, x, ObjectiveKind::settled));
        SettledReport report;
        evaluateModel(context, model, x, ObjectiveKind::settled, &report);
        ratio.push_back(settled.back() / zonefit.back());
        ++kinds[static_cast<int>(report.kind)];
    }
    const double zMedian = bench::quantile(zonefit, 0.5);
    const double sMedian = bench::quantile(settled, 0.5);
    std::printf("| %d | %.3f | %.3f | %.3f | %.3f | %.2f | %.2f | %d/%d/%d/%d/%d/%d |\n",
                model.number, 1e3 * zMedian, 1e3 * bench::quantile(zonefit, 0.95), 1e3 * sMedian,
                1e3 * bench::quantile(settled, 0.95), sMedian / zMedian,
                bench::quantile(ratio, 0.5), kinds[1], kinds[2], kinds[3], kinds[5], kinds[4],
                kinds[0]);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    return bench::perModel(
        argc, argv, 200, "bench_settled_cost",
        "%d points per model; times in ms (faster of two runs)\n\n",
        "| model | zonefit median | zonefit 95% | settled median | settled 95% | "
        "ratio of medians | median ratio | equilibrium/transient/quasi-stationary/"
        "allele lost/unsettled/none |\n|---|---|---|---|---|---|---|---|\n",
        measure);
}
