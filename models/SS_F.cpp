#include "models/SS_F.h"

#include <functional>
#include <vector>

#include "data/borders.h"
#include "models/model_table.h"
#include "models/ss_frame.h"
#include "population/population.h"
#include "population/simulation_context.h"

double ss3_fr(const NRvector<double>& x) {
    return ss3_fr(zonefitContext(), x);
}

double ss3_fr(const ModelContext& context, const NRvector<double>& x) {
    const ModelBox& box = context.box(5);
    Borders borders;
    double penalty = 0.0;
    if (!ssframe::regionsAndBox(context, box, x, borders, penalty)) {
        return penalty;
    }

    // Sigma is x[7], between the first and the second selfing rate.
    const std::vector<Genotype> demeFitness = ssframe::regionFitness(context, x, borders);
    const std::vector<double> demeSelfing =
        ssframe::regionValues(context, borders, x[6], x[8], x[9]);
    return ssframe::evaluate(
        context, x[7],
        [&](const std::vector<Population>& demes, const std::vector<double>& migrationRates,
            double tolerance, int maxGenerations) {
            return simulate(context.simulation, demes, migrationRates, demeFitness, demeSelfing,
                            tolerance, maxGenerations);
        },
        box.penaltyUnit);
}

double ss3_FG(const NRvector<double>& x) {
    return ss3_FG(zonefitContext(), x);
}

double ss3_FG(const ModelContext& context, const NRvector<double>& x) {
    const ModelBox& box = context.box(6);
    Borders borders;
    double penalty = 0.0;
    if (!ssframe::regionsAndBox(context, box, x, borders, penalty)) {
        return penalty;
    }
    // Selfing rates of SS, SI and II individuals, the same at every deme.
    const std::vector<double> genotypeSelfing = {x[6], x[8], x[9]};

    const std::vector<Genotype> demeFitness = ssframe::regionFitness(context, x, borders);
    return ssframe::evaluate(
        context, x[7],
        [&](const std::vector<Population>& demes, const std::vector<double>& migrationRates,
            double tolerance, int maxGenerations) {
            return simulateByGenotype(context.simulation, demes, migrationRates, demeFitness,
                                      genotypeSelfing, tolerance, maxGenerations);
        },
        box.penaltyUnit);
}
