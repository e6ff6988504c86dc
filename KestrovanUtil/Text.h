#pragma once
// Text and encoding helpers. Every returned text is a new NUL-terminated heap copy
// that the caller releases with free() (or freeSecret() when it held a secret).
#include <cstddef>
#include <cstdint>

// Process-wide code of the last conversion or missed JSON lookup.
extern int32_t lastErrorCode;

constexpr int32_t kCodeNotNumber = 61003;
constexpr int32_t kCodeNullText = 61004;

// Zero-filled block; 0 bytes or more than half the address space gives null
// without a report, a failed allocation is reported.
void* allocZero(size_t size);
// Overwrites a buffer so that the compiler cannot drop the stores.
void secureZero(void* buffer, size_t size);
// Overwrites a NUL-terminated text, then frees it; null is allowed.
void freeSecret(char* text);

char* duplicateText(const char* text);
char16_t* duplicateWide(const char16_t* text);
size_t wideLength(const char16_t* text);
// Bytes [start, end), the end cut at the terminator; none when the range is empty.
char* substring(const char* text, size_t start, size_t end);
char* lowerCopy(const char* text);
bool startsWith(const char* text, const char* prefix);
// Left to right, without overlap; an empty or null needle leaves the text unchanged.
char* replaceAll(const char* text, const char* needle, const char* replacement);
// Parts between separators, empty ones included; a null-ended list freed with freeTextList.
char** splitText(const char* text, const char* separator);
size_t textListLength(char** list);
void freeTextList(char** list);
// Exactly width characters, right-aligned; a wider text keeps its right-most ones.
char* padLeft(const char* text, size_t width, char pad);
char16_t* stripExe(const char16_t* name);

int32_t toInt(const char* text, bool digitsOnly = false);
int32_t hexToInt(const char* text);
bool lastConversionFailed();

char* utf16ToUtf8(const char16_t* text);
char16_t* utf8ToUtf16(const char* text);

char* base64Encode(const char* text);
char* base64EncodeBytes(const uint8_t* data, size_t length);
// Decodes after the "%2B", "%2F", "%3D" replacement; length of the result in *outLength.
char* base64Decode(const char* text, size_t* outLength = nullptr);
char* hexEncode(const uint8_t* data, size_t length);  // upper-case digits
uint8_t* hexDecode(const char* text, size_t* outLength);

// Raw value of the first key matching without regard to case; one 64-token
// tokeniser serves the whole process, taken under a lock.
char* getJsonValue(const char* text, const char* key);
char* unescapeJsonValue(const char* text);
