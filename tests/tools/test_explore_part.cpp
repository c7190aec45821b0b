// zonetool explore in blocks: the split of the starts, the parts, and their merge into the
// record of one whole run; on the fast form of model 1 of test_explore.cpp.
#include "tools/explore_part.h"

#include "support/run_program.h"

#include <gtest/gtest.h>

namespace {

ProgramResult zonetool(const ScratchDir& dir, const std::string& arguments) {
    return runProgram(dir.path(), ZONETOOL_BIN, arguments);
}

const std::string fast = "explore 1 --region wSS=1.2:1.2 --region wII=0.8:0.8 --budget 60 ";

// The record without its timing lines, the only ones that may differ between runs.
std::string withoutTimes(const std::string& record) {
    std::string kept;
    std::size_t at = 0;
    while (at < record.size()) {
        const std::size_t end = record.find('\n', at);
        const std::string line = record.substr(at, end - at + 1);
        if (line.find("_seconds\"") == std::string::npos) {
            kept += line;
        }
        at = end == std::string::npos ? record.size() : end + 1;
    }
    return kept;
}

// Runs blocks 1 to `blocks` of `options` with prefix `prefix`; false at the first failure.
bool runBlocks(const ScratchDir& dir, const std::string& options, const std::string& prefix,
               int blocks) {
    for (int k = 1; k <= blocks; k++) {
        const ProgramResult r = zonetool(dir, fast + options + " -o " + prefix + " --block " +
                                                  std::to_string(k) + "/" + std::to_string(blocks));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        if (r.status != 0) {
            return false;
        }
    }
    return true;
}

const char* const userStart = "1.2 0.8 0.3 15\n0 0 0.05 2\n";

} // namespace

TEST(ExploreBlocks, SlicesCoverEveryStartOnceInOrderAndDifferByAtMostOne) {
    for (std::size_t total = 0; total <= 12; total++) {
        for (int blocks = 1; blocks <= 14; blocks++) {
            std::size_t next = 0;
            std::size_t smallest = total;
            std::size_t largest = 0;
            for (int k = 1; k <= blocks; k++) {
                const BlockRange r = blockRange(total, k, blocks);
                EXPECT_EQ(r.first, next) << total << " " << k << "/" << blocks;
                next = r.end;
                smallest = std::min(smallest, r.end - r.first);
                largest = std::max(largest, r.end - r.first);
            }
            EXPECT_EQ(next, total);
            EXPECT_LE(largest - smallest, 1u) << total << " in " << blocks;
        }
    }
    // The split of a large run stays exact (no overflow of total * block).
    EXPECT_EQ(blockRange(100001, 100000, 100000).end, 100001u);
    int k = 0;
    int b = 0;
    EXPECT_TRUE(parseBlock("3/8", k, b));
    EXPECT_EQ(k, 3);
    EXPECT_EQ(b, 8);
    EXPECT_TRUE(parseBlock("100000/100000", k, b));
    for (const char* bad : {"", "3", "/8", "3/", "0/2", "3/2", "-1/2", "1/100001", "1/2x", "1.0/2",
                            " 1/2", "1/2/3"}) {
        EXPECT_FALSE(parseBlock(bad, k, b)) << bad;
    }
    EXPECT_EQ(explorePartName("SS1_ML_", 2, 4), "SS1_ML_.explore.part2-of-4.json");
}

