// zonetool slurm: writes (and optionally submits) a Slurm job array of fits or profile sides,
// with a job that collects the results once every task has ended.
#pragma once

#include "tools/formats/options.h"
#include "tools/formats/run_context.h"
#include "tools/formats/slurm_script.h"

#include <string>
#include <vector>

// Runs `program` (looked up on PATH) with `arguments`, no shell in between, and returns its
// exit status (or 128 + signal), its standard output in `out`. Its standard error is ours.
// -1 when it cannot be started.
int runCaptured(const std::string& program, const std::vector<std::string>& arguments,
                std::string& out);

// The job id in what `sbatch --parsable` printed: the text before any ';' (the cluster name)
// and the line end. Empty when that is not a whole number.
std::string parsableJobId(const std::string& printed);

// Where a script written now runs: the working directory, this very program (so that the jobs
// run the program that checked their inputs), and the --data (made absolute), --box and
// --locus words of `data`. False, with errno set, when the directory or the program cannot be
// found.
bool scriptPlaceOf(const DataContext& data, ScriptPlace& place);

// An option setter that stores a Slurm partition (with `partition`: also a comma-separated
// list) or account name into `target`, refusing any other text (#SBATCH lines are read
// without a shell).
OptionParser::ValueSetter storeSlurmName(std::string& target, bool partition);

// The command: zonetool slurm MODELS [options] or zonetool slurm --profile MODEL [options].
// Returns the exit status.
int slurmCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const slurmHelp;
