// libFuzzer target: any bytes as a transect file.
#include "fuzz_transect_checks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem = fuzzchecks::checkTransect(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "transect reader: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
