#include "platform/com/com.h"

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "platform/dynlib.h"
#include "platform/folders.h"

namespace {

thread_local int apartmentDepth = 0;

// Servers loaded so far in this process. Kept loaded while they have live objects;
// a library is loaded once and shared by every thread.
struct LoadedServer {
    std::string path;
    platform::DynamicLibrary library;
};
std::mutex serversLock;
std::vector<LoadedServer> servers;

void* serverSymbol(const std::string& path, const char* name, HRESULT* hr) {
    std::lock_guard<std::mutex> guard(serversLock);
    for (auto& server : servers) {
        if (server.path == path) {
            void* address = platform::librarySymbol(&server.library, name);
            *hr = address != nullptr ? S_OK : CO_E_ERRORINDLL;
            return address;
        }
    }
    LoadedServer server{path, {nullptr}};
    if (!platform::libraryOpen(&server.library, path.c_str())) {
        *hr = CO_E_DLLNOTFOUND;
        return nullptr;
    }
    void* address = platform::librarySymbol(&server.library, name);
    servers.push_back(server);
    *hr = address != nullptr ? S_OK : CO_E_ERRORINDLL;
    return address;
}

void freeUnusedServers() {
    std::lock_guard<std::mutex> guard(serversLock);
    for (size_t i = 0; i < servers.size();) {
        auto canUnload = reinterpret_cast<DllCanUnloadNowFunction>(
            platform::librarySymbol(&servers[i].library, "DllCanUnloadNow"));
        if (canUnload != nullptr && canUnload() == S_OK) {
            platform::libraryClose(&servers[i].library);
            servers.erase(servers.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
}

// The library path of a registered class, empty when not registered.
std::string registeredPath(REFCLSID clsid) {
    std::string file = comRegistryPath(clsid);
    if (file.empty()) return {};
    FILE* in = std::fopen(file.c_str(), "rb");
    if (in == nullptr) return {};
    std::string path;
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n' && c != '\r' && path.size() < 4096) path.push_back(static_cast<char>(c));
    std::fclose(in);
    while (!path.empty() && (path.back() == ' ' || path.back() == '\t')) path.pop_back();
    return path;
}

}  // namespace

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void*, DWORD) {
    ++apartmentDepth;
    return apartmentDepth == 1 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (apartmentDepth == 0) return;
    if (--apartmentDepth == 0) freeUnusedServers();
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (apartmentDepth == 0) return CO_E_NOTINITIALIZED;
    if ((context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)) == 0) return REGDB_E_CLASSNOTREG;
    std::string path = registeredPath(clsid);
    if (path.empty()) return REGDB_E_CLASSNOTREG;
    HRESULT hr = S_OK;
    auto getClassObject = reinterpret_cast<DllGetClassObjectFunction>(serverSymbol(path, "DllGetClassObject", &hr));
    if (getClassObject == nullptr) return hr;
    IClassFactory* factory = nullptr;
    hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    if (factory == nullptr) return E_UNEXPECTED;
    hr = factory->CreateInstance(outer, riid, object);
    factory->Release();
    if (FAILED(hr)) *object = nullptr;
    return hr;
}

HRESULT OleRun(IUnknown* object) { return object == nullptr ? E_INVALIDARG : S_OK; }

std::string comRegistryPath(REFCLSID clsid) {
    std::string machine = platform::knownFolder(platform::KnownFolder::CommonAppData);
    if (machine.empty()) return {};
    char name[39];
    formatGuid(clsid, name);
    return machine + "/Registry/CLSID/" + name;
}

HRESULT comRegisterClass(REFCLSID clsid, const char* libraryPath) {
    if (libraryPath == nullptr || libraryPath[0] == 0) return E_INVALIDARG;
    std::string file = comRegistryPath(clsid);
    if (file.empty()) return SELFREG_E_CLASS;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), error);
    FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) return SELFREG_E_CLASS;
    bool written = std::fprintf(out, "%s\n", libraryPath) > 0;
    written = std::fclose(out) == 0 && written;
    return written ? S_OK : SELFREG_E_CLASS;
}

HRESULT comUnregisterClass(REFCLSID clsid) {
    std::string file = comRegistryPath(clsid);
    if (file.empty()) return SELFREG_E_CLASS;
    std::error_code error;
    std::filesystem::remove(file, error);
    return error ? SELFREG_E_CLASS : S_OK;
}
