// Several fits on worker threads: names, logs, the summary, and results equal to fits run one
// at a time.
#include "tools/analysis/parallel.h"

#include "models/ss.h"
#include "population/diagnostics.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include "tools/formats/data_option.h"

#include "tools/formats/run_context.h"

#include <fstream>
#include <iostream>
#include <unistd.h>

namespace {

// A smooth bowl in four parameters, minimum 3 at (2, 3, 0.25, 7): fits of it take a fraction
// of a second but run the whole schedule. It writes a diagnostic line when it is evaluated at
// the start vector, which must land in the log of the fit that asked.
double bowl(const ModelContext& context, const NRvector<double>& x) {
    if (x[0] == 1.0 && x[1] == 1.0 && x[2] == 0.5 && x[3] == 10.0) {
        diagnosticsTo(context.simulation.diagnostics) << "start visited\n";
    }
    const double a = x[0] - 2.0;
    const double b = x[1] - 3.0;
    const double c = x[2] - 0.25;
    const double d = x[3] - 7.0;
    return 3.0 + a * a + 2.0 * b * b + 10.0 * c * c + 0.1 * d * d + 0.5 * a * b;
}

// SS_3_F0, whose border file is cut to one line just before its 30th evaluation, as by a user
// editing it during the run. Only one fit calls it.
long cutCalls = 0;
double bordersCutAtCall30(const ModelContext& context, const NRvector<double>& x) {
    if (++cutCalls == 30) {
        std::ofstream("borders.txt") << "25\n";
    }
    return ss3_F0(context, x);
}

// Runs `jobs` in `dir` (the working directory of every fit) on `workers` threads; jobs without
// an objective of their own fit the bowl.
std::vector<FitOutcome> runIn(const ScratchDir& dir, std::vector<FitDescription> jobs,
                              int workers) {
    char previous[4096];
    const bool saved = getcwd(previous, sizeof previous) != nullptr;
    EXPECT_EQ(chdir(dir.path().c_str()), 0);
    for (FitDescription& job : jobs) {
        if (job.function == nullptr) {
            job.function = bowl;
        }
    }
    std::deque<FitProgress> progress;
    std::vector<FitOutcome> outcomes =
        runFits(RunContext(std::cout, std::cerr), jobs, workers, progress);
    EXPECT_EQ(progress.size(), jobs.size());
    if (saved) {
        EXPECT_EQ(chdir(previous), 0);
    }
    return outcomes;
}

const char* const bowlStart = "1 1 0.5 10\n0.5 0.5 0.1 2\n";

} // namespace

TEST(ParallelPlan, NamesCarryTheSeedOnlyWhenThereAreSeveral) {
    const std::vector<FitDescription> several = planFits({1, 7}, {1, 2});
    ASSERT_EQ(several.size(), 4u);
    EXPECT_EQ(several[0].files.result, "SS1_ML_seed1");
    EXPECT_EQ(several[1].files.result, "SS1_ML_seed2");
    EXPECT_EQ(several[2].files.result, "C_1_ML_seed1");
    EXPECT_EQ(several[3].files.log, "C_1_ML_seed2.log");
    EXPECT_EQ(several[3].startPath, "startvec7.txt");
    EXPECT_EQ(several[3].seed, std::uint64_t{2});

    const std::vector<FitDescription> oneSeed = planFits({10, 3}, {5});
    ASSERT_EQ(oneSeed.size(), 2u);
    EXPECT_EQ(oneSeed[0].files.result, "C_3_F0_ML_");
    EXPECT_EQ(oneSeed[0].seed, std::uint64_t{5});
    EXPECT_EQ(oneSeed[1].files.log, "SS3_ML_.log");

    const std::vector<FitDescription> clock = planFits({2}, {});
    ASSERT_EQ(clock.size(), 1u);
    EXPECT_FALSE(clock[0].seed.has_value());
    EXPECT_EQ(clock[0].files.result, "SS2_ML_");
}

TEST(ParallelPlan, BorderFileIsCheckedOnlyForModelsThreeToSix) {
    ScratchDir dir;
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    std::string error;
    EXPECT_TRUE(checkBordersFor(DataContext{}, planFits({1, 2, 7, 8, 9, 10}, {1}), error));
    EXPECT_FALSE(checkBordersFor(DataContext{}, planFits({1, 5}, {1}), error));
    EXPECT_EQ(error, "Error in borders.txt: cannot open the file");
    dir.write("borders.txt", "25\n79\n");
    EXPECT_TRUE(checkBordersFor(DataContext{}, planFits({6}, {1}), error));
    ASSERT_EQ(chdir(previous), 0);
}

TEST(ParallelRun, TwoWorkersGiveTheResultsAndLogsOfOneAtATime) {
    ScratchDir one;
    ScratchDir two;
    one.write("startvec1.txt", bowlStart);
    two.write("startvec1.txt", bowlStart);
    const std::vector<FitDescription> jobs = planFits({1}, {1, 2, 3, 4});
    const std::vector<FitOutcome> sequential = runIn(one, jobs, 1);
    const std::vector<FitOutcome> parallel = runIn(two, jobs, 2);
    for (std::size_t i = 0; i < jobs.size(); i++) {
        SCOPED_TRACE(jobs[i].files.result);
        EXPECT_EQ(sequential[i].status, 0);
        EXPECT_EQ(parallel[i].status, 0);
        const std::string result = one.read(jobs[i].files.result);
        EXPECT_EQ(two.read(jobs[i].files.result), result);
        EXPECT_EQ(two.read(jobs[i].files.log), one.read(jobs[i].files.log));
        EXPECT_EQ(parallel[i].evaluations, sequential[i].evaluations);
        EXPECT_GT(parallel[i].evaluations, 1000);
        EXPECT_TRUE(parallel[i].hasValue);
        EXPECT_NEAR(parallel[i].value, 3.0, 1e-4);
        // The seed first, then the diagnostic line of this fit's objective after the banner.
        const std::string log = two.read(jobs[i].files.log);
        EXPECT_EQ(log.rfind("seed: " + std::to_string(i + 1) +
                                "\nWe'll do model 1: SS_1\nstart visited\n",
                            0),
                  0u);
        // Seed, banner, 3 + 5 reports of two lines each, and the visits of the start vector.
        int visits = 0;
        for (std::size_t at = log.find("start visited\n"); at != std::string::npos;
             at = log.find("start visited\n", at + 1)) {
            visits++;
        }
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2 + 16 + visits);
    }
    // Different seeds are different fits.
    EXPECT_NE(one.read(jobs[0].files.log), one.read(jobs[1].files.log));
}

