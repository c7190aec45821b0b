// Cline summaries of fits: regions of the sites, centre and width along each model's axis,
// F_IS per region and the effective sigma of the kernel models.
#include "tools/analysis/summary.h"

#include "data/transect.h"
#include "driver/schedule.h"
#include "support/run_in_process.h"
#include "support/run_program.h"
#include "tools/analysis/cline.h"
#include "tools/analysis/plot.h"
#include "tools/formats/fit_record.h"

#include <gtest/gtest.h>

#include "data/builtin_transect.h"

#include <algorithm>
#include <cmath>

namespace {

// Predictions of a logistic cline of centre c and width w along x, with a deficit F.
std::vector<Genotype> logisticCline(const std::vector<double>& x, double c, double w, double F) {
    std::vector<Genotype> predicted;
    for (double position : x) {
        const double p = 1.0 / (1.0 + std::exp(4.0 * (position - c) / w));
        const double h = 2.0 * p * (1.0 - p) * (1.0 - F);
        predicted.push_back({p - h / 2.0, h, 1.0 - p - h / 2.0});
    }
    return predicted;
}

const int noBorders[2] = {0, 0};

} // namespace

TEST(SummaryRegions, SitesFollowEachModelsBorders) {
    // SS_2: the border is a deme index, x6 = 40.7 making sites 0 to 39 region 0.
    std::vector<int> r =
        siteRegions(builtInTransectValue(), *findModel(2), {1, 1, 1, 1, 0.5, 10, 40.7}, noBorders);
    EXPECT_EQ(r[39], 0);
    EXPECT_EQ(r[40], 1);
    // SS_3 from borders.txt: 30 and 70.
    const int fileBorders[2] = {30, 70};
    r = siteRegions(builtInTransectValue(), *findModel(3), std::vector<double>(10, 1.0),
                    fileBorders);
    EXPECT_EQ(r[29], 0);
    EXPECT_EQ(r[30], 1);
    EXPECT_EQ(r[69], 1);
    EXPECT_EQ(r[70], 2);
    // C_3 by position: borders at 300 and 600; site 38 stands at 301.465, site 78 at 556.835.
    std::vector<double> point(10, 1.0);
    point[8] = 300;
    point[9] = 600;
    r = siteRegions(builtInTransectValue(), *findModel(9), point, noBorders);
    EXPECT_EQ(r[37], 0);
    EXPECT_EQ(r[38], 1);
    EXPECT_EQ(r[78], 1);
    EXPECT_EQ(r[79], 2);
    EXPECT_EQ(siteRegions(builtInTransectValue(), *findModel(1), {1, 1, 0.5, 10}, noBorders),
              std::vector<int>(105, 0));
    // C_1's contact sets only where the run starts pure SS or pure II.
    EXPECT_EQ(siteRegions(builtInTransectValue(), *findModel(7), {1, 1, 0.5, 10, 450}, noBorders),
              std::vector<int>(105, 0));
}

TEST(SummaryFit, SyntheticClinesAlongEachAxis) {
    // Model 1 lays its sites at the summed distances (0 to 1421.863).
    const std::vector<double> summed = sitePositionsFor(builtInTransectValue(), *findModel(1));
    FitSummary s = summariseFit(builtInTransectValue(), *findModel(1), {1, 1, 0.5, 7},
                                logisticCline(summed, 700, 300, 0.25), noBorders);
    EXPECT_TRUE(s.predicted);
    EXPECT_FALSE(s.positionAxis);
    EXPECT_STREQ(axisName(s), "summed distance");
    // Sites 10 to 30 apart: the straight lines between them come within a few per cent.
    EXPECT_NEAR(s.centre, 700, 2.0);
    EXPECT_NEAR(s.width, 300, 300 * 0.03);
    ASSERT_EQ(s.deficit.size(), 1u);
    EXPECT_NEAR(s.deficit[0], 0.25, 1e-12);
    EXPECT_EQ(s.sigma, 7);
    EXPECT_TRUE(std::isnan(s.sigmaEffective));

    // C_2 by position, with its contact at 450 splitting F_IS into two regions.
    const std::vector<double> positions(sitePosition, sitePosition + siteCount);
    std::vector<Genotype> predicted = logisticCline(positions, 450, 120, 0.1);
    for (int i = 0; i < siteCount; i++) {
        if (sitePosition[i] >= 450) {
            const double p = alleleFrequency(predicted[static_cast<std::size_t>(i)]);
            predicted[static_cast<std::size_t>(i)] = {p * p, 2 * p * (1 - p), (1 - p) * (1 - p)};
        }
    }
    s = summariseFit(builtInTransectValue(), *findModel(8), {1, 1, 1, 1, 0.2, 10, 450}, predicted,
                     noBorders);
    EXPECT_TRUE(s.positionAxis);
    EXPECT_NEAR(s.centre, 450, 3.0);
    ASSERT_EQ(s.deficit.size(), 2u);
    EXPECT_NEAR(s.deficit[0], 0.1, 1e-12);
    EXPECT_NEAR(s.deficit[1], 0.0, 1e-12);
    // C_2's kernel at sigma = 10 is C_1's: 0.897 sigma.
    EXPECT_NEAR(s.sigmaEffective / 10, 0.897, 0.897e-3);

    // A penalty point has no prediction: sigma stays, the cline is unknown.
    s = summariseFit(builtInTransectValue(), *findModel(7), {1, 1, 0.5, 10, 450}, {}, noBorders);
    EXPECT_FALSE(s.predicted);
    EXPECT_TRUE(std::isnan(s.centre));
    EXPECT_TRUE(s.deficit.empty());
    EXPECT_NEAR(s.sigmaEffective / 10, 0.897, 0.897e-3);
    EXPECT_EQ(jsonInline(summaryJson(s)).substr(1, 74),
              "\"axis\": \"position\", \"centre\": null, \"width\": null, \"F_IS\": [], \"sigma\": "
              "10");
}

