#include "reference/plain_settle.h"

#include <cstddef>

#include "population/population.h"
#include "reference/plain_population.h"

namespace plain {

PlainSettling settle(const RowDynamics& dynamics, const std::vector<Genotype>& start,
                     double startChange, double tolerance, long long cap) {
    std::vector<Population> row;
    for (const Genotype& g : start) {
        row.emplace_back(g);
    }
    const int n = static_cast<int>(row.size());
    PlainSettling out;
    double lowest = startChange;
    double change = startChange;
    while (out.generations < cap) {
        for (int i = 0; i < n; ++i) {
            Population& deme = row[static_cast<std::size_t>(i)];
            if (dynamics.form == RowForm::kernel) {
                plain::goVirgins(deme, dynamics.fitness.at(static_cast<std::size_t>(
                                           detectRegion(i, dynamics.border1, dynamics.border2))));
            } else {
                plain::goVirgins(deme, dynamics.fitness.at(static_cast<std::size_t>(i)));
            }
            if (dynamics.form == RowForm::rateByGenotype) {
                plain::goZygotes(deme, dynamics.selfingRates);
            } else if (dynamics.form == RowForm::ratePerDeme) {
                plain::goZygotes(deme, dynamics.selfingRates.at(static_cast<std::size_t>(i)));
            } else {
                plain::goZygotes(deme, dynamics.selfing);
            }
        }
        const std::vector<Population> before = row;
        if (dynamics.form == RowForm::kernel) {
            plain::migration(row, dynamics.kernelWeights, dynamics.kernelOffsets,
                             dynamics.kernelStep, tolerance);
        } else {
            plain::migration(row, dynamics.migrationRates, tolerance);
        }
        change = plain::largestChange(row, before);
        ++out.generations;
        lowest = change < lowest ? change : lowest;
        if (change > 10 * lowest && change > 1e-8) {
            out.grewAgain = true;
        }
        if (change < tolerance) {
            out.settled = true;
            break;
        }
    }
    out.lastChange = change;
    for (const Population& deme : row) {
        out.larvae.push_back(deme.larvae);
        out.adults.push_back(deme.adults);
    }
    return out;
}

} // namespace plain
