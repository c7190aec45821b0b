// The command line of `zonetool analyse`, read and checked in one place into one struct.
#pragma once

#include "tools/analysis/analyse_effort.h"
#include "tools/analysis/analyse_run.h"
#include "tools/formats/slurm_script.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// What a task of a cluster run does (--task): the whole command when none is given.
enum class AnalyseTask {
    none,    // the analysis itself, every stage
    search,  // one block of one model's search (--block K/B)
    merge,   // the merging of one model's blocks (--blocks B) into its search record
    fit,     // the stages of one model up to its fit
    profile, // the stages of one model up to its profile, or one side of it (--side K/S)
    report,  // the derived quantities, figures and report of every model
};

struct AnalyseOptions {
    std::string modelText = "1-10";   // MODELS as given
    std::vector<int> models;          // read from it
    int jobs = 1;                     // threads of the searches
    std::uint64_t seed = 1;           // of the design and of the fits
    Effort effort = Effort::standard; //
    std::string dir = "analysis";     // -o
    bool redo = false;                // start over
    bool quiet = false;               // no estimate, no progress
    // --slurm: write a script of dependent job arrays instead of running.
    bool slurm = false;
    SlurmRequest request; // --partition, --time, --account, --mem, --cpus-per-task
    int blocks = 0;       // blocks of each search (--blocks); 0: the default
    // --task and its block, for the tasks of that script.
    AnalyseTask task = AnalyseTask::none;
    int block = 0; // with --task search: K of --block K/B (B in `blocks`)
    int side = 0;  // with --task profile: K of --side K/S, that side alone; 0: the whole profile
};

// Reads `args` into `o`: -1 when the command should go on; otherwise the exit status after the
// help (on `out`) or the usage error (on `err`).
int readAnalyseOptions(const std::vector<std::string>& args, AnalyseOptions& o, std::ostream& out,
                       std::ostream& err);

// The arguments that make another run of the same analysis as `o`: the models, --effort,
// --seed and -o DIR (as given), for the jobs of a cluster run.
std::vector<std::string> analyseArguments(const AnalyseOptions& o);

extern const char* const analyseHelp;
