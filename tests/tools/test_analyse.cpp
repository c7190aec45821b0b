// zonetool analyse end to end on a short transect with tiny budgets: its files, a second run
// that skips every stage, a run stopped between stages and inside a profile that ends with the
// files of an uninterrupted one, the refusals, and a report whose names are escaped.
#include "support/run_program.h"
#include "support/short_transect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// Every file below `dir` (relative names, sorted), directories descended.
void listFiles(const std::string& dir, const std::string& prefix, std::vector<std::string>& out) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string path = dir + "/" + name;
        DIR* sub = opendir(path.c_str());
        if (sub != nullptr) {
            closedir(sub);
            listFiles(path, prefix + name + "/", out);
        } else {
            out.push_back(prefix + name);
        }
    }
    closedir(d);
    std::sort(out.begin(), out.end());
}

std::vector<std::string> filesOf(const std::string& dir) {
    std::vector<std::string> files;
    listFiles(dir, "", files);
    return files;
}

const std::string tiny = "ZONETOOL_TEST_ANALYSE_TINY=1 ";

ProgramResult analyse(const ScratchDir& scratch, const std::string& env,
                      const std::string& arguments) {
    return runProgram(scratch.path(), "env",
                      env + shellQuote(ZONETOOL_BIN) + " analyse " + arguments);
}

// The number that follows the first `key` in `text`; NaN when there is none.
double numberAfter(const std::string& text, const std::string& key) {
    const std::size_t at = text.find(key);
    return at == std::string::npos ? std::nan("")
                                   : std::strtod(text.c_str() + at + key.size(), nullptr);
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        n++;
    }
    return n;
}

} // namespace

TEST(Analyse, RunsEveryStageThenSkipsThemAll) {
    ScratchDir scratch;
    scratch.write("short.tsv", shortTransect);
    const std::string args = "1 --data short.tsv --effort quick --seed 3 -o out";
    const ProgramResult first = analyse(scratch, tiny, args);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, "out/report.html\n");
    EXPECT_NE(first.err.find("analyse: estimate for 1 model at quick effort: about "),
              std::string::npos)
        << first.err;
    EXPECT_EQ(count(first.err, ": done in "), 7) << first.err;
    const std::vector<std::string> expected{".analyse/clines.tsv",
                                            ".analyse/derived-SS_1.tsv",
                                            ".analyse/figures-SS_1.tsv",
                                            ".analyse/fit-SS_1.tsv",
                                            ".analyse/profile-SS_1.tsv",
                                            ".analyse/report.tsv",
                                            ".analyse/search-SS_1.tsv",
                                            "SS_1/SS1_ML_opt1",
                                            "SS_1/SS1_ML_opt1.json",
                                            "SS_1/SS_1.derived.json",
                                            "SS_1/SS_1.explore.json",
                                            "SS_1/SS_1.limits.json",
                                            "SS_1/fit.svg",
                                            "SS_1/profile-SS1_ML_opt1.tsv",
                                            "SS_1/profile.svg",
                                            "analysis.json",
                                            "clines/cline_sigmoid.json",
                                            "clines/cline_stepped.json",
                                            "clines/sigmoid.svg",
                                            "clines/stepped.svg",
                                            "estimates.tsv",
                                            "report.html"};
    EXPECT_EQ(filesOf(scratch.file("out")), expected);
    const std::string tsv = scratch.read("out/estimates.tsv");
    EXPECT_EQ(
        tsv.rfind("model\tkind\tname\tregion\tvalue\tlower\tupper\nSS_1\tparameter\twSS\t", 0), 0u)
        << tsv;
    EXPECT_NE(tsv.find("SS_1\tselection\ts_SI\tall sites\t"), std::string::npos);
    EXPECT_NE(tsv.find("SS_1\tderived\tF_IS all sites\t"), std::string::npos);
    // The descriptive clines after the models, each parameter with its limits.
    EXPECT_NE(tsv.find("\nsigmoid\tdescriptive\tcentre\t\t"), std::string::npos) << tsv;
    EXPECT_NE(tsv.find("\nstepped\tdescriptive\ttau_right\t\t"), std::string::npos) << tsv;

    // Again: nothing to do, and the same numbers.
    const ProgramResult second = analyse(scratch, tiny, args);
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(count(second.err, ": done before, skipped"), 7) << second.err;
    EXPECT_EQ(scratch.read("out/estimates.tsv"), tsv);

    // Another seed in the same directory is refused; --redo starts over.
    const ProgramResult other =
        analyse(scratch, tiny, "1 --data short.tsv --effort quick --seed 4 -o out --quiet");
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.err, "zonetool analyse: out holds an analysis made with other inputs (search "
                         "SS_1: seed differs); give --redo to start over, or name another "
                         "directory with -o\n");
    const ProgramResult redo =
        analyse(scratch, tiny, "1 --data short.tsv --effort quick --seed 4 -o out --redo");
    EXPECT_EQ(redo.status, 0) << redo.err;
    EXPECT_EQ(count(redo.err, ": done in "), 7) << redo.err;
}

