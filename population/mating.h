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

// Mating functors: `mate(i, vSS, vSI, vII, zSS, zSI, zII)` turns the virgins of the block
// from deme i on into its zygotes. `checksSum` says whether the form checks the zygote sums.
// The factors are held broadcast to every lane (see broadcast).

// One selfing rate for every deme (Population::goZygotes(const double&)).
struct OneRate {
    static constexpr bool checksSum = false;
    Lanes F;
    Lanes notF;    // 1 - F
    Lanes twoNotF; // 2 * (1 - F)
    explicit OneRate(double selfing)
        : F(broadcast(selfing)), notF(broadcast(1 - selfing)),
          twoNotF(broadcast(2 * (1 - selfing))) {}
    ZONEFIT_INLINE void operator()(std::size_t, const Lanes& vSS, const Lanes& vSI,
                                   const Lanes& vII, Lanes& zSS, Lanes& zSI, Lanes& zII) const {
        const Lanes p = vSS + 0.5 * vSI;
        const Lanes q = 0.5 * vSI + vII;
        zSS = (vSS + 0.25 * vSI) * F + p * p * notF;
        zSI = F * vSI * 0.5 + twoNotF * p * q;
        zII = (0.25 * vSI + vII) * F + q * q * notF;
    }
};

// A selfing rate per deme (Population::goZygotes(const double&) with the deme's rate).
struct RatePerDeme {
    static constexpr bool checksSum = false;
    const double* selfing; // one rate per deme, padded to whole blocks
    ZONEFIT_INLINE void operator()(std::size_t i, const Lanes& vSS, const Lanes& vSI,
                                   const Lanes& vII, Lanes& zSS, Lanes& zSI, Lanes& zII) const {
        const Lanes F = loadLanes(selfing + i);
        const Lanes p = vSS + 0.5 * vSI;
        const Lanes q = 0.5 * vSI + vII;
        zSS = (vSS + 0.25 * vSI) * F + p * p * (1 - F);
        zSI = F * vSI * 0.5 + 2 * (1 - F) * p * q;
        zII = (0.25 * vSI + vII) * F + q * q * (1 - F);
    }
};

// Selfing rates by genotype (Population::goZygotes(const std::vector<double>&)); the zygote
// sums are checked after the whole row has mated.
struct RateByGenotype {
    static constexpr bool checksSum = true;
    Lanes s0, s2;
    Lanes out0, out1, out2; // 1 - s: outcrossing shares
    Lanes halfOut1;         // 0.5 * (1 - s1)
    Lanes quarterS1;        // 0.25 * s1
    Lanes halfS1;           // 0.5 * s1
    explicit RateByGenotype(const std::vector<double>& s)
        : s0(broadcast(s[0])), s2(broadcast(s[2])), out0(broadcast(1 - s[0])),
          out1(broadcast(1 - s[1])), out2(broadcast(1 - s[2])),
          halfOut1(broadcast(0.5 * (1 - s[1]))), quarterS1(broadcast(0.25 * s[1])),
          halfS1(broadcast(0.5 * s[1])) {}
    ZONEFIT_INLINE void operator()(std::size_t, const Lanes& vSS, const Lanes& vSI,
                                   const Lanes& vII, Lanes& zSS, Lanes& zSI, Lanes& zII) const {
        const Lanes outcrossing = out0 * vSS + out1 * vSI + out2 * vII;
        const Lanes p = out0 * vSS / outcrossing + halfOut1 * vSI / outcrossing;
        const Lanes q = halfOut1 * vSI / outcrossing + out2 * vII / outcrossing;
        zSS = p * p * outcrossing + (s0 * vSS + quarterS1 * vSI);
        zSI = 2 * p * q * outcrossing + halfS1 * vSI;
        zII = q * q * outcrossing + (quarterS1 * vSI + s2 * vII);
    }
};

// Points a form with per-deme rates at the padded copy of the rates.
inline void useSelfing(OneRate&, const double*) {}
inline void useSelfing(RatePerDeme& mate, const double* selfing) {
    mate.selfing = selfing;
}
inline void useSelfing(RateByGenotype&, const double*) {}

// Whether the zygote sum is off 1 by more than the by-genotype step tolerates.
inline bool sumOff(double zSS, double zSI, double zII) {
    return std::fabs(1 - (zSI + zSS + zII)) > 1e-7;
}
ZONEFIT_INLINE LaneFlags sumOff(const Lanes& zSS, const Lanes& zSI, const Lanes& zII) {
    return absLanes(1 - (zSI + zSS + zII)) > 1e-7;
}

// Selection and mating of the block from deme i0 on: larvae L with fitness f into virgins V
// and zygotes Z, which are stored and returned in zSS, zSI, zII.
template <class Mating>
ZONEFIT_INLINE void selectBlock(std::size_t i0, const Stage& L, const Stage& f, const Stage& V,
                                const Stage& Z, const Mating& mate, Lanes& zSS, Lanes& zSI,
                                Lanes& zII) {
    const Lanes a = loadLanes(f.SS + i0) * loadLanes(L.SS + i0);
    const Lanes b = loadLanes(f.SI + i0) * loadLanes(L.SI + i0);
    const Lanes c = loadLanes(f.II + i0) * loadLanes(L.II + i0);
    const Lanes W = a + b + c;
    const Lanes vSS = a / W;
    const Lanes vSI = b / W;
    const Lanes vII = c / W;
    storeLanes(V.SS + i0, vSS);
    storeLanes(V.SI + i0, vSI);
    storeLanes(V.II + i0, vII);
    mate(i0, vSS, vSI, vII, zSS, zSI, zII);
    storeLanes(Z.SS + i0, zSS);
    storeLanes(Z.SI + i0, zSI);
    storeLanes(Z.II + i0, zII);
}

} // namespace fast
