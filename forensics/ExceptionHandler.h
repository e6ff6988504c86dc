#pragma once
// The process's exception handler: one installed hook on the crash path and a list of
// callbacks that run, newest first, on the crashing thread.
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <variant>

#include "forensics/LibraryLoader.h"
#include "forensics/Singleton.h"
#include "platform/crash.h"

namespace Pel::OS::Win32::Forensic {

// What a callback is told about the crash; null when there is no crash record.
using ExceptionPointers = platform::CrashInfo;

namespace Detail {

class IHandler {
public:
    virtual ~IHandler() = default;
    virtual void Install() = 0;
};

class IExceptionCallBack {
public:
    virtual ~IExceptionCallBack() = default;
    virtual void OnException(const ExceptionPointers* exception) = 0;
};

class ExceptionHandler : public Pel::Core::Pattern::Singleton<ExceptionHandler, ExceptionHandler> {
public:
    using CallBack = std::variant<std::function<void()>, std::unique_ptr<IExceptionCallBack>>;

    // Hooks the crash path through the unhandled-crash filter of the platform.
    class UEF : public IHandler {
    public:
        // Raises std::runtime_error when the filter entry point cannot be resolved.
        explicit UEF(std::shared_ptr<Pel::OS::Utility::LibraryLoader> loader);
        void Install() override;

    private:
        std::shared_ptr<Pel::OS::Utility::LibraryLoader> loader_;
        platform::SetCrashFilterCall setFilter_;
    };

    virtual ~ExceptionHandler();

    // Makes handler the installed one; the one before, if any, is destroyed.
    void SetHandler(std::unique_ptr<IHandler> handler);
    IHandler* Handler() const { return handler_.get(); }
    void AddCallBack(CallBack callBack);
    // Runs and removes every callback, last added first. Takes no lock: it runs on a
    // crashing thread that must not wait for anyone.
    void Dispatch(const ExceptionPointers* exception);

    // The module the crash filter entry point comes from, shared with UEF.
    std::shared_ptr<Pel::OS::Utility::LibraryLoader> Loader() const { return loader_; }

private:
    friend class Pel::Core::Pattern::Singleton<ExceptionHandler, ExceptionHandler>;
    ExceptionHandler();

    std::shared_ptr<Pel::OS::Utility::LibraryLoader> loader_;
    std::unique_ptr<IHandler> handler_;
    std::deque<CallBack> callBacks_;
    std::mutex mutex_;
};

}  // namespace Detail

using Detail::ExceptionHandler;

}  // namespace Pel::OS::Win32::Forensic
