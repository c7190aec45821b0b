// zonetool explore and zonetool fit --from, end to end, on a fast form of model 1: both
// fitnesses held where the cline settles in under a hundred generations; explore in blocks:
// the split of the starts, the parts, and their merge into the record of one whole run.
#include "tools/analysis/explore_part.h"
#include "tools/formats/output_lock.h"
#include "tools/formats/results.h"

#include "models/objective_kind.h"
#include "support/quick_fit.h"
#include "support/run_in_process.h"
#include "support/run_program.h"
#include "tools/analysis/optima_map.h"
#include "tools/formats/fit_record.h"

#include <gtest/gtest.h>

#include "tools/formats/data_option.h"

#include <algorithm>

namespace {

ProgramResult zonetool(const ScratchDir& dir, const std::string& arguments) {
    return runInProcess(dir.path(), arguments);
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

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        n++;
    }
    return n;
}

} // namespace

TEST(Explore, SameSeedSameMapWhateverTheJobs) {
    ScratchDir dir;
    const ProgramResult one = zonetool(dir, fast + "--starts 4 --seed 5 --jobs 1 -o one");
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.err, "");
    const ProgramResult three =
        zonetool(dir, fast + "--starts 4 --seed 5 --jobs 3 -o three --format json");
    ASSERT_EQ(three.status, 0) << three.err;
    const std::string record = dir.read("one.explore.json");
    EXPECT_EQ(withoutTimes(record), withoutTimes(dir.read("three.explore.json")));
    EXPECT_EQ(three.out, dir.read("three.explore.json")); // --format json prints the record
    // The derived start takes the place of the first of the four design starts.
    EXPECT_EQ(count(record, "\"label\": \"derived start\""), 1u);
    EXPECT_EQ(count(record, "\"label\": \"search "), 3u);
    EXPECT_NE(record.find("\"seed\": 5,"), std::string::npos);
    // The table lists every optimum, then the summary line.
    EXPECT_EQ(one.out.rfind("rank  ", 0), 0u);
    // Every search ends on a penalty (an allele lost), so none confirms another: all four run.
    EXPECT_NE(one.out.find("\n4 searches, "), std::string::npos);
    EXPECT_NE(one.out.find("the best confirmed by 0 of 4 searches"), std::string::npos);
    EXPECT_NE(one.out.find("\nwarning: the best value of model 1 (SS_1) is unconfirmed: no two "
                           "searches agree on it (0 reached it); more searches or a larger "
                           "budget may find a better optimum\n"),
              std::string::npos);
    EXPECT_NE(one.out.find("record one.explore.json, figure one.explore.svg\n"), std::string::npos);
    const std::string svg = dir.read("one.explore.svg");
    EXPECT_EQ(count(svg, "<circle"), 4u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");

    const ProgramResult other = zonetool(dir, fast + "--starts 4 --seed 6 -o other");
    ASSERT_EQ(other.status, 0) << other.err;
    EXPECT_NE(withoutTimes(dir.read("other.explore.json")), withoutTimes(record));
}

