// What one evaluation of a model reads and where it reports: the transect, the boxes, the sink
// for failures met on the way (a border file that does not read) and what the simulation hands
// back (population/simulation_context.h). The caller owns everything named here and keeps it
// alive while it evaluates; evaluations with different contexts can run on different threads.
#pragma once

#include "data/failure_sink.h"
#include "data/transect_file.h"
#include "models/boxes.h"
#include "population/simulation_context.h"

struct ModelContext {
    const Transect* transect = nullptr; // the data scored; null: the built-in transect
    const ModelBox* boxes = nullptr;    // modelCount boxes, model n at n - 1; null: built in
    FailureSink* failures = nullptr;    // receives failures; null: they are dropped
    SimulationContext simulation;       // report, diagnostics and row hook of the simulation

    // The transect scored: *transect, or the built-in one.
    const Transect& data() const;
    // The box the objective of model `number` (1 to 10) tests.
    const ModelBox& box(int number) const;
    // Reports `message` to the failure sink, if there is one.
    void fail(const std::string& message) const;
};

// The context of zonefit's own objectives (ssone(x) and the others of the model table): the
// built-in transect and boxes, diagnostics on standard output, no report or hook, and
// zonefitFailures() as its sink. zonefit is one process on one thread; tools evaluate through
// contexts of their own instead.
const ModelContext& zonefitContext();

// The sink of zonefitContext(), which zonefit's schedule watches (driver/schedule.h).
FailureSink& zonefitFailures();
