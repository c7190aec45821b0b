// The table of the ten models: texts, result-file prefix, objective and parameters of each.
#pragma once

#include "models/boxes.h"
#include "optimiser/nr3.h"

struct ModelContext;

// A model's objective evaluated in a context (models/model_context.h): the same model code as
// its ObjectiveFunction, which is this function in zonefitContext().
using ModelObjective = double(const ModelContext& context, const NRvector<double>& x);

#include <string>

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
    ModelObjective* evaluate;     // the same objective in a context; null with `objective`
    const ParameterInfo* parameters = nullptr; // parameterCount entries, in vector order
    Geometry geometry = Geometry::steppingStone;
    BorderSource borders = BorderSource::none;
    int borderParameters[2] = {-1, -1}; // parameter indices, -1 when unused
    const char* borderLabel = "";       // what a border is called in figures
    double penaltyUnit = 0.0;           // the box's penalty unit (see ModelBox)
    int jointLowerCount = 0;            // parameters whose lower bounds are tested together
};

constexpr int modelCount = 10;

// The ten rows, in the order of the model number.
extern const ModelEntry modelTable[modelCount];

// The row of model `number`, or null when the number is not 1 to 10.
const ModelEntry* findModel(int number);

// The index of the parameter called `name` in `model`, or -1.
int findParameter(const ModelEntry& model, const std::string& name);

// The exploration region inside the box (regionInBox) as text, as in "0.8 to 1.25, log
// scale" or "0 to 1"; ends are printed with 6 significant digits.
std::string regionText(const ParameterInfo& parameter);

// The box of `model` as its row gives it.
ModelBox builtinBox(const ModelEntry& model);

// The boxes of the ten rows as the rows give them (builtinBox), model n at index n - 1.
const ModelBox* builtinBoxSet();
