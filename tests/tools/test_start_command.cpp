// zonetool start and the fits and messages around a transect of the user's own, end to end.
#include "data/transect_file.h"
#include "models/scaled_boxes.h"
#include "support/quick_fit.h"
#include "support/run_in_process.h"
#include "support/run_program.h"
#include "tools/analysis/derived_start.h"
#include "tools/formats/fit_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

ProgramResult zonetool(const ScratchDir& dir, const std::string& arguments) {
    return runInProcess(dir.path(), arguments);
}

// 24 sites 10 apart (230 long, not the built-in 853), 12 individuals each: a cline of the S
// allele centred at 115 with a heterozygote deficit (F_IS 0.41 with Nei's correction).
const char* const transectText = "site\tposition\tdistance\tSS\tSI\tII\n"
                                 "s1\t0\t10\t12\t0\t0\n"
                                 "s2\t10\t10\t12\t0\t0\n"
                                 "s3\t20\t10\t12\t0\t0\n"
                                 "s4\t30\t10\t12\t0\t0\n"
                                 "s5\t40\t10\t12\t0\t0\n"
                                 "s6\t50\t10\t12\t0\t0\n"
                                 "s7\t60\t10\t11\t0\t1\n"
                                 "s8\t70\t10\t11\t1\t0\n"
                                 "s9\t80\t10\t10\t1\t1\n"
                                 "s10\t90\t10\t9\t2\t1\n"
                                 "s11\t100\t10\t7\t3\t2\n"
                                 "s12\t110\t10\t5\t4\t3\n"
                                 "s13\t120\t10\t3\t4\t5\n"
                                 "s14\t130\t10\t2\t3\t7\n"
                                 "s15\t140\t10\t1\t2\t9\n"
                                 "s16\t150\t10\t0\t1\t11\n"
                                 "s17\t160\t10\t0\t1\t11\n"
                                 "s18\t170\t10\t0\t0\t12\n"
                                 "s19\t180\t10\t0\t0\t12\n"
                                 "s20\t190\t10\t0\t0\t12\n"
                                 "s21\t200\t10\t0\t0\t12\n"
                                 "s22\t210\t10\t0\t0\t12\n"
                                 "s23\t220\t10\t0\t0\t12\n"
                                 "s24\t230\tNA\t0\t0\t12\n";

std::vector<double> numbersOf(const std::string& line) {
    std::istringstream in(line);
    std::vector<double> values;
    double v = 0.0;
    while (in >> v) {
        values.push_back(v);
    }
    return values;
}

// The two rows of a start-file text.
void rowsOf(const std::string& text, std::vector<double>& start, std::vector<double>& steps) {
    const std::size_t end = text.find('\n');
    start = numbersOf(text.substr(0, end));
    steps = numbersOf(text.substr(end + 1));
}

std::string joined(const std::vector<double>& values) {
    std::string text;
    for (double v : values) {
        text += " " + shortestText(v);
    }
    return text;
}

// The boxes the models test for `transectText`.
BoxSet testBoxes() {
    std::istringstream in(transectText);
    Transect t;
    std::string error;
    EXPECT_TRUE(readTransect(in, "mine.tsv", t, error)) << error;
    BoxSet boxes;
    boxes.scale(transectScale(t));
    return boxes;
}

// Checks every model's start in `dir` (data options `data`): inside the box, and evaluated
// below the penalty unit at equilibrium.
void checkEveryModel(const ScratchDir& dir, const std::string& data, const BoxSet& boxes) {
    for (int number = 1; number <= 10; number++) {
        const ProgramResult r = zonetool(dir, "start " + std::to_string(number) + data);
        ASSERT_EQ(r.status, 0) << number << r.err;
        std::vector<double> start;
        std::vector<double> steps;
        rowsOf(r.out, start, steps);
        const ModelBox& box = boxes.boxes()[number - 1];
        ASSERT_EQ(static_cast<int>(start.size()), box.parameterCount) << number;
        ASSERT_EQ(steps.size(), start.size()) << number;
        for (int k = 0; k < box.parameterCount; k++) {
            EXPECT_TRUE(strictlyInside(box.parameters[k], start[static_cast<std::size_t>(k)]))
                << number << " " << box.parameters[k].name;
            EXPECT_NE(steps[static_cast<std::size_t>(k)], 0.0) << number;
        }
        const ProgramResult value =
            zonetool(dir, "eval " + std::to_string(number) + joined(start) + data);
        ASSERT_EQ(value.status, 0) << number << value.err;
        const double v = std::stod(value.out);
        EXPECT_TRUE(std::isfinite(v)) << number;
        EXPECT_LT(v, box.penaltyUnit) << number;
        EXPECT_NE(value.err.find("(equilibrium reached)"), std::string::npos)
            << number << value.err;
    }
}

} // namespace

