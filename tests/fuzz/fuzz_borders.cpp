// libFuzzer target: any bytes as a border file.
#include "fuzz_checks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem = fuzzchecks::checkBorders(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "border reader: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
