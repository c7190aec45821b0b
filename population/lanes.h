// Blocks of eight demes side by side: the vector type of the fast simulation loops and the few
// operations on it that are not plain arithmetic. This is the only file that uses the
// compiler's vector extensions; the loops use the type through its arithmetic operators and
// these helpers.
#pragma once

#include <cstddef>
#include <cstring>

#include "population/instruction_set.h"

// Every function that takes or returns a block is always inlined (ZONEFIT_INLINE), so the
// calling convention for wide vectors, which differs between instruction-set levels and which
// this warning is about, never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace fast {

// Demes per block.
constexpr std::size_t lanes = 8;

// n rounded up to whole blocks.
inline std::size_t roundUp(std::size_t n) {
    return (n + lanes - 1) / lanes * lanes;
}

// Eight doubles. The compiler maps a block onto the vector registers of the level a loop is
// compiled for (one 512-bit, two 256-bit or four 128-bit registers); each lane computes exactly
// what the scalar code computes for its deme, and the build never contracts a multiply and an
// add, so the width never changes a result.
typedef double Lanes __attribute__((vector_size(lanes * sizeof(double))));
// Per-lane flags (all bits set or clear), the type of a comparison of two blocks.
using LaneFlags = decltype(Lanes{} < Lanes{});

// Every lane set to x. Kept out of the loops: a wide block built from a scalar goes through
// memory at the levels whose registers are narrower than the block, so the loops read blocks
// that were broadcast once per call instead.
ZONEFIT_INLINE Lanes broadcast(double x) {
    Lanes v;
    for (std::size_t b = 0; b < lanes; ++b) {
        v[b] = x;
    }
    return v;
}

ZONEFIT_INLINE Lanes loadLanes(const double* from) {
    Lanes v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

ZONEFIT_INLINE void storeLanes(double* to, const Lanes& v) {
    std::memcpy(to, &v, sizeof v);
}

// |v| in every lane: the sign bit cleared, as fabs does.
ZONEFIT_INLINE Lanes absLanes(const Lanes& v) {
    const LaneFlags magnitude = reinterpret_cast<LaneFlags>(v) & 0x7fffffffffffffff;
    return reinterpret_cast<Lanes>(magnitude);
}

// The lanes of `chosen` where `flags` are set, the lanes of `otherwise` elsewhere.
ZONEFIT_INLINE Lanes blend(const LaneFlags& flags, const Lanes& chosen, const Lanes& otherwise) {
    const LaneFlags bits = (flags & reinterpret_cast<LaneFlags>(chosen)) |
                           (~flags & reinterpret_cast<LaneFlags>(otherwise));
    return reinterpret_cast<Lanes>(bits);
}

// Eight flags from an array of all-bits-set (-1) or clear (0) values.
ZONEFIT_INLINE LaneFlags loadFlags(const long* from) {
    LaneFlags flags;
    std::memcpy(&flags, from, sizeof flags);
    return flags;
}

// The values of the demes one after (fromNext) and one before (fromPrevious) the demes of
// block `current`, taken from it and its neighbouring block.
ZONEFIT_INLINE Lanes fromNext(const Lanes& current, const Lanes& next) {
#if defined(__clang__)
    return __builtin_shufflevector(current, next, 1, 2, 3, 4, 5, 6, 7, 8);
#else
    return __builtin_shuffle(current, next, LaneFlags{1, 2, 3, 4, 5, 6, 7, 8});
#endif
}
ZONEFIT_INLINE Lanes fromPrevious(const Lanes& previous, const Lanes& current) {
#if defined(__clang__)
    return __builtin_shufflevector(previous, current, 7, 8, 9, 10, 11, 12, 13, 14);
#else
    return __builtin_shuffle(previous, current, LaneFlags{7, 8, 9, 10, 11, 12, 13, 14});
#endif
}
static_assert(lanes == 8, "the shuffles above move eight lanes");

// Raises each lane of `largest` to the lane of `change` when that is larger. A lane of `change`
// that is not a number never is (the comparison fails), and `largest` never holds one.
ZONEFIT_INLINE void foldChange(Lanes& largest, const Lanes& change) {
    largest = change > largest ? change : largest;
}

// Whether any lane is set.
ZONEFIT_INLINE bool anyLane(const LaneFlags& flags) {
    bool any = false;
    for (std::size_t b = 0; b < lanes; ++b) {
        any = any || flags[b] != 0;
    }
    return any;
}

// The largest lane of a block that holds no non-number, and `floor` when no lane exceeds it.
ZONEFIT_INLINE double largestLane(const Lanes& v, double floor) {
    double largest = floor;
    for (std::size_t b = 0; b < lanes; ++b) {
        largest = v[b] > largest ? v[b] : largest;
    }
    return largest;
}

} // namespace fast
