#include "population/diagnostics.h"

#include <iostream>

namespace {
thread_local std::ostream* redirected = nullptr;
} // namespace

std::ostream& diagnostics() {
    return redirected != nullptr ? *redirected : std::cout;
}

std::ostream* setDiagnostics(std::ostream* stream) {
    std::ostream* const previous = redirected;
    redirected = stream;
    return previous;
}
