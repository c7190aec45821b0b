#include "tools/analysis/analyse_estimate.h"

#include "tools/analysis/analyse_stages.h"

#include <algorithm>

AnalyseEstimate estimateAnalysis(const DataContext& data, const std::vector<int>& models,
                                 const EffortBudget& budget, int jobs, std::uint64_t seed) {
    AnalyseEstimate estimate;
    const double threads = std::max(1, std::min(jobs, budget.searchStarts));
    for (int model : models) {
        const EvaluationCost cost = secondsPerEvaluation(data, model, 100, seed);
        const double t = cost.wall;
        const StageEvaluations e = expectedEvaluations(budget, modelParameterCount(model));
        ModelStageSeconds s;
        s.search = static_cast<double>(e.search) * t / threads;
        s.fit = static_cast<double>(e.fit) * t;
        s.profile = static_cast<double>(e.profile) * t;
        // Each point within the limit is simulated once for the derived quantities, and the
        // figure's envelope again: a few dozen evaluations.
        s.derived = (4.0 * modelParameterCount(model) + 10.0) * t;
        s.figures = 50.0 * t;
        estimate.stages.push_back(s);
        estimate.evaluationMilliseconds.push_back(t * 1000.0);
        estimate.cpuSeconds += static_cast<double>(e.total()) * cost.cpu;
        estimate.wallSeconds += s.search + s.fit + s.profile;
    }
    return estimate;
}
