#include "tools/formats/output_lock.h"

#include "tools/formats/fit_record.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <pthread.h>
#include <sstream>
#include <unistd.h>

namespace {

// Holds back the stop signals on the calling thread while it lives; one that arrives meanwhile is
// handled when the object goes away. Lock files are made and armed, or disarmed and removed,
// under it, so that a stop signal never finds a lock file that it would not remove.
class HeldStopSignals {
  public:
    HeldStopSignals() {
        sigset_t stops;
        sigemptyset(&stops);
        for (int signal : stopSignals) {
            sigaddset(&stops, signal);
        }
        pthread_sigmask(SIG_BLOCK, &stops, &previous_);
    }
    ~HeldStopSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    HeldStopSignals(const HeldStopSignals&) = delete;
    HeldStopSignals& operator=(const HeldStopSignals&) = delete;

  private:
    sigset_t previous_;
};

std::string firstLineOf(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// Field 22 of /proc/PID/stat: when the process started, in clock ticks since boot; -1 when
// there is no such process or no /proc. The command name before it is in parentheses and may
// hold blanks and parentheses itself, so the fields are counted from the last ')'.
long long processTicks(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(in, text);
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    for (int k = 3; k <= 22; k++) {
        if (!(fields >> field)) {
            return -1;
        }
    }
    return std::atoll(field.c_str());
}

std::string readText(const std::string& path, bool& found) {
    std::ifstream in(path, std::ios::binary);
    found = static_cast<bool>(in);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Writes `text` to a new file `path`; false when it cannot be made or written.
bool writeNew(const std::string& path, const std::string& text, int flags) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | flags, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const bool closed = close(fd) == 0;
    if (!written || !closed) {
        unlink(path.c_str());
        return false;
    }
    return true;
}

// Makes the lock file `lockPath` with `text` unless it exists. The text goes to a file of this
// process first and is linked into place, so that no other run ever reads half a lock; a file
// system without links gets the lock file made exclusively instead.
enum class Made { yes, exists, impossible };

Made makeLock(const std::string& lockPath, const std::string& text) {
    const std::string temporary = lockPath + ".tmp" + std::to_string(static_cast<long>(getpid()));
    if (!writeNew(temporary, text, O_TRUNC)) {
        return Made::impossible;
    }
    const int linked = link(temporary.c_str(), lockPath.c_str());
    const int linkError = errno;
    unlink(temporary.c_str());
    if (linked == 0) {
        return Made::yes;
    }
    if (linkError == EEXIST) {
        return Made::exists;
    }
    if (writeNew(lockPath, text, O_EXCL)) {
        return Made::yes;
    }
    return errno == EEXIST ? Made::exists : Made::impossible;
}

std::string oneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = '?';
        }
    }
    return line;
}

// Takes NAME.lock for `self` (whose lock file text is `text`), taking over a lock whose holder
// is gone; refused with the reason in `error`.
enum class Taken { yes, notPossible, refused };

Taken takeOne(const std::string& name, const LockHolder& self, const std::string& text,
              std::string& error, std::vector<std::string>& warnings) {
    const std::string lockPath = name + ".lock";
    const std::string aside = lockPath + ".stale" + std::to_string(self.pid);
    // A few rounds, since other runs may take or release the lock between two steps.
    for (int round = 0; round < 5; round++) {
        const Made made = makeLock(lockPath, text);
        if (made != Made::exists) {
            return made == Made::yes ? Taken::yes : Taken::notPossible;
        }
        bool found = false;
        const std::string current = readText(lockPath, found);
        if (!found) {
            continue; // released in the meantime
        }
        LockHolder holder;
        if (!parseLock(current, holder)) {
            error = lockPath +
                    " exists but is not a lock file of zonetool; remove it if no run "
                    "is writing " +
                    name;
            return Taken::refused;
        }
        if (!holderGone(holder, self)) {
            error = name + " is being written by another run (" + describeHolder(holder) +
                    "); wait for it to end or write elsewhere (if that run is gone, remove " +
                    lockPath + ")";
            return Taken::refused;
        }
        // Moved aside first: of several runs that found the same stale lock, only one moves
        // it. What was moved is checked to be that lock and not the fresh one of a run that
        // took over just before; a fresh one is put back (unless yet another run has taken
        // the name by then, which the next round finds).
        if (rename(lockPath.c_str(), aside.c_str()) != 0) {
            continue;
        }
        const std::string moved = readText(aside, found);
        if (moved != current) {
            static_cast<void>(link(aside.c_str(), lockPath.c_str()));
            unlink(aside.c_str());
            continue;
        }
        unlink(aside.c_str());
        warnings.push_back("warning: " + lockPath + " was left by a run that has ended (" +
                           describeHolder(holder) + "); it is taken over");
    }
    error = "cannot take " + lockPath + ": other runs keep taking and releasing it";
    return Taken::refused;
}

} // namespace

LockHolder thisProcess(const std::string& command) {
    LockHolder self;
    self.pid = static_cast<long>(getpid());
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) {
        self.host = oneLine(host);
    }
    self.boot = oneLine(firstLineOf("/proc/sys/kernel/random/boot_id"));
    self.ticks = processTicks(self.pid);
    // A task of an array has an id of its own, but requeues keep the array's id and task number.
    const char* job = std::getenv("SLURM_JOB_ID");
    const char* arrayJob = std::getenv("SLURM_ARRAY_JOB_ID");
    const char* arrayTask = std::getenv("SLURM_ARRAY_TASK_ID");
    if (arrayJob != nullptr && *arrayJob != '\0' && arrayTask != nullptr && *arrayTask != '\0') {
        self.slurmJob = oneLine(std::string(arrayJob) + "_" + arrayTask);
    } else if (job != nullptr && *job != '\0') {
        self.slurmJob = oneLine(job);
    }
    if (const char* restarts = std::getenv("SLURM_RESTART_COUNT")) {
        self.restarts = std::atol(restarts);
    }
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char when[64] = {};
    if (gmtime_r(&now, &utc) != nullptr) {
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &utc);
    }
    self.started = when;
    self.command = oneLine(command);
    return self;
}

