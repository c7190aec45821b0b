#include "tools/transect_axes.h"

#include "data/active_transect.h"

std::vector<double> summedSiteDistances() {
    std::vector<double> x(activeTransect().siteCount());
    x[0] = 0.0;
    for (int i = 0; i < (activeTransect().siteCount() - 1); i++) {
        x[static_cast<std::size_t>(i) + 1] =
            x[static_cast<std::size_t>(i)] + activeTransect().distances[i];
    }
    return x;
}

std::vector<double> axisPositions() {
    return activeTransect().positions;
}

std::vector<double> sitePositionsFor(const ModelEntry& model) {
    return model.geometry == Geometry::kernelGrid ? axisPositions() : summedSiteDistances();
}
