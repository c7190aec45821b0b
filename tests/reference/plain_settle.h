// The plain twin of the settled row: the per-deme steps of plain_population.h run one
// generation at a time from the state a captured run ended in, with a small tolerance and a
// large cap, and the simplest classification: settled or not, and whether the change grew
// again on the way.
#pragma once

#include <vector>

#include "population/row_hook.h"

namespace plain {

// Where a plain continuation ended.
struct PlainSettling {
    bool settled = false;         // no larva changed by the tolerance before the cap
    bool grewAgain = false;       // the change rose 10 times above its lowest value and 1e-8
    long long generations = 0;    // generations run
    double lastChange = 0.0;      // the largest larva change of the last generation
    std::vector<Genotype> larvae; // the end state
    std::vector<Genotype> adults; // its adults (the virgins of the last generation, dispersed)
};

// Continues the row of `dynamics` from `start` (the larvae of a run that stopped with change
// `startChange`) through plain::goVirgins, plain::goZygotes and plain::migration until no larva
// value changes by `tolerance` or `cap` generations have run.
PlainSettling settle(const RowDynamics& dynamics, const std::vector<Genotype>& start,
                     double startChange, double tolerance, long long cap);

} // namespace plain
