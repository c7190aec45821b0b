#include "tools/analysis/analyse_estimate.h"

#include "tools/analysis/analyse_stages.h"

#include <algorithm>

AnalyseEstimate estimateAnalysis(const DataContext& data, const std::vector<int>& models,
                                 const EffortBudget& budget, int jobs, std::uint64_t seed) {
    AnalyseEstimate estimate;
    const double threads = std::max(1, std::min(jobs, budget.searchStarts));
    for (int model : models) {
        const EvaluationCost cost = secondsPerEvaluation(data, model, 100, seed);
        const StageEvaluations e = expectedEvaluations(budget, modelParameterCount(model));
        // The searches' global phases roam the box; their polishes and hops, about half of
        // a search, end near optima. Fits and profiles stay near the best.
        const double searchWall = (cost.wall + cost.wallNearBest) / 2.0;
        const double searchCpu = (cost.cpu + cost.cpuNearBest) / 2.0;
        const double near = cost.wallNearBest;
        // Each point within the limit is simulated once for the derived quantities, and again
        // for the figure's envelope: a few dozen evaluations.
        const double pointsWithin = 4.0 * modelParameterCount(model) + 10.0;
        ModelStageSeconds s;
        s.search = static_cast<double>(e.search) * searchWall / threads;
        s.fit = static_cast<double>(e.fit) * near;
        s.profile = static_cast<double>(e.profile) * near;
        s.derived = pointsWithin * near;
        s.figures = (pointsWithin + 10.0) * near;
        estimate.stages.push_back(s);
        estimate.evaluationMilliseconds.push_back(near * 1000.0);
        estimate.cpuSeconds += static_cast<double>(e.search) * searchCpu +
                               static_cast<double>(e.fit + e.profile) * cost.cpuNearBest +
                               (2.0 * pointsWithin + 10.0) * cost.cpuNearBest;
        estimate.wallSeconds += s.search + s.fit + s.profile + s.derived + s.figures;
    }
    return estimate;
}
