#include "models/model_table.h"

#include "models/SS_F.h"
#include "models/cspace.h"
#include "models/ss.h"

// A row whose objective is null is a model that this build does not provide.
const ModelEntry modelTable[modelCount] = {
    {1, "SS_1", "SS_1 = 1", "We'll do model 1: SS_1", "SS1_ML_", 4, ssone},
    {2, "SS_2", "SS_2 = 2", "We'll do model 2: SS_2", "SS2_ML_", 7, sstwo},
    {3, "SS_3", "SS_3 = 3, needs borders.txt", "We'll do model 3: SS_3", "SS3_ML_", 8, ssthree},
    {4, "SS_3_F0", "SS_3_F0 = 4, needs borders.txt", "We'll do model 4: SS_3_F0", "SS3_F0_ML_", 7,
     ss3_F0},
    {5, "SS_3_FR", "SS_3_FR = 5, needs borders.txt", "We'll do model 5: SS_3_FRegion", "SS3_FR_ML_",
     10, ss3_fr},
    {6, "SS_3_FG", "SS_3_FG = 6, needs borders.txt", "We'll do model 6: SS_3_FGeno", "SS3_FG_ML_",
     10, ss3_FG},
    {7, "C_1", "C_1 = 7", "We'll do model 7: C_1", "C_1_ML_", 5, cone},
    {8, "C_2", "C_2 = 8", "We'll do model 8: C_2", "C_2_ML_", 7, ctwo},
    {9, "C_3", "C_3 = 9", "We'll do model 9: C_3", "C_3_ML_", 10, cthree},
    {10, "C_3_F0", "C_3_F0 = 10", "We'll do model 10: C_3_F0", "C_3_F0_ML_", 9, CthreeFnot},
};

const ModelEntry* findModel(int number) {
    if (number < 1 || number > modelCount) {
        return nullptr;
    }
    return &modelTable[number - 1];
}
