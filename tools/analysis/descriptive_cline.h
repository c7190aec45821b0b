// Descriptive clines: a sigmoid allele-frequency cline with optional exponential tails, the
// genotype frequencies it predicts with a heterozygote deficit, and the likelihood of a
// transect's counts under it, scored as the mechanistic models score them.
#pragma once

#include "data/transect_file.h"
#include "population/population.h"

#include <string>
#include <vector>

// Which sides of the sigmoid carry an exponential tail.
enum class ClineTails { none, left, right, both };

// How the heterozygote deficit F runs along the transect.
enum class DeficitShape {
    constant, // one F everywhere
    peak,     // F_peak * 4 u (1 - u), u the central sigmoid: F_peak at the centre, 0 far away
};

// The shape names of the command line: sigmoid, stepped-left, stepped-right, stepped.
const char* tailsName(ClineTails tails);
bool parseTails(const std::string& text, ClineTails& tails);

// The deficit names of the command line: constant, peak.
const char* deficitName(DeficitShape deficit);
bool parseDeficit(const std::string& text, DeficitShape& deficit);

// One descriptive model: the parameters, in the order parameterNames gives, are
//   centre, width                  (length unit of the axis; width > 0)
//   pmin, pmax                     (only with freeEnds; else 0 and 1)
//   delta_left, tau_left           (left tail: distance of the join from the centre, >= 0,
//                                   and the tail's decay as a share of 4 / width, 0 to 1)
//   delta_right, tau_right         (likewise for the right tail)
//   F or F_peak                    (heterozygote deficit, 0 to 1)
struct ClineForm {
    ClineTails tails = ClineTails::none;
    DeficitShape deficit = DeficitShape::constant;
    bool freeEnds = false;
};

// The parameter names of `form`, in vector order; their number is the model's k.
std::vector<std::string> parameterNames(const ClineForm& form);

// Where each parameter sits in the vector of `form`; -1 where the form has none.
struct ClineLayout {
    int centre = 0, width = 1;
    int pmin = -1, pmax = -1;
    int deltaLeft = -1, tauLeft = -1, deltaRight = -1, tauRight = -1;
    int deficit = -1;
    int count = 0; // k
};
ClineLayout clineLayout(const ClineForm& form);

// The standardised cline (0 to 1) at x, and 1 minus it, each computed without cancellation.
struct Standardised {
    double p; // rising from 0 at x -> -infinity to 1 at x -> +infinity
    double q; // 1 - p
    double u; // the central sigmoid 1 / (1 + exp(-4 (x - centre) / width)), for F_peak
};
Standardised standardisedCline(const ClineForm& form, const std::vector<double>& theta, double x);

// The genotype frequencies at x: p = pmin + (pmax - pmin) * standardised p is the frequency of
// the allele that rises along the axis (S when `sRises`, else I), and with the deficit F there
//   PP = p^2 + F p q,  PQ = 2 p q (1 - F),  QQ = q^2 + F p q.
// Each frequency is kept at or above the smallest normal double, so that a frequency the
// arithmetic rounds to 0 far out in a tail scores as a very small one.
Genotype clineGenotypes(const ClineForm& form, const std::vector<double>& theta, double x,
                        bool sRises);

// A transect's counts along one axis, ready for scoring.
struct ClineData {
    std::vector<double> x;             // site coordinate
    std::vector<double> nSS, nSI, nII; // counts as doubles
    bool sRises = true;                // p is the S allele's frequency (else I's)
    int individuals = 0;               // sum of all counts: the n of AICc
};

// Which coordinate the sites take.
enum class ClineAxis {
    position, // the position column
    distance, // the distances between neighbouring sites summed from the first site
};
const char* axisName(ClineAxis axis);

// The counts of `transect` along `axis`. `sRises` is set to whether the S allele is commoner
// in the upper half of the sites (by coordinate) than in the lower, weighted by sample size.
ClineData clineData(const Transect& transect, ClineAxis axis);

// The negative log-likelihood of the counts, without the multinomial coefficient, summed over
// the sites in order with the models' site score (models/site_likelihood.h).
double clineNegLogLikelihood(const ClineForm& form, const std::vector<double>& theta,
                             const ClineData& data);
