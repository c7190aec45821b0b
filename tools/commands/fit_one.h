// zonetool fit with one model and at most one seed: the fit exactly as zonefit runs it, or with a
// checkpoint; also the one fit from an explored optimum (--from RECORD --optimum I).
#pragma once

#include "tools/commands/fit_options.h"
#include "tools/formats/fit_description.h"
#include "tools/formats/run_context.h"

// The description of the one fit `options` asks for, reading `startPath` (from `origin`).
FitDescription describeOneFit(const FitOptions& options, const std::string& startPath,
                              StartOrigin origin);

// Runs the one fit of `options` (one model, at most one seed): locks its files, checks that
// none of an earlier fit is overwritten without --redo and that its inputs are usable and its
// start inside the boxes (every problem named), then runs it with a progress line. `origin`
// says where options.startPath (empty: startvecMODEL.txt) comes from. The fit evaluates on the
// transect and boxes of `ctx`, its reports, messages and progress line go to the context's
// streams. Returns the exit status.
int fitOne(const RunContext& ctx, FitOptions options, StartOrigin origin);