TEST(ExploreBlocks, MergedPartsGiveTheRecordFigureAndTableOfTheWholeRun) {
    ScratchDir dir;
    dir.write("startvec1.txt", userStart);
    const std::string options = "--starts 5 --seed 7 --jobs 2";
    const ProgramResult whole = zonetool(dir, fast + options + " -o whole --format tsv");
    ASSERT_EQ(whole.status, 0) << whole.err;
    const std::string record = dir.read("whole.explore.json");
    // Six starts in three blocks of two; in eight blocks two of them are empty.
    for (int blocks : {1, 3, 8}) {
        const std::string prefix = "in" + std::to_string(blocks);
        ASSERT_TRUE(runBlocks(dir, options, prefix, blocks));
        const ProgramResult merged =
            zonetool(dir, fast + options + " -o " + prefix + " --format tsv --collect --blocks " +
                              std::to_string(blocks));
        ASSERT_EQ(merged.status, 0) << merged.err;
        EXPECT_EQ(merged.err, "");
        EXPECT_EQ(merged.out, whole.out) << blocks;
        EXPECT_EQ(withoutTimes(dir.read(prefix + ".explore.json")), withoutTimes(record)) << blocks;
        EXPECT_EQ(dir.read(prefix + ".explore.svg"), dir.read("whole.explore.svg")) << blocks;
    }
    EXPECT_NE(record.find("\"label\": \"startvec1.txt\""), std::string::npos);
    // A block says which starts it ran; the table of a merge ends as a whole run's does.
    const ProgramResult block = zonetool(dir, fast + options + " -o one --block 2/3");
    EXPECT_EQ(block.out, "block 2 of 3: starts 3 to 4 of 6, part one.explore.part2-of-3.json\n");
    const ProgramResult empty = zonetool(dir, fast + options + " -o one --block 1/8");
    EXPECT_EQ(empty.out,
              "block 1 of 8: no start (6 starts in all), part one.explore.part1-of-8.json\n");
    const ProgramResult table =
        zonetool(dir, fast + options + " -o in3 --collect --blocks 3 --redo");
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("\n6 starts, "), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("record in3.explore.json, figure in3.explore.svg\n"),
              std::string::npos);
}

TEST(ExploreBlocks, PartsMissingOfAnotherBlockOrOfAnotherRunAreNamedAndNothingIsMerged) {
    ScratchDir dir;
    dir.write("startvec1.txt", userStart);
    const std::string options = "--starts 3";
    ASSERT_TRUE(runBlocks(dir, options, "p", 3));
    const std::string collect = fast + options + " -o p --collect --blocks ";
    // A copy of part 1 in the place of part 2, and no part 3.
    dir.write("p.explore.part2-of-3.json", dir.read("p.explore.part1-of-3.json"));
    std::remove(dir.file("p.explore.part3-of-3.json").c_str());
    ProgramResult r = zonetool(dir, collect + "3");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zonetool explore: p.explore.part2-of-3.json holds block 1 of 3, not block 2 "
                     "of 3 as its name says\n"
                     "zonetool explore: p.explore.part3-of-3.json: cannot open: No such file or "
                     "directory\n"
                     "zonetool explore: nothing merged\n");
    EXPECT_FALSE(dir.exists("p.explore.json"));
    EXPECT_FALSE(dir.exists("p.explore.svg"));

    ASSERT_TRUE(runBlocks(dir, options + " --redo", "p", 2));
    const std::string part1 =
        "zonetool explore: p.explore.part1-of-2.json belongs to another run: ";
    const std::string part2 =
        "zonetool explore: p.explore.part2-of-2.json belongs to another run: ";
    const std::string example = std::string(ZONEFIT_SOURCE_DIR) + "/examples/transect.tsv";
    const std::pair<std::string, std::string> cases[] = {
        {"--seed 2", "its \"seed\" is 1, this run's 2\n"},
        {"--budget 70", "its \"budget\" is 60, this run's 70\n"},
        {"--design strength", "its \"design\" is \"box\", this run's \"strength\"\n"},
        {"--region sigma=2:50", "its \"regions\" differs from this run's\n"},
        {"--box sigma=0:90", "its \"box\" differs from this run's\n"},
    };
    for (const auto& [change, message] : cases) {
        r = zonetool(dir, collect + "2 " + change);
        EXPECT_EQ(r.status, 1) << change;
        EXPECT_EQ(r.err, part1 + message + part2 + message + "zonetool explore: nothing merged\n")
            << change;
    }
    // The example file is the built-in transect, but another input all the same.
    r = zonetool(dir, collect + "2 --data " + shellQuote(example));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(part1 + "its \"data_checksum\" is null, this run's \"fnv1a64:"),
              std::string::npos)
        << r.err;
    // Another start vector, or none.
    dir.write("startvec1.txt", "1.2 0.8 0.3 16\n0 0 0.05 2\n");
    r = zonetool(dir, collect + "2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1),
              part1 + "its \"start_vector\" differs from this run's\n");
    std::remove(dir.file("startvec1.txt").c_str());
    r = zonetool(dir, collect + "2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1),
              part1 + "its \"start_vector\" differs from this run's\n");
    EXPECT_FALSE(dir.exists("p.explore.json"));

    // A part that is not one, and one cut short.
    dir.write("startvec1.txt", userStart);
    dir.write("p.explore.part1-of-2.json", "{\"format\": \"zonefit-explore-record\"}\n");
    const std::string second = dir.read("p.explore.part2-of-2.json");
    dir.write("p.explore.part2-of-2.json", second.substr(0, second.find("\"outcomes\"")) + "\n");
    r = zonetool(dir, collect + "2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool explore: p.explore.part1-of-2.json: not a part of an explore run "
                     "(no \"format\": \"zonefit-explore-part\")\n"
                     "zonetool explore: p.explore.part2-of-2.json: not valid JSON near line 11\n"
                     "zonetool explore: nothing merged\n");
}

