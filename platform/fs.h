#pragma once
// Files and folders. Paths are UTF-8 with "/" separators.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class PathKind { Missing, File, Folder, Other, Unreadable };

// What the path names; Unreadable when its attributes cannot be read for another reason.
PathKind pathKind(const char* path);
bool isHiddenName(const char* path);  // base name starts with "."
bool fileSize(const char* path, int64_t* size);
bool makeFolders(const char* path);          // like mkdir -p
bool removeFile(const char* path);
bool removeEmptyFolder(const char* path);
bool removeTree(const char* path);
bool copyFile(const char* from, const char* to);  // replaces the target whole, or leaves it
bool renamePath(const char* from, const char* to);
bool createEmptyFile(const char* path);      // "break>" of the design
// Names (not paths) in a folder, "." and ".." left out, hidden ones included.
bool listFolder(const char* path, std::vector<std::string>* names);
// Deletes files of the folder whose names match the glob pattern (e.g. "*.so"), hidden ones too.
int deleteMatching(const char* folder, const char* pattern);
// Whole content of a file; false when it cannot be opened or read.
bool readWholeFile(const char* path, std::string* content);
// Replaces the file's content: written beside it and renamed over it, so a failed
// write (a full disk) leaves the old content in place. Mode 0644 for new files.
bool replaceFileContent(const char* path, const void* data, size_t length);
// Full path of the running executable.
std::string executablePath();

}  // namespace platform
