// The kernel form on a structure-of-arrays copy of the row. Plain twin: the kernel
// plain::simulate in tests/reference/plain_population.cpp, which takes a snapshot of the row and
// builds the reflected indices and Simpson weights of every deme every generation; the tests
// hold the two to the same bits. Each value is computed by exactly the operations, in exactly
// the order, of migKernel; only the layout and the bookkeeping differ:
// - index tables, Simpson weights and kernel weights are built once per call;
// - the zygotes are read, already multiplied by the kernel step (once per source deme), from an
//   array padded with the reflected ends of the row, so that one loop serves every deme; the
//   terms are then (value * step) * weight * Simpson weight, summed in point order from 0;
// - no snapshot is taken, the change of each larva value is measured as it is overwritten, and
//   the adults are dispersed once, from the virgins of the last generation.
#include "population/kernel_loop.h"

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

// Kernel points in the order of the offsets: padded-array offset, weight and Simpson weight,
// the weights also broadcast to a block each (point k at lanes * k).
struct KernelPoints {
    std::vector<std::ptrdiff_t> offsets;
    std::vector<double> weights;
    std::vector<double> simpson;
    std::vector<double> weightLanes;
    std::vector<double> simpsonLanes;
    std::size_t reach = 0; // largest |offset|: the padding on each side of the row
};

// What the loops read of the kernel points, as plain pointers into a KernelPoints.
struct PointTable {
    std::size_t points;
    const std::ptrdiff_t* offsets;
    const double* weightLanes;
    const double* simpsonLanes;
    const double* weights;
    const double* simpson;
};

PointTable tableOf(const KernelPoints& kernel) {
    return {kernel.offsets.size(),      kernel.offsets.data(), kernel.weightLanes.data(),
            kernel.simpsonLanes.data(), kernel.weights.data(), kernel.simpson.data()};
}

// Kernel dispersal into the block from deme i0 on, from stage arrays that hold value * step
// and are padded by the kernel's reach, then each sum divided by SS sum + SI sum + II sum.
// With `measure`, the change of each value is folded into `largest`. The weights are read as
// scalars where the level loads a scalar into every lane in one instruction (AVX2 and wider)
// and from their copies broadcast to a block where it does not (SSE2); either way each term is
// the same product.
template <bool measure, class Block>
ZONEFIT_INLINE void kernelBlock(std::size_t i0, const Stage& scaled, const PointTable& kernel,
                                const Stage& to, Block& largest) {
    constexpr bool scalarWeights = 2 < widthOf<Block>;
    Block sumSS = {};
    Block sumSI = {};
    Block sumII = {};
    const std::size_t points = kernel.points;
    const std::ptrdiff_t* offsets = kernel.offsets;
    for (std::size_t k = 0; k < points; ++k) {
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(i0) + offsets[k];
        if (scalarWeights) {
            const double w = kernel.weights[k];
            const double s = kernel.simpson[k];
            sumSS = sumSS + loadLanes<Block>(scaled.SS + at) * w * s;
            sumSI = sumSI + loadLanes<Block>(scaled.SI + at) * w * s;
            sumII = sumII + loadLanes<Block>(scaled.II + at) * w * s;
        } else {
            const Block w = loadLanes<Block>(kernel.weightLanes + lanes * k);
            const Block s = loadLanes<Block>(kernel.simpsonLanes + lanes * k);
            sumSS = sumSS + loadLanes<Block>(scaled.SS + at) * w * s;
            sumSI = sumSI + loadLanes<Block>(scaled.SI + at) * w * s;
            sumII = sumII + loadLanes<Block>(scaled.II + at) * w * s;
        }
    }
    const Block total = sumSS + sumSI + sumII;
    const Block nSS = sumSS / total;
    const Block nSI = sumSI / total;
    const Block nII = sumII / total;
    if (measure) {
        foldChange(largest, absLanes(nSS - loadLanes<Block>(to.SS + i0)));
        foldChange(largest, absLanes(nSI - loadLanes<Block>(to.SI + i0)));
        foldChange(largest, absLanes(nII - loadLanes<Block>(to.II + i0)));
    }
    storeLanes(to.SS + i0, nSS);
    storeLanes(to.SI + i0, nSI);
    storeLanes(to.II + i0, nII);
}

