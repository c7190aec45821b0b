// What must hold for any bytes given to the fit-record reader, shared by its libFuzzer target
// and by the test that replays its corpus and every input that once failed.
#pragma once

#include "fuzz_checks.h"
#include "models/model_table.h"
#include "tools/formats/fit_record_json.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzchecks {

// Empty when the reader holds on `data`: it refuses with a one-line reason (the same from a
// file, after the file's name), or accepts a record whose model and list lengths are
// consistent and whose own text reads back to the same text.
inline std::string checkFitRecord(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    FitRecord record;
    std::string error;
    const bool accepted = parseFitRecord(text, record, error);
    const MemoryFile file(data, size);
    if (!file.path().empty()) {
        FitRecord fromFile;
        std::string fileError;
        const bool fileAccepted = readFitRecord(file.path(), fromFile, fileError);
        if (fileAccepted != accepted || (!accepted && fileError != file.path() + ": " + error)) {
            return "the file and its text read differently: " + fileError;
        }
    }
    if (!accepted) {
        if (error.empty()) {
            return "refused without a reason";
        }
        return error.find('\n') == std::string::npos ? "" : "a reason of several lines: " + error;
    }
    if (record.model < 1 || record.model > modelCount) {
        return "a model out of range accepted";
    }
    const std::size_t n = record.point.size();
    if (record.start.size() != n || record.steps.size() != n || record.free.size() != n ||
        record.parameters.size() > n || record.evaluations < 0) {
        return "an inconsistent record accepted";
    }
    const std::string written = fitRecordJson(record);
    FitRecord back;
    if (!parseFitRecord(written, back, error)) {
        return "its own text refused: " + error;
    }
    if (fitRecordJson(back) != written) {
        return "its text changes when read back";
    }
    return "";
}

} // namespace fuzzchecks
