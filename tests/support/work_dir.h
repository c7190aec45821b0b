// Test helpers for code that reads files from the working directory.
#pragma once

#include "models/model_context.h"
#include "models/model_table.h"
#include "optimiser/nr3.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <unistd.h>

// Runs each test in a fresh working directory of its own, removed with its contents afterwards.
class InScratchWorkDir : public testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/zonefit-cwd-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        char* cwd = getcwd(nullptr, 0);
        ASSERT_NE(cwd, nullptr);
        home = cwd;
        std::free(cwd);
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(home.c_str()), 0);
        const std::string command = "rm -rf '" + dir + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    std::string dir;  // the scratch directory, the working directory during the test
    std::string home; // the working directory before the test
};

// The objective's value at the listed parameters.
inline double callObjective(ObjectiveFunction* objective, std::initializer_list<double> values) {
    NRvector<double> x(static_cast<int>(values.size()));
    int i = 0;
    for (double v : values) {
        x[i++] = v;
    }
    return objective(x);
}

// The value of an objective evaluated in `context` at the listed parameters.
inline double callObjective(ModelObjective* objective, const ModelContext& context,
                            std::initializer_list<double> values) {
    NRvector<double> x(static_cast<int>(values.size()));
    int i = 0;
    for (double v : values) {
        x[i++] = v;
    }
    return objective(context, x);
}
