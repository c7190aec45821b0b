// zonetool slurm: the batch scripts it writes, run by bash with stand-ins for sbatch, scontrol
// and zonetool, and the checks it makes before writing anything.
#include "tools/analysis/profile.h"
#include "tools/commands/slurm.h"
#include "tools/formats/profile_part.h"
#include "tools/formats/slurm_script.h"

#include "support/run_in_process.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sys/stat.h>

namespace {

// Stand-ins that log their arguments, one per line, and their working directory. sbatch
// prints job ids as --parsable does, with a cluster name.
void writeStandIns(const ScratchDir& dir, const std::string& bin) {
    mkdir(dir.file(bin).c_str(), 0755);
    const std::string logger = "#!/bin/bash\n"
                               "{ echo \"[$(basename \"$0\")] in $PWD\"; printf '%s\\n' \"$@\"; } "
                               ">>" +
                               shellQuote(dir.file("calls.txt")) + "\n";
    dir.write(bin + "/zonetool", logger + "[ \"$1\" = compare ] && echo \"table $5\"\nexit 0\n");
    dir.write(bin + "/scontrol", logger);
    dir.write(bin + "/sbatch", logger + "n=$(cat " + shellQuote(dir.file("ids")) +
                                   " 2>/dev/null || echo 40); n=$((n + 1)); echo $n >" +
                                   shellQuote(dir.file("ids")) + "; echo \"$n;cluster\"\n");
    // Would show that a backtick or $(...) in a path was run as a command.
    dir.write(bin + "/injected", "#!/bin/bash\ntouch " + shellQuote(dir.file("INJECTED")) + "\n");
    for (const char* name : {"zonetool", "scontrol", "sbatch", "injected"}) {
        chmod(dir.file(bin + "/" + name).c_str(), 0755);
    }
}

// Runs `script` with bash in `cwd`, the stand-ins first on PATH, and `environment` set.
ProgramResult runScript(const ScratchDir& dir, const std::string& cwd, const std::string& script,
                        const std::string& environment, const std::string& argument = "") {
    dir.write("script.sh", script);
    return runProgram(cwd, "/usr/bin/env",
                      "PATH=" + shellQuote(dir.file("bin")) + ":/usr/bin:/bin " + environment +
                          " bash " + shellQuote(dir.file("script.sh")) + " " + argument);
}

const char* const hostile = "fits a b'c\"d$HOME`injected`$(injected)\nnext line";

std::vector<FitTask> twoByTwo() {
    return {{1, 1, "SS1_ML_seed1"},
            {1, 2, "SS1_ML_seed2"},
            {3, 1, "SS3_ML_seed1"},
            {3, 2, "SS3_ML_seed2"}};
}

} // namespace

TEST(SlurmScript, ArrayRangeRequestAndTaskTable) {
    SlurmRequest request;
    request.time = "1-00:00:00";
    request.partition = "short,long";
    request.memory = "2G";
    request.signalLead = 90;
    const std::string script =
        fitArrayScript(twoByTwo(), request, {"/data/zone", "/opt/zt", false});
    EXPECT_EQ(script.rfind("#!/bin/bash\n", 0), 0u);
    for (const char* line :
         {"\n#SBATCH --array=0-3\n", "\n#SBATCH --time=1-00:00:00\n",
          "\n#SBATCH --partition=short,long\n", "\n#SBATCH --mem=2G\n",
          "\n#SBATCH --cpus-per-task=1\n", "\n#SBATCH --requeue\n",
          "\n#SBATCH --open-mode=append\n", "\n#SBATCH --signal=B:USR1@90\n",
          "\n0) model=1 seed=1 name='SS1_ML_seed1' ;;\n1) model=1 seed=2 name='SS1_ML_seed2' ;;\n"
          "2) model=3 seed=1 name='SS3_ML_seed1' ;;\n3) model=3 seed=2 name='SS3_ML_seed2' ;;\n*)",
          "\ndir='/data/zone'\nzonetool='/opt/zt'\n"}) {
        EXPECT_NE(script.find(line), std::string::npos) << line;
    }
    // What is not asked for is left to the cluster.
    EXPECT_EQ(script.find("--account"), std::string::npos);
    // Every #SBATCH line comes before the first command, or sbatch ignores it.
    EXPECT_LT(script.rfind("#SBATCH"), script.find("\ndir="));
}

TEST(SlurmScript, RequestTextsThatSlurmReadsAreChecked) {
    for (const char* good : {"90", "30:00", "12:00:00", "2-12", "2-12:30", "1-00:00:00"}) {
        EXPECT_TRUE(validTime(good)) << good;
    }
    for (const char* bad : {"", "1h", "1-", "-5", "1:2:3:4", "1::2", "1-2-3", "1 00:00"}) {
        EXPECT_FALSE(validTime(bad)) << bad;
    }
    const std::pair<const char*, long> limits[] = {{"90", 5400},
                                                   {"30:15", 1815},
                                                   {"2:00:05", 7205},
                                                   {"2-12", 216000},
                                                   {"1-0:30", 88200},
                                                   {"1-00:00:10", 86410},
                                                   {"99999999999999999999999", 60000000000}};
    for (const auto& [text, seconds] : limits) {
        EXPECT_EQ(timeSeconds(text), seconds) << text;
    }
    EXPECT_TRUE(validSlurmName("short,long", true));
    EXPECT_FALSE(validSlurmName("short,long", false));
    for (const char* bad : {"", "a b", "a\nb", "a,", "x$(id)", "p'"}) {
        EXPECT_FALSE(validSlurmName(bad, true)) << bad;
    }
    EXPECT_TRUE(validMemory("2G") && validMemory("500") && validMemory("16T"));
    EXPECT_FALSE(validMemory("G") || validMemory("2GB") || validMemory("-2G") || validMemory(""));
}

