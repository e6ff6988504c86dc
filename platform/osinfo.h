#pragma once
#include <cstdint>

namespace platform {

// What the Windows decision table needs; filled from the running system.
struct OsVersionInfo {
    uint32_t major, minor, build;
    uint8_t productType;   // 1 workstation, 2 domain controller, 3 server
    uint16_t suiteMask;    // 0x8000 home server suite
    int serverR2Metric;    // SM_SERVERR2
    uint16_t architecture; // 0 x86, 6 Itanium, 9 x64 (Win32 numbering)
    bool linux;            // running on Linux: the decision table does not apply
    bool wide;             // a 64-bit system
    bool valid;            // the version could be read
};

bool readOsVersion(OsVersionInfo* out);

}  // namespace platform
