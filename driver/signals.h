// What a fit does when it is stopped from outside or runs out of a resource: it removes the
// temporary file it may be writing, says why it stops, and ends with an honest status.
#pragma once

#include <csignal>
#include <cstddef>
#include <new>

// Signals that end a fit: interrupt (Ctrl-C), terminate (kill, batch systems) and hang-up (the
// terminal closed).
constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int stopSignalCount = 3;

// What a stop signal does while a StopSignalGuard lives.
enum class StopMode {
    end,    // clean up and end the process at once (see below)
    request // only record the signal (see stopRequestSignal), also for SIGUSR1; the fit
            // notices, keeps its last saved state and ends by itself
};

// The stop signal recorded in StopMode::request since the guard was made, or 0.
int stopRequestSignal();

// While an object of this class lives:
// - each stop signal removes the armed temporary files (see TemporaryFileArm), writes one line
//   to standard error and ends the process by that same signal, so a shell reports 128 + its
//   number (130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP). A stop signal that the process
//   inherited as ignored (nohup, background jobs) stays ignored.
// - SIGXFSZ is ignored, so that writing past the file-size limit fails with an error the
//   program reports (EFBIG) instead of killing it with a half-written file.
// - a memory allocation that fails removes the armed temporary files, writes a message to
//   standard error and ends the process with exit status 1.
// The destructor restores the previous handling. One object serves every thread of the process,
// and only one should live at a time.
class StopSignalGuard {
  public:
    explicit StopSignalGuard(StopMode mode = StopMode::end);
    ~StopSignalGuard();
    StopSignalGuard(const StopSignalGuard&) = delete;
    StopSignalGuard& operator=(const StopSignalGuard&) = delete;

  private:
    struct sigaction previousStop_[stopSignalCount + 1]; // the last one for SIGUSR1
    bool replaced_[stopSignalCount + 1];
    struct sigaction previousFileSize_;
    std::new_handler previousNewHandler_;
};

// While an object of this class lives, a stop signal or a failed allocation removes the file
// `path`: a temporary file that is about to be created and that the owner renames or removes
// before the object goes away. Objects on several threads may live at once (up to 32; beyond
// that a file is simply not removed). The name is copied; one of 4096 characters or more is not
// armed.
class TemporaryFileArm {
  public:
    explicit TemporaryFileArm(const char* path);
    ~TemporaryFileArm();
    TemporaryFileArm(const TemporaryFileArm&) = delete;
    TemporaryFileArm& operator=(const TemporaryFileArm&) = delete;

    // Whether the file is armed.
    bool armed() const { return slot_ >= 0; }

  private:
    int slot_;
};

// While an object of this class lives, a stop signal or a failed allocation removes each of the
// `count` files named in `paths`: the lock files a run holds on its output names. The array and
// the names stay the caller's and must not change while the object lives. Up to 8 lists may be
// armed at once, from any thread; beyond that a list is simply not armed.
class FileListArm {
  public:
    FileListArm(const char* const* paths, std::size_t count);
    ~FileListArm();
    FileListArm(const FileListArm&) = delete;
    FileListArm& operator=(const FileListArm&) = delete;

    // Whether the list is armed.
    bool armed() const { return slot_ >= 0; }

  private:
    int slot_;
};

// The line a stop signal writes to standard error, as in
// "Stopped by SIGINT: the unfinished fit is abandoned and its result file left as it was.
// Exiting (130)".
const char* stopMessage(int signal);

// The line written when memory runs out.
extern const char* const outOfMemoryMessage;
