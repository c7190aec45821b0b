// Running zonetool in a directory that takes no new files, for the tests of what commands do
// there.
#pragma once

#include "support/run_program.h"

#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs zonetool in `dir` made read-only. Root writes anywhere, so as root the program runs as
// the unprivileged user 65534, from a copy in the directory (the build tree may lie where that
// user cannot reach); status 125 when that user cannot be taken on.
inline ProgramResult inReadOnlyDir(const ScratchDir& dir, const std::string& arguments) {
    std::string program = ZONETOOL_BIN;
    const bool asNobody = geteuid() == 0;
    if (asNobody) {
        program = dir.file("zonetool");
        runProgram(dir.path(), "/bin/cp", shellQuote(ZONETOOL_BIN) + " zonetool");
    }
    chmod(dir.path().c_str(), 0555);
    ScratchDir streams;
    chmod(streams.path().c_str(), 0777);
    const std::string command = "cd " + shellQuote(dir.path()) + " && " + shellQuote(program) +
                                " " + arguments + " >" + shellQuote(streams.file("out")) + " 2>" +
                                shellQuote(streams.file("err")) + " </dev/null";
    ProgramResult result;
    const pid_t pid = fork();
    if (pid == 0) {
        if (asNobody && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(125);
        }
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128;
    result.out = streams.read("out");
    result.err = streams.read("err");
    return result;
}
