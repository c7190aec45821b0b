#include "tools/formats/slurm_script.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

std::string bashQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string locusDirectory(const std::string& locus) {
    static const char hex[] = "0123456789ABCDEF";
    std::string directory = "locus-";
    for (char c : locus) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 && byte < 128) {
            directory += c;
        } else if (c == '.' || c == '_' || c == '-') {
            directory += c;
        } else {
            directory += '%';
            directory += hex[byte >> 4];
            directory += hex[byte & 15];
        }
    }
    return directory;
}

namespace {

bool allDigits(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        parts.push_back(part);
    }
    if (!text.empty() && text.back() == separator) {
        parts.push_back("");
    }
    return parts;
}

} // namespace

bool validTime(const std::string& text) {
    std::string clock = text;
    const std::size_t dash = text.find('-');
    if (dash != std::string::npos) {
        if (!allDigits(text.substr(0, dash))) {
            return false;
        }
        clock = text.substr(dash + 1);
    }
    const std::vector<std::string> fields = split(clock, ':');
    if (fields.empty() || fields.size() > 3) {
        return false;
    }
    for (const std::string& field : fields) {
        if (!allDigits(field)) {
            return false;
        }
    }
    return true;
}

namespace {

// A field of a time limit, held below a billion so that the sums cannot overflow.
long field(const std::string& digits) {
    return std::min(std::strtol(digits.c_str(), nullptr, 10), 1000000000L);
}

} // namespace

long timeSeconds(const std::string& text) {
    long days = 0;
    std::string clock = text;
    const std::size_t dash = text.find('-');
    if (dash != std::string::npos) {
        days = field(text.substr(0, dash));
        clock = text.substr(dash + 1);
    }
    std::vector<long> fields;
    for (const std::string& digits : split(clock, ':')) {
        fields.push_back(field(digits));
    }
    // Slurm reads M, M:S and H:M:S alone, but D-H, D-H:M and D-H:M:S after a day count.
    long seconds = 0;
    if (dash != std::string::npos) {
        const long units[3] = {3600, 60, 1};
        for (std::size_t i = 0; i < fields.size(); i++) {
            seconds += fields[i] * units[i];
        }
    } else if (fields.size() == 3) {
        seconds = fields[0] * 3600 + fields[1] * 60 + fields[2];
    } else {
        seconds = fields[0] * 60 + (fields.size() == 2 ? fields[1] : 0);
    }
    return days * 86400 + seconds;
}

bool validSlurmName(const std::string& text, bool listAllowed) {
    if (text.empty()) {
        return false;
    }
    for (const std::string& name : split(text, ',')) {
        if (name.empty() || (!listAllowed && name.size() != text.size())) {
            return false;
        }
        for (char c : name) {
            if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '.' && c != '_' &&
                c != '-') {
                return false;
            }
        }
    }
    return true;
}

bool validMemory(const std::string& text) {
    std::string digits = text;
    if (!text.empty() && std::string("KMGT").find(text.back()) != std::string::npos) {
        digits.pop_back();
    }
    return allDigits(digits);
}

