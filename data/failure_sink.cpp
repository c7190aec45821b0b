#include "data/failure_sink.h"

namespace {

thread_local FailureSink ownSink;
thread_local FailureSink* installed = nullptr;

} // namespace

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

FailureSink& failureSink() {
    return installed != nullptr ? *installed : ownSink;
}

void reportFailure(const std::string& message) {
    failureSink().report(message);
}

FailureScope::FailureScope(FailureSink& sink) : previous_(installed) {
    installed = &sink;
}

FailureScope::~FailureScope() {
    installed = previous_;
}
