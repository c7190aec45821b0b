#include "tools/commands/slurm.h"

#include "data/borders.h"
#include "driver/schedule.h"
#include "driver/start_file.h"
#include "models/model_table.h"
#include "tools/analysis/explore_part.h"
#include "tools/analysis/parallel.h"
#include "tools/analysis/start_box_check.h"
#include "tools/formats/cli.h"
#include "tools/formats/data_option.h"
#include "tools/formats/fit_description.h"
#include "tools/formats/options.h"
#include "tools/formats/output_lock.h"
#include "tools/formats/profile_part.h"
#include "tools/formats/results.h"
#include "tools/formats/slurm_script.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <iostream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

const char* const slurmHelp =
    "Usage: zonetool slurm MODELS [--seeds LIST] [options]\n"
    "       zonetool slurm --profile MODEL [--parameters LIST] [--result FILE] [--units U]\n"
    "                      [--step F] [options]\n"
    "       zonetool slurm --explore MODEL [--starts N] [--blocks B] [--budget E] [--seed S]\n"
    "                      [--best K] [--seeds LIST] [--region NAME=LO:HI ...] [options]\n"
    "\n"
    "Writes a batch script for Slurm's sbatch: a job array with one task per model and seed\n"
    "(MODELS as in 1-10 or 1,3,7; LIST as in 1-3 or 5,9; seed 1 when no LIST is given), each\n"
    "running 'zonetool fit MODEL --seed S' in the working directory with a checkpoint, and a\n"
    "second job that waits for every task of the array, whatever its end, and writes\n"
    "compare.tsv and compare.json ('zonetool compare'). Files of a fit named NAME (as in\n"
    "parallel fits: SS1_ML_, or SS1_ML_seed3 with several seeds): the result NAME, its record\n"
    "NAME.json, log NAME.log, checkpoint NAME.ckpt, trace NAME.trace.tsv, and the task's\n"
    "standard output and error NAME.out and NAME.err.\n"
    "\n"
    "Slurm sends a task SIGUSR1 a while before its time limit: the fit then writes its\n"
    "checkpoint, requeues itself and ends; the requeued task resumes from the checkpoint. A\n"
    "task that fails for a bad input is not requeued; NAME.err says why.\n"
    "\n"
    "With --profile: one task per parameter and side of 'zonetool profile MODEL', each writing\n"
    "profile-RESULT-PARAMETER-SIDE.tsv, and a second job that assembles profile-RESULT.txt\n"
    "and profile-RESULT.tsv. A profile side keeps no checkpoint: a requeued task starts its\n"
    "side again.\n"
    "\n"
    "With --explore: the search of 'zonetool explore MODEL --starts N --seed S --budget E'\n"
    "(defaults 32, 1, 4000; --region as there) as an array of B tasks (default the smaller\n"
    "of 8 and N), each running one block of the starts ('explore --block K/B') into\n"
    "PREFIX.explore.partK-of-B.json (PREFIX the model's result name, SS1_ML_); after the\n"
    "whole array a job merges the parts into PREFIX.explore.json and .svg ('explore\n"
    "--collect'; it fails, naming the part, when one is missing); after a successful merge\n"
    "an array of fits from the K best optima (--best, default 3), one task per optimum and\n"
    "seed of --seeds ('fit --from PREFIX.explore.json --optimum I'), checkpointed and\n"
    "requeued as the fits above, named as 'fit --from' names them (SS1_ML_opt2, or\n"
    "SS1_ML_opt2seed3 with several seeds); a task whose optimum the search did not find ends\n"
    "at once with status 0 and says so in its .err file; last, a job that writes compare.tsv\n"
    "and compare.json. The blocks and the merge keep their output in\n"
    "PREFIX.explore.partK-of-B.out/.err and PREFIX.explore.out/.err. Submitting the script\n"
    "again resumes: what has its file ends at once, the other fits resume from checkpoints.\n"
    "\n"
    "Before anything is written every input is checked: startvecN.txt of every model (the\n"
    "result file with --profile), the --data file, borders.txt for models 3 to 6 (against the\n"
    "sites of the data), a writable directory, and no result files (or script) that the jobs\n"
    "would overwrite.\n"
    "\n"
    "Options:\n"
    "  -o SCRIPT             write the script to SCRIPT (default standard output)\n"
    "  --submit              submit the script and its collecting job with sbatch and print\n"
    "                        both job ids (all four with --explore; needs -o); or later:\n"
    "                        bash SCRIPT submit\n"
    "  --starts N, --blocks B, --budget E, --seed S, --best K, --region NAME=LO:HI\n"
    "                        the search of --explore, as above\n"
    "  --time T              time limit of each task (D-HH:MM:SS, HH:MM:SS, MM, ...)\n"
    "  --partition P         partition\n"
    "  --account A           account to charge\n"
    "  --mem M               memory per task, as in 500M or 2G\n"
    "  --cpus-per-task N     processors per task (default 1: a fit uses one)\n"
    "  --signal-lead S       seconds before the time limit at which a fit stops (default 120)\n"
    "  --redo                allow the jobs to overwrite existing results, and SCRIPT\n"
    "  --data FILE           fit the transect in FILE instead of the built-in one: every fit,\n"
    "                        profile side, explore block and collecting job gets --data with\n"
    "                        FILE's absolute path, so that compare takes n and the\n"
    "                        saturated -lnL from it\n"
    "  --locus NAME          fit locus NAME of a --data file with a locus column: every\n"
    "                        task and collecting job gets --locus NAME\n"
    "  --loci all|A,B,...    (arrays of fits) one task per model, seed and locus of the --data\n"
    "                        file (all of them, or those listed), each fitting its locus\n"
    "                        with --locus into the directory locus-NAME (bytes other than\n"
    "                        letters, digits and ._- written as %XX); the collecting job\n"
    "                        writes compare.tsv and compare.json in each of them\n"
    "  --box NAME=LO:HI      set both bounds of parameter NAME in every task (repeatable)\n"
    "  --objective K         settled or zonefit: passed on to every fit, profile side,\n"
    "                        explore block and collecting job; without it each command\n"
    "                        keeps its own default (fit zonefit, explore and profile\n"
    "                        settled, fits from an explore record that record's, compare\n"
    "                        that of the fits)\n";

