// The stages of `zonetool analyse` as calls into the other commands' code: the search, the fit,
// the profile, the cline numbers at a point, the information criteria and the figures. Every
// call `analyse` makes into another command's code is in this file
// (tools/analysis/analyse_stages.cpp), so that a change of those interfaces is met here alone. Each
// stage writes its files atomically and leaves nothing half-written when stopped; all work happens
// on the calling thread unless `jobs` says otherwise. The calls that evaluate a model or read its
// boxes take the command's `data` (its transect, boxes and --data/--box settings), on every thread
// alike; the models' diagnostic lines are dropped.
#pragma once

#include "tools/analysis/analyse_effort.h"
#include "tools/analysis/analyse_results.h"
#include "tools/formats/data_option.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The command line `data`'s command was started with, as one line, and this program's version.
std::string analyseCommandLine(const DataContext& data);
std::string analyseProgramVersion();

// Names of the model's parameters and their one-line meanings, in vector order.
std::vector<std::string> parameterNames(const DataContext& data, int model);
std::vector<std::string> parameterMeanings(const DataContext& data, int model);
int modelParameterCount(int model);
const char* modelName(int model);
const char* modelPrefix(int model);
// Whether the model reads borders.txt from the working directory.
bool modelReadsBorderFile(int model);

// The data in force: "built-in" or the --data file as given, and its checksum ("" when built
// in); the --box options as given, joined by blanks.
std::string dataFileLabel(const DataContext& data);
std::string dataChecksum(const DataContext& data);
std::string boxOptionsText(const DataContext& data);
// Individuals sampled along the transect in use (the n of AICc).
int analysedIndividuals(const DataContext& data);

// Mean seconds of one settled evaluation of `model` along simplexes of about `samples`
// evaluations in all from the first design starts drawn with `seed`, and of one evaluation at
// the best point they reached: CPU seconds, and wall seconds (which include what other
// processes of a busy machine take).
struct EvaluationCost {
    double cpu = 0.0;
    double wall = 0.0;
    double cpuNearBest = 0.0;
    double wallNearBest = 0.0;
};
EvaluationCost secondsPerEvaluation(const DataContext& data, int model, int samples,
                                    std::uint64_t seed);

// Mean seconds of `repeats` settled evaluations of `model` at `point` (in cpu and wall; the
// near-best fields are left 0).
EvaluationCost secondsAt(const DataContext& data, int model, const std::vector<double>& point,
                         int repeats);

// The start-vector file of `model` in the working directory (startvecN.txt), or "" when there
// is none.
std::string userStartFile(int model);

// The multi-start search of `model`: the start vector of startvecN.txt in the working directory
// when it holds a usable one, then `budget.searchStarts` design starts drawn with `seed`, each
// a simplex of at most `budget.searchBudget` settled evaluations, on `jobs` threads; its record
// (the one 'zonetool explore' writes) goes to `recordPath`. False with the reason in `error`.
bool runSearchStage(const DataContext& data, int model, const EffortBudget& budget,
                    std::uint64_t seed, int jobs, const std::string& recordPath,
                    std::string& error);

// Block `block` of `blocks` of the search runSearchStage makes (contiguous slices of its
// starts, every one run), into the part partPrefix.explore.partK-of-B.json; and the merging of
// all `blocks` parts into the record at `recordPath`, the record of a whole search (timings
// aside); `partsCpu` and `partsWall` receive the seconds the blocks took, summed. A part that
// is missing or of another search fails the merge, naming it. False with the reason in
// `error`.
bool runSearchBlockStage(const DataContext& data, int model, const EffortBudget& budget,
                         std::uint64_t seed, int jobs, int block, int blocks,
                         const std::string& partPrefix, std::string& error);
bool mergeSearchStage(const DataContext& data, int model, const EffortBudget& budget,
                      std::uint64_t seed, int blocks, const std::string& partPrefix,
                      const std::string& recordPath, double& partsCpu, double& partsWall,
                      std::string& error);

// What the report needs of a search record.
struct SearchFacts {
    std::vector<double> best; // the best optimum's point
    double value = 0.0;       // its -lnL
    int confirmations = 0;    // starts that ended there
    int starts = 0;           // starts in all
};
bool readSearchFacts(const std::string& recordPath, SearchFacts& facts, std::string& error);

// The fit from the best optimum of the record at `recordPath`, its result file (zonefit's one
// line) at `resultPath` and its record at resultPath.json. With budget.annealing, zonefit's
// annealing schedule seeded with `seed` and checkpointed to resultPath.ckpt (resumed from it
// when there), its start file at resultPath.start and its log at resultPath.log; otherwise a
// temperature-0 simplex polish of budget.polishBudget evaluations. False with the reason.
bool runFitStage(const DataContext& data, int model, const EffortBudget& budget, std::uint64_t seed,
                 const std::string& recordPath, const std::string& resultPath, std::string& error);

