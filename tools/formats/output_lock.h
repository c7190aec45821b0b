// Output names a run takes while it writes them: a lock file NAME.lock beside each, so that a
// second run writing the same names, from another terminal or another batch job, is refused at
// once instead of destroying the first one's results.
#pragma once

#include "driver/signals.h"

#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Who holds a lock, as its lock file records it.
struct LockHolder {
    long pid = 0;
    std::string host;     // host name
    std::string boot;     // the machine's boot id; empty when unknown
    long long ticks = -1; // start of the process, in clock ticks since boot; -1 when unknown
    std::string slurmJob; // the Slurm job (JOB, or ARRAYJOB_TASK for an array task), or empty
    long restarts = 0;    // how often that job had been requeued when the run started
    std::string started;  // start of the run, as "2026-12-10 02:31:05 UTC"
    std::string command;  // its command line, control characters shown as '?'
};

// This process as a holder, with `command` (words joined by blanks) as its command line.
LockHolder thisProcess(const std::string& command);

// The text of a lock file: one "key value" line per field after a first line "zonetool lock".
std::string lockText(const LockHolder& holder);

// Reads a lock file's text back; false when `text` is not one.
bool parseLock(const std::string& text, LockHolder& holder);

// Whether the run `holder` has certainly ended, seen from the process `self`: on the same host,
// when the machine has been booted since, or no process of that id lives, or the one that does
// started at another time; on any host, when it ran in the same Slurm job before a requeue
// (that job now runs again, here). A run on another host is otherwise taken to be alive.
bool holderGone(const LockHolder& holder, const LockHolder& self);

// The holder as a message shows it: "pid 1234 on host node1, started 2026-12-10 02:31:05 UTC:
// zonetool fit 1 --seed 2".
std::string describeHolder(const LockHolder& holder);

// The lock files of one run, released when the object goes away, and removed by a stop signal
// or a failed allocation before then (see FileListArm): from the first take() on, the object
// keeps a StopSignalGuard of its own, so a stop signal that comes before the command installs
// its guard still removes them. Make it before the command's own guard.
class OutputLocks {
  public:
    OutputLocks() = default;
    ~OutputLocks();
    OutputLocks(const OutputLocks&) = delete;
    OutputLocks& operator=(const OutputLocks&) = delete;

    // Takes NAME.lock for each of `names` (repeated names once, empty ones not at all), for the
    // run `self`. A lock
    // whose holder is gone (holderGone) is taken over, with a line in `warnings` (without a
    // line end). When a name is held by a run that may be alive, or its lock file cannot be
    // read, returns false with the reason in `error` (naming the file, the other run and what
    // to do) and holds no lock. A name whose directory takes no new files is not locked:
    // writing there fails anyway, with its own message.
    bool take(const std::vector<std::string>& names, const LockHolder& self, std::string& error,
              std::vector<std::string>& warnings);

    // Removes the lock files taken; nothing when none is held.
    void release();

    // The lock files held.
    const std::vector<std::string>& paths() const { return paths_; }

  private:
    std::unique_ptr<StopSignalGuard> guard_; // from the first take() on; outlives arm_
    std::vector<std::string> paths_;
    std::vector<const char*> pointers_;
    std::unique_ptr<FileListArm> arm_;
};

// Takes the locks of `names` for the running zonetool command `command` ("fit"), with the
// recorded command line; writes the warnings, or the refusal prefixed "zonetool COMMAND: ", to
// `err` (the command's standard error). False when refused.
bool lockOutputs(std::ostream& err, const std::vector<std::string>& commandLine, OutputLocks& locks,
                 const std::string& command, const std::vector<std::string>& names);
