#include "population/diagnostics.h"

#include <iostream>

namespace {
thread_local std::ostream* redirected = nullptr;
} // namespace

std::ostream& diagnostics() {
    return redirected != nullptr ? *redirected : std::cout;
}

void setDiagnostics(std::ostream* stream) {
    redirected = stream;
}
