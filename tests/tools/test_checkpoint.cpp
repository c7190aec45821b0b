// Checkpointed fits: stopped at random moments by every kind of signal and resumed, they end
// exactly as uninterrupted fits; damaged or foreign checkpoints are refused and left alone.
#include "tools/analysis/checkpoint.h"

#include "support/run_program.h"
#include "tools/formats/data_option.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <thread>

namespace {

const char* const shortStart = "1.2 0.8 0.3 15\n0 0 0.05 2\n";

// Starts zonetool in `dir` with output to out.txt and err.txt there; returns its process id.
pid_t startZonetool(const ScratchDir& dir, const std::vector<std::string>& args,
                    const char* stallMs = nullptr) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.path().c_str()) != 0) {
            _exit(99);
        }
        const int out = open("out.txt", O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int err = open("err.txt", O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        if (stallMs != nullptr) {
            setenv("ZONETOOL_TEST_CHECKPOINT_STALL_MS", stallMs, 1);
        }
        std::vector<char*> argv;
        std::string program = ZONETOOL_BIN;
        argv.push_back(&program[0]);
        std::vector<std::string> copy = args;
        for (std::string& a : copy) {
            argv.push_back(&a[0]);
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(98);
    }
    return pid;
}

int waitStatus(pid_t pid) {
    int raw = 0;
    waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

const std::vector<std::string> fitArgs = {"fit",          "1",      "--seed",  "1",
                                          "--checkpoint", "c.ckpt", "--trace", "t.tsv"};

struct Files {
    std::string result, trace, log;
};

Files filesOf(const ScratchDir& dir) {
    return {dir.read("SS1_ML_"), dir.read("t.tsv"), dir.read("SS1_ML_.log")};
}

// The uninterrupted fit, made once for all tests.
const Files& reference() {
    static const Files files = [] {
        ScratchDir dir;
        dir.write("startvec1.txt", shortStart);
        EXPECT_EQ(waitStatus(startZonetool(dir, fitArgs)), 0);
        return filesOf(dir);
    }();
    return files;
}

bool waitFor(const std::function<bool()>& condition) {
    for (int k = 0; k < 12000; k++) { // up to a minute on a busy machine
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool hasTemporaryCheckpoint(const ScratchDir& dir) {
    const std::string listing = runProgram(dir.path(), "/bin/ls", "").out;
    return listing.find("c.ckpt.tmp") != std::string::npos;
}

// A directory holding a checkpoint of the short fit, stopped after a few calls.
void makeCheckpoint(const ScratchDir& dir) {
    dir.write("startvec1.txt", shortStart);
    const pid_t pid = startZonetool(dir, fitArgs);
    ASSERT_TRUE(waitFor([&] { return dir.read("t.tsv").size() > 300; }));
    kill(pid, SIGTERM);
    ASSERT_EQ(waitStatus(pid), 75);
    ASSERT_TRUE(dir.exists("c.ckpt"));
}

} // namespace

TEST(CheckpointedFit, UninterruptedWritesWhatThePlainFitWritesAndRemovesTheCheckpoint) {
    ScratchDir dir;
    dir.write("startvec1.txt", shortStart);
    const ProgramResult plain = runProgram(dir.path(), ZONETOOL_BIN, "fit 1 --seed 1 --quiet");
    ASSERT_EQ(plain.status, 0);
    EXPECT_EQ(reference().result, dir.read("SS1_ML_"));
    // The log is the fit's standard output after the seed line.
    EXPECT_EQ(reference().log, "seed: 1\n" + plain.out);
    EXPECT_EQ(reference().log.rfind("seed: 1\nWe'll do model 1: SS_1\n", 0), 0u) << reference().log;
    EXPECT_FALSE(dir.exists("c.ckpt"));

    // --result names the result file and the log.
    const ProgramResult named = runProgram(
        dir.path(), ZONETOOL_BIN, "fit 1 --seed 1 --result mine --checkpoint m.ckpt --quiet");
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(named.out, "");
    EXPECT_EQ(dir.read("mine"), reference().result);
    EXPECT_EQ(dir.read("mine.log"), reference().log);
    EXPECT_FALSE(dir.exists("m.ckpt"));
}

// Waits until the fit `pid` has written a checkpoint other than `before` (or removed it at the
// end) or has ended; true if it has ended, with its status in `status`.
bool waitForNewCheckpointOrEnd(const ScratchDir& dir, pid_t pid, const std::string& before,
                               int& status) {
    for (int k = 0; k < 12000; k++) { // up to a minute on a busy machine
        int raw = 0;
        if (waitpid(pid, &raw, WNOHANG) == pid) {
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            return true;
        }
        if (dir.read("c.ckpt") != before) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

// Every signal, at moments drawn from a seeded generator, as often as it takes: the files at
// the end are those of the fit that was never stopped. Most runs are stopped at a random moment
// after they have saved one more checkpoint, so that the fit moves on however slow the machine;
// the others at a random moment soon after the start, which may fall while the program is still
// being loaded or while it reads its checkpoint.
TEST(CheckpointedFit, StoppedByEverySignalAtRandomMomentsEndsAsTheUninterruptedFit) {
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> earlyMs(0, 60);
    std::uniform_int_distribution<int> laterMs(0, 120);
    std::bernoulli_distribution early(0.25);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGKILL}) {
        ScratchDir dir;
        dir.write("startvec1.txt", shortStart);
        int stops = 0;
        bool finished = false;
        for (int run = 0; run < 100 && !finished; run++) {
            const std::string before = dir.read("c.ckpt");
            const pid_t pid = startZonetool(dir, fitArgs);
            int status = 0;
            if (early(random)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(earlyMs(random)));
            } else if (waitForNewCheckpointOrEnd(dir, pid, before, status)) {
                ASSERT_EQ(status, 0) << strsignal(signal) << "\n" << dir.read("err.txt");
                break;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(laterMs(random)));
            }
            kill(pid, signal);
            status = waitStatus(pid);
            // A signal that comes after the result is written, as the program ends, ends it
            // by default: the fit is done all the same.
            finished = status == 0 || dir.exists("SS1_ML_");
            // A signal that comes while the program is still being loaded ends it by default,
            // before it has touched any file.
            if (status == 75 || (signal == SIGKILL && status == 128 + SIGKILL)) {
                stops++;
            } else if (!finished) {
                ASSERT_EQ(status, 128 + signal) << strsignal(signal) << "\n" << dir.read("err.txt");
            }
        }
        const Files files = filesOf(dir);
        EXPECT_GT(stops, 0) << strsignal(signal); // stopped at least once
        EXPECT_EQ(files.result, reference().result) << strsignal(signal);
        EXPECT_EQ(files.trace, reference().trace) << strsignal(signal);
        EXPECT_EQ(files.log, reference().log) << strsignal(signal);
        if (signal != SIGKILL) {
            EXPECT_NE(dir.read("err.txt").find("zonetool fit: stopped by "), std::string::npos);
        }
    }
}

TEST(CheckpointedFits, SeveralStoppedTogetherResumeToTheFitsRunWithoutCheckpoints) {
    ScratchDir plain;
    plain.write("startvec1.txt", shortStart);
    ASSERT_EQ(runProgram(plain.path(), ZONETOOL_BIN, "fit 1 --seeds 1-2 --jobs 2 --quiet").status,
              0);
    ScratchDir dir;
    dir.write("startvec1.txt", shortStart);
    const std::vector<std::string> args = {"fit",    "1", "--seeds",      "1-2",
                                           "--jobs", "2", "--checkpoints"};
    const pid_t pid = startZonetool(dir, args);
    ASSERT_TRUE(waitFor([&] { return dir.exists("SS1_ML_seed2.ckpt"); }));
    kill(pid, SIGTERM);
    ASSERT_EQ(waitStatus(pid), 75);
    EXPECT_NE(dir.read("out.txt").find("  stopped  "), std::string::npos) << dir.read("out.txt");
    EXPECT_NE(dir.read("err.txt").find("zonetool fit: stopped; 2 fits can be resumed by running "
                                       "the same command again. Exiting (75)\n"),
              std::string::npos)
        << dir.read("err.txt");
    ASSERT_EQ(waitStatus(startZonetool(dir, args)), 0);
    for (const char* name :
         {"SS1_ML_seed1", "SS1_ML_seed2", "SS1_ML_seed1.log", "SS1_ML_seed2.log"}) {
        EXPECT_EQ(dir.read(name), plain.read(name)) << name;
    }
    EXPECT_FALSE(dir.exists("SS1_ML_seed1.ckpt"));
}

std::string firstLines(const std::string& text, int count) {
    std::size_t end = 0;
    for (int k = 0; k < count && end != std::string::npos; k++) {
        end = text.find('\n', end);
        end = end == std::string::npos ? end : end + 1;
    }
    return text.substr(0, end);
}

// A longer fit (all four parameters free, about a second per call), stopped three times within
// its first six calls, follows the uninterrupted fit call by call.
TEST(CheckpointedFit, LongerFitStoppedRepeatedlyFollowsTheUninterruptedOne) {
    const char* const start = "1.2 0.8 0.3 15\n0.05 0.05 0.05 2\n";
    auto traceLines = [](const ScratchDir& dir) {
        const std::string trace = dir.read("t.tsv");
        return static_cast<int>(std::count(trace.begin(), trace.end(), '\n'));
    };
    ScratchDir whole;
    whole.write("startvec1.txt", start);
    const pid_t pid = startZonetool(whole, fitArgs);
    ASSERT_TRUE(waitFor([&] { return traceLines(whole) >= 6; }));
    kill(pid, SIGTERM);
    ASSERT_EQ(waitStatus(pid), 75);

    ScratchDir stopped;
    stopped.write("startvec1.txt", start);
    const int signals[] = {SIGINT, SIGHUP, SIGUSR1};
    for (int k = 0; k < 3; k++) {
        const pid_t part = startZonetool(stopped, fitArgs);
        ASSERT_TRUE(waitFor([&] { return traceLines(stopped) >= 2 * (k + 1); }));
        kill(part, signals[k]);
        ASSERT_EQ(waitStatus(part), 75);
    }
    EXPECT_EQ(firstLines(stopped.read("t.tsv"), 6), firstLines(whole.read("t.tsv"), 6));
    EXPECT_EQ(stopped.read("SS1_ML_.log"), whole.read("SS1_ML_.log"));
}

TEST(CheckpointedFit, KilledWhileWritingTheCheckpointResumesFromTheOneBefore) {
    ScratchDir dir;
    dir.write("startvec1.txt", shortStart);
    for (int kill_ = 0; kill_ < 3; kill_++) {
        const pid_t pid = startZonetool(dir, fitArgs, "2000");
        ASSERT_TRUE(waitFor([&] { return hasTemporaryCheckpoint(dir); }));
        kill(pid, SIGKILL);
        ASSERT_EQ(waitStatus(pid), 128 + SIGKILL);
        runProgram(dir.path(), "/bin/sh", "-c 'rm -f c.ckpt.tmp*'");
    }
    ASSERT_EQ(waitStatus(startZonetool(dir, fitArgs)), 0);
    const Files files = filesOf(dir);
    EXPECT_EQ(files.result, reference().result);
    EXPECT_EQ(files.trace, reference().trace);
    EXPECT_EQ(files.log, reference().log);
}

// Each refusal names the problem on standard error, exits with 1, and leaves the checkpoint
// byte for byte as it was.
TEST(CheckpointedFit, DamagedForeignAndOtherVersionCheckpointsAreRefusedAndKept) {
    ScratchDir dir;
    makeCheckpoint(dir);
    const std::string good = dir.read("c.ckpt");
    Checkpoint parsed;
    std::string error;
    ASSERT_TRUE(parseCheckpoint(good, parsed, error)) << error;
    Checkpoint otherProgram = parsed;
    otherProgram.program = "zonetool 0.9";
    std::string corrupted = good;
    corrupted[good.size() / 2] = corrupted[good.size() / 2] == '1' ? '2' : '1';
    std::string olderFormat = good;
    olderFormat.replace(0, std::strlen("zonefit-checkpoint 1"), "zonefit-checkpoint 0");
    dir.write("startvec2.txt", "1 1 1 1 0.5 10 50\n0 0 0 0 0 0 0\n");
    dir.write("other.txt", "1.2 0.8 0.3 15\n0 0 0.05 3\n");

    const std::string base = "fit 1 --seed 1 --checkpoint c.ckpt --trace t.tsv";
    const struct {
        std::string content;
        std::string arguments;
        std::string message;
    } cases[] = {
        {corrupted, base,
         "c.ckpt is truncated or damaged (checksum does not match); it is left as it is. Remove "
         "it to start the fit afresh"},
        {good.substr(0, good.size() / 3), base,
         "c.ckpt is truncated or damaged (no checksum line); it is left as it is. Remove it to "
         "start the fit afresh"},
        {"SS1_ML_ 1 2 3\n", base,
         "c.ckpt is not a zonetool checkpoint; it is left as it is (remove it or name another "
         "file)"},
        {olderFormat, base,
         "c.ckpt is a checkpoint of format 0; this zonetool reads format 1 only. It is left as "
         "it is"},
        {formatCheckpoint(otherProgram), base,
         std::string("c.ckpt was written by zonetool 0.9, not by this ") +
             checkpointProgramVersion +
             "; finish the fit with that version or remove c.ckpt. It is left as it is"},
        {good, "fit 2 --seed 1 --checkpoint c.ckpt",
         "c.ckpt is a checkpoint of model 1, not of model 2. It is left as it is"},
        {good, "fit 1 --seed 2 --checkpoint c.ckpt --trace t.tsv",
         "c.ckpt is a checkpoint of a fit with seed 1, not with seed 2. It is left as it is"},
        {good, "fit 1 --checkpoint c.ckpt --trace t.tsv",
         "c.ckpt is a checkpoint of a fit with seed 1, not with the clock as seed. It is left as "
         "it is"},
        {good, base + " --start other.txt",
         "c.ckpt is a checkpoint of a fit from another start vector or other steps than "
         "other.txt. It is left as it is"},
        {good, "fit 1 --seed 1 --checkpoint c.ckpt",
         "c.ckpt is a checkpoint of a fit with --trace; give the same options to resume it"},
        {good, base + " --objective settled",
         "c.ckpt is a checkpoint of a fit with objective zonefit, not with objective settled. It "
         "is left as it is"},
    };
    const std::string log = dir.read("SS1_ML_.log");
    for (const auto& c : cases) {
        dir.write("c.ckpt", c.content);
        const ProgramResult r = runProgram(dir.path(), ZONETOOL_BIN, c.arguments + " --quiet");
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_EQ(r.err, "zonetool fit: " + c.message + "\n");
        EXPECT_EQ(dir.read("c.ckpt"), c.content) << c.message;
        EXPECT_EQ(dir.read("SS1_ML_.log"), log) << c.message;
    }
    // A log cut shorter than the checkpoint records cannot be continued.
    dir.write("c.ckpt", good);
    dir.write("SS1_ML_.log", "SS");
    const ProgramResult r = runProgram(dir.path(), ZONETOOL_BIN, base + " --quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool fit: SS1_ML_.log is missing or shorter than the " +
                         std::to_string(parsed.logBytes) +
                         " bytes c.ckpt records; the fit cannot be resumed\n");
    EXPECT_EQ(dir.read("c.ckpt"), good);
}

TEST(CheckpointFormat, ReadsBackEveryValueBitForBit) {
    Checkpoint c;
    c.model = 3;
    c.seed = 18446744073709551615ULL;
    c.start = {0.1, -0.0, 1e-310};
    c.steps = {0.0, 1.0 / 3.0, 2.5};
    c.state.stage = 4;
    c.state.cycle = 5;
    c.state.call = 17;
    c.state.temperature = 0.5 * 0.9 * 0.9;
    c.state.converged = true;
    c.state.annealer.vertexCount = 4;
    c.state.annealer.dimension = 3;
    for (int k = 0; k < 12; k++) {
        c.state.annealer.simplex.push_back(1.0 / (k + 3));
    }
    c.state.annealer.vertexValues = {1141.25, std::numeric_limits<double>::max(), 2.0, 3.0};
    c.state.annealer.bestPoint = {0.0, 0.0, 0.0};
    c.state.annealer.bestValue = std::numeric_limits<double>::infinity();
    c.state.annealer.negTemperature = -0.405;
    c.state.annealer.generator = 0x8000000000000001ULL;
    c.evaluations = 123456;
    c.progressBest = 1141.2345678901234;
    c.cpuSeconds = 12.5;
    c.wallSeconds = 13.25;
    c.logBytes = 4096;
    c.traceBytes = -1;
    const std::string text = formatCheckpoint(c);
    Checkpoint back;
    std::string error;
    ASSERT_TRUE(parseCheckpoint(text, back, error)) << error;
    EXPECT_EQ(formatCheckpoint(back), text);
    EXPECT_EQ(back.seed, c.seed);
    EXPECT_EQ(back.state.annealer.simplex, c.state.annealer.simplex);
    EXPECT_EQ(back.state.annealer.vertexValues, c.state.annealer.vertexValues);
    EXPECT_TRUE(std::signbit(back.start[1]));
    EXPECT_EQ(back.start[2], 1e-310);
    EXPECT_EQ(back.state.annealer.generator, c.state.annealer.generator);
    EXPECT_TRUE(back.state.converged);

    // A state that cannot continue a fit of its start vector is no checkpoint.
    c.start.pop_back();
    c.steps.pop_back();
    EXPECT_FALSE(parseCheckpoint(formatCheckpoint(c), back, error));
    EXPECT_EQ(error, "the saved state does not fit its start vector");
}

TEST(CheckpointedFit, RequeueRunsScontrolUnderSlurmAndSaysSo) {
    ScratchDir dir;
    dir.write("startvec1.txt", shortStart);
    ASSERT_EQ(mkdir(dir.file("bin").c_str(), 0755), 0);
    dir.write("bin/scontrol", "#!/bin/sh\necho \"$@\" > \"$PWD/scontrol-args\"\n");
    chmod(dir.file("bin/scontrol").c_str(), 0755);
    const std::string command = "env PATH=" + shellQuote(dir.file("bin")) +
                                ":/usr/bin:/bin SLURM_JOB_ID=4711 " + shellQuote(ZONETOOL_BIN) +
                                " fit 1 --seed 1 --checkpoint c.ckpt --requeue --quiet & p=$!; "
                                "sleep 0.4; kill -USR1 $p; wait $p";
    const ProgramResult r = runProgram(dir.path(), "/bin/sh", "-c " + shellQuote(command));
    EXPECT_EQ(r.status, 75) << r.err;
    EXPECT_EQ(r.err, "zonetool fit: stopped by SIGUSR1; run the same command again to resume "
                     "from c.ckpt. Exiting (75)\nzonetool fit: requeued Slurm job 4711\n");
    EXPECT_EQ(dir.read("scontrol-args"), "requeue 4711\n");

    const std::string unset = "env -u SLURM_JOB_ID " + shellQuote(ZONETOOL_BIN) +
                              " fit 1 --seed 1 --checkpoint d.ckpt --requeue --quiet & p=$!; "
                              "sleep 0.4; kill -TERM $p; wait $p";
    const ProgramResult u = runProgram(dir.path(), "/bin/sh", "-c " + shellQuote(unset));
    EXPECT_EQ(u.status, 75);
    EXPECT_EQ(u.err, "zonetool fit: stopped by SIGTERM; run the same command again to resume "
                     "from d.ckpt. Exiting (75)\nzonetool fit: --requeue: SLURM_JOB_ID is not "
                     "set, so nothing was requeued\n");
}

TEST(FitProgress, PlainLinesWhenStandardErrorIsNoTerminal) {
    ScratchDir dir;
    dir.write("startvec1.txt", shortStart);
    const ProgramResult r = runProgram(dir.path(), ZONETOOL_BIN, "fit 1 --seed 1 --trace t.tsv");
    ASSERT_EQ(r.status, 0);
    const std::string trace = dir.read("t.tsv");
    // One line per anneal call, each whole, without the terminal's control characters.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'),
              std::count(trace.begin(), trace.end(), '\n'));
    EXPECT_EQ(r.err.rfind("progress: stage 1 cycle 1 call 1  T 20  evaluations ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    EXPECT_EQ(r.err.find('\033'), std::string::npos);
    EXPECT_NE(r.err.find("\nprogress: stage 4 cycle 5 call "), std::string::npos);
    const ProgramResult quiet =
        runProgram(dir.path(), ZONETOOL_BIN, "fit 1 --seed 1 --quiet --redo");
    EXPECT_EQ(quiet.err, "");
}

TEST(ZonefitBanner, IsInARedirectedOutputBeforeTheFitEnds) {
    ScratchDir dir;
    dir.write("startvec1.txt", shortStart);
    const std::string command = shellQuote(ZONEFIT_BIN) + " 1 > banner.txt & p=$!; sleep 0.3; "
                                                          "kill -TERM $p; wait $p";
    const ProgramResult r = runProgram(dir.path(), "/bin/sh", "-c " + shellQuote(command));
    EXPECT_EQ(r.status, 143);
    EXPECT_EQ(dir.read("banner.txt").rfind("We'll do model 1: SS_1\n", 0), 0u)
        << dir.read("banner.txt");
}

TEST(CheckpointFormat, RecordsTheObjectiveAndReadsOlderFilesAsZonefit) {
    Checkpoint c;
    c.model = 1;
    c.objective = ObjectiveKind::settled;
    c.start = {1.2, 0.8, 0.3, 15};
    c.steps = {0, 0, 0.05, 2};
    c.state.annealer.vertexCount = 5;
    c.state.annealer.dimension = 4;
    c.state.annealer.simplex.assign(20, 1.0);
    c.state.annealer.vertexValues.assign(5, 1200.0);
    c.state.annealer.bestPoint.assign(4, 1.0);
    const std::string text = formatCheckpoint(c);
    EXPECT_NE(text.find("\nseed clock\nobjective settled\nstart 4 "), std::string::npos) << text;
    Checkpoint back;
    std::string error;
    ASSERT_TRUE(parseCheckpoint(text, back, error)) << error;
    EXPECT_EQ(back.objective, ObjectiveKind::settled);

    // The same text with another objective line, or none, and its checksum made anew.
    const auto withObjectiveLine = [&text](const std::string& line) {
        std::string body = text.substr(0, text.rfind("checksum "));
        body.replace(body.find("objective settled\n"), 18, line);
        return body + "checksum " + fnv1a64(body) + "\n";
    };
    ASSERT_TRUE(parseCheckpoint(withObjectiveLine(""), back, error)) << error;
    EXPECT_EQ(back.objective, ObjectiveKind::zonefit);
    EXPECT_FALSE(parseCheckpoint(withObjectiveLine("objective best\n"), back, error));
    EXPECT_EQ(error, "line 5: bad objective 'best'");
    EXPECT_FALSE(parseCheckpoint(withObjectiveLine("objective settled 2\n"), back, error));
    EXPECT_EQ(error, "line 5: unexpected '2'");
}