TEST(Analyse, StoppedBetweenStagesOrInAProfileEndsWithTheFilesOfAnUninterruptedRun) {
    ScratchDir scratch;
    scratch.write("short.tsv", shortTransect);
    const std::string args = "1 --data short.tsv --effort quick -o ";
    ASSERT_EQ(analyse(scratch, tiny, args + "whole --quiet").status, 0);

    // Stopped by SIGTERM after the fit, then inside the profile after 3 points.
    const ProgramResult stopped =
        analyse(scratch, tiny + "ZONETOOL_TEST_ANALYSE_STOP_AFTER=2 ", args + "parts");
    EXPECT_EQ(stopped.status, 128 + 15) << stopped.err;
    EXPECT_FALSE(scratch.exists("parts/SS_1/SS_1.limits.json"));
    const ProgramResult inProfile =
        analyse(scratch, tiny + "ZONETOOL_TEST_PROFILE_STOP_AFTER=3 ", args + "parts");
    EXPECT_EQ(inProfile.status, 128 + 15) << inProfile.err;
    EXPECT_EQ(count(inProfile.err, ": done before, skipped"), 2) << inProfile.err;
    EXPECT_TRUE(scratch.exists("parts/SS_1/profile-SS1_ML_opt1.journal.tsv"));
    const ProgramResult resumed = analyse(scratch, tiny, args + "parts");
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_EQ(count(resumed.err, ": done in "), 5) << resumed.err;

    EXPECT_EQ(filesOf(scratch.file("parts")), filesOf(scratch.file("whole")));
    EXPECT_EQ(scratch.read("parts/estimates.tsv"), scratch.read("whole/estimates.tsv"));
    EXPECT_EQ(scratch.read("parts/SS_1/SS_1.limits.json"),
              scratch.read("whole/SS_1/SS_1.limits.json"));
}

TEST(Analyse, AnotherModelJoinsAFinishedAnalysis) {
    ScratchDir scratch;
    scratch.write("short.tsv", shortTransect);
    scratch.write("borders.txt", "7\n14\n"); // SS_3_F0's regions on the 21 sites
    ASSERT_EQ(analyse(scratch, tiny, "1 --data short.tsv --effort quick -o out --quiet").status, 0);
    const ProgramResult r = analyse(scratch, tiny, "1,4 --data short.tsv --effort quick -o out");
    ASSERT_EQ(r.status, 0) << r.err;
    // SS_1's five stages and the clines are kept; SS_3_F0's five and the report run.
    EXPECT_EQ(count(r.err, ": done before, skipped"), 6) << r.err;
    EXPECT_EQ(count(r.err, ": done in "), 6) << r.err;
    const std::string json = scratch.read("out/analysis.json");
    EXPECT_NE(json.find("\"name\": \"SS_1\""), std::string::npos);
    EXPECT_NE(json.find("\"name\": \"SS_3_F0\""), std::string::npos);
}

TEST(Analyse, NamesInTheReportAreText) {
    ScratchDir scratch;
    const std::string data = "my <b>data & \"x\" 'y'.tsv";
    const std::string dir = "out <i>&amp; \"q\"";
    scratch.write(data, shortTransect);
    const ProgramResult r =
        analyse(scratch, tiny,
                "1 --quiet --effort quick --data " + shellQuote(data) + " -o " + shellQuote(dir));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir + "/report.html\n");
    const std::string html = scratch.read(dir + "/report.html");
    EXPECT_NE(html.find("my &lt;b&gt;data &amp; &quot;x&quot; &apos;y&apos;.tsv"),
              std::string::npos);
    EXPECT_EQ(html.find("<b>"), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("<?xml"), std::string::npos); // the figures are inline
    EXPECT_NE(html.find("<svg"), std::string::npos);
    // The directory, in the command line of the run.
    EXPECT_NE(html.find("-o out &lt;i&gt;&amp;amp; &quot;q&quot;</td>"), std::string::npos);
    EXPECT_EQ(html.find("<i>"), std::string::npos);
    const std::string json = scratch.read(dir + "/analysis.json");
    EXPECT_NE(json.find("\"data_file\": \"my <b>data & \\\"x\\\" 'y'.tsv\""), std::string::npos)
        << json;
}

