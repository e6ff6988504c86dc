#pragma once
// Inside the platform layer only: how names of named objects become file names.
#include <string>

namespace platform {

// True for machine-wide names ("Global\PelLog"); the prefix is left out of *rest.
bool isGlobalName(const char* name, const char** rest);
// A file name for an object name: letters, digits, "-", "_" and "." stay, every other
// byte becomes "%XX", so "\" and "/" can never leave the folder and distinct names stay
// distinct. Over-long names are cut and tagged with a hash of the whole name.
// Empty when the name is empty.
std::string objectFileName(const char* name);
// Folder for the files of named objects of one kind ("mutex", "event"), created when
// missing; machine-wide ones live in a folder every user can write. Empty on failure.
std::string objectFolder(const char* kind, bool global);

}  // namespace platform
