// The check of a start point against the boxes in force, made by every command before any
// work: a point outside its box would only be answered with penalties, and the "fit" found
// from it would be a penalty too.
#pragma once

#include "models/model_table.h"
#include "tools/formats/data_option.h"

#include <string>
#include <vector>

// The index of the first of the model's parameters whose value in `point` lies outside its
// box in `data`, or -1 when every one lies inside. Entries past the point's end or the
// model's parameters are not looked at.
int firstOutsideBox(const DataContext& data, const ModelEntry& model,
                    const std::vector<double>& point);

// "" when `point` lies inside the boxes of `data`; otherwise the one-line message (without
// the "zonetool COMMAND: " before it and without a line end) naming the file, the first
// parameter outside, its value and its box, and ending with `advice`:
//   "FILE: NAME = VALUE lies outside its box BOX for this transect; ADVICE"
// "for this transect" when a --data file is in force, "set by --box" when only --box
// settings are, nothing for the built-in boxes. VALUE is the shortest text that reads back
// as the value.
std::string startBoxProblem(const DataContext& data, const std::string& file,
                            const ModelEntry& model, const std::vector<double>& point,
                            const std::string& advice);

// The advice for a start file of `model`: "run 'zonetool explore N' (or 'zonetool start N')
// for a start inside it", followed by ", or give --start FILE" unless a --start file was
// given already.
std::string startFileAdvice(const ModelEntry& model, bool startGiven);

// The advice for a fitted point that a profile would start from: "profile a fit of model N
// made with the same --data and --box".
std::string profileBoxAdvice(const ModelEntry& model);

// Reads the start file `path` and checks its start vector as startBoxProblem does. A file
// that cannot be read, or holds no start vector, gives "": the readers of the fit name those
// problems in their own words.
std::string startFileBoxProblem(const DataContext& data, const std::string& path,
                                const ModelEntry& model, bool startGiven);