TEST(Analyse, Refusals) {
    ScratchDir scratch;
    ProgramResult r = analyse(scratch, "", "1 --effort fast");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("zonetool analyse: --effort needs quick, standard or thorough, not "
                          "'fast'\n",
                          0),
              0u)
        << r.err;
    r = analyse(scratch, "", "0");
    EXPECT_EQ(r.status, 2);
    ASSERT_EQ(mkdir(scratch.file("mine").c_str(), 0777), 0);
    scratch.write("mine/notes.txt", "");
    r = analyse(scratch, "", "1 -o mine");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool analyse: mine exists and holds files no analysis made; give --redo "
                     "to use it anyway, or name another directory with -o\n");
    EXPECT_EQ(scratch.read("mine/notes.txt"), "");
    // Models 3 to 6 need borders.txt before anything runs.
    r = analyse(scratch, "", "3 -o b");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("zonetool analyse: ", 0), 0u);
    EXPECT_NE(r.err.find("borders.txt"), std::string::npos) << r.err;
    EXPECT_FALSE(scratch.exists("b"));
}

TEST(AnalyseTasks, TheTasksOfAClusterRunInTurnGiveTheNumbersOfOneRun) {
    ScratchDir scratch;
    scratch.write("short.tsv", shortTransect);
    const std::string common = "1 --data short.tsv --effort quick --seed 2 -o ";
    ASSERT_EQ(analyse(scratch, tiny, common + "whole --quiet").status, 0);

    const ProgramResult script = analyse(scratch, tiny, common + "parts --slurm --blocks 2");
    ASSERT_EQ(script.status, 0) << script.err;
    EXPECT_EQ(script.out, "parts/analyse-slurm.sh\n");
    EXPECT_EQ(script.err, "zonetool analyse: wrote parts/analyse-slurm.sh; submit its jobs with: "
                          "bash parts/analyse-slurm.sh submit\n");
    EXPECT_TRUE(scratch.exists("parts/.analyse"));

    // A stage whose job has not run stops the next job, saying so.
    ProgramResult r = analyse(scratch, tiny, common + "parts --task fit");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool analyse: search SS_1 is not done: its job failed or has not run "
                     "(see parts/.analyse/)\n");
    r = analyse(scratch, tiny, common + "parts --task merge --blocks 2");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("SS_1.explore.part1-of-2.json"), std::string::npos) << r.err;

    r = analyse(scratch, tiny, common + "parts --task profile --side 3/8");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool analyse: profile side 3 of 8: fit SS_1 is not done: its job failed "
                     "or has not run (see parts/.analyse/)\n");

    // SS_1's four parameters make eight sides, each a task; the whole profile then finds every
    // point in their journals and computes none (a computed point would stop it).
    std::vector<std::string> tasks{"--task search --block 2/2", "--task search --block 1/2",
                                   "--task merge --blocks 2", "--task fit"};
    for (int k = 1; k <= 8; k++) {
        tasks.push_back("--task profile --side " + std::to_string(k) + "/8");
    }
    for (const std::string& task : tasks) {
        r = analyse(scratch, tiny, common + "parts " + task);
        ASSERT_EQ(r.status, 0) << task << ": " << r.err;
        EXPECT_EQ(r.out, "") << task;
        EXPECT_EQ(r.err, "") << task;
    }
    const std::string sideJournal = "parts/SS_1/profile-SS1_ML_opt1.side-5-of-8.journal.tsv";
    ASSERT_TRUE(scratch.exists(sideJournal));
    EXPECT_NE(scratch.read(sideJournal).find("\npoint\t0\t"), std::string::npos);
    // Side 5: F's lower side.
    EXPECT_NE(scratch.read(sideJournal).find("\tF\tlower\t"), std::string::npos);
    EXPECT_EQ(scratch.read(sideJournal).find("\tupper\t"), std::string::npos);
    for (const char* task : {"--task profile", "--task report"}) {
        r = analyse(scratch, tiny + "ZONETOOL_TEST_PROFILE_STOP_AFTER=1 ",
                    common + "parts " + task);
        ASSERT_EQ(r.status, 0) << task << ": " << r.err;
        EXPECT_EQ(r.err, "") << task;
    }
    EXPECT_FALSE(scratch.exists(sideJournal));
    EXPECT_FALSE(scratch.exists("parts/SS_1/profile-SS1_ML_opt1.journal.tsv"));
    // A side submitted again after its profile is made ends at once.
    r = analyse(scratch, tiny, common + "parts --task profile --side 5/8");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(scratch.exists(sideJournal));
    EXPECT_EQ(scratch.read("parts/estimates.tsv"), scratch.read("whole/estimates.tsv"));
    // The merged search's time holds that of its blocks, run by other tasks.
    double blocks = 0.0;
    for (const char* part :
         {"parts/SS_1/SS_1.explore.part1-of-2.json", "parts/SS_1/SS_1.explore.part2-of-2.json"}) {
        blocks += numberAfter(scratch.read(part), "\"wall_seconds\": ");
    }
    EXPECT_GT(blocks, 0.0);
    EXPECT_GE(numberAfter(scratch.read("parts/.analyse/search-SS_1.tsv"), "\nwall\t"), blocks);
    EXPECT_EQ(scratch.read("parts/SS_1/SS_1.limits.json"),
              scratch.read("whole/SS_1/SS_1.limits.json"));
    const std::string parts = scratch.read("parts/analysis.json");
    const std::string whole = scratch.read("whole/analysis.json");
    ASSERT_NE(parts.find("\"models\""), std::string::npos);
    EXPECT_EQ(parts.substr(parts.find("\"models\"")), whole.substr(whole.find("\"models\"")));
    // The command itself then finds every stage done.
    r = analyse(scratch, tiny, common + "parts");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count(r.err, ": done before, skipped"), 7) << r.err;
}

