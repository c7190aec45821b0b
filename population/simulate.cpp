// The simulate forms: each hands the rows the fast loops serve to them and runs the others
// (a lone deme, a cap below 1, kernel points beyond the row) through the per-deme steps. With
// a row hook in the caller's context (population/row_hook.h), the fast rows are captured or
// replaced; the others run as without it. The forms without a context record nothing, write their
// diagnostics to standard output and have no hook.
#include "population/population.h"

#include <cstddef>
#include <utility>

#include "population/change_ring.h"
#include "population/diagnostics.h"
#include "population/dispersal.h"
#include "population/generation_cap.h"
#include "population/kernel_loop.h"
#include "population/row_hook.h"
#include "population/simulation_context.h"
#include "population/simulation_report.h"
#include "population/stepping_stone_loop.h"

namespace {

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

// The generation loop of the stepping-stone forms through the per-deme steps;
// `mate(deme, i)` is the mating step of deme i.
template <typename Mating>
std::vector<Genotype> steppingStone(const SimulationContext& context, std::vector<Population>& row,
                                    const std::vector<double>& migrationRates,
                                    const std::vector<Genotype>& demeFitness, double tolerance,
                                    int maxGenerations, Mating mate) {
    ChangeRing changes;
    if (maxGenerations < 1) {
        recordSimulation(context.report, 0, false, changes);
        return unsimulated(row);
    }
    const bool keep = changesWanted(context.report);
    int g = 0;
    bool changing = true;
    while (changing && g < maxGenerations) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i].goVirgins(demeFitness[i]);
            mate(row[i], i);
        }
        const double change = steppingStoneDispersal(row, migrationRates);
        if (keep) {
            changes.push(change);
        }
        changing = change >= tolerance;
        ++g;
        if (g == maxGenerations) {
            reportCap(diagnosticsTo(context.diagnostics), demeFitness);
            break;
        }
    }
    recordSimulation(context.report, g, g < maxGenerations, changes);
    return adultsOf(row, g == maxGenerations);
}

// The adults a replacing hook answers with, recorded as the run of this call.
std::vector<Genotype> replacedAdults(SimulationReport* report, const RowHook& hook) {
    recordSimulation(report, hook.recordedGenerations, hook.recordedConverged);
    return hook.state.adults;
}

// Whether `hook` replaces the run of a row of `n` demes.
bool replaces(const RowHook* hook, std::size_t n) {
    return hook != nullptr && hook->mode == RowHook::Mode::replace &&
           hook->state.adults.size() == n;
}

// What a stepping-stone form answers with: the adults of its run, or those of the state a
// capturing hook's follow-up put in their place.
std::vector<Genotype> answer(RowHook* hook, RowState* end, std::vector<Genotype> adults) {
    if (end == nullptr || hook->afterCapture == nullptr) {
        return adults;
    }
    hook->afterCapture(*hook);
    return hook->state.adults;
}

// The hook to capture into, with its dynamics set to `form` and the stepping-stone arguments.
RowState* captureInto(RowHook* hook, RowForm form, const std::vector<double>& migrationRates,
                      const std::vector<Genotype>& fitness) {
    if (hook == nullptr || hook->mode != RowHook::Mode::capture) {
        return nullptr;
    }
    hook->captured = true;
    RowDynamics& d = hook->dynamics;
    d = RowDynamics{};
    d.form = form;
    d.migrationRates = migrationRates;
    d.fitness = fitness;
    return &hook->state;
}

} // namespace

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
    simulate(SimulationContext{}, row, kernelWeights, kernelOffsets, regionFitness, selfing,
             tolerance, maxGenerations, border1, border2, kernelStep);
}

void simulate(const SimulationContext& context, std::vector<Population>& row,
              const std::vector<double>& kernelWeights, std::vector<int>& kernelOffsets,
              const std::vector<Genotype>& regionFitness, const double& selfing, double& tolerance,
              int& maxGenerations, int& border1, int& border2, double kernelStep) {
    const int cap = maxGenerations;
    ChangeRing changes;
    if (cap < 1) {
        recordSimulation(context.report, 0, false, changes);
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
    RowHook* hook = context.rowHook;
    if (inRow && replaces(hook, row.size())) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i].adults = hook->state.adults[i];
            row[i].larvae = hook->state.larvae[i];
        }
        replacedAdults(context.report, *hook);
        return;
    }
    if (inRow) {
        RowState* end = captureInto(hook, RowForm::kernel, {}, regionFitness);
        if (end != nullptr) {
            RowDynamics& d = hook->dynamics;
            d.selfing = F;
            d.kernelWeights = kernelWeights;
            d.kernelOffsets = kernelOffsets;
            d.kernelStep = kernelStep;
            d.border1 = first;
            d.border2 = second;
        }
        fast::kernel(row, kernelWeights, kernelOffsets, regionFitness, F, tol, cap, first, second,
                     kernelStep, context, end);
        if (end != nullptr && hook->afterCapture != nullptr) {
            hook->afterCapture(*hook);
            for (std::size_t i = 0; i < row.size(); ++i) {
                row[i].adults = hook->state.adults[i];
                row[i].larvae = hook->state.larvae[i];
            }
        }
        return;
    }
    // Otherwise the checked dispersal refuses the first point outside the row.
    const bool keep = changesWanted(context.report);
    int g = 0;
    bool changing = true;
    while (changing && g < cap) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i].goVirgins(regionFitness[detectRegion(static_cast<int>(i), first, second)]);
            row[i].goZygotes(F);
        }
        const double change = kernelDispersal(row, kernelWeights, kernelOffsets, kernelStep);
        if (keep) {
            changes.push(change);
        }
        changing = change >= tol;
        ++g;
        if (g == cap) {
            reportCap(diagnosticsTo(context.diagnostics), regionFitness);
            break;
        }
    }
    recordSimulation(context.report, g, g < cap, changes);
}

