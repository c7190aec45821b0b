#include "tools/fit_from.h"

#include "driver/schedule.h"
#include "driver/signals.h"
#include "tools/cli.h"
#include "tools/fit.h"
#include "tools/fit_record.h"
#include "tools/options.h"
#include "tools/output_lock.h"
#include "tools/parallel.h"
#include "tools/results.h"
#include "tools/start_box_check.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/stat.h>

const char* const fitFromHelp =
    "       zonetool fit MODEL --from EXPLORE_RECORD [--best K] [--seed S | --seeds LIST]\n"
    "                          [--jobs J] [--quiet] [--redo] [--objective settled|zonefit]\n"
    "\n"
    "With --from, runs the fit's annealing schedule from each of the K best optima (default\n"
    "3) of a record written by 'zonetool explore' (MODEL.explore.json), the simplex built\n"
    "around the optimum with a tenth of each exploration region's width as steps. The fit\n"
    "from optimum 2 writes its start file SS1_ML_opt2.start, its result file SS1_ML_opt2 and\n"
    "its log SS1_ML_opt2.log (with several seeds SS1_ML_opt2seed3 and so on); none of these\n"
    "is replaced without --redo. A summary table and the settledness of each fitted point\n"
    "follow on standard output. The fits minimise the objective the record was explored\n"
    "under unless --objective names the other.\n"
    "\n"
    "       zonetool fit MODEL --from EXPLORE_RECORD --optimum I [--seed S] [--result NAME]\n"
    "                          [--checkpoint FILE] [--trace FILE] [--requeue] [--quiet] [--redo]\n"
    "\n"
    "With --optimum, runs the one fit from optimum I (SS1_ML_optI unless --result names it) as\n"
    "'zonetool fit MODEL --start SS1_ML_optI.start' does, with the options of such a fit (as\n"
    "the tasks of 'zonetool slurm --explore' do). An existing start file of the same text is\n"
    "kept, so that fits of several seeds can start from it at once. When the record lists\n"
    "fewer than I optima there is nothing to fit: a line says so and the status is 0.\n";

std::string optimumFitName(const ModelEntry& model, int rank,
                           const std::optional<std::uint64_t>& seed) {
    return std::string(model.prefix) + "opt" + std::to_string(rank) +
           (seed ? "seed" + std::to_string(*seed) : "");
}

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

struct FromArguments {
    std::string modelText;
    int model = 0;
    std::string recordPath;
    int best = 3;
    std::vector<std::uint64_t> seeds;
    bool seedGiven = false;
    bool seedsGiven = false;
    int jobs = 1;
    bool quiet = false;
    bool redo = false;
    bool bestGiven = false;
    int optimum = 0; // with --optimum I: the one fit from optimum I, as a fit of its own
    // Options of that fit, passed on as given.
    std::vector<std::string> fitOptions;
    bool requeue = false;
    ObjectiveKind objective = ObjectiveKind::zonefit; // with objectiveGiven: --objective
    bool objectiveGiven = false;
};

int readArguments(const std::vector<std::string>& args, FromArguments& a) {
    return OptionParser("fit", [] { return std::string(fitHelp) + "\n" + fitFromHelp; })
        .unknownOption([](const std::string& arg) -> Problem {
            return "'" + arg + "' does not go with --from";
        })
        .flag({"--quiet"}, [&a] { a.quiet = true; })
        .flag({"--redo"}, [&a] { a.redo = true; })
        .value({"--from"}, "a value", storeText(a.recordPath))
        .value({"--best"}, "a value",
               [&a](const std::string& name, const std::string& value) -> Problem {
                   a.bestGiven = true;
                   return storeWhole(a.best, 1, 1000)(name, value);
               })
        .value({"--optimum"}, "a value", storeWhole(a.optimum, 1, 1000))
        .value({"--result", "--checkpoint", "--trace"}, "a value",
               [&a](const std::string& name, const std::string& value) -> Problem {
                   if (value.empty()) {
                       return name + " needs a file name";
                   }
                   a.fitOptions.insert(a.fitOptions.end(), {name, value});
                   return "";
               })
        .flag({"--requeue"}, [&a] { a.requeue = true; })
        .value({"--objective"}, "a value",
               [&a](const std::string& name, const std::string& value) -> Problem {
                   a.objectiveGiven = true;
                   return storeObjective(a.objective)(name, value);
               })
        .value({"--seed"}, "a value", storeSeed(a.seeds, a.seedGiven))
        .value({"--seeds"}, "a value", storeSeedList(a.seeds, 10000, a.seedsGiven))
        .value({"--jobs"}, "a value", storeWhole(a.jobs, 1, 256))
        .positional([&a](const std::string& arg) -> Problem {
            if (!a.modelText.empty()) {
                return "--from takes one MODEL, not also '" + arg + "'";
            }
            a.modelText = arg;
            return "";
        })
        .check([&a]() -> Problem {
            return a.seedGiven && a.seedsGiven ? "give either --seed or --seeds, not both" : "";
        })
        .check(requireModel(a.modelText, a.model))
        .check([&a]() -> Problem {
            if (a.optimum == 0) {
                return a.fitOptions.empty() && !a.requeue
                           ? ""
                           : "--result, --checkpoint, --trace and --requeue need --optimum I";
            }
            if (a.bestGiven) {
                return "give either --best or --optimum, not both";
            }
            return a.seeds.size() > 1 ? "--optimum runs one fit: give one --seed, not --seeds" : "";
        })
        .parse(args);
}