TEST(StartCommand, EveryModelOnAnOwnTransectStartsInsideItsBoxWithoutPenalty) {
    ScratchDir dir;
    dir.write("mine.tsv", transectText);
    // The borders enclose the cline: deme 9 (position 90) to deme 15 (position 150).
    const ProgramResult borders = zonetool(dir, "start 3 --data mine.tsv --borders");
    ASSERT_EQ(borders.status, 0) << borders.err;
    EXPECT_EQ(dir.read("borders.txt"), "9\n15\n");
    EXPECT_EQ(borders.err, "zonetool start: wrote borders.txt: demes 9 and 15, where the fitted "
                           "cline of mine.tsv passes S frequencies 0.9 and 0.1\n");
    checkEveryModel(dir, " --data mine.tsv", testBoxes());
}

TEST(StartCommand, ValuesABiologistCanCheck) {
    ScratchDir dir;
    dir.write("mine.tsv", transectText);
    std::vector<double> start;
    std::vector<double> steps;
    rowsOf(zonetool(dir, "start 7 --data mine.tsv").out, start, steps);
    ASSERT_EQ(start.size(), 5u);
    // 22 heterozygotes where 37.13 are expected: F_IS = 0.4075, F = 2 F_IS / (1 + F_IS).
    EXPECT_EQ(start[2], 0.579);
    EXPECT_EQ(steps[2], 0.05);
    // The contact where p crosses 1/2: 115 in the counts, 113.3 for the fitted curve.
    EXPECT_NEAR(start[4], 115.0, 3.0);
    // sigma a 25th of the width, about 58; its step 15 percent of it.
    EXPECT_NEAR(start[3], 2.3, 0.1);
    EXPECT_NEAR(steps[3], 0.15 * start[3], 0.01);
}

TEST(StartCommand, BuiltInTransectWithoutData) {
    ScratchDir dir;
    ASSERT_EQ(zonetool(dir, "start 3 --borders").status, 0);
    checkEveryModel(dir, "", BoxSet());
    // Model 7 at a 25th of the width (16.54) stops at the generation cap; half of it does not.
    const ProgramResult r = zonetool(dir, "start 7");
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "1.05 1.05 0.2146 8.272 315");
    EXPECT_EQ(r.err, "zonetool start: sigma halved 1 time (to 8.272): with more, the start "
                     "evaluated to a penalty or did not reach equilibrium\n");
}

TEST(StartCommand, IIAtTheLowEndMirrorsRegionsAndIsNamedForModelSeven) {
    ScratchDir dir;
    // The same rows with SS and II swapped in the header: II dominates the low end.
    std::string text = transectText;
    text.replace(0, text.find('\n'), "site\tposition\tdistance\tII\tSI\tSS");
    dir.write("rev.tsv", text);
    ProgramResult r = zonetool(dir, "start 8 --data rev.tsv");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.substr(0, r.out.find(" 0.579")), "0.95 1.05 1.05 0.95");
    r = zonetool(dir, "start 7 --data rev.tsv");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "zonetool start: the S allele dominates the high end of rev.tsv, but model "
                     "7 (C_1) starts with SS below the contact and II above it\n");
}

