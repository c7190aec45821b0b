// Runs a zonetool command line in this process, in a scratch directory, with string streams:
// the in-process counterpart of runProgram (support/run_program.h).
#pragma once

#include "support/run_program.h"
#include "tools/commands/zonetool_main.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

// `arguments` split at blanks, a part in single quotes kept whole (as in "compare 'job 1'").
inline std::vector<std::string> splitArguments(const std::string& arguments) {
    std::vector<std::string> args;
    std::string word;
    bool quoted = false;
    bool any = false;
    for (char c : arguments) {
        if (c == '\'') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any) {
                args.push_back(word);
            }
            word.clear();
            any = false;
        } else {
            word += c;
            any = true;
        }
    }
    if (any) {
        args.push_back(word);
    }
    return args;
}

// What runZonetool wrote and returned for `arguments`, run with `dir` as working directory.
inline ProgramResult runInProcess(const std::string& dir, const std::string& arguments) {
    char* home = getcwd(nullptr, 0);
    EXPECT_EQ(chdir(dir.c_str()), 0);
    std::ostringstream out;
    std::ostringstream err;
    ProgramResult r;
    r.status = runZonetool(splitArguments(arguments), out, err);
    r.out = out.str();
    r.err = err.str();
    EXPECT_EQ(chdir(home), 0);
    std::free(home);
    return r;
}