std::vector<Genotype> simulate(std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness, const double& selfing,
                               double tolerance, int maxGenerations) {
    return simulate(SimulationContext{}, std::move(row), migrationRates, demeFitness, selfing,
                    tolerance, maxGenerations);
}

std::vector<Genotype> simulate(const SimulationContext& context, std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness, const double& selfing,
                               double tolerance, int maxGenerations) {
    const double F = selfing;
    if (maxGenerations >= 1 && row.size() >= 2) {
        RowHook* hook = context.rowHook;
        if (replaces(hook, row.size())) {
            return replacedAdults(context.report, *hook);
        }
        RowState* end = captureInto(hook, RowForm::oneRate, migrationRates, demeFitness);
        if (end != nullptr) {
            hook->dynamics.selfing = F;
        }
        return answer(hook, end,
                      fast::steppingStone(row, migrationRates, demeFitness, F, tolerance,
                                          maxGenerations, context, end));
    }
    return steppingStone(context, row, migrationRates, demeFitness, tolerance, maxGenerations,
                         [F](Population& deme, std::size_t) { deme.goZygotes(F); });
}

std::vector<Genotype> simulate(std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness,
                               const std::vector<double>& demeSelfing, double tolerance,
                               int maxGenerations) {
    return simulate(SimulationContext{}, std::move(row), migrationRates, demeFitness, demeSelfing,
                    tolerance, maxGenerations);
}

std::vector<Genotype> simulate(const SimulationContext& context, std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness,
                               const std::vector<double>& demeSelfing, double tolerance,
                               int maxGenerations) {
    if (maxGenerations >= 1 && row.size() >= 2) {
        RowHook* hook = context.rowHook;
        if (replaces(hook, row.size())) {
            return replacedAdults(context.report, *hook);
        }
        RowState* end = captureInto(hook, RowForm::ratePerDeme, migrationRates, demeFitness);
        if (end != nullptr) {
            hook->dynamics.selfingRates = demeSelfing;
        }
        return answer(hook, end,
                      fast::steppingStone(row, migrationRates, demeFitness, demeSelfing, tolerance,
                                          maxGenerations, context, end));
    }
    return steppingStone(
        context, row, migrationRates, demeFitness, tolerance, maxGenerations,
        [&demeSelfing](Population& deme, std::size_t i) { deme.goZygotes(demeSelfing[i]); });
}

std::vector<Genotype> simulateByGenotype(std::vector<Population> row,
                                         const std::vector<double>& migrationRates,
                                         const std::vector<Genotype>& demeFitness,
                                         const std::vector<double>& genotypeSelfing,
                                         double tolerance, int maxGenerations) {
    return simulateByGenotype(SimulationContext{}, std::move(row), migrationRates, demeFitness,
                              genotypeSelfing, tolerance, maxGenerations);
}

std::vector<Genotype> simulateByGenotype(const SimulationContext& context,
                                         std::vector<Population> row,
                                         const std::vector<double>& migrationRates,
                                         const std::vector<Genotype>& demeFitness,
                                         const std::vector<double>& genotypeSelfing,
                                         double tolerance, int maxGenerations) {
    if (maxGenerations >= 1 && row.size() >= 2) {
        RowHook* hook = context.rowHook;
        if (replaces(hook, row.size())) {
            return replacedAdults(context.report, *hook);
        }
        RowState* end = captureInto(hook, RowForm::rateByGenotype, migrationRates, demeFitness);
        if (end != nullptr) {
            hook->dynamics.selfingRates = genotypeSelfing;
        }
        return answer(hook, end,
                      fast::steppingStoneByGenotype(row, migrationRates, demeFitness,
                                                    genotypeSelfing, tolerance, maxGenerations,
                                                    context, end));
    }
    std::ostream& diagnostics = diagnosticsTo(context.diagnostics);
    return steppingStone(context, row, migrationRates, demeFitness, tolerance, maxGenerations,
                         [&genotypeSelfing, &diagnostics](Population& deme, std::size_t) {
                             deme.goZygotes(genotypeSelfing, diagnostics);
                         });
}
