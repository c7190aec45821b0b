// Objectives of the stepping-stone models with one selfing rate (models 1 to 4). Each form with
// a context scores the context's transect and tests its point against the context's box of the
// model (models/model_context.h); the form without one is that form in zonefitContext(). Models
// 3 and 4 read borders.txt at every call; one that does not read is reported to the context's
// failure sink and answered with one penalty unit.
#pragma once

#include "models/model_context.h"
#include "optimiser/nr3.h"

double ssone(const NRvector<double>& x);   // SS_1: one fitness triple, selfing, sigma
double sstwo(const NRvector<double>& x);   // SS_2: two regions split at a fitted border
double ssthree(const NRvector<double>& x); // SS_3: three regions from borders.txt, selfing
double ss3_F0(const NRvector<double>& x);  // SS_3_F0: as SS_3 with selfing fixed at 0

double ssone(const ModelContext& context, const NRvector<double>& x);
double sstwo(const ModelContext& context, const NRvector<double>& x);
double ssthree(const ModelContext& context, const NRvector<double>& x);
double ss3_F0(const ModelContext& context, const NRvector<double>& x);
