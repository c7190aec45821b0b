// zonetool fit: one fit exactly as zonefit runs it, or several fits at once.
#pragma once

#include "models/objective_kind.h"
#include "tools/run_context.h"

#include <cstdint>
#include <string>
#include <vector>

// What the fit command line asks for.
struct FitOptions {
    std::string modelText;            // MODELS as typed ("07" reads startvec07.txt)
    std::vector<int> models;          // in the order given, without duplicates
    std::vector<std::uint64_t> seeds; // empty: every annealer seeded from the clock
    bool seedGiven = false;           // --seed
    bool seedsGiven = false;          // --seeds
    int jobs = 1;                     // worker threads, 1 to 256
    std::string startPath;            // --start; startvecMODEL.txt when empty
    std::string tracePath;            // --trace; none when empty
    bool quiet = false;               // no progress line
    bool redo = false;                // earlier results and logs may be overwritten
    std::string resultName;           // --result; the model's prefix when empty (one fit)
    std::string checkpointPath;       // --checkpoint; none when empty (one fit)
    bool checkpoints = false;         // --checkpoints: RESULT.ckpt for each of several fits
    bool requeue = false;             // --requeue: requeue the Slurm job when stopped
    ObjectiveKind objective = ObjectiveKind::zonefit; // --objective

    // Whether more than one fit is asked for.
    bool several() const { return models.size() > 1 || seeds.size() > 1; }
};

// Reads the command line into `options`. Returns -1 when the command should go on, else the
// exit status after the help or the usage error.
int readFitOptions(const std::vector<std::string>& args, FitOptions& options);

// The command: zonetool fit MODELS [options]. Returns the exit status.
int fitCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const fitHelp;
