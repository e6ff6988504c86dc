// IPC message text as it arrives from another program.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "KestrovanUtil/Message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    KestrovanMessage* message = parseKestrovanMessage(text.c_str());
    if (!message) return 0;
    (void)verifyKestrovanMessage(message);
    std::free(kestrovanMessageText(message));
    std::free(hashKestrovanMessage(message));
    freeKestrovanMessage(message);
    return 0;
}