TEST(SlurmScript, TaskRunsItsFitInAHostileDirectoryAndNothingElse) {
    ScratchDir dir;
    writeStandIns(dir, "bin");
    const std::string work = dir.file(hostile);
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    // The program itself may live in a directory of any name too.
    const std::string program = work + "/zonetool";
    ASSERT_EQ(
        std::system(
            ("cp " + shellQuote(dir.file("bin/zonetool")) + " " + shellQuote(program)).c_str()),
        0);
    const std::string script = fitArrayScript(twoByTwo(), SlurmRequest(), {work, program, false});
    const std::string slurm = "SLURM_ARRAY_JOB_ID=7 SLURM_JOB_ID=9 SLURM_ARRAY_TASK_ID=";
    ProgramResult r = runScript(dir, dir.path(), script, slurm + "2");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    // The fit ran in the directory, with its own task's id to requeue.
    EXPECT_EQ(dir.read("calls.txt"), "[zonetool] in " + work +
                                         "\nfit\n3\n--seed\n1\n--result\nSS3_ML_seed1\n"
                                         "--checkpoint\nSS3_ML_seed1.ckpt\n--trace\n"
                                         "SS3_ML_seed1.trace.tsv\n--quiet\n--requeue\n");
    std::ifstream err(work + "/SS3_ML_seed1.err");
    std::string first;
    std::getline(err, first);
    EXPECT_EQ(first, "task 2 of job 7 (job 9, restarts 0) on ?: fit of model 3, seed 1, into "
                     "SS3_ML_seed1");
    EXPECT_FALSE(dir.exists("INJECTED"));

    // A finished fit is not run again when its task is requeued.
    std::remove(dir.file("calls.txt").c_str());
    std::ofstream(work + "/SS1_ML_seed2") << "1 1 0.5 10 1000\n";
    r = runScript(dir, dir.path(), script, slurm + "1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(dir.exists("calls.txt"));

    // Outside the table, or outside Slurm, nothing runs.
    for (const std::string& environment : {slurm + "4", std::string("X=1")}) {
        r = runScript(dir, dir.path(), script, environment);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(": no task '"), std::string::npos) << r.err;
        EXPECT_FALSE(dir.exists("calls.txt"));
    }
    r = runScript(dir, dir.path(), script, "X=1", "resume");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown argument 'resume' (give submit, collect or nothing)"),
              std::string::npos);
    EXPECT_FALSE(dir.exists("calls.txt"));
    EXPECT_FALSE(dir.exists("INJECTED"));
}

TEST(SlurmScript, SubmitAndCollectInAHostileDirectory) {
    ScratchDir dir;
    writeStandIns(dir, "bin");
    const std::string work = dir.file(hostile);
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    const std::string script =
        fitArrayScript(twoByTwo(), SlurmRequest(), {work, dir.file("bin/zonetool"), false});
    ProgramResult r = runScript(dir, dir.path(), script, "X=1", "submit");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "array job 41\ncollecting job 42\n");
    // The collecting job waits for every task, whatever its end.
    const std::string where = "[sbatch] in " + work + "\n";
    EXPECT_EQ(dir.read("calls.txt"),
              where + "--parsable\n" + dir.file("script.sh") + "\n" + where +
                  "--parsable\n--dependency=afterany:41\n--array=0\n--job-name=zonefit-collect\n" +
                  dir.file("script.sh") + "\ncollect\n");

    // Not from inside a job.
    r = runScript(dir, dir.path(), script, "SLURM_JOB_ID=3", "submit");
    EXPECT_EQ(r.status, 2);

    std::remove(dir.file("calls.txt").c_str());
    r = runScript(dir, dir.path(), script, "SLURM_JOB_ID=3", "collect");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote compare.tsv\nwrote compare.json\n");
    std::ifstream tsv(work + "/compare.tsv");
    std::ifstream json(work + "/compare.json");
    std::string tsvLine;
    std::string jsonLine;
    std::getline(tsv, tsvLine);
    std::getline(json, jsonLine);
    EXPECT_EQ(tsvLine, "table tsv");
    EXPECT_EQ(jsonLine, "table json");
    EXPECT_FALSE(dir.exists("INJECTED"));
}

TEST(SlurmScript, EveryTaskAndCollectionGetsTheDataFileAndBoxes) {
    ScratchDir dir;
    writeStandIns(dir, "bin");
    const std::string work = dir.file(hostile);
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    ScriptPlace place{work, dir.file("bin/zonetool"), false};
    const std::string data = work + "/my data's.tsv";
    place.dataArguments = {"--data", data, "--box", "sigma=1:50", "--box", "F=0:0.5"};
    const std::string words = "--data\n" + data + "\n--box\nsigma=1:50\n--box\nF=0:0.5\n";
    const std::string fits = fitArrayScript(twoByTwo(), SlurmRequest(), place);
    ProgramResult r = runScript(dir, dir.path(), fits, "SLURM_ARRAY_TASK_ID=0");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("calls.txt"), "[zonetool] in " + work +
                                         "\nfit\n1\n--seed\n1\n--result\nSS1_ML_seed1\n"
                                         "--checkpoint\nSS1_ML_seed1.ckpt\n--trace\n"
                                         "SS1_ML_seed1.trace.tsv\n--quiet\n--requeue\n" +
                                         words);
    std::remove(dir.file("calls.txt").c_str());
    r = runScript(dir, dir.path(), fits, "SLURM_JOB_ID=3", "collect");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string compare = "[zonetool] in " + work + "\ncompare\n.\n--all\n--format\n";
    EXPECT_EQ(dir.read("calls.txt"), compare + "tsv\n" + words + compare + "json\n" + words);

    ProfileJob job;
    job.model = 1;
    job.result = "SS1_ML_";
    job.parameters = {"sigma"};
    job.table = "profile-SS1_ML_.txt";
    job.tsv = "profile-SS1_ML_.tsv";
    const std::string profile = profileArrayScript(
        {{"sigma", "lower", "profile-SS1_ML_-sigma-lower"}}, job, SlurmRequest(), place);
    std::remove(dir.file("calls.txt").c_str());
    r = runScript(dir, dir.path(), profile, "SLURM_ARRAY_TASK_ID=0");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string side = "[zonetool] in " + work + "\nprofile\n1\n--result\nSS1_ML_\n" + words;
    EXPECT_EQ(dir.read("calls.txt"), side + "--parameters\nsigma\n--side\nlower\n--part\n"
                                            "profile-SS1_ML_-sigma-lower.tsv\n--quiet\n");
    std::remove(dir.file("calls.txt").c_str());
    r = runScript(dir, dir.path(), profile, "SLURM_JOB_ID=3", "collect");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("calls.txt"), side + "--parameters\nsigma\n--collect\n" + side +
                                         "--parameters\nsigma\n--collect\n--format\ntsv\n");
    EXPECT_FALSE(dir.exists("INJECTED"));
}