TEST(ParallelRun, FailedFitIsReportedInItsLogAndOthersGoOn) {
    ScratchDir dir;
    dir.write("startvec1.txt", bowlStart);
    const std::vector<FitDescription> jobs = planFits({7, 1}, {9});
    const std::vector<FitOutcome> outcomes = runIn(dir, jobs, 2);
    EXPECT_EQ(outcomes[0].status, 1);
    EXPECT_FALSE(outcomes[0].hasValue);
    EXPECT_EQ(dir.read("C_1_ML_.log").rfind("seed: 9\nWhere's your startvec file?\n", 0), 0u);
    EXPECT_FALSE(dir.exists("C_1_ML_"));
    EXPECT_EQ(outcomes[1].status, 0);
    EXPECT_TRUE(dir.exists("SS1_ML_"));

    const std::string table = summaryTable(jobs, outcomes);
    std::istringstream lines(table);
    std::string header;
    std::string first;
    std::getline(lines, header);
    std::getline(lines, first);
    EXPECT_EQ(header.rfind("model  name  seed  status     ", 0), 0u) << table;
    EXPECT_EQ(first.rfind("    7  C_1   9     failed(1)  ", 0), 0u) << table;
    EXPECT_NE(first.find("  -        C_1_ML_.log"), std::string::npos) << table;
    EXPECT_NE(table.find("  SS1_ML_  SS1_ML_.log\n"), std::string::npos) << table;
}

// The border file of one fit goes bad in the middle of the run: that fit stops at the very
// evaluation that met it, with the message in its log and a failed row in the summary, while
// the other fits run to their end.
TEST(ParallelRun, BorderFileThatGoesBadFailsOnlyTheFitThatReadsIt) {
    ScratchDir dir;
    dir.write("startvec1.txt", bowlStart);
    // Sigma outside its box and zero steps: 80 quick evaluations when nothing goes wrong.
    dir.write("startvec4.txt", "1 1 1 1 1 1 -1000\n0 0 0 0 0 0 0\n");
    dir.write("borders.txt", "25\n79\n");
    std::vector<FitDescription> jobs = planFits({1, 4}, {1, 2});
    jobs.erase(jobs.begin() + 3); // one fit of model 4 only
    jobs[2].function = bordersCutAtCall30;
    cutCalls = 0;
    const std::vector<FitOutcome> outcomes = runIn(dir, jobs, 2);
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[2].status, 1);
    EXPECT_EQ(outcomes[2].evaluations, 30);
    EXPECT_EQ(cutCalls, 30);
    EXPECT_FALSE(dir.exists("SS3_F0_ML_seed1"));
    // Stopped in the third cycle of stage 2, after two of its reports.
    const std::string log = dir.read("SS3_F0_ML_seed1.log");
    EXPECT_EQ(log.rfind("seed: 1\nWe'll do model 4: SS_3_F0\nTemporary Max::\n", 0), 0u) << log;
    const std::string message = "Error in borders.txt: fewer than two lines\n";
    ASSERT_GE(log.size(), message.size());
    EXPECT_EQ(log.substr(log.size() - message.size()), message) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1 + 1 + 2 * 2 + 1) << log;
    for (std::size_t i = 0; i < 2; i++) {
        EXPECT_EQ(outcomes[i].status, 0) << i;
        EXPECT_TRUE(outcomes[i].hasValue) << i;
        EXPECT_NEAR(outcomes[i].value, 3.0, 1e-4) << i;
    }
    const std::string table = summaryTable(jobs, outcomes);
    const std::size_t row = table.find("\n    4  SS_3_F0  1     failed(1)  ");
    ASSERT_NE(row, std::string::npos) << table;
    const std::string line = table.substr(row + 1, table.find('\n', row + 1) - row - 1);
    EXPECT_NE(line.find("  30  "), std::string::npos) << table; // evaluations
    EXPECT_EQ(line.substr(line.size() - 21), "  SS3_F0_ML_seed1.log") << table;
    EXPECT_NE(line.find("  -  "), std::string::npos) << table; // no result file
}

TEST(ParallelRun, ProgressTextCountsFinishedFits) {
    const std::vector<FitDescription> jobs = planFits({1, 2}, {4});
    std::deque<FitProgress> progress(2);
    markStarted(progress[0]);
    markFinished(progress[0], true);
    markStarted(progress[1]);
    recordCall(progress[1], 3, 1, 12, 0.25);
    progress[1].evaluations = 5000;
    EXPECT_EQ(runProgressText(jobs, progress, 61.0),
              "1/2 fits done  0:01:01  [2/4 3.1.12 T 0.25 ev 5000 best -]");
}