namespace {

// The #SBATCH lines shared by both kinds of script. Slurm reads them without a shell, so only
// checked names and numbers go into them; the directory is entered by the script's body.
std::string header(const std::string& comment, const std::string& jobName, std::size_t tasks,
                   const SlurmRequest& request, bool signal) {
    std::ostringstream out;
    out << "#!/bin/bash\n" << comment;
    out << "#SBATCH --job-name=" << jobName << "\n"
        << "#SBATCH --array=0-" << tasks - 1 << "\n"
        << "#SBATCH --ntasks=1\n"
        << "#SBATCH --cpus-per-task=" << request.cpusPerTask << "\n";
    if (!request.time.empty()) {
        out << "#SBATCH --time=" << request.time << "\n";
    }
    if (!request.partition.empty()) {
        out << "#SBATCH --partition=" << request.partition << "\n";
    }
    if (!request.account.empty()) {
        out << "#SBATCH --account=" << request.account << "\n";
    }
    if (!request.memory.empty()) {
        out << "#SBATCH --mem=" << request.memory << "\n";
    }
    out << "#SBATCH --requeue\n"
        << "#SBATCH --open-mode=append\n";
    if (signal) {
        out << "#SBATCH --signal=B:USR1@" << request.signalLead << "\n";
    }
    // Only what the shell says before the task's own files are open lands here.
    out << "#SBATCH --output=" << jobName << "-%A_%a.slurm\n\n";
    return out.str();
}

// One job that "submit" hands to sbatch: the script with the argument `mode` and `options`
// before it (checked text only), its id kept in the shell variable `variable`.
struct Submission {
    std::string variable;
    std::string options;
    std::string mode;
    std::string what; // as in "collecting job"
};

// The variables every mode uses, then the "submit" mode: each job in turn, the later ones
// waiting for earlier ones as their options say, and their ids printed.
std::string placeAndSubmit(const ScriptPlace& place, const std::vector<Submission>& jobs) {
    std::ostringstream out;
    out << "dir=" << bashQuote(place.directory) << "\n"
        << "zonetool=" << bashQuote(place.zonetool) << "\n\n"
        << "case ${1-} in\n"
        << "submit)\n"
        << "    if [ -n \"${SLURM_JOB_ID-}\" ]; then\n"
        << "        echo \"$0: 'submit' is for the login node, not for a job\" >&2\n"
        << "        exit 2\n"
        << "    fi\n"
        << "    case $0 in\n"
        << "    /*) script=$0 ;;\n"
        << "    *) script=$PWD/$0 ;;\n"
        << "    esac\n"
        << "    cd -- \"$dir\" || exit 1\n";
    std::string submitted;
    for (const Submission& job : jobs) {
        out << "    " << job.variable << "=$(sbatch --parsable "
            << (job.options.empty() ? "" : job.options + " ") << "\"$script\""
            << (job.mode.empty() ? "" : " " + job.mode) << ")";
        if (submitted.empty()) {
            out << " || exit 1\n";
        } else {
            out << " || {\n"
                << "        echo \"$0: " << submitted << " submitted, but not its " << job.what
                << "\" >&2\n"
                << "        exit 1\n"
                << "    }\n";
        }
        out << "    " << job.variable << "=${" << job.variable << "%%;*}\n";
        submitted += (submitted.empty() ? "" : ", ") + job.what + " $" + job.variable;
    }
    for (const Submission& job : jobs) {
        out << "    echo \"" << job.what << " $" << job.variable << "\"\n";
    }
    out << "    exit 0\n"
        << "    ;;\n";
    return out.str();
}

// An array and, after every task of it whatever their end (afterok would wait for ever after
// one failure), its collecting job.
std::vector<Submission> arrayAndCollect(const std::string& jobName) {
    return {{"array", "", "", "array job"},
            {"collect",
             "--dependency=\"afterany:$array\" --array=0 --job-name=" + jobName + "-collect",
             "collect", "collecting job"}};
}

// The end of the script's modes: no argument goes on below (the first array's tasks), any
// other is refused, naming the `modes` there are.
std::string endModes(const std::string& modes) {
    return "'') ;;\n"
           "*)\n"
           "    echo \"$0: unknown argument '$1' (give " +
           modes +
           " or nothing)\" >&2\n"
           "    exit 2\n"
           "    ;;\n"
           "esac\n\n";
}

// Runs `command` (which writes to standard output) into each target file by way of a
// temporary file, flushed to disk and renamed, so that a reader never sees half a table.
std::string collectMode(const std::vector<std::pair<std::string, std::string>>& outputs,
                        const std::string& modes = "submit, collect") {
    std::ostringstream out;
    out << "collect)\n"
        << "    cd -- \"$dir\" || exit 1\n"
        << "    status=0\n";
    for (const auto& [command, target] : outputs) {
        out << "    temporary=" << bashQuote(target) << ".tmp$$\n"
            << "    if " << command << " >\"$temporary\" && sync -- \"$temporary\" &&\n"
            << "        mv -f -- \"$temporary\" " << bashQuote(target) << "; then\n"
            << "        echo \"wrote " << target << "\"\n"
            << "    else\n"
            << "        status=1\n"
            << "        rm -f -- \"$temporary\"\n"
            << "    fi\n";
    }
    out << "    exit \"$status\"\n"
        << "    ;;\n"
        << endModes(modes);
    return out.str();
}

// The table from SLURM_ARRAY_TASK_ID to the task's variables; anything else is refused.
std::string taskTable(const std::vector<std::string>& rows) {
    std::ostringstream out;
    out << "task=${SLURM_ARRAY_TASK_ID-}\n"
        << "case $task in\n";
    for (std::size_t i = 0; i < rows.size(); i++) {
        out << i << ") " << rows[i] << " ;;\n";
    }
    out << "*)\n"
        << "    echo \"$0: no task '$task' in this script; submit it with 'bash $0 submit'\" "
           ">&2\n"
        << "    exit 2\n"
        << "    ;;\n"
        << "esac\n";
    return out.str();
}

// The data words of every call that evaluates a model, each quoted, each after a blank.
std::string dataWords(const ScriptPlace& place) {
    std::string words;
    for (const std::string& word : place.dataArguments) {
        words += " " + bashQuote(word);
    }
    return words;
}

// The collecting job's comparison of every result in the directory, as a table and as JSON.
std::vector<std::pair<std::string, std::string>> compareOutputs(const ScriptPlace& place) {
    const std::string compare = "\"$zonetool\" compare . --all --format ";
    return {{compare + "tsv" + dataWords(place), "compare.tsv"},
            {compare + "json" + dataWords(place), "compare.json"}};
}

// Enters the directory (and makes the task's $folder, when it has one) and sends everything
// after to the task's own files.
std::string enterTask(const std::string& what, bool folder = false) {
    return "cd -- \"$dir\" || exit 1\n" +
           std::string(folder ? "mkdir -p -- \"$folder\" || exit 1\n" : "") +
           "exec >>\"$name.out\" 2>>\"$name.err\" || exit 1\n"
           "echo \"task $task of job ${SLURM_ARRAY_JOB_ID-?} (job ${SLURM_JOB_ID-?}, restarts "
           "${SLURM_RESTART_COUNT:-0}) on ${SLURMD_NODENAME-?}: " +
           what + "\" >&2\n";
}

// Ends the task at once, with status 0, when `file` is there; nothing with --redo.
std::string endIfThere(const ScriptPlace& place, const std::string& file,
                       const std::string& reason) {
    if (place.redo) {
        return "";
    }
    return "if [ -e \"" + file + "\" ]; then\n    echo \"" + file + " exists: " + reason +
           "\" >&2\n    exit 0\nfi\n";
}

// A fit task after its table has set seed, name and task: nothing when its result file is
// there, else `call` (the program and the fit's first words) with the seed, result name,
// checkpoint, trace and requeue.
std::string checkpointedFit(const ScriptPlace& place, const std::string& what,
                            const std::string& call, bool folder = false) {
    std::ostringstream out;
    out << enterTask(what, folder) << endIfThere(place, "$name", "this fit has finished");
    // The last task of an array shares its job id with the whole array, and requeueing that id
    // requeues every task: the fit is given the id of its own task to requeue.
    out << "SLURM_JOB_ID=${SLURM_ARRAY_JOB_ID-}_$task\n";
    // exec: the program itself is the batch shell then and receives Slurm's early signal.
    out << "exec " << call
        << " --seed \"$seed\" --result \"$name\" --checkpoint \"$name.ckpt\" \\\n"
           "    --trace \"$name.trace.tsv\" --quiet --requeue"
        << (place.redo ? " --redo" : "") << dataWords(place) << "\n";
    return out.str();
}

} // namespace

