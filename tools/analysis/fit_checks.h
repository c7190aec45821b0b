// Checks made before any fit of `zonetool fit` starts, each problem named on the error stream
// the caller passes.
#pragma once

#include "tools/formats/data_option.h"
#include "tools/formats/fit_description.h"
#include "tools/formats/fit_inputs.h"

#include <ostream>
#include <string>
#include <utility>
#include <vector>

// The files of `fit` that an earlier fit of the same names may have left and that --redo
// guards: the result and record always, the log of a fit that reports to its log without a
// checkpoint; none when the fit resumes from an existing checkpoint, since an unfinished
// checkpointed fit owns its files (a fit stopped before its first checkpoint starts afresh).
std::vector<std::string> guardedNames(const FitDescription& fit);

// True when none of `names` exists; otherwise names each one that does ("zonetool fit: NAME
// exists already; give --redo to overwrite it").
bool refuseOverwrite(std::ostream& err, const std::vector<std::string>& names);

// Names every missing or unusable input (fitInputProblems); true when there is none.
bool inputsUsable(std::ostream& err, const FitInputs& inputs);

// Names each start file, with its model, whose start vector leaves its box ("zonetool fit: "
// and startFileBoxProblem) in the boxes of `data`; true when none does.
bool startsInsideBoxes(std::ostream& err, const DataContext& data,
                       const std::vector<std::pair<int, std::string>>& files, bool startGiven);
