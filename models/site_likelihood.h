// The score every model gives one site's counts under predicted genotype frequencies.
#pragma once

#include "population/population.h"

// L less the negative multinomial log-likelihood terms of one site, without the coefficient:
// L - nSS ln(SS) - nSI ln(SI) - nII ln(II) with the frequencies of `predicted`, subtracted in
// that order. Frequencies are used as they come: a frequency of 0 with a count of 0 gives NaN,
// with a positive count +infinity.
double addSiteNegLogLikelihood(double L, double nSS, double nSI, double nII,
                               const Genotype& predicted);
