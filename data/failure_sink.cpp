#include "data/failure_sink.h"

void FailureSink::report(const std::string& message) {
    if (!failed_) {
        failed_ = true;
        message_ = message;
    }
}

void FailureSink::clear() {
    failed_ = false;
    message_.clear();
}
