// The table of the ten models: texts, result-file prefix, objective and parameters of each.
#pragma once

#include "optimiser/nr3.h"

#include <limits>
#include <string>

// One entry of a model's parameter vector: its short name and its box. A value outside the
// box is answered by the objective with a penalty instead of a simulation.
struct ParameterInfo {
    const char* name;    // short name, as in wSS or sigma; unique within the model
    const char* meaning; // one line for listings
    double lower;        // lower bound, -infinity when there is none
    bool lowerOpen;      // the lower bound itself is refused
    double upper;        // upper bound, +infinity when there is none
    bool upperOpen;      // the upper bound itself is refused
    // Where a multi-start search draws its start points: low to high, on a log scale when
    // exploreLog (then 0 < low). A region of one value holds the parameter fixed.
    double exploreLow = 0.0;
    double exploreHigh = 0.0;
    bool exploreLog = false;
};

constexpr double unbounded = std::numeric_limits<double>::infinity();

// How a model lays its demes along the transect.
enum class Geometry {
    steppingStone, // one deme per site, neighbours separated by the site distances
    kernelGrid,    // a regular grid over the site positions, sites read off by interpolation
};

// Where the borders between a model's selection regions come from.
enum class BorderSource {
    none,               // one region
    demeParameter,      // parameter borderParameters[0] is the index of the first deme beyond
    borderFile,         // borders.txt of the working directory
    positionParameters, // parameters borderParameters[0] (and [1] when >= 0) are positions
};

// One row of the model table.
struct ModelEntry {
    int number;                   // ModelNumber, 1 to 10
    const char* name;             // short name, as in SS_1 or C_3_F0
    const char* usage;            // usage line, as in "SS_1 = 1"
    const char* banner;           // printed when the model is chosen
    const char* prefix;           // result-file name
    int parameterCount;           // entries of the parameter vector the objective reads
    ObjectiveFunction* objective; // null while the model is not available in this build
    const ParameterInfo* parameters = nullptr; // parameterCount entries, in vector order
    Geometry geometry = Geometry::steppingStone;
    BorderSource borders = BorderSource::none;
    int borderParameters[2] = {-1, -1}; // parameter indices, -1 when unused
    const char* borderLabel = "";       // what a border is called in figures
};

constexpr int modelCount = 10;

// The ten rows, in the order of the model number.
extern const ModelEntry modelTable[modelCount];

// The row of model `number`, or null when the number is not 1 to 10.
const ModelEntry* findModel(int number);

// The index of the parameter called `name` in `model`, or -1.
int findParameter(const ModelEntry& model, const std::string& name);

// Whether `value` lies inside the box of `parameter` (NaN never does).
bool insideBox(const ParameterInfo& parameter, double value);

// The exploration region as text, as in "0.8 to 1.25, log scale" or "0 to 1".
std::string regionText(const ParameterInfo& parameter);

// The box in interval notation, as in "[0, 10000]", "(30, 80)" or "(0, inf)".
std::string boxText(const ParameterInfo& parameter);