namespace {

struct SlurmArguments {
    std::string modelText;
    std::vector<int> models;
    std::vector<std::uint64_t> seeds{1};
    bool profile = false;
    std::string parameters;
    std::string result;
    std::vector<std::string> profileOptions;
    bool explore = false;
    bool exploreOptions = false; // any of --starts, --blocks, --budget, --seed, --best, --region
    int starts = 32;
    int blocks = 0; // 0: the default, the smaller of 8 and --starts
    int budget = 4000;
    std::vector<std::uint64_t> seed{1}; // of the design, as the only entry
    bool seedGiven = false;
    int best = 3;
    std::vector<std::string> regions; // --region NAME=LO:HI of the search, as given
    SlurmRequest request;
    std::string script;
    bool submit = false;
    bool redo = false;
    ObjectiveKind objective = ObjectiveKind::zonefit; // with objectiveGiven: --objective
    bool objectiveGiven = false;
};

constexpr std::size_t maxTasks = 10000;

// Marks an option of --explore as given, then stores it with `set`.
OptionParser::ValueSetter exploreOption(SlurmArguments& a, OptionParser::ValueSetter set) {
    return [&a, set](const std::string& name, const std::string& value) -> Problem {
        a.exploreOptions = true;
        return set(name, value);
    };
}

// What is wrong with the options read into `a` taken together, empty when nothing is; with
// --explore and no --blocks, sets the blocks.
Problem combinationProblem(const DataContext& data, SlurmArguments& a) {
    if (!a.profile && (!a.parameters.empty() || !a.result.empty() || !a.profileOptions.empty())) {
        return "--parameters, --result, --units and --step need --profile";
    }
    if (!a.explore && a.exploreOptions) {
        return "--starts, --blocks, --budget, --seed, --best and --region need --explore";
    }
    if (a.explore) {
        const ModelEntry& model = *findModel(a.models.front());
        std::vector<Region> regions = defaultRegions(data, model);
        for (const std::string& region : a.regions) {
            std::string problem;
            if (!applyRegionOption(data, model, region, regions, problem)) {
                return problem;
            }
        }
    }
    if (a.explore && a.blocks > a.starts) {
        return "--blocks (" + std::to_string(a.blocks) + ") must not exceed --starts (" +
               std::to_string(a.starts) + ")";
    }
    if (a.explore && a.blocks == 0) {
        a.blocks = std::min(8, a.starts);
    }
    if (a.profile && a.result.find('/') != std::string::npos) {
        return "--result needs a file of the working directory, not '" + a.result + "'";
    }
    // A fit told to stop before it has started would requeue itself for ever.
    if (!a.profile && !a.request.time.empty() &&
        a.request.signalLead >= timeSeconds(a.request.time)) {
        return "--signal-lead (" + std::to_string(a.request.signalLead) +
               " s) must be shorter than --time (" + std::to_string(timeSeconds(a.request.time)) +
               " s)";
    }
    if (a.submit && a.script.empty()) {
        return "--submit needs -o SCRIPT: requeued tasks and later "
               "submissions read the script";
    }
    if ((a.explore ? static_cast<std::size_t>(a.best) : a.models.size()) * a.seeds.size() >
        maxTasks) {
        return "more than " + std::to_string(maxTasks) + " tasks";
    }
    return "";
}

int readArguments(const RunContext& ctx, const std::vector<std::string>& args, SlurmArguments& a) {
    const DataContext& data = ctx.data;
    // Passed on to each profile task as given.
    const auto profileOption = [&a](const std::string& name, const std::string& value) -> Problem {
        double number = 0.0;
        if (!parseNumber(value, number) || !(number > 0.0) || number > 1e300) {
            return name + " needs a positive number, not '" + value + "'";
        }
        a.profileOptions.push_back(name);
        a.profileOptions.push_back(value);
        return "";
    };
    OptionParser parser(
        "slurm", [] { return std::string(slurmHelp); }, *ctx.out, *ctx.err);
    parser.optionPrefix("-")
        .flag({"--submit"}, [&a] { a.submit = true; })
        .flag({"--redo"}, [&a] { a.redo = true; })
        .flag({"--profile"}, [&a] { a.profile = true; })
        .flag({"--explore"}, [&a] { a.explore = true; })
        .value({"--starts"}, "a value", exploreOption(a, storeWhole(a.starts, 1, 100000)))
        .value({"--blocks"}, "a value",
               exploreOption(a, storeWhole(a.blocks, 1, static_cast<int>(maxTasks))))
        .value({"--budget"}, "a value", exploreOption(a, storeWhole(a.budget, 10, 100000000)))
        .value({"--best"}, "a value", exploreOption(a, storeWhole(a.best, 1, 1000)))
        .value({"--region"}, "a value",
               exploreOption(a,
                             [&a](const std::string&, const std::string& value) -> Problem {
                                 a.regions.push_back(value);
                                 return "";
                             }))
        .value({"--seed"}, "a value", exploreOption(a, storeSeed(a.seed, a.seedGiven)))
        .value({"-o"}, "a value", storeText(a.script))
        .value({"--seeds"}, "a value",
               [&a](const std::string&, const std::string& value) -> Problem {
                   std::string problem;
                   return parseSeedList(value, maxTasks, a.seeds, problem) ? ""
                                                                           : "--seeds: " + problem;
               })
        .value(
            {"--time"}, "a value",
            [&a](const std::string&, const std::string& value) -> Problem {
                if (!validTime(value)) {
                    return "--time needs a time limit such as 1-00:00:00, 12:00:00 or 90, not '" +
                           value + "'";
                }
                a.request.time = value;
                return "";
            })
        .value({"--partition"}, "a value", storeSlurmName(a.request.partition, true))
        .value({"--account"}, "a value", storeSlurmName(a.request.account, false))
        .value({"--mem"}, "a value",
               [&a](const std::string&, const std::string& value) -> Problem {
                   if (!validMemory(value)) {
                       return "--mem needs a size such as 500M or 2G, not '" + value + "'";
                   }
                   a.request.memory = value;
                   return "";
               })
        .value({"--cpus-per-task"}, "a value", storeWhole(a.request.cpusPerTask, 1, 1024))
        .value({"--objective"}, "a value",
               [&a](const std::string& name, const std::string& value) -> Problem {
                   a.objectiveGiven = true;
                   return storeObjective(a.objective)(name, value);
               })
        .value({"--signal-lead"}, "a value", storeWhole(a.request.signalLead, 1, 86400))
        .value({"--parameters"}, "a value", storeText(a.parameters))
        .value({"--result"}, "a value", storeText(a.result))
        .value({"--units"}, "a value", profileOption)
        .value({"--step"}, "a value", profileOption)
        .positional(takeOne(a.modelText))
        .check([&a]() -> Problem {
            if (a.modelText.empty()) {
                return a.profile || a.explore ? "missing MODEL" : "missing MODELS";
            }
            std::string problem;
            if (a.profile && a.explore) {
                return "give either --profile or --explore, not both";
            }
            if (a.profile || a.explore) {
                int number = 0;
                if (!parseModel(a.modelText, number)) {
                    return std::string(a.profile ? "--profile" : "--explore") +
                           " needs one model number from 1 to 10, not '" + a.modelText + "'";
                }
                a.models = {number};
            } else if (!parseModelList(a.modelText, a.models, problem)) {
                return problem;
            }
            return "";
        });
    const int status = parser.parse(args);
    if (status >= 0) {
        return status;
    }
    const Problem problem = combinationProblem(data, a);
    return problem.empty() ? -1 : usageError(*ctx.err, "slurm", problem);
}

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// Files the jobs would write over, without --redo.
void checkNotThere(const std::vector<std::string>& paths, bool redo,
                   std::vector<std::string>& problems) {
    for (const std::string& path : paths) {
        if (!redo && exists(path)) {
            problems.push_back(path + " exists; give --redo to let the jobs overwrite it");
        }
    }
}

void checkBorders(const DataContext& data, const std::vector<int>& models,
                  std::vector<std::string>& problems) {
    for (int number : models) {
        if (findModel(number)->borders == BorderSource::borderFile) {
            Borders borders;
            std::string error;
            if (!readBorders(borderFileName, data.data().siteCount(), borders, error)) {
                problems.push_back(error);
            }
            return;
        }
    }
}

void checkStartFile(const DataContext& data, const ModelEntry& model,
                    std::vector<std::string>& problems) {
    const std::string path = startFileName(std::to_string(model.number).c_str());
    StartVector start;
    switch (readStartFile(path, start)) {
    case StartFileStatus::cannotOpen:
        problems.push_back(path + ": cannot open: " + std::strerror(errno));
        return;
    case StartFileStatus::empty:
        problems.push_back(path + ": empty");
        return;
    case StartFileStatus::missingDeltas:
        problems.push_back(path + ": no step sizes in the second row");
        return;
    case StartFileStatus::ok:
        break;
    }
    if (static_cast<int>(start.start.size()) < model.parameterCount) {
        problems.push_back(path + ": model " + std::to_string(model.number) + " (" + model.name +
                           ") reads " + std::to_string(model.parameterCount) +
                           " parameters, the start vector holds " +
                           std::to_string(start.start.size()));
    } else if (const std::string outside = startFileBoxProblem(data, path, model, false);
               !outside.empty()) {
        problems.push_back(outside);
    }
    if (model.objective == nullptr) {
        problems.push_back("model " + std::to_string(model.number) +
                           " is not available in this build");
    }
}

std::string currentDirectory() {
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) {
        return "";
    }
    std::string dir = cwd;
    std::free(cwd);
    return dir;
}