TEST(SlurmScript, EachLocusFitsInItsOwnDirectoryAndIsComparedApart) {
    // Letters, digits and ._- stay; every other byte, '%' included, becomes %XX, so that no
    // name reaches outside the working directory and two names never share a directory.
    EXPECT_EQ(locusDirectory("Mdh-1.a_b"), "locus-Mdh-1.a_b");
    EXPECT_EQ(locusDirectory("../x"), "locus-..%2Fx");
    EXPECT_EQ(locusDirectory("a%2F"), "locus-a%252F");
    EXPECT_EQ(locusDirectory("\xc3\xa9 '"), "locus-%C3%A9%20%27");

    ScratchDir dir;
    writeStandIns(dir, "bin");
    const std::string work = dir.file(hostile);
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    ScriptPlace place{work, dir.file("bin/zonetool"), false};
    place.dataArguments = {"--data", work + "/loci.tsv"};
    const std::string odd = "B/$(injected)'";
    const std::string oddDir = locusDirectory(odd);
    const std::vector<FitTask> tasks = {{1, 1, "locus-A/SS1_ML_", "A"},
                                        {1, 1, oddDir + "/SS1_ML_", odd},
                                        {7, 1, "locus-A/C_1_ML_", "A"}};
    const std::string script = fitArrayScript(tasks, SlurmRequest(), place);
    EXPECT_NE(script.find("\n#SBATCH --array=0-2\n"), std::string::npos);
    ProgramResult r = runScript(dir, dir.path(), script, "SLURM_ARRAY_TASK_ID=1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("calls.txt"),
              "[zonetool] in " + work + "\nfit\n1\n--locus\n" + odd + "\n--seed\n1\n--result\n" +
                  oddDir + "/SS1_ML_\n--checkpoint\n" + oddDir + "/SS1_ML_.ckpt\n--trace\n" +
                  oddDir + "/SS1_ML_.trace.tsv\n--quiet\n--requeue\n--data\n" + work +
                  "/loci.tsv\n");
    // The task made its directory and keeps its output there.
    std::ifstream err(work + "/" + oddDir + "/SS1_ML_.err");
    std::string first;
    std::getline(err, first);
    EXPECT_EQ(first, "task 1 of job ? (job ?, restarts 0) on ?: fit of model 1, seed 1, locus " +
                         odd + ", into " + oddDir + "/SS1_ML_");

    // One comparison per locus, in its directory, of that locus alone; none of the whole
    // directory, whose fits belong to different loci.
    ASSERT_EQ(mkdir((work + "/locus-A").c_str(), 0755), 0);
    std::remove(dir.file("calls.txt").c_str());
    r = runScript(dir, dir.path(), script, "SLURM_JOB_ID=3", "collect");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote locus-A/compare.tsv\nwrote locus-A/compare.json\nwrote " + oddDir +
                         "/compare.tsv\nwrote " + oddDir + "/compare.json\n");
    std::string calls;
    for (const std::string& locus : {std::string("A"), odd}) {
        for (const char* format : {"tsv", "json"}) {
            calls += "[zonetool] in " + work + "\ncompare\n" + locusDirectory(locus) +
                     "\n--all\n--format\n" + format + "\n--data\n" + work + "/loci.tsv\n--locus\n" +
                     locus + "\n";
        }
    }
    EXPECT_EQ(dir.read("calls.txt"), calls);
    std::ifstream tsv(work + "/" + oddDir + "/compare.tsv");
    std::string line;
    std::getline(tsv, line);
    EXPECT_EQ(line, "table tsv");
    EXPECT_FALSE(dir.exists(hostile + std::string("/compare.tsv")));
    EXPECT_FALSE(dir.exists("INJECTED"));
}

TEST(SlurmScript, ProfileTasksAndCollection) {
    ScratchDir dir;
    writeStandIns(dir, "bin");
    ProfileJob job;
    job.model = 1;
    job.result = "SS1_ML_";
    job.options = {"--units", "1.92"};
    job.parameters = {"wSS", "sigma"};
    job.table = "profile-SS1_ML_.txt";
    job.tsv = "profile-SS1_ML_.tsv";
    const std::vector<ProfileTask> tasks = {{"wSS", "lower", "profile-SS1_ML_-wSS-lower"},
                                            {"wSS", "upper", "profile-SS1_ML_-wSS-upper"},
                                            {"sigma", "lower", "profile-SS1_ML_-sigma-lower"},
                                            {"sigma", "upper", "profile-SS1_ML_-sigma-upper"}};
    const std::string script = profileArrayScript(tasks, job, SlurmRequest(),
                                                  {dir.path(), dir.file("bin/zonetool"), false});
    EXPECT_NE(script.find("\n#SBATCH --array=0-3\n"), std::string::npos);
    // No checkpoint, so no early signal: a side that is stopped starts again.
    EXPECT_EQ(script.find("--signal"), std::string::npos);
    ProgramResult r = runScript(dir, dir.path(), script, "SLURM_ARRAY_TASK_ID=3");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("calls.txt"), "[zonetool] in " + dir.path() +
                                         "\nprofile\n1\n--result\nSS1_ML_\n--units\n1.92\n"
                                         "--parameters\nsigma\n--side\nupper\n--part\n"
                                         "profile-SS1_ML_-sigma-upper.tsv\n--quiet\n");
    std::remove(dir.file("calls.txt").c_str());
    r = runScript(dir, dir.path(), script, "SLURM_ARRAY_TASK_ID=0", "collect");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote profile-SS1_ML_.txt\nwrote profile-SS1_ML_.tsv\n");
    EXPECT_NE(dir.read("calls.txt")
                  .find("--units\n1.92\n--parameters\nwSS,sigma\n--collect\n"
                        "--format\ntsv\n"),
              std::string::npos);
}

namespace {

ExploreJob smallSearch() {
    ExploreJob job;
    job.model = 1;
    job.prefix = "SS1_ML_";
    job.options = {"--starts", "4", "--seed", "1", "--budget", "60"};
    job.blocks = 2;
    job.fits = {{1, 1, "SS1_ML_opt1seed1"}, {1, 2, "SS1_ML_opt1seed2"}, {2, 1, "SS1_ML_opt2seed1"}};
    return job;
}

} // namespace

