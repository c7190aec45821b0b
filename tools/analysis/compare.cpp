#include "tools/analysis/compare.h"

#include "data/builtin_transect.h"
#include "tools/analysis/summary.h"

#include <algorithm>
#include <cmath>

int sampledIndividuals(const Transect& transect) {
    int total = 0;
    for (int i = 0; i < transect.siteCount(); i++) {
        total += transect.countSS[i] + transect.countSI[i] + transect.countII[i];
    }
    return total;
}

double saturatedNegLogLikelihood(const Transect& transect) {
    double value = 0.0;
    for (int i = 0; i < transect.siteCount(); i++) {
        const double n =
            static_cast<double>(transect.countSS[i] + transect.countSI[i] + transect.countII[i]);
        for (int count : {transect.countSS[i], transect.countSI[i], transect.countII[i]}) {
            if (count > 0) {
                value -= count * std::log(count / n);
            }
        }
    }
    return value;
}

int saturatedParameters(const Transect& transect) {
    return 2 * transect.siteCount();
}

std::vector<ComparisonRow> compareResults(const Transect& transect,
                                          const std::vector<StoredResult>& results) {
    const double n = sampledIndividuals(transect);
    const double saturated = saturatedNegLogLikelihood(transect);
    std::vector<ComparisonRow> all;
    for (const StoredResult& result : results) {
        ComparisonRow row;
        row.result = result;
        row.parameters = freeParameterCount(result.free, findModel(result.model)->parameterCount);
        const double k = row.parameters;
        row.negLogL = result.value;
        row.aic = 2.0 * k + 2.0 * result.value;
        row.aicc = row.aic + 2.0 * k * (k + 1.0) / (n - k - 1.0);
        row.g = 2.0 * (result.value - saturated);
        row.df = saturatedParameters(transect) - row.parameters;
        row.weight = std::nan("");
        all.push_back(row);
    }
    // The best fit of each model: the first of the lowest -ln L.
    std::vector<ComparisonRow> best;
    for (const ComparisonRow& row : all) {
        auto same = std::find_if(best.begin(), best.end(), [&](const ComparisonRow& b) {
            return b.result.model == row.result.model;
        });
        if (same == best.end()) {
            best.push_back(row);
        } else if (row.negLogL < same->negLogL) {
            *same = row;
        }
    }
    std::stable_sort(best.begin(), best.end(),
                     [](const ComparisonRow& a, const ComparisonRow& b) { return a.aic < b.aic; });
    if (best.empty()) {
        return best;
    }
    const double lowestAic = best.front().aic;
    double lowestAicc = best.front().aicc;
    for (const ComparisonRow& row : best) {
        lowestAicc = std::min(lowestAicc, row.aicc);
    }
    // The lowest row is 0 even when every criterion is infinite.
    auto delta = [](double value, double lowest) { return value == lowest ? 0.0 : value - lowest; };
    double sum = 0.0;
    for (ComparisonRow& row : best) {
        row.best = true;
        row.deltaAic = delta(row.aic, lowestAic);
        row.deltaAicc = delta(row.aicc, lowestAicc);
        row.weight = std::exp(-row.deltaAic / 2.0);
        sum += row.weight;
    }
    std::vector<ComparisonRow> rows;
    for (ComparisonRow& row : best) {
        row.weight /= sum;
        rows.push_back(row);
        std::vector<ComparisonRow> others;
        bool skipped = false;
        for (const ComparisonRow& other : all) {
            if (other.result.model != row.result.model) {
                continue;
            }
            // The best row itself, once: identical rows of other files stay.
            if (!skipped && other.result.path == row.result.path && other.negLogL == row.negLogL) {
                skipped = true;
                continue;
            }
            others.push_back(other);
        }
        std::stable_sort(
            others.begin(), others.end(),
            [](const ComparisonRow& a, const ComparisonRow& b) { return a.negLogL < b.negLogL; });
        for (ComparisonRow& other : others) {
            other.deltaAic = delta(other.aic, lowestAic);
            other.deltaAicc = delta(other.aicc, lowestAicc);
            rows.push_back(other);
        }
    }
    return rows;
}
