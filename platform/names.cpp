#include "platform/names.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/folders.h"
#include "platform/fs.h"

namespace platform {

bool isGlobalName(const char* name, const char** rest) {
    static const char kPrefix[] = "Global\\";
    if (name && std::strncmp(name, kPrefix, sizeof kPrefix - 1) == 0) {
        if (rest) *rest = name + sizeof kPrefix - 1;
        return true;
    }
    if (rest) *rest = name;
    return false;
}

std::string objectFileName(const char* name) {
    if (!name || !*name) return {};
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
        unsigned char c = *p;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    // A leading dot would make "." or ".." (or a hidden file); escape it like any other byte.
    if (out[0] == '.') out.replace(0, 1, "%2E");
    constexpr size_t kMaxName = 180;  // leaves room for a suffix within NAME_MAX
    if (out.size() > kMaxName) {
        uint64_t hash = 1469598103934665603ull;  // FNV-1a over the original name
        for (const char* p = name; *p; ++p) {
            hash ^= static_cast<unsigned char>(*p);
            hash *= 1099511628211ull;
        }
        char tag[20];
        std::snprintf(tag, sizeof tag, "#%016llx", static_cast<unsigned long long>(hash));
        out.resize(kMaxName - 17);
        out += tag;
    }
    return out;
}

}  // namespace platform
