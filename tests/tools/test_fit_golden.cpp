// A short seeded fit pinned byte for byte: its standard output, result file and trace. Any
// change to the annealer's moves, the schedule's temperatures, the simulation or the model
// shows up here.
//
// The expected files live in tests/tools/golden/. After a deliberate change of the output (a
// new trace column, say), regenerate them with
//
//   ZONEFIT_UPDATE_GOLDEN=1 ctest -R FitGolden
//
// (or by running the test binary with that variable set), check the difference with git diff,
// and commit the new files.
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

const std::string goldenDir = std::string(ZONEFIT_SOURCE_DIR) + "/tests/tools/golden/";

bool updating() {
    const char* value = std::getenv("ZONEFIT_UPDATE_GOLDEN");
    return value != nullptr && std::string(value) == "1";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// Compares `actual` with the golden file `name`, or rewrites the file when updating.
void expectGolden(const std::string& name, const std::string& actual) {
    const std::string path = goldenDir + name;
    if (updating()) {
        std::ofstream out(path, std::ios::binary);
        out << actual;
        ASSERT_TRUE(out.flush()) << "cannot write " << path;
        return;
    }
    std::ifstream probe(path, std::ios::binary);
    ASSERT_TRUE(probe.good()) << "missing golden file " << path
                              << " (ZONEFIT_UPDATE_GOLDEN=1 writes it)";
    EXPECT_EQ(actual, readFile(path)) << "differs from " << path;
}

} // namespace

// Model 1 from 1.2 0.8 0.3 15 with only F and sigma free (steps 0 0 0.05 2), seed 1.
TEST(FitGolden, ModelOneSeedOneOutputResultAndTrace) {
    ScratchDir dir;
    dir.write("start.txt", "1.2 0.8 0.3 15\n0 0 0.05 2\n");
    const ProgramResult r = runProgram(
        dir.path(), ZONETOOL_BIN, "fit 1 --seed 1 --start start.txt --trace trace.tsv --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    expectGolden("fit1_seed1.stdout", r.out);
    expectGolden("fit1_seed1.result", dir.read("SS1_ML_"));
    expectGolden("fit1_seed1.trace.tsv", dir.read("trace.tsv"));
    if (updating()) {
        std::printf("golden files rewritten in %s\n", goldenDir.c_str());
    }
}
