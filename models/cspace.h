// Objectives of the kernel models on a regular grid of demes (models 7 to 10).
#pragma once

#include "optimiser/nr3.h"

double cone(const NRvector<double>& x);       // C_1: one region, start split at a contact
double ctwo(const NRvector<double>& x);       // C_2: two regions meeting at a contact
double cthree(const NRvector<double>& x);     // C_3: three regions between two borders
double CthreeFnot(const NRvector<double>& x); // C_3_F0: as C_3 with selfing fixed at 0
