// The one way to run a fit: every form of `zonetool fit` (one fit, several, from explored optima,
// checkpointed, in a Slurm task) describes its fits (tools/formats/fit_description.h) and runs each
// through runDescribedFit.
//
// To run a fit from another command: fill a FitDescription (model, startPath, seed, objective,
// files = fitFiles(model, seed, naming), reports = FitReports::log), check beforehand that its
// inputs are usable and its files may be written (tools/formats/fit_inputs.h,
// tools/formats/output_lock.h), and call runDescribedFit with a FitProgress of its own; the outcome
// holds the exit status and, when it is 0, the value of the result file. Several at once: runFits
// (tools/analysis/parallel.h).
#pragma once

#include "driver/schedule.h"
#include "tools/analysis/progress.h"
#include "tools/formats/fit_description.h"

#include <functional>
#include <ostream>

// What became of one fit.
struct FitOutcome {
    int status = -1;       // the fit's exit status (0 when the result file was written)
    double value = 0.0;    // the value in the result file, when written
    bool hasValue = false; // the result file was written and read back
    long evaluations = 0;  // objective evaluations
    double seconds = 0.0;  // wall time of the fit
};

// What the caller of a fit sees of it while it runs. Every member may be left empty.
struct FitHooks {
    // Hooks writing to `outStream` and `errStream`, which outlive them.
    FitHooks(std::ostream& outStream, std::ostream& errStream) : out(&outStream), err(&errStream) {}

    // FitReports::console: the objective line before zonefit's own output (not owned).
    std::ostream* out;
    // Messages of a console or checkpointed fit (not owned). (A fit that reports to its log
    // without a checkpoint writes its messages there too.)
    std::ostream* err;
    // Called after every anneal call, once the call is recorded in the fit's progress.
    std::function<void(const AnnealCall&)> onCall;
    // Called once the fit is marked started, right before the schedule runs (a console or
    // checkpointed fit), and right after it ended, before it is marked finished.
    std::function<void()> started;
    std::function<void()> ended;
};

// Runs `fit` in the working directory on the transect and boxes of fit.data (the built-in ones
// when null) and returns its outcome; `progress` follows it.
// - with files.checkpoint: saved after every anneal call and resumed from it (see
//   tools/analysis/checkpointed_fit.h); reports to files.log, messages to hooks.err.
// - FitReports::console: exactly as zonefit (the settled objective says so in a first line),
//   with the trace and the fit record; a stop signal ends the process.
// - FitReports::log: seed line, objective line, banner, reports, diagnostics and messages go to
//   files.log; nothing is written to standard output or error.
// Inputs are read by the fit itself (zonefit's messages); the caller checks beforehand that
// the files may be written.
FitOutcome runDescribedFit(const FitDescription& fit, FitProgress& progress, const FitHooks& hooks);
