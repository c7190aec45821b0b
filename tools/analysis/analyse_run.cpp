#include "tools/analysis/analyse_run.h"

#include "tools/analysis/analyse_derived.h"
#include "tools/analysis/analyse_limits.h"
#include "tools/analysis/analyse_manifest.h"
#include "tools/analysis/analyse_outputs.h"
#include "tools/analysis/analyse_stages.h"
#include "tools/analysis/progress.h"
#include "tools/analysis/report_html.h"
#include "tools/formats/number_format.h"
#include "tools/formats/profile_journal.h"
#include "tools/formats/whole_file.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

const char* stageKindName(StageKind kind) {
    switch (kind) {
    case StageKind::search:
        return "search";
    case StageKind::fit:
        return "fit";
    case StageKind::profile:
        return "profile";
    case StageKind::derived:
        return "derived";
    case StageKind::figures:
        return "figures";
    case StageKind::clines:
        return "clines";
    case StageKind::report:
        return "report";
    }
    return "report";
}

bool parseStageKind(const std::string& text, StageKind& kind) {
    for (StageKind k : {StageKind::search, StageKind::fit, StageKind::profile, StageKind::derived,
                        StageKind::figures, StageKind::clines, StageKind::report}) {
        if (text == stageKindName(k)) {
            kind = k;
            return true;
        }
    }
    return false;
}

namespace {

using Inputs = std::vector<std::pair<std::string, std::string>>;

bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool makeDirectory(const std::string& path, std::string& error) {
    // Another job of a cluster run may make it at the same moment: EEXIST is no failure.
    if (isDirectory(path) || mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) {
        return true;
    }
    error = "cannot make the directory " + path + ": " + std::strerror(errno);
    return false;
}

// Whether `dir` holds anything besides "." and "..".
bool hasEntries(const std::string& dir) {
    bool any = false;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            any = any || (name != "." && name != "..");
        }
        closedir(d);
    }
    return any;
}

// Stops the process by its own stop signal after `ZONETOOL_TEST_ANALYSE_STOP_AFTER` stages
// run (skipped ones not counted): how tests interrupt an analysis between stages.
void stopForTests(int ran) {
    const char* after = std::getenv("ZONETOOL_TEST_ANALYSE_STOP_AFTER");
    if (after != nullptr && std::atoi(after) == ran) {
        std::raise(SIGTERM);
    }
}

// One stage of the run.
struct Stage {
    StageKind kind = StageKind::report;
    int model = 0;         // 0 for the report
    double estimate = 0.0; // wall seconds expected
};

// The files of one model's stages, relative to the analysis directory.
struct ModelFiles {
    std::string name;       // the model's name, also its directory
    std::string record;     // the search record
    std::string result;     // the fit's result file
    std::string curve;      // the profile curve
    std::string limits;     // the support limits and every profile point
    std::string derived;    // the derived quantities
    std::string fitSvg;     // the fit figure
    std::string profileSvg; // the profile figure
};

ModelFiles filesOf(int model) {
    ModelFiles f;
    f.name = modelName(model);
    const std::string base = f.name + "/";
    f.record = base + f.name + ".explore.json";
    f.result = base + bestFitName(model);
    f.curve = base + "profile-" + bestFitName(model) + ".tsv";
    f.limits = base + f.name + ".limits.json";
    f.derived = base + f.name + ".derived.json";
    f.fitSvg = base + "fit.svg";
    f.profileSvg = base + "profile.svg";
    return f;
}

// The shapes of the descriptive clines, and their files.
const char* const clineShapes[] = {"sigmoid", "stepped"};

std::string clineRecord(const std::string& shape) {
    return "clines/cline_" + shape + ".json";
}

std::string clineFigure(const std::string& shape) {
    return "clines/" + shape + ".svg";
}

// What every stage function reads.
struct Run {
    const DataContext& data;
    const AnalyseSettings& settings;
    const AnalyseHooks& hooks;
    const ClineFitter& clines;
    std::string version;
    std::vector<Stage> stages;

    std::string path(const std::string& file) const { return settings.dir + "/" + file; }
    std::string checksum(const std::string& file) const { return fileChecksum(path(file)); }
};

