#pragma once
// Writes a dump of the crashing process into a folder and keeps only the newest few.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "forensics/ExceptionHandler.h"

namespace Pel::OS::Win32::Forensic {

class CrashDumpCallBack : public Detail::IExceptionCallBack {
public:
    // Raises std::runtime_error when the dump writer cannot be loaded or resolved.
    CrashDumpCallBack(int32_t keepCount, std::string folder, std::string name);
    ~CrashDumpCallBack() override;

    // Prunes old dumps and writes a new one; never raises. When pruning or naming
    // fails, no dump is written.
    void OnException(const ExceptionPointers* exception) override;

    // The dump path for now, after pruning the folder to make room; raises std::runtime_error.
    std::string PrepareDumpPath();

private:
    std::vector<std::string> OldDumps() const;
    static void Delete(const std::string& path);

    std::unique_ptr<Pel::OS::Utility::LibraryLoader> loader_;
    std::string folder_;
    std::string name_;
    int32_t keepCount_;
    platform::WriteCrashDumpCall writeDump_;
};

}  // namespace Pel::OS::Win32::Forensic