// Names each of the first `count` optima of the record that leaves its box in force; true
// when none does. The search that found them ran on other data or boxes then.
bool optimaInsideBoxes(const DataContext& data, const FromArguments& a, const ModelEntry& model,
                       const ExploreMap& map, int first, int count) {
    bool inside = true;
    for (int k = first; k < first + count; k++) {
        const std::string problem =
            startBoxProblem(data, a.recordPath + ": optimum " + std::to_string(k + 1), model,
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
int fitOneOptimum(RunContext& ctx, const FromArguments& a, const ModelEntry& model,
                  const ExploreMap& map) {
    const std::size_t count = map.optima.size();
    if (static_cast<std::size_t>(a.optimum) > count) {
        std::cerr << "zonetool fit: " << a.recordPath << " lists " << count
                  << (count == 1 ? " optimum" : " optima") << ": no optimum " << a.optimum
                  << " to fit from\n";
        return 0;
    }
    if (!optimaInsideBoxes(ctx.data, a, model, map, a.optimum - 1, 1)) {
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
    std::vector<std::string> args = {a.modelText,
                                     "--start",
                                     startPath,
                                     "--result",
                                     name,
                                     "--objective",
                                     objectiveName(a.objective)};
    if (!a.seeds.empty()) {
        args.insert(args.end(), {"--seed", std::to_string(a.seeds.front())});
    }
    // A later --result replaces the one above.
    args.insert(args.end(), a.fitOptions.begin(), a.fitOptions.end());
    for (const auto& [given, word] :
         {std::make_pair(a.quiet, "--quiet"), std::make_pair(a.redo, "--redo"),
          std::make_pair(a.requeue, "--requeue")}) {
        if (given) {
            args.push_back(word);
        }
    }
    return fitCommand(ctx, args);
}

} // namespace

int fitFromCommand(RunContext& ctx, const std::vector<std::string>& args) {
    FromArguments a;
    const int status = readArguments(args, a);
    if (status >= 0) {
        return status;
    }
    const int number = a.model;
    const ModelEntry& model = *findModel(number);
    ExploreMap map;
    std::string error;
    if (!readExploreRecord(a.recordPath, map, error)) {
        *ctx.err << "zonetool fit: " << error << "\n";
        return 1;
    }
    if (map.model != number) {
        *ctx.err << "zonetool fit: " << a.recordPath << " explores model " << map.model
                 << ", not model " << number << "\n";
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
    std::vector<FitJob> jobs;
    std::vector<std::pair<std::string, std::string>> startFiles;
    for (int k = 0; k < count; k++) {
        const std::string startPath = optimumFitName(model, k + 1, std::nullopt) + ".start";
        startFiles.emplace_back(startPath,
                                optimumStartText(map, map.optima[static_cast<std::size_t>(k)]));
        const std::size_t runs = a.seeds.empty() ? 1 : a.seeds.size();
        for (std::size_t s = 0; s < runs; s++) {
            FitJob job;
            job.model = number;
            if (!a.seeds.empty()) {
                job.seed = a.seeds[s];
            }
            job.startPath = startPath;
            job.objectiveKind = a.objective;
            job.resultName = optimumFitName(
                model, k + 1, a.seeds.size() > 1 ? job.seed : std::optional<std::uint64_t>());
            job.logName = job.resultName + ".log";
            job.redo = a.redo;
            jobs.push_back(job);
        }
    }
    std::vector<std::string> lockedNames;
    for (const FitJob& job : jobs) {
        lockedNames.push_back(job.resultName);
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
        for (const FitJob& job : jobs) {
            names.push_back(job.resultName);
            names.push_back(job.logName);
        }
        for (const std::string& name : names) {
            if (exists(name)) {
                *ctx.err << "zonetool fit: " << name << " exists; give --redo to replace it\n";
                return 1;
            }
        }
    }
    if (!optimaInsideBoxes(ctx.data, a, model, map, 0, count)) {
        return 1;
    }
    if (!checkBordersFor(ctx.data, jobs, error)) {
        *ctx.err << error << "\n";
        return 1;
    }
    for (const auto& file : startFiles) {
        if (!writeResultFile(file.first, file.second, error)) {
            *ctx.err << "zonetool fit: cannot write " << file.first << ": " << error << "\n";
            return 1;
        }
    }
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
    for (std::size_t i = 0; i < jobs.size(); i++) {
        if (outcomes[i].status != 0) {
            failures++;
            *ctx.err << "zonetool fit: the fit " << jobs[i].resultName << " failed; see "
                     << jobs[i].logName << "\n";
            continue;
        }
        // At the fitted point itself, as the record holds it: the 8 digits of the result file
        // can lie across a cliff from it.
        FitRecord record;
        if (readFitRecord(recordFileName(jobs[i].resultName), record, error)) {
            record.point.resize(static_cast<std::size_t>(model.parameterCount));
            settled += jobs[i].resultName + ": " +
                       settlednessText(measureSettledness(ctx.data, model, record.point, ctx.out)) +
                       "\n";
        }
    }
    *ctx.out << summaryTable(jobs, outcomes) << settled;
    return failures == 0 ? 0 : 1;
}
