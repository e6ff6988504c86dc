#include "platform/osinfo.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstring>

namespace platform {

bool readOsVersion(OsVersionInfo* out) {
    if (!out) return false;
    *out = OsVersionInfo{};
    out->linux = true;
    utsname names{};
    if (uname(&names) != 0) return false;
    unsigned major = 0, minor = 0, build = 0;
    std::sscanf(names.release, "%u.%u.%u", &major, &minor, &build);
    out->major = major;
    out->minor = minor;
    out->build = build;
    out->productType = 1;
    // Win32 numbering of the processor architecture.
    const char* machine = names.machine;
    if (std::strcmp(machine, "x86_64") == 0) out->architecture = 9;
    else if (std::strcmp(machine, "ia64") == 0) out->architecture = 6;
    else if (std::strcmp(machine, "aarch64") == 0) out->architecture = 12;
    else if (std::strncmp(machine, "arm", 3) == 0) out->architecture = 5;
    else out->architecture = 0;
    out->wide = sizeof(void*) == 8 || out->architecture == 9 || out->architecture == 12;
    out->valid = true;
    return true;
}

}  // namespace platform
