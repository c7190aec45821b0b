// Checkpoints of a fit: its whole state after every anneal call, saved atomically, so that a fit
// stopped at any moment continues from the last one and ends exactly as if never stopped.
#pragma once

#include "driver/schedule.h"
#include "models/objective_kind.h"
#include "tools/data_option.h"
#include "tools/progress.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Format number of the checkpoint file, and the program version it records; a checkpoint of
// another format or version is refused (its state might not continue the same fit).
constexpr int checkpointFormat = 1;
extern const char* const checkpointProgramVersion;

// Everything a checkpoint file holds (see docs/checkpoint.md).
struct Checkpoint {
    int format = checkpointFormat;
    std::string program = checkpointProgramVersion;
    int model = 0;
    std::optional<std::uint64_t> seed;                // empty: clock-seeded
    ObjectiveKind objective = ObjectiveKind::zonefit; // the value the fit minimises
    std::vector<double> start;
    std::vector<double> steps;
    ScheduleState state;
    long evaluations = 0;      // objective evaluations up to this state
    double progressBest = 0.0; // lowest value of any evaluation so far
    double cpuSeconds = 0.0;   // process CPU time of the fit so far
    double wallSeconds = 0.0;  // wall time of the fit so far
    long long logBytes = 0;    // length of the log at this state
    long long traceBytes = -1; // length of the trace at this state; -1 without a trace
};

// The checkpoint as text, doubles as hexadecimal floating point, ending in a checksum line.
std::string formatCheckpoint(const Checkpoint& checkpoint);

// Reads a checkpoint from `text` after checking its checksum (one without an "objective" line,
// from before it was recorded, is of zonefit's objective); on failure returns false with the
// reason in `error` ("no checksum line", "checksum does not match", "line N: ...", or "the
// saved state does not fit its start vector"). The caller checks the magic word and format
// first, since another format may use another checksum.
bool parseCheckpoint(const std::string& text, Checkpoint& checkpoint, std::string& error);

// One checkpointed fit, as `zonetool fit MODEL --checkpoint FILE` runs it.
struct CheckpointedFit {
    std::string modelArgument;                        // as typed
    std::string startPath;                            // start-vector file
    std::string resultName;                           // result file; empty: the model's prefix
    std::string checkpointPath;                       // the checkpoint, resumed from when it exists
    std::string tracePath;                            // trace file, or empty for none
    std::optional<std::uint64_t> seed;                // every annealer's seed; the clock when empty
    ObjectiveKind objective = ObjectiveKind::zonefit; // the value minimised
    bool requeue = false; // run `scontrol requeue` when stopped under Slurm
    // The result file replaces one of its name that appeared while the fit ran (--redo);
    // otherwise that file is kept and the fit fails with its result beside it.
    bool redo = false;
    // Install a StopSignalGuard in StopMode::request for the fit; false when the caller holds
    // one for several fits.
    bool ownSignalGuard = true;
};

// What became of a checkpointed fit. The totals run over every part of a resumed fit, so that
// they are those of the uninterrupted fit (timing apart).
struct CheckpointedOutcome {
    int status = 1; // 0 done, 1 failure, resumableStopStatus stopped with the checkpoint kept
    long evaluations = 0;
    double cpuSeconds = 0.0;
    double wallSeconds = 0.0;
};

// Runs the fit: resumes from the checkpoint when it exists (after checking that it belongs to
// this model, seed, objective and start vector), otherwise starts afresh. The banner, reports and
// the models' diagnostics go to the result name followed by ".log"; messages to `err`. A stop
// signal (SIGINT, SIGTERM, SIGHUP, SIGUSR1) ends it after at most the current evaluation, with
// the last checkpoint kept; the checkpoint is removed once the result file is written.
// `progress` receives the fit's progress, `onCall` every anneal call. Several fits may run at
// once on their own threads (with ownSignalGuard false and distinct files).
// The models read the transect and boxes of `data`.
CheckpointedOutcome runCheckpointedFit(const DataContext& data, const CheckpointedFit& fit,
                                       FitProgress& progress, std::ostream& err,
                                       const std::function<void(const AnnealCall&)>& onCall);

// Under Slurm (SLURM_JOB_ID set) runs `scontrol requeue $SLURM_JOB_ID` without a shell and says
// on `err` what was done or why nothing was.
void requeueStoppedJob(std::ostream& err);
