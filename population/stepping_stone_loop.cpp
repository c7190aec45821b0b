// The stepping-stone forms on a structure-of-arrays copy of the row, worked through in blocks
// of demes that fill one vector register (lanes.h). Plain twin: plain::simulate (one rate, per-deme
// rates) and plain::simulateByGenotype in tests/reference/plain_population.cpp, which take a
// snapshot of the row and call plain::migration every generation; the tests hold the two to the
// same bits. Each value is computed by exactly the operations, in exactly the order, of the
// per-deme steps; only the layout and the bookkeeping differ:
// - nothing is allocated per generation, and no snapshot is taken: the change of each larva
//   value is measured as it is overwritten;
// - the adults are dispersed once, from the virgins of the last generation, since nothing
//   reads them before the run ends;
// - dispersal of a block runs in the same pass as the selection and mating of the block two
//   ahead of it, so that the divisions of selection overlap the dispersal.
#include "population/stepping_stone_loop.h"

#include <cmath>
#include <cstddef>

#include "population/change_ring.h"
#include "population/diagnostics.h"
#include "population/generation_cap.h"
#include "population/instruction_set.h"
#include "population/lanes.h"
#include "population/mating.h"
#include "population/simulation_report.h"
#include "population/workspace.h"

namespace fast {
namespace {

// The working arrays of a row of n >= 2 demes, padded to whole blocks.
struct SteppingStoneRow {
    std::size_t n = 0;
    Stage L, V, Z, f;
    double* keep;         // 1 - m[i - 1] - m[i] at interior demes
    double* toLeft;       // m[i - 1] at interior demes
    double* toRight;      // m[i] at demes 0 to n - 2
    double* selfing;      // per-deme selfing rates, when the form has them
    const long* interior; // -1 at demes 1 to n - 2, 0 at the end demes and the padding
};

// The end demes keep 1 - m of their own stage and receive m of their only neighbour's.
// Returns the largest change of the three larva values from `before`, from 0.
ZONEFIT_INLINE double endDeme(std::size_t i, std::size_t j, double m, const Stage& from,
                              const Stage& to, const double before[3]) {
    const double own = 1 - m;
    const double nSS = own * from.SS[i] + m * from.SS[j];
    const double nSI = own * from.SI[i] + m * from.SI[j];
    const double nII = own * from.II[i] + m * from.II[j];
    to.SS[i] = nSS;
    to.SI[i] = nSI;
    to.II[i] = nII;
    // A change that is not a number never raises the measure.
    double change = 0.0;
    const double moved[3] = {std::fabs(nSS - before[0]), std::fabs(nSI - before[1]),
                             std::fabs(nII - before[2])};
    for (double d : moved) {
        change = d > change ? d : change;
    }
    return change;
}

// Zygotes of one block of demes, one register per genotype.
template <class Block> struct ZygoteBlock {
    Block SS = {};
    Block SI = {};
    Block II = {};
};

// Dispersal of the zygotes into the larvae of the block from deme i0 on, given the zygotes of
// the blocks before (p), at (c) and after (x) it: for interior demes
// (1 - m[i-1] - m[i]) f(i) + m[i] f(i+1) + m[i-1] f(i-1). The change of each larva value is
// folded into `largest`. A block at an end of the row (`edge`) also computes lanes of the end
// demes and of the padding, which are neither measured nor kept.
template <bool edge, class Block>
ZONEFIT_INLINE void disperseBlock(const SteppingStoneRow& row, std::size_t i0,
                                  const ZygoteBlock<Block>& p, const ZygoteBlock<Block>& c,
                                  const ZygoteBlock<Block>& x, Block& largest) {
    const Stage& L = row.L;
    const Block keep = loadLanes<Block>(row.keep + i0);
    const Block right = loadLanes<Block>(row.toRight + i0);
    const Block left = loadLanes<Block>(row.toLeft + i0);
    const Block nSS = keep * c.SS + right * fromNext(c.SS, x.SS) + left * fromPrevious(p.SS, c.SS);
    const Block nSI = keep * c.SI + right * fromNext(c.SI, x.SI) + left * fromPrevious(p.SI, c.SI);
    const Block nII = keep * c.II + right * fromNext(c.II, x.II) + left * fromPrevious(p.II, c.II);
    const Block oSS = loadLanes<Block>(L.SS + i0);
    const Block oSI = loadLanes<Block>(L.SI + i0);
    const Block oII = loadLanes<Block>(L.II + i0);
    if (!edge) {
        foldChange(largest, absLanes(nSS - oSS));
        foldChange(largest, absLanes(nSI - oSI));
        foldChange(largest, absLanes(nII - oII));
        storeLanes(L.SS + i0, nSS);
        storeLanes(L.SI + i0, nSI);
        storeLanes(L.II + i0, nII);
        return;
    }
    const FlagsOf<Block> interior = loadFlags<Block>(row.interior + i0);
    const Block none = {};
    foldChange(largest, blend(interior, absLanes(nSS - oSS), none));
    foldChange(largest, blend(interior, absLanes(nSI - oSI), none));
    foldChange(largest, blend(interior, absLanes(nII - oII), none));
    storeLanes(L.SS + i0, blend(interior, nSS, oSS));
    storeLanes(L.SI + i0, blend(interior, nSI, oSI));
    storeLanes(L.II + i0, blend(interior, nII, oII));
}

// The smallest and the largest zygote sum of a generation, lane by lane (by-genotype mating).
template <class Block> struct SumRange {
    Block lowest = broadcast<Block>(1.0);
    Block highest = broadcast<Block>(1.0);
};

// Mating of the block from deme i0 on, whose virgins are in V: the divisions (beginMating),
// then the rest into `z` (finishMating); with by-genotype mating, the zygote sums are folded
// into `sums`. Padding lanes hold an even mixture whose sum stays near 1; were one off, the
// report, which reads the demes of the row, would not show it.
template <class Block, class Mating>
ZONEFIT_INLINE typename Mating::Pending beginMating(const SteppingStoneRow& row, std::size_t i0,
                                                    const Mating& mate) {
    return mate.begin(i0, loadLanes<Block>(row.V.SS + i0), loadLanes<Block>(row.V.SI + i0),
                      loadLanes<Block>(row.V.II + i0));
}
template <class Block, class Mating>
ZONEFIT_INLINE void finishMating(const SteppingStoneRow& row, std::size_t i0, const Mating& mate,
                                 const typename Mating::Pending& pending, ZygoteBlock<Block>& z,
                                 SumRange<Block>& sums) {
    const Block vSS = loadLanes<Block>(row.V.SS + i0);
    const Block vSI = loadLanes<Block>(row.V.SI + i0);
    const Block vII = loadLanes<Block>(row.V.II + i0);
    mate.finish(i0, pending, vSS, vSI, vII, z.SS, z.SI, z.II);
    storeLanes(row.Z.SS + i0, z.SS);
    storeLanes(row.Z.SI + i0, z.SI);
    storeLanes(row.Z.II + i0, z.II);
    if (Mating::checksSum) {
        const Block sum = z.SI + z.SS + z.II;
        foldLow(sums.lowest, sum);
        foldChange(sums.highest, sum);
    }
}

// Selection of the block from deme i0 on into the virgins V.
template <class Block>
ZONEFIT_INLINE void selectStoredBlock(const SteppingStoneRow& row, std::size_t i0) {
    Block vSS, vSI, vII;
    selectBlock(i0, row.L, row.f, row.V, vSS, vSI, vII);
}

// One generation: selection and mating of every deme, then dispersal of the zygotes into the
// larvae, in one pass over the blocks. Returns whether some larva value moved by `tolerance` or
// more; `sumsOff` is set when some zygote sum is off (by-genotype mating). With `changes`, the
// largest larva change of the generation is pushed onto it. Blocks of type Block; the last one
// may reach into the padding.
template <class Block, class Mating>
ZONEFIT_INLINE bool generation(const SteppingStoneRow& row, const Mating& mate,
                               const SumBounds& bounds, double tolerance, bool& sumsOff,
                               ChangeRing* changes) {
    const std::size_t n = row.n;
    const Stage& L = row.L;
    const double first[3] = {L.SS[0], L.SI[0], L.II[0]};
    const double last[3] = {L.SS[n - 1], L.SI[n - 1], L.II[n - 1]};
    constexpr std::size_t width = widthOf<Block>;
    const std::size_t blocks = (n + width - 1) / width;
    // Blocks 0 and from `edgeFrom` on hold an end deme or padding.
    const std::size_t edgeFrom = (n - 1) / width;
    Block largest = {};
    SumRange<Block> sums;
    // Selection runs three blocks ahead of dispersal, the divisions of mating two and the rest
    // of mating one, so that the divisions of two blocks are issued side by side and nothing
    // waits for a division just issued.
    ZygoteBlock<Block> before, at, after;
    for (std::size_t d = 0; d < 3 && d < blocks; ++d) {
        selectStoredBlock<Block>(row, d * width);
    }
    finishMating(row, 0, mate, beginMating<Block>(row, 0, mate), at, sums);
    typename Mating::Pending pending{};
    if (blocks > 1) {
        pending = beginMating<Block>(row, width, mate);
    }
    for (std::size_t d = 0; d < blocks; ++d) {
        const std::size_t i0 = d * width;
        if (d + 3 < blocks) {
            selectStoredBlock<Block>(row, i0 + 3 * width);
        }
        typename Mating::Pending pendingAhead{};
        if (d + 2 < blocks) {
            pendingAhead = beginMating<Block>(row, i0 + 2 * width, mate);
        }
        after = ZygoteBlock<Block>{};
        if (d + 1 < blocks) {
            finishMating(row, i0 + width, mate, pending, after, sums);
        }
        if (d == 0 || d >= edgeFrom) {
            disperseBlock<true>(row, i0, before, at, after, largest);
        } else {
            disperseBlock<false>(row, i0, before, at, after, largest);
        }
        before = at;
        at = after;
        pending = pendingAhead;
    }
    const double* m = row.toRight;
    const double firstChange = endDeme(0, 1, m[0], row.Z, L, first);
    const double lastChange = endDeme(n - 1, n - 2, m[n - 2], row.Z, L, last);
    const double endChange = lastChange > firstChange ? lastChange : firstChange;
    sumsOff = Mating::checksSum &&
              (anyLane(sums.lowest < bounds.low) || anyLane(sums.highest > bounds.high));
    if (changes != nullptr) {
        changes->push(largestLane(largest, endChange));
    }
    return anyLane(largest >= tolerance) || endChange >= tolerance;
}

// The "zygotes off" lines of one generation, in deme order.
void reportZygoteSums(std::ostream& diagnostics, std::size_t n, const Stage& Z) {
    for (std::size_t i = 0; i < n; ++i) {
        if (sumOff(Z.SS[i], Z.SI[i], Z.II[i])) {
            diagnostics << "zygotes off =" << Z.SI[i] + Z.SS[i] + Z.II[i] << '\n';
        }
    }
}

// Runs generations until the larvae stop changing by `tolerance` or the cap; returns the
// number run. At the cap, reports `capReport` when it is not null.
template <class Block, template <class> class Mating>
ZONEFIT_INLINE int runGenerations(const SteppingStoneRow& rowIn, const Selfing& selfing,
                                  double tolerance, int maxGenerations,
                                  const std::vector<Genotype>* capReport, ChangeRing* changes,
                                  std::ostream& diagnostics) {
    // Local copies: the compiler can then keep the array pointers and the mating factors in
    // registers, since no store to the arrays can reach them.
    const SteppingStoneRow row = rowIn;
    const Mating<Block> mate(selfing);
    // The measure starts from 0, which already reaches a tolerance of 0 or less.
    const bool alwaysChanging = 0.0 >= tolerance;
    const SumBounds bounds = sumBounds();
    int g = 0;
    bool changing = true;
    while (changing && g < maxGenerations) {
        bool sumsOff = false;
        changing =
            generation<Block>(row, mate, bounds, tolerance, sumsOff, changes) || alwaysChanging;
        if (sumsOff) {
            // Written after the whole row has mated and dispersed; nothing else is written in
            // between, so the lines keep their order.
            reportZygoteSums(diagnostics, row.n, row.Z);
        }
        ++g;
        if (g == maxGenerations) {
            if (capReport != nullptr) {
                reportCap(diagnostics, *capReport);
            }
            break;
        }
    }
    return g;
}

// The generation loop compiled once per instruction-set level, on blocks that fill one
// register of the level.
template <template <class> class Mating>
int runBaseline(const SteppingStoneRow& row, const Selfing& selfing, double tolerance, int cap,
                const std::vector<Genotype>* fitness, ChangeRing* changes,
                std::ostream& diagnostics) {
    return runGenerations<Lanes2, Mating>(row, selfing, tolerance, cap, fitness, changes,
                                          diagnostics);
}
template <template <class> class Mating>
ZONEFIT_TARGET_AVX2 int runAvx2(const SteppingStoneRow& row, const Selfing& selfing,
                                double tolerance, int cap, const std::vector<Genotype>* fitness,
                                ChangeRing* changes, std::ostream& diagnostics) {
    return runGenerations<Lanes4, Mating>(row, selfing, tolerance, cap, fitness, changes,
                                          diagnostics);
}
template <template <class> class Mating>
ZONEFIT_TARGET_AVX512 int runAvx512(const SteppingStoneRow& row, const Selfing& selfing,
                                    double tolerance, int cap, const std::vector<Genotype>* fitness,
                                    ChangeRing* changes, std::ostream& diagnostics) {
    return runGenerations<Lanes8, Mating>(row, selfing, tolerance, cap, fitness, changes,
                                          diagnostics);
}

template <template <class> class Mating>
int runAtActiveLevel(const SteppingStoneRow& row, const Selfing& selfing, double tolerance, int cap,
                     const std::vector<Genotype>* fitness, ChangeRing* changes,
                     std::ostream& diagnostics) {
    switch (activeInstructionSet()) {
    case InstructionSet::avx512:
        return runAvx512<Mating>(row, selfing, tolerance, cap, fitness, changes, diagnostics);
    case InstructionSet::avx2:
        return runAvx2<Mating>(row, selfing, tolerance, cap, fitness, changes, diagnostics);
    case InstructionSet::baseline:
        break;
    }
    return runBaseline<Mating>(row, selfing, tolerance, cap, fitness, changes, diagnostics);
}

// Adults of end deme i with neighbour j, dispersed from the virgins V.
Genotype endAdults(std::size_t i, std::size_t j, double m, const Stage& V) {
    const double own = 1 - m;
    return {own * V.SS[i] + m * V.SS[j], own * V.SI[i] + m * V.SI[j], own * V.II[i] + m * V.II[j]};
}

// Dispersal of the virgins of the last generation into adults.
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
    adults[0] = endAdults(0, 1, m[0], V);
    adults[n - 1] = endAdults(n - 1, n - 2, m[n - 2], V);
    return adults;
}

// The whole simulation of a row of at least two demes. `demeSelfing` is read when the mating
// form has per-deme rates, `genotypeSelfing` when it has rates by genotype.
template <template <class> class Mating>
std::vector<Genotype>
simulateRow(const std::vector<Population>& demes, const std::vector<double>& migrationRates,
            const std::vector<Genotype>& demeFitness, double rate,
            const std::vector<double>* demeSelfing, const std::vector<double>* genotypeSelfing,
            double tolerance, int maxGenerations, const SimulationContext& context, RowState* end,
            bool quiet) {
    SteppingStoneRow row;
    const std::size_t n = demes.size();
    row.n = n;
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
    Selfing selfing;
    selfing.rate = rate;
    selfing.perDeme = row.selfing;
    selfing.byGenotype = genotypeSelfing != nullptr ? genotypeSelfing->data() : nullptr;
    std::vector<int> entry(n);
    for (std::size_t i = 0; i < n; ++i) {
        entry[i] = static_cast<int>(i);
    }
    spreadFitness(n, row.f, demeFitness, entry);
    spreadLarvae(demes, row.L);
    std::vector<long> interior(roundUp(n), 0);
    for (std::size_t i = 0; i < n; ++i) {
        interior[i] = i >= 1 && i + 1 < n ? -1 : 0;
    }
    row.interior = interior.data();

    ChangeRing ring;
    ChangeRing* changes = changesWanted(context.report) || end != nullptr ? &ring : nullptr;
    const int g = runAtActiveLevel<Mating>(row, selfing, tolerance, maxGenerations,
                                           quiet ? nullptr : &demeFitness, changes,
                                           diagnosticsTo(context.diagnostics));
    if (!quiet) {
        recordSimulation(context.report, g, g < maxGenerations, ring);
    }

    std::vector<Genotype> adults = dispersedAdults(row);
    if (end != nullptr) {
        end->larvae.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            end->larvae[i] = Genotype{row.L.SS[i], row.L.SI[i], row.L.II[i]};
        }
        end->adults = adults;
        end->generations = g;
        end->converged = g < maxGenerations;
        end->changes = ring;
    }
    if (g == maxGenerations && !quiet) {
        adults[0].SS = 2.0;
    }
    return adults;
}

} // namespace

