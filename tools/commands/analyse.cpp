#include "tools/commands/analyse.h"

#include "tools/analysis/analyse_derived.h"
#include "tools/analysis/analyse_effort.h"
#include "tools/analysis/analyse_limits.h"
#include "tools/analysis/analyse_manifest.h"
#include "tools/analysis/analyse_outputs.h"
#include "tools/analysis/analyse_stages.h"
#include "tools/analysis/progress.h"
#include "tools/analysis/report_html.h"
#include "tools/formats/cli.h"
#include "tools/formats/options.h"

#include "driver/signals.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

const char* const analyseHelp =
    "Usage: zonetool analyse [MODELS] [--data FILE] [--jobs J] [--seed S]\n"
    "                        [--effort quick|standard|thorough] [-o DIR] [--redo] [--quiet]\n"
    "\n"
    "The whole analysis of a data set: for each model of MODELS (default 1-10; a list such\n"
    "as 1,2,8 or 7-10) the multi-start search, the fit from its best optimum and the profile\n"
    "likelihood of every parameter, then the comparison of the models, the derived\n"
    "quantities with their support limits (cline centre and width, sigma_eff, F_IS per\n"
    "region, selection coefficients s = 1 - w / w_max), the figures and the report, all\n"
    "under the settled objective. Models 3 to 6 read borders.txt from the working directory.\n"
    "\n"
    "Options:\n"
    "  --effort E   quick: 6 starts of 400 evaluations, a simplex polish instead of the\n"
    "               annealing schedule, coarse profiles (minutes per fast model);\n"
    "               standard (default): 32 starts of 4000, zonefit's annealing schedule,\n"
    "               profiles as 'zonetool profile' makes them; thorough: 128 starts of 8000\n"
    "               and finer profiles\n"
    "  --seed S     seed of the search design and of the fits (default 1)\n"
    "  --jobs J     threads of the searches (default 1)\n"
    "  -o DIR       where everything goes (default analysis)\n"
    "  --redo       start over: every stage runs again and its files are replaced\n"
    "  --quiet      no estimate and no progress\n"
    "\n"
    "Before it starts it prints an estimate of the CPU and wall time, from a few timed\n"
    "evaluations of each model and the effort's budgets; while it runs, the stage, the model\n"
    "and an estimate of the time left (redrawn on a terminal, plain lines otherwise).\n"
    "\n"
    "Every stage writes its files atomically and records what it was made from in\n"
    "DIR/.analyse/; run the same command again after an interruption and finished stages are\n"
    "skipped, a fit resumes from its checkpoint and a profile from its journal. A DIR made\n"
    "with other inputs (models aside) is refused without --redo.\n"
    "\n"
    "Files: DIR/report.html (the report: one file, figures inline), DIR/analysis.json and\n"
    "DIR/estimates.tsv (the same numbers), and per model DIR/NAME/ with the search record,\n"
    "the fit, the profile curve and limits, the derived quantities and the figures.\n";