TEST(SummaryCommand, BestFitOfEachModelWithTheAxisNamed) {
    ScratchDir dir;
    dir.write("SS1_ML_", "1.0027124 1.0016635 0.46893661 7.042975 1157.6058\n");
    dir.write("C_1_ML_", "0.7 0.8 0.3 10 450 908.76627\n");
    dir.write("C_1_ML_seed4", "0.9 0.8 0.2 8 430 1206.7071\n");
    ProgramResult r = runInProcess(dir.path(), "summary --format tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    // The knife-edge line is summarised at the value its point really has.
    EXPECT_EQ(r.err, "zonetool summary: warning: SS1_ML_ gives 1157.6058, but its point evaluates "
                     "to 4613.0837066057775; the value at the point is used\n");
    std::istringstream lines(r.out);
    std::string header;
    std::string first;
    std::string second;
    std::string more;
    std::getline(lines, header);
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_FALSE(std::getline(lines, more)) << r.out;
    EXPECT_EQ(header, "model\tname\tseed\t-lnL\taxis\tcentre\twidth\tF_IS\tsigma\tsigma_eff\t"
                      "generations\tlambda\tremaining\tcliff\tfile");
    EXPECT_EQ(first.substr(0, 40), "1\tSS_1\t-\t4613.0837\tsummed distance\t982.0");
    // Slow to settle (lambda near 1), and wSS stands at a cliff.
    EXPECT_EQ(first.substr(first.size() - 44),
              "\t7.0430\t-\t28313\t0.997738\t4.4e-06\twSS\tSS1_ML_");
    // Heterozygotes fitter than both homozygotes: no cline, p stays near 0.4 everywhere, and
    // one region for C_1, whose contact only splits the start.
    EXPECT_EQ(second.substr(0, 28), "7\tC_1\t-\t908.7663\tposition\t-\t") << second;
    EXPECT_EQ(second.substr(second.size() - 53),
              "\t0.0164\t10.0000\t8.9751\t212\t0.884058\t7.6e-08\t-\tC_1_ML_")
        << second;

    r = runInProcess(dir.path(), "summary --format yaml");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool summary: --format needs table, tsv or json, not 'yaml'\n"
                     "Run 'zonetool summary --help' for usage.\n");
}

TEST(SummaryCommand, SettlednessOfAShortRealFit) {
    ScratchDir dir;
    dir.write("start.txt", "1.2 0.8 0.3 15\n0 0 0.05 2\n");
    const ProgramResult fit = runInProcess(dir.path(), "fit 1 --seed 1 --start start.txt");
    ASSERT_EQ(fit.status, 0) << fit.err;
    // The fitted point settles in 70 generations, its changes shrinking by a factor 0.75 a
    // generation: 1e-8 x 0.749 / 0.251 = 3.0e-8 still to go.
    ProgramResult r = runInProcess(dir.path(), "summary");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "model  name  seed        -lnL  axis             centre          width  F_IS   "
              "  sigma  sigma_eff  generations    lambda  remaining  cliff  file\n"
              "    1  SS_1     1  10270.0661  summed distance       -  193583104.519  "
              "0.5026  0.5305          -           70  0.749401      3e-08  wSS    SS1_ML_\n");
    r = runInProcess(dir.path(), "summary --format json");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string members = "\"sigma_eff\": null, \"generations\": 70, \"cap_reached\": false, "
                                "\"lambda\": 0.74940114437884331, \"remaining\": "
                                "2.9904412074081932e-08, \"cliff\": \"wSS\"";
    EXPECT_NE(r.out.find(members + ", \"file\": \"SS1_ML_\"}"), std::string::npos) << r.out;
    // The comparison's summary of the best fit is the same.
    r = runInProcess(dir.path(), "compare --format json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(members + "}}"), std::string::npos) << r.out;
}

