// How the tools word the state a settled evaluation scored, and the objective a result used.
#pragma once

#include "models/objective_kind.h"

#include <string>

// The state of `report` for a reader: "no simulation" when nothing was simulated, else
// "G generations, KIND, last change C" with KIND as stateKindText words it and C at two
// significant digits (for example "1032 generations, equilibrium, last change 9.1e-14").
std::string stateDescription(const SettledReport& report);

// Reads the words of stateKindText back; false, leaving `kind` untouched, for any other text.
bool parseStateKind(const std::string& text, StateKind& kind);

// The short form for a table cell: KIND alone, or for an unsettled point
// "unsettled (G gen., last change C)", so that it is named with what it ran.
std::string stateCell(const SettledReport& report);
