#include "forensics/LibraryLoader.h"

#include <fmt/format.h>

#include <stdexcept>

namespace Pel::OS::Utility {

namespace {
// The identifier the folder lookup reports itself with, as the original lookup of the system folder did.
constexpr int kSystemFolderId = 4;

void location(std::string* folder, std::string* fileName) {
    int error = 0;
    if (!platform::crashModuleLocation(folder, fileName, &error))
        throw std::runtime_error(fmt::format("Failed to get system known folder. ID = {}, Error Code = {:#08x}",
                                             kSystemFolderId, static_cast<unsigned>(error)));
}
}  // namespace

LibraryLoader::LibraryLoader(const std::string& fullPath, int flags) {
    std::string error;
    if (!platform::crashModuleOpen(&module_, fullPath.c_str(), flags, &error))
        throw std::runtime_error(fmt::format("Failed to load library. Library = {}, Error code = {}", fullPath, error));
}

LibraryLoader::~LibraryLoader() { platform::crashModuleClose(&module_); }

void* LibraryLoader::GetProcAddress(const char* name) const {
    std::string error;
    void* address = platform::crashModuleSymbol(&module_, name, &error);
    if (address == nullptr)
        throw std::runtime_error(fmt::format("Failed to load API. API = {}, Error code = {}", name ? name : "", error));
    return address;
}

std::string SystemFolder() {
    std::string folder;
    location(&folder, nullptr);
    return folder;
}

std::string EntryPointModule() {
    std::string fileName;
    location(nullptr, &fileName);
    return fileName;
}

}  // namespace Pel::OS::Utility