std::string fitArrayScript(const std::vector<FitTask>& tasks, const SlurmRequest& request,
                           const ScriptPlace& place) {
    const std::string comment =
        "# Written by zonetool slurm: a job array of " + std::to_string(tasks.size()) +
        (tasks.size() == 1 ? " fit" : " fits") +
        " and a job that compares their results.\n"
        "#   bash THIS_SCRIPT submit    submits both and prints their job ids\n"
        "# A task stopped at its time limit keeps its checkpoint and requeues itself; submitting\n"
        "# again resumes the fits that have no result file yet.\n";
    // Each locus once, in the order of its first task.
    std::vector<std::string> loci;
    for (const FitTask& task : tasks) {
        if (!task.locus.empty() && std::find(loci.begin(), loci.end(), task.locus) == loci.end()) {
            loci.push_back(task.locus);
        }
    }
    std::vector<std::pair<std::string, std::string>> outputs;
    if (loci.empty()) {
        outputs = compareOutputs(place);
    }
    for (const std::string& locus : loci) {
        const std::string folder = locusDirectory(locus);
        const std::string compare =
            "\"$zonetool\" compare " + bashQuote(folder) + " --all --format ";
        const std::string words = dataWords(place) + " --locus " + bashQuote(locus);
        outputs.push_back({compare + "tsv" + words, folder + "/compare.tsv"});
        outputs.push_back({compare + "json" + words, folder + "/compare.json"});
    }
    std::ostringstream out;
    out << header(comment, "zonefit", tasks.size(), request, true)
        << placeAndSubmit(place, arrayAndCollect("zonefit")) << collectMode(outputs);
    std::vector<std::string> rows;
    for (const FitTask& task : tasks) {
        rows.push_back("model=" + std::to_string(task.model) +
                       " seed=" + std::to_string(task.seed) + " name=" + bashQuote(task.name) +
                       (task.locus.empty() ? ""
                                           : " locus=" + bashQuote(task.locus) + " folder=" +
                                                 bashQuote(locusDirectory(task.locus))));
    }
    out << taskTable(rows);
    if (loci.empty()) {
        out << checkpointedFit(place, "fit of model $model, seed $seed, into $name",
                               "\"$zonetool\" fit \"$model\"");
    } else {
        out << checkpointedFit(place, "fit of model $model, seed $seed, locus $locus, into $name",
                               "\"$zonetool\" fit \"$model\" --locus \"$locus\"", true);
    }
    return out.str();
}

