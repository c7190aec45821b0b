// Cline summaries of fits: regions of the sites, centre and width along each model's axis,
// F_IS per region and the effective sigma of the kernel models.
#include "tools/summary.h"

#include "data/transect.h"
#include "support/run_program.h"
#include "tools/cline.h"
#include "tools/plot.h"

#include <gtest/gtest.h>

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
    std::vector<int> r = siteRegions(*findModel(2), {1, 1, 1, 1, 0.5, 10, 40.7}, noBorders);
    EXPECT_EQ(r[39], 0);
    EXPECT_EQ(r[40], 1);
    // SS_3 from borders.txt: 30 and 70.
    const int fileBorders[2] = {30, 70};
    r = siteRegions(*findModel(3), std::vector<double>(10, 1.0), fileBorders);
    EXPECT_EQ(r[29], 0);
    EXPECT_EQ(r[30], 1);
    EXPECT_EQ(r[69], 1);
    EXPECT_EQ(r[70], 2);
    // C_3 by position: borders at 300 and 600; site 38 stands at 301.465, site 78 at 556.835.
    std::vector<double> point(10, 1.0);
    point[8] = 300;
    point[9] = 600;
    r = siteRegions(*findModel(9), point, noBorders);
    EXPECT_EQ(r[37], 0);
    EXPECT_EQ(r[38], 1);
    EXPECT_EQ(r[78], 1);
    EXPECT_EQ(r[79], 2);
    EXPECT_EQ(siteRegions(*findModel(1), {1, 1, 0.5, 10}, noBorders), std::vector<int>(105, 0));
    // C_1's contact sets only where the run starts pure SS or pure II.
    EXPECT_EQ(siteRegions(*findModel(7), {1, 1, 0.5, 10, 450}, noBorders),
              std::vector<int>(105, 0));
}

TEST(SummaryFit, SyntheticClinesAlongEachAxis) {
    // Model 1 lays its sites at the summed distances (0 to 1421.863).
    const std::vector<double> summed = sitePositionsFor(*findModel(1));
    FitSummary s = summariseFit(*findModel(1), {1, 1, 0.5, 7},
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
    s = summariseFit(*findModel(8), {1, 1, 1, 1, 0.2, 10, 450}, predicted, noBorders);
    EXPECT_TRUE(s.positionAxis);
    EXPECT_NEAR(s.centre, 450, 3.0);
    ASSERT_EQ(s.deficit.size(), 2u);
    EXPECT_NEAR(s.deficit[0], 0.1, 1e-12);
    EXPECT_NEAR(s.deficit[1], 0.0, 1e-12);
    // C_2's kernel at sigma = 10 is C_1's: 0.897 sigma.
    EXPECT_NEAR(s.sigmaEffective / 10, 0.897, 0.897e-3);

    // A penalty point has no prediction: sigma stays, the cline is unknown.
    s = summariseFit(*findModel(7), {1, 1, 0.5, 10, 450}, {}, noBorders);
    EXPECT_FALSE(s.predicted);
    EXPECT_TRUE(std::isnan(s.centre));
    EXPECT_TRUE(s.deficit.empty());
    EXPECT_NEAR(s.sigmaEffective / 10, 0.897, 0.897e-3);
    EXPECT_EQ(summaryJsonMembers(s).substr(0, 74),
              "\"axis\": \"position\", \"centre\": null, \"width\": null, \"F_IS\": [], \"sigma\": "
              "10");
}

TEST(SummaryCommand, BestFitOfEachModelWithTheAxisNamed) {
    ScratchDir dir;
    dir.write("SS1_ML_", "1.0027124 1.0016635 0.46893661 7.042975 1157.6058\n");
    dir.write("C_1_ML_", "0.7 0.8 0.3 10 450 908.76627\n");
    dir.write("C_1_ML_seed4", "0.9 0.8 0.2 8 430 1206.7071\n");
    ProgramResult r = runProgram(dir.path(), ZONETOOL_BIN, "summary --format tsv");
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
    EXPECT_EQ(header, "model\tname\tseed\t-lnL\taxis\tcentre\twidth\tF_IS\tsigma\tsigma_eff\tfile");
    EXPECT_EQ(first.substr(0, 40), "1\tSS_1\t-\t4613.0837\tsummed distance\t982.0");
    EXPECT_EQ(first.substr(first.size() - 17), "\t7.0430\t-\tSS1_ML_");
    // Heterozygotes fitter than both homozygotes: no cline, p stays near 0.4 everywhere, and
    // one region for C_1, whose contact only splits the start.
    EXPECT_EQ(second.substr(0, 28), "7\tC_1\t-\t908.7663\tposition\t-\t") << second;
    EXPECT_EQ(second.substr(second.size() - 30), "\t0.0164\t10.0000\t8.9751\tC_1_ML_") << second;

    r = runProgram(dir.path(), ZONETOOL_BIN, "summary --format yaml");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool summary: --format needs table, tsv or json, not 'yaml'\n"
                     "Run 'zonetool summary --help' for usage.\n");
}
