#include <gtest/gtest.h>

#include "data/builtin_transect.h"
#include "models/model_context.h"
#include "models/scaled_boxes.h"

#include <cmath>

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

// A transect of `sites` sites spread evenly from 0 to `length`.
Transect spreadTransect(int sites, double length) {
    Transect t = evenTransect(sites);
    for (int i = 0; i < sites; i++) {
        t.positions[static_cast<std::size_t>(i)] = length * i / (sites - 1);
    }
    for (double& d : t.distances) {
        d = length / (sites - 1);
    }
    return t;
}

// Whether the parameter's bound carries a unit of length or deme, so that it scales.
bool scales(int model, const ParameterInfo& p) {
    const std::string name = p.name;
    return name == "sigma" || name == "contact" || name == "border1" || name == "border2" ||
           (model == 2 && name == "border");
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

TEST(ExploreRegions, ScaleWithTheirBoxes) {
    // The built-in transect with every position and distance doubled: lengths scale by
    // exactly 2, the number of sites stays.
    Transect doubled = builtInTransectValue();
    for (double& x : doubled.positions) {
        x *= 2.0;
    }
    for (double& d : doubled.distances) {
        d *= 2.0;
    }
    BoxSet boxes;
    boxes.scale(transectScale(doubled));
    const BoxSet builtIn;
    for (int m = 1; m <= modelCount; m++) {
        for (int j = 0; j < modelTable[m - 1].parameterCount; j++) {
            const ParameterInfo& p = boxes.boxes()[m - 1].parameters[j];
            const ExploreRegion scaled = regionInBox(p);
            const ExploreRegion original = regionInBox(builtIn.boxes()[m - 1].parameters[j]);
            const bool deme = m == 2 && std::string(p.name) == "border";
            const double factor = scales(m, p) && !deme ? 2.0 : 1.0;
            const std::string where = std::to_string(m) + " " + p.name;
            EXPECT_EQ(scaled.low, factor * original.low) << where;
            EXPECT_EQ(scaled.high, factor * original.high) << where;
            EXPECT_EQ(scaled.log, original.log) << where;
        }
    }
    // Model 2's border is a deme index: it stays with the number of sites. SS_2's sigma
    // region is 0.5 to 50 on the built-in transect.
    EXPECT_EQ(regionText(parameter(boxes, 2, "border")), "30 to 80");
    EXPECT_EQ(regionText(parameter(boxes, 2, "sigma")), "1 to 100, log scale");
    EXPECT_EQ(regionText(parameter(boxes, 7, "contact")), "600 to 1200");
    EXPECT_EQ(regionText(parameter(boxes, 1, "sigma")), "2 to 200, log scale");
}

TEST(ExploreRegions, LieInsideTheirBoxesOnAnyTransect) {
    // 20 sites over 0 to 90 units, the 28 sites over 0 to 248, 4 sites a unit apart,
    // and the built-in boxes: every end of every region is a value the box takes.
    std::vector<BoxSet> sets(4);
    sets[0].scale(transectScale(spreadTransect(20, 90.0)));
    sets[1].scale(transectScale(spreadTransect(28, 248.0)));
    sets[2].scale(transectScale(evenTransect(4)));
    for (const BoxSet& set : sets) {
        for (int m = 1; m <= modelCount; m++) {
            const ModelBox& box = set.boxes()[m - 1];
            for (int j = 0; j < box.parameterCount; j++) {
                const ParameterInfo& p = box.parameters[j];
                const ExploreRegion r = regionInBox(p);
                const std::string where =
                    std::to_string(m) + " " + p.name + " " + boxText(p) + " " + regionText(p);
                EXPECT_TRUE(insideBox(p, r.low)) << where;
                EXPECT_TRUE(insideBox(p, r.high)) << where;
                EXPECT_LT(r.low, r.high) << where;
                EXPECT_TRUE(!r.log || r.low > 0.0) << where;
            }
        }
    }
    // On 90 units the contact of C_1 is searched where its box lets it be.
    EXPECT_EQ(boxText(parameter(sets[0], 7, "contact")), "(31.6423, 63.2846)");
    EXPECT_EQ(regionText(parameter(sets[0], 7, "contact")), "31.6423 to 63.2846");
}

TEST(ExploreRegions, FollowBoxesSetByHand) {
    BoxSet boxes;
    // Narrower: the region is the box, its open ends moved just inside.
    boxes.override("contact", 400, 450);
    const ParameterInfo& contact = parameter(boxes, 7, "contact");
    const ExploreRegion r = regionInBox(contact);
    EXPECT_EQ(r.low, std::nextafter(400.0, 500.0));
    EXPECT_EQ(r.high, std::nextafter(450.0, 0.0));
    EXPECT_EQ(regionText(contact), "400 to 450");
    // Apart from the region: the whole box, on the region's scale.
    boxes.override("sigma", 200, 300, 1);
    EXPECT_EQ(regionText(parameter(boxes, 1, "sigma")), "200 to 300, log scale");
    // Half open, apart from the region: its finite bound, just inside.
    boxes.override("sigma", 200, unbounded, 3);
    EXPECT_EQ(regionInBox(parameter(boxes, 3, "sigma")).low, std::nextafter(200.0, 300.0));
    EXPECT_EQ(regionText(parameter(boxes, 3, "sigma")), "fixed at 200");
    // A wider box leaves the region as it was.
    boxes.override("F", -5, 5);
    EXPECT_EQ(regionText(parameter(boxes, 1, "F")), "0 to 1");
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

TEST(ModelContextData, IsTheGivenTransectOrTheBuiltInOne) {
    const Transect small = evenTransect(4);
    ModelContext context;
    EXPECT_EQ(&context.data(), &builtInTransectValue());
    EXPECT_EQ(context.data().siteCount(), 105);
    context.transect = &small;
    EXPECT_EQ(&context.data(), &small);
    EXPECT_EQ(context.data().siteCount(), 4);
}
