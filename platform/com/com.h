#pragma once
// The COM runtime subset: per-thread apartments, in-process servers found through a
// registry folder, class factories and the running state.
//
// Registry: the file <CommonAppData>/Registry/CLSID/{GUID} (upper-case hex) holds, on
// its first line, the path of the library that serves the class. The library exports
// DllGetClassObject, and may export DllCanUnloadNow, DllRegisterServer and
// DllUnregisterServer.
#include <string>

#include "platform/com/types.h"
#include "platform/com/unknown.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_MULTITHREADED = 0x0;

// Marks a server's exports: libraries build with hidden visibility and a version
// script, so only what carries this mark can be found by name.
#define COM_EXPORT __attribute__((visibility("default")))

// Exports of an in-process server, C calling convention.
extern "C" {
using DllGetClassObjectFunction = HRESULT (*)(REFCLSID clsid, REFIID riid, void** object);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();
}

// Enters COM on the calling thread: S_OK the first time, S_FALSE when already in.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD model);
// Leaves COM once; the last leave of a thread unloads servers that say they may go.
void CoUninitialize();

// Creates an object of the class. Only in-process servers exist here, so a context
// without CLSCTX_INPROC_SERVER or CLSCTX_INPROC_HANDLER finds no class.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object);
// Puts an object into the running state; in-process objects already are.
HRESULT OleRun(IUnknown* object);

// Registry file of a class; empty when the machine folder cannot be had.
std::string comRegistryPath(REFCLSID clsid);
// Writes / removes the registry file of a class (what a server's
// DllRegisterServer / DllUnregisterServer do).
HRESULT comRegisterClass(REFCLSID clsid, const char* libraryPath);
HRESULT comUnregisterClass(REFCLSID clsid);
