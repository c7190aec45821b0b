// A fit with a checkpoint: its whole state saved after every anneal call, so that a fit stopped
// at any moment continues from the last one and ends exactly as if never stopped.
#pragma once

#include "driver/schedule.h"
#include "tools/analysis/progress.h"
#include "tools/formats/fit_description.h"

#include <functional>
#include <ostream>

// What became of a checkpointed fit. The totals run over every part of a resumed fit, so that
// they are those of the uninterrupted fit (timing apart).
struct CheckpointedOutcome {
    int status = 1; // 0 done, 1 failure, resumableStopStatus stopped with the checkpoint kept
    long evaluations = 0;
    double cpuSeconds = 0.0;
    double wallSeconds = 0.0;
};

// Runs `fit` (whose files.checkpoint is set): resumes from the checkpoint when it exists (after
// checking that it belongs to this model, seed, objective and start vector), otherwise starts
// afresh. The banner, reports and the models' diagnostics go to files.log; messages to `err`.
// A stop signal (SIGINT, SIGTERM, SIGHUP, SIGUSR1) ends it after at most the current
// evaluation, with the last checkpoint kept; the checkpoint is removed once the result file is
// written. `progress` receives the fit's progress, `onCall` every anneal call. Several fits may
// run at once on their own threads (with ownSignalGuard false and distinct files).
CheckpointedOutcome runCheckpointedFit(const FitDescription& fit, FitProgress& progress,
                                       std::ostream& err,
                                       const std::function<void(const AnnealCall&)>& onCall);
