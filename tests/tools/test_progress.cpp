// The live progress line: its text, the evaluation counter and its place on a terminal.
#include "tools/analysis/progress.h"

#include "support/quick_fit.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace {

double square(const NRvector<double>& x) {
    return x[0] * x[0];
}

// Runs zonetool in `dir` with standard error on a new pseudo-terminal and standard output in
// the file stdout.txt; returns what the terminal received and sets the exit status.
std::string onTerminal(const std::string& dir, const std::vector<std::string>& args, int& status) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        status = -1;
        return "";
    }
    const std::string slaveName = ptsname(master);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        const int slave = open(slaveName.c_str(), O_RDWR);
        const int out = open((dir + "/stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (slave < 0 || out < 0 || in < 0 || chdir(dir.c_str()) != 0) {
            _exit(126);
        }
        dup2(in, 0);
        dup2(out, 1);
        dup2(slave, 2);
        close(master);
        std::vector<char*> argv;
        std::string program = ZONETOOL_BIN;
        argv.push_back(&program[0]);
        std::vector<std::string> copies(args);
        for (std::string& a : copies) {
            argv.push_back(&a[0]);
        }
        argv.push_back(nullptr);
        execv(ZONETOOL_BIN, argv.data());
        _exit(127);
    }
    std::string terminal;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0) {
            break; // EIO once the program has ended and closed the terminal
        }
        terminal.append(buffer, static_cast<std::size_t>(got));
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    close(master);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return terminal;
}

} // namespace

TEST(ProgressText, ElapsedTimeAndFitState) {
    EXPECT_EQ(formatElapsed(0.0), "0:00:00");
    EXPECT_EQ(formatElapsed(59.99), "0:00:59");
    EXPECT_EQ(formatElapsed(3725.9), "1:02:05");
    EXPECT_EQ(formatElapsed(-1.0), "0:00:00");
    FitProgress p;
    EXPECT_EQ(progressText(p), "stage 1 cycle 1 call 1  evaluations 0  best -  0:00:00");
    recordCall(p, 2, 1, 4, 0.5625);
    p.evaluations = 12345;
    p.best = 1141.2344;
    EXPECT_EQ(progressText(p),
              "stage 2 cycle 1 call 4  T 0.5625  evaluations 12345  best 1141.2344  0:00:00");
    markStarted(p);
    markFinished(p, false);
    EXPECT_EQ(p.state, FitProgress::failed);
    EXPECT_GE(elapsedSeconds(p), 0.0);
    EXPECT_LT(elapsedSeconds(p), 1.0);
}

// Ten annealers in all: after the first cycle of stage 2 (two finished) with 12000
// evaluations, eight more at 6000 each are to come.
TEST(ProgressText, EstimateOfEvaluationsToCome) {
    FitProgress p;
    p.evaluations = 5000;
    recordCall(p, 1, 1, 3, 8.45);
    EXPECT_EQ(remainingEvaluations(p), -1);
    EXPECT_EQ(progressText(p, true).find("to come"), std::string::npos);
    recordCall(p, 1, 1, 4, 5.4925, true);
    EXPECT_EQ(remainingEvaluations(p), 45000);
    p.evaluations = 12000;
    recordCall(p, 2, 1, 6, 0.2373046875, true);
    EXPECT_EQ(remainingEvaluations(p), 48000);
    EXPECT_EQ(progressText(p, true),
              "stage 2 cycle 1 call 6  T 0.2373  evaluations 12000  best -  0:00:00  ~48000 to "
              "come");
    recordCall(p, 4, 5, 2, 0.45, true);
    EXPECT_EQ(remainingEvaluations(p), 0);
    recordCall(p, 3, 1, 9, 0.6, false);
    EXPECT_EQ(remainingEvaluations(p), 12000 / 4 * 6);
}

TEST(ProgressCounting, CountsEvaluationsAndKeepsTheLowestValue) {
    FitProgress p;
    NRvector<double> x(1);
    {
        const FitObjective counting = countingObjective(square, &p);
        for (double v : {3.0, -2.0, 4.0}) {
            x[0] = v;
            EXPECT_EQ(counting(x), v * v);
        }
        // Another counts nowhere, and leaves the first one's record alone.
        const FitObjective uncounted = countingObjective(square, nullptr);
        x[0] = 0.0;
        EXPECT_EQ(uncounted(x), 0.0);
        EXPECT_EQ(p.evaluations, 3);
        EXPECT_EQ(p.best, 4.0);
        x[0] = 1.5;
        EXPECT_EQ(counting(x), 2.25);
    }
    EXPECT_EQ(p.evaluations, 4);
    EXPECT_EQ(p.best, 2.25);
}

