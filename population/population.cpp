#include "population/population.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iostream>

#include "population/diagnostics.h"
#include "population/simulation_report.h"

std::ostream& operator<<(std::ostream& os, const Genotype& g) {
    os << "SS: " << g.SS << ", SI: " << g.SI << ", II: " << g.II;
    return os;
}

Population::Population(const Genotype& start)
    : virgins{0.0, 0.0, 0.0}, zygotes{0.0, 0.0, 0.0}, adults{0.0, 0.0, 0.0}, larvae(start) {}

void Population::goVirgins(const Genotype& fitness) {
    const double a = fitness.SS * larvae.SS;
    const double b = fitness.SI * larvae.SI;
    const double c = fitness.II * larvae.II;
    // Mean fitness of the deme; zero (every present genotype lethal) gives non-numbers.
    const double meanFitness = a + b + c;
    virgins.SS = a / meanFitness;
    virgins.SI = b / meanFitness;
    virgins.II = c / meanFitness;
}

void Population::goZygotes(const double& selfing) {
    const double F = selfing;
    const Genotype& V = virgins;
    const double p = V.SS + 0.5 * V.SI; // allele S
    const double q = 0.5 * V.SI + V.II; // allele I
    // Selfed SI parents give SS, SI, II in proportions 1/4, 1/2, 1/4; the rest mate at random.
    zygotes.SS = (V.SS + 0.25 * V.SI) * F + p * p * (1 - F);
    zygotes.SI = F * V.SI * 0.5 + 2 * (1 - F) * p * q;
    zygotes.II = (0.25 * V.SI + V.II) * F + q * q * (1 - F);
}

void Population::goZygotes(const std::vector<double>& selfingByGenotype) {
    const double s0 = selfingByGenotype[0];
    const double s1 = selfingByGenotype[1];
    const double s2 = selfingByGenotype[2];
    const Genotype& V = virgins;
    // Share of the deme that outcrosses, and the allele frequencies of that outcrossing pool.
    const double T = (1 - s0) * V.SS + (1 - s1) * V.SI + (1 - s2) * V.II;
    const double p = (1 - s0) * V.SS / T + 0.5 * (1 - s1) * V.SI / T;
    const double q = 0.5 * (1 - s1) * V.SI / T + (1 - s2) * V.II / T;
    zygotes.SS = p * p * T + (s0 * V.SS + 0.25 * s1 * V.SI);
    zygotes.SI = 2 * p * q * T + 0.5 * s1 * V.SI;
    zygotes.II = q * q * T + (0.25 * s1 * V.SI + s2 * V.II);
    const double sum = zygotes.SI + zygotes.SS + zygotes.II;
    if (std::fabs(1 - sum) > 1e-7) {
        diagnostics() << "zygotes off =" << sum << '\n';
    }
}

namespace {

// Raises `change` to |now - before| when that is larger; a non-number never raises it.
inline void track(double& change, double now, double before) {
    const double d = std::fabs(now - before);
    if (d > change) {
        change = d;
    }
}

// Stores the dispersed stages of one deme and folds its larva change into `change`.
inline void settle(Population& deme, const Genotype& adults, const Genotype& larvae,
                   double& change) {
    deme.adults = adults;
    track(change, larvae.SS, deme.larvae.SS);
    track(change, larvae.SI, deme.larvae.SI);
    track(change, larvae.II, deme.larvae.II);
    deme.larvae = larvae;
}

// End deme: keeps 1 - m of its own stage and receives m of its only neighbour's.
inline Genotype endMix(double m, const Genotype& own, const Genotype& neighbour) {
    const double keep = 1 - m;
    return {keep * own.SS + m * neighbour.SS, keep * own.SI + m * neighbour.SI,
            keep * own.II + m * neighbour.II};
}

// Interior deme: mLeft is exchanged with the deme before it, mRight with the deme after it.
inline Genotype innerMix(double mLeft, double mRight, const Genotype& before, const Genotype& own,
                         const Genotype& after) {
    const double keep = 1 - mLeft - mRight;
    return {keep * own.SS + mRight * after.SS + mLeft * before.SS,
            keep * own.SI + mRight * after.SI + mLeft * before.SI,
            keep * own.II + mRight * after.II + mLeft * before.II};
}

// Report of a run stopped by the generation cap: SI and II of the first three fitness triples.
void reportCap(const std::vector<Genotype>& fitness) {
    diagnostics() << "max number of generations exceeded\n";
    const std::size_t shown = fitness.size() < 3 ? fitness.size() : 3;
    for (std::size_t r = 0; r < shown; ++r) {
        if (r > 0) {
            diagnostics() << ' ';
        }
        diagnostics() << fitness[r].SI << ' ' << fitness[r].II;
    }
    diagnostics() << '\n';
}

// Adults of every deme; the first SS is set to 2.0 when the run stopped at the cap.
std::vector<Genotype> adultsOf(const std::vector<Population>& row, bool atCap) {
    std::vector<Genotype> adults;
    adults.reserve(row.size());
    for (const Population& deme : row) {
        adults.push_back(deme.adults);
    }
    if (atCap && !adults.empty()) {
        adults[0].SS = 2.0;
    }
    return adults;
}

// Start state of a run refused for a cap below 1: the larvae, marked as not at equilibrium.
std::vector<Genotype> unsimulated(const std::vector<Population>& row) {
    std::vector<Genotype> larvae;
    larvae.reserve(row.size());
    for (const Population& deme : row) {
        larvae.push_back(deme.larvae);
    }
    if (!larvae.empty()) {
        larvae[0].SS = 2.0;
    }
    return larvae;
}

// Generation loop of the stepping-stone forms; `mate(deme, i)` is the mating step of deme i.
template <typename Mating>
std::vector<Genotype> steppingStone(std::vector<Population>& row,
                                    const std::vector<double>& migrationRates,
                                    const std::vector<Genotype>& demeFitness, double tolerance,
                                    int maxGenerations, Mating mate) {
    if (maxGenerations < 1) {
        recordSimulation(0, false);
        return unsimulated(row);
    }
    int g = 0;
    bool changing = true;
    ChangeWatch watch(row.size());
    while (changing && g < maxGenerations) {
        watch.before(row);
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i].goVirgins(demeFitness[i]);
            mate(row[i], i);
        }
        changing = migration(row, migrationRates, tolerance);
        watch.after(row);
        ++g;
        if (g == maxGenerations) {
            reportCap(demeFitness);
            break;
        }
    }
    recordSimulation(g, g < maxGenerations);
    return adultsOf(row, g == maxGenerations);
}