namespace {

struct AnalyseOptions {
    std::string modelText = "1-10";
    bool modelsGiven = false;
    std::vector<int> models;
    int jobs = 1;
    std::vector<std::uint64_t> seeds{1};
    bool seedGiven = false;
    Effort effort = Effort::standard;
    std::string dir = "analysis";
    bool redo = false;
    bool quiet = false;
};

int readOptions(const RunContext& ctx, const std::vector<std::string>& args, AnalyseOptions& o) {
    return OptionParser(
               "analyse", [] { return std::string(analyseHelp); }, *ctx.out, *ctx.err)
        .value({"--jobs"}, "a number", storeWhole(o.jobs, 1, 256))
        .value({"--seed"}, "a seed", storeSeed(o.seeds, o.seedGiven))
        .value({"--effort"}, "an effort",
               storeChoice(o.effort,
                           {{"quick", Effort::quick},
                            {"standard", Effort::standard},
                            {"thorough", Effort::thorough}},
                           "quick, standard or thorough"))
        .value({"-o", "--output"}, "a directory", storeText(o.dir))
        .flag({"--redo"}, [&o] { o.redo = true; })
        .flag({"--quiet"}, [&o] { o.quiet = true; })
        .positional([&o](const std::string& argument) -> Problem {
            if (o.modelsGiven) {
                return "unexpected argument '" + argument + "'";
            }
            o.modelText = argument;
            o.modelsGiven = true;
            return "";
        })
        .check([&o]() -> Problem {
            std::string problem;
            int single = 0;
            if (parseModel(o.modelText, single)) {
                o.models = {single};
                return "";
            }
            if (!parseModelList(o.modelText, o.models, problem)) {
                return problem;
            }
            return "";
        })
        .check([&o]() -> Problem { return o.dir.empty() ? "-o needs a directory" : ""; })
        .parse(args);
}

using Inputs = std::vector<std::pair<std::string, std::string>>;

// One stage: what it is made from, what it writes (names relative to DIR) and how.
struct Stage {
    std::string kind; // search, fit, profile, derived, figures, report
    int model = 0;    // 0 for the report
    Inputs inputs;    // filled in just before the stage is considered (inputs are outputs of
                      // earlier stages)
    std::function<Inputs()> makeInputs;
    std::function<std::vector<std::string>()> outputs;
    std::function<bool(std::string& error)> run;
    double estimate = 0.0; // seconds, for the ETA
};

bool isDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool makeDirectory(const std::string& path, std::string& error) {
    if (isDirectory(path)) {
        return true;
    }
    if (mkdir(path.c_str(), 0777) != 0) {
        error = "cannot make the directory " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool readText(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    text = content.str();
    return true;
}

// Whether `dir` holds anything besides "." and "..".
bool hasEntries(const std::string& dir) {
    bool any = false;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") {
                any = true;
            }
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

// Progress of the analysis: a redrawn line on a terminal; otherwise a plain line as each stage
// starts and ends, and one a minute while it runs. The time left counts down within a stage.
class AnalyseProgress {
  public:
    explicit AnalyseProgress(bool quiet)
        : quiet_(quiet), line_(std::cerr, !quiet && isatty(STDERR_FILENO) != 0),
          plain_(std::cerr, plainProgressWanted(quiet, STDERR_FILENO), [this] { return text(); }) {}
    ~AnalyseProgress() { plain_.stop(); }

    void begin(const std::string& what, double etaSeconds) {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            what_ = what;
            detail_.clear();
            eta_ = etaSeconds;
            began_ = steadyNow();
        }
        if (quiet_) {
            return;
        }
        if (line_.enabled()) {
            line_.show(text());
        } else {
            std::cerr << "analyse: " << what << "  (ETA " << formatElapsed(etaSeconds) << ")\n";
        }
    }
    void detail(const std::string& detail) {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            detail_ = detail;
        }
        if (!quiet_ && line_.enabled()) {
            line_.show(text());
        }
    }
    void clear() { line_.clear(); }
    void say(const std::string& message) {
        if (quiet_) {
            return;
        }
        line_.clear();
        std::cerr << "analyse: " << message << "\n";
    }

  private:
    std::string text() {
        const std::lock_guard<std::mutex> hold(mutex_);
        const double left = std::max(0.0, eta_ - static_cast<double>(steadyNow() - began_) * 1e-9);
        return "analyse: " + what_ + (detail_.empty() ? "" : "  " + detail_) + "  ETA " +
               formatElapsed(left);
    }
    bool quiet_;
    StatusLine line_;
    std::mutex mutex_;
    std::string what_ = "starting";
    std::string detail_;
    double eta_ = 0.0;
    std::int64_t began_ = steadyNow();
    PlainProgress plain_; // last: its thread renders the members above
};

} // namespace

