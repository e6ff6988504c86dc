// Text and encoding helpers shared by every program. Each routine returns a new
// heap copy (or none) and never keeps a pointer to what it was given.
#include "Text.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#define JSMN_STATIC
#include <jsmn.h>

#include "Holder.h"
#include "Log.h"

int32_t lastErrorCode = 0;

// ---------------------------------------------------------------- allocation

void* allocZero(size_t size) {
    // A size of 0 or beyond half the address space is a caller's arithmetic slip, not
    // memory pressure, so it gives none quietly.
    if (size == 0 || size > SIZE_MAX / 2) return nullptr;
    void* block = std::calloc(1, size);
    if (block == nullptr) REPORT_ALLOC();
    return block;
}

void secureZero(void* buffer, size_t size) {
    if (buffer == nullptr) return;
    // Stores through a volatile pointer are observable, so the optimiser keeps them
    // even when the buffer is freed right afterwards.
    volatile unsigned char* p = static_cast<volatile unsigned char*>(buffer);
    for (size_t i = 0; i < size; ++i) p[i] = 0;
}

void freeSecret(char* text) {
    if (text == nullptr) return;
    secureZero(text, std::strlen(text));
    std::free(text);
}

// ---------------------------------------------------------------- copies

static char* copyBytes(const char* bytes, size_t length) {
    char* copy = static_cast<char*>(allocZero(length + 1));
    if (copy == nullptr) return nullptr;
    if (length > 0) std::memcpy(copy, bytes, length);
    return copy;
}

char* duplicateText(const char* text) {
    if (text == nullptr) return nullptr;
    return copyBytes(text, std::strlen(text));
}

