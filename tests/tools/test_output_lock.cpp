// Output locks: a second run writing the same names is refused at once and names the first, a
// lock left by a run that has ended is taken over, a lock goes away however its run ends, and
// the final rename keeps a file that appeared during the run.
#include "tools/formats/output_lock.h"

#include "support/quick_fit.h"
#include "support/run_program.h"
#include "tools/formats/fit_record.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string hostName() {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    return host;
}

// The id of a process that has ended.
long deadPid() {
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return static_cast<long>(child);
}

// A lock file of the process `pid` on `host`, started at 01:00:00 with `command`.
std::string lockOf(long pid, const std::string& host, const std::string& command) {
    return "zonetool lock\npid " + std::to_string(pid) + "\nhost " + host +
           "\nboot \nticks -1\nslurm \nrestarts 0\nstarted 2026-12-10 01:00:00 UTC\ncommand " +
           command + "\n";
}

// The refusal of a name held by this test process (as lockOf writes it).
std::string heldMessage(const std::string& command, const std::string& name) {
    return "zonetool " + command + ": " + name + " is being written by another run (pid " +
           std::to_string(static_cast<long>(getpid())) + " on host " + hostName() +
           ", started 2026-12-10 01:00:00 UTC: zonetool fit 1); wait for it to end or write "
           "elsewhere (if that run is gone, remove " +
           name + ".lock)\n";
}

// Starts zonetool with `args` in `dir`, its output streams to OUT and ERR there.
pid_t startZonetool(const ScratchDir& dir, const std::vector<std::string>& args,
                    const std::string& out = "out.txt", const std::string& err = "err.txt") {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.path().c_str()) != 0) {
            _exit(99);
        }
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
        std::vector<std::string> words = args;
        words.insert(words.begin(), ZONETOOL_BIN);
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(&word[0]);
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(98);
    }
    return pid;
}

int waitStatus(pid_t pid) {
    int raw = 0;
    waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
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

// The processor time `pid` has used, in clock ticks (user and system, from /proc); -1 once it
// cannot be read.
long cpuTicks(pid_t pid) {
    std::FILE* f =
        std::fopen(("/proc/" + std::to_string(static_cast<long>(pid)) + "/stat").c_str(), "r");
    if (f == nullptr) {
        return -1;
    }
    char text[1024] = {0};
    const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    // Fields after the command name, which ends at the last ')': state is field 3, utime 14,
    // stime 15.
    const char* rest = std::strrchr(text, ')');
    if (n == 0 || rest == nullptr) {
        return -1;
    }
    long user = 0;
    long system = 0;
    if (std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &user,
                    &system) != 2) {
        return -1;
    }
    return user + system;
}

ProgramResult zonetool(const ScratchDir& dir, const std::string& arguments) {
    return runProgram(dir.path(), ZONETOOL_BIN, arguments);
}

// About 0.8 s of fitting; the penalty start converges at once.
const char* const slowerStart = "1.2 0.8 0.3 15\n0 0.05 0.05 2\n";
const char* const shortStart = "1.2 0.8 0.3 15\n0 0 0.05 2\n";

} // namespace

TEST(LockFile, ReadsBackAndRefusesOtherFiles) {
    LockHolder holder;
    holder.pid = 1234;
    holder.host = "node1";
    holder.boot = "b0";
    holder.ticks = 5678;
    holder.slurmJob = "77_3";
    holder.restarts = 2;
    holder.started = "2026-12-10 02:31:05 UTC";
    holder.command = "zonetool fit 1 --seed 2";
    LockHolder back;
    ASSERT_TRUE(parseLock(lockText(holder), back));
    EXPECT_EQ(lockText(back), lockText(holder));
    EXPECT_EQ(describeHolder(back), "pid 1234 on host node1 in Slurm job 77_3, started "
                                    "2026-12-10 02:31:05 UTC: zonetool fit 1 --seed 2");
    EXPECT_FALSE(parseLock("", back));
    EXPECT_FALSE(parseLock("0 0 0 0 1.7976931e+308\n", back));
    EXPECT_FALSE(parseLock("zonetool lock\nhost node1\n", back));          // no pid
    EXPECT_FALSE(parseLock("zonetool lock\npid 12x\nhost node1\n", back)); // a bad one
    EXPECT_FALSE(parseLock("zonetool lock\npid 12\n", back));              // no host
    // A command line cannot break the file into more lines.
    EXPECT_EQ(thisProcess("fit --result 'a\nb'").command, "fit --result 'a?b'");
}