// The last point line of a journal: "point", estimate number, -lnL there, parameter, side,
// fixed value, -lnL, evaluations, coordinates.
std::vector<std::string> lastPoint(const std::string& journal) {
    const std::size_t at = journal.rfind("\npoint\t");
    std::vector<std::string> fields;
    if (at == std::string::npos) {
        return fields;
    }
    std::string line = journal.substr(at + 1);
    line = line.substr(0, line.find('\n'));
    for (std::size_t from = 0;;) {
        const std::size_t tab = line.find('\t', from);
        fields.push_back(line.substr(from, tab - from));
        if (tab == std::string::npos) {
            return fields;
        }
        from = tab + 1;
    }
}

// SS_2's tiny fit from seed 1 lies more than the margin above a point of its profile: with
// moves allowed, the sides that meet such a point end there, and the whole profile moves the
// estimate and computes its profile again, to the numbers of one local run. A side stopped
// part of the way resumes from its journal.
TEST(AnalyseTasks, SidesThatMeetABetterPointLeaveTheMoveToTheWholeProfile) {
    ScratchDir scratch;
    scratch.write("short.tsv", shortTransect);
    const std::string env = tiny + "ZONETOOL_TEST_ANALYSE_RESTARTS=2 ";
    const std::string common = "2 --data short.tsv --effort quick --seed 1 -o ";
    ASSERT_EQ(analyse(scratch, env, common + "whole --quiet").status, 0);
    for (const char* task :
         {"--task search --block 1/1", "--task merge --blocks 1", "--task fit"}) {
        const ProgramResult r = analyse(scratch, env, common + "parts " + task);
        ASSERT_EQ(r.status, 0) << task << ": " << r.err;
    }
    // SS_2 has seven parameters: fourteen sides.
    ProgramResult r = analyse(scratch, env + "ZONETOOL_TEST_PROFILE_STOP_AFTER=1 ",
                              common + "parts --task profile --side 13/14");
    EXPECT_EQ(r.status, 128 + 15) << r.err;
    // Side 13 (the border's lower side) is one that goes on past its first point.
    const std::string stopped = "parts/SS_2/profile-SS2_ML_opt1.side-13-of-14.journal.tsv";
    const std::string oneLine = scratch.read(stopped);
    int better = 0;
    for (int k = 1; k <= 14; k++) {
        r = analyse(scratch, env,
                    common + "parts --task profile --side " + std::to_string(k) + "/14");
        ASSERT_EQ(r.status, 0) << k << ": " << r.err;
        const std::vector<std::string> last = lastPoint(scratch.read(
            "parts/SS_2/profile-SS2_ML_opt1.side-" + std::to_string(k) + "-of-14.journal.tsv"));
        ASSERT_EQ(last.size(), 8u + 7u) << k;
        EXPECT_EQ(last[1], "0") << k; // a side never moves the estimate
        better += std::stod(last[6]) < std::stod(last[2]) - 0.01 ? 1 : 0;
    }
    EXPECT_GT(better, 0);
    // The stopped side kept its first point and went on from it.
    EXPECT_EQ(scratch.read(stopped).rfind(oneLine, 0), 0u);
    EXPECT_GT(scratch.read(stopped).size(), oneLine.size());

    // The whole profile has the restarted profile to compute: stopped at its first point, then
    // resumed.
    r = analyse(scratch, env + "ZONETOOL_TEST_PROFILE_STOP_AFTER=1 ",
                common + "parts --task profile");
    EXPECT_EQ(r.status, 128 + 15) << r.err;
    for (const char* task : {"--task profile", "--task report"}) {
        r = analyse(scratch, env, common + "parts " + task);
        ASSERT_EQ(r.status, 0) << task << ": " << r.err;
    }
    EXPECT_EQ(scratch.read("parts/SS_2/SS_2.limits.json"),
              scratch.read("whole/SS_2/SS_2.limits.json"));
    EXPECT_EQ(scratch.read("parts/estimates.tsv"), scratch.read("whole/estimates.tsv"));
    const std::string parts = scratch.read("parts/analysis.json");
    const std::string whole = scratch.read("whole/analysis.json");
    ASSERT_NE(parts.find("\"models\""), std::string::npos);
    EXPECT_EQ(parts.substr(parts.find("\"models\"")), whole.substr(whole.find("\"models\"")));
    // The estimate did move: the limits' minimum lies below the fit's (the result file's last
    // number).
    const std::string result = scratch.read("parts/SS_2/SS2_ML_opt1");
    const double fitted = std::stod(result.substr(result.rfind(' ', result.find('\n')) + 1));
    EXPECT_LT(numberAfter(scratch.read("parts/SS_2/SS_2.limits.json"), "\"minimum\": "),
              fitted - 0.01)
        << fitted;
}

