#pragma once
// Log set-up and the level-tagged log helpers every module writes through.
#include <cstdint>

bool setLog(const char* prefixName);
// Switches logging off: "Log state: " "Disable", then off, then PelLogReset.
void unsetLog();
bool isLogOn();

void logNormal(const char* message, const char* value);
void logNormalNumber(const char* message, int32_t value);
void logNormalWide(const char* message, const char16_t* value);
void logWarning(const char* message, const char* value);
void logWarningNumber(const char* message, int32_t value);
void logError(const char* message, const char* value);
void logErrorNumber(const char* message, int32_t value);

void reportNullParameter(const char* name, const char* file, int line);
void reportAllocFailure(const char* file, int line);

#define REPORT_NULL(name) reportNullParameter(name, __FILE__, __LINE__)
#define REPORT_ALLOC() reportAllocFailure(__FILE__, __LINE__)