TEST(LockHolder, IsGoneOnlyWhenThatIsCertain) {
    const LockHolder self = thisProcess("zonetool fit 1");
    ASSERT_EQ(self.pid, static_cast<long>(getpid()));
    ASSERT_GT(self.ticks, 0);
    // The parent of this process lives and started when /proc says.
    LockHolder parent = thisProcess("");
    parent.pid = static_cast<long>(getppid());
    parent.ticks = -1;
    EXPECT_FALSE(holderGone(parent, self));
    parent.ticks = self.ticks + 1; // the id, now taken by another process
    EXPECT_TRUE(holderGone(parent, self));
    EXPECT_FALSE(holderGone(self, self));

    LockHolder dead = self;
    dead.pid = deadPid();
    EXPECT_TRUE(holderGone(dead, self));
    LockHolder rebooted = parent;
    rebooted.ticks = -1;
    rebooted.boot = "another boot";
    EXPECT_EQ(holderGone(rebooted, self), !self.boot.empty());

    // Elsewhere nothing can be seen: alive, unless an earlier run of the same Slurm job.
    LockHolder remote = dead;
    remote.host = "node1";
    EXPECT_FALSE(holderGone(remote, self));
    LockHolder requeued = self;
    requeued.slurmJob = "77_3";
    requeued.restarts = 1;
    remote.slurmJob = "77_3";
    remote.restarts = 0;
    EXPECT_TRUE(holderGone(remote, requeued));
    remote.restarts = 1; // another task of that very run
    EXPECT_FALSE(holderGone(remote, requeued));
    remote.slurmJob = "77_4";
    remote.restarts = 0;
    EXPECT_FALSE(holderGone(remote, requeued));
}

TEST(OutputLocks, TakeEveryNameOrNoneAndReleaseThem) {
    ScratchDir dir;
    const LockHolder self = thisProcess("zonetool fit 1-2");
    const std::string a = dir.file("SS1_ML_");
    const std::string b = dir.file("SS2_ML_");
    std::string error;
    std::vector<std::string> warnings;
    {
        OutputLocks locks;
        ASSERT_TRUE(locks.take({a, b, a, ""}, self, error, warnings)) << error;
        EXPECT_EQ(locks.paths(), (std::vector<std::string>{a + ".lock", b + ".lock"}));
        EXPECT_EQ(dir.read("SS1_ML_.lock"), lockText(self));
        EXPECT_TRUE(warnings.empty());
        // A second run finds them held, whatever its host.
        LockHolder other = self;
        other.host = "node1";
        OutputLocks second;
        EXPECT_FALSE(second.take({b}, other, error, warnings));
        EXPECT_EQ(error, b + " is being written by another run (" + describeHolder(self) +
                             "); wait for it to end or write elsewhere (if that run is gone, "
                             "remove " +
                             b + ".lock)");
        EXPECT_TRUE(second.paths().empty());
    }
    EXPECT_FALSE(dir.exists("SS1_ML_.lock"));
    EXPECT_FALSE(dir.exists("SS2_ML_.lock"));

    // One name held elsewhere: none is taken.
    dir.write("SS2_ML_.lock", lockOf(4321, "node1", "zonetool fit 2"));
    OutputLocks locks;
    EXPECT_FALSE(locks.take({a, b}, self, error, warnings));
    EXPECT_FALSE(dir.exists("SS1_ML_.lock"));
    EXPECT_EQ(dir.read("SS2_ML_.lock"), lockOf(4321, "node1", "zonetool fit 2"));
    // A file of that name that is no lock is not taken for one, nor removed.
    dir.write("SS2_ML_.lock", "notes\n");
    EXPECT_FALSE(locks.take({b}, self, error, warnings));
    EXPECT_EQ(
        error,
        b + ".lock exists but is not a lock file of zonetool; remove it if no run is writing " + b);
    EXPECT_EQ(dir.read("SS2_ML_.lock"), "notes\n");
    // A directory that takes no files: no lock, and the write there fails on its own.
    EXPECT_TRUE(locks.take({dir.file("missing/SS1_ML_")}, self, error, warnings));
    EXPECT_TRUE(locks.paths().empty());
    EXPECT_TRUE(warnings.empty());
}