// The binary running now, so that the jobs run the very program that checked their inputs.
std::string ownBinary() {
    char path[PATH_MAX + 1];
    const ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : "";
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        items.push_back(item);
    }
    return items;
}

struct Plan {
    std::string script;
    std::vector<std::string> problems;
};

// `loci`: those of --loci, each fitted in its own directory; empty for one fit per model and seed.
Plan planFitArray(const DataContext& data, const SlurmArguments& a, const ScriptPlace& place,
                  const std::vector<std::string>& loci) {
    Plan plan;
    for (int number : a.models) {
        checkStartFile(data, *findModel(number), plan.problems);
    }
    checkBorders(data, a.models, plan.problems);
    std::vector<FitTask> tasks;
    std::vector<std::string> outputs;
    const std::vector<std::string> each = loci.empty() ? std::vector<std::string>{""} : loci;
    for (const std::string& locus : each) {
        const std::string folder = locus.empty() ? "" : locusDirectory(locus) + "/";
        // Longer names than a directory entry can hold would fail every task of the locus.
        if (folder.size() > 256) {
            plan.problems.push_back("locus '" + locus + "': its directory name " +
                                    folder.substr(0, folder.size() - 1) +
                                    " is longer than 255 bytes");
        }
        for (const FitDescription& job : planFits(a.models, a.seeds)) {
            tasks.push_back({job.model, job.seed.value_or(1), folder + job.files.result, locus});
            outputs.push_back(folder + job.files.result);
            outputs.push_back(folder + job.files.result + ".json");
        }
        outputs.push_back(folder + "compare.tsv");
        outputs.push_back(folder + "compare.json");
    }
    checkNotThere(outputs, a.redo, plan.problems);
    plan.script = fitArrayScript(tasks, a.request, place);
    return plan;
}

