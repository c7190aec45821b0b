// Several fits at once: one worker thread per job, each fit with its own result and log file.
#pragma once

#include "models/objective_kind.h"
#include "optimiser/nr3.h"
#include "tools/progress.h"
#include "tools/run_context.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

// One fit of a run of several.
struct FitJob {
    int model = 0;
    std::optional<std::uint64_t> seed; // every annealer's seed; the clock when empty
    std::string startPath;             // start-vector file
    std::string resultName;            // result file
    std::string logName;               // banner, reports and messages of the fit
    // Evaluated in the fit's context in place of the model's objective when set (tests).
    ModelObjective* objective = nullptr;
    // The value minimised; under settled the model's settled objective replaces `objective`.
    ObjectiveKind objectiveKind = ObjectiveKind::zonefit;
    // Saved to resultName + ".ckpt" after every anneal call and resumed from it (the model's
    // own objective then); a stop signal ends the fit with status resumableStopStatus.
    bool checkpoint = false;
    // The result file replaces one of its name that appeared while the fit ran (--redo);
    // otherwise that file is kept and the fit fails with its result beside it.
    bool redo = false;
};

// What became of one fit.
struct FitOutcome {
    int status = -1;       // runFit's exit status (0 when the result file was written)
    double value = 0.0;    // the value in the result file, when written
    bool hasValue = false; // the result file was written and read back
    long evaluations = 0;  // objective evaluations
    double seconds = 0.0;  // wall time of the fit
};

// The fits of `models` (in that order) times `seeds` (in that order within each model); with
// no seeds, one clock-seeded fit per model. Result files take the model's prefix, followed by
// "seed" and the seed when there are several seeds (SS1_ML_seed3); the log file is the result
// name followed by ".log". Each model reads startvecN.txt, N its number.
std::vector<FitJob> planFits(const std::vector<int>& models,
                             const std::vector<std::uint64_t>& seeds);

// Checks borders.txt once when a fit of models 3 to 6 is planned, so that a bad border file
// is refused before any fit starts. (Should it turn bad later, each fit that reads it stops
// with the message in its log; the others go on.)
// The borders are checked against the transect of `data`.
bool checkBordersFor(const DataContext& data, const std::vector<FitJob>& jobs, std::string& error);

// The first line of a fit's log: "seed: S", or "seed: clock" when every annealer takes its
// seed from the clock.
std::string seedLine(const std::optional<std::uint64_t>& seed);

// The line that follows the seed line in the log of a fit under the settled objective,
// "objective: settled"; empty under zonefit's, whose logs stay as they were.
std::string objectiveLine(ObjectiveKind objective);

// Runs `jobs` on `workers` threads (at least 1), each fit in the working directory on the
// transect and boxes of `ctx`, writing nothing to the context's streams except the messages of
// checkpointed fits (to its error stream): its seed (seedLine), then its reports, the models'
// diagnostics and any message go to its log file. `progress` receives one record per job; when its
// size differs from the number of jobs it is remade before any fit starts. Results are bit for bit
// those of the same fits run one at a time. `onFinish` is called, from the worker thread, after
// each fit.
std::vector<FitOutcome> runFits(const RunContext& ctx, const std::vector<FitJob>& jobs, int workers,
                                std::deque<FitProgress>& progress,
                                const std::function<void(std::size_t)>& onFinish = nullptr);

// The summary table: one row per fit (model, name, seed, status, -lnL, evaluations, time,
// result and log file).
std::string summaryTable(const std::vector<FitJob>& jobs, const std::vector<FitOutcome>& outcomes);

// A one-line view of a run in progress: fits done, and the state of each running fit.
std::string runProgressText(const std::vector<FitJob>& jobs,
                            const std::deque<FitProgress>& progress, double wallSeconds);
