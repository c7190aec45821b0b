// What `zonetool analyse` found for each model: the numbers of its report, its estimates.tsv and
// its analysis.json, read back from the stages' files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A value with its support limits: the range of the quantity over the fitted point and the
// profile points whose -lnL lies within the support limit of the best. NaN where unknown.
struct Bounded {
    double value = 0.0;
    double lower = 0.0;
    double upper = 0.0;
    bool lowerFound = true; // false: the profile never rose by the limit on that side (the
    bool upperFound = true; // limit is the farthest value examined, or the parameter's bound)
};

// One fitted parameter.
struct ParameterEstimate {
    std::string name;    // as 'zonetool models' prints it
    std::string meaning; // one line
    Bounded estimate;
};

// A fitness turned into a selection coefficient s = 1 - w / w_max, w_max the largest fitness
// of the genotypes of the same region (the reference genotype counting 1): 0 for the fittest
// genotype, 1 for a lethal one.
struct SelectionCoefficient {
    std::string genotype; // "SS", "SI" or "II"
    std::string region;   // "all sites", "left", "right", "region 2", ...
    Bounded s;
};

// A derived quantity of the fitted cline (centre, width, sigma_eff, F_IS of a region).
struct DerivedQuantity {
    std::string name; // "centre", "width", "sigma_eff", "F_IS left", ...
    std::string unit; // "" for none
    Bounded estimate;
};

// Everything the report says about one model.
struct ModelAnalysis {
    int model = 0;
    std::string name;   // SS_1 ... C_3_F0
    std::string prefix; // its result-file prefix, the name of its directory in DIR
    int parameters = 0; // k
    double negLogL = 0.0;
    double aic = 0.0;
    double aicc = 0.0;
    double deltaAicc = 0.0;
    double weight = 0.0;   // Akaike weight (from AICc)
    int confirmations = 0; // search starts that ended at the best optimum
    int searchStarts = 0;  // search starts in all
    std::vector<ParameterEstimate> estimates;
    std::vector<SelectionCoefficient> selection;
    std::vector<DerivedQuantity> derived;
    std::string axis;          // the axis of centre and width ("position" or "summed distance")
    std::string settledness;   // the equilibrium's settledness, in words
    int limitPoints = 0;       // profile points within the limit, the fit included
    std::string fitFigure;     // the fit's SVG document
    std::string profileFigure; // the profiles' SVG document
};

// A descriptive cline fitted beside the models ('zonetool cline'): a curve without a
// mechanism, whose centre and width a paper compares with the models'.
struct DescriptiveCline {
    std::string shape;                        // "sigmoid" or "stepped"
    int parameters = 0;                       // k: its free parameters
    double negLogL = 0.0;                     // -lnL at its estimate, on the models' scale
    double aicc = 0.0;                        // with the models' n
    double deltaAicc = 0.0;                   // AICc less the best model's
    std::string axis;                         // "position" or "distance"
    std::vector<ParameterEstimate> estimates; // centre, width, ..., with their limits
    std::string figure;                       // its SVG document
};

// What was run.
struct RunFacts {
    std::string version;
    std::string command; // the command line as typed, arguments joined by blanks
    std::string effort;
    std::uint64_t seed = 0;
    std::string dataFile; // "built-in" for the shipped data
    std::string dataChecksum;
    double units = 2.0; // the support limit, in log-likelihood units
    double cpuSeconds = 0.0;
    double wallSeconds = 0.0;
    int sampled = 0; // n of AICc
};

struct Analysis {
    RunFacts run;
    std::vector<ModelAnalysis> models;    // by AICc, best first
    std::vector<DescriptiveCline> clines; // sigmoid, then stepped
};