int analyseCommand(RunContext& ctx, const std::vector<std::string>& args) {
    // Every stage, in the lambdas below too, reads the transect and boxes of the command.
    const DataContext* data = &ctx.data;
    AnalyseOptions o;
    const int status = readOptions(ctx, args, o);
    if (status >= 0) {
        return status;
    }
    const std::int64_t wallStart = steadyNow();
    const double cpuStart = processCpuSeconds();
    std::string error;
    for (int model : o.models) {
        if (modelReadsBorderFile(model) && !borderFileUsable(*data, model, error)) {
            *ctx.err << "zonetool analyse: " << error << "\n";
            return 1;
        }
    }
    const std::string dir = o.dir;
    const std::string state = dir + "/.analyse";
    if (isDirectory(dir) && !isDirectory(state) && hasEntries(dir) && !o.redo) {
        *ctx.err << "zonetool analyse: " << dir
                 << " exists and holds files no analysis made; give --redo to use it anyway, "
                    "or name another directory with -o\n";
        return 1;
    }
    if (!makeDirectory(dir, error) || !makeDirectory(state, error)) {
        *ctx.err << "zonetool analyse: " << error << "\n";
        return 1;
    }
    // A stop signal removes the temporary file of a write under way and ends the process; the
    // stages' files, checkpoints and journals are whole, and the next run carries on.
    const StopSignalGuard signalGuard;
    EffortBudget budget = effortBudget(o.effort);
    if (std::getenv("ZONETOOL_TEST_ANALYSE_TINY") != nullptr) {
        // Tests only: budgets that make an analysis of one model take seconds.
        budget.searchStarts = 2;
        budget.searchBudget = 60;
        budget.polishBudget = 60;
        budget.profileEvaluations = 30;
        budget.profileSteps = 2;
        budget.profileBisections = 1;
        budget.profileRestarts = 0;
    }
    const std::uint64_t seed = o.seeds.front();
    const double units = 2.0;
    AnalyseProgress progress(o.quiet);

    // The estimate, from a few timed evaluations of each model.
    std::vector<double> perEvaluation; // wall seconds, for the ETA
    double cpuEstimate = 0.0;
    double wallEstimate = 0.0;
    for (int model : o.models) {
        const EvaluationCost cost = secondsPerEvaluation(*data, model, 100, seed);
        const double t = cost.wall;
        perEvaluation.push_back(t);
        const StageEvaluations e = expectedEvaluations(budget, modelParameterCount(model));
        cpuEstimate += static_cast<double>(e.total()) * cost.cpu;
        wallEstimate += static_cast<double>(e.search) * t / std::min(o.jobs, budget.searchStarts) +
                        static_cast<double>(e.fit + e.profile) * t;
    }
    if (!o.quiet) {
        std::ostringstream line;
        line << "estimate for " << o.models.size() << " model" << (o.models.size() == 1 ? "" : "s")
             << " at " << effortName(o.effort) << " effort: about " << roughDuration(cpuEstimate)
             << " of CPU time, " << roughDuration(wallEstimate)
             << " of wall time at the machine's present load (from timed evaluations, mean wall "
                "time ";
        for (std::size_t i = 0; i < o.models.size(); i++) {
            line << (i == 0 ? "" : ", ") << modelName(o.models[i]) << " "
                 << formatNumber(perEvaluation[i] * 1000.0, 2) << " ms";
        }
        line << "; stages already done are skipped)";
        progress.say(line.str());
    }

    // The stages, in order.
    std::vector<Stage> stages;
    const std::string version = analyseProgramVersion();
    auto common = [&](int model) {
        Inputs inputs{{"version", version},
                      {"model", std::to_string(model)},
                      {"effort", effortName(o.effort)},
                      {"seed", std::to_string(seed)},
                      {"objective", "settled"},
                      {"data", dataChecksum(*data).empty() ? "built-in" : dataChecksum(*data)},
                      {"boxes", boxOptionsText(*data)}};
        if (modelReadsBorderFile(model)) {
            inputs.emplace_back("borders.txt", fileChecksum("borders.txt"));
        }
        return inputs;
    };
    for (std::size_t i = 0; i < o.models.size(); i++) {
        const int model = o.models[i];
        const std::string name = modelName(model);
        const std::string sub = dir + "/" + name;
        const std::string record = name + "/" + name + ".explore.json";
        const std::string result = name + "/" + bestFitName(model);
        const std::string curve = name + "/profile-" + bestFitName(model) + ".tsv";
        const std::string limits = name + "/" + name + ".limits.json";
        const std::string derived = name + "/" + name + ".derived.json";
        const std::string fitSvg = name + "/fit.svg";
        const std::string profileSvg = name + "/profile.svg";
        const StageEvaluations e = expectedEvaluations(budget, modelParameterCount(model));
        const double t = perEvaluation[i];
        auto checksumOf = [dir](const std::string& file) { return fileChecksum(dir + "/" + file); };

        Stage search;
        search.kind = "search";
        search.model = model;
        search.makeInputs = [=] {
            Inputs inputs = common(model);
            inputs.emplace_back("starts", std::to_string(budget.searchStarts));
            inputs.emplace_back("budget", std::to_string(budget.searchBudget));
            const std::string user = userStartFile(model);
            inputs.emplace_back("start", user.empty() ? "-" : user + " " + fileChecksum(user));
            return inputs;
        };
        search.outputs = [=] { return std::vector<std::string>{record}; };
        search.run = [=, &o](std::string& why) {
            return makeDirectory(sub, why) &&
                   runSearchStage(*data, model, budget, seed, o.jobs, dir + "/" + record, why);
        };
        search.estimate = static_cast<double>(e.search) * t / std::min(o.jobs, budget.searchStarts);
        stages.push_back(search);

        Stage fit;
        fit.kind = "fit";
        fit.model = model;
        fit.makeInputs = [=] {
            Inputs inputs = common(model);
            inputs.emplace_back("search", checksumOf(record));
            inputs.emplace_back("fit", budget.annealing
                                           ? "annealing"
                                           : "polish " + std::to_string(budget.polishBudget));
            return inputs;
        };
        fit.outputs = [=] {
            std::vector<std::string> files{result, result + ".json"};
            if (budget.annealing) {
                files.push_back(result + ".start");
            }
            return files;
        };
        fit.run = [=](std::string& why) {
            return runFitStage(*data, model, budget, seed, dir + "/" + record, dir + "/" + result,
                               why);
        };
        fit.estimate = static_cast<double>(e.fit) * t;
        stages.push_back(fit);

        Stage profile;
        profile.kind = "profile";
        profile.model = model;
        profile.makeInputs = [=] {
            Inputs inputs = common(model);
            inputs.emplace_back("fit", checksumOf(result));
            inputs.emplace_back("units", formatNumber(units, 6));
            inputs.emplace_back("profile", std::to_string(budget.profileEvaluations) + " " +
                                               std::to_string(budget.profileSteps) + " " +
                                               formatNumber(budget.profileTolerance, 6) + " " +
                                               std::to_string(budget.profileBisections) + " " +
                                               std::to_string(budget.profileRestarts));
            return inputs;
        };
        profile.outputs = [=] { return std::vector<std::string>{curve, limits}; };
        profile.run = [=, &o, &progress](std::string& why) {
            std::vector<double> point;
            double value = 0.0;
            if (!readFittedPoint(*data, model, dir + "/" + result, point, value, why)) {
                return false;
            }
            return runProfileStage(
                *data, model, budget, point, units, dir + "/" + curve, dir + "/" + limits,
                profileJournalPath(dir + "/" + result), o.redo,
                [&progress](const std::string& text) { progress.detail(text); }, why);
        };
        profile.estimate = static_cast<double>(e.profile) * t;
        stages.push_back(profile);

        Stage derive;
        derive.kind = "derived";
        derive.model = model;
        derive.makeInputs = [=] {
            Inputs inputs = common(model);
            inputs.emplace_back("limits", checksumOf(limits));
            return inputs;
        };
        derive.outputs = [=] { return std::vector<std::string>{derived}; };
        derive.run = [=](std::string& why) {
            std::string text;
            ProfileLimits l;
            if (!readText(dir + "/" + limits, text) ||
                !parseLimitsJson(text, dir + "/" + limits, l, why)) {
                if (why.empty()) {
                    why = "cannot read " + dir + "/" + limits;
                }
                return false;
            }
            ModelAnalysis m;
            m.model = model;
            m.name = name;
            m.prefix = modelPrefix(model);
            deriveQuantities(*data, l, m);
            return writeFileAtomically(dir + "/" + derived, modelAnalysisJson(m), why);
        };
        derive.estimate = (4.0 * modelParameterCount(model) + 10.0) * t;
        stages.push_back(derive);

        Stage figures;
        figures.kind = "figures";
        figures.model = model;
        figures.makeInputs = [=] {
            Inputs inputs = common(model);
            inputs.emplace_back("limits", checksumOf(limits));
            inputs.emplace_back("curve", checksumOf(curve));
            return inputs;
        };
        figures.outputs = [=] { return std::vector<std::string>{fitSvg, profileSvg}; };
        figures.run = [=](std::string& why) {
            std::string text;
            ProfileLimits l;
            std::string fitDocument;
            std::string profileDocument;
            if (!readText(dir + "/" + limits, text) ||
                !parseLimitsJson(text, dir + "/" + limits, l, why)) {
                return false;
            }
            return fitFigure(*data, model, l.estimate, dir + "/" + curve, units, fitDocument,
                             why) &&
                   profileFigure(dir + "/" + curve, name, units, profileDocument, why) &&
                   writeFileAtomically(dir + "/" + fitSvg, fitDocument, why) &&
                   writeFileAtomically(dir + "/" + profileSvg, profileDocument, why);
        };
        figures.estimate = 50.0 * t;
        stages.push_back(figures);
    }

    // The report, from every model's files.
    Stage report;
    report.kind = "report";
    report.makeInputs = [&] {
        Inputs inputs{
            {"version", version}, {"effort", effortName(o.effort)}, {"seed", std::to_string(seed)}};
        for (int model : o.models) {
            const std::string name = modelName(model);
            for (const std::string& file :
                 {name + "/" + name + ".explore.json", name + "/" + name + ".limits.json",
                  name + "/" + name + ".derived.json", name + "/fit.svg", name + "/profile.svg"}) {
                inputs.emplace_back(file, fileChecksum(dir + "/" + file));
            }
        }
        return inputs;
    };
    report.outputs = [] {
        return std::vector<std::string>{"analysis.json", "estimates.tsv", "report.html"};
    };
    report.run = [&](std::string& why) {
        Analysis analysis;
        std::vector<int> models;
        std::vector<std::vector<double>> points;
        std::vector<double> values;
        for (int model : o.models) {
            const std::string name = modelName(model);
            const std::string base = dir + "/" + name + "/";
            ModelAnalysis m;
            std::string text;
            ProfileLimits l;
            SearchFacts facts;
            if (!readText(base + name + ".derived.json", text) ||
                !parseModelAnalysis(text, base + name + ".derived.json", m, why) ||
                !readText(base + name + ".limits.json", text) ||
                !parseLimitsJson(text, base + name + ".limits.json", l, why) ||
                !readSearchFacts(base + name + ".explore.json", facts, why) ||
                !readText(base + "fit.svg", m.fitFigure) ||
                !readText(base + "profile.svg", m.profileFigure)) {
                if (why.empty()) {
                    why = "cannot read the files of " + name + " in " + base;
                }
                return false;
            }
            m.parameters = modelParameterCount(model);
            m.negLogL = l.minimum;
            m.confirmations = facts.confirmations;
            m.searchStarts = facts.starts;
            const std::vector<std::string> names = parameterNames(*data, model);
            const std::vector<std::string> meanings = parameterMeanings(*data, model);
            for (const ParameterLimits& p : l.parameters) {
                const auto at = std::find(names.begin(), names.end(), p.name) - names.begin();
                ParameterEstimate e;
                e.name = p.name;
                e.meaning = at < static_cast<long>(meanings.size())
                                ? meanings[static_cast<std::size_t>(at)]
                                : "";
                e.estimate = {p.estimate, p.lower, p.upper, p.lowerFound, p.upperFound};
                m.estimates.push_back(e);
            }
            models.push_back(model);
            points.push_back(l.estimate);
            values.push_back(l.minimum);
            analysis.models.push_back(m);
        }
        const std::vector<CriteriaRow> criteria =
            informationCriteria(*data, models, points, values);
        for (std::size_t i = 0; i < analysis.models.size(); i++) {
            analysis.models[i].aic = criteria[i].aic;
            analysis.models[i].aicc = criteria[i].aicc;
            analysis.models[i].deltaAicc = criteria[i].deltaAicc;
            analysis.models[i].weight = criteria[i].weight;
        }
        std::stable_sort(
            analysis.models.begin(), analysis.models.end(),
            [](const ModelAnalysis& a, const ModelAnalysis& b) { return a.aicc < b.aicc; });
        RunFacts& run = analysis.run;
        run.version = version;
        run.command = analyseCommandLine();
        run.effort = effortName(o.effort);
        run.seed = seed;
        run.dataFile = dataFileLabel(*data);
        run.dataChecksum = dataChecksum(*data);
        run.units = units;
        run.sampled = analysedIndividuals(*data);
        // Every stage's time, this run's and earlier runs' alike, and this run's own.
        for (const Stage& s : stages) {
            StageManifest manifest;
            std::string text;
            if (s.model != 0 &&
                readText(state + "/" + s.kind + "-" + modelName(s.model) + ".tsv", text) &&
                parseManifest(text, manifest)) {
                run.cpuSeconds += manifest.cpuSeconds;
                run.wallSeconds += manifest.wallSeconds;
            }
        }
        return writeFileAtomically(dir + "/analysis.json", analysisJson(analysis), why) &&
               writeFileAtomically(dir + "/estimates.tsv", estimatesTsv(analysis), why) &&
               writeFileAtomically(dir + "/report.html", renderReportHtml(analysis), why);
    };
    stages.push_back(report);

    double remaining = 0.0;
    for (const Stage& s : stages) {
        remaining += s.estimate;
    }
    double estimatedDone = 0.0;
    double actualDone = 0.0;
    int ran = 0;
    for (std::size_t i = 0; i < stages.size(); i++) {
        Stage& s = stages[i];
        const std::string label =
            s.kind + (s.model != 0 ? std::string(" ") + modelName(s.model) : std::string());
        const std::string manifestPath =
            state + "/" + s.kind + (s.model != 0 ? std::string("-") + modelName(s.model) : "") +
            ".tsv";
        s.inputs = s.makeInputs();
        std::string difference;
        const StageState was = stageState(manifestPath, dir, s.inputs, difference);
        remaining -= s.estimate;
        if (was == StageState::current && !o.redo) {
            progress.say("[" + std::to_string(i + 1) + "/" + std::to_string(stages.size()) + "] " +
                         label + ": done before, skipped");
            continue;
        }
        // The report is made from the models' files alone: another list of models makes
        // another report, from stages that were each checked above.
        if (was == StageState::other && !o.redo && s.model != 0) {
            *ctx.err << "zonetool analyse: " << dir << " holds an analysis made with other inputs ("
                     << label << ": " << difference
                     << " differs); give --redo to start over, or name another directory "
                        "with -o\n";
            return 1;
        }
        const double scale = estimatedDone > 0.0 ? actualDone / estimatedDone : 1.0;
        progress.begin("[" + std::to_string(i + 1) + "/" + std::to_string(stages.size()) + "] " +
                           label,
                       (remaining + s.estimate) * scale);
        const double cpu0 = processCpuSeconds();
        const std::int64_t wall0 = steadyNow();
        std::string why;
        if (!s.run(why)) {
            progress.clear();
            *ctx.err << "zonetool analyse: " << label << ": " << why << "\n";
            return 1;
        }
        StageManifest manifest;
        manifest.inputs = s.inputs;
        for (const std::string& file : s.outputs()) {
            manifest.outputs.emplace_back(file, fileChecksum(dir + "/" + file));
        }
        manifest.cpuSeconds = processCpuSeconds() - cpu0;
        manifest.wallSeconds = static_cast<double>(steadyNow() - wall0) * 1e-9;
        if (!writeFileAtomically(manifestPath, manifestText(manifest), why)) {
            *ctx.err << "zonetool analyse: " << why << "\n";
            return 1;
        }
        estimatedDone += s.estimate;
        actualDone += manifest.wallSeconds;
        progress.say("[" + std::to_string(i + 1) + "/" + std::to_string(stages.size()) + "] " +
                     label + ": done in " + formatElapsed(manifest.wallSeconds));
        stopForTests(++ran);
    }
    progress.say("this run: " + formatElapsed(processCpuSeconds() - cpuStart) + " CPU, " +
                 formatElapsed(static_cast<double>(steadyNow() - wallStart) * 1e-9) + " wall");
    *ctx.out << dir << "/report.html\n";
    return 0;
}
