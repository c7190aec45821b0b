// zonetool cline end to end: the three formats and the record, many loci with the concordance
// test, --locus for the model commands, refusals of bad input, and the width of model 1's own
// cline.
#include "support/run_in_process.h"
#include "support/run_program.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

// Two loci at 21 sites 5 units apart, 20 individuals each, SS on the left: locus A steps
// between sites 9 and 10, locus B between 11 and 12, each with a few heterozygotes there.
std::string twoLoci() {
    std::string text = "site\tlocus\tposition\tdistance\tSS\tSI\tII\n";
    for (const char* locus : {"A", "B"}) {
        const int step = locus[0] == 'A' ? 10 : 12;
        for (int i = 0; i <= 20; i++) {
            const int fromStep = i - step;
            const int ss = fromStep < -2 ? 20 : fromStep < 0 ? 12 : fromStep < 2 ? 4 : 0;
            const int si = fromStep >= -2 && fromStep < 2 ? 5 : 0;
            text += "s" + std::to_string(i) + "\t" + locus + "\t" + std::to_string(5 * i) + "\t" +
                    (i == 20 ? "NA" : "5") + "\t" + std::to_string(ss) + "\t" + std::to_string(si) +
                    "\t" + std::to_string(20 - ss - si) + "\n";
        }
    }
    return text;
}

nlohmann::json parsed(const std::string& text) {
    return nlohmann::json::parse(text, nullptr, false);
}

} // namespace

TEST(ClineCommand, FitsTheFourShapesInEachFormatAndRecordsThem) {
    ScratchDir dir;
    const ProgramResult json = runInProcess(dir.path(), "cline --format json");
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.err, "");
    const nlohmann::json doc = parsed(json.out);
    ASSERT_TRUE(doc.is_object()) << json.out;
    EXPECT_EQ(doc["axis"], "position");
    EXPECT_FALSE(doc.contains("concordance"));
    ASSERT_EQ(doc["fits"].size(), 4u);
    const char* shapes[] = {"sigmoid", "stepped-left", "stepped-right", "stepped"};
    const int ks[] = {3, 5, 5, 7};
    for (std::size_t i = 0; i < 4; i++) {
        const nlohmann::json& fit = doc["fits"][i];
        EXPECT_EQ(fit["shape"], shapes[i]);
        EXPECT_TRUE(fit["locus"].is_null());
        EXPECT_EQ(fit["k"], ks[i]);
        EXPECT_EQ(fit["n"], 751);
        const double value = fit["value"];
        const int k = ks[i];
        EXPECT_NEAR(fit["aicc"].get<double>(),
                    2 * k + 2 * value + 2.0 * k * (k + 1) / (751.0 - k - 1), 1e-9);
        EXPECT_EQ(fit["parameters"][0]["name"], "centre");
        EXPECT_EQ(fit["parameters"][1]["name"], "width");
        EXPECT_LT(fit["seconds"].get<double>(), 1.0) << shapes[i];
        for (const nlohmann::json& p : fit["parameters"]) {
            EXPECT_LE(p["lower"].get<double>(), p["estimate"].get<double>()) << p["name"];
            EXPECT_GE(p["upper"].get<double>(), p["estimate"].get<double>()) << p["name"];
        }
    }
    // The stepped shapes fit the built-in data far better than the sigmoid (its step lies
    // near position 185), and each shape's record holds what the output showed.
    EXPECT_LT(doc["fits"][2]["value"].get<double>(), doc["fits"][0]["value"].get<double>() - 20);
    const nlohmann::json record = parsed(dir.read("cline_stepped-right.json"));
    EXPECT_EQ(record["record"], "zonetool cline");
    EXPECT_TRUE(record["data"].is_null());
    EXPECT_EQ(record["fits"][0]["value"], doc["fits"][2]["value"]);

    // Again without --redo: refused before any fit, naming every record, which stay.
    const std::string before = dir.read("cline_sigmoid.json");
    const ProgramResult again = runInProcess(dir.path(), "cline --shape sigmoid");
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(again.err, "zonetool cline: cline_sigmoid.json exists already; give --redo to "
                         "overwrite it\n");
    EXPECT_EQ(dir.read("cline_sigmoid.json"), before);

    const ProgramResult table =
        runInProcess(dir.path(), "cline --shape sigmoid --redo --axis distance");
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out.rfind("axis: distance; p is the frequency of the I allele", 0), 0u)
        << table.out;
    EXPECT_NE(table.out.find("shape    locus   centre"), std::string::npos) << table.out;

    const ProgramResult tsv =
        runInProcess(dir.path(), "cline --shape stepped-left --fis peak --format tsv");
    ASSERT_EQ(tsv.status, 0) << tsv.err;
    EXPECT_EQ(tsv.out.substr(0, tsv.out.find('\n', tsv.out.find('\n') + 1) + 1),
              "# axis: position\nshape\tlocus\tallele\tk\t-lnL\tAICc\tparameter\testimate\tlower"
              "\tupper\n");
    EXPECT_NE(tsv.out.find("stepped-left\tNA\tI\t5\t"), std::string::npos);
    EXPECT_NE(tsv.out.find("\tF_peak\t"), std::string::npos);
    EXPECT_TRUE(dir.exists("cline_stepped-left_Fpeak.json"));
}