TEST(Explore, StartsThatCannotMoveMergeIntoOneOptimum) {
    ScratchDir dir;
    // Every parameter held: the starts all stay at the one point.
    const ProgramResult r =
        zonetool(dir, fast + "--region F=0.3:0.3 --region sigma=15:15 --starts 3 --format tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string header = "rank\tvalue\tstarts\tevaluations\tgenerations\tconverged\tlambda\t"
                               "remaining\tcliff\tobjective\tstate\twSS\twII\tF\tsigma\n";
    ASSERT_EQ(r.out.rfind(header, 0), 0u) << r.out;
    const std::string row = r.out.substr(header.size());
    EXPECT_EQ(std::count(row.begin(), row.end(), '\n'), 1);
    EXPECT_EQ(row.rfind("1\t", 0), 0u);
    EXPECT_NE(row.find("\t3\t"), std::string::npos); // reached by all three starts
    EXPECT_NE(row.find("\t1.2\t0.80000000000000004\t0.29999999999999999\t15\n"), std::string::npos);
    const std::string record = dir.read("SS1_ML_.explore.json");
    EXPECT_EQ(count(record, "\"optimum\": 1}"), 3u);
}

TEST(Explore, AddsTheUserStartVectorWithItsSteps) {
    ScratchDir dir;
    dir.write("startvec1.txt", "1.2 0.8 0.3 15\n0 0 0.05 2\n");
    const ProgramResult r = zonetool(dir, fast + "--starts 2 --format json --verbose");
    ASSERT_EQ(r.status, 0) << r.err;
    // One line per finished start, the user's first (it has no global phase), each after an
    // indented line per stage of it, every line with its CPU time.
    EXPECT_EQ(count(r.err, "\nsearch "), 3u) << r.err;
    EXPECT_EQ(r.err.rfind("  search 1/3 (startvec1.txt), polish, simplex: -lnL ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("\nsearch 1/3 (startvec1.txt): -lnL "), std::string::npos) << r.err;
    EXPECT_EQ(count(r.err, "global phase"), 2u) << r.err;
    EXPECT_EQ(count(r.err, " CPU s\n"), count(r.err, "\n")) << r.err;
    EXPECT_NE(r.out.find("{\"label\": \"startvec1.txt\", \"start\": [1.2, 0.80000000000000004, "
                         "0.29999999999999999, 15]"),
              std::string::npos);
    EXPECT_EQ(count(r.out, "\"label\": "), 3u);
    dir.write("startvec1.txt", "1.2 0.8 0.3\n0 0 0.05\n");
    const ProgramResult bad = zonetool(dir, fast + "--starts 2 --redo");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err,
              "zonetool explore: startvec1.txt holds no start vector of 4 values with its steps\n");
}

TEST(Explore, KeepsAnExistingRecordUnlessRedo) {
    ScratchDir dir;
    dir.write("SS1_ML_.explore.json", "mine\n");
    const ProgramResult r = zonetool(dir, fast + "--starts 2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zonetool explore: SS1_ML_.explore.json exists; give --redo to replace it\n");
    EXPECT_EQ(dir.read("SS1_ML_.explore.json"), "mine\n");
    EXPECT_FALSE(dir.exists("SS1_ML_.explore.svg"));
    const ProgramResult redo = zonetool(dir, fast + "--starts 2 --redo");
    ASSERT_EQ(redo.status, 0) << redo.err;
    EXPECT_EQ(
        dir.read("SS1_ML_.explore.json").rfind("{\n  \"format\": \"zonefit-explore-record\"", 0),
        0u);
}

TEST(Explore, BadArgumentsAreRefusedWithTheirReason) {
    ScratchDir dir;
    const std::pair<const char*, const char*> cases[] = {
        {"explore", "missing MODEL"},
        {"explore 11", "MODEL must be a model number from 1 to 10, not '11'"},
        {"explore 1 --starts 0", "--starts needs a whole number from 1 to 100000, not '0'"},
        {"explore 1 --budget 5", "--budget needs a whole number from 10 to 100000000, not '5'"},
        {"explore 1 --jobs", "--jobs needs a value"},
        {"explore 1 --design grid", "--design needs box or strength, not 'grid'"},
        {"explore 1 --format csv", "--format needs table, tsv or json, not 'csv'"},
        {"explore 1 --region sigma=0:200", "--region sigma: 0:200 leaves the box (0, 100]"},
        {"explore 1 --wide", "unknown option '--wide'"},
        {"explore 1 2", "unexpected argument '2'"},
        // A lone dash is no option: it is refused as a model.
        {"explore -", "MODEL must be a model number from 1 to 10, not '-'"},
        {"explore 1 -o", "-o needs a value"},
        {"explore 1 --objective best", "--objective needs settled or zonefit, not 'best'"},
    };
    for (const auto& [arguments, problem] : cases) {
        const ProgramResult r = zonetool(dir, arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.err, std::string("zonetool explore: ") + problem +
                             "\nRun 'zonetool explore --help' for usage.\n")
            << arguments;
    }
    EXPECT_EQ(zonetool(dir, "explore --help").out.rfind("Usage: zonetool explore MODEL", 0), 0u);
}

// A record of two optima on the three sites of support/quick_fit.h, each region a single
// value: every step is 0, and each fit converges within a few hundred evaluations.
const char* const quickRecord = R"({
  "format": "zonefit-explore-record", "version": 1, "model": 1, "seed": 1, "budget": 10,
  "design": "strength",
  "regions": [{"low": 1, "high": 1, "log": true}, {"low": 1, "high": 1, "log": true},
              {"low": 0.3, "high": 0.3, "log": false}, {"low": 15, "high": 15, "log": true}],
  "optima": [{"value": 29662.531794038969, "point": [1, 1, 0.3, 15], "starts": 2,
              "evaluations": 10},
             {"value": 29662.531794038969, "point": [1, 1, 0.3, 20], "starts": 1,
              "evaluations": 5}]
}
)";

