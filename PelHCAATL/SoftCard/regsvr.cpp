// kestrovan-regsvr: registers (or with -u unregisters) an in-process COM server in the
// machine folder, which lives below TARVIK_ROOT in a sandbox.
#include <cstdio>
#include <cstring>

#include "platform/com/com.h"
#include "platform/dynlib.h"

int main(int argc, char** argv) {
    bool unregister = argc == 3 && std::strcmp(argv[1], "-u") == 0;
    if (argc != 2 && !unregister) {
        std::fprintf(stderr, "usage: kestrovan-regsvr [-u] <library>\n");
        return 2;
    }
    const char* path = argv[argc - 1];
    platform::DynamicLibrary library{nullptr};
    if (!platform::libraryOpen(&library, path)) {
        std::fprintf(stderr, "kestrovan-regsvr: cannot load %s: %s\n", path, platform::libraryError());
        return 3;
    }
    const char* name = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto entry = reinterpret_cast<DllRegisterServerFunction>(platform::librarySymbol(&library, name));
    if (entry == nullptr) {
        std::fprintf(stderr, "kestrovan-regsvr: %s has no %s\n", path, name);
        platform::libraryClose(&library);
        return 4;
    }
    HRESULT hr = entry();
    platform::libraryClose(&library);
    if (FAILED(hr)) {
        std::fprintf(stderr, "kestrovan-regsvr: %s failed: 0x%08X\n", name, static_cast<unsigned>(hr));
        return 5;
    }
    std::printf("kestrovan-regsvr: %s succeeded for %s\n", name, path);
    return 0;
}
