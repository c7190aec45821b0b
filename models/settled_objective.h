// The objective of a model under either kind of value (models/objective_kind.h).
#pragma once

#include "models/model_context.h"
#include "models/model_table.h"
#include "models/objective_kind.h"
#include "optimiser/nr3.h"

// The value of `model` (whose objective is available) at `x` under `kind`, with the transect,
// boxes, failure sink and simulation of `context` and the border file of the working
// directory. zonefit: exactly model.evaluate(context, x), which is model.objective(x) in
// zonefitContext(). settled: the value of the state the row settles in; an unsettled point is
// answered with the model's penalty unit. Fills `report` when it is not null. Without a report
// the row is settled inside the model's run and scored once; with one, the model is run once
// for zonefit's value and scores the settled state in a second call. Both give the same value.
double evaluateModel(const ModelContext& context, const ModelEntry& model,
                     const NRvector<double>& x, ObjectiveKind kind,
                     SettledReport* report = nullptr);

// A model's objective under one kind in one context, as the annealer and the searches call it.
// The context is not owned and must outlive the binding.
struct BoundObjective {
    const ModelContext* context;
    const ModelEntry* model;
    ObjectiveKind kind;
    double operator()(const NRvector<double>& x) const {
        return evaluateModel(*context, *model, x, kind);
    }
};
