// scripts/recover in its fast form: simulate a data set from model 1, profile sigma on it and
// find the true value inside the 2-unit support limits.
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(RecoverScript, FindsTheTrueSigmaInsideItsSupportLimits) {
    ScratchDir dir;
    const ProgramResult r = runProgram(
        dir.path(), std::string(ZONEFIT_SOURCE_DIR) + "/scripts/recover",
        "--fast --zonetool " + shellQuote(ZONETOOL_BIN) + " --dir " + shellQuote(dir.file("work")));
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string header;
    std::getline(lines, header);
    EXPECT_EQ(header.rfind("model  name", 0), 0u) << r.out;
    std::string model, name, truth, estimate, lower, upper, inside;
    lines >> model >> name >> truth >> estimate >> lower >> upper >> inside;
    EXPECT_EQ(model, "1");
    EXPECT_EQ(name, "sigma");
    EXPECT_EQ(truth, "15");
    EXPECT_LT(std::stod(lower), 15.0);
    EXPECT_GT(std::stod(upper), 15.0);
    // Limits of a data set of 751 individuals: a few units of sigma, not the whole box.
    EXPECT_GT(std::stod(lower), 5.0);
    EXPECT_LT(std::stod(upper), 40.0);
    EXPECT_EQ(inside, "yes");
    EXPECT_TRUE(dir.exists("work/sim1.tsv"));
}