TEST(StartCommand, WritesOnlyWhenAskedAndNeverOverwritesWithoutRedo) {
    ScratchDir dir;
    dir.write("mine.tsv", transectText);
    const ProgramResult printed = zonetool(dir, "start 7 --data mine.tsv");
    ASSERT_EQ(printed.status, 0);
    ProgramResult r = zonetool(dir, "start 7 --data mine.tsv -o startvec7.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.read("startvec7.txt"), printed.out);
    EXPECT_FALSE(dir.exists("startvec7.txt.tmp"));

    dir.write("startvec7.txt", "mine\n");
    r = zonetool(dir, "start 7 --data mine.tsv -o startvec7.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zonetool start: startvec7.txt exists already; give --redo to overwrite it\n");
    EXPECT_EQ(dir.read("startvec7.txt"), "mine\n");
    r = zonetool(dir, "start 7 --data mine.tsv -o startvec7.txt --redo");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.read("startvec7.txt"), printed.out);

    // --borders likewise; refused, it writes neither file.
    dir.write("borders.txt", "2\n20\n");
    r = zonetool(dir, "start 5 --data mine.tsv --borders -o startvec5.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool start: borders.txt exists already; give --redo to overwrite it\n");
    EXPECT_EQ(dir.read("borders.txt"), "2\n20\n");
    EXPECT_FALSE(dir.exists("startvec5.txt"));
    r = zonetool(dir, "start 5 --data mine.tsv --borders --redo");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.read("borders.txt"), "9\n15\n");

    r = zonetool(dir, "start 1 -o nodir/startvec1.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("zonetool start: cannot write nodir/startvec1.txt: cannot create "
                          "nodir/startvec1.txt.tmp",
                          0),
              0u)
        << r.err;
    EXPECT_NE(r.err.find(": No such file or directory\n"), std::string::npos) << r.err;
}

TEST(StartCommand, SaysWhichBordersModelsThreeToSixAssume) {
    ScratchDir dir;
    dir.write("mine.tsv", transectText);
    ProgramResult r = zonetool(dir, "start 4 --data mine.tsv");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "zonetool start: no borders.txt here; model 4 (SS_3_F0) reads its region "
                     "borders from it. This start assumes demes 9 and 15; write them with "
                     "'zonetool start 4 --borders'\n");
    dir.write("borders.txt", "5\n18\n");
    r = zonetool(dir, "start 4 --data mine.tsv");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "zonetool start: model 4 (SS_3_F0) uses the region borders of borders.txt: demes "
              "5 and 18\n");
    // Borders beyond the 24 sites of this transect.
    dir.write("borders.txt", "5\n30\n");
    r = zonetool(dir, "start 4 --data mine.tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error in borders.txt: border 2 is 30, outside 0 to 24\n");
    r = zonetool(dir, "start 1 --borders");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
              "zonetool start: --borders is for models 3 to 6, which read borders.txt");
}

TEST(FitFromDerivedStart, FitDataWithoutStartFileUsesTheDerivedStartAndSaysSo) {
    ScratchDir dir;
    dir.write("mine.tsv", transectText);
    ASSERT_EQ(runProgram(dir.path(), "/bin/mkdir", "tmp").status, 0);
    // All but the border deme held by boxes of one value, whose steps are 0: a short fit.
    const std::string boxes = " --box wSS_L=1.05:1.05 --box wII_L=0.95:0.95 --box wSS_R=0.95:0.95"
                              " --box wII_R=1.05:1.05 --box F=0.5:0.5 --box sigma=2:2";
    const std::string fit = "TMPDIR=" + dir.file("tmp") + " " + shellQuote(ZONETOOL_BIN) +
                            " fit 2 --seed 1 --quiet --data mine.tsv" + boxes;
    ProgramResult r = runProgram(dir.path(), "/usr/bin/env", fit);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "zonetool fit: no startvec2.txt here: fitting from the start derived from "
                     "mine.tsv (zonetool start 2 --data mine.tsv" +
                         boxes + "); write it with -o to keep it\n");
    // The fit began where 'zonetool start' begins: the border deme at site 12 (position 120).
    FitRecord record;
    std::string error;
    ASSERT_TRUE(parseFitRecord(dir.read("SS2_ML_.json"), record, error)) << error;
    EXPECT_EQ(record.start, (std::vector<double>{1.05, 0.95, 0.95, 1.05, 0.5, 2, 12.5}));
    EXPECT_EQ(record.steps, (std::vector<double>{0, 0, 0, 0, 0, 0, 1.9}));
    std::vector<double> start;
    std::vector<double> steps;
    rowsOf(zonetool(dir, "start 2 --data mine.tsv" + boxes).out, start, steps);
    EXPECT_EQ(record.start, start);
    EXPECT_EQ(record.steps, steps);
    // The temporary start is gone with the command.
    EXPECT_EQ(runProgram(dir.path(), "/bin/ls", "-A tmp").out, "");
}