Plan planProfileArray(const DataContext& data, const SlurmArguments& a, const ScriptPlace& place) {
    Plan plan;
    const ModelEntry& model = *findModel(a.models.front());
    ProfileJob job;
    job.model = model.number;
    job.result = a.result.empty() ? model.prefix : a.result;
    job.options = a.profileOptions;
    if (a.parameters.empty()) {
        for (int j = 0; j < model.parameterCount; j++) {
            job.parameters.push_back(model.parameters[j].name);
        }
    } else {
        for (const std::string& name : splitList(a.parameters)) {
            if (findParameter(model, name) < 0) {
                plan.problems.push_back("model " + std::to_string(model.number) +
                                        " has no parameter '" + name + "'");
            }
            job.parameters.push_back(name);
        }
    }
    StoredResult stored;
    std::string error;
    if (!readResultFile(job.result, model, stored, error)) {
        plan.problems.push_back(error);
    } else if (const std::string outside =
                   startBoxProblem(data, job.result, model, stored.point, profileBoxAdvice(model));
               !outside.empty()) {
        plan.problems.push_back(outside);
    }
    checkBorders(data, a.models, plan.problems);
    job.table = "profile-" + job.result + ".txt";
    job.tsv = "profile-" + job.result + ".tsv";
    std::vector<ProfileTask> tasks;
    std::vector<std::string> outputs;
    for (const std::string& parameter : job.parameters) {
        for (int side : {-1, +1}) {
            const std::string part = profilePartName(job.result, parameter, side);
            tasks.push_back(
                {parameter, side < 0 ? "lower" : "upper", part.substr(0, part.size() - 4)});
            outputs.push_back(part);
        }
    }
    outputs.push_back(job.table);
    outputs.push_back(job.tsv);
    checkNotThere(outputs, a.redo, plan.problems);
    plan.script = profileArrayScript(tasks, job, a.request, place);
    return plan;
}

