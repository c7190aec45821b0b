#include "models/settled_objective.h"

const char* objectiveName(ObjectiveKind kind) {
    return kind == ObjectiveKind::settled ? "settled" : "zonefit";
}

bool parseObjectiveKind(const std::string& text, ObjectiveKind& kind) {
    if (text == "zonefit") {
        kind = ObjectiveKind::zonefit;
        return true;
    }
    if (text == "settled") {
        kind = ObjectiveKind::settled;
        return true;
    }
    return false;
}

const char* stateKindText(StateKind kind) {
    switch (kind) {
    case StateKind::none:
        return "none";
    case StateKind::equilibrium:
        return "equilibrium";
    case StateKind::transientThenEquilibrium:
        return "transient, then equilibrium";
    case StateKind::quasiStationary:
        return "quasi-stationary";
    case StateKind::unsettled:
        return "unsettled";
    }
    return "none";
}

// Until the settling of the row is built, both kinds give zonefit's value.
double evaluateModel(const ModelEntry& model, const NRvector<double>& x, ObjectiveKind kind,
                     SettledReport* report) {
    (void)kind;
    const double value = model.objective(x);
    if (report != nullptr) {
        *report = SettledReport{};
        report->zonefitValue = value;
    }
    return value;
}