size_t wideLength(const char16_t* text) {
    if (text == nullptr) return 0;
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

static char16_t* copyWide(const char16_t* text, size_t length) {
    char16_t* copy = static_cast<char16_t*>(allocZero((length + 1) * sizeof(char16_t)));
    if (copy == nullptr) return nullptr;
    if (length > 0) std::memcpy(copy, text, length * sizeof(char16_t));
    return copy;
}

char16_t* duplicateWide(const char16_t* text) {
    if (text == nullptr) {
        REPORT_NULL("input");
        return nullptr;
    }
    return copyWide(text, wideLength(text));
}

char* substring(const char* text, size_t start, size_t end) {
    if (text == nullptr || start >= end) return nullptr;
    // Never read past the terminator, whatever range the caller computed.
    size_t length = std::strlen(text);
    if (end > length) end = length;
    if (start >= end) return nullptr;
    return copyBytes(text + start, end - start);
}

char* lowerCopy(const char* text) {
    if (text == nullptr) {
        REPORT_NULL("input");
        return nullptr;
    }
    char* copy = duplicateText(text);
    if (copy == nullptr) return nullptr;
    for (char* p = copy; *p != 0; ++p) {
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
    }
    return copy;
}

bool startsWith(const char* text, const char* prefix) {
    if (text == nullptr) {
        REPORT_NULL("inputMainString");
        return false;
    }
    if (prefix == nullptr) return true;
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

char* replaceAll(const char* text, const char* needle, const char* replacement) {
    if (text == nullptr) return nullptr;
    // An empty needle would match everywhere without advancing; the text is kept as is.
    if (needle == nullptr || needle[0] == 0) return duplicateText(text);
    if (replacement == nullptr) replacement = "";
    const size_t needleLength = std::strlen(needle);
    const size_t replacementLength = std::strlen(replacement);

    size_t count = 0;
    for (const char* p = std::strstr(text, needle); p != nullptr; p = std::strstr(p + needleLength, needle)) {
        ++count;
    }
    const size_t textLength = std::strlen(text);
    size_t resultLength = textLength;
    if (replacementLength >= needleLength) {
        const size_t growth = replacementLength - needleLength;
        if (growth != 0 && count > (SIZE_MAX / 2 - textLength) / growth) return nullptr;
        resultLength += count * growth;
    } else {
        resultLength -= count * (needleLength - replacementLength);
    }

    char* result = static_cast<char*>(allocZero(resultLength + 1));
    if (result == nullptr) return nullptr;
    char* out = result;
    const char* in = text;
    for (const char* hit = std::strstr(in, needle); hit != nullptr; hit = std::strstr(in, needle)) {
        std::memcpy(out, in, static_cast<size_t>(hit - in));
        out += hit - in;
        std::memcpy(out, replacement, replacementLength);
        out += replacementLength;
        in = hit + needleLength;
    }
    std::memcpy(out, in, std::strlen(in));
    return result;
}

// ---------------------------------------------------------------- lists

size_t textListLength(char** list) {
    if (list == nullptr) return 0;
    size_t n = 0;
    while (list[n] != nullptr) ++n;
    return n;
}

void freeTextList(char** list) {
    if (list == nullptr) return;
    for (char** p = list; *p != nullptr; ++p) std::free(*p);
    std::free(list);
}

char** splitText(const char* text, const char* separator) {
    if (text == nullptr) return nullptr;
    if (text[0] == 0 || separator == nullptr || separator[0] == 0) {
        return static_cast<char**>(allocZero(sizeof(char*)));
    }
    const size_t separatorLength = std::strlen(separator);
    size_t parts = 1;
    for (const char* p = std::strstr(text, separator); p != nullptr; p = std::strstr(p + separatorLength, separator)) {
        ++parts;
    }
    char** list = static_cast<char**>(allocZero((parts + 1) * sizeof(char*)));
    if (list == nullptr) return nullptr;

    const char* start = text;
    for (size_t i = 0; i < parts; ++i) {
        const char* hit = std::strstr(start, separator);
        const size_t length = hit != nullptr ? static_cast<size_t>(hit - start) : std::strlen(start);
        list[i] = copyBytes(start, length);
        if (list[i] == nullptr) {
            freeTextList(list);
            return nullptr;
        }
        if (hit == nullptr) break;
        start = hit + separatorLength;
    }
    return list;
}

char* padLeft(const char* text, size_t width, char pad) {
    if (text == nullptr) {
        REPORT_NULL("MainText");
        return nullptr;
    }
    char* result = static_cast<char*>(allocZero(width + 1));
    if (result == nullptr) return nullptr;
    const size_t length = std::strlen(text);
    // A text wider than the field keeps its right-most characters, so the result
    // always has exactly the width the caller laid out.
    if (length >= width) {
        std::memcpy(result, text + (length - width), width);
    } else {
        std::memset(result, pad, width - length);
        std::memcpy(result + (width - length), text, length);
    }
    return result;
}

char16_t* stripExe(const char16_t* name) {
    if (name == nullptr) {
        REPORT_NULL("input");
        return nullptr;
    }
    static const char16_t kExe[] = u".exe";
    const size_t length = wideLength(name);
    char16_t* result = copyWide(name, length);
    if (result == nullptr) return nullptr;
    size_t out = 0;
    for (size_t i = 0; i < length;) {
        if (i + 4 <= length && std::memcmp(name + i, kExe, 4 * sizeof(char16_t)) == 0) {
            i += 4;
            continue;
        }
        result[out++] = name[i++];
    }
    result[out] = 0;
    return result;
}

// ---------------------------------------------------------------- numbers

static int32_t conversionFailure(int32_t code) {
    lastErrorCode = code;
    return 0;
}

static int digitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    return v < base ? v : -1;
}

static bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Leading blanks, an optional sign, (for hex) an optional "0x", then digits; the
// digits stop at the first other character, as the C library's conversion does.
static int32_t convert(const char* text, int base, bool digitsOnly) {
    if (text == nullptr) return conversionFailure(kCodeNullText);
    const char* p = text;
    bool negative = false;
    if (digitsOnly) {
        if (*p == '-') {
            negative = true;
            ++p;
        }
    } else {
        while (isBlank(*p)) ++p;
        if (*p == '-' || *p == '+') {
            negative = *p == '-';
            ++p;
        }
        if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digitValue(p[2], 16) >= 0) p += 2;
    }
    int64_t value = 0;
    size_t digits = 0;
    for (; *p != 0; ++p) {
        const int d = digitValue(*p, base);
        if (d < 0) break;
        value = value * base + d;
        ++digits;
        if (value > static_cast<int64_t>(INT32_MAX) + 1) return conversionFailure(kCodeNotNumber);
    }
    if (digits == 0 || (digitsOnly && *p != 0)) return conversionFailure(kCodeNotNumber);
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return conversionFailure(kCodeNotNumber);
    lastErrorCode = 0;
    return static_cast<int32_t>(value);
}

int32_t toInt(const char* text, bool digitsOnly) { return convert(text, 10, digitsOnly); }

int32_t hexToInt(const char* text) { return convert(text, 16, false); }

bool lastConversionFailed() { return lastErrorCode == kCodeNotNumber || lastErrorCode == kCodeNullText; }

// ---------------------------------------------------------------- UTF-8 / UTF-16