Plan planExploreArray(const DataContext& data, const SlurmArguments& a, const ScriptPlace& place) {
    Plan plan;
    const ModelEntry& model = *findModel(a.models.front());
    if (model.objective == nullptr) {
        plan.problems.push_back("model " + std::to_string(model.number) +
                                " is not available in this build");
    }
    // The user's start vector is optional, but one that is there must be whole.
    const std::string startName = startFileName(std::to_string(model.number).c_str());
    StartVector user;
    if (exists(startName) && (readStartFile(startName, user) != StartFileStatus::ok ||
                              user.start.size() < static_cast<std::size_t>(model.parameterCount))) {
        plan.problems.push_back(startName + " holds no start vector of " +
                                std::to_string(model.parameterCount) + " values with its steps");
    }
    checkBorders(data, a.models, plan.problems);
    ExploreJob job;
    job.model = model.number;
    job.prefix = model.prefix;
    job.options = {"--starts", std::to_string(a.starts), "--seed", std::to_string(a.seed.front()),
                   "--budget", std::to_string(a.budget)};
    for (const std::string& region : a.regions) {
        job.options.insert(job.options.end(), {"--region", region});
    }
    job.blocks = a.blocks;
    std::vector<std::string> outputs;
    for (int k = 1; k <= a.blocks; k++) {
        outputs.push_back(explorePartName(job.prefix, k, a.blocks));
    }
    outputs.push_back(job.prefix + ".explore.json");
    outputs.push_back(job.prefix + ".explore.svg");
    for (int rank = 1; rank <= a.best; rank++) {
        outputs.push_back(optimumFitName(model, rank, std::nullopt) + ".start");
        for (std::uint64_t seed : a.seeds) {
            const std::string name = optimumFitName(
                model, rank, a.seeds.size() > 1 ? seed : std::optional<std::uint64_t>());
            job.fits.push_back({rank, seed, name});
            outputs.push_back(name);
            outputs.push_back(name + ".json");
        }
    }
    outputs.push_back("compare.tsv");
    outputs.push_back("compare.json");
    checkNotThere(outputs, a.redo, plan.problems);
    plan.script = exploreArrayScript(job, a.request, place);
    return plan;
}

