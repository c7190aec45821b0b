// Replays the fuzzing seed corpus and every input that once made a fuzz target fail through the
// checks of the targets, in every build (with the sanitizers too).
#include "fuzz/fuzz_checks.h"
#include "fuzz/fuzz_record_checks.h"
#include "fuzz/fuzz_transect_checks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Check = std::string (*)(const std::uint8_t*, std::size_t);

// Runs `check` on every file of the seed corpus and the regressions of `reader`; returns how
// many files were tried.
int replay(const std::string& reader, Check check) {
    int tried = 0;
    for (const char* kind : {"corpus", "regressions"}) {
        const fs::path dir = fs::path(ZONEFIT_SOURCE_DIR) / "tests" / "fuzz" / kind / reader;
        if (!fs::is_directory(dir)) {
            continue;
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
            if (!entry.is_regular_file() || entry.path().filename() == "README.md") {
                continue;
            }
            std::ifstream in(entry.path(), std::ios::binary);
            const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
            const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
            EXPECT_EQ(check(data, bytes.size()), "") << entry.path();
            tried++;
        }
    }
    return tried;
}

} // namespace

TEST(FuzzCorpus, StartFileReaderHoldsOnEverySeedAndRegression) {
    EXPECT_GE(replay("start_file", fuzzchecks::checkStartFile), 12);
}

TEST(FuzzCorpus, BorderReaderHoldsOnEverySeedAndRegression) {
    EXPECT_GE(replay("borders", fuzzchecks::checkBorders), 11);
}

TEST(FuzzCorpus, TransectReaderHoldsOnEverySeedAndRegression) {
    EXPECT_GE(replay("transect", fuzzchecks::checkTransect), 16);
}

TEST(FuzzCorpus, FitRecordReaderHoldsOnEverySeedAndRegression) {
    EXPECT_GE(replay("fit_record", fuzzchecks::checkFitRecord), 15);
}

TEST(FuzzCorpus, TransectChecksCatchBadTransects) {
    Transect t;
    t.siteNames = {"a", "b", "c"};
    t.positions = {0, 1, 2};
    t.distances = {1, 1};
    t.countSS = {1, 0, 0};
    t.countSI = {0, 1, 0};
    t.countII = {0, 0, 1};
    EXPECT_EQ(fuzzchecks::transectProblem(t), "");
    Transect twice = t;
    twice.siteNames[2] = "a";
    EXPECT_EQ(fuzzchecks::transectProblem(twice), "bad or duplicate site name accepted");
    Transect empty = t;
    empty.countSI[1] = 0;
    EXPECT_EQ(fuzzchecks::transectProblem(empty), "site without individuals accepted");
    Transect backwards = t;
    backwards.distances[0] = -1;
    EXPECT_EQ(fuzzchecks::transectProblem(backwards), "distance not finite or negative");
}

TEST(FuzzCorpus, ChecksCatchWhatTheyAreFor) {
    // The checks themselves, on inputs whose outcome is known.
    const std::string good = "1 2\n0.1 0.2\n";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(good.data());
    EXPECT_EQ(fuzzchecks::expectedRows(bytes, good.size()), 2u);
    EXPECT_EQ(fuzzchecks::expectedRows(bytes, good.size() - 1), 2u);
    EXPECT_EQ(fuzzchecks::expectedRows(bytes, 0), 0u);
    EXPECT_EQ(fuzzchecks::checkStartFile(bytes, good.size()), "");
    const std::string borders = "25\n79\n";
    EXPECT_EQ(fuzzchecks::checkBorders(reinterpret_cast<const std::uint8_t*>(borders.data()),
                                       borders.size()),
              "");
}