TEST(OutputLocks, ALockOfAProcessThatHasEndedIsTakenOver) {
    ScratchDir dir;
    const LockHolder self = thisProcess("zonetool fit 1");
    const long dead = deadPid();
    dir.write("SS1_ML_.lock", lockOf(dead, self.host, "zonetool fit 1 --seed 3"));
    OutputLocks locks;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(locks.take({dir.file("SS1_ML_")}, self, error, warnings)) << error;
    EXPECT_EQ(dir.read("SS1_ML_.lock"), lockText(self));
    EXPECT_EQ(warnings, std::vector<std::string>{"warning: " + dir.file("SS1_ML_.lock") +
                                                 " was left by a run that has ended (pid " +
                                                 std::to_string(dead) + " on host " + self.host +
                                                 ", started 2026-12-10 01:00:00 UTC: zonetool "
                                                 "fit 1 --seed 3); it is taken over"});
    const std::string listing = runProgram(dir.path(), "/bin/ls", "-A").out;
    EXPECT_EQ(listing, "SS1_ML_.lock\n");
}

// A stop signal that comes as soon as the locks are taken, before the command has a signal
// guard of its own, removes them and ends the process by that signal.
TEST(OutputLocks, AStopSignalRightAfterTakingThemRemovesThem) {
    ScratchDir dir;
    const std::string a = dir.file("SS1_ML_");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        OutputLocks locks;
        std::string error;
        std::vector<std::string> warnings;
        const bool taken = locks.take({a}, thisProcess("zonetool fit 1"), error, warnings);
        raise(SIGTERM);
        _exit(taken ? 0 : 3);
    }
    int raw = 0;
    ASSERT_EQ(waitpid(child, &raw, 0), child);
    ASSERT_TRUE(WIFSIGNALED(raw));
    EXPECT_EQ(WTERMSIG(raw), SIGTERM);
    EXPECT_FALSE(dir.exists("SS1_ML_.lock"));
}

// Two fits of the same names started together: one runs, the other is refused before it has
// done anything, naming the first; the result and record are the first one's, whole.
TEST(FitLock, OfTwoFitsStartedTogetherOneRunsAndTheOtherIsRefusedAtOnce) {
    ScratchDir dir;
    dir.write("startvec1.txt", slowerStart);
    const pid_t first =
        startZonetool(dir, {"fit", "1", "--quiet", "--seed", "1"}, "out1.txt", "err1.txt");
    const pid_t second =
        startZonetool(dir, {"fit", "1", "--quiet", "--seed", "2"}, "out2.txt", "err2.txt");
    // Whichever took the lock: the other ends while it still runs.
    int raw = 0;
    const pid_t ended = waitpid(-1, &raw, 0);
    ASSERT_TRUE(ended == first || ended == second);
    const pid_t winner = ended == first ? second : first;
    const int loser = ended == first ? 1 : 2;
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1);
    EXPECT_EQ(waitpid(winner, nullptr, WNOHANG), 0) << "the refused fit ended only after the other";
    EXPECT_EQ(waitStatus(winner), 0) << dir.read(loser == 1 ? "err2.txt" : "err1.txt");

    const std::string err = dir.read("err" + std::to_string(loser) + ".txt");
    const std::string head = "zonetool fit: SS1_ML_ is being written by another run (pid " +
                             std::to_string(static_cast<long>(winner)) + " on host " + hostName() +
                             ", started 20";
    const std::string tail = " UTC: zonetool fit 1 --quiet --seed " + std::to_string(3 - loser) +
                             "); wait for it to end or write elsewhere (if that run is gone, "
                             "remove SS1_ML_.lock)\n";
    EXPECT_EQ(err.substr(0, head.size()), head) << err;
    ASSERT_GE(err.size(), tail.size());
    EXPECT_EQ(err.substr(err.size() - tail.size()), tail) << err;
    EXPECT_EQ(dir.read("out" + std::to_string(loser) + ".txt"), "");

    FitRecord record;
    std::string error;
    ASSERT_TRUE(readFitRecord(dir.file("SS1_ML_.json"), record, error)) << error;
    EXPECT_EQ(record.seed, std::optional<std::uint64_t>(3 - loser));
    const ProgramResult alone =
        runProgram(dir.path(), "/bin/sh",
                   "-c " + shellQuote("mkdir a && cp startvec1.txt a && "
                                      "cd a && " +
                                      shellQuote(ZONETOOL_BIN) + " fit 1 --quiet --seed " +
                                      std::to_string(3 - loser)));
    ASSERT_EQ(alone.status, 0) << alone.err;
    EXPECT_EQ(dir.read("SS1_ML_"), dir.read("a/SS1_ML_"));
    EXPECT_FALSE(dir.exists("SS1_ML_.lock"));
}

