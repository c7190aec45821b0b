// Stop signals, the file-size signal and failed allocations, each tried in a child process.
#include "driver/signals.h"

#include "driver/schedule.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

namespace {

// How a child process ended, with what it wrote to standard error.
struct ChildEnd {
    bool signaled = false;
    int code = -1; // exit status, or the signal number when signaled
    std::string err;
};

// Runs `body` in a forked child whose standard error goes to a file; the child exits with the
// status `body` returns unless a signal ends it first. `beforeBody` runs in the parent once the
// child is started (it receives the child's id) and before the child may begin `body`.
ChildEnd inChild(const ScratchDir& dir, const std::function<int()>& body,
                 const std::function<void(pid_t)>& beforeBody = nullptr) {
    int go[2];
    if (pipe(go) != 0) {
        return {};
    }
    const std::string errPath = dir.file("child.err");
    const pid_t pid = fork();
    if (pid == 0) {
        // Whatever the test runner inherited (a background job ignores SIGINT), the child
        // starts from the default actions.
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
            std::signal(signal, SIG_DFL);
        }
        close(go[1]);
        char byte;
        if (read(go[0], &byte, 1) != 1) {
            _exit(120);
        }
        const int errFile = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(errFile, STDERR_FILENO);
        if (chdir(dir.path().c_str()) != 0) {
            _exit(121);
        }
        _exit(body());
    }
    close(go[0]);
    if (beforeBody) {
        beforeBody(pid);
    }
    const char byte = 'g';
    EXPECT_EQ(write(go[1], &byte, 1), 1);
    close(go[1]);
    int raw = 0;
    waitpid(pid, &raw, 0);
    ChildEnd end;
    end.signaled = WIFSIGNALED(raw);
    end.code = end.signaled ? WTERMSIG(raw) : WEXITSTATUS(raw);
    end.err = dir.read("child.err");
    std::remove(errPath.c_str());
    return end;
}