// The same for the single deme i, for the demes after the last whole block. With `measure`,
// the change of each value raises `change` when larger (a non-number never does).
template <bool measure>
ZONEFIT_INLINE void kernelDeme(std::size_t i, const Stage& scaled, const PointTable& kernel,
                               const Stage& to, double& change) {
    double sumSS = 0.0;
    double sumSI = 0.0;
    double sumII = 0.0;
    const std::size_t points = kernel.points;
    const std::ptrdiff_t* offsets = kernel.offsets;
    const double* weights = kernel.weights;
    const double* simpson = kernel.simpson;
    for (std::size_t k = 0; k < points; ++k) {
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(i) + offsets[k];
        const double w = weights[k];
        const double s = simpson[k];
        sumSS = sumSS + scaled.SS[at] * w * s;
        sumSI = sumSI + scaled.SI[at] * w * s;
        sumII = sumII + scaled.II[at] * w * s;
    }
    const double total = sumSS + sumSI + sumII;
    const double nSS = sumSS / total;
    const double nSI = sumSI / total;
    const double nII = sumII / total;
    if (measure) {
        const double moved[3] = {std::fabs(nSS - to.SS[i]), std::fabs(nSI - to.SI[i]),
                                 std::fabs(nII - to.II[i])};
        for (double d : moved) {
            change = d > change ? d : change;
        }
    }
    to.SS[i] = nSS;
    to.SI[i] = nSI;
    to.II[i] = nII;
}

// Kernel dispersal of the whole row (n demes) from padded, scaled stage arrays, unmeasured.
void kernelStage(std::size_t n, const Stage& scaled, const KernelPoints& points, const Stage& to) {
    const PointTable kernel = tableOf(points);
    Lanes8 unused = {};
    double unmeasured = 0.0;
    std::size_t i = 0;
    for (; i + lanes <= n; i += lanes) {
        kernelBlock<false>(i, scaled, kernel, to, unused);
    }
    for (; i < n; ++i) {
        kernelDeme<false>(i, scaled, kernel, to, unmeasured);
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
        storeLanes(to.SS + i, loadLanes<Lanes8>(from.SS + i) * step);
        storeLanes(to.SI + i, loadLanes<Lanes8>(from.SI + i) * step);
        storeLanes(to.II + i, loadLanes<Lanes8>(from.II + i) * step);
    }
}

// The working arrays of a row of n demes: larvae, virgins, zygotes and fitness padded to whole
// blocks, and the zygotes times the kernel step with `reach` demes of reflected padding on each
// side (inRow points at deme 0 of it).
struct KernelRow {
    std::size_t n;
    Stage L, V, Z, f;
    Stage padded, inRow;
};

// One generation: selection and mating of every deme, then kernel dispersal of the zygotes into
// the larvae. Each whole block is dispersed as soon as the demes it reads have mated, in the
// same pass, so that the divisions of selection overlap the kernel sums. Returns whether some
// larva value moved by `tolerance` or more; with `changes`, the largest larva change of the
// generation is pushed onto it. Blocks of type Block; the last one mated may reach into the
// padding.
template <class Block>
ZONEFIT_INLINE bool generation(const KernelRow& row, const PointTable& kernel, std::size_t reach,
                               const OneRate<Block>& mate, const Block& step, double tolerance,
                               ChangeRing* changes) {
    constexpr std::size_t width = widthOf<Block>;
    const std::size_t n = row.n;
    const std::size_t whole = n / width;
    Block largest = {};
    std::size_t next = 0; // the next whole block to disperse
    bool leftReady = false;
    for (std::size_t i0 = 0; i0 < n; i0 += width) {
        Block zSS, zSI, zII;
        selectAndMateBlock(i0, row.L, row.f, row.V, row.Z, mate, zSS, zSI, zII);
        storeLanes(row.inRow.SS + i0, zSS * step);
        storeLanes(row.inRow.SI + i0, zSI * step);
        storeLanes(row.inRow.II + i0, zII * step);
        const std::size_t mated = i0 + width < n ? i0 + width - 1 : n - 1; // last deme so far
        if (!leftReady && mated >= reach) {
            reflectLeft(reach, row.padded);
            leftReady = true;
        }
        // Block `next` reads demes up to its last one plus the reach.
        while (next < whole && next * width + width - 1 + reach <= mated) {
            kernelBlock<true>(next * width, row.padded, kernel, row.L, largest);
            ++next;
        }
    }
    if (!leftReady) {
        reflectLeft(reach, row.padded);
    }
    reflectRight(n, reach, row.padded);
    for (; next < whole; ++next) {
        kernelBlock<true>(next * width, row.padded, kernel, row.L, largest);
    }
    double tailChange = 0.0;
    for (std::size_t i = whole * width; i < n; ++i) {
        kernelDeme<true>(i, row.padded, kernel, row.L, tailChange);
    }
    if (changes != nullptr) {
        changes->push(largestLane(largest, tailChange));
    }
    return anyLane(largest >= tolerance) || tailChange >= tolerance;
}

