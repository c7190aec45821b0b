// Objectives of the stepping-stone models with one selfing rate (models 1 to 4).
#pragma once

#include "optimiser/nr3.h"

double ssone(const NRvector<double>& x);   // SS_1: one fitness triple, selfing, sigma
double sstwo(const NRvector<double>& x);   // SS_2: two regions split at a fitted border
double ssthree(const NRvector<double>& x); // SS_3: three regions from borders.txt, selfing
double ss3_F0(const NRvector<double>& x);  // SS_3_F0: as SS_3 with selfing fixed at 0
