#pragma once
// The logging library: one shared ini file, dated and size-rotated log files,
// every line serialised across processes by "Global\PelLog".
#include <cstdarg>

#include "platform/clock.h"

constexpr int kIniFound = 0;
constexpr int kIniCannotOpen = 101;
constexpr int kIniNoSection = 102;
constexpr int kIniNoKey = 103;
constexpr int kIniTooLong = 104;

// -1 when already initialised, otherwise the ini reader's code for "Log Level".
// A bare file name is looked for in the Windows, home and drive tmp folders.
int PelLogInit(const char* iniPath);
// 0 when the line was handled (written or lost to an unopenable file), -2 when
// the level is above the configured one.
int PelLogWrite(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
int PelLogWriteV(int level, const char* format, va_list args);
// Level 0, not initialised, the mutex taken anew; the file path and rotation index stay.
void PelLogReset();
// Reads one key of the [TarvikKestrovan] section into buffer (size bytes with the NUL).
int PelLogReadIni(const char* key, char* buffer, int size, const char* iniPath);

// Tests replace the clock to see dates change; null restores the system clock.
using PelLogClock = bool (*)(platform::LocalTime* out);
void PelLogSetClock(PelLogClock clock);
