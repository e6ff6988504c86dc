#include "forensics/ExceptionHandler.h"

#include <fmt/format.h>

#include <cerrno>
#include <stdexcept>

namespace Pel::OS::Win32::Forensic::Detail {

namespace {
void crashFilter(const platform::CrashInfo* info) { ExceptionHandler::Instance().Dispatch(info); }
}  // namespace

ExceptionHandler::ExceptionHandler()
    : loader_(std::make_shared<Pel::OS::Utility::LibraryLoader>(
          Pel::OS::Utility::SystemFolder() + "/" + Pel::OS::Utility::EntryPointModule(),
          Pel::OS::Utility::kSystemLoadFlags)) {}

ExceptionHandler::~ExceptionHandler() = default;

void ExceptionHandler::SetHandler(std::unique_ptr<IHandler> handler) { handler_ = std::move(handler); }

void ExceptionHandler::AddCallBack(CallBack callBack) {
    std::lock_guard<std::mutex> lock(mutex_);
    callBacks_.push_back(std::move(callBack));
}

void ExceptionHandler::Dispatch(const ExceptionPointers* exception) {
    while (!callBacks_.empty()) {
        CallBack entry = std::move(callBacks_.back());
        callBacks_.pop_back();
        // An error escaping one callback must not cost the others their turn, nor turn
        // the crash into a second one inside the handler.
        try {
            if (auto* plain = std::get_if<std::function<void()>>(&entry)) {
                if (*plain) (*plain)();
            } else if (auto& object = std::get<std::unique_ptr<IExceptionCallBack>>(entry)) {
                object->OnException(exception);
            }
        } catch (...) {
        }
    }
}

ExceptionHandler::UEF::UEF(std::shared_ptr<Pel::OS::Utility::LibraryLoader> loader)
    : loader_(std::move(loader)), setFilter_(nullptr) {
    if (!loader_) throw std::runtime_error(fmt::format("Failed to load API. API = {}, Error code = {}",
                                                       platform::kSetCrashFilterName, "no library"));
    setFilter_ = reinterpret_cast<platform::SetCrashFilterCall>(loader_->GetProcAddress(platform::kSetCrashFilterName));
}

void ExceptionHandler::UEF::Install() {
    // Unlike the filter this replaces, installing signal handlers can fail; an unarmed
    // service must not believe it is armed.
    if (!setFilter_(crashFilter))
        throw std::runtime_error(fmt::format("Failed to call {}. Error code = {}", platform::kSetCrashFilterName, errno));
}

}  // namespace Pel::OS::Win32::Forensic::Detail
