// Where the simulation and the objectives write their diagnostic lines: the stream their caller
// passes down, standard output when it passes none (zonefit's own objectives).
#pragma once

#include <ostream>

// `stream` when it is not null, else standard output.
std::ostream& diagnosticsTo(std::ostream* stream);
