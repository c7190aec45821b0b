#include "tools/analysis/fit_objective.h"

#include "models/settled_objective.h"

const DataContext& fitData(const FitDescription& fit) {
    // Never written after it is made, so every thread may read it.
    static const DataContext builtIn;
    return fit.data != nullptr ? *fit.data : builtIn;
}

FitObjective fitObjective(const FitDescription& fit, const ModelEntry& model,
                          const ModelContext& context, FitProgress& progress) {
    const bool own = fit.function == nullptr || fit.objective == ObjectiveKind::settled;
    if (own && model.objective == nullptr) {
        return FitObjective();
    }
    if (own) {
        return countingObjective(BoundObjective{&context, &model, fit.objective}, &progress);
    }
    ModelObjective* replaced = fit.function;
    const ModelContext* bound = &context;
    return countingObjective(
        [replaced, bound](const NRvector<double>& x) { return replaced(*bound, x); }, &progress);
}
