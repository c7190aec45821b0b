#include "models/model_context.h"

#include "data/builtin_transect.h"
#include "models/model_table.h"

const Transect& ModelContext::data() const {
    return transect != nullptr ? *transect : builtInTransectValue();
}

const ModelBox& ModelContext::box(int number) const {
    return (boxes != nullptr ? boxes : builtinBoxSet())[number - 1];
}

void ModelContext::fail(const std::string& message) const {
    if (failures != nullptr) {
        failures->report(message);
    }
}

FailureSink& zonefitFailures() {
    // The free-function objectives cannot be handed a sink, so zonefit's is the one piece of
    // state they share; nothing but the zonefit schedule watches it.
    static FailureSink sink;
    return sink;
}

const ModelContext& zonefitContext() {
    static const ModelContext context{nullptr, nullptr, &zonefitFailures(), SimulationContext{}};
    return context;
}