TEST(ClineCommand, ManyLociAreFittedOneByOneAndTestedForOneCentreAndWidth) {
    ScratchDir dir;
    dir.write("loci.tsv", twoLoci());
    const ProgramResult r =
        runInProcess(dir.path(), "cline --data loci.tsv --shape sigmoid --format json");
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json doc = parsed(r.out);
    ASSERT_EQ(doc["fits"].size(), 2u);
    EXPECT_EQ(doc["fits"][0]["locus"], "A");
    EXPECT_EQ(doc["fits"][1]["locus"], "B");
    // p is the I allele's frequency; A's centre lies between positions 45 and 50, B's 10 further.
    EXPECT_EQ(doc["fits"][0]["allele"], "I");
    const double centreA = doc["fits"][0]["parameters"][0]["estimate"];
    const double centreB = doc["fits"][1]["parameters"][0]["estimate"];
    EXPECT_NEAR(centreB - centreA, 10.0, 1.0);
    const nlohmann::json& c = doc["concordance"];
    EXPECT_EQ(c["df"], 2);
    EXPECT_GT(c["lr"].get<double>(), 20.0);
    EXPECT_LT(c["p"].get<double>(), 1e-4);
    EXPECT_GT(c["shared_aicc"].get<double>(), c["separate_aicc"].get<double>());

    // One locus alone: the same fit as in the run of both, and no concordance.
    const ProgramResult one = runInProcess(
        dir.path(), "cline --data loci.tsv --locus B --shape sigmoid --format json --redo");
    ASSERT_EQ(one.status, 0) << one.err;
    const nlohmann::json alone = parsed(one.out);
    EXPECT_FALSE(alone.contains("concordance"));
    EXPECT_NEAR(alone["fits"][0]["value"].get<double>(), doc["fits"][1]["value"].get<double>(),
                1e-6);
}

TEST(ClineCommand, ModelCommandsTakeOneLocusOfAFile) {
    ScratchDir dir;
    dir.write("loci.tsv", twoLoci());
    // Locus B alone, as a plain file: eval gives the same value on both.
    std::string plain = "site\tposition\tdistance\tSS\tSI\tII\n";
    const std::string text = twoLoci();
    for (std::size_t start = text.find('\n') + 1; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        const std::size_t tab = line.find('\t');
        if (line.substr(tab + 1, 2) == "B\t") {
            plain += line.substr(0, tab) + line.substr(tab + 2) + "\n";
        }
        start = end + 1;
    }
    dir.write("b.tsv", plain);
    const ProgramResult fromLoci =
        runInProcess(dir.path(), "eval 1 1.2 1.2 0 3 --data loci.tsv --locus B");
    const ProgramResult fromPlain = runInProcess(dir.path(), "eval 1 1.2 1.2 0 3 --data b.tsv");
    ASSERT_EQ(fromLoci.status, 0) << fromLoci.err;
    EXPECT_EQ(fromLoci.out, fromPlain.out);

    const ProgramResult noLocus = runInProcess(dir.path(), "fit 1 --data loci.tsv");
    EXPECT_EQ(noLocus.status, 1);
    EXPECT_EQ(noLocus.err,
              "Error in loci.tsv: the file holds 2 loci; choose one with --locus NAME (A, B)\n");
    const ProgramResult unknown = runInProcess(dir.path(), "explore 1 --data loci.tsv --locus C");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "Error in loci.tsv: no locus 'C' (the loci are A, B)\n");
    const ProgramResult plainFile = runInProcess(dir.path(), "fit 1 --data b.tsv --locus A");
    EXPECT_EQ(plainFile.status, 1);
    EXPECT_EQ(plainFile.err,
              "Error in b.tsv: the file has no locus column; --locus A cannot be used\n");
    // slurm passes the locus on to every task and to the collecting compare.
    dir.write("startvec1.txt", "1 1 0.5 2\n0.1 0.1 0.1 0.5\n");
    const ProgramResult script = runInProcess(dir.path(), "slurm 1 --data loci.tsv --locus B");
    ASSERT_EQ(script.status, 0) << script.err;
    EXPECT_NE(
        script.out.find("--quiet --requeue '--data' '" + dir.path() + "/loci.tsv' '--locus' 'B'"),
        std::string::npos)
        << script.out;
    const ProgramResult noData = runInProcess(dir.path(), "fit 1 --locus A");
    EXPECT_EQ(noData.status, 2);
    EXPECT_EQ(noData.err, "zonetool fit: --locus needs --data FILE, a file with a locus column\n"
                          "Run 'zonetool fit --help' for usage.\n");
}

