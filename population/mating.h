// The mating steps of the fast loops, one functor per mating form, and the selection and
// mating of one block of demes. Each computes, lane by lane, exactly the operations of the
// per-deme steps Population::goVirgins and Population::goZygotes, in their order; factors that
// depend only on the selfing rates are formed once, as the per-deme steps form them.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "population/lanes.h"
#include "population/workspace.h"

namespace fast {

// The selfing rates of one simulation, whichever form it has (not owned).
struct Selfing {
    double rate = 0.0;                  // one rate for every deme
    const double* perDeme = nullptr;    // a rate per deme, padded to whole blocks
    const double* byGenotype = nullptr; // rates of SS, SI and II parents
};

// Mating functors on blocks of type Block, built from the rates at the loop's instruction-set
// level so that the factors they hold broadcast to every lane live in that level's registers.
// `finish(i, begin(i, vSS, vSI, vII), vSS, vSI, vII, zSS, zSI, zII)` turns the virgins of the
// block from deme i on into its zygotes: `begin` makes the divisions of the step, if any, so
// that a loop can issue them a block ahead of the rest. `checksSum` says whether the form
// checks the zygote sums.

// One selfing rate for every deme (Population::goZygotes(const double&)).
template <class Block> struct OneRate {
    static constexpr bool checksSum = false;
    Block F;
    Block notF;    // 1 - F
    Block twoNotF; // 2 * (1 - F)
    ZONEFIT_INLINE explicit OneRate(const Selfing& selfing)
        : F(broadcast<Block>(selfing.rate)), notF(broadcast<Block>(1 - selfing.rate)),
          twoNotF(broadcast<Block>(2 * (1 - selfing.rate))) {}
    struct Pending {}; // mating without divisions: nothing to issue ahead
    ZONEFIT_INLINE Pending begin(std::size_t, const Block&, const Block&, const Block&) const {
        return {};
    }
    ZONEFIT_INLINE void finish(std::size_t, const Pending&, const Block& vSS, const Block& vSI,
                               const Block& vII, Block& zSS, Block& zSI, Block& zII) const {
        const Block p = vSS + 0.5 * vSI;
        const Block q = 0.5 * vSI + vII;
        zSS = (vSS + 0.25 * vSI) * F + p * p * notF;
        zSI = F * vSI * 0.5 + twoNotF * p * q;
        zII = (0.25 * vSI + vII) * F + q * q * notF;
    }
};

// A selfing rate per deme (Population::goZygotes(const double&) with the deme's rate).
template <class Block> struct RatePerDeme {
    static constexpr bool checksSum = false;
    const double* selfing;
    ZONEFIT_INLINE explicit RatePerDeme(const Selfing& rates) : selfing(rates.perDeme) {}
    struct Pending {}; // mating without divisions: nothing to issue ahead
    ZONEFIT_INLINE Pending begin(std::size_t, const Block&, const Block&, const Block&) const {
        return {};
    }
    ZONEFIT_INLINE void finish(std::size_t i, const Pending&, const Block& vSS, const Block& vSI,
                               const Block& vII, Block& zSS, Block& zSI, Block& zII) const {
        const Block F = loadLanes<Block>(selfing + i);
        const Block p = vSS + 0.5 * vSI;
        const Block q = 0.5 * vSI + vII;
        zSS = (vSS + 0.25 * vSI) * F + p * p * (1 - F);
        zSI = F * vSI * 0.5 + 2 * (1 - F) * p * q;
        zII = (0.25 * vSI + vII) * F + q * q * (1 - F);
    }
};

// Selfing rates by genotype (Population::goZygotes(const std::vector<double>&)); the zygote
// sums are checked after the whole row has mated.
template <class Block> struct RateByGenotype {
    static constexpr bool checksSum = true;
    Block s0, s2;
    Block out0, out1, out2; // 1 - s: outcrossing shares
    Block halfOut1;         // 0.5 * (1 - s1)
    Block quarterS1;        // 0.25 * s1
    Block halfS1;           // 0.5 * s1
    ZONEFIT_INLINE explicit RateByGenotype(const Selfing& rates) {
        const double* s = rates.byGenotype;
        s0 = broadcast<Block>(s[0]);
        s2 = broadcast<Block>(s[2]);
        out0 = broadcast<Block>(1 - s[0]);
        out1 = broadcast<Block>(1 - s[1]);
        out2 = broadcast<Block>(1 - s[2]);
        halfOut1 = broadcast<Block>(0.5 * (1 - s[1]));
        quarterS1 = broadcast<Block>(0.25 * s[1]);
        halfS1 = broadcast<Block>(0.5 * s[1]);
    }
    // The outcrossing share and its three quotients, the divisions of the step.
    struct Pending {
        Block outcrossing;
        Block fromSS; // (1 - s0) * vSS / outcrossing
        Block fromSI; // 0.5 * (1 - s1) * vSI / outcrossing
        Block fromII; // (1 - s2) * vII / outcrossing
    };
    ZONEFIT_INLINE Pending begin(std::size_t, const Block& vSS, const Block& vSI,
                                 const Block& vII) const {
        const Block outcrossing = out0 * vSS + out1 * vSI + out2 * vII;
        return {outcrossing, out0 * vSS / outcrossing, halfOut1 * vSI / outcrossing,
                out2 * vII / outcrossing};
    }
    ZONEFIT_INLINE void finish(std::size_t, const Pending& shares, const Block& vSS,
                               const Block& vSI, const Block& vII, Block& zSS, Block& zSI,
                               Block& zII) const {
        const Block outcrossing = shares.outcrossing;
        const Block p = shares.fromSS + shares.fromSI;
        const Block q = shares.fromSI + shares.fromII;
        zSS = p * p * outcrossing + (s0 * vSS + quarterS1 * vSI);
        zSI = 2 * p * q * outcrossing + halfS1 * vSI;
        zII = q * q * outcrossing + (quarterS1 * vSI + s2 * vII);
    }
};

// Whether the zygote sum is off 1 by more than the by-genotype step tolerates.
inline bool sumOff(double zSS, double zSI, double zII) {
    return std::fabs(1 - (zSI + zSS + zII)) > 1e-7;
}

// The zygote sums s = zSI + zSS + zII that sumOff lets pass: exactly those with
// low <= s <= high. For s in [0.5, 2], 1 - s is exact, so the test is |1 - s| > 1e-7 in exact
// arithmetic, that is s < 1 - 1e-7 or s > 1 + 1e-7 (1e-7 as the double it is read as); further
// out both tests hold, and neither holds for a sum that is not a number.
struct SumBounds {
    double low;  // the smallest double >= 1 - 1e-7
    double high; // the largest double <= 1 + 1e-7
};
inline SumBounds sumBounds() {
    const double tolerance = 1e-7;
    // 1 - below and above - 1 are exact; they tell on which side of the exact bound the
    // rounded one fell.
    const double below = 1 - tolerance;
    const double above = 1 + tolerance;
    return {1 - below > tolerance ? std::nextafter(below, 2.0) : below,
            above - 1 > tolerance ? std::nextafter(above, 0.0) : above};
}

// Selection of the block from deme i0 on: larvae L with fitness f into virgins, which are
// stored in V and returned in vSS, vSI, vII.
template <class Block>
ZONEFIT_INLINE void selectBlock(std::size_t i0, const Stage& L, const Stage& f, const Stage& V,
                                Block& vSS, Block& vSI, Block& vII) {
    const Block a = loadLanes<Block>(f.SS + i0) * loadLanes<Block>(L.SS + i0);
    const Block b = loadLanes<Block>(f.SI + i0) * loadLanes<Block>(L.SI + i0);
    const Block c = loadLanes<Block>(f.II + i0) * loadLanes<Block>(L.II + i0);
    const Block W = a + b + c;
    vSS = a / W;
    vSI = b / W;
    vII = c / W;
    storeLanes(V.SS + i0, vSS);
    storeLanes(V.SI + i0, vSI);
    storeLanes(V.II + i0, vII);
}

// Mating of the virgins vSS, vSI, vII of the block from deme i0 on into zygotes, which are
// stored in Z and returned in zSS, zSI, zII.
template <class Block, class Mating>
ZONEFIT_INLINE void mateBlock(std::size_t i0, const Block& vSS, const Block& vSI, const Block& vII,
                              const Stage& Z, const Mating& mate, Block& zSS, Block& zSI,
                              Block& zII) {
    mate.finish(i0, mate.begin(i0, vSS, vSI, vII), vSS, vSI, vII, zSS, zSI, zII);
    storeLanes(Z.SS + i0, zSS);
    storeLanes(Z.SI + i0, zSI);
    storeLanes(Z.II + i0, zII);
}

// Selection and mating of the block from deme i0 on, the two above in turn.
template <class Block, class Mating>
ZONEFIT_INLINE void selectAndMateBlock(std::size_t i0, const Stage& L, const Stage& f,
                                       const Stage& V, const Stage& Z, const Mating& mate,
                                       Block& zSS, Block& zSI, Block& zII) {
    Block vSS, vSI, vII;
    selectBlock(i0, L, f, V, vSS, vSI, vII);
    mateBlock(i0, vSS, vSI, vII, Z, mate, zSS, zSI, zII);
}

} // namespace fast
