#include "models/SS_F.h"

#include <functional>
#include <limits>
#include <vector>

#include "data/borders.h"
#include "models/ss_frame.h"
#include "population/population.h"

namespace {

// Bounds check shared by models 5 and 6: six fitnesses, the first selfing rate, sigma (x[7],
// between the selfing rates), then the other two selfing rates. Returns 0 inside the box,
// else the penalty (never below one penalty unit).
double boundsPenalty(const NRvector<double>& x) {
    using ssframe::outside;
    using ssframe::penalty;
    for (int k = 0; k < 6; k++) {
        if (outside(x[k], 0.0, ssframe::fitnessMax)) {
            return penalty(x[k]);
        }
    }
    if (outside(x[6], 0.0, 1.0)) {
        return penalty(x[6]);
    }
    // Sigma has no upper bound; a scale of exactly 0 describes no dispersal distribution.
    if (outside(x[7], 0.0, std::numeric_limits<double>::infinity()) || x[7] == 0.0) {
        return penalty(x[7]);
    }
    if (outside(x[8], 0.0, 1.0)) {
        return penalty(x[8]);
    }
    if (outside(x[9], 0.0, 1.0)) {
        return penalty(x[9]);
    }
    return 0.0;
}

// Fitness triples (SS = 1, SI, II) of the three regions from x[0] to x[5].
std::vector<Genotype> regionFitness(const NRvector<double>& x, const Borders& borders) {
    std::vector<Genotype> demeFitness;
    ssframe::fillRegions(demeFitness, borders, Genotype{1.0, x[0], x[1]}, Genotype{1.0, x[2], x[3]},
                         Genotype{1.0, x[4], x[5]});
    return demeFitness;
}

} // namespace

double ss3_fr(const NRvector<double>& x) {
    const Borders borders = readBordersOrExit();
    const double outOfBox = boundsPenalty(x);
    if (outOfBox != 0.0) {
        return outOfBox;
    }

    const std::vector<Genotype> demeFitness = regionFitness(x, borders);
    std::vector<double> demeSelfing;
    ssframe::fillRegions(demeSelfing, borders, x[6], x[8], x[9]);
    return ssframe::evaluate(x[7], [&](const std::vector<Population>& demes,
                                       const std::vector<double>& migrationRates, double tolerance,
                                       int maxGenerations) {
        return simulate(demes, migrationRates, demeFitness, demeSelfing, tolerance, maxGenerations);
    });
}

double ss3_FG(const NRvector<double>& x) {
    const Borders borders = readBordersOrExit();
    // Selfing rates of SS, SI and II individuals, the same at every deme.
    std::vector<double> genotypeSelfing;
    genotypeSelfing.resize(3, 0.0);
    genotypeSelfing[0] = x[6];
    genotypeSelfing[1] = x[8];
    genotypeSelfing[2] = x[9];
    const double outOfBox = boundsPenalty(x);
    if (outOfBox != 0.0) {
        return outOfBox;
    }

    const std::vector<Genotype> demeFitness = regionFitness(x, borders);
    return ssframe::evaluate(x[7], [&](const std::vector<Population>& demes,
                                       const std::vector<double>& migrationRates, double tolerance,
                                       int maxGenerations) {
        return simulateByGenotype(demes, migrationRates, demeFitness, genotypeSelfing, tolerance,
                                  maxGenerations);
    });
}