// Reads one code point of strict UTF-8 (no overlong forms, no surrogates, at most
// U+10FFFF); false on malformed input.
static bool readUtf8(const unsigned char*& p, char32_t* out) {
    const unsigned char lead = *p;
    int extra;
    char32_t cp;
    char32_t minimum;
    if (lead < 0x80) {
        *out = lead;
        ++p;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return false;
    }
    for (int i = 1; i <= extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) return false;  // also stops at the terminator
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    p += extra + 1;
    *out = cp;
    return true;
}

char16_t* utf8ToUtf16(const char* text) {
    if (text == nullptr) {
        REPORT_NULL("input");
        return nullptr;
    }
    // Each UTF-8 byte yields at most one UTF-16 unit, so the text's length bounds the result.
    const size_t length = std::strlen(text);
    char16_t* result = static_cast<char16_t*>(allocZero((length + 1) * sizeof(char16_t)));
    if (result == nullptr) return nullptr;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t out = 0;
    while (*p != 0) {
        char32_t cp;
        if (!readUtf8(p, &cp)) {
            result[0] = 0;  // a failed conversion gives the empty text
            return result;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            result[out++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            result[out++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            result[out++] = static_cast<char16_t>(cp);
        }
    }
    result[out] = 0;
    return result;
}

char* utf16ToUtf8(const char16_t* text) {
    if (text == nullptr) {
        REPORT_NULL("input");
        return nullptr;
    }
    // At most three bytes per UTF-16 unit (a surrogate pair gives four for two units).
    const size_t length = wideLength(text);
    char* result = static_cast<char*>(allocZero(length * 3 + 1));
    if (result == nullptr) return nullptr;
    size_t out = 0;
    for (size_t i = 0; i < length; ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            result[0] = 0;  // an unpaired surrogate cannot be written in UTF-8
            return result;
        }
        if (cp < 0x80) {
            result[out++] = static_cast<char>(cp);
        } else if (cp < 0x800) {
            result[out++] = static_cast<char>(0xC0 | (cp >> 6));
            result[out++] = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            result[out++] = static_cast<char>(0xE0 | (cp >> 12));
            result[out++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            result[out++] = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            result[out++] = static_cast<char>(0xF0 | (cp >> 18));
            result[out++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            result[out++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            result[out++] = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    result[out] = 0;
    return result;
}

// ---------------------------------------------------------------- base64 and hex

static const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char* base64EncodeBytes(const uint8_t* data, size_t length) {
    if (data == nullptr && length > 0) {
        REPORT_NULL("input");
        return nullptr;
    }
    if (length > (SIZE_MAX / 2) / 4 * 3) return nullptr;
    char* result = static_cast<char*>(allocZero((length + 2) / 3 * 4 + 1));
    if (result == nullptr) return nullptr;
    char* out = result;
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const uint32_t v = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8) | data[i + 2];
        *out++ = kBase64Alphabet[(v >> 18) & 0x3F];
        *out++ = kBase64Alphabet[(v >> 12) & 0x3F];
        *out++ = kBase64Alphabet[(v >> 6) & 0x3F];
        *out++ = kBase64Alphabet[v & 0x3F];
    }
    if (length - i == 1) {
        const uint32_t v = uint32_t(data[i]) << 16;
        *out++ = kBase64Alphabet[(v >> 18) & 0x3F];
        *out++ = kBase64Alphabet[(v >> 12) & 0x3F];
        *out++ = '=';
        *out++ = '=';
    } else if (length - i == 2) {
        const uint32_t v = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8);
        *out++ = kBase64Alphabet[(v >> 18) & 0x3F];
        *out++ = kBase64Alphabet[(v >> 12) & 0x3F];
        *out++ = kBase64Alphabet[(v >> 6) & 0x3F];
        *out++ = '=';
    }
    return result;
}

char* base64Encode(const char* text) {
    if (text == nullptr) {
        REPORT_NULL("input");
        return nullptr;
    }
    return base64EncodeBytes(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
}

static int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

char* base64Decode(const char* text, size_t* outLength) {
    if (outLength != nullptr) *outLength = 0;
    if (text == nullptr) {
        REPORT_NULL("input");
        return nullptr;
    }
    // Form bodies arrive with the three base64 specials still percent-encoded.
    TextHolder plus(replaceAll(text, "%2B", "+"));
    TextHolder slash(plus ? replaceAll(plus.get(), "%2F", "/") : nullptr);
    TextHolder equals(slash ? replaceAll(slash.get(), "%3D", "=") : nullptr);
    if (!equals) return nullptr;
    const char* in = equals.get();

    size_t symbols = 0;
    while (base64Value(in[symbols]) >= 0) ++symbols;
    char* result = static_cast<char*>(allocZero(symbols / 4 * 3 + 3 + 1));
    if (result == nullptr) return nullptr;

    size_t out = 0;
    uint32_t bits = 0;
    int pending = 0;
    for (size_t i = 0; i < symbols; ++i) {
        bits = (bits << 6) | static_cast<uint32_t>(base64Value(in[i]));
        pending += 6;
        if (pending >= 8) {
            pending -= 8;
            result[out++] = static_cast<char>((bits >> pending) & 0xFF);
        }
    }
    // The input may have carried a secret; the decoded copy is the caller's to wipe.
    secureZero(plus.get(), std::strlen(plus.get()));
    secureZero(slash.get(), std::strlen(slash.get()));
    secureZero(equals.get(), std::strlen(equals.get()));
    if (outLength != nullptr) *outLength = out;
    return result;
}

char* hexEncode(const uint8_t* data, size_t length) {
    if (data == nullptr && length > 0) {
        REPORT_NULL("input");
        return nullptr;
    }
    if (length > SIZE_MAX / 4) return nullptr;
    static const char kDigits[] = "0123456789ABCDEF";
    char* result = static_cast<char*>(allocZero(length * 2 + 1));
    if (result == nullptr) return nullptr;
    for (size_t i = 0; i < length; ++i) {
        result[2 * i] = kDigits[data[i] >> 4];
        result[2 * i + 1] = kDigits[data[i] & 0x0F];
    }
    return result;
}

uint8_t* hexDecode(const char* text, size_t* outLength) {
    if (outLength != nullptr) *outLength = 0;
    if (text == nullptr) {
        REPORT_NULL("input");
        return nullptr;
    }
    const size_t count = std::strlen(text) / 2;
    uint8_t* result = static_cast<uint8_t*>(allocZero(count + 1));
    if (result == nullptr) return nullptr;
    for (size_t i = 0; i < count; ++i) {
        const int high = digitValue(text[2 * i], 16);
        const int low = digitValue(text[2 * i + 1], 16);
        result[i] = static_cast<uint8_t>(((high < 0 ? 0 : high) << 4) | (low < 0 ? 0 : low));
    }
    if (outLength != nullptr) *outLength = count;
    return result;
}

// ---------------------------------------------------------------- JSON

// One tokeniser for the whole process; the lock keeps two threads from sharing it.
static jsmn_parser jsonParser;
static jsmntok_t jsonTokens[64];
static std::mutex jsonLock;

char* getJsonValue(const char* text, const char* key) {
    if (text == nullptr) {
        REPORT_NULL("inputJSONObj");
        return nullptr;
    }
    if (key == nullptr) {
        REPORT_NULL("inputKey");
        return nullptr;
    }
    TextHolder lowerKey(lowerCopy(key));
    if (!lowerKey) return nullptr;

    std::lock_guard<std::mutex> guard(jsonLock);
    jsmn_init(&jsonParser);
    const int count = jsmn_parse(&jsonParser, text, std::strlen(text), jsonTokens,
                                 sizeof(jsonTokens) / sizeof(jsonTokens[0]));
    // Keys sit at the odd tokens; the value is the token after, which must exist.
    for (int i = 1; i + 1 < count; i += 2) {
        const jsmntok_t& name = jsonTokens[i];
        if (name.start < 0 || name.end <= name.start) continue;
        TextHolder raw(substring(text, static_cast<size_t>(name.start), static_cast<size_t>(name.end)));
        TextHolder lowerName(raw ? lowerCopy(raw.get()) : nullptr);
        if (!lowerName || std::strcmp(lowerName.get(), lowerKey.get()) != 0) continue;

        const jsmntok_t& value = jsonTokens[i + 1];
        if (value.start < 0 || value.end < value.start) return nullptr;
        TextHolder valueText(copyBytes(text + value.start, static_cast<size_t>(value.end - value.start)));
        if (!valueText) return nullptr;
        return replaceAll(valueText.get(), "\\\"", "\"");
    }
    return nullptr;
}

char* unescapeJsonValue(const char* text) {
    if (text == nullptr) {
        REPORT_NULL("input");
        return nullptr;
    }
    static const char* const kPasses[7][2] = {
        {"\\r", "\r"},        {"\\n", "\n"},        {"\\t", "\t"},  {"\\u000f", "\x0f"},
        {"\\u000e", "\x0e"}, {"\\u001b", "\x1b"}, {"\\\"", "\""},
    };
    // Values can carry PINs, so every intermediate copy is wiped when replaced.
    char* current = duplicateText(text);
    for (const auto& pass : kPasses) {
        if (current == nullptr) return nullptr;
        char* next = replaceAll(current, pass[0], pass[1]);
        freeSecret(current);
        current = next;
    }
    return current;
}
