// The in-process server exports of the software card.
#include <filesystem>
#include <new>
#include <system_error>

#include "SoftCard.h"
#include "platform/com/com.h"
#include "platform/dynlib.h"

namespace {

// One factory for the one class; it lives as long as the library.
struct SoftCardFactory final : IClassFactory {
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        HRESULT armed = softcard::armedFailure("create");
        if (FAILED(armed)) return armed;
        auto* card = new (std::nothrow) softcard::SoftCard();
        if (card == nullptr) return E_OUTOFMEMORY;
        HRESULT hr = card->QueryInterface(riid, object);
        card->Release();
        return hr;
    }
    HRESULT LockServer(int lock) override {
        if (lock)
            ++softcard::serverLocks;
        else
            --softcard::serverLocks;
        return S_OK;
    }
};

SoftCardFactory factory;

}  // namespace

extern "C" {

COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!(clsid == CLSID_PelHCAATL)) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(riid, object);
}

COM_EXPORT HRESULT DllCanUnloadNow() { return softcard::liveObjects == 0 && softcard::serverLocks == 0 ? S_OK : S_FALSE; }

COM_EXPORT HRESULT DllRegisterServer() {
    std::string self = platform::libraryPathOf(reinterpret_cast<const void*>(&DllRegisterServer));
    if (self.empty()) return SELFREG_E_CLASS;
    // The loader may know the library by a relative path; the registry needs it whole.
    std::error_code error;
    std::string whole = std::filesystem::absolute(self, error).lexically_normal().string();
    if (error) return SELFREG_E_CLASS;
    return comRegisterClass(CLSID_PelHCAATL, whole.c_str());
}

COM_EXPORT HRESULT DllUnregisterServer() { return comUnregisterClass(CLSID_PelHCAATL); }

}  // extern "C"
