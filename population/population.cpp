// The deme records and the per-deme life-cycle steps: selection and the two mating steps.
#include "population/population.h"

#include <cmath>

#include <iostream>

std::ostream& operator<<(std::ostream& os, const Genotype& g) {
    os << "SS: " << g.SS << ", SI: " << g.SI << ", II: " << g.II;
    return os;
}

Population::Population(const Genotype& start)
    : virgins{0.0, 0.0, 0.0}, zygotes{0.0, 0.0, 0.0}, adults{0.0, 0.0, 0.0}, larvae(start) {}

void Population::goVirgins(const Genotype& fitness) {
    const double a = fitness.SS * larvae.SS;
    const double b = fitness.SI * larvae.SI;
    const double c = fitness.II * larvae.II;
    // Mean fitness of the deme; zero (every present genotype lethal) gives non-numbers.
    const double meanFitness = a + b + c;
    virgins.SS = a / meanFitness;
    virgins.SI = b / meanFitness;
    virgins.II = c / meanFitness;
}

void Population::goZygotes(const double& selfing) {
    const double F = selfing;
    const Genotype& V = virgins;
    const double p = V.SS + 0.5 * V.SI; // allele S
    const double q = 0.5 * V.SI + V.II; // allele I
    // Selfed SI parents give SS, SI, II in proportions 1/4, 1/2, 1/4; the rest mate at random.
    zygotes.SS = (V.SS + 0.25 * V.SI) * F + p * p * (1 - F);
    zygotes.SI = F * V.SI * 0.5 + 2 * (1 - F) * p * q;
    zygotes.II = (0.25 * V.SI + V.II) * F + q * q * (1 - F);
}

void Population::goZygotes(const std::vector<double>& selfingByGenotype) {
    goZygotes(selfingByGenotype, std::cout);
}

void Population::goZygotes(const std::vector<double>& selfingByGenotype,
                           std::ostream& diagnostics) {
    const double s0 = selfingByGenotype[0];
    const double s1 = selfingByGenotype[1];
    const double s2 = selfingByGenotype[2];
    const Genotype& V = virgins;
    // Share of the deme that outcrosses, and the allele frequencies of that outcrossing pool.
    const double T = (1 - s0) * V.SS + (1 - s1) * V.SI + (1 - s2) * V.II;
    const double p = (1 - s0) * V.SS / T + 0.5 * (1 - s1) * V.SI / T;
    const double q = 0.5 * (1 - s1) * V.SI / T + (1 - s2) * V.II / T;
    zygotes.SS = p * p * T + (s0 * V.SS + 0.25 * s1 * V.SI);
    zygotes.SI = 2 * p * q * T + 0.5 * s1 * V.SI;
    zygotes.II = q * q * T + (0.25 * s1 * V.SI + s2 * V.II);
    const double sum = zygotes.SI + zygotes.SS + zygotes.II;
    if (std::fabs(1 - sum) > 1e-7) {
        diagnostics << "zygotes off =" << sum << '\n';
    }
}
