// libFuzzer target: any bytes as a fit record RESULT.json.
#include "fuzz_record_checks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem = fuzzchecks::checkFitRecord(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "fit-record reader: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