TEST(SlurmScript, SearchBlocksMergeFitsAndComparisonInAHostileDirectory) {
    ScratchDir dir;
    writeStandIns(dir, "bin");
    const std::string work = dir.file(hostile);
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    ScriptPlace place{work, dir.file("bin/zonetool"), false};
    place.dataArguments = {"--data", work + "/my data's.tsv"};
    const std::string data = "--data\n" + work + "/my data's.tsv\n";
    SlurmRequest request;
    request.time = "30";
    request.signalLead = 90;
    const std::string script = exploreArrayScript(smallSearch(), request, place);
    EXPECT_NE(script.find("\n#SBATCH --array=0-1\n"), std::string::npos);
    EXPECT_NE(script.find("\n#SBATCH --time=30\n"), std::string::npos);
    // The blocks keep no checkpoint: only the fits get the early signal.
    EXPECT_EQ(script.find("#SBATCH --signal"), std::string::npos);
    const std::string where = "[zonetool] in " + work + "\n";
    const std::string explore = where + "explore\n1\n--starts\n4\n--seed\n1\n--budget\n60\n";

    ProgramResult r =
        runScript(dir, dir.path(), script, "SLURM_ARRAY_JOB_ID=7 SLURM_ARRAY_TASK_ID=1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("calls.txt"), explore + "--block\n2/2\n" + data);
    std::ifstream blockErr(work + "/SS1_ML_.explore.part2-of-2.err");
    std::string line;
    std::getline(blockErr, line);
    EXPECT_EQ(line, "task 1 of job 7 (job ?, restarts 0) on ?: block 2 of 2 of the starts, into "
                    "SS1_ML_.explore.part2-of-2.json");
    std::remove(dir.file("calls.txt").c_str());
    r = runScript(dir, dir.path(), script, "SLURM_ARRAY_TASK_ID=0", "merge");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("calls.txt"), explore + "--collect\n--blocks\n2\n" + data);
    std::remove(dir.file("calls.txt").c_str());
    r = runScript(dir, dir.path(), script, "SLURM_ARRAY_JOB_ID=8 SLURM_ARRAY_TASK_ID=2", "fit");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("calls.txt"),
              where +
                  "fit\n1\n--from\nSS1_ML_.explore.json\n--optimum\n2\n--seed\n1\n--result\n"
                  "SS1_ML_opt2seed1\n--checkpoint\nSS1_ML_opt2seed1.ckpt\n--trace\n"
                  "SS1_ML_opt2seed1.trace.tsv\n--quiet\n--requeue\n" +
                  data);
    std::remove(dir.file("calls.txt").c_str());
    r = runScript(dir, dir.path(), script, "SLURM_JOB_ID=3", "collect");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote compare.tsv\nwrote compare.json\n");
    std::remove(dir.file("calls.txt").c_str());

    // What is done is not done again when the tasks run once more.
    std::ofstream(work + "/SS1_ML_.explore.part2-of-2.json") << "{}\n";
    std::ofstream(work + "/SS1_ML_.explore.json") << "{}\n";
    std::ofstream(work + "/SS1_ML_opt2seed1") << "1 1 0.5 10 1000\n";
    r = runScript(dir, dir.path(), script, "SLURM_ARRAY_TASK_ID=1");
    EXPECT_EQ(r.status, 0) << r.err;
    r = runScript(dir, dir.path(), script, "SLURM_ARRAY_TASK_ID=0", "merge");
    EXPECT_EQ(r.status, 0) << r.err;
    r = runScript(dir, dir.path(), script, "SLURM_ARRAY_TASK_ID=2", "fit");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(dir.exists("calls.txt"));
    std::ifstream mergeErr(work + "/SS1_ML_.explore.err");
    std::getline(mergeErr, line);
    std::getline(mergeErr, line);
    std::getline(mergeErr, line);
    EXPECT_EQ(line, "SS1_ML_.explore.json exists: the parts were merged");
    r = runScript(dir, dir.path(), script, "SLURM_ARRAY_TASK_ID=3", "fit");
    EXPECT_EQ(r.status, 2);
    r = runScript(dir, dir.path(), script, "X=1", "resume");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown argument 'resume' (give submit, merge, fit, collect or nothing)"),
              std::string::npos)
        << r.err;

    // Four jobs, each after the one before: the fits only after a merge that succeeded.
    r = runScript(dir, dir.path(), script, "X=1", "submit");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "explore array job 41\nmerging job 42\nfit array job 43\ncollecting job 44\n");
    const std::string sbatch = "[sbatch] in " + work + "\n--parsable\n";
    const std::string self = dir.file("script.sh") + "\n";
    EXPECT_EQ(dir.read("calls.txt"),
              sbatch + self + sbatch +
                  "--dependency=afterany:41\n--array=0\n--job-name=zonefit-explore-merge\n" + self +
                  "merge\n" + sbatch +
                  "--dependency=afterok:42\n--kill-on-invalid-dep=yes\n--array=0-2\n"
                  "--signal=B:USR1@90\n--job-name=zonefit-explore-fit\n" +
                  self + "fit\n" + sbatch +
                  "--dependency=afterany:43\n--array=0\n--job-name=zonefit-explore-collect\n" +
                  self + "collect\n");
    EXPECT_FALSE(dir.exists("INJECTED"));
}

TEST(SlurmScript, AnalyseStagesInTurnInAHostileDirectory) {
    ScratchDir dir;
    writeStandIns(dir, "bin");
    const std::string work = dir.file(hostile);
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((work + "/out $x").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((work + "/out $x/.analyse").c_str(), 0755), 0);
    ScriptPlace place{work, dir.file("bin/zonetool"), false};
    place.dataArguments = {"--data", work + "/my data's.tsv"};
    const std::string data = "--data\n" + work + "/my data's.tsv\n";
    AnalyseScriptJob job;
    job.modelText = "1,8";
    job.models = {1, 8};
    job.sides = {8, 4};
    job.options = {"--effort", "quick", "--seed", "5", "-o", "out $x"};
    job.blocks = 3;
    job.logDirectory = "out $x/.analyse";
    SlurmRequest request;
    request.partition = "short";
    const std::string script = analyseArrayScript(job, request, place);
    // Two models of three blocks each; nothing of the analysis needs Slurm's early signal.
    EXPECT_NE(script.find("\n#SBATCH --array=0-5\n"), std::string::npos);
    EXPECT_NE(script.find("\n#SBATCH --partition=short\n"), std::string::npos);
    EXPECT_EQ(script.find("#SBATCH --signal"), std::string::npos);
    const std::string where = "[zonetool] in " + work + "\n";
    const std::string options = "--effort\nquick\n--seed\n5\n-o\nout $x\n--quiet\n" + data;

    // Task 4 of the first array: block 2 of 3 of model 8's search.
    ProgramResult r =
        runScript(dir, dir.path(), script, "SLURM_ARRAY_JOB_ID=7 SLURM_ARRAY_TASK_ID=4");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("calls.txt"),
              where + "analyse\n8\n" + options + "--task\nsearch\n--block\n2/3\n");
    std::ifstream blockErr(work + "/out $x/.analyse/search-8-2.err");
    std::string line;
    std::getline(blockErr, line);
    EXPECT_EQ(line, "task 4 of job 7 (job ?, restarts 0) on ?: block 2 of 3 of the search of "
                    "model 8");
    // Then one task per model of each stage, and the report of both.
    for (const char* stage : {"merge", "fit", "profile"}) {
        std::remove(dir.file("calls.txt").c_str());
        r = runScript(dir, dir.path(), script, "SLURM_ARRAY_TASK_ID=1", stage);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(dir.read("calls.txt"),
                  where + "analyse\n8\n" + options + "--task\n" + stage +
                      (std::string(stage) == "merge" ? "\n--blocks\n3\n" : "\n"));
    }
    // The sides: model 1's eight, then model 8's four; task 9 is model 8's second side.
    std::remove(dir.file("calls.txt").c_str());
    r = runScript(dir, dir.path(), script, "SLURM_ARRAY_JOB_ID=9 SLURM_ARRAY_TASK_ID=9", "side");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("calls.txt"),
              where + "analyse\n8\n" + options + "--task\nprofile\n--side\n2/4\n");
    std::ifstream sideErr(work + "/out $x/.analyse/profile-8-2.err");
    std::getline(sideErr, line);
    EXPECT_EQ(line, "task 9 of job 9 (job ?, restarts 0) on ?: side 2 of 4 of the profile of "
                    "model 8");
    std::remove(dir.file("calls.txt").c_str());
    r = runScript(dir, dir.path(), script, "SLURM_ARRAY_TASK_ID=7", "side");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("calls.txt"),
              where + "analyse\n1\n" + options + "--task\nprofile\n--side\n8/8\n");
    r = runScript(dir, dir.path(), script, "SLURM_ARRAY_TASK_ID=12", "side");
    EXPECT_EQ(r.status, 2);
    std::remove(dir.file("calls.txt").c_str());
    r = runScript(dir, dir.path(), script, "SLURM_ARRAY_TASK_ID=0", "report");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("calls.txt"), where + "analyse\n1,8\n" + options + "--task\nreport\n");
    r = runScript(dir, dir.path(), script, "SLURM_ARRAY_TASK_ID=2", "fit");
    EXPECT_EQ(r.status, 2);
    r = runScript(dir, dir.path(), script, "X=1", "collect");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown argument 'collect' (give submit, merge, fit, side, profile, "
                         "report or nothing)"),
              std::string::npos)
        << r.err;

    // Six jobs, each after every task of the one before; the sides' array has twelve tasks.
    std::remove(dir.file("calls.txt").c_str());
    r = runScript(dir, dir.path(), script, "X=1", "submit");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "search array job 41\nmerging array job 42\nfit array job 43\n"
                     "profile side array job 44\nprofile array job 45\nreport job 46\n");
    const std::string sbatch = "[sbatch] in " + work + "\n--parsable\n";
    const std::string self = dir.file("script.sh") + "\n";
    EXPECT_EQ(dir.read("calls.txt"),
              sbatch + self + sbatch +
                  "--dependency=afterany:41\n--array=0-1\n--job-name=zonefit-analyse-merge\n" +
                  self + "merge\n" + sbatch +
                  "--dependency=afterany:42\n--array=0-1\n--job-name=zonefit-analyse-fit\n" + self +
                  "fit\n" + sbatch +
                  "--dependency=afterany:43\n--array=0-11\n--job-name=zonefit-analyse-side\n" +
                  self + "side\n" + sbatch +
                  "--dependency=afterany:44\n--array=0-1\n--job-name=zonefit-analyse-profile\n" +
                  self + "profile\n" + sbatch +
                  "--dependency=afterany:45\n--array=0\n--job-name=zonefit-analyse-report\n" +
                  self + "report\n");
    EXPECT_FALSE(dir.exists("INJECTED"));
}