// Submits the four jobs of a search by the script's own "submit", and prints their ids.
int submitExplore(const RunContext& ctx, const std::string& script) {
    const std::string path = script[0] == '/' ? script : currentDirectory() + "/" + script;
    std::string out;
    const int status = runCaptured("bash", {path, "submit"}, out);
    *ctx.out << out << std::flush;
    if (status != 0) {
        *ctx.err << "zonetool slurm: bash " << script << " submit failed (exit status " << status
                 << ")\n";
        return 1;
    }
    return 0;
}

int submit(const RunContext& ctx, const std::string& script, bool profile) {
    const std::string path = script[0] == '/' ? script : currentDirectory() + "/" + script;
    std::string out;
    int status = runCaptured("sbatch", {"--parsable", path}, out);
    const std::string array = parsableJobId(out);
    if (status != 0 || array.empty()) {
        *ctx.err << "zonetool slurm: sbatch did not submit " << script
                 << (status < 0 ? ": cannot run sbatch: " + std::string(std::strerror(errno))
                                : " (exit status " + std::to_string(status) + ")")
                 << "\n";
        return 1;
    }
    *ctx.out << "array job " << array << "\n" << std::flush;
    const std::string jobName = profile ? "zonefit-profile-collect" : "zonefit-collect";
    status = runCaptured("sbatch",
                         {"--parsable", "--dependency=afterany:" + array, "--array=0",
                          "--job-name=" + jobName, path, "collect"},
                         out);
    const std::string collect = parsableJobId(out);
    if (status != 0 || collect.empty()) {
        *ctx.err << "zonetool slurm: sbatch did not submit the collecting job (exit status "
                 << status << "); submit it with: sbatch --dependency=afterany:" << array
                 << " --array=0 " << script << " collect\n";
        return 1;
    }
    *ctx.out << "collecting job " << collect << "\n" << std::flush;
    return 0;
}

} // namespace

