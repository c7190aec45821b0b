// The declarative command-line reader of zonetool and its stock setters and checks.
#include "tools/formats/options.h"

#include <gtest/gtest.h>

#include <iostream>

namespace {

struct ToyOptions {
    bool quiet = false;
    std::string file;
    double step = 1.0;
    int format = 0;
    std::string modelText;
    int model = 0;
};

// A small command: a flag, a file, a positive number, a choice and MODEL.
OptionParser toyParser(ToyOptions& o) {
    return OptionParser(
               "toy", [] { return std::string("Usage: zonetool toy\n"); }, std::cout, std::cerr)
        .flag({"--quiet", "-q"}, [&o] { o.quiet = true; })
        .value({"-o", "--output"}, "a file name", storeText(o.file))
        .value({"--step"}, "a value", storePositive(o.step))
        .value({"--format"}, "a value",
               storeChoice(o.format, {{"table", 0}, {"tsv", 1}}, "table or tsv"))
        .positional(takeOne(o.modelText))
        .check(requireModel(o.modelText, o.model));
}

// Status and standard error of one reading.
std::pair<int, std::string> read(const std::vector<std::string>& args, ToyOptions& o) {
    testing::internal::CaptureStderr();
    const int status = toyParser(o).parse(args);
    return {status, testing::internal::GetCapturedStderr()};
}

std::string usage(const std::string& problem) {
    return "zonetool toy: " + problem + "\nRun 'zonetool toy --help' for usage.\n";
}

} // namespace

TEST(OptionParser, FillsTheOptionsInAnyOrder) {
    ToyOptions o;
    EXPECT_EQ(read({"--step", "0.5", "0x0a", "-q", "--output", "a b.svg", "--format", "tsv"}, o),
              std::make_pair(-1, std::string()));
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.file, "a b.svg");
    EXPECT_EQ(o.step, 0.5);
    EXPECT_EQ(o.format, 1);
    EXPECT_EQ(o.model, 10);
    // A value is taken as it is, even when it looks like an option.
    ToyOptions p;
    EXPECT_EQ(read({"3", "-o", "--help"}, p).first, -1);
    EXPECT_EQ(p.file, "--help");
}

TEST(OptionParser, HelpEndsTheReadingUnlessAProblemCameFirst) {
    ToyOptions o;
    testing::internal::CaptureStdout();
    EXPECT_EQ(read({"x", "-h", "--bogus"}, o), std::make_pair(0, std::string()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Usage: zonetool toy\n");
    EXPECT_EQ(read({"--bogus", "--help"}, o), std::make_pair(2, usage("unknown option '--bogus'")));
}

TEST(OptionParser, UsageErrorsNameTheArgumentAsTyped) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"1", "--output"}, "--output needs a file name"},
        {{"1", "-o"}, "-o needs a file name"},
        {{"1", "--step", "0"}, "--step needs a positive number, not '0'"},
        {{"1", "--step", "inf"}, "--step needs a positive number, not 'inf'"},
        {{"1", "--step", "nan"}, "--step needs a positive number, not 'nan'"},
        {{"1", "--step", "2x"}, "--step needs a positive number, not '2x'"},
        {{"1", "--format", "json"}, "--format needs table or tsv, not 'json'"},
        {{"1", "2"}, "unexpected argument '2'"},
        {{}, "missing MODEL"},
        {{"11"}, "MODEL must be a model number from 1 to 10, not '11'"},
        // The values are read before the checks: the bad step wins over the bad model.
        {{"0", "--step", "-1"}, "--step needs a positive number, not '-1'"},
        // Only "--" starts an option here: "-5" is positional.
        {{"-5"}, "MODEL must be a model number from 1 to 10, not '-5'"},
    };
    for (const auto& c : cases) {
        ToyOptions o;
        EXPECT_EQ(read(c.first, o), std::make_pair(2, usage(c.second))) << c.second;
    }
}

