// Recovery of known parameters: data simulated from a point of model 1, searched and profiled
// by the programs themselves, and by scripts/recover in its fast form.
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// The last line of a program's standard output, where eval writes its value.
std::string lastLine(const std::string& text) {
    std::string line;
    std::string last;
    std::istringstream lines(text);
    while (std::getline(lines, line)) {
        if (!line.empty()) {
            last = line;
        }
    }
    return last;
}

} // namespace

// 751 individuals drawn from SS_1 at 1.05 1.05 0.3 15. A search started a few steps away from
// the truth must end at least as high in likelihood as the truth itself (the truth is one
// point of the surface it climbs), and not implausibly higher: four free parameters gain a
// couple of log-likelihood units over the truth, never tens (which would mean the search
// scored another transect than the simulated one).
TEST(Recovery, ASearchNearTheTruthFindsAtLeastTheTruthsLikelihood) {
    ScratchDir dir;
    ProgramResult r =
        runProgram(dir.path(), ZONETOOL_BIN, "simulate 1 1.05 1.05 0.3 15 --seed 11 -o sim1.tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    r = runProgram(dir.path(), ZONETOOL_BIN,
                   "eval 1 1.05 1.05 0.3 15 --data sim1.tsv --objective settled");
    ASSERT_EQ(r.status, 0) << r.err;
    const double truth = std::stod(lastLine(r.out));
    EXPECT_NE(r.err.find("equilibrium"), std::string::npos) << r.err;
    // The built-in transect's -lnL at this point is 1510: the value is of the simulated file.
    EXPECT_LT(truth, 100.0);

    dir.write("startvec1.txt", "1.1 1.1 0.4 12\n0.05 0.05 0.05 2\n");
    r = runProgram(dir.path(), ZONETOOL_BIN,
                   "explore 1 --data sim1.tsv --starts 1 --budget 400 --format tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    // rank, value, ... then the four coordinates.
    std::istringstream table(r.out);
    std::string header;
    std::string best;
    std::getline(table, header);
    std::getline(table, best);
    std::istringstream fields(best);
    std::string field;
    std::vector<std::string> row;
    while (std::getline(fields, field, '\t')) {
        row.push_back(field);
    }
    ASSERT_GE(row.size(), 6u) << r.out;
    const double found = std::stod(row[1]);
    EXPECT_LE(found, truth + 1e-9) << "truth " << truth;
    EXPECT_GT(found, truth - 10.0) << "truth " << truth;
    // The dispersal scale found lies near the true 15.
    const double sigma = std::stod(row.back());
    EXPECT_GT(sigma, 10.0);
    EXPECT_LT(sigma, 22.0);
}

// scripts/recover --fast: the -lnL table says the search found at least the truth's
// likelihood, and the table of limits finds the true sigma inside its support limits.
TEST(RecoverScript, FindsTheTruthsLikelihoodAndTheTrueSigmaInsideItsLimits) {
    ScratchDir dir;
    const std::string script = std::string(ZONEFIT_SOURCE_DIR) + "/scripts/recover";
    const ProgramResult r = runProgram(dir.path(), script,
                                       "--fast --zonetool " + shellQuote(ZONETOOL_BIN) + " --dir " +
                                           shellQuote(dir.file("work")));
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string header;
    std::getline(lines, header);
    EXPECT_EQ(header.rfind("model", 0), 0u) << r.out;
    EXPECT_NE(header.find("truth_lnL"), std::string::npos) << r.out;
    std::string model, truthText, foundText, atLeast;
    lines >> model >> truthText >> foundText >> atLeast;
    EXPECT_EQ(model, "1");
    EXPECT_LE(std::stod(foundText), std::stod(truthText) + 1e-9);
    EXPECT_EQ(atLeast, "yes");
    std::getline(lines, header); // the rest of the row
    std::getline(lines, header); // the blank line between the tables
    std::getline(lines, header);
    EXPECT_EQ(header.rfind("model  name", 0), 0u) << r.out;
    std::string name, truth, estimate, lower, upper, inside;
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

    // A model without a true point is refused before any work.
    const ProgramResult bad = runProgram(dir.path(), script,
                                         "--models 1,5 --zonetool " + shellQuote(ZONETOOL_BIN) +
                                             " --dir " + shellQuote(dir.file("bad")));
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "recover: model '5' has no true point here (1, 2, 7 or 8)\n");
    EXPECT_FALSE(dir.exists("bad"));
}