void writeQuickRecord(const ScratchDir& dir) {
    dir.write("joined.json", quickRecord);
    dir.write("big.tsv", bigSampleTransect);
}

// A record of two optima outside the box (sigma of model 1 is at most 100).
const char* const penaltyRecord = R"({
  "format": "zonefit-explore-record", "version": 1, "model": 1, "seed": 1, "budget": 10,
  "design": "strength",
  "regions": [{"low": 0.8, "high": 1.25, "log": true}, {"low": 0.8, "high": 1.25, "log": true},
              {"low": 0.3, "high": 0.3, "log": false}, {"low": 100, "high": 100, "log": true}],
  "optima": [{"value": 1.7976931348623157e+308, "point": [1, 1, 0.3, 150], "starts": 2,
              "evaluations": 10},
             {"value": 1.7976931348623157e+308, "point": [1, 1.5, 0.3, 200], "starts": 1,
              "evaluations": 5}]
}
)";

TEST(FitFrom, RunsTheScheduleFromEachOfTheBestOptima) {
    ScratchDir dir;
    writeQuickRecord(dir);
    const ProgramResult r =
        zonetool(dir, "fit 1 --from joined.json --best 5 --seeds 1-2 --jobs 2 --data big.tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name :
         {"SS1_ML_opt1seed1", "SS1_ML_opt1seed2", "SS1_ML_opt2seed1", "SS1_ML_opt2seed2"}) {
        EXPECT_TRUE(dir.exists(name)) << name;
        EXPECT_TRUE(dir.exists(std::string(name) + ".log")) << name;
        EXPECT_NE(r.out.find(std::string("\n") + name + ": "), std::string::npos) << name;
    }
    // Steps a tenth of each region on its scale: 0 for regions of one value.
    EXPECT_EQ(dir.read("SS1_ML_opt1.start"), "1 1 0.29999999999999999 15\n0 0 0 0\n");
    EXPECT_EQ(dir.read("SS1_ML_opt2.start"), "1 1 0.29999999999999999 20\n0 0 0 0\n");
    // Every genotype is a third of every site: 27000 ln 3 at the best point.
    EXPECT_EQ(dir.read("SS1_ML_opt2seed2").substr(dir.read("SS1_ML_opt2seed2").size() - 11),
              " 29662.532\n");
    EXPECT_NE(r.out.find("SS1_ML_opt2seed2: 5 generations"), std::string::npos) << r.out;

    // Nothing is replaced without --redo; a record of another model is refused.
    const ProgramResult again = zonetool(dir, "fit 1 --from joined.json --seed 1");
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "zonetool fit: SS1_ML_opt1.start exists; give --redo to replace it\n");
    const ProgramResult redo =
        zonetool(dir, "fit 1 --from joined.json --best 1 --seed 1 --redo --data big.tsv");
    ASSERT_EQ(redo.status, 0) << redo.err;
    EXPECT_TRUE(dir.exists("SS1_ML_opt1"));
    const ProgramResult model = zonetool(dir, "fit 2 --from joined.json");
    EXPECT_EQ(model.status, 1);
    EXPECT_EQ(model.err, "zonetool fit: joined.json explores model 1, not model 2\n");
    const ProgramResult missing = zonetool(dir, "fit 1 --from none.json");
    EXPECT_EQ(missing.err, "zonetool fit: cannot read the explore record none.json\n");
    const ProgramResult best = zonetool(dir, "fit 1 --from joined.json --best 0");
    EXPECT_EQ(best.status, 2);
    EXPECT_EQ(best.err, "zonetool fit: --best needs a whole number from 1 to 1000, not '0'\n"
                        "Run 'zonetool fit --help' for usage.\n");
}

