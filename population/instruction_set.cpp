#include "population/instruction_set.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {

const InstructionSet levels[] = {InstructionSet::baseline, InstructionSet::avx2,
                                 InstructionSet::avx512};

bool processorRuns(InstructionSet level) {
#if ZONEFIT_HAS_WIDER_LEVELS
    // The checks also ask whether the operating system saves the wider registers.
    __builtin_cpu_init();
    switch (level) {
    case InstructionSet::baseline:
        return true;
    case InstructionSet::avx2:
        return __builtin_cpu_supports("avx2");
    case InstructionSet::avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512cd") &&
               __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx512vl");
    }
    return false;
#else
    return level == InstructionSet::baseline;
#endif
}

InstructionSet levelFromEnvironment() {
    std::string warning;
    const InstructionSet level = chooseInstructionSet(std::getenv("ZONEFIT_ISA"), warning);
    if (!warning.empty()) {
        std::cerr << warning << std::endl;
    }
    return level;
}

std::atomic<int>& activeLevel() {
    // Initialised once, by whichever thread simulates first.
    static std::atomic<int> level{static_cast<int>(levelFromEnvironment())};
    return level;
}

} // namespace

const char* instructionSetName(InstructionSet level) {
    switch (level) {
    case InstructionSet::baseline:
        return "baseline";
    case InstructionSet::avx2:
        return "avx2";
    case InstructionSet::avx512:
        return "avx512";
    }
    return "baseline";
}

bool instructionSetSupported(InstructionSet level) {
    return processorRuns(level);
}

InstructionSet widestInstructionSet() {
    InstructionSet widest = InstructionSet::baseline;
    for (InstructionSet level : levels) {
        if (instructionSetSupported(level)) {
            widest = level;
        }
    }
    return widest;
}

InstructionSet chooseInstructionSet(const char* request, std::string& warning) {
    warning.clear();
    const InstructionSet widest = widestInstructionSet();
    if (request == nullptr || *request == '\0') {
        return widest;
    }
    for (InstructionSet level : levels) {
        if (std::strcmp(request, instructionSetName(level)) == 0) {
            if (instructionSetSupported(level)) {
                return level;
            }
            warning = std::string("Warning: ZONEFIT_ISA=") + request +
                      " asks for instructions this processor lacks; the simulation uses " +
                      instructionSetName(widest) + ".";
            return widest;
        }
    }
    warning = std::string("Warning: ZONEFIT_ISA=") + request +
              " is not one of baseline, avx2, avx512; the simulation uses " +
              instructionSetName(widest) + ".";
    return widest;
}

InstructionSet activeInstructionSet() {
    return static_cast<InstructionSet>(activeLevel().load(std::memory_order_relaxed));
}

bool useInstructionSet(InstructionSet level) {
    if (!instructionSetSupported(level)) {
        return false;
    }
    activeLevel().store(static_cast<int>(level), std::memory_order_relaxed);
    return true;
}