namespace {

// 10 + sum a_i (x_i - mu_i)^2 / 2: the limits at U units lie at mu_i -+ sqrt(2 U / a_i).
double separable(const NRvector<double>& x) {
    const double mu[4] = {1.0, 2.0, 0.5, 20.0};
    const double a[4] = {8.0, 2.0, 50.0, 0.02};
    double q = 0.0;
    for (int i = 0; i < 4; i++) {
        q += a[i] * (x[i] - mu[i]) * (x[i] - mu[i]);
    }
    return 10.0 + 0.5 * q;
}

} // namespace

TEST(ProfileParts, SidesComputedApartAssembleToTheWholeProfile) {
    ScratchDir dir;
    const ModelEntry& model = *findModel(1);
    const std::vector<double> estimate = {1.0, 2.0, 0.5, 20.0};
    const std::vector<ParameterInfo> noBoxes;
    ProfileSettings settings;
    settings.simplexTolerance = 1e-10;
    const std::vector<int> indices = {0, 3};
    const ProfileOutcome whole = profileLikelihood(separable, estimate, noBoxes, indices, settings);
    const std::string result = dir.file("SS1_ML_");
    for (int index : indices) {
        for (int side : {-1, +1}) {
            const ProfileOutcome part =
                profileSide(separable, estimate, noBoxes, index, side, settings);
            std::string error;
            const std::string path = profilePartName(result, model.parameters[index].name, side);
            ASSERT_TRUE(
                writeProfilePart(path, profilePartText(model, result, settings, part, side), error))
                << error;
            // A side once written is not written over.
            EXPECT_FALSE(writeProfilePart(path, "", error));
            EXPECT_EQ(error, path + " exists; remove it to compute this side again");
        }
    }
    EXPECT_TRUE(dir.exists("profile-SS1_ML_-sigma-upper.tsv"));
    ProfileOutcome collected;
    std::string error;
    ASSERT_TRUE(collectProfile(model, result, indices, settings, collected, error)) << error;
    EXPECT_EQ(collected.minimum, whole.minimum);
    EXPECT_EQ(collected.evaluations, whole.evaluations);
    EXPECT_EQ(collected.lowest, whole.lowest);
    EXPECT_EQ(collected.lowestPoint, whole.lowestPoint);
    ASSERT_EQ(collected.parameters.size(), 2u);
    for (std::size_t i = 0; i < 2; i++) {
        const ParameterProfile& a = collected.parameters[i];
        const ParameterProfile& b = whole.parameters[i];
        EXPECT_EQ(a.index, b.index);
        EXPECT_EQ(a.estimate, b.estimate);
        for (const auto& [x, y] :
             {std::make_pair(a.lower, b.lower), std::make_pair(a.upper, b.upper)}) {
            EXPECT_EQ(x.value, y.value);
            EXPECT_EQ(x.found, y.found);
            EXPECT_EQ(x.atBox, y.atBox);
            EXPECT_EQ(x.points, y.points);
        }
    }
    // wSS: 1 -+ sqrt(2 x 2 / 8); sigma: 20 -+ sqrt(2 x 2 / 0.02).
    EXPECT_NEAR(collected.parameters[0].lower.value, 1.0 - std::sqrt(0.5), 1e-3);
    EXPECT_NEAR(collected.parameters[1].upper.value, 20.0 + std::sqrt(200.0), 1e-2);

    // Sides of other settings are not mixed in.
    settings.units = 1.92;
    EXPECT_FALSE(collectProfile(model, result, indices, settings, collected, error));
    EXPECT_EQ(error, dir.file("profile-SS1_ML_-wSS-lower.tsv") +
                         ": computed for units '2', not '1.9199999999999999'");
    settings.units = 2.0;
    EXPECT_FALSE(collectProfile(model, result, {1}, settings, collected, error));
    EXPECT_EQ(error, dir.file("profile-SS1_ML_-wII-lower.tsv") +
                         ": cannot open: No such file or directory");
}

namespace {

ProgramResult zonetool(const ScratchDir& dir, const std::string& arguments) {
    return runInProcess(dir.path(), arguments);
}

// The real program: the script names the binary that wrote it.
ProgramResult zonetoolProgram(const ScratchDir& dir, const std::string& arguments) {
    return runProgram(dir.path(), ZONETOOL_BIN, arguments);
}

const char* const shortStart = "1.2 0.8 0.3 15\n0 0 0.05 2\n";

} // namespace

