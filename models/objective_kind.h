// Which value a zonetool analysis minimises at a point: zonefit's own (the row run until no
// larva frequency changes by 1e-8 in a generation) or the settled value (the state the row
// comes to rest in, or keeps for a very long time).
#pragma once

#include <string>

enum class ObjectiveKind {
    zonefit, // the value zonefit computes, bit for bit
    settled, // the value of the state the row settles in
};

// "zonefit" or "settled".
const char* objectiveName(ObjectiveKind kind);

// Reads "zonefit" or "settled" into `kind`; false, leaving `kind` untouched, for any other text.
bool parseObjectiveKind(const std::string& text, ObjectiveKind& kind);

// What kind of state a settled evaluation scored.
enum class StateKind {
    none,        // no simulation: the point lies outside its box, or the borders did not read
    equilibrium, // a stable equilibrium, reached or approached geometrically
    transientThenEquilibrium, // the row left a state it seemed to rest in, then settled
    quasiStationary, // the row keeps its shape, creeping at a steady slow rate; scored where it is
    unsettled,       // none of these within the generation budget: a penalty in searches
    alleleLost, // the row loses a genotype the data observe: penalised, the penalty unit added to
                // the score where it stopped
};

// Words for `kind` as tables print them: "none", "equilibrium", "transient, then equilibrium",
// "quasi-stationary", "unsettled", "allele lost".
const char* stateKindText(StateKind kind);

// What one settled evaluation did, beside its value.
struct SettledReport {
    StateKind kind = StateKind::none;
    double zonefitValue = 0.0;        // the value zonefit computes at the same point
    long long zonefitGenerations = 0; // generations of zonefit's run
    long long generations = 0;        // generations run in all, zonefit's run included
    double lastChange = 0.0;          // the largest larva change of the last generation run
};
