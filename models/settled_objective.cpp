#include "models/settled_objective.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "models/cspace.h"
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
    case StateKind::alleleLost:
        return "allele lost";
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
    case RowRest::alleleLost:
        return StateKind::alleleLost;
    case RowRest::unsettled:
        break;
    }
    return StateKind::unsettled;
}

// How much each larva frequency of a row of `demes` demes weighs in the model's score: the
// counts of its genotype at the sites that read its deme (stepping stone: the site of the deme;
// kernel grid: the sites interpolated from it, each counted whole). Empty when the row is not
// the model's (its deme count differs).
std::vector<double> scoreWeights(const ModelContext& context, const ModelEntry& model,
                                 std::size_t demes) {
    const Transect& transect = context.data();
    const std::size_t sites = static_cast<std::size_t>(transect.siteCount());
    std::vector<double> weights(3 * demes, 0.0);
    const auto add = [&](std::size_t deme, std::size_t site) {
        weights[3 * deme] += transect.countSS[site];
        weights[3 * deme + 1] += transect.countSI[site];
        weights[3 * deme + 2] += transect.countII[site];
    };
    if (model.geometry == Geometry::steppingStone) {
        if (demes != sites) {
            return {};
        }
        for (std::size_t i = 0; i < sites; ++i) {
            add(i, i);
        }
        return weights;
    }
    int gridIntervals = 0;
    int halfPoints = 0;
    if (!kernelSettingsOf(model.number, gridIntervals, halfPoints) ||
        demes != static_cast<std::size_t>(gridIntervals) + 1) {
        return {};
    }
    const double spacing = gridSpacing(transect, gridIntervals);
    for (std::size_t i = 0; i < sites; ++i) {
        // The two demes readSite interpolates between.
        const int j = gridIndex(transect.positions[i], spacing, gridIntervals);
        const int j0 = j >= 2 ? j - 1 : 0;
        add(static_cast<std::size_t>(j0), i);
        add(static_cast<std::size_t>(j), i);
    }
    return weights;
}

// Settles the captured row with the score's weights of `model`.
RowSettling settle(const ModelContext& context, const ModelEntry& model, RowHook& hook) {
    const std::vector<double> weights = scoreWeights(context, model, hook.state.larvae.size());
    SettleRules rules;
    rules.weights = &weights;
    rules.diagnostics = context.simulation.diagnostics;
    return settleRow(hook.dynamics, hook.state, rules);
}

// The value of a settled state scored as `value`. Where the row loses a genotype the data
// observe, the limit's -lnL is infinite (stepping stone) or floored at the penalty unit per lost
// count (kernels), and the score where the row stopped depends on the tolerance alone: such a
// point is penalised, with the penalty unit added to that score so that searches still see
// which way the loss slows.
double lostValue(const ModelContext& context, const ModelEntry& model, const RowSettling& settling,
                 double value) {
    if (settling.rest != RowRest::alleleLost) {
        return value;
    }
    return context.box(model.number).penaltyUnit + value;
}

// The settled value: the model's own run is captured from its simulate call, settled, and the
// model scores the settled state through the same call, which then runs nothing.
double settledValue(const ModelContext& context, const ModelEntry& model, const NRvector<double>& x,
                    SettledReport& report) {
    RowHook hook;
    ModelContext hooked = context;
    hooked.simulation.rowHook = &hook;
    report.zonefitValue = model.evaluate(hooked, x);
    if (!hook.captured) {
        // Outside the box, borders that did not read, or a row the fast loops do not serve:
        // zonefit's answer stands.
        report.kind = StateKind::none;
        return report.zonefitValue;
    }
    report.zonefitGenerations = hook.state.generations;
    const RowSettling settling = settle(context, model, hook);
    report.kind = kindOf(settling.rest);
    report.generations = report.zonefitGenerations + settling.generations;
    report.lastChange = settling.lastChange;
    if (settling.rest == RowRest::unsettled) {
        return context.box(model.number).penaltyUnit;
    }
    hook.mode = RowHook::Mode::replace;
    hook.recordedGenerations =
        static_cast<int>(std::min<long long>(report.generations, std::numeric_limits<int>::max()));
    hook.recordedConverged = true;
    const double value = model.evaluate(hooked, x);
    return lostValue(context, model, settling, value);
}

// The row settled inside the model's own simulate call, so that the model scores the settled
// state in the same call: one scoring instead of two, for callers that do not ask for zonefit's
// value beside the settled one.
struct Inside {
    const ModelContext* context;
    const ModelEntry* model;
    RowSettling settling;
};

void settleCaptured(RowHook& hook) {
    Inside& inside = *static_cast<Inside*>(hook.context);
    inside.settling = settle(*inside.context, *inside.model, hook);
}

double settledValueOnly(const ModelContext& context, const ModelEntry& model,
                        const NRvector<double>& x) {
    RowHook hook;
    Inside inside{&context, &model, RowSettling{}};
    const RowSettling& settling = inside.settling;
    hook.afterCapture = settleCaptured;
    hook.context = &inside;
    ModelContext hooked = context;
    hooked.simulation.rowHook = &hook;
    const double value = model.evaluate(hooked, x);
    if (hook.captured && settling.rest == RowRest::unsettled) {
        return context.box(model.number).penaltyUnit;
    }
    return hook.captured ? lostValue(context, model, settling, value) : value;
}

} // namespace

double evaluateModel(const ModelContext& context, const ModelEntry& model,
                     const NRvector<double>& x, ObjectiveKind kind, SettledReport* report) {
    if (kind == ObjectiveKind::settled && report == nullptr) {
        return settledValueOnly(context, model, x);
    }
    SettledReport local;
    SettledReport& out = report != nullptr ? *report : local;
    out = SettledReport{};
    if (kind == ObjectiveKind::settled) {
        return settledValue(context, model, x, out);
    }
    const double value = model.evaluate(context, x);
    out.zonefitValue = value;
    return value;
}