TEST(SlurmCommand, BadArguments) {
    ScratchDir dir;
    const std::string help = "Run 'zonetool slurm --help' for usage.\n";
    const std::pair<const char*, const char*> cases[] = {
        {"slurm", "zonetool slurm: missing MODELS\n"},
        {"slurm 1 --time 1h", "zonetool slurm: --time needs a time limit such as 1-00:00:00, "
                              "12:00:00 or 90, not '1h'\n"},
        {"slurm 1 --partition 'a b'",
         "zonetool slurm: --partition needs a name of letters, digits and ._-, not 'a b'\n"},
        {"slurm 1 --submit", "zonetool slurm: --submit needs -o SCRIPT: requeued tasks and later "
                             "submissions read the script\n"},
        {"slurm 1 --parameters wSS",
         "zonetool slurm: --parameters, --result, --units and --step need --profile\n"},
        {"slurm --profile 1-2", "zonetool slurm: --profile needs one model number from 1 to 10, "
                                "not '1-2'\n"},
        {"slurm 1 --cpus-per-task 0",
         "zonetool slurm: --cpus-per-task needs a whole number from 1 to 1024, not '0'\n"},
        {"slurm 1 --seeds", "zonetool slurm: --seeds needs a value\n"},
        {"slurm 1 --objective quick",
         "zonetool slurm: --objective needs settled or zonefit, not 'quick'\n"},
        {"slurm 1 --time 2", "zonetool slurm: --signal-lead (120 s) must be shorter than --time "
                             "(120 s)\n"},
    };
    for (const auto& [arguments, message] : cases) {
        const ProgramResult r = zonetool(dir, arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.err, message + help) << arguments;
        EXPECT_EQ(r.out, "") << arguments;
    }
}

TEST(SlurmCommand, EveryInputIsCheckedBeforeAnythingIsWritten) {
    ScratchDir dir;
    dir.write("startvec1.txt", shortStart);
    dir.write("startvec3.txt", "1 1 1\n");
    dir.write("SS1_ML_seed2", "1 1 0.5 10 1000\n");
    ProgramResult r = zonetool(dir, "slurm 1-4 --seeds 1-2 -o fits.sh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool slurm: startvec2.txt: cannot open: No such file or directory\n"
                     "zonetool slurm: startvec3.txt: no step sizes in the second row\n"
                     "zonetool slurm: startvec4.txt: cannot open: No such file or directory\n"
                     "zonetool slurm: Error in borders.txt: cannot open the file\n"
                     "zonetool slurm: SS1_ML_seed2 exists; give --redo to let the jobs "
                     "overwrite it\n"
                     "zonetool slurm: nothing written\n");
    EXPECT_FALSE(dir.exists("fits.sh"));

    r = zonetoolProgram(dir, "slurm 1 --seeds 1-2 -o fits.sh --redo --time 30");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "zonetool slurm: wrote fits.sh\n");
    const std::string script = dir.read("fits.sh");
    EXPECT_NE(script.find("\ndir=" + shellQuote(dir.path()) +
                          "\nzonetool=" + shellQuote(ZONETOOL_BIN) + "\n"),
              std::string::npos);
    EXPECT_NE(script.find("--quiet --requeue --redo\n"), std::string::npos);
    // The script is the user's now.
    r = zonetool(dir, "slurm 1 --seeds 1-2 -o fits.sh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool slurm: SS1_ML_seed2 exists; give --redo to let the jobs overwrite "
                     "it\nzonetool slurm: fits.sh exists; give --redo to let the jobs overwrite "
                     "it\nzonetool slurm: nothing written\n");
    // One seed: the result takes the model's name alone, as a single fit's does.
    r = zonetool(dir, "slurm 1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n0) model=1 seed=1 name='SS1_ML_' ;;\n*)"), std::string::npos);
}

TEST(SlurmCommand, TheDataFileIsCheckedAndPassedOnByItsAbsolutePath) {
    ScratchDir dir;
    dir.write("startvec1.txt", shortStart);
    dir.write("startvec3.txt", "1 1 1 1 1 1 0.3 15\n0.1 0.1 0.1 0.1 0.1 0.1 0.1 1\n");
    dir.write("borders.txt", "1\n4\n");
    dir.write("bad.tsv", "site position distance SS SI II\na 0 1 1 1 1\nb 1 1 -1 1 1\n"
                         "c 2 NA 1 1 1\n");
    dir.write("three sites.tsv", "site position distance SS SI II\na 0 100 1 1 1\n"
                                 "b 100 326.644 0 4 0\nc 426.644 NA 0 0 5\n");
    ProgramResult r = zonetool(dir, "slurm 1 --data missing.tsv -o fits.sh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error in missing.tsv: cannot open the file\n");
    r = zonetool(dir, "slurm --profile 1 --data bad.tsv -o profile.sh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error in bad.tsv line 3: SS count '-1' is negative\n");
    r = zonetool(dir, "slurm 1 --box sigma=1 -o fits.sh");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool slurm: --box needs NAME=LO:HI, not 'sigma=1'\n"
                     "Run 'zonetool slurm --help' for usage.\n");
    // The borders must fit the three sites of the data, not the 105 of the built-in transect.
    r = zonetool(dir, "slurm 3 --data 'three sites.tsv' -o fits.sh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool slurm: Error in borders.txt: border 2 is 4, outside 0 to 3\n"
                     "zonetool slurm: nothing written\n");
    EXPECT_FALSE(dir.exists("fits.sh"));
    EXPECT_FALSE(dir.exists("profile.sh"));

    dir.write("borders.txt", "1\n3\n");
    r = zonetool(dir, "slurm 1,3 --data 'three sites.tsv' --box sigma=1:50");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string words =
        " '--data' " + shellQuote(dir.file("three sites.tsv")) + " '--box' 'sigma=1:50'";
    EXPECT_NE(r.out.find("--quiet --requeue" + words + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("compare . --all --format json" + words + " >"), std::string::npos);
}

TEST(SlurmCommand, SearchArgumentsAreChecked) {
    ScratchDir dir;
    const std::string help = "Run 'zonetool slurm --help' for usage.\n";
    const std::pair<const char*, const char*> cases[] = {
        {"slurm --explore 1-2", "--explore needs one model number from 1 to 10, not '1-2'"},
        {"slurm --explore", "missing MODEL"},
        {"slurm --explore 1 --profile", "give either --profile or --explore, not both"},
        {"slurm 1 --starts 8", "--starts, --blocks, --budget, --seed, --best and --region need "
                               "--explore"},
        {"slurm 1 --region F=0:1", "--starts, --blocks, --budget, --seed, --best and --region "
                                   "need --explore"},
        {"slurm --explore 1 --starts 4 --blocks 5", "--blocks (5) must not exceed --starts (4)"},
        {"slurm --explore 1 --budget 5", "--budget needs a whole number from 10 to 100000000, not "
                                         "'5'"},
        {"slurm --explore 1 --best 0", "--best needs a whole number from 1 to 1000, not '0'"},
        {"slurm --explore 1 --seed x", "--seed needs a whole number from 0 to "
                                       "18446744073709551615, not 'x'"},
        {"slurm --explore 1 --region sigma=0:200", "--region sigma: 0:200 leaves the box (0, 100]"},
        {"slurm --explore 1 --best 1000 --seeds 1-11", "more than 10000 tasks"},
        {"slurm --explore 1 --time 2", "--signal-lead (120 s) must be shorter than --time (120 s)"},
    };
    for (const auto& [arguments, problem] : cases) {
        const ProgramResult r = zonetool(dir, arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.out, "") << arguments;
        EXPECT_EQ(r.err, std::string("zonetool slurm: ") + problem + "\n" + help) << arguments;
    }
}

