#include "platform/error.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<FailureSink> gSink{nullptr};
thread_local bool tInSink = false;
}  // namespace

FailureSink setFailureSink(FailureSink sink) { return gSink.exchange(sink); }

void reportFailure(const char* call, const char* subject, int code) {
    FailureSink sink = gSink.load();
    if (!sink || tInSink) return;
    tInSink = true;
    sink(call ? call : "", subject ? subject : "", code);
    tInSink = false;
}

}  // namespace platform