// The descriptive clines are fitted to the data alone: model 0, like the report.
bool ofAModel(const Stage& s) {
    return s.kind != StageKind::clines && s.kind != StageKind::report;
}

std::string stageLabel(const Stage& s) {
    return std::string(stageKindName(s.kind)) +
           (ofAModel(s) ? std::string(" ") + modelName(s.model) : "");
}

std::string manifestPath(const Run& r, const Stage& s) {
    return r.path(".analyse/" + std::string(stageKindName(s.kind)) +
                  (ofAModel(s) ? std::string("-") + modelName(s.model) : "") + ".tsv");
}

// The settings every stage of `model` is made with.
Inputs commonInputs(const Run& r, int model) {
    const AnalyseSettings& o = r.settings;
    Inputs inputs{{"version", r.version},
                  {"model", std::to_string(model)},
                  {"effort", effortName(o.effort)},
                  {"seed", std::to_string(o.seed)},
                  {"objective", "settled"},
                  {"data", dataChecksum(r.data).empty() ? "built-in" : dataChecksum(r.data)},
                  {"boxes", boxOptionsText(r.data)}};
    if (modelReadsBorderFile(model)) {
        inputs.emplace_back("borders.txt", fileChecksum("borders.txt"));
    }
    return inputs;
}

// What a stage is made from: settings, and the checksums of the files of earlier stages.
Inputs stageInputs(const Run& r, const Stage& s) {
    const EffortBudget& b = r.settings.budget;
    if (s.kind == StageKind::report) {
        Inputs inputs{{"version", r.version},
                      {"effort", effortName(r.settings.effort)},
                      {"seed", std::to_string(r.settings.seed)}};
        for (int model : r.settings.models) {
            const ModelFiles f = filesOf(model);
            for (const std::string& file :
                 {f.record, f.limits, f.derived, f.fitSvg, f.profileSvg}) {
                inputs.emplace_back(file, r.checksum(file));
            }
        }
        for (const char* shape : clineShapes) {
            for (const std::string& file : {clineRecord(shape), clineFigure(shape)}) {
                inputs.emplace_back(file, r.checksum(file));
            }
        }
        return inputs;
    }
    if (s.kind == StageKind::clines) {
        std::string shapes;
        for (const char* shape : clineShapes) {
            shapes += (shapes.empty() ? "" : " ") + std::string(shape);
        }
        return {{"version", r.version},
                {"data", dataChecksum(r.data).empty() ? "built-in" : dataChecksum(r.data)},
                {"locus", r.data.locus.empty() ? "-" : r.data.locus},
                {"shapes", shapes}};
    }
    const ModelFiles f = filesOf(s.model);
    Inputs inputs = commonInputs(r, s.model);
    switch (s.kind) {
    case StageKind::search: {
        inputs.emplace_back("starts", std::to_string(b.searchStarts));
        inputs.emplace_back("budget", std::to_string(b.searchBudget));
        const std::string user = userStartFile(s.model);
        inputs.emplace_back("start", user.empty() ? "-" : user + " " + fileChecksum(user));
        break;
    }
    case StageKind::fit:
        inputs.emplace_back("search", r.checksum(f.record));
        inputs.emplace_back("fit",
                            b.annealing ? "annealing" : "polish " + std::to_string(b.polishBudget));
        break;
    case StageKind::profile:
        inputs.emplace_back("fit", r.checksum(f.result));
        inputs.emplace_back("units", formatNumber(r.settings.units, 6));
        inputs.emplace_back("profile", std::to_string(b.profileEvaluations) + " " +
                                           std::to_string(b.profileSteps) + " " +
                                           formatNumber(b.profileTolerance, 6) + " " +
                                           std::to_string(b.profileBisections) + " " +
                                           std::to_string(b.profileRestarts));
        break;
    case StageKind::derived:
        inputs.emplace_back("limits", r.checksum(f.limits));
        break;
    case StageKind::figures:
        inputs.emplace_back("limits", r.checksum(f.limits));
        inputs.emplace_back("curve", r.checksum(f.curve));
        break;
    case StageKind::clines:
    case StageKind::report:
        break;
    }
    return inputs;
}