// Runs generations until the larvae stop changing by `tolerance` or the cap; returns the
// number run. At the cap, reports `capReport` when it is not null.
template <class Block>
ZONEFIT_INLINE int runGenerations(const KernelRow& rowIn, const KernelPoints& points,
                                  const Selfing& selfing, double step, double tolerance,
                                  int maxGenerations, const std::vector<Genotype>* capReport,
                                  ChangeRing* changes, std::ostream& diagnostics) {
    // Local copies: the compiler can then keep the array pointers, the kernel and the mating
    // factors in registers, since no store to the arrays can reach them.
    const KernelRow row = rowIn;
    const PointTable kernel = tableOf(points);
    const std::size_t reach = points.reach;
    const OneRate<Block> mate(selfing);
    // The measure starts from 0, which already reaches a tolerance of 0 or less.
    const bool alwaysChanging = 0.0 >= tolerance;
    const Block stepLanes = broadcast<Block>(step);
    int g = 0;
    bool changing = true;
    while (changing && g < maxGenerations) {
        changing = generation<Block>(row, kernel, reach, mate, stepLanes, tolerance, changes) ||
                   alwaysChanging;
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
int runBaseline(const KernelRow& row, const KernelPoints& kernel, const Selfing& selfing,
                double step, double tolerance, int cap, const std::vector<Genotype>* fitness,
                ChangeRing* changes, std::ostream& diagnostics) {
    return runGenerations<Lanes2>(row, kernel, selfing, step, tolerance, cap, fitness, changes,
                                  diagnostics);
}
ZONEFIT_TARGET_AVX2 int runAvx2(const KernelRow& row, const KernelPoints& kernel,
                                const Selfing& selfing, double step, double tolerance, int cap,
                                const std::vector<Genotype>* fitness, ChangeRing* changes,
                                std::ostream& diagnostics) {
    return runGenerations<Lanes4>(row, kernel, selfing, step, tolerance, cap, fitness, changes,
                                  diagnostics);
}
ZONEFIT_TARGET_AVX512 int runAvx512(const KernelRow& row, const KernelPoints& kernel,
                                    const Selfing& selfing, double step, double tolerance, int cap,
                                    const std::vector<Genotype>* fitness, ChangeRing* changes,
                                    std::ostream& diagnostics) {
    return runGenerations<Lanes8>(row, kernel, selfing, step, tolerance, cap, fitness, changes,
                                  diagnostics);
}

int runAtActiveLevel(const KernelRow& row, const KernelPoints& kernel, const Selfing& selfing,
                     double step, double tolerance, int cap, const std::vector<Genotype>* fitness,
                     ChangeRing* changes, std::ostream& diagnostics) {
    switch (activeInstructionSet()) {
    case InstructionSet::avx512:
        return runAvx512(row, kernel, selfing, step, tolerance, cap, fitness, changes, diagnostics);
    case InstructionSet::avx2:
        return runAvx2(row, kernel, selfing, step, tolerance, cap, fitness, changes, diagnostics);
    case InstructionSet::baseline:
        break;
    }
    return runBaseline(row, kernel, selfing, step, tolerance, cap, fitness, changes, diagnostics);
}

} // namespace

void kernel(std::vector<Population>& row, const std::vector<double>& kernelWeights,
            const std::vector<int>& kernelOffsets, const std::vector<Genotype>& regionFitness,
            double selfing, double tolerance, int maxGenerations, int border1, int border2,
            double kernelStep, const SimulationContext& context, RowState* end, bool quiet) {
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
    for (std::size_t k = 0; k < kernelWeights.size(); ++k) {
        kernel.weightLanes.insert(kernel.weightLanes.end(), lanes, kernel.weights[k]);
        kernel.simpsonLanes.insert(kernel.simpsonLanes.end(), lanes, kernel.simpson[k]);
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
    Selfing rates;
    rates.rate = selfing;

    ChangeRing ring;
    ChangeRing* changes = changesWanted(context.report) || end != nullptr ? &ring : nullptr;
    const int g = runAtActiveLevel(rows, kernel, rates, kernelStep, tolerance, maxGenerations,
                                   quiet ? nullptr : &regionFitness, changes,
                                   diagnosticsTo(context.diagnostics));
    if (!quiet) {
        recordSimulation(context.report, g, g < maxGenerations, ring);
    }

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
    if (end != nullptr) {
        end->larvae.resize(n);
        end->adults.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            end->larvae[i] = row[i].larvae;
            end->adults[i] = row[i].adults;
        }
        end->generations = g;
        end->converged = g < maxGenerations;
        end->changes = ring;
    }
}

} // namespace fast