std::string lockText(const LockHolder& h) {
    std::ostringstream text;
    text << "zonetool lock\n"
         << "pid " << h.pid << "\n"
         << "host " << h.host << "\n"
         << "boot " << h.boot << "\n"
         << "ticks " << h.ticks << "\n"
         << "slurm " << h.slurmJob << "\n"
         << "restarts " << h.restarts << "\n"
         << "started " << h.started << "\n"
         << "command " << h.command << "\n";
    return text.str();
}

bool parseLock(const std::string& text, LockHolder& holder) {
    holder = LockHolder();
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != "zonetool lock") {
        return false;
    }
    bool hasPid = false;
    bool hasHost = false;
    while (std::getline(lines, line)) {
        const std::size_t blank = line.find(' ');
        const std::string key = line.substr(0, blank);
        const std::string value = blank == std::string::npos ? "" : line.substr(blank + 1);
        char* end = nullptr;
        if (key == "pid") {
            holder.pid = std::strtol(value.c_str(), &end, 10);
            hasPid = !value.empty() && *end == '\0' && holder.pid > 0;
        } else if (key == "host") {
            holder.host = value;
            hasHost = true;
        } else if (key == "boot") {
            holder.boot = value;
        } else if (key == "ticks") {
            holder.ticks = std::atoll(value.c_str());
        } else if (key == "slurm") {
            holder.slurmJob = value;
        } else if (key == "restarts") {
            holder.restarts = std::atol(value.c_str());
        } else if (key == "started") {
            holder.started = value;
        } else if (key == "command") {
            holder.command = value;
        }
    }
    return hasPid && hasHost;
}

bool holderGone(const LockHolder& holder, const LockHolder& self) {
    if (!holder.slurmJob.empty() && holder.slurmJob == self.slurmJob &&
        holder.restarts < self.restarts) {
        return true;
    }
    if (holder.host != self.host) {
        return false;
    }
    if (!holder.boot.empty() && !self.boot.empty() && holder.boot != self.boot) {
        return true;
    }
    if (holder.pid == self.pid && holder.ticks == self.ticks) {
        return false; // this very process
    }
    if (kill(static_cast<pid_t>(holder.pid), 0) != 0 && errno == ESRCH) {
        return true;
    }
    // A process of that id lives; it is another one when it started at another time.
    const long long ticks = processTicks(holder.pid);
    return holder.ticks >= 0 && ticks >= 0 && ticks != holder.ticks;
}

std::string describeHolder(const LockHolder& h) {
    return "pid " + std::to_string(h.pid) + " on host " + h.host +
           (h.slurmJob.empty() ? "" : " in Slurm job " + h.slurmJob) +
           (h.started.empty() ? "" : ", started " + h.started) +
           (h.command.empty() ? "" : ": " + h.command);
}

OutputLocks::~OutputLocks() {
    release();
}

void OutputLocks::release() {
    const HeldStopSignals held;
    arm_.reset();
    for (const std::string& path : paths_) {
        unlink(path.c_str());
    }
    paths_.clear();
    pointers_.clear();
}

bool OutputLocks::take(const std::vector<std::string>& names, const LockHolder& self,
                       std::string& error, std::vector<std::string>& warnings) {
    release();
    // A stop signal from here on removes the lock files taken (the command's own guard, made
    // later, takes over while it lives); without a guard it would end the process and leave them.
    if (!guard_) {
        guard_ = std::make_unique<StopSignalGuard>();
    }
    const HeldStopSignals held;
    const std::string text = lockText(self);
    std::vector<std::string> taken;
    for (const std::string& name : names) {
        const std::string lockPath = name + ".lock";
        if (name.empty() || std::find(taken.begin(), taken.end(), lockPath) != taken.end()) {
            continue;
        }
        switch (takeOne(name, self, text, error, warnings)) {
        case Taken::yes:
            taken.push_back(lockPath);
            break;
        case Taken::notPossible:
            break;
        case Taken::refused:
            for (const std::string& path : taken) {
                unlink(path.c_str());
            }
            return false;
        }
    }
    paths_ = taken;
    for (const std::string& path : paths_) {
        pointers_.push_back(path.c_str());
    }
    arm_ = std::make_unique<FileListArm>(pointers_.data(), pointers_.size());
    return true;
}

bool lockOutputs(std::ostream& err, const std::vector<std::string>& commandLine, OutputLocks& locks,
                 const std::string& command, const std::vector<std::string>& names) {
    const std::vector<std::string>& line = commandLine;
    std::string text;
    for (std::size_t k = 0; k < line.size(); k++) {
        // The program by its name, not by the path it was started from.
        const std::string word = k == 0 ? line[0].substr(line[0].rfind('/') + 1) : line[k];
        text += (k == 0 ? "" : " ") + word;
    }
    std::string error;
    std::vector<std::string> warnings;
    const bool taken = locks.take(names, thisProcess(text), error, warnings);
    for (const std::string& warning : warnings) {
        err << "zonetool " << command << ": " << warning << "\n";
    }
    if (!taken) {
        err << "zonetool " << command << ": " << error << "\n";
    }
    return taken;
}
