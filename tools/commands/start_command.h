// zonetool start: a start-vector file for one model, derived from the transect in use.
#pragma once

#include "data/borders.h"
#include "models/model_table.h"
#include "tools/analysis/derived_start.h"
#include "tools/formats/run_context.h"

#include <string>
#include <vector>

// The region borders a start of `model` on the transect of `data` assumes: those of
// borders.txt when it exists (false with the reader's message in `error` when it is bad),
// else derivedBorders of the transect (`fromFile` false then). Models without a border file
// get derivedBorders without the file being read.
bool startBorders(const DataContext& data, const ModelEntry& model, Borders& borders,
                  bool& fromFile, std::string& error);

// The start derived for `model` from the transect and boxes of `data`, with `borders` for
// models 3 to 6, its sigma halved
// (`halvings` times, at most 6) while the start evaluates to a penalty or its simulation stops
// at the generation cap. Models 3 to 6 are not evaluated while borders.txt cannot be read.
// The models' diagnostics of these evaluations are dropped.
DerivedStart checkedStart(const DataContext& data, const ModelEntry& model, const Borders& borders,
                          int& halvings);

// The text of the start-vector file of checkedStart.
std::string derivedStartText(const DataContext& data, const ModelEntry& model,
                             const Borders& borders);

// The command: zonetool start MODEL [-o FILE] [--redo] [--borders]. Returns the exit status.
int startCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const startHelp;