std::string profileArrayScript(const std::vector<ProfileTask>& tasks, const ProfileJob& job,
                               const SlurmRequest& request, const ScriptPlace& place) {
    const std::string comment =
        "# Written by zonetool slurm --profile: a job array of " + std::to_string(tasks.size()) +
        " profile sides and a job that assembles\n"
        "# their support limits.\n"
        "#   bash THIS_SCRIPT submit    submits both and prints their job ids\n"
        "# A side keeps no checkpoint: a requeued task computes its side again from the start.\n";
    std::string options;
    for (const std::string& option : job.options) {
        options += " " + bashQuote(option);
    }
    std::string list;
    for (const std::string& parameter : job.parameters) {
        list += (list.empty() ? "" : ",") + parameter;
    }
    const std::string common = "\"$zonetool\" profile " + std::to_string(job.model) + " --result " +
                               bashQuote(job.result) + options + dataWords(place);
    std::ostringstream out;
    out << header(comment, "zonefit-profile", tasks.size(), request, false)
        << placeAndSubmit(place, arrayAndCollect("zonefit-profile"))
        << collectMode({{common + " --parameters " + bashQuote(list) + " --collect", job.table},
                        {common + " --parameters " + bashQuote(list) + " --collect --format tsv",
                         job.tsv}});
    std::vector<std::string> rows;
    for (const ProfileTask& task : tasks) {
        rows.push_back("parameter=" + bashQuote(task.parameter) + " side=" + bashQuote(task.side) +
                       " name=" + bashQuote(task.name));
    }
    out << taskTable(rows) << enterTask("profile of $parameter, $side side, into $name.tsv");
    out << (place.redo ? "rm -f -- \"$name.tsv\"\n"
                       : endIfThere(place, "$name.tsv", "this side has finished"));
    out << "exec " << common
        << " --parameters \"$parameter\" --side \"$side\" --part \"$name.tsv\" --quiet\n";
    return out.str();
}

