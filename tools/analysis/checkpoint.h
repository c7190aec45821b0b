// The checkpoint file of a fit: its whole state after an anneal call, as text with a checksum.
#pragma once

#include "driver/schedule.h"
#include "models/objective_kind.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Format number of the checkpoint file, and the program version it records; a checkpoint of
// another format or version is refused (its state might not continue the same fit).
constexpr int checkpointFormat = 1;
extern const char* const checkpointProgramVersion;

// The word a checkpoint file starts with, followed by a blank and the format number.
extern const char* const checkpointMagic;

// Everything a checkpoint file holds (see docs/checkpoint.md).
struct Checkpoint {
    int format = checkpointFormat;
    std::string program = checkpointProgramVersion;
    int model = 0;
    std::optional<std::uint64_t> seed;                // empty: clock-seeded
    ObjectiveKind objective = ObjectiveKind::zonefit; // the value the fit minimises
    std::vector<double> start;
    std::vector<double> steps;
    ScheduleState state;
    long evaluations = 0;      // objective evaluations up to this state
    double progressBest = 0.0; // lowest value of any evaluation so far
    double cpuSeconds = 0.0;   // process CPU time of the fit so far
    double wallSeconds = 0.0;  // wall time of the fit so far
    long long logBytes = 0;    // length of the log at this state
    long long traceBytes = -1; // length of the trace at this state; -1 without a trace
};

// The checkpoint as text, doubles as hexadecimal floating point, ending in a checksum line.
std::string formatCheckpoint(const Checkpoint& checkpoint);

// Reads a checkpoint from `text` after checking its checksum (one without an "objective" line,
// from before it was recorded, is of zonefit's objective); on failure returns false with the
// reason in `error` ("no checksum line", "checksum does not match", "line N: ...", or "the
// saved state does not fit its start vector"). The caller checks the magic word and format
// first, since another format may use another checksum.
bool parseCheckpoint(const std::string& text, Checkpoint& checkpoint, std::string& error);

// Under Slurm (SLURM_JOB_ID set) runs `scontrol requeue $SLURM_JOB_ID` without a shell and says
// on `err` what was done or why nothing was.
void requeueStoppedJob(std::ostream& err);
