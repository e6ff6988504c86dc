#include "forensics/CrashDumpCallBack.h"

#include <fmt/format.h>

#include <algorithm>
#include <regex>
#include <stdexcept>
#include <thread>

#include "forensics/RetryPolicy.h"
#include "forensics/ScopeExit.h"
#include "KestrovanUtil/Text.h"
#include "platform/clock.h"
#include "platform/fs.h"

namespace Pel::OS::Win32::Forensic {

namespace {
// The system's code for a text with no Unicode translation.
constexpr uint32_t kNoUnicodeTranslation = 0x459;
}  // namespace

CrashDumpCallBack::CrashDumpCallBack(int32_t keepCount, std::string folder, std::string name)
    : loader_(std::make_unique<Pel::OS::Utility::LibraryLoader>(
          Pel::OS::Utility::SystemFolder() + "/" + Pel::OS::Utility::EntryPointModule(),
          Pel::OS::Utility::kSystemLoadFlags)),
      folder_(std::move(folder)),
      name_(std::move(name)),
      keepCount_(keepCount),
      writeDump_(reinterpret_cast<platform::WriteCrashDumpCall>(loader_->GetProcAddress(platform::kWriteCrashDumpName))) {}

CrashDumpCallBack::~CrashDumpCallBack() = default;

std::vector<std::string> CrashDumpCallBack::OldDumps() const {
    std::vector<std::string> dumps;
    if (platform::pathKind(folder_.c_str()) != platform::PathKind::Folder) return dumps;
    std::vector<std::string> names;
    if (!platform::listFolder(folder_.c_str(), &names)) return dumps;
    // The name goes in as it is; the time stamp is a fixed ten digits, so the sorted
    // paths run oldest first.
    const std::regex oldDump(fmt::format("{}[0-9]{{10}}.dmp", name_), std::regex::ECMAScript);
    for (const auto& entry : names) {
        if (!std::regex_match(entry, oldDump)) continue;
        std::string path = folder_ + "/" + entry;
        if (platform::pathKind(path.c_str()) == platform::PathKind::File) dumps.push_back(std::move(path));
    }
    std::sort(dumps.begin(), dumps.end());
    return dumps;
}

void CrashDumpCallBack::Delete(const std::string& path) {
    Pel::Core::Pattern::Linear<2, 2> policy;
    for (;;) {
        if (platform::removeFile(path.c_str())) return;
        // Gone meanwhile is as good as deleted.
        if (platform::pathKind(path.c_str()) == platform::PathKind::Missing) return;
        if (policy.RetriesLeft() == 0) throw std::runtime_error("Retry timeout");
        Pel::Core::ScopeExit countDown([&policy] { policy.CountDown(); });
        std::this_thread::sleep_for(policy.NextDelay());
    }
}

std::string CrashDumpCallBack::PrepareDumpPath() {
    std::vector<std::string> dumps = OldDumps();
    const auto count = static_cast<int64_t>(dumps.size());
    if (count >= keepCount_) {
        // With a keep count below one the formula asks for more than there is: delete all.
        const int64_t excess = std::min<int64_t>(count - keepCount_ + 1, count);
        for (int64_t i = 0; i < excess; ++i) Delete(dumps[static_cast<size_t>(i)]);
    }
    const int64_t now = platform::unixSeconds();
    std::string path = fmt::format("{}{}.dmp", folder_ + "/" + name_, now);
    // The folder and name come from outside this class; a text that is not UTF-8 names no file we could find again.
    char16_t* wide = utf8ToUtf16(path.c_str());
    const bool converted = wide != nullptr && wide[0] != 0;
    free(wide);
    if (!converted)
        throw std::runtime_error(fmt::format("Conversion Failed. Error code = {:#08x}", kNoUnicodeTranslation));
    return path;
}

void CrashDumpCallBack::OnException(const ExceptionPointers* exception) {
    std::string path;
    try {
        path = PrepareDumpPath();
    } catch (const std::exception&) {
        return;
    }
    // A missing folder or a file that cannot be created just means no dump.
    writeDump_(path.c_str(), exception);
}

}  // namespace Pel::OS::Win32::Forensic
