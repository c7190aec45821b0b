// Small numeric helpers of the kernel models.
#pragma once

#include "population/population.h"

// Hardy-Weinberg frequencies at the allele frequency p set by fitnesses a (of SS) and b (of II)
// relative to a reference genotype of fitness 1: returns (p^2, 2p(1-p), (1-p)^2).
Genotype deterministic(double a, double b);

// Linear interpolation a + (b - a) / length * x, evaluated in that order.
double interpolate(double a, double b, double x, double length);
