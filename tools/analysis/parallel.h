// Several fits at once: one worker thread per job, each fit with its own result and log file.
#pragma once

#include "tools/analysis/fit_run.h"
#include "tools/analysis/progress.h"
#include "tools/formats/fit_description.h"
#include "tools/formats/run_context.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

// The fits of `models` (in that order) times `seeds` (in that order within each model); with
// no seeds, one clock-seeded fit per model. Their files are named by fitFiles with `naming`,
// the seed in the name when there are several seeds (SS1_ML_seed3, log SS1_ML_seed3.log);
// each reports to its log. Each model reads startvecN.txt, N its number.
std::vector<FitDescription> planFits(const std::vector<int>& models,
                                     const std::vector<std::uint64_t>& seeds,
                                     const FitNaming& naming = FitNaming());

// Checks borders.txt once when a fit of models 3 to 6 is planned, so that a bad border file
// is refused before any fit starts. (Should it turn bad later, each fit that reads it stops
// with the message in its log; the others go on.) The borders are checked against the transect
// of `data`.
bool checkBordersFor(const DataContext& data, const std::vector<FitDescription>& jobs,
                     std::string& error);

// Runs `jobs` on `workers` threads (at least 1), each through runDescribedFit in the working
// directory on its own data, or on the transect and boxes of `ctx` when it names none, writing
// nothing to the context's output: its seed (seedLine), then its reports, the models'
// diagnostics and any message go to its log file. The messages of a checkpointed fit (a refused
// checkpoint, say) go to the context's error stream, one fit's at a time, since its log may be
// cut back to the checkpoint; the caller holds the stop-signal guard of every checkpointed fit.
// `progress` receives one record per job; when its size differs from the number of jobs it is
// remade before any fit starts. Results are bit for bit those of the same fits run one at a time.
// `onFinish` is called, from the worker thread, after each fit.
std::vector<FitOutcome> runFits(const RunContext& ctx, const std::vector<FitDescription>& jobs,
                                int workers, std::deque<FitProgress>& progress,
                                const std::function<void(std::size_t)>& onFinish = nullptr);

// The summary table: one row per fit (model, name, seed, status, -lnL, evaluations, time,
// result and log file).
std::string summaryTable(const std::vector<FitDescription>& jobs,
                         const std::vector<FitOutcome>& outcomes);

// A one-line view of a run in progress: fits done, and the state of each running fit.
std::string runProgressText(const std::vector<FitDescription>& jobs,
                            const std::deque<FitProgress>& progress, double wallSeconds);
