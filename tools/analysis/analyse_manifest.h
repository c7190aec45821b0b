// Stage manifests of `zonetool analyse`: what each stage was made from and what it wrote, so
// that a stage whose outputs exist and match its inputs is skipped when the analysis runs again.
#pragma once

#include <string>
#include <utility>
#include <vector>

// One stage's manifest: its inputs (settings and the checksums of the files it read, as
// key-value pairs), its outputs (file names relative to the analysis directory, with their
// checksums) and the CPU and wall seconds the stage took.
struct StageManifest {
    std::vector<std::pair<std::string, std::string>> inputs;
    std::vector<std::pair<std::string, std::string>> outputs;
    double cpuSeconds = 0.0;
    double wallSeconds = 0.0;
};

// The manifest as text: "input<TAB>KEY<TAB>VALUE", "output<TAB>NAME<TAB>CHECKSUM", "cpu<TAB>S"
// and "wall<TAB>S" lines; tabs and line ends in values are written as blanks.
std::string manifestText(const StageManifest& manifest);

// Reads manifestText's text; false when a line does not read.
bool parseManifest(const std::string& text, StageManifest& manifest);

// What a stage's manifest says about running it again with `inputs`.
enum class StageState {
    missing, // no manifest: the stage has not finished (or never ran)
    current, // same inputs, and every output there with its checksum: skip the stage
    stale,   // same inputs, but an output is missing or changed: run it again
    other,   // made from other inputs
};

// Compares the manifest at `path` (read from disk) with `inputs`; outputs are checked in
// directory `dir`. `difference` names the first input that differs (state other).
StageState stageState(const std::string& path, const std::string& dir,
                      const std::vector<std::pair<std::string, std::string>>& inputs,
                      std::string& difference);
