#include "tools/formats/profile_journal.h"

#include "driver/schedule.h"
#include "tools/formats/cli.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

const char* const journalFormat = "zonefit-profile-journal\t1";

const char* sideName(int side) {
    return side < 0 ? "lower" : "upper";
}

std::string pointKey(int estimate, double minimum, int index, int side, double fixed) {
    return std::to_string(estimate) + "\t" + format17(minimum) + "\t" + std::to_string(index) +
           "\t" + sideName(side) + "\t" + format17(fixed);
}

// A point line read back; false when it is not one. `names` maps the parameter to its index.
bool readPoint(const std::string& line, const std::vector<std::string>& names, std::string& key,
               ProfilePoint& point) {
    const std::vector<std::string> f = splitAt(line, '\t');
    if (f.size() != 8 + names.size() || f[0] != "point" || (f[4] != "lower" && f[4] != "upper")) {
        return false;
    }
    std::uint64_t estimate = 0;
    std::uint64_t evaluations = 0;
    double minimum = 0.0;
    bool good = parseSeed(f[1], estimate) && estimate < 1000 && parseNumber(f[2], minimum) &&
                parseNumber(f[5], point.fixed) && parseNumber(f[6], point.value) &&
                parseSeed(f[7], evaluations);
    point.index = -1;
    for (std::size_t j = 0; j < names.size(); j++) {
        if (names[j] == f[3]) {
            point.index = static_cast<int>(j);
        }
    }
    point.side = f[4] == "lower" ? -1 : +1;
    point.evaluations = static_cast<long>(evaluations);
    point.point.assign(names.size(), 0.0);
    for (std::size_t j = 0; j < names.size(); j++) {
        good = good && parseNumber(f[8 + j], point.point[j]);
    }
    if (!good || point.index < 0) {
        return false;
    }
    key = pointKey(static_cast<int>(estimate), minimum, point.index, point.side, point.fixed);
    return true;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::string profileJournalName(const std::string& resultPath) {
    const std::size_t slash = resultPath.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : resultPath.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? resultPath : resultPath.substr(slash + 1);
    return dir + "profile-" + base + ".journal.tsv";
}

std::string profileSideJournalName(const std::string& resultPath, int side, int sides) {
    const std::string whole = profileJournalName(resultPath);
    const std::string suffix = ".journal.tsv";
    return whole.substr(0, whole.size() - suffix.size()) + ".side-" + std::to_string(side) +
           "-of-" + std::to_string(sides) + suffix;
}

std::string profileJournalHead(const std::vector<std::pair<std::string, std::string>>& identity) {
    std::string head = std::string(journalFormat) + "\n";
    for (const auto& [key, value] : identity) {
        std::string shown = value;
        for (char& c : shown) {
            if (static_cast<unsigned char>(c) < 0x20) {
                c = '?';
            }
        }
        head += key + "\t" + shown + "\n";
    }
    return head;
}

ProfileJournal::~ProfileJournal() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

namespace {

// The points of the journal at `path` (none when there is no such file) into `points`, their
// lines into `lines`: false, with the file and line in `error`, for a journal of another head
// or a point line that does not read. A last line cut short by a stop is dropped.
bool readJournal(const std::string& path, const std::string& head,
                 const std::vector<std::string>& names, std::map<std::string, ProfilePoint>& points,
                 std::vector<std::string>& lines, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return true;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The head is compared line by line, so that the message can name what differs.
    std::istringstream expected(head);
    std::size_t at = 0;
    int number = 0;
    for (std::string want; std::getline(expected, want);) {
        number++;
        const std::size_t end = text.find('\n', at);
        const std::string got =
            end == std::string::npos ? text.substr(at) : text.substr(at, end - at);
        if (end == std::string::npos || got != want) {
            error = path + ":" + std::to_string(number) + ": the journal of another profile ('" +
                    got + "' where this one has '" + want +
                    "'); remove it, or run again with --redo to start over";
            return false;
        }
        at = end + 1;
    }
    while (at < text.size()) {
        number++;
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            break; // cut short by a stop: that point is computed again
        }
        const std::string line = text.substr(at, end - at);
        std::string key;
        ProfilePoint point;
        if (!readPoint(line, names, key, point)) {
            error = path + ":" + std::to_string(number) +
                    ": not a profile point; remove the journal, or run again with --redo";
            return false;
        }
        if (points.emplace(key, point).second) {
            lines.push_back(line);
        }
        at = end + 1;
    }
    return true;
}

} // namespace

bool ProfileJournal::open(const std::string& path, const std::string& head,
                          const std::vector<std::string>& names, bool redo, std::string& error) {
    path_ = path;
    head_ = head;
    names_ = names;
    points_.clear();
    std::vector<std::string> lines;
    if (!redo && !readJournal(path, head, names, points_, lines, error)) {
        return false;
    }
    std::string kept;
    for (const std::string& line : lines) {
        kept += line + "\n";
    }
    if (!writeResultFile(path, head + kept, error)) {
        return false;
    }
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool ProfileJournal::absorb(const std::string& path, std::string& error) {
    // Read into a copy: a journal refused half way adds nothing.
    std::map<std::string, ProfilePoint> points = points_;
    std::vector<std::string> lines;
    if (!readJournal(path, head_, names_, points, lines, error)) {
        return false;
    }
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    // One write: a stop leaves at most the last line cut short, and the next run absorbs the
    // file again, keeping the points it holds by then.
    if (!text.empty() && (fd_ < 0 || !writeAll(fd_, text) || fsync(fd_) != 0)) {
        error = "cannot write " + path_ + ": " + std::strerror(errno);
        return false;
    }
    points_ = std::move(points);
    return true;
}

bool ProfileJournal::recall(int estimate, double minimum, ProfilePoint& point) const {
    const auto found =
        points_.find(pointKey(estimate, minimum, point.index, point.side, point.fixed));
    if (found == points_.end()) {
        return false;
    }
    point.value = found->second.value;
    point.point = found->second.point;
    point.evaluations = found->second.evaluations;
    return true;
}

bool ProfileJournal::append(int estimate, double minimum, const ProfilePoint& point,
                            std::string& error) {
    std::string line = "point\t" + std::to_string(estimate) + "\t" + format17(minimum) + "\t" +
                       names_[static_cast<std::size_t>(point.index)] + "\t" + sideName(point.side) +
                       "\t" + format17(point.fixed) + "\t" + format17(point.value) + "\t" +
                       std::to_string(point.evaluations);
    for (double x : point.point) {
        line += "\t" + format17(x);
    }
    line += "\n";
    // One write per line: a stop leaves at most the last line cut short.
    if (fd_ < 0 || !writeAll(fd_, line) || fsync(fd_) != 0) {
        error = "cannot write " + path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool ProfileJournal::remove(std::string& error) {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (unlink(path_.c_str()) != 0 && errno != ENOENT) {
        error = "cannot remove " + path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
