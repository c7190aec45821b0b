// What one fit is: its model, start, seed, objective and the names of every file it writes.
// Every form of `zonetool fit` describes its fits with these and runs them through runFit
// (tools/analysis/fit_run.h).
#pragma once

#include "models/model_table.h"
#include "models/objective_kind.h"
#include "optimiser/nr3.h"

#include <cstdint>
#include <optional>
#include <string>

struct DataContext;

// The names of the files a fit writes (all relative to the working directory, or as given).
struct FitFiles {
    std::string result;     // the result file, one line: best point and value
    std::string record;     // the fit record, result + ".json"
    std::string log;        // seed line, banner, reports and diagnostics: result + ".log"
    std::string checkpoint; // the checkpoint; empty: the fit keeps none
    std::string trace;      // one line per anneal call; empty: none
};

// How the files of a fit are named.
struct FitNaming {
    std::string result;            // --result NAME; empty: named after the model (below)
    int optimum = 0;               // rank (from 1) of the explored optimum started from; 0: none
    bool seedInName = false;       // "seed" and the seed follow (one fit of several seeds)
    std::string checkpoint;        // --checkpoint FILE; empty: none unless checkpointBeside
    bool checkpointBeside = false; // --checkpoints: the result name followed by ".ckpt"
    std::string trace;             // --trace FILE; empty: none
};

// Names every file of a fit of `model` with `seed`. The result is naming.result when given;
// otherwise the model's prefix (SS1_ML_), then "opt" and the rank for a fit from an explored
// optimum (SS1_ML_opt2), then "seed" and the seed when naming.seedInName and a seed is given
// (SS1_ML_seed3, SS1_ML_opt2seed3). Record and log add ".json" and ".log" to the result name;
// the checkpoint is naming.checkpoint, or the result name and ".ckpt" with checkpointBeside.
FitFiles fitFiles(const ModelEntry& model, const std::optional<std::uint64_t>& seed,
                  const FitNaming& naming);

// The result name of the fit from optimum `rank` (from 1) of `model`, with "seed" and the seed
// when `seed` is given (SS1_ML_opt2, SS1_ML_opt2seed3); its start file adds ".start" to the
// name without seed.
std::string optimumFitName(const ModelEntry& model, int rank,
                           const std::optional<std::uint64_t>& seed);

// Where the start vector and steps of a fit come from.
enum class StartOrigin {
    startFile, // startvecN.txt in the working directory, as zonefit reads it
    given,     // a file named by --start
    derived,   // derived from the --data transect (no startvecN.txt here)
    optimum,   // written from an optimum of an explore record (NAME.start)
};

// Where the banner, reports and the models' diagnostics of a fit go.
enum class FitReports {
    console, // standard output, exactly as zonefit writes them; no log
    log,     // files.log, after the seed line (and the objective line)
};

// One fit. The start vector is line 1 of startPath, the steps of the simplex line 2.
struct FitDescription {
    int model = 0;             // model number, 1 to 10
    std::string modelArgument; // the model as typed ("07"), quoted by zonefit's messages;
                               // empty: the number
    std::string startPath;     // start-vector file
    StartOrigin startOrigin = StartOrigin::startFile;
    std::optional<std::uint64_t> seed;                // every annealer's seed; empty: the clock
    ObjectiveKind objective = ObjectiveKind::zonefit; // the value minimised
    // The function minimised instead of the model's own (tests), evaluated in the fit's model
    // context; null: the model's. Under the settled objective the model's settled objective
    // replaces it.
    ModelObjective* function = nullptr;
    FitFiles files;
    FitReports reports = FitReports::log;
    // The result file replaces one of its name that appeared while the fit ran (--redo);
    // otherwise that file is kept and the fit fails with its result beside it.
    bool redo = false;
    // With a checkpoint: run `scontrol requeue` when stopped under Slurm.
    bool requeue = false;
    // With a checkpoint: the fit installs its own stop-signal guard; false when the caller holds
    // one for several fits.
    bool ownSignalGuard = true;
    // The transect and boxes evaluated on; null: the built-in ones. Not owned; must outlive
    // the fit.
    const DataContext* data = nullptr;

    // The model argument as zonefit's messages quote it.
    std::string modelText() const {
        return modelArgument.empty() ? std::to_string(model) : modelArgument;
    }
    bool checkpointed() const { return !files.checkpoint.empty(); }
};

// The first line of a fit's log: "seed: S", or "seed: clock" when every annealer takes its
// seed from the clock.
std::string seedLine(const std::optional<std::uint64_t>& seed);

// The line that follows the seed line in the log of a fit under the settled objective,
// "objective: settled"; empty under zonefit's, whose logs stay as they were.
std::string objectiveLine(ObjectiveKind objective);
