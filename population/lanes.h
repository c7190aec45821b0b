// Blocks of demes side by side: the vector types of the fast simulation loops and the few
// operations on them that are not plain arithmetic. This is the only file that uses the
// compiler's vector extensions; the loops use the types through their arithmetic operators and
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

// Demes of the widest block; every working array is padded to a whole number of them, so that
// blocks of any of the widths below tile it.
constexpr std::size_t lanes = 8;

// n rounded up to whole blocks of the widest width.
inline std::size_t roundUp(std::size_t n) {
    return (n + lanes - 1) / lanes * lanes;
}

// Two, four or eight doubles: one register of the level a loop is compiled for (128-bit SSE2,
// 256-bit AVX2, 512-bit AVX-512). A loop works on the block that fills one register, since a
// block wider than the registers is split into several and no longer fits the register file.
// Each lane computes exactly what the scalar code computes for its deme, and the build never
// contracts a multiply and an add, so the width never changes a result.
typedef double Lanes2 __attribute__((vector_size(2 * sizeof(double))));
typedef double Lanes4 __attribute__((vector_size(4 * sizeof(double))));
typedef double Lanes8 __attribute__((vector_size(8 * sizeof(double))));

// Demes per block of type V.
template <class V> constexpr std::size_t widthOf = sizeof(V) / sizeof(double);
static_assert(lanes % widthOf<Lanes2> == 0 && lanes % widthOf<Lanes4> == 0 &&
                  lanes % widthOf<Lanes8> == 0,
              "every block width divides the padding");

// Per-lane flags (all bits set or clear), the type of a comparison of two blocks.
template <class V> using FlagsOf = decltype(V{} < V{});

// Every lane set to x.
template <class V> ZONEFIT_INLINE V broadcast(double x) {
    V v;
    for (std::size_t b = 0; b < widthOf<V>; ++b) {
        v[b] = x;
    }
    return v;
}

template <class V> ZONEFIT_INLINE V loadLanes(const double* from) {
    V v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

template <class V> ZONEFIT_INLINE void storeLanes(double* to, const V& v) {
    std::memcpy(to, &v, sizeof v);
}

// |v| in every lane: the sign bit cleared, as fabs does.
template <class V> ZONEFIT_INLINE V absLanes(const V& v) {
    const FlagsOf<V> magnitude = reinterpret_cast<FlagsOf<V>>(v) & 0x7fffffffffffffff;
    return reinterpret_cast<V>(magnitude);
}

// The lanes of `chosen` where `flags` are set, the lanes of `otherwise` elsewhere.
template <class V>
ZONEFIT_INLINE V blend(const FlagsOf<V>& flags, const V& chosen, const V& otherwise) {
    const FlagsOf<V> bits = (flags & reinterpret_cast<FlagsOf<V>>(chosen)) |
                            (~flags & reinterpret_cast<FlagsOf<V>>(otherwise));
    return reinterpret_cast<V>(bits);
}

// Flags of one block of type V from an array of all-bits-set (-1) or clear (0) values.
template <class V> ZONEFIT_INLINE FlagsOf<V> loadFlags(const long* from) {
    FlagsOf<V> flags;
    static_assert(sizeof flags == widthOf<V> * sizeof(long), "one long per lane");
    std::memcpy(&flags, from, sizeof flags);
    return flags;
}

// The values of the demes one after (fromNext) and one before (fromPrevious) the demes of
// block `current`, taken from it and its neighbouring block.
#if defined(__clang__)
#define ZONEFIT_SHUFFLE(a, b, ...) __builtin_shufflevector(a, b, __VA_ARGS__)
#else
#define ZONEFIT_SHUFFLE(a, b, ...) __builtin_shuffle(a, b, decltype(a < b){__VA_ARGS__})
#endif
ZONEFIT_INLINE Lanes2 fromNext(const Lanes2& current, const Lanes2& next) {
    return ZONEFIT_SHUFFLE(current, next, 1, 2);
}
ZONEFIT_INLINE Lanes4 fromNext(const Lanes4& current, const Lanes4& next) {
    return ZONEFIT_SHUFFLE(current, next, 1, 2, 3, 4);
}
ZONEFIT_INLINE Lanes8 fromNext(const Lanes8& current, const Lanes8& next) {
    return ZONEFIT_SHUFFLE(current, next, 1, 2, 3, 4, 5, 6, 7, 8);
}
ZONEFIT_INLINE Lanes2 fromPrevious(const Lanes2& previous, const Lanes2& current) {
    return ZONEFIT_SHUFFLE(previous, current, 1, 2);
}
ZONEFIT_INLINE Lanes4 fromPrevious(const Lanes4& previous, const Lanes4& current) {
    return ZONEFIT_SHUFFLE(previous, current, 3, 4, 5, 6);
}
ZONEFIT_INLINE Lanes8 fromPrevious(const Lanes8& previous, const Lanes8& current) {
    return ZONEFIT_SHUFFLE(previous, current, 7, 8, 9, 10, 11, 12, 13, 14);
}
#undef ZONEFIT_SHUFFLE

// Raises each lane of `largest` to the lane of `change` when that is larger. A lane of `change`
// that is not a number never is (the comparison fails), and `largest` never holds one.
template <class V> ZONEFIT_INLINE void foldChange(V& largest, const V& change) {
    largest = change > largest ? change : largest;
}

// Lowers each lane of `lowest` to the lane of `value` when that is smaller; a lane of `value`
// that is not a number never is.
template <class V> ZONEFIT_INLINE void foldLow(V& lowest, const V& value) {
    lowest = value < lowest ? value : lowest;
}

// Whether any lane is set.
template <class Flags> ZONEFIT_INLINE bool anyLane(const Flags& flags) {
    bool any = false;
    for (std::size_t b = 0; b < sizeof flags / sizeof flags[0]; ++b) {
        any = any || flags[b] != 0;
    }
    return any;
}

// The largest lane of a block that holds no non-number, and `floor` when no lane exceeds it.
template <class V> ZONEFIT_INLINE double largestLane(const V& v, double floor) {
    double largest = floor;
    for (std::size_t b = 0; b < widthOf<V>; ++b) {
        largest = v[b] > largest ? v[b] : largest;
    }
    return largest;
}

} // namespace fast