TEST(ClineCommand, BadInputIsRefusedNamingFileLineAndLocus) {
    ScratchDir dir;
    const std::string header = "locus\tsite\tposition\tdistance\tSS\tSI\tII\n";
    const std::string a = "A\ta\t0\t1\t5\t0\t0\nA\tb\t1\t1\t2\t1\t2\nA\tc\t2\tNA\t0\t0\t5\n";
    dir.write("empty.tsv",
              header + a + "B\ta\t0\t1\t5\t0\t0\nB\tb\t1\t1\t0\t0\t0\nB\tc\t2\tNA\t0\t0\t5\n");
    dir.write("sites.tsv", header + a +
                               "B\ta\t0\t1\t5\t0\t0\nB\tb\t1\t1\t2\t1\t2\nB\tc\t2\t1\t0\t0\t5\nB\td"
                               "\t3\tNA\t0\t0\t5\n");
    dir.write("name.tsv", header + a + "B\ta\t0\t1\t5\t0\t0\nb\t1\t1\t2\t1\t2\n");
    struct Case {
        const char* arguments;
        const char* message;
    };
    const Case cases[] = {
        {"--data empty.tsv",
         "Error in empty.tsv line 6: site 'b' has no individual sampled (locus 'B')\n"},
        {"--data sites.tsv", "Error in sites.tsv: locus 'B' has 4 sites, but locus 'A' has 3\n"},
        {"--data name.tsv", "Error in name.tsv line 6: 6 fields, but the header names 7 columns "
                            "(is the locus name missing?)\n"},
        {"--data empty.tsv --locus A --locus B",
         "zonetool cline: --locus is given twice\nRun 'zonetool cline --help' for usage.\n"},
        {"--data missing.tsv", "Error in missing.tsv: cannot open the file\n"},
    };
    for (const Case& c : cases) {
        const ProgramResult r = runInProcess(dir.path(), std::string("cline ") + c.arguments);
        EXPECT_EQ(r.err, c.message) << c.arguments;
        EXPECT_EQ(r.status, std::string(c.message).rfind("zonetool", 0) == 0 ? 2 : 1)
            << c.arguments;
        EXPECT_EQ(r.out, "") << c.arguments;
    }
    dir.write("good.tsv", header + a);
    const ProgramResult missingLocus = runInProcess(dir.path(), "cline --data good.tsv --locus Z");
    EXPECT_EQ(missingLocus.status, 1);
    EXPECT_EQ(missingLocus.err, "Error in good.tsv: no locus 'Z' (the loci are A)\n");
    EXPECT_FALSE(dir.exists("cline_sigmoid.json"));
}

TEST(ClineCommand, WidthOfModelOnesClineAgreesWithTheSummaryOfItsPrediction) {
    // A regular transect of 101 sites one unit apart, SS on the left half; model 1 with both
    // homozygotes 1.05 times as fit as the heterozygote and sigma 3 settles in a smooth cline.
    // 5000 individuals drawn per site; the sigmoid's width along the summed distance must be
    // within 5% of the width 'zonetool summary' reads off the model's own prediction.
    ScratchDir dir;
    std::string regular = "site\tposition\tdistance\tSS\tSI\tII\n";
    for (int i = 0; i <= 100; i++) {
        regular += "s" + std::to_string(i) + "\t" + std::to_string(i) + "\t" +
                   (i == 100 ? "NA" : "1") + (i < 50 ? "\t10\t0\t0\n" : "\t0\t0\t10\n");
    }
    dir.write("regular.tsv", regular);
    const ProgramResult simulated = runInProcess(
        dir.path(),
        "simulate 1 1.05 1.05 0 3 --seed 3 --samples 5000 -o sim.tsv --data regular.tsv");
    ASSERT_EQ(simulated.status, 0) << simulated.err;
    dir.write("SS1_ML_", "1.05 1.05 0 3 96.707078\n");
    const ProgramResult summary =
        runInProcess(dir.path(), "summary --data regular.tsv --format json");
    ASSERT_EQ(summary.status, 0) << summary.err;
    const nlohmann::json s = parsed(summary.out);
    ASSERT_TRUE(s.is_array() && s.size() == 1u) << summary.out;
    const double modelWidth = s[0]["width"];
    const ProgramResult fit = runInProcess(
        dir.path(), "cline --data sim.tsv --shape sigmoid --axis distance --format json");
    ASSERT_EQ(fit.status, 0) << fit.err;
    const double width = parsed(fit.out)["fits"][0]["parameters"][1]["estimate"];
    std::cout << "model 1 width " << modelWidth << ", descriptive width " << width << "\n";
    EXPECT_NEAR(width / modelWidth, 1.0, 0.05);
}

