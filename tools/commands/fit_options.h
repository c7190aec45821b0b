// The options of `zonetool fit`, read into one struct and checked in one place: one fit or
// several (models times seeds), or fits from the optima of an explore record (--from).
#pragma once

#include "models/objective_kind.h"

#include <cstdint>
#include <ostream>
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
    bool objectiveGiven = false;                      // --objective was given

    // Fits from explored optima: MODEL --from RECORD.
    bool from = false;      // --from appears among the arguments
    std::string recordPath; // --from RECORD
    int best = 3;           // --best K: the K best optima, 1 to 1000
    bool bestGiven = false;
    int optimum = 0; // --optimum I: the one fit from optimum I (1 to 1000); 0: the K best

    // Whether more than one fit is asked for (without --from).
    bool several() const { return models.size() > 1 || seeds.size() > 1; }
};

// Reads the command line into `options` and checks it. With --from anywhere among `args` only
// the options of fits from explored optima are known. Returns -1 when the command should go
// on, else the exit status after the help (to `out`) or the usage error (to `err`).
int readFitOptions(const std::vector<std::string>& args, FitOptions& options, std::ostream& out,
                   std::ostream& err);

// The help of `zonetool fit`: the plain fits, then the fits from explored optima.
extern const char* const fitHelp;
extern const char* const fitFromHelp;
