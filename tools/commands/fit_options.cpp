#include "tools/commands/fit_options.h"

#include "tools/formats/cli.h"
#include "tools/formats/options.h"

const char* const fitHelp =
    "Usage: zonetool fit MODELS [--seed S | --seeds LIST] [--jobs J] [--start FILE]\n"
    "                           [--trace FILE] [--quiet] [--redo] [--result NAME]\n"
    "                           [--checkpoint FILE | --checkpoints] [--requeue]\n"
    "                           [--objective settled|zonefit]\n"
    "\n"
    "One model and at most one seed: runs exactly the schedule and output of 'zonefit MODEL'\n"
    "in the working directory - the same reports on standard output, the same result file.\n"
    "\n"
    "Several models or seeds (MODELS as in 1-10 or 1,3,7; LIST as in 1-3 or 5,9): runs the\n"
    "fits at once on J worker threads. Each fit reads startvecN.txt, writes its result file -\n"
    "the model's own name (SS1_ML_ for model 1), followed by 'seed' and the seed when several\n"
    "seeds are given (SS1_ML_seed3) - and writes its seed ('seed: 3', or 'seed: clock'),\n"
    "banner, reports, messages and the models' diagnostics into a log file named after the\n"
    "result file with '.log' added. An existing result file or log of the same name is\n"
    "never overwritten without --redo.\n"
    "A summary table follows on standard output. Every fit is bit for bit the one that runs\n"
    "alone.\n"
    "\n"
    "Before the first fit starts, every input is checked and each problem named: the start\n"
    "file of every model (for several fits also its rows and length), borders.txt when a\n"
    "model 3 to 6 is named, that every directory receiving a result, log, record,\n"
    "checkpoint or trace takes new files, and that every start vector lies inside the boxes\n"
    "in force. A missing start or border file is named with the working directory and the\n"
    "example shipped in the sources' examples/ directory. Should\n"
    "borders.txt turn bad during a run of several, each fit that reads it stops with the\n"
    "message in its log (status failed(1) in the summary) and the other fits go on.\n"
    "\n"
    "While it runs, a fit holds RESULT.lock beside its result (and FILE.lock beside a\n"
    "--checkpoint or --trace FILE): a second run of the same names, from another terminal or\n"
    "batch job, is refused at once with a message naming the first. A lock left by a run that\n"
    "has ended (killed, crashed, or an earlier run of a requeued Slurm job) is taken over with\n"
    "a warning. A result file that appears while the fit runs is not replaced without --redo:\n"
    "the fit's result is kept in RESULT.new-PID instead, and the fit fails.\n"
    "\n"
    "On a terminal, standard error shows a live progress line: stage, cycle and anneal call\n"
    "(of the last finished call), temperature, evaluations, best value so far, elapsed time.\n"
    "\n"
    "Options:\n"
    "  --seed S       seed every annealer's generator with S (0 to 2^64-1) instead of the\n"
    "                 clock, so that the fit can be repeated bit for bit\n"
    "  --seeds LIST   one fit per seed and model\n"
    "  --jobs J       worker threads for several fits (default 1)\n"
    "  --start FILE   read the start vector and step sizes from FILE instead of\n"
    "                 startvecMODEL.txt (one model only)\n"
    "  --trace FILE   write one tab-separated line per anneal call: stage, cycle, call,\n"
    "                 temperature, evaluations, converged (0/1), best value, then the best\n"
    "                 point's coordinates (one fit only)\n"
    "  --quiet        no progress line\n"
    "  --redo         overwrite the result files and logs of earlier fits of the same name;\n"
    "                 without it the fit refuses to start when any of them exists\n"
    "  --result NAME  name of the result file instead of the model's prefix (one fit only);\n"
    "                 the record is NAME.json, the log NAME.log\n"
    "  --checkpoint FILE\n"
    "                 save the whole state of the fit to FILE after every anneal call and\n"
    "                 resume from FILE when it exists; banner and reports go to RESULT.log.\n"
    "                 SIGINT, SIGTERM, SIGHUP or SIGUSR1 stop the fit with the checkpoint\n"
    "                 kept and exit status 75 (stopped, resumable); the same command resumes\n"
    "                 it, and the resumed fit writes exactly what an uninterrupted one would\n"
    "  --checkpoints  the same for several fits: each saves to its result name followed by\n"
    "                 '.ckpt' (SS1_ML_seed3.ckpt); a stop signal stops them all\n"
    "  --requeue      with --checkpoint(s), when stopped that way under Slurm: run\n"
    "                 'scontrol requeue' for the job before exiting\n"
    "  --objective K  zonefit (default): the value zonefit minimises, so that the fit is\n"
    "                 zonefit's bit for bit; settled: the value of the state the row settles\n"
    "                 in (an unsettled point is a penalty). Records and checkpoints say\n"
    "                 which; a checkpoint of the other objective is refused\n"
    "\n"
    "Every finished fit also writes its record, RESULT.json: the best point and value at full\n"
    "precision, seed, evaluations, start vector and steps, times, version, command line and\n"
    "objective. A fit whose best value is a penalty (no point simulated inside the box, or\n"
    "every simulation failed) writes neither and fails with status 1.\n"
    "\n"
    "Exit status: 0 done, 1 failure, 2 bad arguments, 75 stopped, resumable.\n"
    "When standard error is not a terminal, a plain progress line is written to it after\n"
    "every anneal call and at least once a minute (not with --quiet).\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length. A\n"
    "                 model without startvecN.txt here then starts from the start that\n"
    "                 'zonetool start N --data FILE' derives from the data, and says so\n"
    "  --locus NAME   fit locus NAME of a --data file with a locus column (one row per site\n"
    "                 and locus); such a file with several loci needs it. The record names\n"
    "                 the locus\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n";

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

