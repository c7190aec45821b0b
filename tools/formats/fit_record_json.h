// The text of a fit record RESULT.json: the record as a JSON document and read back from one.
#pragma once

#include "models/objective_kind.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One finished fit. Only cpuSeconds and wallSeconds may differ between two runs of the same
// seeded fit.
struct FitRecord {
    int model = 0;                        // model number, 1 to 10
    std::string name;                     // model name, as in SS_1
    std::vector<std::string> parameters;  // parameter names, in vector order
    std::vector<double> point;            // the best point, as long as the start vector
    double value = 0.0;                   // the objective's value at the point
    std::optional<std::uint64_t> seed;    // every annealer's seed; none for a clock-seeded fit
    long evaluations = 0;                 // objective evaluations of the fit
    std::vector<double> start;            // start vector
    std::vector<double> steps;            // simplex step sizes
    std::vector<bool> free;               // per coordinate: its step is not 0
    double cpuSeconds = 0.0;              // CPU time of the fit's thread
    double wallSeconds = 0.0;             // wall time of the fit
    std::string programVersion;           // see programVersion()
    std::vector<std::string> commandLine; // zonetool's arguments, the program name first
    std::string data;                     // the --data file as given; empty: built-in transect
    std::string dataChecksum; // its checksum (tools/formats/data_option.h); empty: built in
    ObjectiveKind objective = ObjectiveKind::zonefit; // the value the fit minimised
    std::string locus; // --locus of a file with a locus column; empty: none (JSON null)
};

// The record as a JSON document, one member per line, ending with a line end; "locus" follows
// "objective" when a locus is set.
std::string fitRecordJson(const FitRecord& record);

// Reads a record back from its JSON text; a record without "objective" (written before it was
// recorded) is one of zonefit's objective, one without "locus" one of no locus. The record
// holds "locus" only when a locus is set, so that records without one keep their text. Refuses
// anything but a record of this format and version with every member present and of its type, and
// lists of inconsistent lengths. On failure returns false with a one-line reason in `error`.
bool parseFitRecord(const std::string& text, FitRecord& record, std::string& error);

// Reads the record file at `path`. On failure returns false with a reason that starts with
// the path.
bool readFitRecord(const std::string& path, FitRecord& record, std::string& error);
