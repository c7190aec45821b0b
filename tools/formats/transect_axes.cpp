#include "tools/formats/transect_axes.h"

std::vector<double> summedSiteDistances(const Transect& transect) {
    std::vector<double> x(transect.siteCount());
    x[0] = 0.0;
    for (int i = 0; i < (transect.siteCount() - 1); i++) {
        x[static_cast<std::size_t>(i) + 1] = x[static_cast<std::size_t>(i)] + transect.distances[i];
    }
    return x;
}

std::vector<double> axisPositions(const Transect& transect) {
    return transect.positions;
}

std::vector<double> sitePositionsFor(const Transect& transect, const ModelEntry& model) {
    return model.geometry == Geometry::kernelGrid ? axisPositions(transect)
                                                  : summedSiteDistances(transect);
}