std::vector<Genotype> steppingStone(const std::vector<Population>& row,
                                    const std::vector<double>& migrationRates,
                                    const std::vector<Genotype>& demeFitness, double selfing,
                                    double tolerance, int maxGenerations,
                                    const SimulationContext& context, RowState* end, bool quiet) {
    return simulateRow<OneRate>(row, migrationRates, demeFitness, selfing, nullptr, nullptr,
                                tolerance, maxGenerations, context, end, quiet);
}

std::vector<Genotype> steppingStone(const std::vector<Population>& row,
                                    const std::vector<double>& migrationRates,
                                    const std::vector<Genotype>& demeFitness,
                                    const std::vector<double>& demeSelfing, double tolerance,
                                    int maxGenerations, const SimulationContext& context,
                                    RowState* end, bool quiet) {
    return simulateRow<RatePerDeme>(row, migrationRates, demeFitness, 0.0, &demeSelfing, nullptr,
                                    tolerance, maxGenerations, context, end, quiet);
}

std::vector<Genotype> steppingStoneByGenotype(const std::vector<Population>& row,
                                              const std::vector<double>& migrationRates,
                                              const std::vector<Genotype>& demeFitness,
                                              const std::vector<double>& genotypeSelfing,
                                              double tolerance, int maxGenerations,
                                              const SimulationContext& context, RowState* end,
                                              bool quiet) {
    return simulateRow<RateByGenotype>(row, migrationRates, demeFitness, 0.0, nullptr,
                                       &genotypeSelfing, tolerance, maxGenerations, context, end,
                                       quiet);
}

} // namespace fast
