#pragma once
// The logging library: one shared ini file, dated and size-rotated log files,
// every line serialised across processes by "Global\PelLog".
#include <cstdarg>

constexpr int kIniFound = 0;
constexpr int kIniCannotOpen = 101;
constexpr int kIniNoSection = 102;
constexpr int kIniNoKey = 103;
constexpr int kIniTooLong = 104;

int PelLogInit(const char* iniPath);
int PelLogWrite(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
int PelLogWriteV(int level, const char* format, va_list args);
void PelLogReset();
int PelLogReadIni(const char* key, char* buffer, int size, const char* iniPath);
