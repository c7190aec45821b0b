// Transect files with a `locus` column: one row per site and locus, read into one Transect per
// locus. Files without the column read exactly as readTransect reads them.
#pragma once

#include "data/transect_file.h"

#include <istream>
#include <string>
#include <vector>

// One locus of a transect file.
struct LocusTransect {
    std::string locus; // the locus name; empty for a file without a locus column
    Transect transect;
};

// Reads a transect file that may carry a seventh column, `locus`. Without it the file is read
// by readTransect, with its messages, into one LocusTransect of empty name. With it, each
// locus's rows (in file order, which need not be together) must form a transect by the rules
// of readTransect, with its messages, followed by " (locus 'L')" where they concern a row or
// the locus's sites; and every locus must have the same sites, in the same order, at the same
// positions and distances as the first. Loci come in the order of their first row. Further
// messages (K the line, L the locus, M the first locus, N and J counts):
//   "Error in NAME line K: F fields, but the header names 7 columns", with
//    " (is the locus name missing?)" when F is 6
//   "Error in NAME line K: locus name 'X' holds a control character"
//   "Error in NAME line K: locus name NA: every row needs its locus"
//   "Error in NAME: locus 'L' has N sites, but locus 'M' has J"
//   "Error in NAME line K: locus 'L' has site 'X' where locus 'M' has site 'Y'"
//   "Error in NAME line K: site 'X' of locus 'L' has position P, but P2 at locus 'M'"
//   "Error in NAME line K: site 'X' of locus 'L' has distance D, but D2 at locus 'M'"
// Returns false with `error` set and `loci` unchanged on the first problem found.
bool readLocusTransects(std::istream& in, const std::string& name, std::vector<LocusTransect>& loci,
                        std::string& error);

// Of `loci` as read above, the transect of locus `locus` into `transect`; `locus` empty asks
// for the file's only transect. Messages:
//   "Error in NAME: no locus 'L' (the loci are A, B, C)"
//   "Error in NAME: the file has no locus column; --locus L cannot be used"
//   "Error in NAME: the file holds N loci; choose one with --locus NAME (A, B, C)"
bool selectLocus(const std::vector<LocusTransect>& loci, const std::string& name,
                 const std::string& locus, Transect& transect, std::string& error);
