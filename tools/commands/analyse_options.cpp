#include "tools/commands/analyse_options.h"
#include "tools/commands/slurm.h"

#include "tools/analysis/analyse_stages.h"
#include "tools/analysis/explore_part.h"
#include "tools/formats/cli.h"
#include "tools/formats/options.h"

const char* const analyseHelp =
    "Usage: zonetool analyse [MODELS] [--data FILE] [--jobs J] [--seed S]\n"
    "                        [--effort quick|standard|thorough] [-o DIR] [--redo] [--quiet]\n"
    "       zonetool analyse [MODELS] ... --slurm [--blocks B] [--partition P] [--time T]\n"
    "                        [--account A] [--mem M]\n"
    "\n"
    "The whole analysis of a data set: for each model of MODELS (default 1-10; a list such\n"
    "as 1,2,8 or 7-10) the multi-start search, the fit from its best optimum and the profile\n"
    "likelihood of every parameter, then the comparison of the models, the derived\n"
    "quantities with their support limits (cline centre and width, sigma_eff, F_IS per\n"
    "region, selection coefficients s = 1 - w / w_max), the figures and the report, all\n"
    "under the settled objective. Models 3 to 6 read borders.txt from the working directory.\n"
    "\n"
    "Options:\n"
    "  --effort E   quick: 8 starts of 600 evaluations, a simplex polish instead of the\n"
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
    "the fit, the profile curve and limits, the derived quantities and the figures.\n"
    "\n"
    "With --slurm nothing runs here: DIR/analyse-slurm.sh is written, a script for Slurm's\n"
    "sbatch whose 'bash DIR/analyse-slurm.sh submit' submits six dependent job arrays, each\n"
    "task running this program on the same DIR: the blocks of every model's search (B per\n"
    "model, default the smaller of 8 and the effort's starts), after them the merging of each\n"
    "model's blocks into its search record, then each model's fit, then every side of every\n"
    "parameter's profile as a task of its own, then each model's profile made whole from its\n"
    "sides (computing only what they lack: the profile again from a better point, when a side\n"
    "met one), and last the report (derived quantities, figures, report.html). A job starts\n"
    "after every task of the one before has ended, whatever its end; a task whose stage is\n"
    "done ends at once, so submitting again carries on.\n"
    "  --blocks B             blocks of each model's search\n"
    "  --partition P, --time T, --account A, --mem M, --cpus-per-task N\n"
    "                         what each task asks of Slurm, as in 'zonetool slurm'\n"
    "The tasks run 'zonetool analyse MODEL ... --task search --block K/B', '--task merge\n"
    "--blocks B', '--task fit', '--task profile --side K/S' (side K of S, S twice the model's\n"
    "parameters: the lower side of the first parameter, its upper side, then the next\n"
    "parameter's), '--task profile' and 'zonetool analyse MODELS ... --task report'; a job\n"
    "fails, saying so, when a stage before its own is not done.\n";