TEST(SummaryCommand, FailedFitsAreNamedAndLeftOut) {
    // A negative sigma is outside the box: its value is a penalty, no -lnL.
    ScratchDir penalty;
    penalty.write("SS1_ML_", "1 1 0.5 -3 400000\n");
    ProgramResult r = runInProcess(penalty.path(), "summary --format tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zonetool summary: warning: SS1_ML_ holds a failed fit (its value, 400000, "
                     "is a penalty, not a -lnL); it is left out\n"
                     "zonetool summary: no usable fit in .\n");

    // So narrow a dispersal with a slightly fitter SS never settles: the run stops at the
    // cap of a million generations, and the value is the penalty of a simulation out of
    // equilibrium. Beside a fit of model 2, it is left out and model 2 is summarised.
    ScratchDir capped;
    capped.write("SS1_ML_", "1.000001 1 0.5 0.05 100000\n");
    capped.write("SS2_ML_", "1.05 0.95 0.95 1.05 0.3 15 50 1707.1568\n");
    r = runInProcess(capped.path(), "summary --format tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("max number of generations exceeded"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("zonetool summary: warning: SS1_ML_ holds a failed fit (its value, "
                         "100000, is a penalty, not a -lnL); it is left out\n"),
              std::string::npos)
        << r.err;
    // The header and model 2's row.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    EXPECT_NE(r.out.find("\n2\tSS_2\t"), std::string::npos) << r.out;
}

TEST(SummaryCommand, SettledObjectiveAddsTheObjectiveAndStateColumns) {
    ScratchDir dir;
    // The example start of model 1: an equilibrium under either objective.
    dir.write("SS1_ML_", "1.05 1.05 0.3 15 1510.0747\n");
    ProgramResult r = runInProcess(dir.path(), "summary --format tsv --objective settled");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
              "model\tname\tseed\t-lnL\taxis\tcentre\twidth\tF_IS\tsigma\tsigma_eff\t"
              "generations\tlambda\tremaining\tcliff\tobjective\tstate\tfile");
    EXPECT_NE(r.out.find("\tsettled\tequilibrium\tSS1_ML_\n"), std::string::npos) << r.out;
    r = runInProcess(dir.path(), "summary --format json --objective settled");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"negLogL\": 1510.1479583516746, \"objective\": \"settled\", "),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"state\": \"equilibrium\", \"state_generations\": "), std::string::npos)
        << r.out;
    r = runInProcess(dir.path(), "summary --format json");
    EXPECT_NE(r.out.find("\"objective\": \"zonefit\", "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\"state\""), std::string::npos) << r.out;
    r = runInProcess(dir.path(), "summary --objective none");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool summary: --objective needs settled or zonefit, not 'none'\n"
                     "Run 'zonetool summary --help' for usage.\n");
}

// A record's value is trusted as it stands; under the other objective the value at the point
// is evaluated instead (here the record's value is made up, so the two cannot agree).
TEST(SummaryCommand, AFitOfTheOtherObjectiveShowsTheValueAtItsPointUnderTheOneAsked) {
    ScratchDir dir;
    FitRecord record = newFitRecord(*findModel(1), {1.05, 1.05, 0.3, 15}, {0.1, 0.1, 0.1, 1});
    record.point = {1.05, 1.05, 0.3, 15};
    record.value = 1600.5;
    dir.write("SS1_ML_.json", fitRecordJson(record));
    dir.write("SS1_ML_", resultLine({record.point, record.value, {}}));
    ProgramResult r = runInProcess(dir.path(), "summary --format tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n1\tSS_1\t-\t1600.5000\t"), std::string::npos) << r.out;
    r = runInProcess(dir.path(), "summary --format tsv --objective settled");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n1\tSS_1\t-\t1510."), std::string::npos) << r.out;
}