std::string exploreArrayScript(const ExploreJob& job, const SlurmRequest& request,
                               const ScriptPlace& place) {
    const std::string blocks = std::to_string(job.blocks);
    const std::string fits = std::to_string(job.fits.size());
    const std::string comment =
        "# Written by zonetool slurm --explore: a job array of " + blocks +
        " blocks of explore starts, a job that merges\n"
        "# them, a job array of " +
        fits +
        " fits from the best optima and a job that compares their results.\n"
        "#   bash THIS_SCRIPT submit    submits all four and prints their job ids\n"
        "# Submitting again resumes: blocks with a part and fits with a result end at once, a fit\n"
        "# with a checkpoint resumes from it.\n";
    const std::string record = job.prefix + ".explore";
    std::string explore = "\"$zonetool\" explore " + std::to_string(job.model);
    for (const std::string& option : job.options) {
        explore += " " + bashQuote(option);
    }
    const std::string redo = place.redo ? " --redo" : "";
    std::ostringstream out;
    out << header(comment, "zonefit-explore", job.blocks, request, false)
        << placeAndSubmit(
               place,
               {{"explore", "", "", "explore array job"},
                {"merge",
                 "--dependency=\"afterany:$explore\" --array=0 --job-name=zonefit-explore-merge",
                 "merge", "merging job"},
                {"fits",
                 "--dependency=\"afterok:$merge\" --kill-on-invalid-dep=yes --array=0-" +
                     std::to_string(job.fits.size() - 1) + " --signal=B:USR1@" +
                     std::to_string(request.signalLead) + " --job-name=zonefit-explore-fit",
                 "fit", "fit array job"},
                {"collect",
                 "--dependency=\"afterany:$fits\" --array=0 --job-name=zonefit-explore-collect",
                 "collect", "collecting job"}});
    out << "merge)\n"
        << "task=${SLURM_ARRAY_TASK_ID-}\n"
        << "name=" << bashQuote(record) << "\n"
        << enterTask("merge of the " + blocks + " parts into $name.json")
        << endIfThere(place, "$name.json", "the parts were merged") << "exec " << explore
        << " --collect --blocks " << blocks << redo << dataWords(place) << "\n;;\n"
        << "fit)\n";
    std::vector<std::string> rows;
    for (const OptimumFitTask& task : job.fits) {
        rows.push_back("optimum=" + std::to_string(task.optimum) +
                       " seed=" + std::to_string(task.seed) + " name=" + bashQuote(task.name));
    }
    out << taskTable(rows)
        << checkpointedFit(place, "fit from optimum $optimum, seed $seed, into $name",
                           "\"$zonetool\" fit " + std::to_string(job.model) + " --from " +
                               bashQuote(record + ".json") + " --optimum \"$optimum\"")
        << ";;\n"
        << collectMode(compareOutputs(place), "submit, merge, fit, collect");
    rows.clear();
    for (int k = 1; k <= job.blocks; k++) {
        rows.push_back("block=" + std::to_string(k) + " name=" +
                       bashQuote(record + ".part" + std::to_string(k) + "-of-" + blocks));
    }
    out << taskTable(rows)
        << enterTask("block $block of " + blocks + " of the starts, into $name.json")
        << endIfThere(place, "$name.json", "this block has finished") << "exec " << explore
        << " --block \"$block/" << blocks << "\"" << redo << dataWords(place) << "\n";
    return out.str();
}

