#include "platform/dynlib.h"

#include <dlfcn.h>

#include <cstdio>

#include "platform/syscalls.h"

namespace platform {

namespace {
thread_local char lastError[512];

void keepError(const char* what) {
    const char* reason = dlerror();
    std::snprintf(lastError, sizeof lastError, "%s: %s", what, reason != nullptr ? reason : "failed");
}
}  // namespace

bool libraryOpen(DynamicLibrary* library, const char* path) {
    if (library == nullptr) return false;
    library->handle = nullptr;
    if (path == nullptr || path[0] == 0) {
        std::snprintf(lastError, sizeof lastError, "dlopen: no path");
        return false;
    }
    lastError[0] = 0;
    dlerror();
    library->handle = sysCalls().dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library->handle == nullptr) keepError("dlopen");
    return library->handle != nullptr;
}

void* librarySymbol(const DynamicLibrary* library, const char* name) {
    if (library == nullptr || library->handle == nullptr || name == nullptr) return nullptr;
    dlerror();
    void* address = dlsym(library->handle, name);
    if (address == nullptr) keepError("dlsym");
    return address;
}

void libraryClose(DynamicLibrary* library) {
    if (library == nullptr || library->handle == nullptr) return;
    dlclose(library->handle);
    library->handle = nullptr;
}

std::string libraryPathOf(const void* address) {
    Dl_info info{};
    if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
    return info.dli_fname;
}

const char* libraryError() { return lastError; }

}  // namespace platform
