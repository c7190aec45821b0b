// The cline records that compare finds beside the model fits: which fits it takes, their AICc,
// and the files it skips with a warning.
#include "tools/formats/descriptive_records.h"

#include "support/run_program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// A record of two fits: sigmoid (3 parameters, -lnL 100) of locus A, and stepped (5
// parameters, -lnL 98) of locus B, made on the data of checksum "fnv1a64:abc".
const std::string twoLoci = "{\n"
                            "  \"record\": \"zonetool cline\",\n"
                            "  \"version\": 1,\n"
                            "  \"data_checksum\": \"fnv1a64:abc\",\n"
                            "  \"fits\": [\n"
                            "    {\"shape\": \"sigmoid\", \"fis\": \"constant\", \"ends\": "
                            "\"fixed\", \"axis\": \"position\", \"locus\": \"A\", \"value\": "
                            "100, \"parameters\": [{}, {}, {}]},\n"
                            "    {\"shape\": \"stepped\", \"fis\": \"peak\", \"ends\": \"free\", "
                            "\"axis\": \"distance\", \"locus\": \"B\", \"value\": 98, "
                            "\"parameters\": [{}, {}, {}, {}, {}]}\n"
                            "  ]\n"
                            "}\n";

std::vector<DescriptiveRow> find(const ScratchDir& dir, const std::string& checksum,
                                 const std::string& locus, std::vector<std::string>& warnings) {
    return findDescriptiveFits({dir.path()}, false, checksum, locus, 751, warnings);
}

} // namespace

TEST(DescriptiveRecords, TakesTheFitsOfTheDataAndLocusInUseWithTheirAicc) {
    ScratchDir dir;
    dir.write("cline_sigmoid.json", twoLoci);
    // Only files named cline_*.json are records.
    dir.write("other.json", "not looked at");
    std::vector<std::string> warnings;
    const std::vector<DescriptiveRow> a = find(dir, "fnv1a64:abc", "A", warnings);
    EXPECT_TRUE(warnings.empty());
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].path, dir.file("cline_sigmoid.json"));
    EXPECT_EQ(a[0].shape, "sigmoid");
    EXPECT_EQ(a[0].fis, "constant");
    EXPECT_EQ(a[0].ends, "fixed");
    EXPECT_EQ(a[0].axis, "position");
    EXPECT_EQ(a[0].k, 3);
    // AIC = 2k + 2(-lnL) = 206; AICc adds 2k(k + 1) / (n - k - 1) = 24 / 747.
    EXPECT_DOUBLE_EQ(a[0].aic, 206.0);
    EXPECT_DOUBLE_EQ(a[0].aicc, 206.0 + 24.0 / 747.0);

    const std::vector<DescriptiveRow> b = find(dir, "fnv1a64:abc", "B", warnings);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0].k, 5);
    EXPECT_DOUBLE_EQ(b[0].aicc, 10.0 + 196.0 + 60.0 / 745.0);
    // Fits of other data, or of no locus, are not this comparison's: none, and no warning.
    EXPECT_TRUE(find(dir, "fnv1a64:other", "A", warnings).empty());
    EXPECT_TRUE(find(dir, "fnv1a64:abc", "", warnings).empty());
    EXPECT_TRUE(warnings.empty());
}

TEST(DescriptiveRecords, DamagedOrForeignRecordsAreSkippedNamingFileAndLine) {
    ScratchDir dir;
    // Cut off in the middle of its second fit, on line 7.
    dir.write("cline_cut.json", twoLoci.substr(0, twoLoci.find("\"stepped\"")));
    dir.write("cline_twice.json", "{\"record\": \"zonetool cline\", \"fits\": [],\n"
                                  "\"fits\": []}\n");
    dir.write("cline_fit.json", "{\"record\": \"zonetool fit\", \"fits\": []}\n");
    dir.write("cline_novalue.json", "{\"record\": \"zonetool cline\", \"data_checksum\": "
                                    "\"fnv1a64:abc\", \"fits\": [{\"locus\": \"A\", "
                                    "\"value\": \"100\", \"parameters\": []}]}\n");
    std::vector<std::string> warnings;
    EXPECT_TRUE(find(dir, "fnv1a64:abc", "A", warnings).empty());
    std::sort(warnings.begin(), warnings.end());
    EXPECT_EQ(
        warnings,
        (std::vector<std::string>{
            "warning: " + dir.file("cline_cut.json") + ": not valid JSON near line 7; skipped",
            "warning: " + dir.file("cline_fit.json") + " is no record of 'zonetool cline'; skipped",
            "warning: " + dir.file("cline_novalue.json") +
                " is no record of 'zonetool cline'; skipped",
            "warning: " + dir.file("cline_twice.json") +
                ": not valid JSON: the member \"fits\" appears twice in one "
                "object; skipped",
        }));
}