// What a stage writes, relative to the analysis directory.
std::vector<std::string> stageOutputs(const Run& r, const Stage& s) {
    if (s.kind == StageKind::report) {
        return {"analysis.json", "estimates.tsv", "report.html"};
    }
    if (s.kind == StageKind::clines) {
        std::vector<std::string> files;
        for (const char* shape : clineShapes) {
            files.push_back(clineRecord(shape));
            files.push_back(clineFigure(shape));
        }
        return files;
    }
    const ModelFiles f = filesOf(s.model);
    switch (s.kind) {
    case StageKind::search:
        return {f.record};
    case StageKind::fit:
        if (r.settings.budget.annealing) {
            return {f.result, f.result + ".json", f.result + ".start"};
        }
        return {f.result, f.result + ".json"};
    case StageKind::profile:
        return {f.curve, f.limits};
    case StageKind::derived:
        return {f.derived};
    case StageKind::figures:
        return {f.fitSvg, f.profileSvg};
    case StageKind::clines:
    case StageKind::report:
        break;
    }
    return {};
}

bool readLimits(const Run& r, const ModelFiles& f, ProfileLimits& limits, std::string& why) {
    std::string text;
    if (!readWholeFile(r.path(f.limits), text)) {
        why = "cannot read " + r.path(f.limits);
        return false;
    }
    return parseLimitsJson(text, r.path(f.limits), limits, why);
}

// Seconds a stage spent elsewhere, beyond those of its own call: the blocks of a merged search.
struct ElsewhereSeconds {
    double cpu = 0.0;
    double wall = 0.0;
};

bool searchStage(const Run& r, int model, ElsewhereSeconds& elsewhere, std::string& why) {
    const AnalyseSettings& o = r.settings;
    const ModelFiles f = filesOf(model);
    if (!makeDirectory(r.path(f.name), why)) {
        return false;
    }
    if (o.mergeBlocks > 0) {
        return mergeSearchStage(r.data, model, o.budget, o.seed, o.mergeBlocks,
                                r.path(f.name + "/" + f.name), r.path(f.record), elsewhere.cpu,
                                elsewhere.wall, why);
    }
    return runSearchStage(r.data, model, o.budget, o.seed, o.jobs, r.path(f.record), why);
}

bool fitStage(const Run& r, int model, std::string& why) {
    const ModelFiles f = filesOf(model);
    return runFitStage(r.data, model, r.settings.budget, r.settings.seed, r.path(f.record),
                       r.path(f.result), why);
}

bool profileStage(const Run& r, int model, std::string& why) {
    const ModelFiles f = filesOf(model);
    std::vector<double> point;
    double value = 0.0;
    if (!readFittedPoint(r.data, model, r.path(f.result), point, value, why)) {
        return false;
    }
    const int sides = 2 * modelParameterCount(model);
    std::vector<std::string> sideJournals;
    for (int side = 1; side <= sides; side++) {
        sideJournals.push_back(profileSideJournalName(r.path(f.result), side, sides));
    }
    return runProfileStage(r.data, model, r.settings.budget, point, r.settings.units,
                           r.path(f.curve), r.path(f.limits), profileJournalPath(r.path(f.result)),
                           sideJournals, r.settings.redo, r.hooks.detail, why);
}

bool derivedStage(const Run& r, int model, std::string& why) {
    const ModelFiles f = filesOf(model);
    ProfileLimits limits;
    if (!readLimits(r, f, limits, why)) {
        return false;
    }
    ModelAnalysis m;
    m.model = model;
    m.name = f.name;
    m.prefix = modelPrefix(model);
    deriveQuantities(r.data, limits, m);
    return writeFileAtomically(r.path(f.derived), modelAnalysisJson(m), why);
}

bool figuresStage(const Run& r, int model, std::string& why) {
    const ModelFiles f = filesOf(model);
    ProfileLimits limits;
    std::string fitDocument;
    std::string profileDocument;
    return readLimits(r, f, limits, why) &&
           fitFigure(r.data, model, limits.estimate, r.path(f.curve), r.settings.units, fitDocument,
                     why) &&
           profileFigure(r.path(f.curve), f.name, r.settings.units, profileDocument, why) &&
           writeFileAtomically(r.path(f.fitSvg), fitDocument, why) &&
           writeFileAtomically(r.path(f.profileSvg), profileDocument, why);
}

