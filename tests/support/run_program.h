// Runs the real programs in a scratch directory for end-to-end tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

// What a finished program left: its two output streams and its exit status (or 128 + signal).
struct ProgramResult {
    std::string out;
    std::string err;
    int status = -1;
};

// A fresh directory under the system's temporary directory, removed with its contents at the
// end of the test.
class ScratchDir {
  public:
    ScratchDir() {
        char pattern[] = "/tmp/zonefit-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
    }
    ~ScratchDir() {
        if (!path_.empty()) {
            const std::string command = "chmod -R u+w '" + path_ + "' && rm -rf '" + path_ + "'";
            if (std::system(command.c_str()) != 0) {
                std::fprintf(stderr, "could not remove %s\n", path_.c_str());
            }
        }
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    void write(const std::string& name, const std::string& content) const {
        std::ofstream out(file(name), std::ios::binary);
        out << content;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(file(name), std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        return content.str();
    }
    bool exists(const std::string& name) const { return access(file(name).c_str(), F_OK) == 0; }

  private:
    std::string path_;
};

inline std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

// Runs `program` with the already quoted `arguments` in directory `dir`.
inline ProgramResult runProgram(const std::string& dir, const std::string& program,
                                const std::string& arguments) {
    const std::string outFile = dir + ".stdout";
    const std::string errFile = dir + ".stderr";
    const std::string command = "cd " + shellQuote(dir) + " && " + shellQuote(program) + " " +
                                arguments + " >" + shellQuote(outFile) + " 2>" +
                                shellQuote(errFile) + " </dev/null";
    const int raw = std::system(command.c_str());
    ProgramResult result;
    if (WIFEXITED(raw)) {
        result.status = WEXITSTATUS(raw);
    } else if (WIFSIGNALED(raw)) {
        result.status = 128 + WTERMSIG(raw);
    }
    auto slurp = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        return content.str();
    };
    result.out = slurp(outFile);
    result.err = slurp(errFile);
    std::remove(outFile.c_str());
    std::remove(errFile.c_str());
    return result;
}
