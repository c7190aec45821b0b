#include "models/model_table.h"

#include "models/SS_F.h"
#include "models/cspace.h"
#include "models/ss.h"

namespace {

constexpr ParameterInfo fitness(const char* name, const char* meaning) {
    // Selection may be strong: the best points of some models lie at fitnesses near 100 (model
    // 8's at wSS_L 100, wII_L 96). The region spans selection of strength up to 100 either way
    // (w from 1/101 to 1 + 100) on a log scale; the search's design draws the strength itself
    // log-uniformly from 1e-4, so weak selection is as often tried as strong.
    return {
        name, meaning, 0.0, false, fitnessMax, false, false, fitnessRegionLow, fitnessRegionHigh,
        true, true};
}

constexpr ParameterInfo selfing(const char* name, const char* meaning) {
    return {name, meaning, 0.0, false, 1.0, false, false, 0.0, 1.0, false};
}

// The stepping-stone models refuse a dispersal scale of exactly 0, which the normal
// distribution cannot take; their objectives answer it with a penalty.
constexpr ParameterInfo ssSigma(double upper) {
    return {"sigma",
            "dispersal scale (s.d. of the displacement)",
            0.0,
            true,
            upper,
            upper == unbounded,
            false,
            1.0,
            upper == unbounded ? 100.0 : upper,
            true};
}

constexpr ParameterInfo kernelSigma(double upper) {
    return {"sigma", "s.d. of the dispersal kernel", 0.5, false, upper, false, false, 0.5, upper,
            true};
}

// A position or deme index answered with one penalty unit whatever its value.
constexpr ParameterInfo flatBox(const char* name, const char* meaning, double lower, bool open,
                                double upper) {
    return {name, meaning, lower, open, upper, open, true, lower, upper, false};
}

// The penalty units: the kernel models C_1 and C_2 charge ten times the others.
constexpr double unit = 100000.0;
constexpr double kernelUnit = 1000000.0;

const ParameterInfo ss1Parameters[] = {
    fitness("wSS", "fitness of SS relative to SI"),
    fitness("wII", "fitness of II relative to SI"),
    selfing("F", "selfing rate"),
    ssSigma(100.0),
};

const ParameterInfo ss2Parameters[] = {
    fitness("wSS_L", "fitness of SS relative to SI, demes left of the border"),
    fitness("wII_L", "fitness of II relative to SI, demes left of the border"),
    fitness("wSS_R", "fitness of SS relative to SI, demes from the border on"),
    fitness("wII_R", "fitness of II relative to SI, demes from the border on"),
    selfing("F", "selfing rate"),
    {"sigma", "dispersal scale (s.d. of the displacement)", 0.5, false, 50.0, false, false, 0.5,
     50.0, true},
    flatBox("border", "first deme right of the border (deme index, truncated)", 30.0, true, 80.0),
};

const ParameterInfo ss3Parameters[] = {
    fitness("wSI_1", "fitness of SI relative to SS, region 1"),
    fitness("wII_1", "fitness of II relative to SS, region 1"),
    fitness("wSI_2", "fitness of SI relative to SS, region 2"),
    fitness("wII_2", "fitness of II relative to SS, region 2"),
    fitness("wSI_3", "fitness of SI relative to SS, region 3"),
    fitness("wII_3", "fitness of II relative to SS, region 3"),
    selfing("F", "selfing rate"),
    ssSigma(unbounded),
};

const ParameterInfo ss3F0Parameters[] = {
    fitness("wSI_1", "fitness of SI relative to SS, region 1"),
    fitness("wII_1", "fitness of II relative to SS, region 1"),
    fitness("wSI_2", "fitness of SI relative to SS, region 2"),
    fitness("wII_2", "fitness of II relative to SS, region 2"),
    fitness("wSI_3", "fitness of SI relative to SS, region 3"),
    fitness("wII_3", "fitness of II relative to SS, region 3"),
    ssSigma(unbounded),
};

const ParameterInfo ss3FRParameters[] = {
    fitness("wSI_1", "fitness of SI relative to SS, region 1"),
    fitness("wII_1", "fitness of II relative to SS, region 1"),
    fitness("wSI_2", "fitness of SI relative to SS, region 2"),
    fitness("wII_2", "fitness of II relative to SS, region 2"),
    fitness("wSI_3", "fitness of SI relative to SS, region 3"),
    fitness("wII_3", "fitness of II relative to SS, region 3"),
    selfing("F_1", "selfing rate, region 1"),
    ssSigma(unbounded),
    selfing("F_2", "selfing rate, region 2"),
    selfing("F_3", "selfing rate, region 3"),
};

const ParameterInfo ss3FGParameters[] = {
    fitness("wSI_1", "fitness of SI relative to SS, region 1"),
    fitness("wII_1", "fitness of II relative to SS, region 1"),
    fitness("wSI_2", "fitness of SI relative to SS, region 2"),
    fitness("wII_2", "fitness of II relative to SS, region 2"),
    fitness("wSI_3", "fitness of SI relative to SS, region 3"),
    fitness("wII_3", "fitness of II relative to SS, region 3"),
    selfing("F_SS", "selfing rate of SS individuals"),
    ssSigma(unbounded),
    selfing("F_SI", "selfing rate of SI individuals"),
    selfing("F_II", "selfing rate of II individuals"),
};

const ParameterInfo c1Parameters[] = {
    fitness("wSS", "fitness of SS relative to SI"),
    fitness("wII", "fitness of II relative to SI"),
    selfing("F", "selfing rate"),
    kernelSigma(20.0),
    flatBox("contact", "position where the start changes from SS to II", 300.0, true, 600.0),
};

const ParameterInfo c2Parameters[] = {
    fitness("wSS_L", "fitness of SS relative to SI, left of the contact"),
    fitness("wII_L", "fitness of II relative to SI, left of the contact"),
    fitness("wSS_R", "fitness of SS relative to SI, right of the contact"),
    fitness("wII_R", "fitness of II relative to SI, right of the contact"),
    selfing("F", "selfing rate"),
    kernelSigma(50.0),
    flatBox("contact", "position of the border between the two regions", 200.0, true, 600.0),
};

const ParameterInfo border1 =
    flatBox("border1", "position of the border between regions 1 and 2", 206.0, false, 340.0);
const ParameterInfo border2 =
    flatBox("border2", "position of the border between regions 2 and 3", 523.0, false, 680.0);

const ParameterInfo c3Parameters[] = {
    fitness("wSS_1", "fitness of SS relative to SI, region 1"),
    fitness("wII_1", "fitness of II relative to SI, region 1"),
    fitness("wSS_2", "fitness of SS relative to SI, region 2"),
    fitness("wII_2", "fitness of II relative to SI, region 2"),
    fitness("wSS_3", "fitness of SS relative to SI, region 3"),
    fitness("wII_3", "fitness of II relative to SI, region 3"),
    selfing("F", "selfing rate"),
    kernelSigma(50.0),
    border1,
    border2,
};

const ParameterInfo c3F0Parameters[] = {
    fitness("wSS_1", "fitness of SS relative to SI, region 1"),
    fitness("wII_1", "fitness of II relative to SI, region 1"),
    fitness("wSS_2", "fitness of SS relative to SI, region 2"),
    fitness("wII_2", "fitness of II relative to SI, region 2"),
    fitness("wSS_3", "fitness of SS relative to SI, region 3"),
    fitness("wII_3", "fitness of II relative to SI, region 3"),
    kernelSigma(50.0),
    border1,
    border2,
};

using G = Geometry;
using B = BorderSource;

} // namespace