bool clinesStage(const Run& r, std::string& why) {
    if (!makeDirectory(r.path("clines"), why)) {
        return false;
    }
    for (const char* shape : clineShapes) {
        if (r.hooks.detail) {
            r.hooks.detail(shape);
        }
        if (!r.clines ||
            !r.clines(shape, r.path(clineRecord(shape)), r.path(clineFigure(shape)), why)) {
            if (why.empty()) {
                why = "no descriptive clines in this run";
            }
            return false;
        }
    }
    return true;
}

// One model's part of the report, from its stages' files.
bool readModelAnalysis(const Run& r, int model, ModelAnalysis& m, ProfileLimits& limits,
                       std::string& why) {
    const ModelFiles f = filesOf(model);
    std::string text;
    SearchFacts facts;
    if (!readWholeFile(r.path(f.derived), text) ||
        !parseModelAnalysis(text, r.path(f.derived), m, why) || !readLimits(r, f, limits, why) ||
        !readSearchFacts(r.path(f.record), facts, why) ||
        !readWholeFile(r.path(f.fitSvg), m.fitFigure) ||
        !readWholeFile(r.path(f.profileSvg), m.profileFigure)) {
        if (why.empty()) {
            why = "cannot read the files of " + f.name + " in " + r.path(f.name);
        }
        return false;
    }
    m.parameters = modelParameterCount(model);
    m.negLogL = limits.minimum;
    m.confirmations = facts.confirmations;
    m.searchStarts = facts.starts;
    const std::vector<std::string> names = parameterNames(r.data, model);
    const std::vector<std::string> meanings = parameterMeanings(r.data, model);
    for (const ParameterLimits& p : limits.parameters) {
        const auto at =
            static_cast<std::size_t>(std::find(names.begin(), names.end(), p.name) - names.begin());
        ParameterEstimate e;
        e.name = p.name;
        e.meaning = at < meanings.size() ? meanings[at] : "";
        e.estimate = {p.estimate, p.lower, p.upper, p.lowerFound, p.upperFound};
        m.estimates.push_back(e);
    }
    return true;
}

bool reportStage(const Run& r, std::string& why) {
    const AnalyseSettings& o = r.settings;
    Analysis analysis;
    std::vector<std::vector<double>> points;
    std::vector<double> values;
    for (int model : o.models) {
        ModelAnalysis m;
        ProfileLimits limits;
        if (!readModelAnalysis(r, model, m, limits, why)) {
            return false;
        }
        points.push_back(limits.estimate);
        values.push_back(limits.minimum);
        analysis.models.push_back(m);
    }
    const std::vector<CriteriaRow> criteria = informationCriteria(r.data, o.models, points, values);
    for (std::size_t i = 0; i < analysis.models.size(); i++) {
        analysis.models[i].aic = criteria[i].aic;
        analysis.models[i].aicc = criteria[i].aicc;
        analysis.models[i].deltaAicc = criteria[i].deltaAicc;
        analysis.models[i].weight = criteria[i].weight;
    }
    std::stable_sort(
        analysis.models.begin(), analysis.models.end(),
        [](const ModelAnalysis& a, const ModelAnalysis& b) { return a.aicc < b.aicc; });
    // The descriptive clines beside the models, their AICc against the best model's (as
    // 'zonetool compare' lists them): the models' weights stay among the models.
    for (const char* shape : clineShapes) {
        DescriptiveCline cline;
        if (!readClineRecord(r.path(clineRecord(shape)), analysedIndividuals(r.data), cline, why) ||
            !readWholeFile(r.path(clineFigure(shape)), cline.figure)) {
            if (why.empty()) {
                why = "cannot read " + r.path(clineFigure(shape));
            }
            return false;
        }
        cline.deltaAicc = analysis.models.empty() ? 0.0 : cline.aicc - analysis.models[0].aicc;
        analysis.clines.push_back(cline);
    }
    RunFacts& run = analysis.run;
    run.version = r.version;
    run.command = analyseCommandLine(r.data);
    run.effort = effortName(o.effort);
    run.seed = o.seed;
    run.dataFile = dataFileLabel(r.data);
    run.dataChecksum = dataChecksum(r.data);
    run.units = o.units;
    run.sampled = analysedIndividuals(r.data);
    // Every earlier stage's time, this run's and earlier runs' (or other jobs') alike.
    for (const Stage& s : r.stages) {
        StageManifest manifest;
        std::string text;
        if (s.kind != StageKind::report && readWholeFile(manifestPath(r, s), text) &&
            parseManifest(text, manifest)) {
            run.cpuSeconds += manifest.cpuSeconds;
            run.wallSeconds += manifest.wallSeconds;
        }
    }
    return writeFileAtomically(r.path("analysis.json"), analysisJson(analysis), why) &&
           writeFileAtomically(r.path("estimates.tsv"), estimatesTsv(analysis), why) &&
           writeFileAtomically(r.path("report.html"), renderReportHtml(analysis), why);
}

