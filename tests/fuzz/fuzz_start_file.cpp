// libFuzzer target: any bytes as a start-vector file (and its first bytes as a model argument).
#include "fuzz_checks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem = fuzzchecks::checkStartFile(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "start-vector reader: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
