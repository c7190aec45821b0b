#include "tools/formats/state_text.h"

#include "tools/formats/number_format.h"

std::string stateDescription(const SettledReport& report) {
    if (report.kind == StateKind::none && report.generations == 0) {
        return "no simulation";
    }
    return std::to_string(report.generations) + " generations, " + stateKindText(report.kind) +
           ", last change " + formatNumber(report.lastChange, 2);
}

bool parseStateKind(const std::string& text, StateKind& kind) {
    for (StateKind k :
         {StateKind::none, StateKind::equilibrium, StateKind::transientThenEquilibrium,
          StateKind::quasiStationary, StateKind::unsettled, StateKind::alleleLost}) {
        if (text == stateKindText(k)) {
            kind = k;
            return true;
        }
    }
    return false;
}

std::string stateCell(const SettledReport& report) {
    if (report.kind != StateKind::unsettled) {
        return stateKindText(report.kind);
    }
    return std::string("unsettled (") + std::to_string(report.generations) + " gen., last change " +
           formatNumber(report.lastChange, 2) + ")";
}
