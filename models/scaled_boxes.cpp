#include "models/scaled_boxes.h"

#include "data/builtin_transect.h"

#include <cstring>

namespace {

bool named(const ParameterInfo& parameter, const char* name) {
    return std::strcmp(parameter.name, name) == 0;
}

// The factor a bound of `parameter` of `model` scales with, or 1 for a bound without a unit
// of length or deme (fitnesses, selfing rates).
double factorFor(const ModelEntry& model, const ParameterInfo& parameter,
                 const TransectScale& scale) {
    if (model.geometry == Geometry::kernelGrid) {
        const bool length = named(parameter, "sigma") || named(parameter, "contact") ||
                            named(parameter, "border1") || named(parameter, "border2");
        return length ? scale.kernel : 1.0;
    }
    if (named(parameter, "sigma")) {
        return scale.stepping;
    }
    if (model.borders == BorderSource::demeParameter && named(parameter, "border")) {
        return scale.demes;
    }
    return 1.0;
}

} // namespace

TransectScale transectScale(const Transect& transect) {
    const Transect& builtIn = builtInTransectValue();
    TransectScale scale;
    scale.kernel = largestPosition(transect) / largestPosition(builtIn);
    scale.stepping = totalDistance(transect) / totalDistance(builtIn);
    scale.demes = static_cast<double>(transect.siteCount()) / builtIn.siteCount();
    return scale;
}

BoxSet::BoxSet() {
    for (int m = 0; m < modelCount; m++) {
        const ModelEntry& model = modelTable[m];
        parameters_[m].assign(model.parameters, model.parameters + model.parameterCount);
        boxes_[m] = builtinBox(model);
    }
    bind();
}

BoxSet::BoxSet(const BoxSet& other) {
    *this = other;
}

BoxSet& BoxSet::operator=(const BoxSet& other) {
    for (int m = 0; m < modelCount; m++) {
        parameters_[m] = other.parameters_[m];
        boxes_[m] = other.boxes_[m];
    }
    bind();
    return *this;
}

void BoxSet::bind() {
    for (int m = 0; m < modelCount; m++) {
        boxes_[m].parameters = parameters_[m].data();
    }
}

void BoxSet::scale(const TransectScale& scale) {
    for (int m = 0; m < modelCount; m++) {
        for (ParameterInfo& parameter : parameters_[m]) {
            const double factor = factorFor(modelTable[m], parameter, scale);
            // An exact factor of 1 leaves every bound as it is, infinite ones included.
            if (factor != 1.0) {
                parameter.lower = parameter.lower * factor;
                parameter.upper = parameter.upper * factor;
                parameter.exploreLow = parameter.exploreLow * factor;
                parameter.exploreHigh = parameter.exploreHigh * factor;
            }
        }
    }
}

int BoxSet::override(const std::string& name, double lower, double upper, int model) {
    int changed = 0;
    for (int m = 0; m < modelCount; m++) {
        if (model != 0 && m != model - 1) {
            continue;
        }
        for (ParameterInfo& parameter : parameters_[m]) {
            if (name == parameter.name) {
                parameter.lower = lower;
                parameter.upper = upper;
                changed++;
            }
        }
    }
    return changed;
}
