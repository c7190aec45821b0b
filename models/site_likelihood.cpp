#include "models/site_likelihood.h"

#include <cmath>

double addSiteNegLogLikelihood(double L, double nSS, double nSI, double nII,
                               const Genotype& predicted) {
    return L - nSS * std::log(predicted.SS) - nSI * std::log(predicted.SI) -
           nII * std::log(predicted.II);
}
