#include "tools/commands/fit_from.h"

#include "driver/schedule.h"
#include "driver/signals.h"
#include "tools/analysis/parallel.h"
#include "tools/analysis/start_box_check.h"
#include "tools/commands/fit_one.h"
#include "tools/formats/cli.h"
#include "tools/formats/fit_record.h"
#include "tools/formats/output_lock.h"
#include "tools/formats/results.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/stat.h>

namespace {

// Names each of the first `count` optima of the record that leaves its box in force; true
// when none does. The search that found them ran on other data or boxes then.
bool optimaInsideBoxes(const RunContext& ctx, const FitOptions& a, const ModelEntry& model,
                       const ExploreMap& map, int first, int count) {
    bool inside = true;
    for (int k = first; k < first + count; k++) {
        const std::string problem =
            startBoxProblem(ctx.data, a.recordPath + ": optimum " + std::to_string(k + 1), model,
                            map.optima[static_cast<std::size_t>(k)].point,
                            "give the --data and --box of the search, or run 'zonetool explore " +
                                std::to_string(model.number) + "' anew");
        if (!problem.empty()) {
            *ctx.err << "zonetool fit: " << problem << "\n";
            inside = false;
        }
    }
    return inside;
}

bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// The fit from optimum a.optimum alone, as 'zonetool fit MODEL --start FILE' runs it (with
// a checkpoint, a trace and a requeue if asked). Several such fits, of other seeds, may run at
// once: each writes the same start file, and an existing one of the same text is kept.
int fitOneOptimum(const RunContext& ctx, const FitOptions& a, const ModelEntry& model,
                  const ExploreMap& map) {
    const std::size_t count = map.optima.size();
    if (static_cast<std::size_t>(a.optimum) > count) {
        *ctx.err << "zonetool fit: " << a.recordPath << " lists " << count
                 << (count == 1 ? " optimum" : " optima") << ": no optimum " << a.optimum
                 << " to fit from\n";
        return 0;
    }
    if (!optimaInsideBoxes(ctx, a, model, map, a.optimum - 1, 1)) {
        return 1;
    }
    const std::string name = optimumFitName(model, a.optimum, std::nullopt);
    const std::string startPath = name + ".start";
    const std::string text =
        optimumStartText(map, map.optima[static_cast<std::size_t>(a.optimum - 1)]);
    std::ifstream in(startPath, std::ios::binary);
    std::ostringstream held;
    held << in.rdbuf();
    std::string error;
    if (!in || held.str() != text) {
        if (in && !a.redo) {
            *ctx.err << "zonetool fit: " << startPath << " exists and holds another start; "
                     << "give --redo to replace it\n";
            return 1;
        }
        if (!writeResultFile(startPath, text, error)) {
            *ctx.err << "zonetool fit: cannot write " << startPath << ": " << error << "\n";
            return 1;
        }
    }
    FitOptions one = a;
    one.startPath = startPath;
    if (one.resultName.empty()) {
        one.resultName = name;
    }
    return fitOne(ctx, one, StartOrigin::optimum);
}

// Several fits from the K best optima, with the start files they read.
struct OptimaPlan {
    std::vector<FitDescription> jobs;
    std::vector<std::pair<std::string, std::string>> startFiles; // name and text
};

// The fits of the `count` best optima of `map`, each once per seed.
OptimaPlan planOptimaFits(const FitOptions& a, const ModelEntry& model, const ExploreMap& map,
                          int count) {
    OptimaPlan plan;
    for (int k = 0; k < count; k++) {
        const std::string startPath = optimumFitName(model, k + 1, std::nullopt) + ".start";
        plan.startFiles.emplace_back(
            startPath, optimumStartText(map, map.optima[static_cast<std::size_t>(k)]));
        const std::size_t runs = a.seeds.empty() ? 1 : a.seeds.size();
        for (std::size_t s = 0; s < runs; s++) {
            FitDescription job;
            job.model = model.number;
            if (!a.seeds.empty()) {
                job.seed = a.seeds[s];
            }
            job.startPath = startPath;
            job.startOrigin = StartOrigin::optimum;
            job.objective = a.objective;
            FitNaming naming;
            naming.optimum = k + 1;
            naming.seedInName = a.seeds.size() > 1;
            job.files = fitFiles(model, job.seed, naming);
            job.redo = a.redo;
            plan.jobs.push_back(job);
        }
    }
    return plan;
}

// Checks before the first fit, each failure named: no start file, result or log of the plan is
// there already (without --redo), every optimum lies inside its box, borders.txt is good. Then
// writes the start files. The caller holds the locks of the results.
bool readyToFit(const RunContext& ctx, const FitOptions& a, const ModelEntry& model,
                const ExploreMap& map, const OptimaPlan& plan, int count) {
    if (!a.redo) {
        std::vector<std::string> names;
        for (const auto& file : plan.startFiles) {
            names.push_back(file.first);
        }
        for (const FitDescription& job : plan.jobs) {
            names.push_back(job.files.result);
            names.push_back(job.files.log);
        }
        for (const std::string& name : names) {
            if (exists(name)) {
                *ctx.err << "zonetool fit: " << name << " exists; give --redo to replace it\n";
                return false;
            }
        }
    }
    if (!optimaInsideBoxes(ctx, a, model, map, 0, count)) {
        return false;
    }
    std::string error;
    if (!checkBordersFor(ctx.data, plan.jobs, error)) {
        *ctx.err << error << "\n";
        return false;
    }
    for (const auto& file : plan.startFiles) {
        if (!writeResultFile(file.first, file.second, error)) {
            *ctx.err << "zonetool fit: cannot write " << file.first << ": " << error << "\n";
            return false;
        }
    }
    return true;
}

// Runs the fits with the progress line, then prints the summary table and the settledness of
// each fitted point. Returns the exit status.
int runOptimaFits(const RunContext& ctx, const FitOptions& a, const ModelEntry& model,
                  const std::vector<FitDescription>& jobs) {
    std::deque<FitProgress> progress(jobs.size());
    StatusLine line(*ctx.err, progressWanted(a.quiet, STDERR_FILENO));
    const std::int64_t started = steadyNow();
    std::vector<FitOutcome> outcomes;
    {
        const StopSignalGuard signalGuard;
        ProgressTicker ticker(line, [&] {
            return runProgressText(jobs, progress,
                                   static_cast<double>(steadyNow() - started) * 1e-9);
        });
        outcomes = runFits(ctx, jobs, a.jobs, progress);
    }
    int failures = 0;
    std::string settled;
    std::string error;
    for (std::size_t i = 0; i < jobs.size(); i++) {
        if (outcomes[i].status != 0) {
            failures++;
            *ctx.err << "zonetool fit: the fit " << jobs[i].files.result << " failed; see "
                     << jobs[i].files.log << "\n";
            continue;
        }
        // At the fitted point itself, as the record holds it: the 8 digits of the result file
        // can lie across a cliff from it.
        FitRecord record;
        if (readFitRecord(jobs[i].files.record, record, error)) {
            record.point.resize(static_cast<std::size_t>(model.parameterCount));
            settled += jobs[i].files.result + ": " +
                       settlednessText(measureSettledness(ctx.data, model, record.point, ctx.out)) +
                       "\n";
        }
    }
    *ctx.out << summaryTable(jobs, outcomes) << settled;
    return failures == 0 ? 0 : 1;
}

// Reads the explore record of `a` into `map` and checks that it explores a.models.front();
// says why not otherwise.
bool readRecordFor(const RunContext& ctx, const FitOptions& a, ExploreMap& map) {
    std::string error;
    if (!readExploreRecord(a.recordPath, map, error)) {
        *ctx.err << "zonetool fit: " << error << "\n";
        return false;
    }
    if (map.model != a.models.front()) {
        *ctx.err << "zonetool fit: " << a.recordPath << " explores model " << map.model
                 << ", not model " << a.models.front() << "\n";
        return false;
    }
    return true;
}

} // namespace

int fitFromRecord(const RunContext& ctx, FitOptions a) {
    const ModelEntry& model = *findModel(a.models.front());
    ExploreMap map;
    if (!readRecordFor(ctx, a, map)) {
        return 1;
    }
    if (!a.objectiveGiven) {
        a.objective = map.objective;
    }
    if (a.optimum > 0) {
        return fitOneOptimum(ctx, a, model, map);
    }
    if (map.optima.empty()) {
        *ctx.err << "zonetool fit: " << a.recordPath << " lists no optimum\n";
        return 1;
    }
    const int count = std::min<int>(a.best, static_cast<int>(map.optima.size()));
    const OptimaPlan plan = planOptimaFits(a, model, map, count);
    std::vector<std::string> lockedNames;
    for (const FitDescription& job : plan.jobs) {
        lockedNames.push_back(job.files.result);
    }
    OutputLocks locks;
    if (!lockOutputs(*ctx.err, ctx.data.commandLine, locks, "fit", lockedNames)) {
        return 1;
    }
    if (!readyToFit(ctx, a, model, map, plan, count)) {
        return 1;
    }
    return runOptimaFits(ctx, a, model, plan.jobs);
}
