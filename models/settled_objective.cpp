#include "models/settled_objective.h"

#include <algorithm>
#include <limits>

#include "population/row_hook.h"
#include "population/row_settling.h"

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

namespace {

StateKind kindOf(RowRest rest) {
    switch (rest) {
    case RowRest::equilibrium:
        return StateKind::equilibrium;
    case RowRest::transientThenEquilibrium:
        return StateKind::transientThenEquilibrium;
    case RowRest::quasiStationary:
        return StateKind::quasiStationary;
    case RowRest::unsettled:
        break;
    }
    return StateKind::unsettled;
}

// The settled value: the model's own run is captured from its simulate call, settled, and the
// model scores the settled state through the same call, which then runs nothing.
double settledValue(const ModelEntry& model, const NRvector<double>& x, SettledReport& report) {
    RowHook hook;
    {
        const ScopedRowHook scope(hook);
        report.zonefitValue = model.objective(x);
    }
    if (!hook.captured) {
        // Outside the box, borders that did not read, or a row the fast loops do not serve:
        // zonefit's answer stands.
        report.kind = StateKind::none;
        return report.zonefitValue;
    }
    report.zonefitGenerations = hook.state.generations;
    const RowSettling settling = settleRow(hook.dynamics, hook.state);
    report.kind = kindOf(settling.rest);
    report.generations = report.zonefitGenerations + settling.generations;
    report.lastChange = settling.lastChange;
    if (settling.rest == RowRest::unsettled) {
        return activeBox(model.number).penaltyUnit;
    }
    hook.mode = RowHook::Mode::replace;
    hook.recordedGenerations =
        static_cast<int>(std::min<long long>(report.generations, std::numeric_limits<int>::max()));
    hook.recordedConverged = true;
    const ScopedRowHook scope(hook);
    return model.objective(x);
}

// The row settled inside the model's own simulate call, so that the model scores the settled
// state in the same call: one scoring instead of two, for callers that do not ask for zonefit's
// value beside the settled one.
void settleCaptured(RowHook& hook) {
    RowSettling& settling = *static_cast<RowSettling*>(hook.context);
    settling = settleRow(hook.dynamics, hook.state);
}

double settledValueOnly(const ModelEntry& model, const NRvector<double>& x) {
    RowHook hook;
    RowSettling settling;
    hook.afterCapture = settleCaptured;
    hook.context = &settling;
    double value = 0.0;
    {
        const ScopedRowHook scope(hook);
        value = model.objective(x);
    }
    if (hook.captured && settling.rest == RowRest::unsettled) {
        return activeBox(model.number).penaltyUnit;
    }
    return value;
}

} // namespace

double evaluateModel(const ModelEntry& model, const NRvector<double>& x, ObjectiveKind kind,
                     SettledReport* report) {
    if (kind == ObjectiveKind::settled && report == nullptr) {
        return settledValueOnly(model, x);
    }
    SettledReport local;
    SettledReport& out = report != nullptr ? *report : local;
    out = SettledReport{};
    if (kind == ObjectiveKind::settled) {
        return settledValue(model, x, out);
    }
    const double value = model.objective(x);
    out.zonefitValue = value;
    return value;
}