// Waits until process `pid` sleeps in the system call `number` (at most 10 s), so that a signal
// sent next meets it there. Falls back to half a second where the kernel does not tell.
void waitForSystemCall(pid_t pid, long number) {
    if (number < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return;
    }
    const std::string path = "/proc/" + std::to_string(pid) + "/syscall";
    for (int i = 0; i < 1000; i++) {
        // The first word is the call's number, or "running" while the process runs.
        std::ifstream in(path);
        std::string current;
        if (!(in >> current)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            return;
        }
        if (current == std::to_string(number)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

#if defined(__x86_64__)
constexpr long openatCall = 257;
#else
constexpr long openatCall = -1; // unknown here: wait instead
#endif

bool touch(const std::string& path) {
    return std::ofstream(path).good();
}

std::string handlerOf(int signal) {
    struct sigaction now;
    sigaction(signal, nullptr, &now);
    if (now.sa_handler == SIG_DFL) {
        return "default";
    }
    if (now.sa_handler == SIG_IGN) {
        return "ignore";
    }
    return "handler";
}

} // namespace

TEST(StopSignal, RemovesTheArmedFileSaysWhyAndEndsByTheSameSignal) {
    const std::pair<int, const char*> cases[] = {
        {SIGINT, "Stopped by SIGINT: the unfinished fit is abandoned and its result file left as "
                 "it was. Exiting (130)\n"},
        {SIGTERM, "Stopped by SIGTERM: the unfinished fit is abandoned and its result file left "
                  "as it was. Exiting (143)\n"},
        {SIGHUP, "Stopped by SIGHUP: the unfinished fit is abandoned and its result file left as "
                 "it was. Exiting (129)\n"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const ChildEnd end = inChild(dir, [&c] {
            const StopSignalGuard guard;
            const TemporaryFileArm arm("SS1_ML_.tmp1");
            touch("SS1_ML_.tmp1");
            touch("other.tmp");
            raise(c.first);
            return 0;
        });
        EXPECT_TRUE(end.signaled) << c.first;
        EXPECT_EQ(end.code, c.first);
        EXPECT_EQ(end.err, c.second);
        EXPECT_FALSE(dir.exists("SS1_ML_.tmp1")) << c.first;
        EXPECT_TRUE(dir.exists("other.tmp")) << c.first;
    }
}

TEST(StopSignal, OnlyFilesArmedAtThatMomentAreRemoved) {
    ScratchDir dir;
    const ChildEnd end = inChild(dir, [] {
        const StopSignalGuard guard;
        {
            const TemporaryFileArm renamedAlready("done.tmp");
            touch("done.tmp");
        }
        const TemporaryFileArm first("a.tmp");
        const TemporaryFileArm second("b.tmp");
        touch("a.tmp");
        touch("b.tmp");
        raise(SIGTERM);
        return 0;
    });
    EXPECT_TRUE(end.signaled);
    EXPECT_EQ(end.code, SIGTERM);
    EXPECT_TRUE(dir.exists("done.tmp"));
    EXPECT_FALSE(dir.exists("a.tmp"));
    EXPECT_FALSE(dir.exists("b.tmp"));
}

TEST(StopSignal, ArmedListsOfFilesAreRemovedWholeAndOnlyWhileArmed) {
    ScratchDir dir;
    const ChildEnd end = inChild(dir, [] {
        const StopSignalGuard guard;
        const char* const released[] = {"old.lock"};
        {
            const FileListArm arm(released, 1);
            touch("old.lock");
        }
        const char* const first[] = {"a.lock", "b.lock"};
        const char* const second[] = {"c.lock"};
        const FileListArm armFirst(first, 2);
        const FileListArm armSecond(second, 1);
        for (const char* name : {"a.lock", "b.lock", "c.lock", "d.lock"}) {
            touch(name);
        }
        raise(SIGINT);
        return 0;
    });
    EXPECT_TRUE(end.signaled);
    EXPECT_EQ(end.code, SIGINT);
    EXPECT_TRUE(dir.exists("old.lock"));
    EXPECT_FALSE(dir.exists("a.lock"));
    EXPECT_FALSE(dir.exists("b.lock"));
    EXPECT_FALSE(dir.exists("c.lock"));
    EXPECT_TRUE(dir.exists("d.lock"));
}

TEST(StopSignal, InheritedIgnoreIsKeptAsUnderNohup) {
    ScratchDir dir;
    const ChildEnd end = inChild(dir, [] {
        signal(SIGHUP, SIG_IGN);
        const StopSignalGuard guard;
        const TemporaryFileArm arm("kept.tmp");
        touch("kept.tmp");
        raise(SIGHUP);
        return 7;
    });
    EXPECT_FALSE(end.signaled);
    EXPECT_EQ(end.code, 7);
    EXPECT_EQ(end.err, "");
    EXPECT_TRUE(dir.exists("kept.tmp"));
}

TEST(StopSignal, GuardRestoresWhatWasThereBefore) {
    const std::new_handler before = std::get_new_handler();
    // Start from the default actions, whatever the test runner inherited.
    const int tried[3] = {SIGINT, SIGTERM, SIGXFSZ};
    struct sigaction inherited[3];
    for (int k = 0; k < 3; k++) {
        sigaction(tried[k], nullptr, &inherited[k]);
        std::signal(tried[k], SIG_DFL);
    }
    {
        const StopSignalGuard guard;
        EXPECT_EQ(handlerOf(SIGINT), "handler");
        EXPECT_EQ(handlerOf(SIGTERM), "handler");
        EXPECT_EQ(handlerOf(SIGXFSZ), "ignore");
        EXPECT_NE(std::get_new_handler(), before);
    }
    EXPECT_EQ(handlerOf(SIGINT), "default");
    EXPECT_EQ(handlerOf(SIGTERM), "default");
    EXPECT_EQ(handlerOf(SIGXFSZ), "default");
    EXPECT_EQ(std::get_new_handler(), before);
    for (int k = 0; k < 3; k++) {
        sigaction(tried[k], &inherited[k], nullptr);
    }
}

TEST(StopSignal, OverlongNameIsNotArmed) {
    EXPECT_FALSE(TemporaryFileArm(std::string(5000, 'x').c_str()).armed());
    EXPECT_TRUE(TemporaryFileArm("SS1_ML_.tmp1").armed());
}

// The temporary file exists only while the probe before the fit and the final write run. A FIFO
// in its place holds the program inside that window until the signal comes.
TEST(StopSignal, SignalDuringTheProbeOrTheFinalWriteLeavesNothingBehind) {
    const std::function<bool(const std::string&)> steps[] = {
        [](const std::string& name) {
            std::string error;
            return checkResultWritable(name, error);
        },
        [](const std::string& name) {
            std::string error;
            return writeResultFile(name, "1 2 3\n", error);
        },
    };
    for (const auto& step : steps) {
        ScratchDir dir;
        dir.write("SS1_ML_", "previous result\n");
        std::string fifo;
        std::thread stopper;
        const ChildEnd end = inChild(
            dir,
            [&step] {
                const StopSignalGuard guard;
                return step("SS1_ML_") ? 0 : 1;
            },
            [&](pid_t pid) {
                fifo = dir.file("SS1_ML_.tmp" + std::to_string(pid));
                ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
                stopper = std::thread([pid] {
                    waitForSystemCall(pid, openatCall);
                    kill(pid, SIGTERM);
                });
            });
        stopper.join();
        EXPECT_TRUE(end.signaled);
        EXPECT_EQ(end.code, SIGTERM);
        EXPECT_NE(access(fifo.c_str(), F_OK), 0) << "left behind: " << fifo;
        EXPECT_EQ(dir.read("SS1_ML_"), "previous result\n");
    }
}

TEST(FileSizeLimit, WritePastTheLimitFailsWithAnErrorInsteadOfKillingTheProcess) {
    ScratchDir dir;
    dir.write("SS1_ML_", "previous result\n");
    const ChildEnd end = inChild(dir, [] {
        const StopSignalGuard guard;
        const rlimit limit{4, 4};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string message;
        const bool written = writeResultFile("SS1_ML_", "0.5 0.5 0.1 20 1141.2344\n", message);
        const std::string expected =
            "cannot write SS1_ML_.tmp" + std::to_string(getpid()) + ": File too large";
        return !written && message == expected ? 0 : 1;
    });
    EXPECT_FALSE(end.signaled);
    EXPECT_EQ(end.code, 0);
    EXPECT_EQ(dir.read("SS1_ML_"), "previous result\n");
    const ProgramResult listing = runProgram(dir.path(), "/bin/ls", "-A");
    EXPECT_EQ(listing.out, "SS1_ML_\n");
}

TEST(OutOfMemory, FailedAllocationRemovesTheArmedFileAndExitsWithStatus1) {
    ScratchDir dir;
    const ChildEnd end = inChild(dir, [] {
        const StopSignalGuard guard;
        const TemporaryFileArm arm("SS1_ML_.tmp1");
        touch("SS1_ML_.tmp1");
        // What operator new calls when the system refuses memory.
        std::get_new_handler()();
        return 0;
    });
    EXPECT_FALSE(end.signaled);
    EXPECT_EQ(end.code, 1);
    EXPECT_EQ(end.err, "Out of memory: the fit needs more memory than the system grants it. "
                       "Exiting (1)\n");
    EXPECT_FALSE(dir.exists("SS1_ML_.tmp1"));
}
