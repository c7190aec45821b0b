// Objectives of the stepping-stone models with one selfing rate (models 1 to 4). Each tests its
// point against activeBox(model) of models/model_table.h. Models 3 and 4 read borders.txt at
// every call; one that does not read is reported to the thread's failure sink
// (data/failure_sink.h) and answered with one penalty unit.
#pragma once

#include "optimiser/nr3.h"

double ssone(const NRvector<double>& x);   // SS_1: one fitness triple, selfing, sigma
double sstwo(const NRvector<double>& x);   // SS_2: two regions split at a fitted border
double ssthree(const NRvector<double>& x); // SS_3: three regions from borders.txt, selfing
double ss3_F0(const NRvector<double>& x);  // SS_3_F0: as SS_3 with selfing fixed at 0
