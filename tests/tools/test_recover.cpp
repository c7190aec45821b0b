// Recovery of known parameters: data simulated from a point of model 1, searched and profiled
// by the programs themselves.
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