int runCaptured(const std::string& program, const std::vector<std::string>& arguments,
                std::string& out) {
    out.clear();
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(&word[0]);
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    const int failed =
        posix_spawnp(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (failed != 0) {
        close(pipeEnds[0]);
        errno = failed;
        return -1;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
        if (got > 0) {
            out.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    close(pipeEnds[0]);
    int raw = 0;
    while (waitpid(child, &raw, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

std::string parsableJobId(const std::string& printed) {
    std::string id = printed.substr(0, printed.find_first_of(";\n"));
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
        return "";
    }
    return id;
}

bool scriptPlaceOf(const DataContext& data, ScriptPlace& place) {
    place.directory = currentDirectory();
    place.zonetool = ownBinary();
    place.dataArguments.clear();
    if (!data.path.empty()) {
        place.dataArguments = {"--data",
                               data.path[0] == '/' ? data.path : place.directory + "/" + data.path};
    }
    for (const std::string& box : data.boxOptions) {
        place.dataArguments.insert(place.dataArguments.end(), {"--box", box});
    }
    if (!data.locus.empty()) {
        place.dataArguments.insert(place.dataArguments.end(), {"--locus", data.locus});
    }
    return !place.directory.empty() && !place.zonetool.empty();
}

int slurmCommand(RunContext& ctx, const std::vector<std::string>& args) {
    SlurmArguments a;
    const int status = readArguments(ctx, args, a);
    if (status >= 0) {
        return status;
    }
    OutputLocks locks;
    if (!lockOutputs(*ctx.err, ctx.data.commandLine, locks, "slurm", {a.script})) {
        return 1;
    }
    ScriptPlace place;
    const bool placeFound = scriptPlaceOf(ctx.data, place);
    place.redo = a.redo;
    if (a.objectiveGiven) {
        place.dataArguments.insert(place.dataArguments.end(),
                                   {"--objective", objectiveName(a.objective)});
    }
    if (!placeFound) {
        *ctx.err << "zonetool slurm: cannot find the working directory or this program: "
                 << std::strerror(errno) << "\n";
        return 1;
    }
    const std::vector<std::string>& loci = ctx.data.loci;
    if (!loci.empty() && (a.profile || a.explore)) {
        return usageError(*ctx.err, "slurm",
                          std::string("--loci works with arrays of fits, not with ") +
                              (a.profile ? "--profile" : "--explore") + "; give --locus NAME");
    }
    if (a.models.size() * a.seeds.size() * loci.size() > maxTasks) {
        return usageError(*ctx.err, "slurm", "more than " + std::to_string(maxTasks) + " tasks");
    }
    Plan plan = a.profile   ? planProfileArray(ctx.data, a, place)
                : a.explore ? planExploreArray(ctx.data, a, place)
                            : planFitArray(ctx.data, a, place, loci);
    if (access(".", W_OK | X_OK) != 0) {
        plan.problems.push_back("cannot create files in the working directory " + place.directory +
                                ": " + std::strerror(errno));
    }
    if (!a.script.empty()) {
        checkNotThere({a.script}, a.redo, plan.problems);
    }
    if (!plan.problems.empty()) {
        for (const std::string& problem : plan.problems) {
            *ctx.err << "zonetool slurm: " << problem << "\n";
        }
        *ctx.err << "zonetool slurm: nothing written\n";
        return 1;
    }
    if (a.script.empty()) {
        *ctx.out << plan.script << std::flush;
        return 0;
    }
    std::string error;
    if (!writeResultFile(a.script, plan.script, error, nullptr,
                         a.redo ? ExistingFile::replace : ExistingFile::keep)) {
        *ctx.err << "zonetool slurm: " << error << "\n";
        return 1;
    }
    // Executable, so that "./SCRIPT submit" works too; sbatch itself needs no mode.
    chmod(a.script.c_str(), 0755);
    *ctx.err << "zonetool slurm: wrote " << a.script << "\n";
    if (!a.submit) {
        return 0;
    }
    return a.explore ? submitExplore(ctx, a.script) : submit(ctx, a.script, a.profile);
}

OptionParser::ValueSetter storeSlurmName(std::string& target, bool partition) {
    return [&target, partition](const std::string& name, const std::string& value) -> Problem {
        if (!validSlurmName(value, partition)) {
            return name + " needs a name of letters, digits and ._-, not '" + value + "'";
        }
        target = value;
        return "";
    };
}
