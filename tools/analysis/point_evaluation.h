// Evaluating a model's objective at a point held as a plain vector, as the tools do outside
// the optimiser.
#pragma once

#include "models/model_table.h"
#include "models/objective_kind.h"
#include "population/simulation_report.h"
#include "tools/formats/data_option.h"

#include <string>
#include <vector>

// -lnL of `model` (whose objective must be available) at `point`, on the transect and boxes of
// `data`; diagnostics go to `diagnostics` (null: standard output).
double objectiveAt(const DataContext& data, const ModelEntry& model,
                   const std::vector<double>& point, std::ostream* diagnostics = nullptr);

// The same recording into `report`, with the evaluation's failures caught: false with the
// failure's one-line message in `error` when the evaluation failed.
bool evaluateRecorded(const DataContext& data, const ModelEntry& model,
                      const std::vector<double>& point, SimulationReport& report, double& value,
                      std::string& error, std::ostream* diagnostics = nullptr);

// -lnL of `model` at `point` under `kind`; the settled evaluation's report goes to `settled`
// when it is not null (it is left untouched under zonefit).
double objectiveAt(const DataContext& data, const ModelEntry& model,
                   const std::vector<double>& point, ObjectiveKind kind,
                   SettledReport* settled = nullptr, std::ostream* diagnostics = nullptr);

// evaluateRecorded under `kind`, with the settled evaluation's report in `settled` (untouched
// under zonefit). `report` records what the simulations of the evaluation record.
bool evaluateRecorded(const DataContext& data, const ModelEntry& model,
                      const std::vector<double>& point, ObjectiveKind kind,
                      SimulationReport& report, SettledReport& settled, double& value,
                      std::string& error, std::ostream* diagnostics = nullptr);
