#include "platform/process.h"

#include <cctype>
#include <cstring>

namespace platform {

std::vector<std::string> splitCommandLine(const char* commandLine) {
    std::vector<std::string> args;
    if (!commandLine) return args;
    std::string current;
    bool inQuotes = false;
    bool haveArg = false;  // "" is an empty argument, not nothing
    for (const char* p = commandLine; *p; ++p) {
        char c = *p;
        if (c == '"') {
            inQuotes = !inQuotes;
            haveArg = true;
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (haveArg) {
                args.push_back(current);
                current.clear();
                haveArg = false;
            }
        } else {
            current += c;
            haveArg = true;
        }
    }
    if (haveArg) args.push_back(current);
    return args;
}

namespace {
size_t nameLengthWithoutExe(const char* name) {
    size_t n = std::strlen(name);
    if (n >= 4 && std::tolower(static_cast<unsigned char>(name[n - 1])) == 'e' &&
        std::tolower(static_cast<unsigned char>(name[n - 2])) == 'x' &&
        std::tolower(static_cast<unsigned char>(name[n - 3])) == 'e' && name[n - 4] == '.')
        return n - 4;
    return n;
}
}  // namespace

std::string programFileName(const char* name) {
    if (!name) return {};
    return std::string(name, nameLengthWithoutExe(name));
}

bool sameProgramName(const char* a, const char* b, bool ignoreCase) {
    if (!a || !b) return false;
    size_t na = nameLengthWithoutExe(a), nb = nameLengthWithoutExe(b);
    if (na != nb) return false;
    for (size_t i = 0; i < na; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
        if (ignoreCase ? std::tolower(ca) != std::tolower(cb) : ca != cb) return false;
    }
    return true;
}

}  // namespace platform