TEST(SlurmCommand, SearchInputsAndOutputsAreCheckedBeforeAnythingIsWritten) {
    ScratchDir dir;
    dir.write("startvec3.txt", "1 1 1\n0 0 0\n");
    dir.write("SS3_ML_.explore.part2-of-2.json", "{}\n");
    dir.write("SS3_ML_opt1.start", "mine\n");
    dir.write("SS3_ML_opt2seed5.json", "{}\n");
    ProgramResult r = zonetool(dir, "slurm --explore 3 --starts 4 --blocks 2 --best 2 --seeds "
                                    "4-5 -o search.sh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool slurm: startvec3.txt holds no start vector of 8 values with its "
                     "steps\n"
                     "zonetool slurm: Error in borders.txt: cannot open the file\n"
                     "zonetool slurm: SS3_ML_.explore.part2-of-2.json exists; give --redo to let "
                     "the jobs overwrite it\n"
                     "zonetool slurm: SS3_ML_opt1.start exists; give --redo to let the jobs "
                     "overwrite it\n"
                     "zonetool slurm: SS3_ML_opt2seed5.json exists; give --redo to let the jobs "
                     "overwrite it\n"
                     "zonetool slurm: nothing written\n");
    EXPECT_FALSE(dir.exists("search.sh"));
    r = zonetool(dir, "slurm --explore 1 --data missing.tsv -o search.sh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error in missing.tsv: cannot open the file\n");
    EXPECT_FALSE(dir.exists("search.sh"));

    // Without a start vector of its own the search is the design's alone; by default 8 blocks
    // (fewer with fewer starts), the 3 best optima and seed 1, named as fit --from names them.
    r = zonetool(dir, "slurm --explore 1 --region F=0.3:0.3");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n#SBATCH --array=0-7\n"), std::string::npos);
    EXPECT_NE(r.out.find("\n7) block=8 name='SS1_ML_.explore.part8-of-8' ;;\n"), std::string::npos);
    EXPECT_NE(r.out.find("\n2) optimum=3 seed=1 name='SS1_ML_opt3' ;;\n*)"), std::string::npos);
    EXPECT_NE(r.out.find("explore 1 '--starts' '32' '--seed' '1' '--budget' '4000' '--region' "
                         "'F=0.3:0.3' --block \"$block/8\"\n"),
              std::string::npos);
    r = zonetool(dir, "slurm --explore 1 --starts 3");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n#SBATCH --array=0-2\n"), std::string::npos);
}

TEST(SlurmCommand, SearchSubmitHandsAllFourJobsToSbatch) {
    ScratchDir dir;
    writeStandIns(dir, "bin");
    const std::string path = "PATH=" + shellQuote(dir.file("bin")) + ":/usr/bin:/bin ";
    ProgramResult r = runProgram(dir.path(), "/usr/bin/env",
                                 path + ZONETOOL_BIN + " slurm --explore 1 -o search.sh --submit");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "explore array job 41\nmerging job 42\nfit array job 43\ncollecting job 44\n");
    dir.write("bin/sbatch", "#!/bin/bash\necho 'sbatch: error: invalid partition' >&2\nexit 1\n");
    r = runProgram(dir.path(), "/usr/bin/env",
                   path + ZONETOOL_BIN + " slurm --explore 1 -o search.sh --submit --redo");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool slurm: wrote search.sh\nsbatch: error: invalid partition\n"
                     "zonetool slurm: bash search.sh submit failed (exit status 1)\n");
}

TEST(SlurmCommand, SubmitCallsSbatchForTheArrayAndTheCollectingJob) {
    ScratchDir dir;
    writeStandIns(dir, "bin");
    dir.write("startvec1.txt", shortStart);
    const std::string path = "PATH=" + shellQuote(dir.file("bin")) + ":/usr/bin:/bin ";
    ProgramResult r = runProgram(dir.path(), "/usr/bin/env",
                                 path + ZONETOOL_BIN + " slurm 1 --seeds 3-4 -o fits.sh --submit");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "array job 41\ncollecting job 42\n");
    const std::string where = "[sbatch] in " + dir.path() + "\n";
    EXPECT_EQ(dir.read("calls.txt"),
              where + "--parsable\n" + dir.file("fits.sh") + "\n" + where +
                  "--parsable\n--dependency=afterany:41\n--array=0\n--job-name=zonefit-collect\n" +
                  dir.file("fits.sh") + "\ncollect\n");
    // An sbatch that refuses.
    dir.write("bin/sbatch", "#!/bin/bash\necho 'sbatch: error: invalid partition' >&2\nexit 1\n");
    r = runProgram(dir.path(), "/usr/bin/env",
                   path + ZONETOOL_BIN + " slurm 1 --seeds 3-4 -o fits.sh --submit --redo");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool slurm: wrote fits.sh\nsbatch: error: invalid partition\n"
                     "zonetool slurm: sbatch did not submit fits.sh (exit status 1)\n");
    EXPECT_EQ(parsableJobId("123;cluster\n"), "123");
    EXPECT_EQ(parsableJobId("123\n"), "123");
    EXPECT_EQ(parsableJobId("Submitted batch job 5\n"), "");
}

TEST(SlurmCommand, ProfileArrayChecksTheFitAndItsParameters) {
    ScratchDir dir;
    ProgramResult r = zonetool(dir, "slurm --profile 1 --parameters wSS,s");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool slurm: model 1 has no parameter 's'\n"
                     "zonetool slurm: SS1_ML_: cannot open: No such file or directory\n"
                     "zonetool slurm: nothing written\n");
    dir.write("SS1_ML_", "1 1 0.5 10 1000\n");
    dir.write("profile-SS1_ML_-F-upper.tsv", "");
    r = zonetool(dir, "slurm --profile 1 --parameters wSS,F");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool slurm: profile-SS1_ML_-F-upper.tsv exists; give --redo to let the "
                     "jobs overwrite it\nzonetool slurm: nothing written\n");
    r = zonetool(dir, "slurm --profile 1 --parameters wSS --units 1.92");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n0) parameter='wSS' side='lower' name='profile-SS1_ML_-wSS-lower' ;;\n"
                         "1) parameter='wSS' side='upper' name='profile-SS1_ML_-wSS-upper' ;;\n"),
              std::string::npos);
    // Collecting before the sides are there names the first missing one.
    r = zonetool(dir, "profile 1 --parameters wSS --collect");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool profile: profile-SS1_ML_-wSS-lower.tsv: cannot open: No such file "
                     "or directory\n");
    r = zonetool(dir, "profile 1 --side lower");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool profile: --side needs one parameter (--parameters NAME) and no "
                     "--collect\nRun 'zonetool profile --help' for usage.\n");
}

