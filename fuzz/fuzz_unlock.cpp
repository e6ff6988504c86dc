// A page controls both the domain list and its own origin: neither may crash the
// service or run the matcher without bound. Input: list, a newline, then the origin.
#include <cstddef>
#include <cstdint>
#include <string>

#include "KestrovanUtil/checkURL.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\n');
    std::string list = input.substr(0, split);
    std::string origin = split == std::string::npos ? std::string() : input.substr(split + 1);
    setUnlockURL(list.c_str());
    unlock(origin.c_str());
    (void)unlockResult();
    clearUnlockURL();
    return 0;
}