// ---------------------------------------------------------------- fast generation loops
//
// The simulate forms run on a structure-of-arrays copy of the row: one array per stage and
// genotype, worked through in blocks of eight demes that the compiler keeps in vector
// registers. Each value is computed by exactly the operations, in exactly the order, of the
// per-deme functions above; only the layout and the bookkeeping differ:
// - nothing is allocated per generation, and no snapshot is taken: the change of each larva
//   value is measured as it is overwritten;
// - the adults are dispersed once, from the virgins of the last generation, since nothing
//   reads them before the run ends;
// - stepping-stone dispersal of a block runs in the same pass as the selection and mating of
//   the blocks two ahead of it, so that the divisions of selection overlap the dispersal;
// - kernel dispersal reads the zygotes, already multiplied by the kernel step (once per source
//   deme), from an array padded with the reflected ends of the row, so that one loop serves
//   every deme.

// Demes per block.
constexpr std::size_t lanes = 8;

std::size_t roundUp(std::size_t n) {
    return (n + lanes - 1) / lanes * lanes;
}

// Eight demes side by side. The compiler maps a block onto the vector registers of the target
// (one 512-bit, two 256-bit or four 128-bit registers); each lane computes exactly what the
// scalar code computes for its deme, and the build never contracts a multiply and an add.
typedef double Lanes __attribute__((vector_size(lanes * sizeof(double))));
// Per-lane flags (all bits set or clear), the type of a comparison of two blocks.
using LaneFlags = decltype(Lanes{} < Lanes{});