TEST(ExploreBlocks, APartIsKeptUnlessRedoAndBlockOptionsAreChecked) {
    ScratchDir dir;
    dir.write("p.explore.part1-of-2.json", "mine\n");
    ProgramResult r = zonetool(dir, fast + "--starts 2 -o p --block 1/2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool explore: p.explore.part1-of-2.json exists; give --redo to replace "
                     "it\n");
    EXPECT_EQ(dir.read("p.explore.part1-of-2.json"), "mine\n");
    // A block writes its part only, never the record of the run.
    r = zonetool(dir, fast + "--starts 2 -o p --block 1/2 --redo");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(dir.exists("p.explore.json"));
    const std::pair<const char*, const char*> cases[] = {
        {"--block 3/2", "--block needs K/B, block K of B, 1 <= K <= B <= 100000, not '3/2'"},
        {"--block 2", "--block needs K/B, block K of B, 1 <= K <= B <= 100000, not '2'"},
        {"--block 1/2 --collect --blocks 2", "give either --block or --collect, not both"},
        {"--collect", "--collect needs --blocks B, the number of parts"},
        {"--blocks 2", "--blocks goes with --collect"},
        {"--collect --blocks 0", "--blocks needs a whole number from 1 to 100000, not '0'"},
    };
    for (const auto& [arguments, problem] : cases) {
        r = zonetool(dir, fast + arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.out, "") << arguments;
        EXPECT_EQ(r.err, std::string("zonetool explore: ") + problem +
                             "\nRun 'zonetool explore --help' for usage.\n")
            << arguments;
    }
}

TEST(ExploreBlocks, EveryWorkerEvaluatesTheDataGiven) {
    ScratchDir dir;
    dir.write("three.tsv", "site position distance SS SI II\na 0 100 1 1 1\n"
                           "b 100 326.644 0 4 0\nc 426.644 NA 0 0 5\n");
    // Every parameter held: each start's value is the objective's at that one point.
    const ProgramResult r =
        zonetool(dir, fast + "--region F=0.3:0.3 --region sigma=15:15 --starts 2 --jobs 2 "
                             "--format tsv --data three.tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    const ProgramResult eval = zonetool(dir, "eval 1 1.2 0.8 0.3 15 --data three.tsv");
    ASSERT_EQ(eval.status, 0) << eval.err;
    const std::string row = r.out.substr(r.out.find('\n') + 1);
    const std::string value = row.substr(2, row.find('\t', 2) - 2);
    EXPECT_EQ(value + "\n", eval.out);
    EXPECT_NE(value.rfind("235.", 0), std::string::npos) << value; // not the built-in 11518.6
}
