// What one zonetool command runs with, made once per command by zonetoolMain and passed to the
// command and to everything it calls: the transect and boxes of its --data and --box options
// and the streams it writes to. Worker threads are handed the same context; nothing of it is
// looked up per thread.
#pragma once

#include "tools/formats/data_option.h"

#include <ostream>

struct RunContext {
    // A context writing to `outStream` and `errStream`, which outlive it.
    RunContext(std::ostream& outStream, std::ostream& errStream)
        : out(&outStream), err(&errStream) {}

    DataContext data;  // --data and --box; the built-in transect and boxes when unset
    std::ostream* out; // the command's standard output (not owned)
    std::ostream* err; // the command's standard error (not owned)
};
