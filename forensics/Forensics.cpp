#include "forensics/Forensics.h"

#include <memory>

#include "forensics/CrashDumpCallBack.h"
#include "forensics/ExceptionHandler.h"
#include "platform/folders.h"

void armCrashForensics() {
    using namespace Pel::OS::Win32::Forensic;
    ExceptionHandler& handler = ExceptionHandler::Instance();
    handler.SetHandler(std::make_unique<ExceptionHandler::UEF>(handler.Loader()));
    handler.Handler()->Install();
    handler.AddCallBack(std::make_unique<CrashDumpCallBack>(
        3, platform::knownFolder(platform::KnownFolder::DriveTmp), "TarvikKestrovan"));
}
