#include <gtest/gtest.h>

#include "data/active_transect.h"
#include "models/scaled_boxes.h"

namespace {

// A transect of `sites` sites, one unit apart, with positions 0, 1, 2, ...
Transect evenTransect(int sites) {
    Transect t;
    for (int i = 0; i < sites; i++) {
        t.siteNames.push_back(std::to_string(i));
        t.positions.push_back(i);
        t.countSS.push_back(1);
        t.countSI.push_back(1);
        t.countII.push_back(1);
        if (i + 1 < sites) {
            t.distances.push_back(1.0);
        }
    }
    return t;
}

const ParameterInfo& parameter(const BoxSet& set, int model, const char* name) {
    const ModelBox& box = set.boxes()[model - 1];
    return box.parameters[findParameter(*findModel(model), name)];
}

} // namespace

TEST(TransectScale, MeasuresLengthsAgainstTheBuiltInTransect) {
    // Largest position 853.288 and distances adding up to about 1421.863.
    EXPECT_EQ(largestPosition(builtInTransectValue()), 853.288);
    EXPECT_NEAR(totalDistance(builtInTransectValue()), 1421.863, 1e-9);
    const TransectScale scale = transectScale(evenTransect(210));
    EXPECT_EQ(scale.kernel, 209.0 / 853.288);
    EXPECT_EQ(scale.stepping, 209.0 / totalDistance(builtInTransectValue()));
    EXPECT_EQ(scale.demes, 2.0);
}

TEST(BoxSet, ScalesLengthAndDemeBoundsOnlyAndKeepsOpenness) {
    BoxSet boxes;
    TransectScale scale;
    scale.kernel = 0.5;
    scale.stepping = 3.0;
    scale.demes = 2.0;
    boxes.scale(scale);
    // Stepping-stone sigma: (0, 100] becomes (0, 300]; unbounded stays unbounded.
    EXPECT_EQ(boxText(parameter(boxes, 1, "sigma")), "(0, 300]");
    EXPECT_EQ(boxText(parameter(boxes, 3, "sigma")), "(0, inf)");
    EXPECT_EQ(boxText(parameter(boxes, 2, "sigma")), "[1.5, 150]");
    EXPECT_EQ(boxText(parameter(boxes, 2, "border")), "(60, 160)");
    EXPECT_EQ(boxText(parameter(boxes, 7, "sigma")), "[0.25, 10]");
    EXPECT_EQ(boxText(parameter(boxes, 7, "contact")), "(150, 300)");
    EXPECT_EQ(boxText(parameter(boxes, 9, "border1")), "[103, 170]");
    EXPECT_EQ(boxText(parameter(boxes, 10, "border2")), "[261.5, 340]");
    // Fitnesses and selfing rates have no unit.
    EXPECT_EQ(boxText(parameter(boxes, 7, "wSS")), "[0, 10000]");
    EXPECT_EQ(boxText(parameter(boxes, 9, "F")), "[0, 1]");
    EXPECT_TRUE(parameter(boxes, 7, "contact").flatPenalty);
    // The table itself is untouched.
    EXPECT_EQ(boxText(modelTable[6].parameters[4]), "(300, 600)");
}

TEST(BoxSet, OverridesEveryParameterOfTheNameOrOneModelsOnly) {
    BoxSet boxes;
    EXPECT_EQ(boxes.override("contact", 100, 200), 2); // models 7 and 8
    EXPECT_EQ(boxText(parameter(boxes, 7, "contact")), "(100, 200)");
    EXPECT_EQ(boxText(parameter(boxes, 8, "contact")), "(100, 200)");
    EXPECT_EQ(boxes.override("sigma", 1, 2, 4), 1);
    EXPECT_EQ(boxText(parameter(boxes, 4, "sigma")), "(1, 2)");
    EXPECT_EQ(boxText(parameter(boxes, 3, "sigma")), "(0, inf)");
    EXPECT_EQ(boxes.override("nothing", 1, 2), 0);
}

TEST(BoxSet, CopiesOwnTheirParameters) {
    BoxSet original;
    BoxSet copy = original;
    copy.override("F", 0.25, 0.5);
    EXPECT_EQ(boxText(parameter(original, 1, "F")), "[0, 1]");
    EXPECT_EQ(boxText(parameter(copy, 1, "F")), "[0.25, 0.5]");
    original = copy;
    copy.override("F", 0, 1);
    EXPECT_EQ(boxText(parameter(original, 1, "F")), "[0.25, 0.5]");
}

TEST(TransectScope, InstallsPerThreadAndNests) {
    const Transect small = evenTransect(4);
    EXPECT_EQ(activeTransect().siteCount(), 105);
    {
        const TransectScope outer(&small);
        EXPECT_EQ(activeTransect().siteCount(), 4);
        {
            const TransectScope inner(nullptr);
            EXPECT_EQ(activeTransect().siteCount(), 105);
        }
        EXPECT_EQ(&activeTransect(), &small);
    }
    EXPECT_EQ(&activeTransect(), &builtInTransectValue());
}
