#pragma once
// Dynamic libraries: load with immediate binding and local symbols (two copies of
// one library file are two independent instances), look up symbols, unload.
#include <string>

namespace platform {

struct DynamicLibrary {
    void* handle;  // null when not loaded
};

// Loads the library at path; false when it cannot be loaded (the reason is kept for
// libraryError()).
bool libraryOpen(DynamicLibrary* library, const char* path);
// Address of an exported symbol, null when the library has no such export.
void* librarySymbol(const DynamicLibrary* library, const char* name);
// Unloads; the record may be opened again afterwards.
void libraryClose(DynamicLibrary* library);
// Full path of the loaded file that holds address (e.g. a library's own function);
// empty when it cannot be had.
std::string libraryPathOf(const void* address);
// Text of the last load or lookup failure of the calling thread ("" when none).
const char* libraryError();

}  // namespace platform
