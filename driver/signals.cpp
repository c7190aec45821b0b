#include "driver/signals.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// The armed temporary files. The handlers read them, so they live in static storage; a slot is
// claimed (busy) while its name is copied and only then marked armed, since a signal can arrive
// between any two statements and on any thread. Lock-free atomics are safe in a handler.
constexpr int slotCount = 32;
constexpr int slotFree = 0;
constexpr int slotBusy = 1;
constexpr int slotArmed = 2;

struct Slot {
    std::atomic<int> state{slotFree};
    char path[4096];
};

Slot slots[slotCount];
static_assert(std::atomic<int>::is_always_lock_free, "handlers need lock-free atomics");

// The armed lists of files (FileListArm), claimed and published like the slots above; the
// pointer and count are written before the list is marked armed.
constexpr int listCount = 8;

struct ListSlot {
    std::atomic<int> state{slotFree};
    const char* const* paths = nullptr;
    std::size_t count = 0;
};

ListSlot lists[listCount];

struct StopText {
    int signal;
    const char* text;
};

const StopText stopTexts[] = {
    {SIGINT, "Stopped by SIGINT: the unfinished fit is abandoned and its result file left as it "
             "was. Exiting (130)\n"},
    {SIGTERM, "Stopped by SIGTERM: the unfinished fit is abandoned and its result file left as "
              "it was. Exiting (143)\n"},
    {SIGHUP, "Stopped by SIGHUP: the unfinished fit is abandoned and its result file left as it "
             "was. Exiting (129)\n"},
};

// Only async-signal-safe calls from here on: unlink, write, sigaction, sigprocmask, raise,
// _exit, and plain loops instead of the string functions.
void removeArmedFiles() {
    for (Slot& slot : slots) {
        if (slot.state.load() == slotArmed) {
            unlink(slot.path);
        }
    }
    for (ListSlot& list : lists) {
        if (list.state.load() == slotArmed) {
            for (std::size_t k = 0; k < list.count; k++) {
                unlink(list.paths[k]);
            }
        }
    }
}

void writeError(const char* text) {
    std::size_t length = 0;
    while (text[length] != '\0') {
        length++;
    }
    while (length > 0) {
        const ssize_t written = write(STDERR_FILENO, text, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

std::atomic<int> requestedStop{0};
static_assert(std::atomic<int>::is_always_lock_free, "handlers need lock-free atomics");

extern "C" void onStopRequest(int signal) {
    int expected = 0;
    requestedStop.compare_exchange_strong(expected, signal);
}

extern "C" void onStopSignal(int signal) {
    removeArmedFiles();
    writeError(stopMessage(signal));
    // End by the same signal, so that whoever started the fit sees how it ended.
    struct sigaction defaultAction;
    std::memset(&defaultAction, 0, sizeof defaultAction);
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    sigaction(signal, &defaultAction, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    _exit(128 + signal);
}

void onOutOfMemory() {
    removeArmedFiles();
    std::fflush(stdout); // what the fit has reported so far
    writeError(outOfMemoryMessage);
    _exit(1);
}

} // namespace

const char* const outOfMemoryMessage =
    "Out of memory: the fit needs more memory than the system grants it. Exiting (1)\n";

const char* stopMessage(int signal) {
    for (const StopText& entry : stopTexts) {
        if (entry.signal == signal) {
            return entry.text;
        }
    }
    return "Stopped by a signal: the unfinished fit is abandoned and its result file left as it "
           "was.\n";
}

int stopRequestSignal() {
    return requestedStop.load();
}

StopSignalGuard::StopSignalGuard(StopMode mode) : replaced_{} {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = mode == StopMode::end ? onStopSignal : onStopRequest;
    // A second stop signal waits until the first one has cleaned up.
    sigemptyset(&action.sa_mask);
    for (int signal : stopSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    requestedStop.store(0);
    const int count = mode == StopMode::end ? stopSignalCount : stopSignalCount + 1;
    for (int k = 0; k < count; k++) {
        const int signal = k < stopSignalCount ? stopSignals[k] : SIGUSR1;
        sigaction(signal, nullptr, &previousStop_[k]);
        if (previousStop_[k].sa_handler != SIG_IGN) {
            replaced_[k] = sigaction(signal, &action, nullptr) == 0;
        }
    }

    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &previousFileSize_);

    previousNewHandler_ = std::set_new_handler(onOutOfMemory);
}

StopSignalGuard::~StopSignalGuard() {
    std::set_new_handler(previousNewHandler_);
    sigaction(SIGXFSZ, &previousFileSize_, nullptr);
    for (int k = 0; k <= stopSignalCount; k++) {
        if (replaced_[k]) {
            sigaction(k < stopSignalCount ? stopSignals[k] : SIGUSR1, &previousStop_[k], nullptr);
        }
    }
}

TemporaryFileArm::TemporaryFileArm(const char* path) : slot_(-1) {
    const std::size_t length = std::strlen(path);
    if (length >= sizeof slots[0].path) {
        return;
    }
    for (int k = 0; k < slotCount; k++) {
        int expected = slotFree;
        if (slots[k].state.compare_exchange_strong(expected, slotBusy)) {
            std::memcpy(slots[k].path, path, length + 1);
            slots[k].state.store(slotArmed);
            slot_ = k;
            return;
        }
    }
}

TemporaryFileArm::~TemporaryFileArm() {
    if (slot_ >= 0) {
        slots[slot_].state.store(slotFree);
    }
}

FileListArm::FileListArm(const char* const* paths, std::size_t count) : slot_(-1) {
    for (int k = 0; k < listCount; k++) {
        int expected = slotFree;
        if (lists[k].state.compare_exchange_strong(expected, slotBusy)) {
            lists[k].paths = paths;
            lists[k].count = count;
            lists[k].state.store(slotArmed);
            slot_ = k;
            return;
        }
    }
}

FileListArm::~FileListArm() {
    if (slot_ >= 0) {
        lists[slot_].state.store(slotFree);
    }
}