bool runStage(const Run& r, const Stage& s, ElsewhereSeconds& elsewhere, std::string& why) {
    switch (s.kind) {
    case StageKind::search:
        return searchStage(r, s.model, elsewhere, why);
    case StageKind::fit:
        return fitStage(r, s.model, why);
    case StageKind::profile:
        return profileStage(r, s.model, why);
    case StageKind::derived:
        return derivedStage(r, s.model, why);
    case StageKind::figures:
        return figuresStage(r, s.model, why);
    case StageKind::clines:
        return clinesStage(r, why);
    case StageKind::report:
        return reportStage(r, why);
    }
    return false;
}

// The stages of the run, in order, with their expected seconds.
std::vector<Stage> planStages(const AnalyseSettings& o,
                              const std::vector<ModelStageSeconds>& seconds) {
    std::vector<Stage> stages;
    for (std::size_t i = 0; i < o.models.size(); i++) {
        const ModelStageSeconds& t = seconds[i];
        const Stage own[] = {{StageKind::search, o.models[i], t.search},
                             {StageKind::fit, o.models[i], t.fit},
                             {StageKind::profile, o.models[i], t.profile},
                             {StageKind::derived, o.models[i], t.derived},
                             {StageKind::figures, o.models[i], t.figures}};
        for (const Stage& s : own) {
            if (s.kind <= o.until) {
                stages.push_back(s);
            }
        }
    }
    if (o.until == StageKind::report) {
        stages.push_back({StageKind::clines, 0, 5.0});
        stages.push_back({StageKind::report, 0, 1.0});
    }
    return stages;
}

} // namespace

bool prepareAnalysisDirectory(const std::string& dir, bool redo, std::string& error) {
    const std::string state = dir + "/.analyse";
    if (isDirectory(dir) && !isDirectory(state) && hasEntries(dir) && !redo) {
        error = dir + " exists and holds files no analysis made; give --redo to use it anyway, "
                      "or name another directory with -o";
        return false;
    }
    return makeDirectory(dir, error) && makeDirectory(state, error);
}

