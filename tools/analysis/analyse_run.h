// The run of `zonetool analyse`: per model the search, the fit, the profile, the derived
// quantities and the figures, then the report, each stage skipped when its manifest in
// DIR/.analyse/ says its files are current. One loop runs every stage; each stage is one
// function. Nothing here prints: what happens is told through AnalyseHooks.
#pragma once

#include "tools/analysis/analyse_effort.h"
#include "tools/formats/data_option.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The stages of one model, in the order they run, then the descriptive clines of the data and
// the report after every model's.
enum class StageKind { search, fit, profile, derived, figures, clines, report };

// "search", "fit", "profile", "derived", "figures", "clines" or "report".
const char* stageKindName(StageKind kind);

// Reads a stage name; false for anything else.
bool parseStageKind(const std::string& text, StageKind& kind);

// What one analysis runs.
struct AnalyseSettings {
    std::vector<int> models; // model numbers, in the order given
    Effort effort = Effort::standard;
    EffortBudget budget;                 // of `effort` (tests shrink it)
    std::uint64_t seed = 1;              // of the search design and of the fits
    int jobs = 1;                        // threads of the searches
    std::string dir;                     // where everything goes
    bool redo = false;                   // every stage runs again
    double units = 2.0;                  // the support limit, in log-likelihood units
    StageKind from = StageKind::search;  // the first stage that may run: the stages before it
                                         // must be done (a job of a cluster run)
    StageKind until = StageKind::report; // the last stage run (of each model, or the clines
                                         // and the report)
    int mergeBlocks = 0; // > 0: the search stage merges this many block parts instead of
                         // searching (the parts of runSearchBlock)
};

// Seconds each stage of one model is expected to take (wall time), for the time left.
struct ModelStageSeconds {
    double search = 0.0;
    double fit = 0.0;
    double profile = 0.0;
    double derived = 0.0;
    double figures = 0.0;
};

// Fits the descriptive cline of `shape` ("sigmoid" or "stepped") to the transect of the run's
// data with its support limits, writing its record as 'zonetool cline' writes it to
// `recordPath` and its figure to `figurePath`: the clines stage's work, which the command
// supplies (the records are the cline command's). False with the reason in `error`.
using ClineFitter = std::function<bool(const std::string& shape, const std::string& recordPath,
                                       const std::string& figurePath, std::string& error)>;

// What the run tells as it goes (any may be empty). `label` is as in "fit SS_1" or "report",
// `index` counts from 1 up to `count`, the stages in all.
struct AnalyseHooks {
    // A stage starts; `etaSeconds` is the time left with this stage, scaled by how the stages
    // so far kept to their estimates.
    std::function<void(const std::string& label, int index, int count, double etaSeconds)> begin;
    // A stage ended, taking `wallSeconds`.
    std::function<void(const std::string& label, int index, int count, double wallSeconds)> done;
    // A stage was current and is skipped.
    std::function<void(const std::string& label, int index, int count)> skipped;
    // A short text of the work under way within a stage (a profile's point).
    std::function<void(const std::string& text)> detail;
};

// Makes `dir` and dir/.analyse unless they exist. A directory that holds files but no
// dir/.analyse is refused without `redo`. False with the reason in `error`.
bool prepareAnalysisDirectory(const std::string& dir, bool redo, std::string& error);

// Runs the stages of `settings` (stages after settings.until left out) with the transect and
// boxes of `data`; `seconds` holds one entry per model of settings.models; `clines` does the
// clines stage's work. False with the
// reason in `error` (the stage named), when a stage fails, when a stage was made with other
// inputs and settings.redo is not set, or when a stage before settings.from is not done.
bool runAnalysis(const DataContext& data, const AnalyseSettings& settings,
                 const std::vector<ModelStageSeconds>& seconds, const ClineFitter& clines,
                 const AnalyseHooks& hooks, std::string& error);

// One block `block` of `blocks` of the search of `model` (a job of a cluster run), into
// DIR/NAME/NAME.explore.partK-of-B.json; the search stage with settings.mergeBlocks == blocks
// then merges the parts into the record a whole search writes. False with the reason.
bool runSearchBlock(const DataContext& data, const AnalyseSettings& settings, int model, int block,
                    int blocks, std::string& error);

// Side `side` of the profile of `model` alone (a job of a cluster run: side K of 2 x its
// parameters, parameter by parameter, lower before upper), into its own journal beside the
// fit, DIR/NAME/profile-RESULT.side-K-of-S.journal.tsv; the profile stage then absorbs the
// sides' journals and computes only what they lack. Nothing is done when the profile stage is
// current. False with the reason when the fit stage is not done or the side fails.
bool runProfileSide(const DataContext& data, const AnalyseSettings& settings, int model, int side,
                    std::string& error);
