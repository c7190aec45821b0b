// The stepping-stone forms on a structure-of-arrays copy of the row, worked through in blocks
// of eight demes. Plain twin: plain::simulate (one rate, per-deme rates) and
// plain::simulateByGenotype in tests/reference/plain_population.cpp, which take a snapshot of
// the row and call plain::migration every generation; the tests hold the two to the same bits.
// Each value is computed by exactly the operations, in exactly the order, of the per-deme steps;
// only the layout and the bookkeeping differ:
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
    std::size_t blocks = 0;
    Stage L, V, Z, f;
    double* keep;         // 1 - m[i - 1] - m[i] at interior demes
    double* toLeft;       // m[i - 1] at interior demes
    double* toRight;      // m[i] at demes 0 to n - 2
    double* selfing;      // per-deme selfing rates, when the form has them
    const long* interior; // -1 at demes 1 to n - 2, 0 at the end demes and the padding
    const long* inRow;    // -1 at demes 0 to n - 1, 0 at the padding
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
struct ZygoteBlock {
    Lanes SS = {};
    Lanes SI = {};
    Lanes II = {};
};

// Dispersal of the zygotes into the larvae of the block from deme i0 on, given the zygotes of
// the blocks before (p), at (c) and after (x) it: for interior demes
// (1 - m[i-1] - m[i]) f(i) + m[i] f(i+1) + m[i-1] f(i-1). The change of each larva value is
// folded into `largest`. A block at an end of the row (`edge`) also computes lanes of the end
// demes and of the padding, which are neither measured nor kept.
template <bool edge>
ZONEFIT_INLINE void disperseBlock(const SteppingStoneRow& row, std::size_t i0, const ZygoteBlock& p,
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
    const LaneFlags interior = loadFlags(row.interior + i0);
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
ZONEFIT_INLINE void mateBlock(const SteppingStoneRow& row, std::size_t i0, const Mating& mate,
                              ZygoteBlock& z, LaneFlags& off) {
    selectBlock(i0, row.L, row.f, row.V, row.Z, mate, z.SS, z.SI, z.II);
    if (Mating::checksSum) {
        const LaneFlags offHere = sumOff(z.SS, z.SI, z.II);
        // Only the last block holds padding.
        off |= i0 + lanes <= row.n ? offHere : offHere & loadFlags(row.inRow + i0);
    }
}

// One generation: selection and mating of every deme, then dispersal of the zygotes into the
// larvae, in one pass over the blocks. Returns whether some larva value moved by `tolerance` or
// more; `sumsOff` is set when some zygote sum is off (by-genotype mating). With `changes`, the
// largest larva change of the generation is pushed onto it.
template <class Mating>
ZONEFIT_INLINE bool generation(const SteppingStoneRow& row, const Mating& mate, double tolerance,
                               bool& sumsOff, ChangeRing* changes) {
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
    const double firstChange = endDeme(0, 1, m[0], row.Z, L, first);
    const double lastChange = endDeme(n - 1, n - 2, m[n - 2], row.Z, L, last);
    const double endChange = lastChange > firstChange ? lastChange : firstChange;
    sumsOff = anyLane(off);
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
template <class Mating>
ZONEFIT_INLINE int runGenerations(const SteppingStoneRow& rowIn, const Mating& mateIn,
                                  double tolerance, int maxGenerations,
                                  const std::vector<Genotype>* capReport, ChangeRing* changes,
                                  std::ostream& diagnostics) {
    // Local copies: the compiler can then keep the array pointers and the mating factors in
    // registers, since no store to the arrays can reach them.
    const SteppingStoneRow row = rowIn;
    const Mating mate = mateIn;
    // The measure starts from 0, which already reaches a tolerance of 0 or less.
    const bool alwaysChanging = 0.0 >= tolerance;
    int g = 0;
    bool changing = true;
    while (changing && g < maxGenerations) {
        bool sumsOff = false;
        changing = generation(row, mate, tolerance, sumsOff, changes) || alwaysChanging;
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

// The generation loop compiled once per instruction-set level.
template <class Mating>
int runBaseline(const SteppingStoneRow& row, const Mating& mate, double tolerance, int cap,
                const std::vector<Genotype>* fitness, ChangeRing* changes,
                std::ostream& diagnostics) {
    return runGenerations(row, mate, tolerance, cap, fitness, changes, diagnostics);
}
template <class Mating>
ZONEFIT_TARGET_AVX2 int runAvx2(const SteppingStoneRow& row, const Mating& mate, double tolerance,
                                int cap, const std::vector<Genotype>* fitness, ChangeRing* changes,
                                std::ostream& diagnostics) {
    return runGenerations(row, mate, tolerance, cap, fitness, changes, diagnostics);
}
template <class Mating>
ZONEFIT_TARGET_AVX512 int runAvx512(const SteppingStoneRow& row, const Mating& mate,
                                    double tolerance, int cap, const std::vector<Genotype>* fitness,
                                    ChangeRing* changes, std::ostream& diagnostics) {
    return runGenerations(row, mate, tolerance, cap, fitness, changes, diagnostics);
}

template <class Mating>
int runAtActiveLevel(const SteppingStoneRow& row, const Mating& mate, double tolerance, int cap,
                     const std::vector<Genotype>* fitness, ChangeRing* changes,
                     std::ostream& diagnostics) {
    switch (activeInstructionSet()) {
    case InstructionSet::avx512:
        return runAvx512(row, mate, tolerance, cap, fitness, changes, diagnostics);
    case InstructionSet::avx2:
        return runAvx2(row, mate, tolerance, cap, fitness, changes, diagnostics);
    case InstructionSet::baseline:
        break;
    }
    return runBaseline(row, mate, tolerance, cap, fitness, changes, diagnostics);
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
// form has per-deme rates.
template <class Mating>
std::vector<Genotype>
simulateRow(const std::vector<Population>& demes, const std::vector<double>& migrationRates,
            const std::vector<Genotype>& demeFitness, const std::vector<double>* demeSelfing,
            double tolerance, int maxGenerations, Mating mate, const SimulationContext& context,
            RowState* end, bool quiet) {
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
    std::vector<long> interior(roundUp(n), 0);
    std::vector<long> inRow(roundUp(n), 0);
    for (std::size_t i = 0; i < n; ++i) {
        interior[i] = i >= 1 && i + 1 < n ? -1 : 0;
        inRow[i] = -1;
    }
    row.interior = interior.data();
    row.inRow = inRow.data();

    ChangeRing ring;
    ChangeRing* changes = changesWanted(context.report) || end != nullptr ? &ring : nullptr;
    const int g =
        runAtActiveLevel(row, mate, tolerance, maxGenerations, quiet ? nullptr : &demeFitness,
                         changes, diagnosticsTo(context.diagnostics));
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
    return simulateRow(row, migrationRates, demeFitness, nullptr, tolerance, maxGenerations,
                       OneRate(selfing), context, end, quiet);
}

std::vector<Genotype> steppingStone(const std::vector<Population>& row,
                                    const std::vector<double>& migrationRates,
                                    const std::vector<Genotype>& demeFitness,
                                    const std::vector<double>& demeSelfing, double tolerance,
                                    int maxGenerations, const SimulationContext& context,
                                    RowState* end, bool quiet) {
    return simulateRow(row, migrationRates, demeFitness, &demeSelfing, tolerance, maxGenerations,
                       RatePerDeme{nullptr}, context, end, quiet);
}

std::vector<Genotype> steppingStoneByGenotype(const std::vector<Population>& row,
                                              const std::vector<double>& migrationRates,
                                              const std::vector<Genotype>& demeFitness,
                                              const std::vector<double>& genotypeSelfing,
                                              double tolerance, int maxGenerations,
                                              const SimulationContext& context, RowState* end,
                                              bool quiet) {
    return simulateRow(row, migrationRates, demeFitness, nullptr, tolerance, maxGenerations,
                       RateByGenotype(genotypeSelfing), context, end, quiet);
}

} // namespace fast
