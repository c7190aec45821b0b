// The table of the ten models: texts, result-file prefix and objective of each.
#pragma once

#include "optimiser/nr3.h"

// One row of the model table.
struct ModelEntry {
    int number;                   // ModelNumber, 1 to 10
    const char* name;             // short name, as in SS_1 or C_3_F0
    const char* usage;            // usage line, as in "SS_1 = 1"
    const char* banner;           // printed when the model is chosen
    const char* prefix;           // result-file name
    int parameterCount;           // entries of the parameter vector the objective reads
    ObjectiveFunction* objective; // null while the model is not available in this build
};

constexpr int modelCount = 10;

// The ten rows, in the order of the model number.
extern const ModelEntry modelTable[modelCount];

// The row of model `number`, or null when the number is not 1 to 10.
const ModelEntry* findModel(int number);
