#pragma once
// One loaded module, freed with the loader. Modules are always named by full path.
#include <string>

#include "platform/crash.h"

namespace Pel::OS::Utility {

class LibraryLoader {
public:
    // Raises std::runtime_error "Failed to load library. ..." when it cannot be loaded.
    LibraryLoader(const std::string& fullPath, int flags);
    ~LibraryLoader();
    LibraryLoader(const LibraryLoader&) = delete;
    LibraryLoader& operator=(const LibraryLoader&) = delete;

    // Address of an entry point; raises std::runtime_error "Failed to load API. ..." when missing.
    void* GetProcAddress(const char* name) const;

private:
    platform::CrashModule module_{};
};

// The folder the crash entry points are loaded from (the running program's folder),
// and the file name of the module that holds them. Raise "Failed to get system known
// folder. ..." when it cannot be found.
std::string SystemFolder();
std::string EntryPointModule();
// Flags the loader is given for system modules.
constexpr int kSystemLoadFlags = 0;

}  // namespace Pel::OS::Utility
