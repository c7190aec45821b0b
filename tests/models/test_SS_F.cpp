#include "models/SS_F.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <string>
#include <unistd.h>

#include "models/ss.h"

namespace {

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

double call(ObjectiveFunction* objective, std::initializer_list<double> values) {
    NRvector<double> x(static_cast<int>(values.size()));
    int i = 0;
    for (double v : values) {
        x[i++] = v;
    }
    return objective(x);
}

// Each test runs in a fresh directory of its own, where the models find "borders.txt".
class SelfingModels : public testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/zonefit-ssf-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        char* cwd = getcwd(nullptr, 0);
        home = cwd;
        std::free(cwd);
        ASSERT_EQ(chdir(dir.c_str()), 0);
        borders(40, 70);
    }
    void TearDown() override {
        std::remove("borders.txt");
        EXPECT_EQ(chdir(home.c_str()), 0);
        rmdir(dir.c_str());
    }
    static void borders(int border1, int border2) {
        std::ofstream("borders.txt") << border1 << '\n' << border2 << '\n';
    }
    std::string dir;
    std::string home;
};

TEST_F(SelfingModels, PenaltiesInOrderOfTestsWithSigmaBeforeTheLastTwoRates) {
    for (ObjectiveFunction* model : {ss3_fr, ss3_FG}) {
        EXPECT_EQ(call(model, {1, 1, 1, 1, 1, 1, 0.5, 10, 1.5, 0.5}), 250000);
        EXPECT_EQ(call(model, {1, 1, 1, 1, 1, 1, 0.5, -0.5, 0.5, 0.5}), 150000);
        EXPECT_EQ(call(model, {1, 1, 1, 1, 1, 1, 0.5, -1, 2, 2}), 200000);
        EXPECT_EQ(call(model, {1, 1, 1, 1, 1, 1, 0.5, 10, 0.5, -1}), 200000);
        EXPECT_EQ(call(model, {1, 1, 1, 1, 1, 10001, 3, -1, 2, 2}), 1000200000);
        EXPECT_EQ(call(model, {1, 1, 1, 1, 1, 1, -3, -1, 2, 2}), 400000);
        EXPECT_EQ(call(model, {1, 1, 1, 1, 1, 1, 0.5, 0, 2, 2}), 100000); // sigma of 0
    }
}

TEST_F(SelfingModels, NonFiniteParametersAreNeverSimulated) {
    for (ObjectiveFunction* model : {ss3_fr, ss3_FG}) {
        EXPECT_EQ(call(model, {1, 1, 1, 1, 1, 1, 0.5, 10, nan, 0.5}), 100000);
        EXPECT_EQ(call(model, {1, 1, 1, 1, 1, 1, nan, -1, 0.5, 0.5}), 100000);
        EXPECT_EQ(call(model, {1, 1, 1, 1, 1, 1, 0.5, -1, nan, 0.5}), 200000);
        EXPECT_EQ(call(model, {1, 1, 1, 1, 1, 1, 0.5, inf, 0.5, 0.5}), inf);
        EXPECT_EQ(call(model, {1, 1, 1, 1, 1, 1, 0.5, 10, 0.5, -inf}), inf);
    }
}

TEST_F(SelfingModels, BorderFileIsReadBeforeTheBoundsCheck) {
    std::ofstream("borders.txt") << "40\nno border\n";
    EXPECT_EXIT(call(ss3_fr, {-1, 1, 1, 1, 1, 1, 0.5, 10, 0.5, 0.5}), testing::ExitedWithCode(1),
                testing::Eq("Error in borders.txt: line 2 holds no integer\n"));
    std::ofstream("borders.txt") << "-5\n70\n";
    EXPECT_EXIT(call(ss3_FG, {-1, 1, 1, 1, 1, 1, 0.5, 10, 0.5, 0.5}), testing::ExitedWithCode(1),
                testing::Eq("Error in borders.txt: border 1 is -5, outside 0 to 105\n"));
}

TEST_F(SelfingModels, EqualSelfingRatesGiveModelThree) {
    const double three = call(ssthree, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15});
    EXPECT_EQ(call(ss3_fr, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15, 0.3, 0.3}), three);
    // Mating by genotype computes the same zygotes in another order of operations.
    EXPECT_NEAR(call(ss3_FG, {0.95, 0.9, 1, 1, 1.05, 1.1, 0.3, 15, 0.3, 0.3}), three,
                1e-12 * three);
}

// Each region's selfing rate reaches exactly that region's demes, the same ones that take
// the region's fitnesses.
TEST_F(SelfingModels, SelfingRatesByRegion) {
    const double reference = call(ss3_fr, {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.5, 0.8});
    EXPECT_NE(call(ss3_fr, {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.1, 0.8}), reference);
    borders(40, 40);
    const double noRegion2 = call(ss3_fr, {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.5, 0.8});
    EXPECT_EQ(call(ss3_fr, {0.5, 0.25, 3, 3, 2, 4, 0.2, 15, 0.1, 0.8}), noRegion2);
    borders(70, 40);
    EXPECT_EQ(call(ss3_fr, {0.5, 0.25, 3, 3, 2, 4, 0.2, 15, 0.1, 0.8}), noRegion2);
    borders(0, 70);
    EXPECT_EQ(call(ss3_fr, {3, 3, 0.8, 1.2, 2, 4, 0.9, 15, 0.5, 0.8}),
              call(ss3_fr, {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.5, 0.8}));
    borders(40, 105);
    EXPECT_EQ(call(ss3_fr, {0.5, 0.25, 0.8, 1.2, 3, 3, 0.2, 15, 0.5, 0.1}),
              call(ss3_fr, {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.5, 0.8}));
}

TEST_F(SelfingModels, SelfingRatesByGenotype) {
    const double reference = call(ss3_FG, {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.5, 0.8});
    EXPECT_TRUE(std::isfinite(reference));
    EXPECT_LT(reference, 100000);
    EXPECT_EQ(call(ss3_FG, {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.5, 0.8}), reference);
    for (int k : {6, 8, 9}) {
        double x[10] = {0.5, 0.25, 0.8, 1.2, 2, 4, 0.2, 15, 0.5, 0.8};
        x[k] = 0.05;
        EXPECT_NE(call(ss3_FG, {x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7], x[8], x[9]}),
                  reference)
            << k;
    }
}

} // namespace