TEST(OptionParser, PrefixDecidesWhatIsAnUnknownOption) {
    std::string text;
    auto parser = [&text](const std::string& prefix) {
        return OptionParser(
                   "toy", [] { return std::string(); }, std::cout, std::cerr)
            .optionPrefix(prefix)
            .positional(takeOne(text));
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(parser("-").parse({"-x"}), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), usage("unknown option '-x'"));
    text.clear();
    EXPECT_EQ(parser("").parse({"--x"}), -1);
    EXPECT_EQ(text, "--x");
    // Without a positional taker every positional argument is unexpected.
    testing::internal::CaptureStderr();
    EXPECT_EQ(OptionParser(
                  "", [] { return std::string(); }, std::cout, std::cerr)
                  .optionPrefix("")
                  .parse({"--x"}),
              2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "zonetool: unexpected argument '--x'\nRun 'zonetool --help' for usage.\n");
}

TEST(OptionParser, UnknownOptionsCanBeWordedOrTakenAsPositional) {
    std::vector<std::string> taken;
    auto parser = [&taken] {
        return OptionParser(
                   "toy", [] { return std::string(); }, std::cout, std::cerr)
            .optionPrefix("-")
            .unknownOption([](const std::string& arg) -> Problem {
                return arg == "-" ? "" : "'" + arg + "' does not go here";
            })
            .flag({"-r"}, [] {})
            .positional([&taken](const std::string& arg) -> Problem {
                taken.push_back(arg);
                return "";
            });
    };
    EXPECT_EQ(parser().parse({"-", "-r", "a"}), -1);
    EXPECT_EQ(taken, (std::vector<std::string>{"-", "a"}));
    testing::internal::CaptureStderr();
    EXPECT_EQ(parser().parse({"a", "-x"}), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), usage("'-x' does not go here"));
}

TEST(OptionParser, WholeNumbersAndSeedsKeepTheirBounds) {
    int count = 0;
    std::vector<std::uint64_t> seeds;
    bool seedGiven = false;
    bool seedsGiven = false;
    const auto parse = [&](const std::vector<std::string>& args) {
        testing::internal::CaptureStderr();
        const int status = OptionParser(
                               "toy", [] { return std::string(); }, std::cout, std::cerr)
                               .value({"--jobs"}, "a value", storeWhole(count, 1, 256))
                               .value({"--seed"}, "a value", storeSeed(seeds, seedGiven))
                               .value({"--seeds"}, "a value", storeSeedList(seeds, 3, seedsGiven))
                               .parse(args);
        return std::make_pair(status, testing::internal::GetCapturedStderr());
    };
    EXPECT_EQ(parse({"--jobs", "1"}).first, -1);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(parse({"--jobs", "256"}).first, -1);
    EXPECT_EQ(count, 256);
    for (const char* bad : {"0", "257", "-1", "2.5", ""}) {
        EXPECT_EQ(parse({"--jobs", bad}),
                  std::make_pair(2, usage(std::string("--jobs needs a whole number from 1 to 256, "
                                                      "not '") +
                                          bad + "'")));
    }
    EXPECT_EQ(parse({"--seed", "18446744073709551615"}).first, -1);
    EXPECT_EQ(seeds, std::vector<std::uint64_t>{18446744073709551615u});
    EXPECT_TRUE(seedGiven);
    EXPECT_EQ(parse({"--seed", "18446744073709551616"}),
              std::make_pair(2, usage("--seed needs a whole number from 0 to "
                                      "18446744073709551615, not '18446744073709551616'")));
    EXPECT_FALSE(seedsGiven);
    EXPECT_EQ(parse({"--seeds", "4-6"}).first, -1);
    EXPECT_EQ(seeds, (std::vector<std::uint64_t>{4, 5, 6}));
    EXPECT_TRUE(seedsGiven);
    EXPECT_EQ(parse({"--seeds", "1-4"}).second.rfind("zonetool toy: --seeds: ", 0), 0u);
}

TEST(OptionParser, ObjectiveTakesSettledOrZonefitOnly) {
    ObjectiveKind kind = ObjectiveKind::zonefit;
    const OptionParser::ValueSetter set = storeObjective(kind);
    EXPECT_EQ(set("--objective", "settled"), "");
    EXPECT_EQ(kind, ObjectiveKind::settled);
    EXPECT_EQ(set("--objective", "zonefit"), "");
    EXPECT_EQ(kind, ObjectiveKind::zonefit);
    EXPECT_EQ(set("--objective", "both"), "--objective needs settled or zonefit, not 'both'");
    EXPECT_EQ(set("--objective", ""), "--objective needs settled or zonefit, not ''");
    EXPECT_EQ(kind, ObjectiveKind::zonefit);
}