TEST(FitLock, IsReleasedWhenTheFitSucceedsFailsOrIsStoppedBySigterm) {
    ScratchDir dir;
    dir.write("startvec1.txt", quickStart1);
    dir.write("big.tsv", bigSampleTransect);
    ProgramResult r = zonetool(dir, "fit 1 --seed 1 --result r --data big.tsv");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(dir.exists("r.lock"));
    // Failing: a start file without steps.
    dir.write("bad.txt", "1 1 0.5 150\n");
    r = zonetool(dir, "fit 1 --seed 1 --result s --start bad.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(dir.exists("s.lock"));

    dir.write("slow.txt", slowerStart);
    const pid_t pid = startZonetool(dir, {"fit", "1", "--quiet", "--start", "slow.txt"});
    ASSERT_TRUE(waitFor([&] { return dir.exists("SS1_ML_.lock"); }));
    kill(pid, SIGTERM);
    EXPECT_EQ(waitStatus(pid), 143);
    EXPECT_FALSE(dir.exists("SS1_ML_.lock"));
    EXPECT_FALSE(dir.exists("SS1_ML_"));
    r = zonetool(dir, "fit 1 --quiet --seed 1 --data big.tsv");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST(FitLock, ALockLeftByAFitThatHasEndedIsTakenOverWithAWarning) {
    ScratchDir dir;
    dir.write("startvec1.txt", quickStart1);
    dir.write("big.tsv", bigSampleTransect);
    const long dead = deadPid();
    dir.write("SS1_ML_.lock", lockOf(dead, hostName(), "zonetool fit 1 --seed 2"));
    const ProgramResult r = zonetool(dir, "fit 1 --seed 1 --quiet --data big.tsv");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "zonetool fit: warning: SS1_ML_.lock was left by a run that has ended (pid " +
                         std::to_string(dead) + " on host " + hostName() +
                         ", started 2026-12-10 01:00:00 UTC: zonetool fit 1 --seed 2); it is "
                         "taken over\n");
    EXPECT_EQ(dir.read("SS1_ML_").rfind("1 1 0.5 15 ", 0), 0u) << dir.read("SS1_ML_");
    EXPECT_FALSE(dir.exists("SS1_ML_.lock"));
}

// Several runs started together find the same lock of a run that has ended: one takes it
// over and fits, every other one is refused.
TEST(FitLock, OfSeveralRunsFindingOneStaleLockOneTakesItOver) {
    ScratchDir dir;
    dir.write("startvec1.txt", slowerStart);
    dir.write("SS1_ML_.lock", lockOf(deadPid(), hostName(), "zonetool fit 1 --seed 9"));
    std::vector<pid_t> runs;
    for (int k = 1; k <= 4; k++) {
        const std::string seed = std::to_string(k);
        runs.push_back(startZonetool(dir, {"fit", "1", "--quiet", "--seed", seed}, "out" + seed,
                                     "err" + seed));
    }
    int done = 0;
    int warned = 0;
    for (int k = 1; k <= 4; k++) {
        const int status = waitStatus(runs[static_cast<std::size_t>(k - 1)]);
        const std::string err = dir.read("err" + std::to_string(k));
        EXPECT_TRUE(status == 0 || status == 1) << status;
        done += status == 0 ? 1 : 0;
        warned += err.find("it is taken over") != std::string::npos ? 1 : 0;
        if (status == 1) {
            // Refused by the new lock, or (on a slow machine) by the finished result.
            EXPECT_TRUE(err.find("is being written by another run") != std::string::npos ||
                        err == "zonetool fit: SS1_ML_ exists already; give --redo to overwrite "
                               "it\n")
                << err;
        }
    }
    EXPECT_EQ(done, 1);
    EXPECT_EQ(warned, 1);
    EXPECT_FALSE(dir.exists("SS1_ML_.lock"));
}

// Stopped (exit 75), the fit has released its lock; killed outright, it left one that the
// rerun takes over. Both reruns resume and finish.
TEST(FitLock, ACheckpointedFitResumesPastItsOwnEarlierLock) {
    ScratchDir dir;
    dir.write("startvec1.txt", shortStart);
    const std::vector<std::string> args = {"fit", "1", "--seed", "1", "--checkpoint", "c.ckpt"};
    pid_t pid = startZonetool(dir, args);
    ASSERT_TRUE(waitFor([&] { return dir.exists("c.ckpt"); }));
    kill(pid, SIGTERM);
    ASSERT_EQ(waitStatus(pid), 75);
    EXPECT_FALSE(dir.exists("SS1_ML_.lock"));
    EXPECT_FALSE(dir.exists("c.ckpt.lock"));

    pid = startZonetool(dir, args);
    ASSERT_TRUE(waitFor([&] { return dir.exists("SS1_ML_.lock"); }));
    kill(pid, SIGKILL);
    ASSERT_EQ(waitStatus(pid), 128 + SIGKILL);
    ASSERT_TRUE(dir.exists("SS1_ML_.lock"));
    ASSERT_TRUE(dir.exists("c.ckpt"));
    const ProgramResult r = zonetool(dir, "fit 1 --seed 1 --checkpoint c.ckpt --quiet");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("zonetool fit: warning: SS1_ML_.lock was left by a run that has ended "
                         "(pid " +
                         std::to_string(static_cast<long>(pid))),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(dir.exists("c.ckpt"));
    EXPECT_FALSE(dir.exists("SS1_ML_.lock"));
    EXPECT_FALSE(dir.exists("c.ckpt.lock"));
    const std::string result = dir.read("SS1_ML_");
    EXPECT_EQ(std::count(result.begin(), result.end(), '\n'), 1) << result;
}

TEST(FitLock, SeveralFitsTakeOneLockEachOrNone) {
    ScratchDir dir;
    dir.write("startvec1.txt", quickStart1);
    dir.write("big.tsv", bigSampleTransect);
    dir.write("SS1_ML_seed2.lock",
              lockOf(static_cast<long>(getpid()), hostName(), "zonetool fit 1"));
    ProgramResult r = zonetool(dir, "fit 1 --seeds 1-3 --jobs 2 --data big.tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, heldMessage("fit", "SS1_ML_seed2"));
    EXPECT_FALSE(dir.exists("SS1_ML_seed1.lock"));
    EXPECT_FALSE(dir.exists("SS1_ML_seed1.log"));
    std::remove(dir.file("SS1_ML_seed2.lock").c_str());

    const pid_t pid =
        startZonetool(dir, {"fit", "1", "--seeds", "1-3", "--checkpoints", "--data", "big.tsv"});
    ASSERT_EQ(waitStatus(pid), 0) << dir.read("err.txt");
    const std::string listing = runProgram(dir.path(), "/bin/ls", "").out;
    EXPECT_EQ(listing.find(".lock"), std::string::npos) << listing;
}

// A result file made while the fit ran (here by zonefit, which takes no locks) is kept; the
// fit's own result goes beside it. With --redo it is replaced.
TEST(FitLock, AResultThatAppearsDuringTheFitIsNotReplacedWithoutRedo) {
    ScratchDir dir;
    dir.write("startvec1.txt", slowerStart);
    std::string fitted;
    for (bool redo : {false, true}) {
        std::vector<std::string> args = {"fit", "1", "--quiet", "--seed", "1"};
        if (redo) {
            args.push_back("--redo");
        }
        const pid_t pid = startZonetool(dir, args);
        ASSERT_TRUE(waitFor([&] { return dir.exists("SS1_ML_.lock"); }));
        // The fit checks for an earlier result just after it takes its lock; two more clock
        // ticks of its processor time (about 20 ms, where the check takes microseconds) put it
        // past that check however busy the machine is, so that the result appears during the
        // fit and not before it.
        const long atLock = cpuTicks(pid);
        ASSERT_GE(atLock, 0);
        ASSERT_TRUE(waitFor([&] { return cpuTicks(pid) >= atLock + 2; }));
        dir.write("SS1_ML_", "theirs\n");
        const int status = waitStatus(pid);
        const std::string side = "SS1_ML_.new-" + std::to_string(static_cast<long>(pid));
        if (redo) {
            EXPECT_EQ(status, 0) << dir.read("err.txt");
            EXPECT_EQ(dir.read("SS1_ML_"), fitted);
            EXPECT_FALSE(dir.exists(side));
            continue;
        }
        EXPECT_EQ(status, 1);
        EXPECT_EQ(dir.read("err.txt"),
                  "Cannot save the result as SS1_ML_, which appeared while the fit ran: nothing "
                  "was replaced, and this fit's result is kept in " +
                      side + ". Exiting (1)\n");
        EXPECT_EQ(dir.read("SS1_ML_"), "theirs\n");
        fitted = dir.read(side);
        EXPECT_EQ(std::count(fitted.begin(), fitted.end(), ' '), 4) << fitted;
        EXPECT_FALSE(dir.exists("SS1_ML_.json"));
        EXPECT_FALSE(dir.exists("SS1_ML_.lock"));
    }
}

// Each command that writes results refuses names another run is writing (here one held by this
// test process), before it writes anything.
TEST(CommandLocks, ExploreProfileSimulateAndSlurmRefuseANameInUse) {
    ScratchDir dir;
    dir.write("startvec1.txt", "1 1 0.5 150\n0 0 0 0\n");
    dir.write("SS1_ML_", "1.2 0.8 0.3 15 1000\n");
    const std::string lock = lockOf(static_cast<long>(getpid()), hostName(), "zonetool fit 1");
    const struct {
        const char* command;
        const char* arguments;
        const char* name;
    } cases[] = {
        {"explore", "explore 1 --starts 2", "SS1_ML_.explore.json"},
        {"profile", "profile 1 --parameters F --side lower", "profile-SS1_ML_-F-lower.tsv"},
        {"profile", "profile 1 --curve curve.tsv", "curve.tsv"},
        {"simulate", "simulate 1 1.2 0.8 0.3 15 --seed 1 -o sim.tsv", "sim.tsv"},
        {"slurm", "slurm 1 -o fits.sh", "fits.sh"},
    };
    for (const auto& c : cases) {
        dir.write(std::string(c.name) + ".lock", lock);
        const ProgramResult r = zonetool(dir, c.arguments);
        EXPECT_EQ(r.status, 1) << c.arguments;
        EXPECT_EQ(r.out, "") << c.arguments;
        EXPECT_EQ(r.err, heldMessage(c.command, c.name)) << c.arguments;
        EXPECT_FALSE(dir.exists(c.name)) << c.arguments;
        std::remove(dir.file(std::string(c.name) + ".lock").c_str());
    }
    const std::string listing = runProgram(dir.path(), "/bin/ls", "").out;
    EXPECT_EQ(listing, "SS1_ML_\nstartvec1.txt\n");
}

TEST(CommandLocks, ExploreAndProfileStoppedBySigtermRemoveTheirLocks) {
    ScratchDir dir;
    dir.write("SS1_ML_", "1.2 0.8 0.3 15 11518.585\n");
    const struct {
        std::vector<std::string> args;
        const char* lock;
    } cases[] = {
        {{"explore", "1", "--starts", "100"}, "SS1_ML_.explore.svg.lock"},
        {{"profile", "1", "--curve", "c.tsv"}, "c.tsv.lock"},
    };
    for (const auto& c : cases) {
        const pid_t pid = startZonetool(dir, c.args);
        ASSERT_TRUE(waitFor([&] { return dir.exists(c.lock); })) << c.lock;
        kill(pid, SIGTERM);
        EXPECT_EQ(waitStatus(pid), 143) << c.lock;
        EXPECT_FALSE(dir.exists(c.lock)) << c.lock;
    }
    // A stopped profile keeps its journal to resume from, once it had opened it; its lock goes.
    std::remove(dir.file("profile-SS1_ML_.journal.tsv").c_str());
    const std::string listing = runProgram(dir.path(), "/bin/ls", "").out;
    EXPECT_EQ(listing, "SS1_ML_\nerr.txt\nout.txt\n");
}
