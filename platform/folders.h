#pragma once
// Known folders of the system. With TARVIK_ROOT set, every folder lives below it,
// so a sandbox never touches the real machine.
#include <string>

namespace platform {

enum class KnownFolder {
    CommonAppData,  // machine-wide application data ("ProgramData")
    Windows,        // the Windows folder: where the shared log ini may live
    System,         // system library folder
    UserTemp,       // the user's temporary folder
    Desktop,        // the user's desktop
    Home,           // the user's home folder (%HOMEDRIVE%%HOMEPATH%)
    DriveTmp,       // "C:\tmp": the dump folder and the last ini candidate
    Runtime,        // where named mutexes, events and windows keep their files
};

// Full path of the folder without a trailing separator; empty when it cannot be had.
// The folder is created when missing, except DriveTmp (a missing dump folder means no dumps).
std::string knownFolder(KnownFolder folder);

// The sandbox root from TARVIK_ROOT, empty when not sandboxed.
std::string sandboxRoot();

// The account name of the calling user.
std::string userName();

// Folder separator of this platform, as a one-character text.
constexpr const char* kPathSeparator = "/";
// File name suffix of dynamic libraries on this platform.
constexpr const char* kLibrarySuffix = ".so";

}  // namespace platform