// A fitted point and its settled -lnL, read from a result file (the value re-evaluated).
bool readFittedPoint(const DataContext& data, int model, const std::string& resultPath,
                     std::vector<double>& point, double& value, std::string& error);

// The profile of every parameter of `model` about `point`, to `units` log-likelihood units,
// with the budget's settings, each point journaled to journalPath (resumed from it; started
// afresh with `redo`). Without `redo` the points of `sideJournals` (those of
// runProfileSideStage; missing files skipped) are absorbed into it first, so that only what
// they lack is computed. Writes the walked curve ('zonetool profile --curve') to `curvePath`
// and the limits with every evaluated point to `limitsPath` (see analyse_limits.h), then
// removes the journal and the side journals. `status` receives a short text before each point.
// False with the reason.
bool runProfileStage(const DataContext& data, int model, const EffortBudget& budget,
                     const std::vector<double>& point, double units, const std::string& curvePath,
                     const std::string& limitsPath, const std::string& journalPath,
                     const std::vector<std::string>& sideJournals, bool redo,
                     const std::function<void(const std::string&)>& status, std::string& error);

// Side `side` (1 to 2 x the parameters: parameter (side - 1) / 2, lower side for odd `side`)
// of that profile alone, each point journaled to `journalPath` (resumed from it; started afresh
// with `redo`) under the whole profile's head, which the journal keeps for runProfileStage. A
// point better than `point` by more than the budget's margin ends the side when the budget
// lets the estimate move: the whole profile starts again from there. False with the reason.
bool runProfileSideStage(const DataContext& data, int model, const EffortBudget& budget,
                         const std::vector<double>& point, double units, int side,
                         const std::string& journalPath, bool redo,
                         const std::function<void(const std::string&)>& status, std::string& error);

// The cline numbers of `model` at `point` under the settled objective.
struct ClineNumbers {
    bool predicted = false;      // false for a penalty point
    double value = 0.0;          // -lnL there
    double centre = 0.0;         // NaN when p never crosses 1/2
    double width = 0.0;          // 1 / largest slope of p
    double sigmaEffective = 0.0; // NaN for the stepping-stone models
    std::vector<double> deficit; // F_IS of each selection region, in region order
    std::string axis;            // "position" or "summed distance"
};
ClineNumbers clineNumbersAt(const DataContext& data, int model, const std::vector<double>& point);

// The settledness of the simulation at `point`, in words for a report.
std::string settlednessWords(const DataContext& data, int model, const std::vector<double>& point);

// Information criteria of fits of several models, in the order given.
struct CriteriaRow {
    double aic = 0.0;
    double aicc = 0.0;
    double deltaAicc = 0.0;
    double weight = 0.0; // from AICc
};
std::vector<CriteriaRow> informationCriteria(const DataContext& data,
                                             const std::vector<int>& models,
                                             const std::vector<std::vector<double>>& points,
                                             const std::vector<double>& values);

// The figure of the fit at `point` with the envelope of the curve's points within `units`, and
// the figure of the profiles in `curvePath`, as SVG documents. False with the reason.
bool fitFigure(const DataContext& data, int model, const std::vector<double>& point,
               const std::string& curvePath, double units, std::string& svg, std::string& error);
bool profileFigure(const std::string& curvePath, const std::string& title, double units,
                   std::string& svg, std::string& error);

// What the report shows of such a record: shape, k, -lnL, the axis and the estimates with
// their limits (a limit the parameter's range reached first marked not found); AICc with n
// `individuals`. False with the reason, naming `recordPath`.
bool readClineRecord(const std::string& recordPath, int individuals, DescriptiveCline& cline,
                     std::string& error);

// Writes `content` to `path` atomically (temporary file, sync, rename), replacing a file there.
bool writeFileAtomically(const std::string& path, const std::string& content, std::string& error);

// "fnv1a64:" and the hash of the file's bytes; empty when it cannot be read.
std::string fileChecksum(const std::string& path);
std::string textChecksum(const std::string& text);

// For a model that reads borders.txt: false with the reason when the file is not usable.
bool borderFileUsable(const DataContext& data, int model, std::string& error);

// The journal a profile of the fit in `resultPath` keeps while it runs.
std::string profileJournalPath(const std::string& resultPath);

// The result file name of the fit from the best optimum of `model` ("SS1_ML_opt1"), a name
// that 'zonetool compare' and 'summary' recognise.
std::string bestFitName(int model);

// Seconds of CPU time this process has used.
double processCpuSeconds();
