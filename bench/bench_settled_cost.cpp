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

#include "bench/bench_rows.h"
#include "models/model_table.h"
#include "models/settled_objective.h"
#include "reference/region_points.h"

namespace {

// Seconds of the faster of two evaluations of `x` under `kind`, as the searches make them
// (without a report).
double timeOf(const ModelContext& context, const ModelEntry& model, const NRvector<double>& x,
              ObjectiveKind kind) {
    double best = HUGE_VAL;
    for (int run = 0; run < 2; ++run) {
        const auto start = std::chrono::steady_clock::now();
        evaluateModel(context, model, x, kind);
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
    const double zMedian = quantile(zonefit, 0.5);
    const double sMedian = quantile(settled, 0.5);
    std::printf("| %d | %.3f | %.3f | %.3f | %.3f | %.2f | %.2f | %d/%d/%d/%d/%d/%d |\n",
                model.number, 1e3 * zMedian, 1e3 * quantile(zonefit, 0.95), 1e3 * sMedian,
                1e3 * quantile(settled, 0.95), sMedian / zMedian, quantile(ratio, 0.5), kinds[1],
                kinds[2], kinds[3], kinds[5], kinds[4], kinds[0]);
    std::fflush(stdout);
}

} // namespace

// Models 3 to 6 read borders.txt from the working directory: the points are evaluated in a
// fresh directory holding the example borders (25 and 79).
int main(int argc, char** argv) {
    const int points = argc > 1 ? std::atoi(argv[1]) : 200;
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
        std::cerr << "usage: bench_settled_cost [POINTS >= 1] [MODEL...]\n";
        return 1;
    }
    std::ofstream("borders.txt") << "25\n79\n";
    bench::QuietDiagnostics quiet;
    ModelContext context;
    context.simulation = quiet.context();
    std::printf("%d points per model; times in ms (faster of two runs)\n\n", points);
    std::printf("| model | zonefit median | zonefit 95%% | settled median | settled 95%% | "
                "ratio of medians | median ratio | equilibrium/transient/quasi-stationary/"
                "allele lost/unsettled/none |\n|---|---|---|---|---|---|---|---|\n");
    for (int m : models) {
        const ModelEntry* model = findModel(m);
        if (model == nullptr || model->objective == nullptr) {
            std::cerr << "bench_settled_cost: no model " << m << "\n";
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
