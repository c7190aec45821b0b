#include "tools/state_text.h"

#include <cstdio>

namespace {

std::string twoDigits(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2g", value);
    return text;
}

} // namespace

std::string stateDescription(const SettledReport& report) {
    if (report.kind == StateKind::none && report.generations == 0) {
        return "no simulation";
    }
    return std::to_string(report.generations) + " generations, " + stateKindText(report.kind) +
           ", last change " + twoDigits(report.lastChange);
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
           twoDigits(report.lastChange) + ")";
}