// Given, the objective reaches every call of every kind of script; not given, none carries it
// and each command keeps its own default.
TEST(SlurmCommand, TheObjectiveIsPassedOnToEveryTask) {
    ScratchDir dir;
    dir.write("startvec1.txt", shortStart);
    dir.write("SS1_ML_", "1.2 0.8 0.3 15 11518.585\n");
    const std::string objective = " '--objective' 'settled'";
    const auto count = [](const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + 1)) {
            n++;
        }
        return n;
    };
    ProgramResult r = zonetool(dir, "slurm 1 --objective settled --redo");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("--quiet --requeue --redo" + objective + "\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("compare . --all --format tsv" + objective + " >"), std::string::npos);
    EXPECT_NE(r.out.find("compare . --all --format json" + objective + " >"), std::string::npos);
    r = zonetool(dir, "slurm 1 --redo");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("--objective"), std::string::npos);

    // Every "$zonetool" call of the profile and search scripts carries it.
    for (const char* arguments :
         {"slurm --profile 1 --objective zonefit", "slurm --explore 1 --objective zonefit"}) {
        r = zonetool(dir, std::string(arguments) + " --redo");
        ASSERT_EQ(r.status, 0) << arguments << r.err;
        EXPECT_GT(count(r.out, "\"$zonetool\" "), 2u) << arguments;
        EXPECT_EQ(count(r.out, "'--objective' 'zonefit'"), count(r.out, "\"$zonetool\" "))
            << arguments << r.out;
    }
}

namespace {

// Two loci, A and B, at the same five sites 50 units apart.
const char* const twoLoci = "site\tlocus\tposition\tdistance\tSS\tSI\tII\n"
                            "a\tA\t0\t50\t10\t2\t0\nb\tA\t50\t50\t8\t2\t2\n"
                            "c\tA\t100\t50\t6\t2\t4\nd\tA\t150\t50\t4\t2\t6\n"
                            "e\tA\t200\tNA\t2\t2\t8\n"
                            "a\tB\t0\t50\t9\t3\t0\nb\tB\t50\t50\t9\t3\t0\n"
                            "c\tB\t100\t50\t3\t3\t6\nd\tB\t150\t50\t0\t3\t9\n"
                            "e\tB\t200\tNA\t0\t3\t9\n";

} // namespace

TEST(SlurmCommand, LociAreSpreadOverTheArray) {
    ScratchDir dir;
    dir.write("startvec1.txt", "1.2 0.8 0.3 5\n0 0 0.05 2\n");
    dir.write("loci.tsv", twoLoci);
    dir.write("one.tsv", "site position distance SS SI II\na 0 1 1 1 1\nb 1 1 1 1 1\n"
                         "c 2 NA 1 1 1\n");
    const std::string help = "Run 'zonetool slurm --help' for usage.\n";
    const std::pair<const char*, std::string> usage[] = {
        {"slurm 1 --loci all", "--loci needs --data FILE, a file with a locus column"},
        {"slurm 1 --data loci.tsv --loci", "--loci needs a list of loci"},
        {"slurm 1 --data loci.tsv --loci A,",
         "--loci needs locus names separated by commas, or all"},
        {"slurm 1 --data loci.tsv --loci A,,B",
         "--loci needs locus names separated by commas, or all"},
        {"slurm 1 --data loci.tsv --loci B,A,B", "--loci names locus 'B' twice"},
        {"slurm 1 --data loci.tsv --loci A --loci B", "--loci is given twice"},
        {"slurm 1 --data loci.tsv --loci A --locus A",
         "--loci and --locus cannot be used together"},
        {"slurm --profile 1 --data loci.tsv --loci A",
         "--loci works with arrays of fits, not with --profile; give --locus NAME"},
        {"slurm --explore 1 --data loci.tsv --loci all",
         "--loci works with arrays of fits, not with --explore; give --locus NAME"},
        {"slurm 1-10 --seeds 1-600 --data loci.tsv --loci all", "more than 10000 tasks"},
    };
    for (const auto& [arguments, problem] : usage) {
        const ProgramResult r = zonetool(dir, arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.err, "zonetool slurm: " + problem + "\n" + help) << arguments;
        EXPECT_EQ(r.out, "") << arguments;
    }
    // Only slurm spreads loci.
    ProgramResult r = zonetool(dir, "fit 1 --data loci.tsv --loci all");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "Error in loci.tsv: the file holds 2 loci; choose one with --locus NAME (A, B)\n");
    const std::pair<const char*, const char*> files[] = {
        {"slurm 1 --data loci.tsv --loci A,C",
         "Error in loci.tsv: no locus 'C' (the loci are A, B)\n"},
        {"slurm 1 --data one.tsv --loci all",
         "Error in one.tsv: the file has no locus column; --loci cannot be used\n"},
    };
    for (const auto& [arguments, message] : files) {
        r = zonetool(dir, arguments);
        EXPECT_EQ(r.status, 1) << arguments;
        EXPECT_EQ(r.err, message) << arguments;
    }

    // all: every locus in the file's order, each model and seed in turn within it.
    r = zonetool(dir, "slurm 1 --seeds 1-2 --data loci.tsv --loci all");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n#SBATCH --array=0-3\n"), std::string::npos);
    EXPECT_NE(
        r.out.find(
            "\n0) model=1 seed=1 name='locus-A/SS1_ML_seed1' locus='A' folder='locus-A' ;;\n"
            "1) model=1 seed=2 name='locus-A/SS1_ML_seed2' locus='A' folder='locus-A' ;;\n"
            "2) model=1 seed=1 name='locus-B/SS1_ML_seed1' locus='B' folder='locus-B' ;;\n"
            "3) model=1 seed=2 name='locus-B/SS1_ML_seed2' locus='B' folder='locus-B' ;;\n*)"),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("compare 'locus-B' --all --format json '--data' " +
                         shellQuote(dir.file("loci.tsv")) + " --locus 'B' >"),
              std::string::npos);
    EXPECT_EQ(r.out.find("compare . "), std::string::npos);

    // A list: those loci, in its order; their results are checked as any others.
    mkdir(dir.file("locus-B").c_str(), 0755);
    dir.write("locus-B/SS1_ML_", "1 1 0.5 10 1000\n");
    r = zonetool(dir, "slurm 1 --data loci.tsv --loci B,A -o fits.sh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool slurm: locus-B/SS1_ML_ exists; give --redo to let the jobs "
                     "overwrite it\nzonetool slurm: nothing written\n");
    std::remove(dir.file("locus-B/SS1_ML_").c_str());
    r = zonetool(dir, "slurm 1 --data loci.tsv --loci B");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(
        r.out.find("\n0) model=1 seed=1 name='locus-B/SS1_ML_' locus='B' folder='locus-B' ;;\n*)"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("locus-A"), std::string::npos);
}