// A bound objective counts like any other (a fit under the settled objective): at a point
// outside model 1's box it answers the model's penalty; two counting objectives may share one
// record.
TEST(ProgressCounting, ABoundObjectiveIsCountedLikeAnyOther) {
    FitProgress p;
    NRvector<double> x(4);
    x[0] = -2.0;
    x[1] = -3.0;
    x[2] = 0.0;
    x[3] = 10.0;
    const ModelContext builtIn;
    const BoundObjective settled{&builtIn, findModel(1), ObjectiveKind::settled};
    {
        const FitObjective counting = countingObjective(settled, &p);
        EXPECT_EQ(counting(x), 600000.0);
        const FitObjective plain = countingObjective(square, &p);
        EXPECT_EQ(plain(x), 4.0);
        EXPECT_EQ(counting(x), 600000.0);
    }
    EXPECT_EQ(p.evaluations, 3);
    EXPECT_EQ(p.best, 4.0);
}

TEST(ProgressLine, RedrawsInPlaceAndClearsOnce) {
    std::ostringstream terminal;
    {
        StatusLine line(terminal, true);
        line.show("stage 1");
        line.show("stage 2");
        line.clear();
        line.clear();
        line.show("stage 3");
    } // the destructor clears the line it left
    EXPECT_EQ(terminal.str(), "\rstage 1\033[K\rstage 2\033[K\r\033[K\rstage 3\033[K\r\033[K");
    std::ostringstream quiet;
    StatusLine off(quiet, false);
    off.show("x");
    off.clear();
    EXPECT_EQ(quiet.str(), "");
    EXPECT_FALSE(progressWanted(true, STDERR_FILENO));
    ScratchDir dir;
    const int file = open(dir.file("f").c_str(), O_WRONLY | O_CREAT, 0644);
    EXPECT_FALSE(progressWanted(false, file));
    close(file);
}

TEST(ProgressLine, ReportsPassUnchangedAfterTheLineIsErased) {
    std::ostringstream terminal;
    std::ostringstream reports;
    StatusLine line(terminal, true);
    ClearingBuffer buffer(reports.rdbuf(), line);
    std::ostream out(&buffer);
    line.show("busy");
    out << "Temporary Max::\n" << 1.5 << " " << 481.3 << "\n";
    out.flush();
    EXPECT_EQ(reports.str(), "Temporary Max::\n1.5 481.3\n");
    EXPECT_EQ(terminal.str(), "\rbusy\033[K\r\033[K");
}

TEST(ProgressTicker, DrawsAtOnceAndErasesWhenStopped) {
    std::ostringstream terminal;
    StatusLine line(terminal, true);
    {
        ProgressTicker ticker(line, [] { return std::string("working"); });
        ticker.stop();
    }
    EXPECT_EQ(terminal.str(), "\rworking\033[K\r\033[K");
}

TEST(ProgressOnTerminal, FitShowsProgressOnStandardErrorOnly) {
    ScratchDir dir;
    dir.write("startvec1.txt", quickStart1);
    dir.write("big.tsv", bigSampleTransect);
    int status = 0;
    std::string terminal =
        onTerminal(dir.path(), {"fit", "1", "--seed", "5", "--data", "big.tsv"}, status);
    ASSERT_EQ(status, 0) << terminal;
    EXPECT_EQ(terminal.rfind("\rstage 1 cycle 1 call 1  evaluations ", 0), 0u) << terminal;
    EXPECT_EQ(terminal.substr(terminal.size() - 4), "\r\033[K");
    const std::string reports = dir.read("stdout.txt");
    EXPECT_EQ(reports.rfind("We'll do model 1: SS_1\nTemporary Max::\n", 0), 0u);
    EXPECT_EQ(reports.find('\033'), std::string::npos);

    terminal = onTerminal(
        dir.path(), {"fit", "1", "--seed", "5", "--quiet", "--redo", "--data", "big.tsv"}, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(terminal, "");
    EXPECT_EQ(dir.read("stdout.txt"), reports);
}