TEST(FitFrom, FitsAnotherRunIsWritingAreRefusedBeforeAnyStarts) {
    ScratchDir dir;
    dir.write("joined.json", penaltyRecord);
    // A lock of this test process, which lives.
    const LockHolder holder = thisProcess("zonetool fit 1 --from joined.json");
    dir.write("SS1_ML_opt2.lock", lockText(holder));
    const ProgramResult r = zonetool(dir, "fit 1 --from joined.json --best 2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool fit: SS1_ML_opt2 is being written by another run (" +
                         describeHolder(holder) +
                         "); wait for it to end or write elsewhere (if that run is gone, remove "
                         "SS1_ML_opt2.lock)\n");
    EXPECT_FALSE(dir.exists("SS1_ML_opt1.lock"));
    EXPECT_FALSE(dir.exists("SS1_ML_opt1.start"));
}

TEST(FitFrom, OptimaOutsideTheBoxAreRefusedBeforeAnythingIsWritten) {
    ScratchDir dir;
    dir.write("joined.json", penaltyRecord);
    ProgramResult r = zonetool(dir, "fit 1 --from joined.json --seeds 1-2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zonetool fit: joined.json: optimum 1: sigma = 150 lies outside its box (0, "
                     "100]; give the --data and --box of the search, or run 'zonetool explore 1' "
                     "anew\n"
                     "zonetool fit: joined.json: optimum 2: sigma = 200 lies outside its box (0, "
                     "100]; give the --data and --box of the search, or run 'zonetool explore 1' "
                     "anew\n");
    r = zonetool(dir, "fit 1 --from joined.json --optimum 2 --seed 1 --checkpoint c.ckpt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool fit: joined.json: optimum 2: sigma = 200 lies outside its box (0, "
                     "100]; give the --data and --box of the search, or run 'zonetool explore 1' "
                     "anew\n");
    // Only the record is there.
    std::vector<std::string> names;
    std::vector<std::string> problems;
    ASSERT_TRUE(directoryNames(dir.path(), names, problems));
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "joined.json"}));
}

