#include "tools/fit_from.h"

#include "driver/schedule.h"
#include "driver/signals.h"
#include "tools/cli.h"
#include "tools/fit_one.h"
#include "tools/fit_record.h"
#include "tools/output_lock.h"
#include "tools/parallel.h"
#include "tools/results.h"
#include "tools/start_box_check.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/stat.h>

std::string optimumStartText(const ExploreMap& map, const Optimum& optimum) {
    const std::vector<double> steps = regionSteps(map.regions, optimum.point);
    std::string text;
    for (std::size_t j = 0; j < optimum.point.size(); j++) {
        text += (j == 0 ? "" : " ") + format17(optimum.point[j]);
    }
    text += "\n";
    for (std::size_t j = 0; j < steps.size(); j++) {
        text += (j == 0 ? "" : " ") + format17(steps[j]);
    }
    return text + "\n";
}

namespace {

// Names each of the first `count` optima of the record that leaves its box in force; true
// when none does. The search that found them ran on other data or boxes then.
bool optimaInsideBoxes(const FitOptions& a, const ModelEntry& model, const ExploreMap& map,
                       int first, int count) {
    bool inside = true;
    for (int k = first; k < first + count; k++) {
        const std::string problem =
            startBoxProblem(a.recordPath + ": optimum " + std::to_string(k + 1), model,
                            map.optima[static_cast<std::size_t>(k)].point,
                            "give the --data and --box of the search, or run 'zonetool explore " +
                                std::to_string(model.number) + "' anew");
        if (!problem.empty()) {
            std::cerr << "zonetool fit: " << problem << "\n";
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
int fitOneOptimum(const FitOptions& a, const ModelEntry& model, const ExploreMap& map) {
    const std::size_t count = map.optima.size();
    if (static_cast<std::size_t>(a.optimum) > count) {
        std::cerr << "zonetool fit: " << a.recordPath << " lists " << count
                  << (count == 1 ? " optimum" : " optima") << ": no optimum " << a.optimum
                  << " to fit from\n";
        return 0;
    }
    if (!optimaInsideBoxes(a, model, map, a.optimum - 1, 1)) {
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
            std::cerr << "zonetool fit: " << startPath << " exists and holds another start; "
                      << "give --redo to replace it\n";
            return 1;
        }
        if (!writeResultFile(startPath, text, error)) {
            std::cerr << "zonetool fit: cannot write " << startPath << ": " << error << "\n";
            return 1;
        }
    }
    FitOptions one = a;
    one.startPath = startPath;
    if (one.resultName.empty()) {
        one.resultName = name;
    }
    return fitOne(one, StartOrigin::optimum);
}

} // namespace

int fitFromRecord(FitOptions a) {
    const int number = a.models.front();
    const ModelEntry& model = *findModel(number);
    ExploreMap map;
    std::string error;
    if (!readExploreRecord(a.recordPath, map, error)) {
        std::cerr << "zonetool fit: " << error << "\n";
        return 1;
    }
    if (map.model != number) {
        std::cerr << "zonetool fit: " << a.recordPath << " explores model " << map.model
                  << ", not model " << number << "\n";
        return 1;
    }
    if (!a.objectiveGiven) {
        a.objective = map.objective;
    }
    if (a.optimum > 0) {
        return fitOneOptimum(a, model, map);
    }
    if (map.optima.empty()) {
        std::cerr << "zonetool fit: " << a.recordPath << " lists no optimum\n";
        return 1;
    }
    const int count = std::min<int>(a.best, static_cast<int>(map.optima.size()));
    std::vector<FitDescription> jobs;
    std::vector<std::pair<std::string, std::string>> startFiles;
    for (int k = 0; k < count; k++) {
        const std::string startPath = optimumFitName(model, k + 1, std::nullopt) + ".start";
        startFiles.emplace_back(startPath,
                                optimumStartText(map, map.optima[static_cast<std::size_t>(k)]));
        const std::size_t runs = a.seeds.empty() ? 1 : a.seeds.size();
        for (std::size_t s = 0; s < runs; s++) {
            FitDescription job;
            job.model = number;
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
            jobs.push_back(job);
        }
    }
    std::vector<std::string> lockedNames;
    for (const FitDescription& job : jobs) {
        lockedNames.push_back(job.files.result);
    }
    OutputLocks locks;
    if (!lockOutputs(locks, "fit", lockedNames)) {
        return 1;
    }
    if (!a.redo) {
        std::vector<std::string> names;
        for (const auto& file : startFiles) {
            names.push_back(file.first);
        }
        for (const FitDescription& job : jobs) {
            names.push_back(job.files.result);
            names.push_back(job.files.log);
        }
        for (const std::string& name : names) {
            if (exists(name)) {
                std::cerr << "zonetool fit: " << name << " exists; give --redo to replace it\n";
                return 1;
            }
        }
    }
    if (!optimaInsideBoxes(a, model, map, 0, count)) {
        return 1;
    }
    if (!checkBordersFor(jobs, error)) {
        std::cerr << error << "\n";
        return 1;
    }
    for (const auto& file : startFiles) {
        if (!writeResultFile(file.first, file.second, error)) {
            std::cerr << "zonetool fit: cannot write " << file.first << ": " << error << "\n";
            return 1;
        }
    }
    std::deque<FitProgress> progress(jobs.size());
    StatusLine line(std::cerr, progressWanted(a.quiet, STDERR_FILENO));
    const std::int64_t started = steadyNow();
    std::vector<FitOutcome> outcomes;
    {
        const StopSignalGuard signalGuard;
        ProgressTicker ticker(line, [&] {
            return runProgressText(jobs, progress,
                                   static_cast<double>(steadyNow() - started) * 1e-9);
        });
        outcomes = runFits(jobs, a.jobs, progress);
    }
    int failures = 0;
    std::string settled;
    for (std::size_t i = 0; i < jobs.size(); i++) {
        if (outcomes[i].status != 0) {
            failures++;
            std::cerr << "zonetool fit: the fit " << jobs[i].files.result << " failed; see "
                      << jobs[i].files.log << "\n";
            continue;
        }
        // At the fitted point itself, as the record holds it: the 8 digits of the result file
        // can lie across a cliff from it.
        FitRecord record;
        if (readFitRecord(recordFileName(jobs[i].files.result), record, error)) {
            record.point.resize(static_cast<std::size_t>(model.parameterCount));
            settled += jobs[i].files.result + ": " +
                       settlednessText(measureSettledness(model, record.point)) + "\n";
        }
    }
    std::cout << summaryTable(jobs, outcomes) << settled;
    return failures == 0 ? 0 : 1;
}
