// Objectives of the stepping-stone models with selfing by region or by genotype (models 5, 6).
// They test their boxes and read borders.txt as models 3 and 4 do (models/ss.h).
#pragma once

#include "models/model_context.h"
#include "optimiser/nr3.h"

double ss3_fr(const NRvector<double>& x); // SS_3_FR: three regions, selfing rate per region
double ss3_FG(const NRvector<double>& x); // SS_3_FG: three regions, selfing rate per genotype

// The same in a context (models/ss.h).
double ss3_fr(const ModelContext& context, const NRvector<double>& x);
double ss3_FG(const ModelContext& context, const NRvector<double>& x);
