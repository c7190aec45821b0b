// The journal of a profile under way: each profile point written as soon as it is computed, so
// that a profile stopped part of the way resumes where it stopped instead of starting over.
#pragma once

#include "tools/formats/profile_types.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

// The journal of the profile of the fit in `resultPath`: "profile-RESULT.journal.tsv" beside
// the result file.
std::string profileJournalName(const std::string& resultPath);

// The journal of one side of that profile computed apart from the others (side K of S, the
// sides numbered parameter by parameter, lower before upper):
// "profile-RESULT.side-K-of-S.journal.tsv" beside the result file.
std::string profileSideJournalName(const std::string& resultPath, int side, int sides);

// The head of a journal: a first line naming the format, then one "key<TAB>value" line per
// entry of `identity` (what the profile's points depend on: model, objective, data, estimate,
// settings), control characters in values shown as '?'.
std::string profileJournalHead(const std::vector<std::pair<std::string, std::string>>& identity);

// A journal file, open for appending while the profile runs. Each point is one line
// "point, estimate number, -lnL at that estimate, parameter name, side, fixed value, -lnL,
// evaluations, every coordinate of the re-optimised point", tab-separated, numbers with 17
// significant digits, written and synced at once.
class ProfileJournal {
  public:
    ProfileJournal() = default;
    ~ProfileJournal();
    ProfileJournal(const ProfileJournal&) = delete;
    ProfileJournal& operator=(const ProfileJournal&) = delete;

    // Opens `path` for a profile whose head is `head` and whose coordinates are named `names`.
    // Without `redo`, an existing file's points are kept for recall: a file with another head
    // is refused, with the file and the first line that differs in `error`, and so is a point
    // line that does not read (file and line named); a last line cut short by a stop is
    // dropped. With `redo` an existing file is started afresh. The file is then rewritten
    // atomically with the head and the points kept, and stays open.
    bool open(const std::string& path, const std::string& head,
              const std::vector<std::string>& names, bool redo, std::string& error);

    // The point of the journal computed at estimate number `estimate` (-lnL `minimum` there)
    // for point.index, point.side and point.fixed: fills in its value, point and evaluations.
    // False when the journal has no such point.
    bool recall(int estimate, double minimum, ProfilePoint& point) const;

    // Appends `point`, computed at estimate number `estimate` (-lnL `minimum`), and syncs the
    // file. False with the reason in `error`.
    bool append(int estimate, double minimum, const ProfilePoint& point, std::string& error);

    // Adds the points of the journal at `path` (written with the same head and names: a side's)
    // that this one lacks, appending them to this file and syncing it; no file there adds
    // nothing. A file with another head or a point line that does not read is refused as by
    // open(), and nothing is added. False with the reason in `error`.
    bool absorb(const std::string& path, std::string& error);

    // Points read from the file when it was opened, or absorbed since.
    std::size_t kept() const { return points_.size(); }

    // Closes and removes the file. False with the reason in `error`.
    bool remove(std::string& error);

  private:
    std::string path_;
    std::string head_;
    std::vector<std::string> names_;
    std::map<std::string, ProfilePoint> points_; // by key: estimate, minimum, index, side, fixed
    int fd_ = -1;
};
