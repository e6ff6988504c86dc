#include <cstdio>
#include <cstring>

#include "platform/com/types.h"

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads count hex digits at text into *value; false on any non-digit.
bool readHex(const char* text, int count, uint64_t* value) {
    uint64_t v = 0;
    for (int i = 0; i < count; ++i) {
        int d = hexDigit(text[i]);
        if (d < 0) return false;
        v = (v << 4) | static_cast<uint64_t>(d);
    }
    *value = v;
    return true;
}

}  // namespace

bool parseGuid(const char* text, GUID* out) {
    if (text == nullptr || out == nullptr || std::strlen(text) != 38) return false;
    if (text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' || text[19] != '-' ||
        text[24] != '-')
        return false;
    uint64_t a = 0, b = 0, c = 0, d = 0, e = 0;
    if (!readHex(text + 1, 8, &a) || !readHex(text + 10, 4, &b) || !readHex(text + 15, 4, &c) ||
        !readHex(text + 20, 4, &d) || !readHex(text + 25, 12, &e))
        return false;
    GUID g{};
    g.Data1 = static_cast<uint32_t>(a);
    g.Data2 = static_cast<uint16_t>(b);
    g.Data3 = static_cast<uint16_t>(c);
    g.Data4[0] = static_cast<uint8_t>(d >> 8);
    g.Data4[1] = static_cast<uint8_t>(d);
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<uint8_t>(e >> (8 * (5 - i)));
    *out = g;
    return true;
}

void formatGuid(REFGUID g, char out[39]) {
    std::snprintf(out, 39, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}
