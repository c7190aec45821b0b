// The driver of the benchmarks that time points of every model: arguments POINTS [MODEL...]
// (POINTS >= 1; the models default to 1 to 10), a scratch directory holding the example
// borders (25 and 79) for models 3 to 6, the models' diagnostics dropped, and one table row per
// model.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/bench_rows.h"
#include "models/model_context.h"
#include "models/model_table.h"

namespace bench {

// Seconds of the faster of two calls of `run`.
template <class Run> double fasterOfTwo(Run run) {
    double best = HUGE_VAL;
    for (int k = 0; k < 2; ++k) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const auto end = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double>(end - start).count());
    }
    return best;
}

// The q-quantile of `v`: its ceil(q n)-th smallest value (the smallest for q = 0).
inline double quantile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    const std::size_t at = static_cast<std::size_t>(std::ceil(q * static_cast<double>(v.size())));
    return v[std::min(v.size() - 1, at == 0 ? 0 : at - 1)];
}

// Runs `measure(context, model, points)` for each model asked for, after printing `title`
// (with the point count in place of its %d) and `header`. Returns the program's exit status; a
// usage message names `program`.
template <class Measure>
int perModel(int argc, char** argv, int defaultPoints, const char* program, const char* title,
             const char* header, Measure measure) {
    const int points = argc > 1 ? std::atoi(argv[1]) : defaultPoints;
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
        std::cerr << "usage: " << program << " [POINTS >= 1] [MODEL...]\n";
        return 1;
    }
    std::ofstream("borders.txt") << "25\n79\n";
    QuietDiagnostics quiet;
    ModelContext context;
    context.simulation = quiet.context();
    std::printf(title, points);
    std::printf("%s", header);
    int status = 0;
    for (int m : models) {
        const ModelEntry* model = findModel(m);
        if (model == nullptr || model->objective == nullptr) {
            std::cerr << program << ": no model " << m << "\n";
            status = 1;
            break;
        }
        measure(context, *model, points);
    }
    std::remove("borders.txt");
    if (chdir("/") == 0) {
        rmdir(dir);
    }
    return status;
}

} // namespace bench