TEST(ClineCommand, CompareListsTheDescriptiveFitsOfTheSameDataBesideTheModels) {
    ScratchDir dir;
    dir.write("SS1_ML_", "1.0015445735414139 1.0014374780222324 0.52035246227870591 "
                         "12.249793860906925 471.32261\n");
    ASSERT_EQ(runInProcess(dir.path(), "cline --shape sigmoid").status, 0);
    ASSERT_EQ(runInProcess(dir.path(), "cline --shape stepped-right --ends free").status, 0);
    // A record of other data is not ranked with fits of the built-in transect.
    dir.write("other.tsv", "site\tposition\tdistance\tSS\tSI\tII\na\t0\t1\t5\t0\t0\n"
                           "b\t1\t1\t2\t1\t2\nc\t2\tNA\t0\t0\t5\n");
    ASSERT_EQ(runInProcess(dir.path(), "cline --data other.tsv --shape stepped").status, 0);
    const ProgramResult json = runInProcess(dir.path(), "compare --format json");
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json rows = parsed(json.out);
    ASSERT_TRUE(rows.is_array()) << json.out;
    ASSERT_EQ(rows.size(), 3u) << json.out;
    EXPECT_EQ(rows[0]["model"], 1);
    // By AICc, the free-ended stepped cline (k 7) first, the sigmoid (k 3) last; dAICc from the
    // lowest of all, model 1's included.
    EXPECT_EQ(rows[1]["descriptive"], "stepped-right");
    EXPECT_EQ(rows[1]["k"], 7);
    EXPECT_EQ(rows[2]["descriptive"], "sigmoid");
    EXPECT_EQ(rows[2]["k"], 3);
    const double value = rows[2]["negLogL"];
    EXPECT_NEAR(rows[2]["AICc"].get<double>(), 6 + 2 * value + 24.0 / 747.0, 1e-9);
    const double lowest = std::min(rows[0]["AICc"].get<double>(), rows[1]["AICc"].get<double>());
    EXPECT_NEAR(rows[2]["dAICc"].get<double>(), rows[2]["AICc"].get<double>() - lowest, 1e-9);
    EXPECT_EQ(rows[2]["file"], "cline_sigmoid.json");

    const ProgramResult table = runInProcess(dir.path(), "compare");
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("\ndescriptive clines (zonetool cline):\nshape"), std::string::npos)
        << table.out;
    EXPECT_EQ(table.out.find("cline_stepped.json"), std::string::npos) << table.out;
}

TEST(ClineCommand, PlotDrawsARecordedClineOnTheDataItWasFittedTo) {
    ScratchDir dir;
    dir.write("loci.tsv", twoLoci());
    ASSERT_EQ(runInProcess(dir.path(), "cline --data loci.tsv --shape sigmoid").status, 0);
    const ProgramResult drawn = runInProcess(
        dir.path(), "plot --cline cline_sigmoid.json --data loci.tsv --locus B -o b.svg");
    ASSERT_EQ(drawn.status, 0) << drawn.err;
    const std::string svg = dir.read("b.svg");
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("descriptive cline, sigmoid, locus B"), std::string::npos);
    EXPECT_NE(svg.find("position on the transect axis"), std::string::npos);

    const ProgramResult other =
        runInProcess(dir.path(), "plot --cline cline_sigmoid.json -o c.svg");
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.err, "zonetool plot: cline_sigmoid.json is a fit of loci.tsv, not of the data "
                         "in use (give its --data)\n");
    EXPECT_FALSE(dir.exists("c.svg"));
    const ProgramResult both =
        runInProcess(dir.path(), "plot 1 --cline cline_sigmoid.json -o c.svg");
    EXPECT_EQ(both.status, 2);
    EXPECT_EQ(both.err, "zonetool plot: --cline draws a cline record and takes no MODEL or "
                        "--profile\nRun 'zonetool plot --help' for usage.\n");
}
