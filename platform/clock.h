#pragma once
#include <cstdint>

namespace platform {

struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};

// Local calendar time with the milliseconds of the system clock; false when unavailable.
bool localTime(LocalTime* out);

// Seconds since the epoch (UTC).
int64_t unixSeconds();

// Monotonic milliseconds, for timeouts and polling.
int64_t monotonicMs();

void sleepMs(int ms);

}  // namespace platform