namespace {

// Stores a file name; an empty one is refused like a missing one.
OptionParser::ValueSetter storeNonEmpty(std::string& target) {
    return [&target](const std::string& name, const std::string& value) -> Problem {
        if (value.empty()) {
            return name + " needs a file name";
        }
        target = value;
        return "";
    };
}

} // namespace

namespace {

// The help of both forms.
std::string wholeHelp() {
    return std::string(fitHelp) + "\n" + fitFromHelp;
}

// The plain fits: one, or models times seeds.
int readPlainOptions(const std::vector<std::string>& args, FitOptions& o, std::ostream& out,
                     std::ostream& err) {
    constexpr std::size_t maxSeeds = 10000;
    return OptionParser("fit", wholeHelp, out, err)
        .value({"--seed"}, "a value", storeSeed(o.seeds, o.seedGiven))
        .value({"--seeds"}, "a value", storeSeedList(o.seeds, maxSeeds, o.seedsGiven))
        .value({"--jobs"}, "a value", storeWhole(o.jobs, 1, 256))
        .value({"--start"}, "a value", storeText(o.startPath))
        .value({"--trace"}, "a value", storeText(o.tracePath))
        .flag({"--quiet"}, [&o] { o.quiet = true; })
        .flag({"--redo"}, [&o] { o.redo = true; })
        .flag({"--checkpoints"}, [&o] { o.checkpoints = true; })
        .flag({"--requeue"}, [&o] { o.requeue = true; })
        .value({"--result"}, "a value", storeNonEmpty(o.resultName))
        .value({"--checkpoint"}, "a value", storeNonEmpty(o.checkpointPath))
        .value({"--objective"}, "a value", storeObjective(o.objective))
        .positional(takeOne(o.modelText))
        .check([&o]() -> Problem {
            return o.seedGiven && o.seedsGiven ? "give either --seed or --seeds, not both" : "";
        })
        .check([&o]() -> Problem {
            if (o.modelText.empty()) {
                return "missing MODEL";
            }
            int single = 0;
            std::string problem;
            if (parseModel(o.modelText, single)) {
                o.models = {single};
            } else if (o.modelText.find_first_of(",-") == std::string::npos) {
                return notAModel(o.modelText);
            } else if (!parseModelList(o.modelText, o.models, problem)) {
                return problem;
            }
            return "";
        })
        .check([&o]() -> Problem {
            return o.several() && !o.startPath.empty()
                       ? "--start works with one model and one seed only"
                       : "";
        })
        .check([&o]() -> Problem {
            return o.several() && !o.tracePath.empty()
                       ? "--trace works with one model and one seed only"
                       : "";
        })
        .check([&o]() -> Problem {
            if (o.several() && !o.resultName.empty()) {
                return "--result works with one model and one seed only";
            }
            if (o.several() && !o.checkpointPath.empty()) {
                return "--checkpoint works with one model and one seed only";
            }
            if (!o.several() && o.checkpoints) {
                return "--checkpoints is for several fits; give one fit --checkpoint FILE";
            }
            if (o.requeue && o.checkpointPath.empty() && !o.checkpoints) {
                return "--requeue needs --checkpoint or --checkpoints";
            }
            return "";
        })
        .parse(args);
}

// The fits from explored optima: MODEL --from RECORD, with --best K or --optimum I.
int readFromOptions(const std::vector<std::string>& args, FitOptions& o, std::ostream& out,
                    std::ostream& err) {
    // --result, --checkpoint and --trace name the files of the one fit of --optimum.
    bool fitFileGiven = false;
    auto storeFitFile = [&o, &fitFileGiven](const std::string& name,
                                            const std::string& value) -> Problem {
        fitFileGiven = true;
        return storeNonEmpty(name == "--result"       ? o.resultName
                             : name == "--checkpoint" ? o.checkpointPath
                                                      : o.tracePath)(name, value);
    };
    int model = 0;
    return OptionParser("fit", wholeHelp, out, err)
        .unknownOption([](const std::string& arg) -> Problem {
            return "'" + arg + "' does not go with --from";
        })
        .flag({"--quiet"}, [&o] { o.quiet = true; })
        .flag({"--redo"}, [&o] { o.redo = true; })
        .value({"--from"}, "a value", storeText(o.recordPath))
        .value({"--best"}, "a value",
               [&o](const std::string& name, const std::string& value) -> Problem {
                   o.bestGiven = true;
                   return storeWhole(o.best, 1, 1000)(name, value);
               })
        .value({"--optimum"}, "a value", storeWhole(o.optimum, 1, 1000))
        .value({"--result", "--checkpoint", "--trace"}, "a value", storeFitFile)
        .flag({"--requeue"}, [&o] { o.requeue = true; })
        .value({"--objective"}, "a value",
               [&o](const std::string& name, const std::string& value) -> Problem {
                   o.objectiveGiven = true;
                   return storeObjective(o.objective)(name, value);
               })
        .value({"--seed"}, "a value", storeSeed(o.seeds, o.seedGiven))
        .value({"--seeds"}, "a value", storeSeedList(o.seeds, 10000, o.seedsGiven))
        .value({"--jobs"}, "a value", storeWhole(o.jobs, 1, 256))
        .positional([&o](const std::string& arg) -> Problem {
            if (!o.modelText.empty()) {
                return "--from takes one MODEL, not also '" + arg + "'";
            }
            o.modelText = arg;
            return "";
        })
        .check([&o]() -> Problem {
            return o.seedGiven && o.seedsGiven ? "give either --seed or --seeds, not both" : "";
        })
        .check(requireModel(o.modelText, model))
        .check([&o, &model]() -> Problem {
            o.models = {model};
            return "";
        })
        .check([&o, &fitFileGiven]() -> Problem {
            if (o.optimum == 0) {
                return !fitFileGiven && !o.requeue
                           ? ""
                           : "--result, --checkpoint, --trace and --requeue need --optimum I";
            }
            if (o.bestGiven) {
                return "give either --best or --optimum, not both";
            }
            if (o.seeds.size() > 1) {
                return "--optimum runs one fit: give one --seed, not --seeds";
            }
            return o.requeue && o.checkpointPath.empty()
                       ? "--requeue needs --checkpoint or --checkpoints"
                       : "";
        })
        .parse(args);
}

} // namespace

int readFitOptions(const std::vector<std::string>& args, FitOptions& options, std::ostream& out,
                   std::ostream& err) {
    for (const std::string& arg : args) {
        if (arg == "--from") {
            options.from = true;
        }
    }
    return options.from ? readFromOptions(args, options, out, err)
                        : readPlainOptions(args, options, out, err);
}