TEST(AnalyseTasks, Refusals) {
    ScratchDir scratch;
    const std::vector<std::pair<std::string, std::string>> cases{
        {"1 --partition p", "--partition, --time, --account, --mem and --cpus-per-task need "
                            "--slurm"},
        {"1 --slurm --task fit", "give either --slurm or --task, not both"},
        {"1 --slurm --redo", "--redo does not go with --slurm: name another directory with -o"},
        {"1,2 --task fit", "--task runs the stages of one model, not of 2"},
        {"1 --task search", "--task search goes with --block K/B, and --block with it"},
        {"1 --block 1/2", "--task search goes with --block K/B, and --block with it"},
        {"1 --task merge", "--task merge needs --blocks B, the number of blocks"},
        {"1 --blocks 2", "--blocks goes with --slurm or --task merge"},
        {"1 --task search --block 3/2",
         "--block needs K/B, block K of B, 1 <= K <= B <= 100000, not '3/2'"},
        {"1 --slurm --time soon",
         "--time needs a time limit such as 1-00:00:00, 12:00:00 or 90, not 'soon'"},
        {"1 --slurm --partition 'a b'",
         "--partition needs a name of letters, digits and ._-, not 'a b'"},
        {"1 --side 1/8", "--side goes with --task profile"},
        {"1 --task fit --side 1/8", "--side goes with --task profile"},
        {"1 --task profile --side 9/8", "--side needs K/S, side K of S, 1 <= K <= S, not '9/8'"},
        {"1 --task profile --side 0/8", "--side needs K/S, side K of S, 1 <= K <= S, not '0/8'"},
        {"1 --task profile --side lower", "--side needs K/S, side K of S, 1 <= K <= S, not "
                                          "'lower'"},
        {"1 --task profile --side 1/6",
         "--side needs S = 8 for model 1, two sides of each of its 4 parameters, not 6"},
        {"1,2 --task profile --side 1/8", "--task runs the stages of one model, not of 2"},
        {"1 --task everything",
         "--task needs search, merge, fit, profile or report, not 'everything'"},
    };
    for (const auto& [arguments, problem] : cases) {
        const ProgramResult r = analyse(scratch, "", arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.err.rfind("zonetool analyse: " + problem + "\n", 0), 0u)
            << arguments << ": " << r.err;
    }
    const ProgramResult r = analyse(scratch, "", "1 --effort quick --slurm --blocks 9");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool analyse: --blocks (9) must not exceed the quick effort's 8 search "
                     "starts\n");
    EXPECT_FALSE(scratch.exists("analysis"));
}
