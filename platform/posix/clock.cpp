#include "platform/clock.h"

#include <sys/time.h>
#include <time.h>

namespace platform {

bool localTime(LocalTime* out) {
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return false;
    tm parts{};
    if (!localtime_r(&ts.tv_sec, &parts)) return false;
    out->year = parts.tm_year + 1900;
    out->month = parts.tm_mon + 1;
    out->day = parts.tm_mday;
    out->hour = parts.tm_hour;
    out->minute = parts.tm_min;
    out->second = parts.tm_sec;
    out->millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return true;
}

int64_t unixSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec;
}

int64_t monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void sleepMs(int ms) {
    if (ms <= 0) return;
    timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

}  // namespace platform