// A row whose objective is null is a model that this build does not provide. Each row's
// parameters are tested in vector order, after SS_1's joint test of its two fitnesses' lower
// bounds (the 2 at the end of its row), which charges both values at once.
const ModelEntry modelTable[modelCount] = {
    {1,
     "SS_1",
     "SS_1 = 1",
     "We'll do model 1: SS_1",
     "SS1_ML_",
     4,
     ssone,
     ssone,
     ss1Parameters,
     G::steppingStone,
     B::none,
     {-1, -1},
     "",
     unit,
     2},
    {2,
     "SS_2",
     "SS_2 = 2",
     "We'll do model 2: SS_2",
     "SS2_ML_",
     7,
     sstwo,
     sstwo,
     ss2Parameters,
     G::steppingStone,
     B::demeParameter,
     {6, -1},
     "region border",
     unit},
    {3,
     "SS_3",
     "SS_3 = 3, needs borders.txt",
     "We'll do model 3: SS_3",
     "SS3_ML_",
     8,
     ssthree,
     ssthree,
     ss3Parameters,
     G::steppingStone,
     B::borderFile,
     {-1, -1},
     "region border",
     unit},
    {4,
     "SS_3_F0",
     "SS_3_F0 = 4, needs borders.txt",
     "We'll do model 4: SS_3_F0",
     "SS3_F0_ML_",
     7,
     ss3_F0,
     ss3_F0,
     ss3F0Parameters,
     G::steppingStone,
     B::borderFile,
     {-1, -1},
     "region border",
     unit},
    {5,
     "SS_3_FR",
     "SS_3_FR = 5, needs borders.txt",
     "We'll do model 5: SS_3_FRegion",
     "SS3_FR_ML_",
     10,
     ss3_fr,
     ss3_fr,
     ss3FRParameters,
     G::steppingStone,
     B::borderFile,
     {-1, -1},
     "region border",
     unit},
    {6,
     "SS_3_FG",
     "SS_3_FG = 6, needs borders.txt",
     "We'll do model 6: SS_3_FGeno",
     "SS3_FG_ML_",
     10,
     ss3_FG,
     ss3_FG,
     ss3FGParameters,
     G::steppingStone,
     B::borderFile,
     {-1, -1},
     "region border",
     unit},
    {7,
     "C_1",
     "C_1 = 7",
     "We'll do model 7: C_1",
     "C_1_ML_",
     5,
     cone,
     cone,
     c1Parameters,
     G::kernelGrid,
     B::positionParameters,
     {4, -1},
     "contact",
     kernelUnit},
    {8,
     "C_2",
     "C_2 = 8",
     "We'll do model 8: C_2",
     "C_2_ML_",
     7,
     ctwo,
     ctwo,
     c2Parameters,
     G::kernelGrid,
     B::positionParameters,
     {6, -1},
     "contact",
     kernelUnit},
    {9,
     "C_3",
     "C_3 = 9",
     "We'll do model 9: C_3",
     "C_3_ML_",
     10,
     cthree,
     cthree,
     c3Parameters,
     G::kernelGrid,
     B::positionParameters,
     {8, 9},
     "region border",
     unit},
    {10,
     "C_3_F0",
     "C_3_F0 = 10",
     "We'll do model 10: C_3_F0",
     "C_3_F0_ML_",
     9,
     CthreeFnot,
     CthreeFnot,
     c3F0Parameters,
     G::kernelGrid,
     B::positionParameters,
     {7, 8},
     "region border",
     unit},
};

