// Instruction-set levels of the fast simulation loops. On x86-64 the program is built for plain
// x86-64; the loops are also compiled for wider vector instructions and the widest level the
// processor runs is chosen when the first simulation starts. Other processors (aarch64 with
// NEON, say) have one level, the loops compiled for the target's own vector unit. Every level
// computes the same operations in the same order, without fused multiply-adds, so every level,
// on every processor, gives the same bits.
#pragma once

#include <string>

// The levels, narrowest first: baseline (SSE2 on any x86-64 processor; the only level
// elsewhere), avx2 (AVX2), avx512 (AVX-512 F, CD, BW, DQ and VL).
enum class InstructionSet { baseline, avx2, avx512 };

// "baseline", "avx2" or "avx512".
const char* instructionSetName(InstructionSet level);

// Whether this processor and its operating system run `level` (baseline always).
bool instructionSetSupported(InstructionSet level);

// The widest level this processor runs.
InstructionSet widestInstructionSet();

// The level asked for by `request`, the value of the environment variable ZONEFIT_ISA (null when
// it is not set). Null or empty: the widest supported level. A level's name: that level when
// the processor runs it. Otherwise the widest supported level, and `warning` is set to a line
// (without line end) that says what was asked and what is used; it is left empty when the
// request is honoured.
InstructionSet chooseInstructionSet(const char* request, std::string& warning);

// The level the loops use now. The first call on any thread reads ZONEFIT_ISA and, when the
// request cannot be honoured, writes the warning of chooseInstructionSet to standard error.
InstructionSet activeInstructionSet();

// Makes every thread's loops use `level` from now on. Returns false and changes nothing when the
// processor lacks it. Meant for tests and benchmarks that compare the levels in one process.
bool useInstructionSet(InstructionSet level);

// For the loops: code generation attributes of the wider levels. A function marked with one of
// these may only be called when instructionSetSupported says so. Everything such a function
// calls on its hot path is marked ZONEFIT_INLINE, so that it is compiled into the caller at the
// caller's level; whatever is not inlined stays plain x86-64 code.
#define ZONEFIT_INLINE inline __attribute__((always_inline))
#if defined(__x86_64__)
#define ZONEFIT_HAS_WIDER_LEVELS 1
#define ZONEFIT_TARGET_AVX2 __attribute__((target("avx2")))
#define ZONEFIT_TARGET_AVX512 __attribute__((target("avx512f,avx512cd,avx512bw,avx512dq,avx512vl")))
#else
#define ZONEFIT_HAS_WIDER_LEVELS 0
#define ZONEFIT_TARGET_AVX2
#define ZONEFIT_TARGET_AVX512
#endif
