#include "tools/analysis/analyse_derived.h"

#include "tools/analysis/analyse_stages.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

std::string regionLabel(const std::string& suffix) {
    if (suffix.empty()) {
        return "all sites";
    }
    if (suffix == "L") {
        return "left";
    }
    if (suffix == "R") {
        return "right";
    }
    return "region " + suffix;
}

Bounded rangeOf(const std::vector<double>& values) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Bounded b{values.empty() ? nan : values.front(), nan, nan};
    for (double v : values) {
        if (std::isnan(v)) {
            continue;
        }
        b.lower = std::isnan(b.lower) ? v : std::min(b.lower, v);
        b.upper = std::isnan(b.upper) ? v : std::max(b.upper, v);
    }
    return b;
}

std::vector<SelectionCoefficient>
selectionCoefficients(const std::vector<std::string>& names,
                      const std::vector<std::vector<double>>& points) {
    static const char* const genotypes[3] = {"SS", "SI", "II"};
    // Per region suffix, the parameter index of each genotype's fitness (-1: the reference).
    std::vector<std::string> suffixes;
    std::vector<std::array<int, 3>> index;
    for (std::size_t j = 0; j < names.size(); j++) {
        const std::string& name = names[j];
        if (name.size() < 3 || name[0] != 'w') {
            continue;
        }
        int g = -1;
        for (int k = 0; k < 3; k++) {
            if (name.compare(1, 2, genotypes[k]) == 0) {
                g = k;
            }
        }
        if (g < 0 || (name.size() > 3 && name[3] != '_')) {
            continue;
        }
        const std::string suffix = name.size() > 4 ? name.substr(4) : "";
        auto found = std::find(suffixes.begin(), suffixes.end(), suffix);
        if (found == suffixes.end()) {
            suffixes.push_back(suffix);
            index.push_back({-1, -1, -1});
            found = suffixes.end() - 1;
        }
        index[static_cast<std::size_t>(found - suffixes.begin())][static_cast<std::size_t>(g)] =
            static_cast<int>(j);
    }
    std::vector<SelectionCoefficient> coefficients;
    for (std::size_t r = 0; r < suffixes.size(); r++) {
        for (int g = 0; g < 3; g++) {
            std::vector<double> s;
            for (const std::vector<double>& point : points) {
                double w[3];
                for (int k = 0; k < 3; k++) {
                    const int j = index[r][static_cast<std::size_t>(k)];
                    w[k] = j < 0 ? 1.0 : point[static_cast<std::size_t>(j)];
                }
                const double fittest = std::max({w[0], w[1], w[2]});
                s.push_back(fittest > 0.0 ? 1.0 - w[g] / fittest
                                          : std::numeric_limits<double>::quiet_NaN());
            }
            coefficients.push_back({genotypes[g], regionLabel(suffixes[r]), rangeOf(s)});
        }
    }
    return coefficients;
}

void deriveQuantities(const DataContext& data, const ProfileLimits& limits,
                      ModelAnalysis& analysis) {
    const std::vector<std::string> names = parameterNames(data, analysis.model);
    const std::vector<EvaluatedPoint> within = pointsWithinLimit(limits);
    std::vector<std::vector<double>> points;
    for (const EvaluatedPoint& p : within) {
        points.push_back(p.point);
    }
    analysis.limitPoints = static_cast<int>(points.size());
    analysis.selection = selectionCoefficients(names, points);

    std::vector<double> centre, width, sigmaEff;
    std::vector<std::vector<double>> deficit;
    for (const std::vector<double>& point : points) {
        const ClineNumbers n = clineNumbersAt(data, analysis.model, point);
        if (!n.predicted) {
            continue;
        }
        if (analysis.axis.empty()) {
            analysis.axis = n.axis;
        }
        centre.push_back(n.centre);
        width.push_back(n.width);
        sigmaEff.push_back(n.sigmaEffective);
        deficit.resize(std::max(deficit.size(), n.deficit.size()));
        for (std::size_t r = 0; r < n.deficit.size(); r++) {
            deficit[r].push_back(n.deficit[r]);
        }
    }
    const std::string unit = "length unit of the data";
    analysis.derived = {{"centre", unit, rangeOf(centre)}, {"width", unit, rangeOf(width)}};
    if (!sigmaEff.empty() && !std::isnan(sigmaEff.front())) {
        analysis.derived.push_back({"sigma_eff", unit, rangeOf(sigmaEff)});
    }
    // The regions of F_IS are those of the fitnesses when they agree in number.
    std::vector<std::string> regions;
    for (const SelectionCoefficient& c : analysis.selection) {
        if (std::find(regions.begin(), regions.end(), c.region) == regions.end()) {
            regions.push_back(c.region);
        }
    }
    for (std::size_t r = 0; r < deficit.size(); r++) {
        const std::string region =
            regions.size() == deficit.size() ? regions[r] : "region " + std::to_string(r + 1);
        analysis.derived.push_back({"F_IS " + region, "", rangeOf(deficit[r])});
    }
    analysis.settledness = settlednessWords(data, analysis.model, limits.estimate);
}