bool runAnalysis(const DataContext& data, const AnalyseSettings& settings,
                 const std::vector<ModelStageSeconds>& seconds, const ClineFitter& clines,
                 const AnalyseHooks& hooks, std::string& error) {
    Run r{data, settings, hooks, clines, analyseProgramVersion(), planStages(settings, seconds)};
    const int count = static_cast<int>(r.stages.size());
    // The ETA scales only the estimates of the stages that evaluate the objective (etaSeconds).
    const auto evaluates = [](const Stage& s) {
        return s.kind == StageKind::search || s.kind == StageKind::fit ||
               s.kind == StageKind::profile;
    };
    double remaining = 0.0;      // estimates of the evaluating stages still to come
    double remainingFixed = 0.0; // ... and of the others
    for (const Stage& s : r.stages) {
        (evaluates(s) ? remaining : remainingFixed) += s.estimate;
    }
    double estimatedDone = 0.0;
    double actualDone = 0.0;
    int ran = 0;
    for (int i = 0; i < count; i++) {
        const Stage& s = r.stages[static_cast<std::size_t>(i)];
        const std::string label = stageLabel(s);
        const Inputs inputs = stageInputs(r, s);
        std::string difference;
        const StageState was = stageState(manifestPath(r, s), settings.dir, inputs, difference);
        (evaluates(s) ? remaining : remainingFixed) -= s.estimate;
        if (was == StageState::current && !settings.redo) {
            if (hooks.skipped) {
                hooks.skipped(label, i + 1, count);
            }
            continue;
        }
        // The report is made from the models' files alone: another list of models makes
        // another report, from stages that were each checked above.
        if (was == StageState::other && !settings.redo && s.kind != StageKind::report) {
            error = settings.dir + " holds an analysis made with other inputs (" + label + ": " +
                    difference +
                    " differs); give --redo to start over, or name another directory with -o";
            return false;
        }
        if (s.kind < settings.from) {
            error = label + " is not done: its job failed or has not run (see " + settings.dir +
                    "/.analyse/)";
            return false;
        }
        if (hooks.begin) {
            const bool own = evaluates(s);
            hooks.begin(label, i + 1, count,
                        etaSeconds(remaining + (own ? s.estimate : 0.0),
                                   remainingFixed + (own ? 0.0 : s.estimate), estimatedDone,
                                   actualDone));
        }
        const double cpu0 = processCpuSeconds();
        const std::int64_t wall0 = steadyNow();
        std::string why;
        ElsewhereSeconds elsewhere;
        if (!runStage(r, s, elsewhere, why)) {
            error = label + ": " + why;
            return false;
        }
        StageManifest manifest;
        manifest.inputs = inputs;
        for (const std::string& file : stageOutputs(r, s)) {
            manifest.outputs.emplace_back(file, r.checksum(file));
        }
        // A merged search's time is that of its blocks too, so that the report's times are
        // those of the whole analysis wherever it ran.
        manifest.cpuSeconds = processCpuSeconds() - cpu0 + elsewhere.cpu;
        manifest.wallSeconds = static_cast<double>(steadyNow() - wall0) * 1e-9 + elsewhere.wall;
        if (!writeFileAtomically(manifestPath(r, s), manifestText(manifest), error)) {
            return false;
        }
        if (evaluates(s)) {
            estimatedDone += s.estimate;
            actualDone += manifest.wallSeconds;
        }
        if (hooks.done) {
            hooks.done(label, i + 1, count, manifest.wallSeconds);
        }
        stopForTests(++ran);
    }
    return true;
}

bool runSearchBlock(const DataContext& data, const AnalyseSettings& settings, int model, int block,
                    int blocks, std::string& error) {
    const ModelFiles f = filesOf(model);
    const std::string base = settings.dir + "/" + f.name;
    return makeDirectory(base, error) &&
           runSearchBlockStage(data, model, settings.budget, settings.seed, settings.jobs, block,
                               blocks, base + "/" + f.name, error);
}

bool runProfileSide(const DataContext& data, const AnalyseSettings& settings, int model, int side,
                    std::string& error) {
    const AnalyseHooks hooks;
    const ClineFitter clines;
    const std::vector<ModelStageSeconds> seconds(settings.models.size());
    const Run r{
        data, settings, hooks, clines, analyseProgramVersion(), planStages(settings, seconds)};
    const Stage fit{StageKind::fit, model, 0.0};
    const Stage profile{StageKind::profile, model, 0.0};
    std::string difference;
    // A whole profile already made has no use for its sides: submitting again carries on.
    if (!settings.redo && stageState(manifestPath(r, profile), settings.dir,
                                     stageInputs(r, profile), difference) == StageState::current) {
        return true;
    }
    if (stageState(manifestPath(r, fit), settings.dir, stageInputs(r, fit), difference) !=
        StageState::current) {
        error = stageLabel(fit) + " is not done: its job failed or has not run (see " +
                settings.dir + "/.analyse/)";
        return false;
    }
    const ModelFiles f = filesOf(model);
    std::vector<double> point;
    double value = 0.0;
    return readFittedPoint(data, model, r.path(f.result), point, value, error) &&
           runProfileSideStage(
               data, model, settings.budget, point, settings.units, side,
               profileSideJournalName(r.path(f.result), side, 2 * modelParameterCount(model)),
               settings.redo, hooks.detail, error);
}
