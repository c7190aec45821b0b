// The text of the Slurm batch scripts written by zonetool slurm: a job array of fits or of
// profile sides, and the collecting job that runs after the whole array.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// `text` as one bash word that stands for exactly `text`, whatever it holds (blanks, quotes,
// $, backticks, newlines): single-quoted, each ' written as '\''.
std::string bashQuote(const std::string& text);

// What Slurm is asked for, as the #SBATCH lines give it. Every text field must have passed
// the matching check below; an empty field is left to the cluster's default.
struct SlurmRequest {
    std::string time;      // time limit per task, as in 1-00:00:00 or 90 (minutes)
    std::string partition; // partition name(s)
    std::string account;   // account to charge
    std::string memory;    // memory per node, as in 2G or 500M
    int cpusPerTask = 1;   // a fit runs on one thread
    int signalLead = 120;  // seconds before the time limit at which the task gets SIGUSR1
};

// Whether `text` is a Slurm time limit: M, M:S, H:M:S, D-H, D-H:M or D-H:M:S in digits.
bool validTime(const std::string& text);

// The seconds of a time limit that passed validTime.
long timeSeconds(const std::string& text);

// Whether `text` can stand in an #SBATCH line as a partition or account name: letters, digits
// and ._- (and , between partitions). Slurm reads those lines itself, without a shell.
bool validSlurmName(const std::string& text, bool listAllowed);

// Whether `text` is a memory size: digits, optionally followed by one of K M G T.
bool validMemory(const std::string& text);

// One fit of the array: task i runs `zonetool fit model --seed seed --result name`, with
// `--locus locus` when a locus is set.
struct FitTask {
    int model = 0;
    std::uint64_t seed = 0;
    std::string name;    // result file name, as SS1_ML_seed3, or locus-A/SS1_ML_seed3 with a locus
    std::string locus{}; // the locus of a file with a locus column; empty for none
};

// The directory, relative to the working one, that receives the fits of locus `locus`:
// "locus-" and the name with every byte other than a letter, digit, '.', '_' or '-' written as
// %XX (two upper-case hex digits), so that different names never share a directory and no
// name reaches outside the working directory.
std::string locusDirectory(const std::string& locus);

// One side of one parameter of a profile.
struct ProfileTask {
    std::string parameter; // the model's name of the parameter
    std::string side;      // "lower" or "upper"
    std::string name;      // base of its files: NAME.tsv (the partial result), NAME.out, NAME.err
};

// Everything the script of a profile needs beyond its tasks.
struct ProfileJob {
    int model = 0;
    std::string result;                  // result file holding the fitted point
    std::vector<std::string> options;    // further options of every profile call (--units U)
    std::vector<std::string> parameters; // in table order, for the collecting job
    std::string table;                   // file of the assembled table
    std::string tsv;                     // the same as tab-separated values
};

// Where the script runs and which program it calls.
struct ScriptPlace {
    std::string directory; // absolute working directory of every task
    std::string zonetool;  // absolute path of the zonetool binary the tasks run
    bool redo = false;     // tasks may overwrite existing results
    // Given to every call that evaluates a model: --data FILE (an absolute path), each
    // --box NAME=LO:HI and --objective K when given, as words to be quoted.
    std::vector<std::string> dataArguments{};
};

// The batch script of a job array of fits, one task per entry of `tasks` (at least one), in
// that order. As an array task it runs its fit with a checkpoint, a trace and --requeue, its
// standard output and error appended to NAME.out and NAME.err; with the argument "collect"
// it writes compare.tsv and compare.json; with "submit", outside Slurm, it submits itself and
// its collecting job. Tasks with a locus make their locusDirectory first, and the collecting
// job then compares each locus's directory on its own (--locus L), into DIR/compare.tsv and
// DIR/compare.json, in the order the loci first appear among the tasks.
std::string fitArrayScript(const std::vector<FitTask>& tasks, const SlurmRequest& request,
                           const ScriptPlace& place);

// The batch script of a profile: one task per entry of `tasks`; "collect" assembles the
// table from the partial results.
std::string profileArrayScript(const std::vector<ProfileTask>& tasks, const ProfileJob& job,
                               const SlurmRequest& request, const ScriptPlace& place);

// One fit from an explored optimum: 'zonetool fit MODEL --from RECORD --optimum OPTIMUM --seed
// SEED --result NAME', checkpointed as the tasks of fitArrayScript.
struct OptimumFitTask {
    int optimum = 0; // rank, from 1
    std::uint64_t seed = 0;
    std::string name; // result file name, as SS1_ML_opt2seed3
};

// Everything the script of a search for the best optimum needs beyond the Slurm request.
struct ExploreJob {
    int model = 0;
    std::string prefix;               // record PREFIX.explore.json, parts PREFIX.explore.partK-of-B
    std::vector<std::string> options; // of every explore call, as --starts N --seed S --budget E
    int blocks = 1;                   // tasks of the explore array
    std::vector<OptimumFitTask> fits; // tasks of the fit array, in order (at least one)
};

// The batch script of a search: as a task of its array, one block of the explore starts; with
// "merge", the merging of the parts into the record (a missing part fails it); with "fit", as a
// task of the second array, one fit from an optimum; with "collect", compare.tsv and
// compare.json; with "submit", outside Slurm, the four jobs: the merge after the whole explore
// array (afterany), the fit array after a successful merge (afterok; cancelled if the merge
// fails), the comparison after the whole fit array (afterany).
std::string exploreArrayScript(const ExploreJob& job, const SlurmRequest& request,
                               const ScriptPlace& place);

// Everything the script of `zonetool analyse --slurm` needs beyond the Slurm request.
struct AnalyseScriptJob {
    std::string modelText;            // MODELS as given, for the report
    std::vector<int> models;          // one task of each per-model array each
    std::vector<int> sides;           // of each model: its profile's sides, 2 x its parameters
    std::vector<std::string> options; // of every call: --effort E --seed S -o DIR
    int blocks = 1;                   // blocks of each model's search
    std::string logDirectory;         // where each task's NAME.out and NAME.err go
};

// The batch script of an analysis: as a task of its first array, one block of one model's
// search ('zonetool analyse MODEL ... --task search --block K/B'); with "merge", "fit" and
// "profile", as a task of an array of one task per model, that stage of the model ('--task
// merge --blocks B', '--task fit', '--task profile', the last from the sides' journals); with
// "side", as a task of an array over every side of every model's profile, that side ('--task
// profile --side K/S'); with "report", the derived quantities, figures and report of every
// model ('--task report'); with "submit", outside Slurm, the six jobs (search blocks, merge,
// fit, side, profile, report), each after every task of the one before (afterany). Every call
// gets --quiet and the data words of `place`.
std::string analyseArrayScript(const AnalyseScriptJob& job, const SlurmRequest& request,
                               const ScriptPlace& place);