TEST(FitFromDerivedStart, AStartFileOfItsOwnIsReadWithoutAWord) {
    ScratchDir dir;
    // A quick fit: steps of 0 on a transect of three large samples.
    dir.write("big.tsv", bigSampleTransect);
    dir.write("startvec1.txt", quickStart1);
    const ProgramResult r = zonetool(dir, "fit 1 --seed 1 --quiet --data big.tsv");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST(FitFromDerivedStart, TheBuiltInTransectStillNeedsItsStartFile) {
    ScratchDir dir;
    const ProgramResult r = zonetool(dir, "fit 1 --quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("zonetool fit: no startvec1.txt in ", 0), 0u) << r.err;
}

TEST(StartFileMessages, ZonetoolNamesTheFileZonefitKeepsItsWords) {
    ScratchDir dir;
    dir.write("startvec1.txt", "1 1 0.5\n0.1 0.1 0.1\n");
    ProgramResult r = zonetool(dir, "fit 1 --quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "startvec1.txt: Model 1 (SS_1) reads 4 parameters, but the start vector "
                     "holds 3 values. Exiting (1)\n");
    dir.write("short.txt", "1 1 0.5 10\n");
    r = zonetool(dir, "fit 1 --quiet --start short.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "short.txt: Forgot to include the deltas in the second row of input file. "
                     "Exiting (1)\n");
    r = runProgram(dir.path(), ZONEFIT_BIN, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Model 1 (SS_1) reads 4 parameters, but the start vector holds 3 values. "
                     "Exiting (1)\n");
}

TEST(StartFileMessages, DecimalCommasAndCommaSeparatedValues) {
    ScratchDir dir;
    dir.write("startvec1.txt", "1,05 1,05 0,3 5\n0,15 0,15 0,05 2\n");
    ProgramResult r = zonetool(dir, "fit 1 --quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zonetool fit: startvec1.txt line 1: decimal commas are not read: write "
                     "1.05\n");
    dir.write("startvec2.txt", "1.05 0.95 0.95 1.05 0.3 15 50\n0.15 0.15 0.15 0.15 0.05 2 7\n");
    r = zonetool(dir, "fit 1,2 --quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool fit: startvec1.txt line 1: decimal commas are not read: write "
                     "1.05\n");
    dir.write("c.txt", "1.05,1.05,0.3,5\n0.15,0.15,0.05,2\n");
    r = zonetool(dir, "fit 1 --quiet --start c.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "zonetool fit: c.txt line 1: values are separated by blanks or tabs, not commas\n");
    // zonefit reads "1,05" as 1 and stops the row there, as it always has.
    r = runProgram(dir.path(), ZONEFIT_BIN, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Model 1 (SS_1) reads 4 parameters, but the start vector holds 1 value. "
                     "Exiting (1)\n");
    EXPECT_FALSE(dir.exists("SS1_ML_"));
}

TEST(StartFileMessages, CommaSeparatedTransectFile) {
    ScratchDir dir;
    dir.write("mine.csv", "site,position,distance,SS,SI,II\na,0,1,1,0,0\n");
    const ProgramResult r = zonetool(dir, "eval 1 1 1 0.5 10 --data mine.csv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error in mine.csv line 1: fields are separated by tabs or blanks, not "
                     "commas\n");
}