inline Lanes loadLanes(const double* from) {
    Lanes v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

inline void storeLanes(double* to, const Lanes& v) {
    std::memcpy(to, &v, sizeof v);
}

// |v| in every lane: the sign bit cleared, as fabs does.
inline Lanes absLanes(const Lanes& v) {
    const LaneFlags magnitude = reinterpret_cast<LaneFlags>(v) & 0x7fffffffffffffff;
    return reinterpret_cast<Lanes>(magnitude);
}

// The lanes of `chosen` where `flags` are set, the lanes of `otherwise` elsewhere.
inline Lanes blend(const LaneFlags& flags, const Lanes& chosen, const Lanes& otherwise) {
    const LaneFlags bits = (flags & reinterpret_cast<LaneFlags>(chosen)) |
                           (~flags & reinterpret_cast<LaneFlags>(otherwise));
    return reinterpret_cast<Lanes>(bits);
}

// The values of the demes one after (fromNext) and one before (fromPrevious) the demes of
// block `current`, taken from it and its neighbouring block.
inline Lanes fromNext(const Lanes& current, const Lanes& next) {
#if defined(__clang__)
    return __builtin_shufflevector(current, next, 1, 2, 3, 4, 5, 6, 7, 8);
#else
    return __builtin_shuffle(current, next, LaneFlags{1, 2, 3, 4, 5, 6, 7, 8});
#endif
}
inline Lanes fromPrevious(const Lanes& previous, const Lanes& current) {
#if defined(__clang__)
    return __builtin_shufflevector(previous, current, 7, 8, 9, 10, 11, 12, 13, 14);
#else
    return __builtin_shuffle(previous, current, LaneFlags{7, 8, 9, 10, 11, 12, 13, 14});
#endif
}
static_assert(lanes == 8, "the shuffles above move eight lanes");

// Raises each lane of `largest` to the lane of `change` when that is larger. A lane of `change`
// that is not a number never is (the comparison fails), and `largest` never holds one.
inline void foldChange(Lanes& largest, const Lanes& change) {
    largest = change > largest ? change : largest;
}

// Whether any lane is set.
inline bool anyLane(const LaneFlags& flags) {
    bool any = false;
    for (std::size_t b = 0; b < lanes; ++b) {
        any = any || flags[b] != 0;
    }
    return any;
}

// Zero-filled arrays of doubles carved out of one allocation, each starting on a 64-byte line.
class Workspace {
  public:
    explicit Workspace(std::size_t doubles) : storage(doubles + lanes, 0.0) {
        const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(storage.data());
        next = storage.data() + ((64 - address % 64) % 64) / sizeof(double);
    }
    // An array of `count` doubles (its length rounded up to whole blocks).
    double* take(std::size_t count) {
        double* start = next;
        next += roundUp(count);
        return start;
    }

  private:
    std::vector<double> storage;
    double* next;
};

// Three arrays, one per genotype.
struct Stage {
    double* SS;
    double* SI;
    double* II;
};

Stage takeStage(Workspace& space, std::size_t count) {
    Stage stage;
    stage.SS = space.take(count);
    stage.SI = space.take(count);
    stage.II = space.take(count);
    return stage;
}

// Doubles that takeStage(count) uses.
std::size_t stageSize(std::size_t count) {
    return 3 * roundUp(count);
}

// The mating steps, for the block of demes from deme i on.

// One selfing rate for every deme (Population::goZygotes(const double&)).
struct OneRate {
    static constexpr bool checksSum = false;
    double F;
    double notF;    // 1 - F
    double twoNotF; // 2 * (1 - F)
    explicit OneRate(double selfing) : F(selfing), notF(1 - selfing), twoNotF(2 * (1 - selfing)) {}
    void operator()(std::size_t, const Lanes& vSS, const Lanes& vSI, const Lanes& vII, Lanes& zSS,
                    Lanes& zSI, Lanes& zII) const {
        const Lanes p = vSS + 0.5 * vSI;
        const Lanes q = 0.5 * vSI + vII;
        zSS = (vSS + 0.25 * vSI) * F + p * p * notF;
        zSI = F * vSI * 0.5 + twoNotF * p * q;
        zII = (0.25 * vSI + vII) * F + q * q * notF;
    }
};

// A selfing rate per deme.
struct RatePerDeme {
    static constexpr bool checksSum = false;
    const double* selfing; // padded to whole blocks
    void operator()(std::size_t i, const Lanes& vSS, const Lanes& vSI, const Lanes& vII, Lanes& zSS,
                    Lanes& zSI, Lanes& zII) const {
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
    double s0, s1, s2;
    double out0, out1, out2; // 1 - s: outcrossing shares
    double halfOut1;         // 0.5 * (1 - s1)
    double quarterS1;        // 0.25 * s1
    double halfS1;           // 0.5 * s1
    explicit RateByGenotype(const std::vector<double>& s)
        : s0(s[0]), s1(s[1]), s2(s[2]), out0(1 - s[0]), out1(1 - s[1]), out2(1 - s[2]),
          halfOut1(0.5 * (1 - s[1])), quarterS1(0.25 * s[1]), halfS1(0.5 * s[1]) {}
    void operator()(std::size_t, const Lanes& vSS, const Lanes& vSI, const Lanes& vII, Lanes& zSS,
                    Lanes& zSI, Lanes& zII) const {
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
inline LaneFlags sumOff(const Lanes& zSS, const Lanes& zSI, const Lanes& zII) {
    return absLanes(1 - (zSI + zSS + zII)) > 1e-7;
}

// The "zygotes off" lines of one generation, in deme order.
void reportZygoteSums(std::size_t n, const Stage& Z) {
    for (std::size_t i = 0; i < n; ++i) {
        if (sumOff(Z.SS[i], Z.SI[i], Z.II[i])) {
            diagnostics() << "zygotes off =" << Z.SI[i] + Z.SS[i] + Z.II[i] << '\n';
        }
    }
}

// Selection and mating of the block from deme i0 on: larvae L with fitness f into virgins V
// and zygotes Z, which are stored and returned in zSS, zSI, zII.
template <class Mating>
inline void selectBlock(std::size_t i0, const Stage& L, const Stage& f, const Stage& V,
                        const Stage& Z, const Mating& mate, Lanes& zSS, Lanes& zSI, Lanes& zII) {
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

// The working arrays of a stepping-stone row of n >= 2 demes, padded to whole blocks.
struct SteppingStoneRow {
    std::size_t n = 0;
    std::size_t blocks = 0;
    Stage L, V, Z, f;
    double* keep;    // 1 - m[i - 1] - m[i] at interior demes
    double* toLeft;  // m[i - 1] at interior demes
    double* toRight; // m[i] at demes 0 to n - 2
    double* selfing; // per-deme selfing rates, when the form has them
};

// The end demes keep 1 - m of their own stage and receive m of their only neighbour's.
inline bool endDeme(std::size_t i, std::size_t j, double m, const Stage& from, const Stage& to,
                    const double before[3], double tolerance) {
    const double own = 1 - m;
    const double nSS = own * from.SS[i] + m * from.SS[j];
    const double nSI = own * from.SI[i] + m * from.SI[j];
    const double nII = own * from.II[i] + m * from.II[j];
    to.SS[i] = nSS;
    to.SI[i] = nSI;
    to.II[i] = nII;
    return std::fabs(nSS - before[0]) >= tolerance || std::fabs(nSI - before[1]) >= tolerance ||
           std::fabs(nII - before[2]) >= tolerance;
}

// Zygotes of one block of demes, one register per genotype.
struct ZygoteBlock {
    Lanes SS = {};
    Lanes SI = {};
    Lanes II = {};
};

// Stepping-stone dispersal of the zygotes into the larvae of the block from deme i0 on, given
// the zygotes of the blocks before (p), at (c) and after (x) it: for interior demes
// (1 - m[i-1] - m[i]) f(i) + m[i] f(i+1) + m[i-1] f(i-1). The change of each larva value is
// folded into `largest`. A block at an end of the row (`edge`) also computes lanes of the end
// demes and of the padding, which are neither measured nor kept.
template <bool edge>
inline void disperseBlock(const SteppingStoneRow& row, std::size_t i0, const ZygoteBlock& p,
                          const ZygoteBlock& c, const ZygoteBlock& x, Lanes& largest) {
    const Stage& L = row.L;
    const Lanes keep = loadLanes(row.keep + i0);
    const Lanes right = loadLanes(row.toRight + i0);
    const Lanes left = loadLanes(row.toLeft + i0);
    const Lanes nSS = keep * c.SS + right * fromNext(c.SS, x.SS) + left * fromPrevious(p.SS, c.SS);
    const Lanes nSI = keep * c.SI + right * fromNext(c.SI, x.SI) + left * fromPrevious(p.SI, c.SI);
    const Lanes nII = keep * c.II + right * fromNext(c.II, x.II) + left * fromPrevious(p.II, c.II);
    const Lanes oSS = loadLanes(L.SS + i0);
    const Lanes oSI = loadLanes(L.SI + i0);
    const Lanes oII = loadLanes(L.II + i0);
    if (!edge) {
        foldChange(largest, absLanes(nSS - oSS));
        foldChange(largest, absLanes(nSI - oSI));
        foldChange(largest, absLanes(nII - oII));
        storeLanes(L.SS + i0, nSS);
        storeLanes(L.SI + i0, nSI);
        storeLanes(L.II + i0, nII);
        return;
    }
    const LaneFlags index = LaneFlags{0, 1, 2, 3, 4, 5, 6, 7} + static_cast<long>(i0);
    const LaneFlags interior = (index >= 1) & (index < static_cast<long>(row.n) - 1);
    const Lanes none = {};
    foldChange(largest, blend(interior, absLanes(nSS - oSS), none));
    foldChange(largest, blend(interior, absLanes(nSI - oSI), none));
    foldChange(largest, blend(interior, absLanes(nII - oII), none));
    storeLanes(L.SS + i0, blend(interior, nSS, oSS));
    storeLanes(L.SI + i0, blend(interior, nSI, oSI));
    storeLanes(L.II + i0, blend(interior, nII, oII));
}

// Selection and mating of the block from deme i0 on into `z`; with by-genotype mating, flags
// the demes of the row whose zygote sum is off.
template <class Mating>
inline void mateBlock(const SteppingStoneRow& row, std::size_t i0, const Mating& mate,
                      ZygoteBlock& z, LaneFlags& off) {
    selectBlock(i0, row.L, row.f, row.V, row.Z, mate, z.SS, z.SI, z.II);
    if (Mating::checksSum) {
        const LaneFlags index = LaneFlags{0, 1, 2, 3, 4, 5, 6, 7} + static_cast<long>(i0);
        off |= sumOff(z.SS, z.SI, z.II) & (index < static_cast<long>(row.n));
    }
}

// One stepping-stone generation: selection and mating of every deme, then dispersal of the
// zygotes into the larvae, in one pass over the blocks. Returns whether some larva value moved by
// `tolerance` or more; `sumsOff` is set when some zygote sum is off (by-genotype mating).
template <class Mating>
bool steppingStoneGeneration(const SteppingStoneRow& row, const Mating& mate, double tolerance,
                             bool& sumsOff) {
    const std::size_t n = row.n;
    const Stage& L = row.L;
    const double first[3] = {L.SS[0], L.SI[0], L.II[0]};
    const double last[3] = {L.SS[n - 1], L.SI[n - 1], L.II[n - 1]};
    // Blocks 0 and from `edgeFrom` on hold an end deme or padding.
    const std::size_t edgeFrom = (n - 1) / lanes;
    Lanes largest = {};
    LaneFlags off = {};
    // Mating runs two blocks ahead of dispersal, so that the dispersal of a block never waits
    // for the divisions of the mating just issued.
    ZygoteBlock before, at, after;
    mateBlock(row, 0, mate, at, off);
    if (row.blocks > 1) {
        mateBlock(row, lanes, mate, after, off);
    }
    for (std::size_t d = 0; d < row.blocks; ++d) {
        const std::size_t i0 = d * lanes;
        ZygoteBlock ahead;
        if (d + 2 < row.blocks) {
            mateBlock(row, i0 + 2 * lanes, mate, ahead, off);
        }
        if (d == 0 || d >= edgeFrom) {
            disperseBlock<true>(row, i0, before, at, after, largest);
        } else {
            disperseBlock<false>(row, i0, before, at, after, largest);
        }
        before = at;
        at = after;
        after = ahead;
    }
    const double* m = row.toRight;
    bool endMoved = endDeme(0, 1, m[0], row.Z, L, first, tolerance);
    endMoved = endDeme(n - 1, n - 2, m[n - 2], row.Z, L, last, tolerance) || endMoved;
    sumsOff = anyLane(off);
    return anyLane(largest >= tolerance) || endMoved;
}

// Stepping-stone dispersal of the virgins of the last generation into adults.
std::vector<Genotype> dispersedAdults(const SteppingStoneRow& row) {
    const std::size_t n = row.n;
    const Stage& V = row.V;
    std::vector<Genotype> adults(n);
    for (std::size_t i = 1; i + 1 < n; ++i) {
        const double keep = row.keep[i];
        const double right = row.toRight[i];
        const double left = row.toLeft[i];
        adults[i] = Genotype{keep * V.SS[i] + right * V.SS[i + 1] + left * V.SS[i - 1],
                             keep * V.SI[i] + right * V.SI[i + 1] + left * V.SI[i - 1],
                             keep * V.II[i] + right * V.II[i + 1] + left * V.II[i - 1]};
    }
    const double* m = row.toRight;
    adults[0] =
        endMix(m[0], Genotype{V.SS[0], V.SI[0], V.II[0]}, Genotype{V.SS[1], V.SI[1], V.II[1]});
    adults[n - 1] = endMix(m[n - 2], Genotype{V.SS[n - 1], V.SI[n - 1], V.II[n - 1]},
                           Genotype{V.SS[n - 2], V.SI[n - 2], V.II[n - 2]});
    return adults;
}

// Fitness triples of demes 0 to n - 1 into three arrays; the padding lanes get fitness 1.
void spreadFitness(std::size_t n, const Stage& f, const std::vector<Genotype>& fitness,
                   const std::vector<int>& entry) {
    for (std::size_t i = 0; i < roundUp(n); ++i) {
        const Genotype w =
            i < n ? fitness[static_cast<std::size_t>(entry[i])] : Genotype{1.0, 1.0, 1.0};
        f.SS[i] = w.SS;
        f.SI[i] = w.SI;
        f.II[i] = w.II;
    }
}

// Larvae of demes 0 to n - 1 into three arrays; the padding lanes get an even mixture, so that
// they stay ordinary numbers.
void spreadLarvae(const std::vector<Population>& row, const Stage& L) {
    const std::size_t n = row.size();
    for (std::size_t i = 0; i < roundUp(n); ++i) {
        const Genotype g = i < n ? row[i].larvae : Genotype{1.0 / 3, 1.0 / 3, 1.0 / 3};
        L.SS[i] = g.SS;
        L.SI[i] = g.SI;
        L.II[i] = g.II;
    }
}

// The stepping-stone generation loop for rows of at least two demes. `demeSelfing` is read
// when the mating form has per-deme rates.
template <class Mating>
std::vector<Genotype>
fastSteppingStone(const std::vector<Population>& demes, const std::vector<double>& migrationRates,
                  const std::vector<Genotype>& demeFitness, const std::vector<double>* demeSelfing,
                  double tolerance, int maxGenerations, Mating mate) {
    SteppingStoneRow row;
    const std::size_t n = demes.size();
    row.n = n;
    row.blocks = roundUp(n) / lanes;
    Workspace space(4 * stageSize(n) + 4 * roundUp(n));
    row.L = takeStage(space, n);
    row.V = takeStage(space, n);
    row.Z = takeStage(space, n);
    row.f = takeStage(space, n);
    row.keep = space.take(n);
    row.toLeft = space.take(n);
    row.toRight = space.take(n);
    row.selfing = space.take(n);
    const double* m = migrationRates.data();
    for (std::size_t i = 0; i + 1 < n; ++i) {
        row.toRight[i] = m[i];
    }
    for (std::size_t i = 1; i + 1 < n; ++i) {
        row.keep[i] = 1 - m[i - 1] - m[i];
        row.toLeft[i] = m[i - 1];
    }
    if (demeSelfing != nullptr) {
        for (std::size_t i = 0; i < n; ++i) {
            row.selfing[i] = (*demeSelfing)[i];
        }
    }
    useSelfing(mate, row.selfing);
    std::vector<int> entry(n);
    for (std::size_t i = 0; i < n; ++i) {
        entry[i] = static_cast<int>(i);
    }
    spreadFitness(n, row.f, demeFitness, entry);
    spreadLarvae(demes, row.L);
    // The measure starts from 0, which already reaches a tolerance of 0 or less.
    const bool alwaysChanging = 0.0 >= tolerance;

    int g = 0;
    bool changing = true;
    ChangeWatch watch(n);
    while (changing && g < maxGenerations) {
        bool sumsOff = false;
        watch.before(row.L.SS, row.L.SI, row.L.II);
        changing = steppingStoneGeneration(row, mate, tolerance, sumsOff) || alwaysChanging;
        watch.after(row.L.SS, row.L.SI, row.L.II);
        if (sumsOff) {
            // Written after the whole row has mated and dispersed; nothing else is written in
            // between, so the lines keep their order.
            reportZygoteSums(n, row.Z);
        }
        ++g;
        if (g == maxGenerations) {
            reportCap(demeFitness);
            break;
        }
    }
    recordSimulation(g, g < maxGenerations);

    std::vector<Genotype> adults = dispersedAdults(row);
    if (g == maxGenerations) {
        adults[0].SS = 2.0;
    }
    return adults;
}

// Kernel points in the order of the offsets: padded-array offset, weight and Simpson weight.
struct KernelPoints {
    std::vector<std::ptrdiff_t> offsets;
    std::vector<double> weights;
    std::vector<double> simpson;
    std::size_t reach = 0; // largest |offset|: the padding on each side of the row
};

// Kernel dispersal into the block from deme i0 on, from stage arrays that hold value * step
// and are padded by the kernel's reach: terms (value * step) * weight * Simpson weight summed
// in point order from 0, then each sum divided by SS sum + SI sum + II sum. With `measure`,
// the change of each value is folded into `largest`.
template <bool measure>
inline void kernelBlock(std::size_t i0, const Stage& scaled, const KernelPoints& kernel,
                        const Stage& to, Lanes& largest) {
    Lanes sumSS = {};
    Lanes sumSI = {};
    Lanes sumII = {};
    const std::size_t points = kernel.offsets.size();
    for (std::size_t k = 0; k < points; ++k) {
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(i0) + kernel.offsets[k];
        const double w = kernel.weights[k];
        const double s = kernel.simpson[k];
        sumSS = sumSS + loadLanes(scaled.SS + at) * w * s;
        sumSI = sumSI + loadLanes(scaled.SI + at) * w * s;
        sumII = sumII + loadLanes(scaled.II + at) * w * s;
    }
    const Lanes total = sumSS + sumSI + sumII;
    const Lanes nSS = sumSS / total;
    const Lanes nSI = sumSI / total;
    const Lanes nII = sumII / total;
    if (measure) {
        foldChange(largest, absLanes(nSS - loadLanes(to.SS + i0)));
        foldChange(largest, absLanes(nSI - loadLanes(to.SI + i0)));
        foldChange(largest, absLanes(nII - loadLanes(to.II + i0)));
    }
    storeLanes(to.SS + i0, nSS);
    storeLanes(to.SI + i0, nSI);
    storeLanes(to.II + i0, nII);
}

// The same for the single deme i, for the demes after the last whole block.
template <bool measure>
inline bool kernelDeme(std::size_t i, const Stage& scaled, const KernelPoints& kernel,
                       const Stage& to, double tolerance) {
    double sumSS = 0.0;
    double sumSI = 0.0;
    double sumII = 0.0;
    const std::size_t points = kernel.offsets.size();
    for (std::size_t k = 0; k < points; ++k) {
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(i) + kernel.offsets[k];
        const double w = kernel.weights[k];
        const double s = kernel.simpson[k];
        sumSS = sumSS + scaled.SS[at] * w * s;
        sumSI = sumSI + scaled.SI[at] * w * s;
        sumII = sumII + scaled.II[at] * w * s;
    }
    const double total = sumSS + sumSI + sumII;
    const double nSS = sumSS / total;
    const double nSI = sumSI / total;
    const double nII = sumII / total;
    bool moved = false;
    if (measure) {
        moved = std::fabs(nSS - to.SS[i]) >= tolerance || std::fabs(nSI - to.SI[i]) >= tolerance ||
                std::fabs(nII - to.II[i]) >= tolerance;
    }
    to.SS[i] = nSS;
    to.SI[i] = nSI;
    to.II[i] = nII;
    return moved;
}

// Kernel dispersal of the whole row (n demes) from padded, scaled stage arrays, unmeasured.
void kernelStage(std::size_t n, const Stage& scaled, const KernelPoints& kernel, const Stage& to) {
    Lanes unused = {};
    std::size_t i = 0;
    for (; i + lanes <= n; i += lanes) {
        kernelBlock<false>(i, scaled, kernel, to, unused);
    }
    for (; i < n; ++i) {
        kernelDeme<false>(i, scaled, kernel, to, 0.0);
    }
}

// Fill the `reach` values before (reflectLeft) or after (reflectRight) demes 0 to n - 1 of each
// padded array with the values of the demes they reflect to: index -j reads deme j, index
// last + j reads deme last - j.
void reflectLeft(std::size_t reach, const Stage& padded) {
    double* stages[3] = {padded.SS, padded.SI, padded.II};
    for (double* x : stages) {
        for (std::size_t j = 1; j <= reach; ++j) {
            x[reach - j] = x[reach + j];
        }
    }
}
void reflectRight(std::size_t n, std::size_t reach, const Stage& padded) {
    double* stages[3] = {padded.SS, padded.SI, padded.II};
    const std::size_t last = n - 1;
    for (double* x : stages) {
        for (std::size_t j = 1; j <= reach; ++j) {
            x[reach + last + j] = x[reach + last - j];
        }
    }
}

// Multiplies demes 0 to n - 1 (whole blocks) of `from` by `step` into `to`.
void scaleStage(std::size_t n, const Stage& from, double step, const Stage& to) {
    for (std::size_t i = 0; i < n; i += lanes) {
        storeLanes(to.SS + i, loadLanes(from.SS + i) * step);
        storeLanes(to.SI + i, loadLanes(from.SI + i) * step);
        storeLanes(to.II + i, loadLanes(from.II + i) * step);
    }
}

// The working arrays of a kernel row of n demes: larvae, virgins, zygotes and fitness padded to
// whole blocks, and the zygotes times the kernel step with `reach` demes of reflected padding
// on each side (inRow points at deme 0 of it).
struct KernelRow {
    std::size_t n;
    Stage L, V, Z, f;
    Stage padded, inRow;
};

// One kernel generation: selection and mating of every deme, then kernel dispersal of the
// zygotes into the larvae. Each whole block is dispersed as soon as the demes it reads have
// mated, in the same pass, so that the divisions of selection overlap the kernel sums.
// Returns whether some larva value moved by `tolerance` or more.
bool kernelGeneration(const KernelRow& row, const KernelPoints& kernel, const OneRate& mate,
                      double step, double tolerance) {
    const std::size_t n = row.n;
    const std::size_t reach = kernel.reach;
    const std::size_t whole = n / lanes;
    Lanes largest = {};
    std::size_t next = 0; // the next whole block to disperse
    bool leftReady = false;
    for (std::size_t i0 = 0; i0 < n; i0 += lanes) {
        Lanes zSS, zSI, zII;
        selectBlock(i0, row.L, row.f, row.V, row.Z, mate, zSS, zSI, zII);
        storeLanes(row.inRow.SS + i0, zSS * step);
        storeLanes(row.inRow.SI + i0, zSI * step);
        storeLanes(row.inRow.II + i0, zII * step);
        const std::size_t mated = i0 + lanes < n ? i0 + lanes - 1 : n - 1; // last deme so far
        if (!leftReady && mated >= reach) {
            reflectLeft(reach, row.padded);
            leftReady = true;
        }
        // Block `next` reads demes up to its last one plus the reach.
        while (next < whole && next * lanes + lanes - 1 + reach <= mated) {
            kernelBlock<true>(next * lanes, row.padded, kernel, row.L, largest);
            ++next;
        }
    }
    if (!leftReady) {
        reflectLeft(reach, row.padded);
    }
    reflectRight(n, reach, row.padded);
    for (; next < whole; ++next) {
        kernelBlock<true>(next * lanes, row.padded, kernel, row.L, largest);
    }
    bool any = false;
    for (std::size_t i = whole * lanes; i < n; ++i) {
        any = kernelDeme<true>(i, row.padded, kernel, row.L, tolerance) || any;
    }
    return anyLane(largest >= tolerance) || any;
}

// The kernel generation loop, for points that all lie in the row (reach <= n - 1).
void fastKernel(std::vector<Population>& row, const std::vector<double>& kernelWeights,
                const std::vector<int>& kernelOffsets, const std::vector<Genotype>& regionFitness,
                double selfing, double tolerance, int maxGenerations, int border1, int border2,
                double kernelStep) {
    const std::size_t n = row.size();
    KernelPoints kernel;
    kernel.simpson = getSimpson(static_cast<int>(kernelWeights.size()));
    kernel.weights = kernelWeights;
    for (int offset : kernelOffsets) {
        const std::size_t distance = static_cast<std::size_t>(offset < 0 ? -offset : offset);
        kernel.reach = distance > kernel.reach ? distance : kernel.reach;
    }
    for (int offset : kernelOffsets) {
        kernel.offsets.push_back(static_cast<std::ptrdiff_t>(kernel.reach) + offset);
    }
    // The scaled stage is written in whole blocks, up to lanes - 1 demes into the right-hand
    // padding, before the padding is filled.
    const std::size_t paddedLength = roundUp(n) + 2 * kernel.reach;

    Workspace space(4 * stageSize(n) + stageSize(paddedLength));
    const Stage L = takeStage(space, n);
    const Stage V = takeStage(space, n);
    const Stage Z = takeStage(space, n);
    const Stage f = takeStage(space, n);
    const Stage padded = takeStage(space, paddedLength);
    const Stage inRow{padded.SS + kernel.reach, padded.SI + kernel.reach, padded.II + kernel.reach};
    const KernelRow rows{n, L, V, Z, f, padded, inRow};
    std::vector<int> region(n);
    for (std::size_t i = 0; i < n; ++i) {
        region[i] = detectRegion(static_cast<int>(i), border1, border2);
    }
    spreadFitness(n, f, regionFitness, region);
    spreadLarvae(row, L);
    const OneRate mate(selfing);
    const bool alwaysChanging = 0.0 >= tolerance;

    int g = 0;
    bool changing = true;
    ChangeWatch watch(n);
    while (changing && g < maxGenerations) {
        watch.before(L.SS, L.SI, L.II);
        changing = kernelGeneration(rows, kernel, mate, kernelStep, tolerance) || alwaysChanging;
        watch.after(L.SS, L.SI, L.II);
        ++g;
        if (g == maxGenerations) {
            reportCap(regionFitness);
            break;
        }
    }
    recordSimulation(g, g < maxGenerations);

    // The adults of the last generation, dispersed from its virgins.
    scaleStage(n, V, kernelStep, inRow);
    reflectLeft(kernel.reach, padded);
    reflectRight(n, kernel.reach, padded);
    const Stage A = f; // the fitness arrays are no longer needed
    kernelStage(n, padded, kernel, A);
    for (std::size_t i = 0; i < n; ++i) {
        Population& deme = row[i];
        deme.virgins = Genotype{V.SS[i], V.SI[i], V.II[i]};
        deme.zygotes = Genotype{Z.SS[i], Z.SI[i], Z.II[i]};
        deme.adults = Genotype{A.SS[i], A.SI[i], A.II[i]};
        deme.larvae = Genotype{L.SS[i], L.SI[i], L.II[i]};
    }
}

} // namespace

bool migration(std::vector<Population>& row, const std::vector<double>& migrationRates,
               double tolerance) {
    const std::size_t n = row.size();
    double change = 0.0;
    if (n == 1) {
        // A lone deme has no neighbour to exchange with.
        settle(row[0], row[0].virgins, row[0].zygotes, change);
        return change >= tolerance;
    }
    if (n == 0) {
        return change >= tolerance;
    }
    Population* d = row.data();
    const double* m = migrationRates.data();
    settle(d[0], endMix(m[0], d[0].virgins, d[1].virgins), endMix(m[0], d[0].zygotes, d[1].zygotes),
           change);
    for (std::size_t i = 1; i + 1 < n; ++i) {
        settle(d[i], innerMix(m[i - 1], m[i], d[i - 1].virgins, d[i].virgins, d[i + 1].virgins),
               innerMix(m[i - 1], m[i], d[i - 1].zygotes, d[i].zygotes, d[i + 1].zygotes), change);
    }
    settle(d[n - 1], endMix(m[n - 2], d[n - 1].virgins, d[n - 2].virgins),
           endMix(m[n - 2], d[n - 1].zygotes, d[n - 2].zygotes), change);
    return change >= tolerance;
}

bool migration(std::vector<Population>& row, const std::vector<double>& kernelWeights,
               std::vector<int>& kernelOffsets, double kernelStep, double tolerance) {
    const int last = static_cast<int>(row.size()) - 1;
    double change = 0.0;
    // Sources (virgins, zygotes) and targets (adults, larvae) are disjoint, so every deme can be
    // updated in place from the same row.
    for (int i = 0; i <= last; ++i) {
        const std::vector<int> indices = createIndx(i, kernelOffsets, last);
        const Genotype adults = migKernel(row, kernelWeights, kernelStep, indices, false);
        const Genotype larvae = migKernel(row, kernelWeights, kernelStep, indices, true);
        settle(row[i], adults, larvae, change);
    }
    return change >= tolerance;
}

Genotype migKernel(std::vector<Population>& row, const std::vector<double>& kernelWeights,
                   double kernelStep, std::vector<int> indices, bool useZygotes) {
    const std::vector<double> simpson = getSimpson(static_cast<int>(kernelWeights.size()));
    double sumSS = 0.0;
    double sumSI = 0.0;
    double sumII = 0.0;
    for (std::size_t k = 0; k < indices.size(); ++k) {
        // Checked access: an integration point outside the row is refused, not read.
        const Population& source = row.at(static_cast<std::size_t>(indices[k]));
        const Genotype& g = useZygotes ? source.zygotes : source.virgins;
        sumSS += g.SS * kernelStep * kernelWeights[k] * simpson[k];
        sumSI += g.SI * kernelStep * kernelWeights[k] * simpson[k];
        sumII += g.II * kernelStep * kernelWeights[k] * simpson[k];
    }
    const double total = sumSS + sumSI + sumII;
    return {sumSS / total, sumSI / total, sumII / total};
}

std::vector<int> createIndx(int focal, std::vector<int>& kernelOffsets, int last) {
    std::vector<int> indices(kernelOffsets.size());
    for (std::size_t k = 0; k < kernelOffsets.size(); ++k) {
        indices[k] = itr(kernelOffsets[k] + focal, last);
    }
    return indices;
}

int itr(int i, int last) {
    if (i < 0) {
        return -i;
    }
    if (i > last) {
        return 2 * last - i;
    }
    return i;
}

std::vector<double> getSimpson(int n) {
    if (n < 1) {
        return {};
    }
    std::vector<double> weights(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        if (k == 0 || k == n - 1) {
            weights[k] = 1.0 / 3.0;
        } else if (k % 2 == 1) {
            weights[k] = 4.0 / 3.0;
        } else {
            weights[k] = 2.0 / 3.0;
        }
    }
    return weights;
}

int detectRegion(int i, int border1, int border2) {
    if (i >= border2) {
        return 2;
    }
    if (i >= border1) {
        return 1;
    }
    return 0;
}

void simulate(std::vector<Population>& row, const std::vector<double>& kernelWeights,
              std::vector<int>& kernelOffsets, const std::vector<Genotype>& regionFitness,
              const double& selfing, double& tolerance, int& maxGenerations, int& border1,
              int& border2, double kernelStep) {
    const int cap = maxGenerations;
    if (cap < 1) {
        recordSimulation(0, false);
        return;
    }
    const double F = selfing;
    const double tol = tolerance;
    const int first = border1;
    const int second = border2;
    // Every point lands in the row after the single reflection when no offset reaches further
    // than the last deme.
    bool inRow = kernelWeights.size() == kernelOffsets.size() && !row.empty();
    for (int offset : kernelOffsets) {
        inRow = inRow && offset >= -static_cast<int>(row.size() - 1) &&
                offset <= static_cast<int>(row.size() - 1);
    }
    if (inRow) {
        fastKernel(row, kernelWeights, kernelOffsets, regionFitness, F, tol, cap, first, second,
                   kernelStep);
        return;
    }
    // Otherwise the checked dispersal refuses the first point outside the row.
    int g = 0;
    bool changing = true;
    ChangeWatch watch(row.size());
    while (changing && g < cap) {
        watch.before(row);
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i].goVirgins(regionFitness[detectRegion(static_cast<int>(i), first, second)]);
            row[i].goZygotes(F);
        }
        changing = migration(row, kernelWeights, kernelOffsets, kernelStep, tol);
        watch.after(row);
        ++g;
        if (g == cap) {
            reportCap(regionFitness);
            break;
        }
    }
    recordSimulation(g, g < cap);
}

std::vector<Genotype> simulate(std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness, const double& selfing,
                               double tolerance, int maxGenerations) {
    const double F = selfing;
    if (maxGenerations >= 1 && row.size() >= 2) {
        return fastSteppingStone(row, migrationRates, demeFitness, nullptr, tolerance,
                                 maxGenerations, OneRate(F));
    }
    return steppingStone(row, migrationRates, demeFitness, tolerance, maxGenerations,
                         [F](Population& deme, std::size_t) { deme.goZygotes(F); });
}

std::vector<Genotype> simulate(std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness,
                               const std::vector<double>& demeSelfing, double tolerance,
                               int maxGenerations) {
    if (maxGenerations >= 1 && row.size() >= 2) {
        return fastSteppingStone(row, migrationRates, demeFitness, &demeSelfing, tolerance,
                                 maxGenerations, RatePerDeme{nullptr});
    }
    return steppingStone(
        row, migrationRates, demeFitness, tolerance, maxGenerations,
        [&demeSelfing](Population& deme, std::size_t i) { deme.goZygotes(demeSelfing[i]); });
}

std::vector<Genotype> simulateByGenotype(std::vector<Population> row,
                                         const std::vector<double>& migrationRates,
                                         const std::vector<Genotype>& demeFitness,
                                         const std::vector<double>& genotypeSelfing,
                                         double tolerance, int maxGenerations) {
    if (maxGenerations >= 1 && row.size() >= 2) {
        return fastSteppingStone(row, migrationRates, demeFitness, nullptr, tolerance,
                                 maxGenerations, RateByGenotype(genotypeSelfing));
    }
    return steppingStone(
        row, migrationRates, demeFitness, tolerance, maxGenerations,
        [&genotypeSelfing](Population& deme, std::size_t) { deme.goZygotes(genotypeSelfing); });
}
