// Parameter boxes: the penalty of a point outside them, and the boxes the objectives of a
// thread test, which a caller may replace.
#include "models/model_context.h"
#include "models/model_table.h"

#include "models/cspace.h"
#include "models/ss.h"
#include "support/work_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

double penaltyAt(const ModelBox& box, std::initializer_list<double> values) {
    NRvector<double> x(static_cast<int>(values.size()));
    int i = 0;
    for (double v : values) {
        x[i++] = v;
    }
    return boxPenalty(box, x);
}

// Three parameters: a fitness in [0, 10000], a rate in (0, 1] and a position in (3, 8) with a
// flat penalty; the unit is 10.
const ParameterInfo threeParameters[] = {
    {"w", "", 0.0, false, 10000.0, false},
    {"r", "", 0.0, true, 1.0, false},
    {"p", "", 3.0, true, 8.0, true, true},
};

} // namespace

TEST(BoxPenalty, FirstFailingParameterInOrderDecides) {
    const ModelBox box{threeParameters, 3, 10.0, 0};
    EXPECT_EQ(penaltyAt(box, {0, 1, 3.5}), 0.0);
    EXPECT_EQ(penaltyAt(box, {10000, 1e-300, 7.9}), 0.0);
    EXPECT_EQ(penaltyAt(box, {-2, 5, 100}), 30.0);
    EXPECT_EQ(penaltyAt(box, {10001, 1, 3.5}), 100020.0);
    EXPECT_EQ(penaltyAt(box, {1, 0, 100}), 10.0); // the open bound itself: (0 + 1) units
    EXPECT_EQ(penaltyAt(box, {1, 1.5, 100}), 25.0);
    EXPECT_EQ(penaltyAt(box, {1, 1, 3}), 10.0); // flat, whatever the distance
    EXPECT_EQ(penaltyAt(box, {1, 1, 1e9}), 10.0);
    EXPECT_EQ(penaltyAt(box, {notANumber, 1, 3.5}), 10.0); // NaN: one unit
    EXPECT_EQ(penaltyAt(box, {1, -inf, 3.5}), inf);
    EXPECT_EQ(penaltyAt(box, {1, 1, inf}), 10.0);
    EXPECT_EQ(penaltyAt(box, {1, 1, 3.5, -5}), 0.0); // entries past the box are not read
}

TEST(BoxPenalty, AValueFromTheUnitOnIsAPenaltyNotALikelihood) {
    const ModelBox ss = builtinBox(*findModel(1));
    const ModelBox kernel = builtinBox(*findModel(7));
    EXPECT_FALSE(isPenalty(ss, 99999.99));
    EXPECT_TRUE(isPenalty(ss, 100000.0));
    // C_1 charges ten times as much: a -lnL of 500000 is a (very bad) likelihood there.
    EXPECT_FALSE(isPenalty(kernel, 500000.0));
    EXPECT_TRUE(isPenalty(kernel, 1e6));
    EXPECT_TRUE(isPenalty(ss, std::numeric_limits<double>::max()));
    EXPECT_TRUE(isPenalty(ss, inf));
    EXPECT_TRUE(isPenalty(ss, notANumber));
    EXPECT_FALSE(isPenalty(ss, 0.0));
}

TEST(BoxPenalty, JointLowerTestChargesAllItsValuesFirst) {
    const ModelBox box{threeParameters, 3, 10.0, 2};
    EXPECT_EQ(penaltyAt(box, {-2, 0.5, 100}), 35.0); // (2 + 1 + 0.5) x 10, before the position
    EXPECT_EQ(penaltyAt(box, {4, 0, 100}), 50.0);    // the open lower bound of r fails the test
    EXPECT_EQ(penaltyAt(box, {-2, notANumber, 3.5}), 10.0); // a NaN anywhere in the group: one unit
    EXPECT_EQ(penaltyAt(box, {20000, 0.5, 3.5}), 200010.0); // uppers in the usual order after
    EXPECT_EQ(penaltyAt(box, {1, 2, 3.5}), 30.0);
    EXPECT_EQ(penaltyAt(box, {-inf, 0.5, 3.5}), inf);
}

// The objectives test the boxes of their context: a narrower sigma box makes a point that SS_1
// simulates a penalty, a closed contact box lets C_1 refuse what it used to accept, and
// zonefit's objectives keep the built-in boxes, on any thread.
TEST(ContextBoxes, ObjectivesTestTheBoxesOfTheirContext) {
    const double builtinValue = callObjective(ssone, {3, 0.2, 1, 100});
    EXPECT_EQ(builtinValue, 11885.135885331507);

    std::vector<ParameterInfo> one(modelTable[0].parameters, modelTable[0].parameters + 4);
    one[3].upper = 50.0;
    std::vector<ParameterInfo> seven(modelTable[6].parameters, modelTable[6].parameters + 5);
    seven[4].lower = 400.0;
    seven[4].lowerOpen = false;
    std::vector<ModelBox> boxes;
    for (const ModelEntry& model : modelTable) {
        boxes.push_back(builtinBox(model));
    }
    boxes[0].parameters = one.data();
    boxes[6].parameters = seven.data();
    {
        ModelContext context;
        context.boxes = boxes.data();
        EXPECT_EQ(&context.box(1).parameters[0], &one[0]);
        EXPECT_EQ(callObjective(ssone, context, {3, 0.2, 1, 100}), 10100000);
        EXPECT_EQ(callObjective(ssone, context, {-2, -3, 1, 100}), 600000); // the joint test stays
        EXPECT_EQ(callObjective(cone, context, {1, 1, 0.3, 10, 350}), 1000000);
        EXPECT_EQ(callObjective(cone, context, {1, 1, 0.3, 30, 450}), 31000000);
        double otherThread = 0.0;
        std::thread other([&otherThread] { otherThread = callObjective(ssone, {3, 0.2, 1, 100}); });
        other.join();
        EXPECT_EQ(otherThread, builtinValue);
    }
    EXPECT_EQ(&ModelContext{}.box(1).parameters[0], &modelTable[0].parameters[0]);
    EXPECT_EQ(callObjective(ssone, {3, 0.2, 1, 100}), builtinValue);
}

TEST(ContextBoxes, BuiltInBoxesAreTheTableRows) {
    for (const ModelEntry& model : modelTable) {
        const ModelBox& box = ModelContext{}.box(model.number);
        EXPECT_EQ(box.parameters, model.parameters) << model.name;
        EXPECT_EQ(box.parameterCount, model.parameterCount) << model.name;
        const bool kernelTen = model.number == 7 || model.number == 8;
        EXPECT_EQ(box.penaltyUnit, kernelTen ? 1e6 : 1e5) << model.name;
        EXPECT_EQ(box.jointLowerCount, model.number == 1 ? 2 : 0) << model.name;
    }
}