const ModelEntry* findModel(int number) {
    if (number < 1 || number > modelCount) {
        return nullptr;
    }
    return &modelTable[number - 1];
}

int findParameter(const ModelEntry& model, const std::string& name) {
    for (int i = 0; i < model.parameterCount; i++) {
        if (name == model.parameters[i].name) {
            return i;
        }
    }
    return -1;
}

ModelBox builtinBox(const ModelEntry& model) {
    return {model.parameters, model.parameterCount, model.penaltyUnit, model.jointLowerCount};
}

namespace {

const ModelBox builtinBoxes[modelCount] = {
    builtinBox(modelTable[0]), builtinBox(modelTable[1]), builtinBox(modelTable[2]),
    builtinBox(modelTable[3]), builtinBox(modelTable[4]), builtinBox(modelTable[5]),
    builtinBox(modelTable[6]), builtinBox(modelTable[7]), builtinBox(modelTable[8]),
    builtinBox(modelTable[9]),
};

} // namespace

const ModelBox* builtinBoxSet() {
    return builtinBoxes;
}

std::string regionText(const ParameterInfo& parameter) {
    const ExploreRegion region = regionInBox(parameter);
    if (region.low == region.high) {
        return "fixed at " + boundText(region.low);
    }
    return boundText(region.low) + " to " + boundText(region.high) +
           (region.log ? ", log scale" : "");
}
