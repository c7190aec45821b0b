// Start files derived from a transect of the user's own for the fits that have no start file
// in the working directory: written into a private temporary directory for the fits to read,
// and removed with it when the command ends.
#pragma once

#include "tools/formats/data_option.h"

#include <ostream>
#include <string>

class DerivedStartFiles {
  public:
    DerivedStartFiles() = default;
    ~DerivedStartFiles();
    DerivedStartFiles(const DerivedStartFiles&) = delete;
    DerivedStartFiles& operator=(const DerivedStartFiles&) = delete;

    // When `data` holds a --data transect (tools/formats/data_option.h) and `startName` (the start
    // file that model `number` would read, startvecN.txt) does not exist: writes the start that
    // 'zonetool start' derives for the model, says so on `err` in one line ("zonetool
    // fit: no startvec7.txt here: fitting from the start derived from mine.tsv (zonetool start
    // 7 --data mine.tsv); write it with -o to keep it") and returns its path. Otherwise, or
    // when borders.txt is needed and bad (the fit's own checks name it), returns the empty
    // text.
    // Failures to write it are told on `err` as well.
    std::string pathFor(std::ostream& err, const DataContext& data, int number,
                        const std::string& startName);

  private:
    std::string dir_; // created on first use; empty before
};
