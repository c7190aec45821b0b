#include "reference/plain_population.h"

#include <cmath>
#include <functional>
#include <ostream>

#include "population/diagnostics.h"
#include "population/simulation_context.h"
#include "population/simulation_report.h"

namespace plain {

namespace {

using Stage = Genotype Population::*;
using Field = double Genotype::*;
const Field fields[3] = {&Genotype::SS, &Genotype::SI, &Genotype::II};

// The generation loop shared by every form: `fitnessOf(i)` and `mate(deme, i)` are the form's
// per-deme steps, `disperse(row)` its dispersal; `reported` are the fitness entries listed at
// the cap. Returns the number of generations run.
int loop(const SimulationContext& context, std::vector<Population>& row, int cap,
         const std::function<Genotype(int)>& fitnessOf,
         const std::function<void(Population&, int)>& mate,
         const std::function<bool(std::vector<Population>&)>& disperse,
         const std::vector<Genotype>& reported) {
    bool going = true;
    int g = 0;
    while (going && g < cap) {
        for (int i = 0; i < static_cast<int>(row.size()); ++i) {
            goVirgins(row[i], fitnessOf(i));
            mate(row[i], i);
        }
        going = disperse(row);
        g = g + 1;
        if (g == cap) {
            std::ostream& out = diagnosticsTo(context.diagnostics);
            out << "max number of generations exceeded\n";
            for (std::size_t r = 0; r < reported.size() && r < 3; ++r) {
                out << (r == 0 ? "" : " ") << reported[r].SI << " " << reported[r].II;
            }
            out << "\n";
        }
    }
    recordSimulation(context.report, g, g < cap);
    return g;
}

std::vector<Genotype> adults(const std::vector<Population>& row, bool marked) {
    std::vector<Genotype> result;
    for (const Population& p : row) {
        result.push_back(p.adults);
    }
    if (marked) {
        result.at(0).SS = 2.0;
    }
    return result;
}

std::vector<Genotype> larvae(const std::vector<Population>& row) {
    std::vector<Genotype> result;
    for (const Population& p : row) {
        result.push_back(p.larvae);
    }
    result.at(0).SS = 2.0;
    return result;
}

std::vector<Genotype> steppingStone(const SimulationContext& context, std::vector<Population>& row,
                                    const std::vector<double>& migrationRates,
                                    const std::vector<Genotype>& demeFitness, double tolerance,
                                    int maxGenerations,
                                    const std::function<void(Population&, int)>& mate) {
    if (maxGenerations < 1) {
        recordSimulation(context.report, 0, false);
        return larvae(row);
    }
    const int g = loop(
        context, row, maxGenerations, [&](int i) { return demeFitness.at(i); }, mate,
        [&](std::vector<Population>& r) { return plain::migration(r, migrationRates, tolerance); },
        demeFitness);
    return adults(row, g == maxGenerations);
}

} // namespace

int itr(int i, int last) {
    if (i < 0) {
        return -i;
    }
    if (i > last) {
        return 2 * last - i;
    }
    return i;
}

std::vector<double> getSimpson(int n) {
    std::vector<double> s;
    for (int k = 0; k < n; ++k) {
        if (k == 0 || k == n - 1) {
            s.push_back(1.0 / 3.0);
        } else if (k % 2 == 1) {
            s.push_back(4.0 / 3.0);
        } else {
            s.push_back(2.0 / 3.0);
        }
    }
    return s;
}

std::vector<int> createIndx(int focal, const std::vector<int>& kernelOffsets, int last) {
    std::vector<int> indices;
    for (int offset : kernelOffsets) {
        indices.push_back(itr(offset + focal, last));
    }
    return indices;
}

Genotype migKernel(const std::vector<Population>& row, const std::vector<double>& kernelWeights,
                   double kernelStep, const std::vector<int>& indices, bool useZygotes) {
    const std::vector<double> s = getSimpson(static_cast<int>(kernelWeights.size()));
    double sum[3] = {0.0, 0.0, 0.0};
    for (std::size_t k = 0; k < indices.size(); ++k) {
        const Population& source = row.at(static_cast<std::size_t>(indices[k]));
        const Genotype g = useZygotes ? source.zygotes : source.virgins;
        for (int f = 0; f < 3; ++f) {
            sum[f] = sum[f] + g.*fields[f] * kernelStep * kernelWeights.at(k) * s.at(k);
        }
    }
    const double total = sum[0] + sum[1] + sum[2];
    return {sum[0] / total, sum[1] / total, sum[2] / total};
}

void goVirgins(Population& deme, const Genotype& w) {
    const Genotype& L = deme.larvae;
    const double a = w.SS * L.SS;
    const double b = w.SI * L.SI;
    const double c = w.II * L.II;
    const double W = a + b + c;
    deme.virgins = Genotype{a / W, b / W, c / W};
}

void goZygotes(Population& deme, double F) {
    const Genotype& V = deme.virgins;
    const double p = V.SS + 0.5 * V.SI;
    const double q = 0.5 * V.SI + V.II;
    deme.zygotes.SS = (V.SS + 0.25 * V.SI) * F + p * p * (1 - F);
    deme.zygotes.SI = F * V.SI * 0.5 + 2 * (1 - F) * p * q;
    deme.zygotes.II = (0.25 * V.SI + V.II) * F + q * q * (1 - F);
}

void goZygotes(Population& deme, const std::vector<double>& s, std::ostream& diagnostics) {
    const Genotype& V = deme.virgins;
    const double T = (1 - s.at(0)) * V.SS + (1 - s.at(1)) * V.SI + (1 - s.at(2)) * V.II;
    const double p = (1 - s.at(0)) * V.SS / T + 0.5 * (1 - s.at(1)) * V.SI / T;
    const double q = 0.5 * (1 - s.at(1)) * V.SI / T + (1 - s.at(2)) * V.II / T;
    deme.zygotes.SS = p * p * T + (s.at(0) * V.SS + 0.25 * s.at(1) * V.SI);
    deme.zygotes.SI = 2 * p * q * T + 0.5 * s.at(1) * V.SI;
    deme.zygotes.II = q * q * T + (0.25 * s.at(1) * V.SI + s.at(2) * V.II);
    const double S = deme.zygotes.SI + deme.zygotes.SS + deme.zygotes.II;
    if (std::fabs(1 - S) > 1e-7) {
        diagnostics << "zygotes off =" << S << "\n";
    }
}

double largestChange(const std::vector<Population>& row, const std::vector<Population>& before) {
    double d = 0;
    for (std::size_t i = 0; i < row.size(); ++i) {
        for (Field f : fields) {
            const double c = std::fabs(row[i].larvae.*f - before.at(i).larvae.*f);
            if (c > d) {
                d = c;
            }
        }
    }
    return d;
}

bool migration(std::vector<Population>& row, const std::vector<double>& m, double tolerance) {
    const std::vector<Population> snapshot = row;
    const int n = static_cast<int>(row.size());
    const std::pair<Stage, Stage> moves[2] = {{&Population::virgins, &Population::adults},
                                              {&Population::zygotes, &Population::larvae}};
    for (int i = 0; i < n; ++i) {
        for (const auto& move : moves) {
            for (Field field : fields) {
                auto f = [&](int j) { return snapshot.at(j).*(move.first).*field; };
                double value;
                if (i == 0) {
                    value = (1 - m.at(0)) * f(0) + m.at(0) * f(1);
                } else if (i == n - 1) {
                    value = (1 - m.at(n - 2)) * f(n - 1) + m.at(n - 2) * f(n - 2);
                } else {
                    value = (1 - m.at(i - 1) - m.at(i)) * f(i) + m.at(i) * f(i + 1) +
                            m.at(i - 1) * f(i - 1);
                }
                row[i].*(move.second).*field = value;
            }
        }
    }
    return plain::largestChange(row, snapshot) >= tolerance;
}

bool migration(std::vector<Population>& row, const std::vector<double>& kernelWeights,
               const std::vector<int>& kernelOffsets, double kernelStep, double tolerance) {
    const std::vector<Population> snapshot = row;
    const int last = static_cast<int>(row.size()) - 1;
    for (int i = 0; i <= last; ++i) {
        const std::vector<int> indices = createIndx(i, kernelOffsets, last);
        row[i].adults = plain::migKernel(snapshot, kernelWeights, kernelStep, indices, false);
        row[i].larvae = plain::migKernel(snapshot, kernelWeights, kernelStep, indices, true);
    }
    return plain::largestChange(row, snapshot) >= tolerance;
}

void simulate(std::vector<Population>& row, const std::vector<double>& kernelWeights,
              std::vector<int>& kernelOffsets, const std::vector<Genotype>& regionFitness,
              const double& selfing, double& tolerance, int& maxGenerations, int& border1,
              int& border2, double kernelStep) {
    plain::simulate(SimulationContext{}, row, kernelWeights, kernelOffsets, regionFitness, selfing,
                    tolerance, maxGenerations, border1, border2, kernelStep);
}

void simulate(const SimulationContext& context, std::vector<Population>& row,
              const std::vector<double>& kernelWeights, std::vector<int>& kernelOffsets,
              const std::vector<Genotype>& regionFitness, const double& selfing, double& tolerance,
              int& maxGenerations, int& border1, int& border2, double kernelStep) {
    if (maxGenerations < 1) {
        recordSimulation(context.report, 0, false);
        return;
    }
    loop(
        context, row, maxGenerations,
        [&](int i) { return regionFitness.at(i >= border2 ? 2 : (i >= border1 ? 1 : 0)); },
        [&](Population& deme, int) { goZygotes(deme, selfing); },
        [&](std::vector<Population>& r) {
            return plain::migration(r, kernelWeights, kernelOffsets, kernelStep, tolerance);
        },
        regionFitness);
}

std::vector<Genotype> simulate(std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness, const double& selfing,
                               double tolerance, int maxGenerations) {
    return plain::simulate(SimulationContext{}, row, migrationRates, demeFitness, selfing,
                           tolerance, maxGenerations);
}

std::vector<Genotype> simulate(const SimulationContext& context, std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness, const double& selfing,
                               double tolerance, int maxGenerations) {
    return steppingStone(context, row, migrationRates, demeFitness, tolerance, maxGenerations,
                         [&](Population& deme, int) { goZygotes(deme, selfing); });
}

std::vector<Genotype> simulate(std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness,
                               const std::vector<double>& demeSelfing, double tolerance,
                               int maxGenerations) {
    return plain::simulate(SimulationContext{}, row, migrationRates, demeFitness, demeSelfing,
                           tolerance, maxGenerations);
}

std::vector<Genotype> simulate(const SimulationContext& context, std::vector<Population> row,
                               const std::vector<double>& migrationRates,
                               const std::vector<Genotype>& demeFitness,
                               const std::vector<double>& demeSelfing, double tolerance,
                               int maxGenerations) {
    return steppingStone(context, row, migrationRates, demeFitness, tolerance, maxGenerations,
                         [&](Population& deme, int i) { goZygotes(deme, demeSelfing.at(i)); });
}

std::vector<Genotype> simulateByGenotype(std::vector<Population> row,
                                         const std::vector<double>& migrationRates,
                                         const std::vector<Genotype>& demeFitness,
                                         const std::vector<double>& genotypeSelfing,
                                         double tolerance, int maxGenerations) {
    return plain::simulateByGenotype(SimulationContext{}, row, migrationRates, demeFitness,
                                     genotypeSelfing, tolerance, maxGenerations);
}

std::vector<Genotype> simulateByGenotype(const SimulationContext& context,
                                         std::vector<Population> row,
                                         const std::vector<double>& migrationRates,
                                         const std::vector<Genotype>& demeFitness,
                                         const std::vector<double>& genotypeSelfing,
                                         double tolerance, int maxGenerations) {
    std::ostream& diagnostics = diagnosticsTo(context.diagnostics);
    return steppingStone(
        context, row, migrationRates, demeFitness, tolerance, maxGenerations,
        [&](Population& deme, int) { goZygotes(deme, genotypeSelfing, diagnostics); });
}

} // namespace plain
