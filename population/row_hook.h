// The hand-over of a row between the simulate forms and a caller that wants more than their
// result: the dynamics of the row (what one generation does), the state a run ended in, and a
// hook, passed down in the simulation context (population/simulation_context.h), through which
// an objective's simulate call either hands these over or returns a state the caller has
// already computed.
#pragma once

#include <ostream>
#include <vector>

#include "population/change_ring.h"
#include "population/population.h"

// Which simulate form runs the row.
enum class RowForm {
    none,           // nothing captured
    oneRate,        // stepping stone, one selfing rate
    ratePerDeme,    // stepping stone, one selfing rate per deme
    rateByGenotype, // stepping stone, selfing rates of SS, SI and II individuals
    kernel,         // kernel dispersal with one selfing rate and region fitnesses
};

// Everything one generation of a row depends on, copied from the arguments of its form.
struct RowDynamics {
    RowForm form = RowForm::none;
    std::vector<double> migrationRates; // stepping stone: rate between deme i and i + 1
    std::vector<Genotype> fitness;      // stepping stone: per deme; kernel: per region
    double selfing = 0.0;               // oneRate and kernel
    std::vector<double> selfingRates;   // ratePerDeme: per deme; rateByGenotype: SS, SI, II
    std::vector<double> kernelWeights;  // kernel: density at each point
    std::vector<int> kernelOffsets;     // kernel: deme offset of each point
    double kernelStep = 0.0;            // kernel: deme spacing
    int border1 = 0;                    // kernel: first deme of region 1 (see detectRegion)
    int border2 = 0;                    // kernel: first deme of region 2
};

// The state a run ended in.
struct RowState {
    std::vector<Genotype> larvae; // per deme
    std::vector<Genotype> adults; // per deme: the virgins of the last generation, dispersed
    int generations = 0;          // generations of the run
    bool converged = false;       // whether the run stopped before its cap
    ChangeRing changes;           // the largest larva change of its last generations
};

// What the simulate forms do with the hook of their context.
struct RowHook {
    enum class Mode {
        capture, // run as usual, then copy the dynamics and the end state into the hook
        replace, // run nothing: answer with `state` (adults, and larvae for the kernel form)
    };
    Mode mode = Mode::capture;
    bool captured = false; // set by a form that captured
    RowDynamics dynamics;
    RowState state;
    int recordedGenerations = 0; // replace: the generation count recorded for the run
    bool recordedConverged = true;
    // capture: when set, called once the run is captured; it may replace `state` (adults, and
    // larvae for the kernel form), which the form then answers with instead of its own run's.
    void (*afterCapture)(RowHook& hook) = nullptr;
    void* context = nullptr; // for afterCapture
};

// Runs `dynamics` from `state.larvae` through the fast loops, at most `maxGenerations`
// (>= 1) generations, until no larva value changes by `tolerance`. Quiet: no message at the
// cap, nothing recorded in the simulation report. Replaces `state` with the end of this run.
// False, leaving `state` untouched, for rows the fast loops do not serve (fewer than two demes,
// kernel points beyond the row). "zygotes off" lines go to `diagnostics` (null: standard
// output).
bool continueRow(const RowDynamics& dynamics, RowState& state, double tolerance, int maxGenerations,
                 std::ostream* diagnostics = nullptr);