TEST(FitFrom, ArgumentsOfOtherFitsAreRefusedWithTheirReason) {
    ScratchDir dir;
    const std::pair<const char*, const char*> cases[] = {
        {"fit --from joined.json", "missing MODEL"},
        {"fit 0 --from joined.json", "MODEL must be a model number from 1 to 10, not '0'"},
        {"fit 1 2 --from joined.json", "--from takes one MODEL, not also '2'"},
        {"fit 1 --from joined.json --start s.txt", "'--start' does not go with --from"},
        {"fit 1 --from joined.json --seed 1 --seeds 2-3",
         "give either --seed or --seeds, not both"},
        {"fit 1 --from joined.json --jobs 0", "--jobs needs a whole number from 1 to 256, not '0'"},
        {"fit 1 --from", "--from needs a value"},
    };
    for (const auto& [arguments, problem] : cases) {
        const ProgramResult r = zonetool(dir, arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.err, std::string("zonetool fit: ") + problem +
                             "\nRun 'zonetool fit --help' for usage.\n")
            << arguments;
    }
    const ProgramResult help = zonetool(dir, "fit 1 --from joined.json --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("With --from, runs the fit's annealing schedule"), std::string::npos);
}

TEST(FitFrom, OneOptimumRunsAsACheckpointedFitOfItsOwn) {
    ScratchDir dir;
    writeQuickRecord(dir);
    ProgramResult r = zonetool(dir, "fit 1 --from joined.json --optimum 2 --seed 3 --result "
                                    "SS1_ML_opt2seed3 --checkpoint SS1_ML_opt2seed3.ckpt --trace "
                                    "SS1_ML_opt2seed3.trace.tsv --quiet --data big.tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.read("SS1_ML_opt2seed3").rfind("1 1 0.", 0), 0u);
    EXPECT_TRUE(dir.exists("SS1_ML_opt2seed3.json"));
    EXPECT_TRUE(dir.exists("SS1_ML_opt2seed3.trace.tsv"));
    EXPECT_FALSE(dir.exists("SS1_ML_opt2seed3.ckpt")); // removed with the result written
    const std::string start = dir.read("SS1_ML_opt2.start");
    EXPECT_EQ(start, "1 1 0.29999999999999999 20\n0 0 0 0\n");
    EXPECT_NE(dir.read("SS1_ML_opt2seed3.json").find("\"seed\": 3,"), std::string::npos);
    // Another seed starts from the same start file; without --result the name is the
    // optimum's alone.
    r = zonetool(dir, "fit 1 --from joined.json --optimum 2 --seed 4 --quiet --data big.tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(dir.exists("SS1_ML_opt2"));
    r = zonetool(dir, "fit 1 --from joined.json --optimum 2 --seed 4 --quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool fit: SS1_ML_opt2 exists already; give --redo to overwrite it\n"
                     "zonetool fit: SS1_ML_opt2.json exists already; give --redo to overwrite "
                     "it\n");
    // A start file of another text is the user's.
    dir.write("SS1_ML_opt1.start", "1 1 0.3 150\n0.1 0.1 0 0\n");
    r = zonetool(dir, "fit 1 --from joined.json --optimum 1 --seed 4 --quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool fit: SS1_ML_opt1.start exists and holds another start; give "
                     "--redo to replace it\n");
    EXPECT_EQ(dir.read("SS1_ML_opt1.start"), "1 1 0.3 150\n0.1 0.1 0 0\n");
    EXPECT_FALSE(dir.exists("SS1_ML_opt1"));
    // Past the optima listed there is nothing to do, and that is no failure.
    r = zonetool(dir, "fit 1 --from joined.json --optimum 3 --seed 1 --checkpoint c.ckpt");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zonetool fit: joined.json lists 2 optima: no optimum 3 to fit from\n");
    EXPECT_FALSE(dir.exists("SS1_ML_opt3.start"));

    const std::pair<const char*, const char*> cases[] = {
        {"--optimum 1 --best 2", "give either --best or --optimum, not both"},
        {"--optimum 1 --seeds 1-2", "--optimum runs one fit: give one --seed, not --seeds"},
        {"--checkpoint c.ckpt", "--result, --checkpoint, --trace and --requeue need --optimum I"},
        {"--requeue", "--result, --checkpoint, --trace and --requeue need --optimum I"},
        {"--optimum 0", "--optimum needs a whole number from 1 to 1000, not '0'"},
        {"--optimum 1 --result ''", "--result needs a file name"},
    };
    for (const auto& [arguments, problem] : cases) {
        r = zonetool(dir, std::string("fit 1 --from joined.json ") + arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(r.err, std::string("zonetool fit: ") + problem +
                             "\nRun 'zonetool fit --help' for usage.\n")
            << arguments;
    }
}

namespace {

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
    EXPECT_EQ(block.out, "block 2 of 3: searches 3 to 4 of 6, part one.explore.part2-of-3.json\n");
    const ProgramResult empty = zonetool(dir, fast + options + " -o one --block 1/8");
    EXPECT_EQ(empty.out,
              "block 1 of 8: no search (6 searches in all), part one.explore.part1-of-8.json\n");
    const ProgramResult table =
        zonetool(dir, fast + options + " -o in3 --collect --blocks 3 --redo");
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("\n6 searches, "), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("record in3.explore.json, figure in3.explore.svg\n"),
              std::string::npos);
}

TEST(ExploreBlocks, ARunStopsWhenTwoSearchesAgreeAndItsPartsMergeIntoTheSameRecord) {
    ScratchDir dir;
    // Fitnesses and sigma held: every search finds the one optimum of F, so the first two agree
    // and the other two of the four are not run (or their results not kept).
    const std::string options =
        "--region wSS=0.8:0.8 --region wII=0.8:0.8 --region sigma=1:1 --starts 4";
    const ProgramResult one = zonetool(dir, fast + options + " -o one --format tsv");
    ASSERT_EQ(one.status, 0) << one.err;
    const std::string record = dir.read("one.explore.json");
    EXPECT_NE(record.find("\"searches\": 2,\n  \"confirmed\": 2,\n"), std::string::npos);
    EXPECT_EQ(count(record, "\"label\": \"derived start\""), 1u);
    EXPECT_EQ(count(record, "\"label\": \"search "), 1u);
    const ProgramResult two = zonetool(dir, fast + options + " -o two --jobs 2");
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(withoutTimes(dir.read("two.explore.json")), withoutTimes(record));
    EXPECT_NE(two.out.find("; the best confirmed by 2 of 2 searches; "), std::string::npos)
        << two.out;
    EXPECT_EQ(two.out.find("warning"), std::string::npos);
    // The parts run all four searches; the merge keeps what the whole run kept.
    ASSERT_TRUE(runBlocks(dir, options, "p", 2));
    EXPECT_EQ(count(dir.read("p.explore.part2-of-2.json"), "\"label\": \"search "), 2u);
    const ProgramResult merged =
        zonetool(dir, fast + options + " -o p --collect --blocks 2 --format tsv");
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(merged.out, one.out);
    EXPECT_EQ(withoutTimes(dir.read("p.explore.json")), withoutTimes(record));
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
        {"--design box", "its \"design\" is \"strength\", this run's \"box\"\n"},
        {"--region sigma=2:50", "its \"regions\" differs from this run's\n"},
        {"--box sigma=0:90", "its \"box\" differs from this run's\n"},
        {"--objective zonefit", "its \"objective\" is \"settled\", this run's \"zonefit\"\n"},
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
        {"--block 1/2 --blocks 3", "--blocks goes with --collect"},
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
    // explore minimises the settled value by default.
    const ProgramResult eval =
        zonetool(dir, "eval 1 1.2 0.8 0.3 15 --data three.tsv --objective settled");
    ASSERT_EQ(eval.status, 0) << eval.err;
    const std::string row = r.out.substr(r.out.find('\n') + 1);
    const std::string value = row.substr(2, row.find('\t', 2) - 2);
    EXPECT_EQ(value + "\n", eval.out);
    // Not the built-in data's value: the row loses the I allele that these sites observe, so the
    // settled value is the penalty unit above the score where it stops (361.91).
    EXPECT_NE(value.rfind("100361.", 0), std::string::npos) << value;
}

TEST(ExploreObjective, SettledByDefaultAndRecordedInTheMapTableAndParts) {
    ScratchDir dir;
    ProgramResult r = zonetool(dir, fast + "--starts 2 -o s");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nobjective settled\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  state  "), std::string::npos) << r.out;
    const std::string settled = dir.read("s.explore.json");
    EXPECT_NE(settled.find("\n  \"objective\": \"settled\",\n"), std::string::npos);
    EXPECT_EQ(count(settled, "\"state\": "), count(settled, "\"cliff_change\": "));

    r = zonetool(dir, fast + "--starts 2 -o z --objective zonefit --format tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string zonefit = dir.read("z.explore.json");
    EXPECT_NE(zonefit.find("\n  \"objective\": \"zonefit\",\n"), std::string::npos);
    // Under zonefit's objective no settled state is measured.
    EXPECT_EQ(count(zonefit, "\"state\": "), 0u);
    EXPECT_NE(r.out.find("\tzonefit\t-\t"), std::string::npos) << r.out;

    ASSERT_EQ(zonetool(dir, fast + "--starts 2 -o z --objective zonefit --block 1/1").status, 0);
    // With the global phase of the run: CRS2-LM unless --method says otherwise.
    EXPECT_NE(dir.read("z.explore.part1-of-1.json")
                  .find("\"objective\": \"zonefit\", \"method\": \"crs2\"}"),
              std::string::npos);
    EXPECT_NE(zonefit.find("\n  \"method\": \"crs2\",\n"), std::string::npos);
}

TEST(ExploreObjective, OlderRecordsAndPartsWithoutTheMemberReadAsZonefit) {
    ScratchDir dir;
    dir.write("old.json", penaltyRecord);
    ExploreMap map;
    map.objective = ObjectiveKind::settled;
    std::string error;
    ASSERT_TRUE(readExploreRecord(dir.file("old.json"), map, error)) << error;
    EXPECT_EQ(map.objective, ObjectiveKind::zonefit);
    EXPECT_FALSE(map.optima[0].stateMeasured);

    std::string record = penaltyRecord;
    record.replace(record.find("\"design\""), 0, "\"objective\": \"best\", ");
    dir.write("bad.json", record);
    EXPECT_FALSE(readExploreRecord(dir.file("bad.json"), map, error));
    EXPECT_EQ(error, dir.file("bad.json") + ": \"objective\" must be \"settled\" or \"zonefit\"");

    // A part of a zonefit run made before the member was written merges into a zonefit run
    // and is refused by a settled one.
    ASSERT_EQ(zonetool(dir, fast + "--starts 2 -o p --objective zonefit --block 1/1").status, 0);
    std::string part = dir.read("p.explore.part1-of-1.json");
    const std::string member = ", \"objective\": \"zonefit\"";
    part.erase(part.find(member), member.size());
    dir.write("p.explore.part1-of-1.json", part);
    const std::string collect = fast + "--starts 2 -o p --collect --blocks 1";
    ProgramResult r = zonetool(dir, collect);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool explore: p.explore.part1-of-1.json belongs to another run: its "
                     "\"objective\" is \"zonefit\", this run's \"settled\"\n"
                     "zonetool explore: nothing merged\n");
    r = zonetool(dir, collect + " --objective zonefit");
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(ExploreObjective, OptimumStatesRoundTripThroughTheRecord) {
    const ModelEntry& model = *findModel(1);
    ExploreMap map;
    map.model = 1;
    map.objective = ObjectiveKind::settled;
    map.regions = defaultRegions(DataContext{}, model);
    Optimum o;
    o.value = 483.4;
    o.point = {1.002584305, 1.002501366, 0.5866120784, 14.13080869};
    o.stateMeasured = true;
    o.state.kind = StateKind::unsettled;
    o.state.generations = 2000000;
    o.state.lastChange = 3.5e-10;
    map.optima.push_back(o);
    ScratchDir dir;
    dir.write("m.json", exploreJson(model, map));
    ExploreMap back;
    std::string error;
    ASSERT_TRUE(readExploreRecord(dir.file("m.json"), back, error)) << error;
    EXPECT_EQ(back.objective, ObjectiveKind::settled);
    ASSERT_TRUE(back.optima[0].stateMeasured);
    EXPECT_EQ(back.optima[0].state.kind, StateKind::unsettled);
    EXPECT_EQ(back.optima[0].state.generations, 2000000);
    EXPECT_EQ(back.optima[0].state.lastChange, 3.5e-10);
    // The table names the unsettled optimum with what it ran.
    EXPECT_NE(optimaTable(model, back).find("unsettled (2000000 gen., last change 3.5e-10)"),
              std::string::npos);
}

TEST(FitFrom, FitsMinimiseTheObjectiveTheRecordWasExploredUnder) {
    ScratchDir dir;
    writeQuickRecord(dir);
    std::string record = quickRecord;
    record.replace(record.find("\"design\""), 0, "\"objective\": \"settled\", ");
    dir.write("settled.json", record);
    ProgramResult r = zonetool(dir, "fit 1 --from settled.json --best 1 --seed 1 --data big.tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("SS1_ML_opt1.log").rfind("seed: 1\nobjective: settled\n", 0), 0u);
    FitRecord fit;
    std::string error;
    ASSERT_TRUE(readFitRecord(dir.file("SS1_ML_opt1.json"), fit, error)) << error;
    EXPECT_EQ(fit.objective, ObjectiveKind::settled);
    // --objective names the other one; one optimum alone passes it on to its fit.
    r = zonetool(
        dir,
        "fit 1 --from settled.json --best 1 --seed 1 --redo --objective zonefit --data big.tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(readFitRecord(dir.file("SS1_ML_opt1.json"), fit, error)) << error;
    EXPECT_EQ(fit.objective, ObjectiveKind::zonefit);
    r = zonetool(dir, "fit 1 --from settled.json --optimum 2 --seed 1 --quiet --data big.tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(readFitRecord(dir.file("SS1_ML_opt2.json"), fit, error)) << error;
    EXPECT_EQ(fit.objective, ObjectiveKind::settled);
    r = zonetool(dir, "fit 1 --from settled.json --objective all");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool fit: --objective needs settled or zonefit, not 'all'\n"
                     "Run 'zonetool fit --help' for usage.\n");
}
