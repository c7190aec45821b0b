#include "tools/transect_axes.h"

#include "data/transect.h"

std::vector<double> summedSiteDistances() {
    std::vector<double> x(siteCount);
    x[0] = 0.0;
    for (int i = 0; i < gapCount; i++) {
        x[static_cast<std::size_t>(i) + 1] = x[static_cast<std::size_t>(i)] + siteDistance[i];
    }
    return x;
}

std::vector<double> axisPositions() {
    return std::vector<double>(sitePosition, sitePosition + siteCount);
}