std::string analyseArrayScript(const AnalyseScriptJob& job, const SlurmRequest& request,
                               const ScriptPlace& place) {
    const std::string blocks = std::to_string(job.blocks);
    const std::size_t models = job.models.size();
    const std::string comment =
        "# Written by zonetool analyse --slurm: the analysis of " + std::to_string(models) +
        (models == 1 ? " model" : " models") +
        " as six dependent jobs: the blocks of the\n"
        "# searches, their merging, the fits, the sides of the profiles, the profiles made whole\n"
        "# from their sides, and the report.\n"
        "#   bash THIS_SCRIPT submit    submits all six and prints their job ids\n"
        "# Each job starts when every task of the one before has ended; a task whose stage is\n"
        "# done ends at once, so submitting again carries on.\n";
    std::string options;
    for (const std::string& word : job.options) {
        options += " " + bashQuote(word);
    }
    options += " --quiet" + dataWords(place);
    const std::string one = "\"$zonetool\" analyse \"$model\"" + options;
    const std::string logs = job.logDirectory + "/";
    // A job after every task of the one before, whatever their end (afterok would wait for
    // ever after one failure); a later stage then names the stage that is not done.
    const auto after = [](const std::string& previous, const std::string& array,
                          const std::string& name) {
        return "--dependency=\"afterany:$" + previous + "\" --array=" + array +
               " --job-name=zonefit-analyse-" + name;
    };
    const std::string perModel = "0-" + std::to_string(models - 1);
    std::vector<std::string> sideRows;
    for (std::size_t i = 0; i < models; i++) {
        const std::string sides = std::to_string(job.sides[i]);
        for (int k = 1; k <= job.sides[i]; k++) {
            sideRows.push_back("model=" + std::to_string(job.models[i]) +
                               " side=" + std::to_string(k) + " sides=" + sides);
        }
    }
    const std::string perSide = "0-" + std::to_string(sideRows.size() - 1);
    std::ostringstream out;
    out << header(comment, "zonefit-analyse-search", models * static_cast<std::size_t>(job.blocks),
                  request, false)
        << placeAndSubmit(
               place,
               {{"search", "", "", "search array job"},
                {"merge", after("search", perModel, "merge"), "merge", "merging array job"},
                {"fits", after("merge", perModel, "fit"), "fit", "fit array job"},
                {"sides", after("fits", perSide, "side"), "side", "profile side array job"},
                {"profiles", after("sides", perModel, "profile"), "profile", "profile array job"},
                {"report", after("profiles", "0", "report"), "report", "report job"}});
    std::vector<std::string> rows;
    for (int model : job.models) {
        rows.push_back("model=" + std::to_string(model));
    }
    for (const char* stage : {"merge", "fit"}) {
        const std::string task = std::string(stage);
        const std::string extra = task == "merge" ? " --blocks " + blocks : "";
        out << task << ")\n"
            << taskTable(rows) << "name=" << bashQuote(logs + task) << "-$model\n"
            << enterTask(task + " of model $model") << "exec " << one << " --task " << task << extra
            << "\n;;\n";
    }
    // Each side of each profile is a task of its own; the profile job then absorbs the sides'
    // points and computes only what they lack (the profile again from a better point, when a
    // side met one).
    out << "side)\n"
        << taskTable(sideRows) << "name=" << bashQuote(logs + "profile") << "-$model-$side\n"
        << enterTask("side $side of $sides of the profile of model $model") << "exec " << one
        << " --task profile --side \"$side/$sides\"\n;;\n"
        << "profile)\n"
        << taskTable(rows) << "name=" << bashQuote(logs + "profile") << "-$model\n"
        << enterTask("profile of model $model, from its sides") << "exec " << one
        << " --task profile\n;;\n";
    out << "report)\n"
        << "task=${SLURM_ARRAY_TASK_ID-}\n"
        << "name=" << bashQuote(logs + "report") << "\n"
        << enterTask("the report") << "exec \"$zonetool\" analyse " << bashQuote(job.modelText)
        << options << " --task report\n;;\n"
        << endModes("submit, merge, fit, side, profile, report");
    rows.clear();
    for (int model : job.models) {
        for (int k = 1; k <= job.blocks; k++) {
            rows.push_back("model=" + std::to_string(model) + " block=" + std::to_string(k));
        }
    }
    out << taskTable(rows) << "name=" << bashQuote(logs + "search") << "-$model-$block\n"
        << enterTask("block $block of " + blocks + " of the search of model $model") << "exec "
        << one << " --task search --block \"$block/" << blocks << "\"\n";
    return out.str();
}
