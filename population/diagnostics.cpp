#include "population/diagnostics.h"

#include <iostream>

std::ostream& diagnosticsTo(std::ostream* stream) {
    return stream != nullptr ? *stream : std::cout;
}
