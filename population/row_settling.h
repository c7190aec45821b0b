// Where a row comes to rest after the run an objective made: it goes on from the state that run
// ended in, tells a stable equilibrium (approached fast or slowly) from a transient and from a
// quasi-stationary cline, and returns the state to score.
#pragma once

#include <ostream>
#include <vector>

#include "population/row_hook.h"

// What the row did after the first run.
enum class RowRest {
    equilibrium,              // settled at a stable equilibrium, approached geometrically
    transientThenEquilibrium, // the change grew again before the row settled
    quasiStationary, // creeps at a steady rate below the first tolerance, or rests at a saddle
                     // it leaves more slowly than the steady rate: scored where it is
    unsettled,       // none of these within the generation budget
    alleleLost, // settled on the way to losing a genotype the score counts: its frequency falls
                // geometrically towards 0, and the score of the state depends on where it stops
};

// The rules of settling. The defaults are those of the settled objective.
struct SettleRules {
    double tolerance = 1e-13;     // a row whose larvae change by less has settled
    double firstTolerance = 1e-8; // the tolerance of the run the row continues
    long long budget = 2000000;   // generations to run beyond the first run
    int window = 500;             // generations between two rate estimates
    double steadyRate = 1e-6;     // |log rate| per generation below which a change is steady
    int steadyWindows = 4;        // windows of steady change that make a cline quasi-stationary
    // ... provided the rate, at the trend it showed over them, stays under the steady rate for
    // this many generations more: otherwise the row is passing the top of a slow move on.
    double steadyHorizon = 1000000;
    double growth = 10.0; // a change this far above its lowest value marks a transient
    bool newton = true;   // try Newton steps on a geometric approach
    // A row whose change falls below the tolerance near a saddle (an unstable equilibrium the
    // row passes close to, and lingers at) has not come to rest: its stability is checked
    // where it stopped, and it runs on while it leaves the saddle.
    bool confirmStable = true;
    // A row that leaves an unstable state at a steady rate (its change grows geometrically,
    // along one direction) is carried ahead along that direction to `departureReach` (in
    // frequency) from the state it leaves; it then runs on as before.
    bool jumpDepartures = true;
    double departureReach = 1e-2;
    long long newtonAfter = 300; // ... when more generations than this remain by the tail
    double plainReach = 5000;    // below this many generations to go, the limit must also
    double stopAgreement = 1e-9; // ... agree with the plain stop to this, relative
    // How much each larva frequency (3 per deme, deme-major) weighs in the score: the counts it
    // is compared with. Null or of another size: unknown.
    const std::vector<double>* weights = nullptr;
    double scoreAgreement = 1e-7; // with weights: the largest change of the score allowed
    // With weights: a weighed frequency under this that falls geometrically towards 0 is being
    // lost (an interior equilibrium reached to the tolerance moves a frequency far less).
    double lostLevel = 1e-6;
    int lostWindow = 10; // generations between the three looks that judge a fall to 0
    // With weights: the score has settled when what it still moves by (its change in a
    // generation, summed over a geometric tail) is under `scoreRest`, or when it changes by less
    // than `scoreRounding` times the summed weights in each of two generations (rounding).
    double scoreRest = 1e-8;
    double scoreRounding = 1e-14;
    std::ostream* diagnostics = nullptr; // "zygotes off" lines of the runs; null: standard output
};

// The outcome of settling.
struct RowSettling {
    RowRest rest = RowRest::unsettled;
    long long generations = 0; // generations run beyond the first run
    double lastChange = 0.0;   // the largest larva change of the last generation run
    bool newton = false;       // whether the state is a fixed point found by Newton steps
};

// Settles the row of `dynamics` from `state`, the end of a captured run of the first tolerance,
// replacing `state` with the state to score (its larvae and adults). A captured run that did
// not converge is unsettled at once. A row that settles while a weighed adult frequency still
// falls geometrically towards 0 is alleleLost: its state is where it stopped. With weights, a
// row has settled only once its score has (SettleRules::scoreRest): frequencies far below the
// tolerance, which the score reads through their logarithms, may still be moving.
RowSettling settleRow(const RowDynamics& dynamics, RowState& state,
                      const SettleRules& rules = SettleRules());
