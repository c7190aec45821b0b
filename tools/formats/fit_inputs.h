// The inputs of a fit command checked before any fit starts, so that a missing file is named
// at once rather than after the hours of the fits before the one that reads it.
#pragma once

#include "data/builtin_transect.h"

#include <string>
#include <utility>
#include <vector>

// Where the shipped example of the input file `name` (startvec1.txt, borders.txt) lies in
// the sources this program was built from: "SOURCES/examples/NAME".
std::string shippedExample(const std::string& name);

// What a fit command is about to read and write.
struct FitInputs {
    std::vector<int> models; // every model named
    // The start files read, each with its model (startvecN.txt; "07" as typed reads
    // startvec07.txt); none when the start file was given by name and checked already.
    std::vector<std::pair<int, std::string>> startFiles;
    bool checkStartContents = false; // also check each start file's rows and length
    std::vector<std::string> writes; // every file the fits create (result, log, record, ...)
    // Sites of the transect in use: the largest border borders.txt may give.
    int siteCount = builtInTransectValue().siteCount();
};

// The problems found, one message each as printed (without a line end): "zonetool fit: ...",
// but a bad borders.txt in the words zonefit uses ("Error in borders.txt: ..."). In this
// order: start files (missing, unreadable, written with commas, or - with checkStartContents -
// empty, without step sizes, too short), borders.txt when a model 3 to 6 is named (missing or
// bad), then each directory among `writes` that cannot take new files. Missing files name the
// working directory and, where the sources ship one, the example. Empty when all is well.
std::vector<std::string> fitInputProblems(const FitInputs& inputs);
