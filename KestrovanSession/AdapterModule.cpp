// The adapter's library handle as the loader keeps it: one platform record per slot.
#include <cstdlib>

#include "KestrovanSession/SessionInternal.h"
#include "KestrovanUtil/Log.h"
#include "platform/dynlib.h"

namespace {
// The system's own code is not reachable through the platform layer; the reason text
// is logged instead, and the code says only that the load failed.
constexpr int kLoadFailed = 126;
}

void* loadAdapterModule(const char* path, int* errorCode) {
    *errorCode = 0;
    platform::DynamicLibrary library{nullptr};
    if (!path || !platform::libraryOpen(&library, path)) {
        *errorCode = kLoadFailed;
        logWarning("Load library: ", platform::libraryError());
        return nullptr;
    }
    auto* record = static_cast<platform::DynamicLibrary*>(std::malloc(sizeof library));
    if (!record) {
        REPORT_ALLOC();
        platform::libraryClose(&library);
        *errorCode = kLoadFailed;
        return nullptr;
    }
    *record = library;
    return record;
}

void* findAdapterEntry(void* module, const char* name) {
    if (!module) return nullptr;
    return platform::librarySymbol(static_cast<platform::DynamicLibrary*>(module), name);
}

bool freeAdapterModule(void* module, int* errorCode) {
    *errorCode = 0;
    if (!module) return true;
    auto* record = static_cast<platform::DynamicLibrary*>(module);
    platform::libraryClose(record);
    std::free(record);
    return true;
}