int readAnalyseOptions(const std::vector<std::string>& args, AnalyseOptions& o, std::ostream& out,
                       std::ostream& err) {
    bool modelsGiven = false;
    bool seedGiven = false;
    bool slurmOption = false; // any option that only --slurm reads
    std::vector<std::uint64_t> seeds{1};
    int blockOf = 0; // B of --block K/B
    int sideOf = 0;  // S of --side K/S
    const auto slurmOnly = [&slurmOption](OptionParser::ValueSetter set) {
        return [&slurmOption, set](const std::string& name, const std::string& value) -> Problem {
            slurmOption = true;
            return set(name, value);
        };
    };
    const int status =
        OptionParser(
            "analyse", [] { return std::string(analyseHelp); }, out, err)
            .value({"--jobs"}, "a number", storeWhole(o.jobs, 1, 256))
            .value({"--seed"}, "a seed", storeSeed(seeds, seedGiven))
            .value({"--effort"}, "an effort",
                   storeChoice(o.effort,
                               {{"quick", Effort::quick},
                                {"standard", Effort::standard},
                                {"thorough", Effort::thorough}},
                               "quick, standard or thorough"))
            .value({"-o", "--output"}, "a directory", storeText(o.dir))
            .flag({"--redo"}, [&o] { o.redo = true; })
            .flag({"--quiet"}, [&o] { o.quiet = true; })
            .flag({"--slurm"}, [&o] { o.slurm = true; })
            .value({"--blocks"}, "a number", storeWhole(o.blocks, 1, maxBlocks))
            .value({"--partition"}, "a name", slurmOnly(storeSlurmName(o.request.partition, true)))
            .value({"--account"}, "a name", slurmOnly(storeSlurmName(o.request.account, false)))
            .value({"--time"}, "a time limit",
                   slurmOnly([&o](const std::string& name, const std::string& value) -> Problem {
                       if (!validTime(value)) {
                           return name +
                                  " needs a time limit such as 1-00:00:00, 12:00:00 or "
                                  "90, not '" +
                                  value + "'";
                       }
                       o.request.time = value;
                       return "";
                   }))
            .value({"--mem"}, "a size",
                   slurmOnly([&o](const std::string& name, const std::string& value) -> Problem {
                       if (!validMemory(value)) {
                           return name + " needs a size such as 500M or 2G, not '" + value + "'";
                       }
                       o.request.memory = value;
                       return "";
                   }))
            .value({"--cpus-per-task"}, "a number",
                   slurmOnly(storeWhole(o.request.cpusPerTask, 1, 1024)))
            .value({"--task"}, "a task",
                   storeChoice(o.task,
                               {{"search", AnalyseTask::search},
                                {"merge", AnalyseTask::merge},
                                {"fit", AnalyseTask::fit},
                                {"profile", AnalyseTask::profile},
                                {"report", AnalyseTask::report}},
                               "search, merge, fit, profile or report"))
            .value({"--block"}, "K/B",
                   [&o, &blockOf](const std::string& name, const std::string& value) -> Problem {
                       return parseBlock(value, o.block, blockOf)
                                  ? ""
                                  : name + " needs K/B, block K of B, 1 <= K <= B <= " +
                                        std::to_string(maxBlocks) + ", not '" + value + "'";
                   })
            .value({"--side"}, "K/S",
                   [&o, &sideOf](const std::string& name, const std::string& value) -> Problem {
                       return parseBlock(value, o.side, sideOf)
                                  ? ""
                                  : name + " needs K/S, side K of S, 1 <= K <= S, not '" + value +
                                        "'";
                   })
            .positional([&o, &modelsGiven](const std::string& argument) -> Problem {
                if (modelsGiven) {
                    return "unexpected argument '" + argument + "'";
                }
                o.modelText = argument;
                modelsGiven = true;
                return "";
            })
            .check([&o]() -> Problem {
                std::string problem;
                int single = 0;
                if (parseModel(o.modelText, single)) {
                    o.models = {single};
                    return "";
                }
                return parseModelList(o.modelText, o.models, problem) ? "" : problem;
            })
            .check([&o]() -> Problem { return o.dir.empty() ? "-o needs a directory" : ""; })
            .check([&]() -> Problem {
                if (slurmOption && !o.slurm) {
                    return "--partition, --time, --account, --mem and --cpus-per-task need "
                           "--slurm";
                }
                if (o.slurm && o.task != AnalyseTask::none) {
                    return "give either --slurm or --task, not both";
                }
                if (o.slurm && o.redo) {
                    return "--redo does not go with --slurm: name another directory with -o";
                }
                if (o.task != AnalyseTask::none && o.task != AnalyseTask::report &&
                    o.models.size() != 1) {
                    return "--task runs the stages of one model, not of " +
                           std::to_string(o.models.size());
                }
                if ((o.task == AnalyseTask::search) != (o.block > 0)) {
                    return "--task search goes with --block K/B, and --block with it";
                }
                if (o.task == AnalyseTask::search) {
                    o.blocks = blockOf;
                }
                if (o.side > 0 && o.task != AnalyseTask::profile) {
                    return "--side goes with --task profile";
                }
                if (o.side > 0 && !o.models.empty() &&
                    sideOf != 2 * modelParameterCount(o.models.front())) {
                    const int k = modelParameterCount(o.models.front());
                    return "--side needs S = " + std::to_string(2 * k) + " for model " +
                           std::to_string(o.models.front()) + ", two sides of each of its " +
                           std::to_string(k) + " parameters, not " + std::to_string(sideOf);
                }
                if (o.task == AnalyseTask::merge && o.blocks == 0) {
                    return "--task merge needs --blocks B, the number of blocks";
                }
                if (o.blocks > 0 && !o.slurm && o.task != AnalyseTask::search &&
                    o.task != AnalyseTask::merge) {
                    return "--blocks goes with --slurm or --task merge";
                }
                return "";
            })
            .parse(args);
    o.seed = seeds.front();
    return status;
}

std::vector<std::string> analyseArguments(const AnalyseOptions& o) {
    return {o.modelText, "--effort", effortName(o.effort), "--seed", std::to_string(o.seed),
            "-o",        o.dir};
}
