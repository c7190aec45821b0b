// What a described fit evaluates: its data and the objective it minimises, bound to a model
// context of the fit's own.
#pragma once

#include "driver/schedule.h"
#include "models/model_context.h"
#include "models/model_table.h"
#include "tools/analysis/progress.h"
#include "tools/formats/data_option.h"
#include "tools/formats/fit_description.h"

// The transect and boxes of `fit`: *fit.data, or the built-in ones when it is null.
const DataContext& fitData(const FitDescription& fit);

// The objective `fit` minimises in `context` (which must outlive it), counted in `progress`:
// fit.function under the zonefit objective when it is set, else `model`'s objective under
// fit.objective. Empty when the model's objective is not available in this build.
FitObjective fitObjective(const FitDescription& fit, const ModelEntry& model,
                          const ModelContext& context, FitProgress& progress);
