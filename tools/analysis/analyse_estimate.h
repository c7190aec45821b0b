// What `zonetool analyse` expects its stages to take, from a few timed evaluations of each
// model and the effort's budgets.
#pragma once

#include "tools/analysis/analyse_effort.h"
#include "tools/analysis/analyse_run.h"
#include "tools/formats/data_option.h"

#include <cstdint>
#include <vector>

// The expected time of an analysis: per model its stages' wall seconds, with the measured
// milliseconds of one evaluation, and the CPU and wall seconds of the whole.
struct AnalyseEstimate {
    std::vector<ModelStageSeconds> stages;      // one per model, in the order given
    std::vector<double> evaluationMilliseconds; // wall, near the best point, one per model
    double cpuSeconds = 0.0;
    double wallSeconds = 0.0;
};

// Times evaluations of each of `models` on the transect and boxes of `data` (along short walks
// from starts drawn as the searches draw theirs with `seed`, and at the best point the walks
// reached) and multiplies by the evaluations each stage of `budget` makes: the searches at the
// mean of both costs, divided among `jobs` threads (at most one per start); fits, profiles,
// derived quantities and figures at the cost near the best point.
AnalyseEstimate estimateAnalysis(const DataContext& data, const std::vector<int>& models,
                                 const EffortBudget& budget, int jobs, std::uint64_t seed);
