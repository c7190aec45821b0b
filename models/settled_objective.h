// The objective of a model under either kind of value (models/objective_kind.h).
#pragma once

#include "models/model_table.h"
#include "models/objective_kind.h"
#include "optimiser/nr3.h"

// The value of `model` (whose objective is available) at `x` under `kind`, on the calling
// thread, with the transect, boxes and border file in force there. zonefit: exactly
// model.objective(x). settled: the value of the state the row settles in; an unsettled point is
// answered with the model's penalty unit. Fills `report` when it is not null. Without a report
// the row is settled inside the model's run and scored once; with one, the model is run once
// for zonefit's value and scores the settled state in a second call. Both give the same value.
double evaluateModel(const ModelEntry& model, const NRvector<double>& x, ObjectiveKind kind,
                     SettledReport* report = nullptr);

// A model's objective under one kind, as the annealer and the searches call it.
struct BoundObjective {
    const ModelEntry* model;
    ObjectiveKind kind;
    double operator()(const NRvector<double>& x) const { return evaluateModel(*model, x, kind); }
};
