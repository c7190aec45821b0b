// The --data and --box options of the zonetool commands: which transect the models read and
// which boxes they test.
#pragma once

#include "data/transect_file.h"
#include "models/model_context.h"
#include "models/model_table.h"
#include "models/scaled_boxes.h"

#include <ostream>
#include <string>
#include <vector>

// The data a command works on.
struct DataContext {
    std::string path;     // the --data file as given; empty for the built-in transect
    std::string checksum; // "fnv1a64:" and 16 hex digits of the file's bytes; empty when built in
    Transect transect;    // the file's transect, or the built-in one
    BoxSet boxes;         // the boxes in force: scaled to the transect, then the --box settings
    bool customBoxes = false; // a --data file or a --box was given: `boxes` are installed
    std::vector<std::string> boxOptions; // each --box NAME=LO:HI as given, in order
    std::string locus; // --locus: the locus of a file with a locus column; empty for none
    // slurm's --loci: the loci its tasks fit, in the file's order for "all", else as listed;
    // empty when not given. `transect` is then that of the first of them.
    std::vector<std::string> loci;
    // The words the command was started with (argv, the program's path first), kept in the
    // records and lock files it writes; empty for a command run in-process by a test.
    std::vector<std::string> commandLine;

    // The transect the models read: the file's, or the built-in one (also when this context
    // was never filled by readDataOptions).
    const Transect& data() const;
    // The box of model `number` (1 to 10) in force.
    const ModelBox& box(int number) const;
    // A model context on this transect and these boxes with `failures` (null: dropped) and
    // the simulation `simulation`. It points into this context, which must outlive it.
    ModelContext models(FailureSink* failures = nullptr,
                        const SimulationContext& simulation = SimulationContext{}) const;
};

// Takes `--data FILE` and any number of `--box NAME=LO:HI` (also as --data=FILE and
// --box=NAME=LO:HI) out of `args`; the other arguments go to `rest` in their order. Reads the
// file, scales the boxes to it (models/scaled_boxes.h) and applies the --box settings in the
// order given; NAME is a parameter name as 'zonetool models' prints it and sets that bound in
// every model that has the parameter. Returns -1 when all is well, else the exit status after
// the message on standard error: 2 for a bad argument ("zonetool COMMAND: PROBLEM" and the
// help pointer), 1 for a file that cannot be used (the reader's message, naming the file and
// the line). The file is read only when the options themselves are good. `--locus NAME`
// selects one locus of a file with a locus column (data/locus_transects.h); such a file
// with several loci needs it. For the command "slurm" only, `--loci all` or `--loci A,B,...`
// names several loci of such a file instead (each checked to be in it); messages:
//   "--loci needs locus names separated by commas, or all" (an empty name), "--loci names
//   locus 'A' twice", "--loci is given twice", "--loci and --locus cannot be used together",
//   "--loci needs --data FILE, a file with a locus column" (usage errors, status 2);
//   "Error in NAME: the file has no locus column; --loci cannot be used" and selectLocus's
//   "Error in NAME: no locus 'L' (the loci are A, B, C)" (status 1).
// The messages go to `err`.
int readDataOptions(const std::string& command, const std::vector<std::string>& args,
                    std::vector<std::string>& rest, DataContext& context, std::ostream& err);

// The FNV-1a 64-bit hash of `bytes`, as 16 lower-case hexadecimal digits.
std::string fnv1a64(const std::string& bytes);
