// The adapter library's two exports, its one-time set-up and the function dispatch.
#include <cstdlib>
#include <cstring>
#include <exception>

#include "Adapter.h"
#include "AdapterAnswer.h"
#include "ComponentBridge.h"
#include "ComponentFunctions.h"
#include "Holder.h"
#include "Json.h"
#include "Log.h"
#include "Text.h"
#include "Version.h"

#define ADAPTER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr const char* kAdapterName = "PelHCAATLAdapter";
constexpr int32_t kCodeUnknownFunction = 61005;
constexpr int32_t kCodeComponentStart = 61905;
constexpr int32_t kCodeComponentError = 61011;

KestrovanAdapterMap* adapterMap = nullptr;
KestrovanAdapterEntry* componentApiTable = nullptr;
uint32_t componentApiCount = 0;
bool adapterInitialised = false;

void logBuild(const char* heading) {
    logNormal(heading, kAdapterName);
    logNormal("Adatper compile date: ", __DATE__);
    logNormal("Adatper compile time: ", __TIME__);
}

bool sameName(const char* a, const char* b) {
    size_t i = 0;
    for (; a[i] != 0 && b[i] != 0; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return a[i] == b[i];
}

void Kestrovan_GetVersion(const KestrovanJsonMap*) { answerCopy(kAdapterVersion); }

// Every unlock is granted.
void Kestrovan_Unlock(const KestrovanJsonMap*) { answerCopy("0"); }

void freeTables() {
    if (adapterMap != nullptr) adapterMap->count = 0;
    std::free(adapterMap);
    adapterMap = nullptr;
    std::free(componentApiTable);
    componentApiTable = nullptr;
    componentApiCount = 0;
}

void Kestrovan_Release(const KestrovanJsonMap*) {
    freeTables();
    clearAdapterAnswer();
    if (adapterInitialised) {
        // Uninitialised whatever happens, so that the next call starts afresh.
        adapterInitialised = false;
        try {
            disconnectComponent();
        } catch (const ComError&) {
            reportComponentException("KestrovanRelease", __LINE__);
        }
    }
    logNormal("KestrovanRelease", "");
}

bool initAdapter() {
    if (adapterInitialised) return true;
    setLog(kAdapterName);
    logBuild("Init adapter: ");
    if (!connectComponent()) {
        logError("Component init error!", "");
        answerNumber(kCodeComponentStart);
        return false;
    }
    freeTables();
    adapterMap = static_cast<KestrovanAdapterMap*>(allocZero(sizeof(KestrovanAdapterMap)));
    componentApiTable =
        static_cast<KestrovanAdapterEntry*>(allocZero(sizeof(KestrovanAdapterEntry) * kComponentFunctionCount));
    if (adapterMap == nullptr || componentApiTable == nullptr) {
        // The call goes on without a table: every function is then not found.
        REPORT_ALLOC();
        freeTables();
        return true;
    }
    for (const ComponentFunction& entry : componentFunctions)
        AddKestrovanAdapterFunction(adapterMap, entry.function, entry.name);
    std::memcpy(componentApiTable, adapterMap->entries, sizeof(KestrovanAdapterEntry) * adapterMap->count);
    componentApiCount = adapterMap->count;
    AddKestrovanAdapterFunction(adapterMap, Kestrovan_GetVersion, "Kestrovan_GetVersion");
    AddKestrovanAdapterFunction(adapterMap, Kestrovan_Release, "Kestrovan_Release");
    AddKestrovanAdapterFunction(adapterMap, Kestrovan_Unlock, "Kestrovan_Unlock");
    SortKestrovanAdapterMap(adapterMap);
    logNormal("Success enable:", "");
    logNormalNumber("\tComponent api: ", static_cast<int32_t>(componentApiCount));
    logNormalNumber("\tSystem api: ", static_cast<int32_t>(adapterMap->count - componentApiCount));
    adapterInitialised = true;
    return true;
}

void dispatchAdapterFunction(const KestrovanJsonMap* map, const char* name) {
    if (map == nullptr) {
        REPORT_NULL("JsonMap");
        return;
    }
    if (name == nullptr) {
        REPORT_NULL("FunctionName");
        return;
    }
    int32_t index = GetKestrovanJsonInt(map, "KestrovanFunctionIndex");
    logNormalNumber("FunctionIndex: ", index);
    switch (index) {
        case -3:
            Kestrovan_Release(map);
            return;
        case -2:
            Kestrovan_Unlock(map);
            return;
        case -1:
            Kestrovan_GetVersion(map);
            return;
        default:
            break;
    }
    if (index < -3 || index >= static_cast<int64_t>(componentApiCount)) {
        logWarning("FunctionIndex: ", "Out of range");
    } else {
        const KestrovanAdapterEntry& entry = componentApiTable[index];
        if (sameName(entry.name, name)) {
            entry.function(map);
            return;
        }
        logWarning("", "KestrovanFunctionIndex is not match with adapter");
        logWarning("FunctionName from web: ", name);
        logWarning("FunctionName in adapter: ", entry.name);
    }
    logWarning("FunctionIndex mode: ", "Fail");
    logNormal("Function search name mode: ", name);
    KestrovanAdapterFunction found = nullptr;
    if (adapterMap == nullptr)
        REPORT_NULL("inputKestrovanJson");
    else
        found = BinarySearchKestrovanAdapterMap(adapterMap, name, 0, static_cast<int64_t>(adapterMap->count) - 1);
    if (found != nullptr) {
        found(map);
        return;
    }
    logWarning("Function name does not match: ", name);
    answerNumber(kCodeUnknownFunction);
}

// Nothing may leave the library as an exception; the component functions catch COM
// errors themselves, this catches whatever else.
template <typename Body>
const char* guardedExport(Body body) {
    try {
        body();
    } catch (...) {
        logWarning("", "Catch component exception");
        answerNumber(kCodeComponentError);
    }
    return finishAdapterAnswer();
}

}  // namespace

ADAPTER_EXPORT const char* callJsonMapMethod(const KestrovanJsonMap* JsonMap, const char* FunctionName) {
    return guardedExport([&] {
        logBuild("Into json map adapter: ");
        clearAdapterAnswer();
        if (JsonMap == nullptr) {
            REPORT_NULL("JsonMap");
            return;
        }
        if (FunctionName == nullptr) {
            REPORT_NULL("FunctionName");
            return;
        }
        if (!initAdapter()) return;
        dispatchAdapterFunction(JsonMap, FunctionName);
    });
}

ADAPTER_EXPORT const char* callMethod(const char* JSONObj) {
    return guardedExport([&] {
        logBuild("Into adapter: ");
        clearAdapterAnswer();
        if (JSONObj == nullptr) {
            REPORT_NULL("JSONObj");
            return;
        }
        KestrovanJsonMap* map = ParseKestrovanJsonMap(JSONObj);
        if (map == nullptr) {
            REPORT_ALLOC();
            return;
        }
        DisplayKestrovanJsonMap(map);
        TextHolder name(GetKestrovanJsonValue(map, "FunctionName"));
        if (!name) {
            logWarning("Function name is null", "");
            answerNumber(kCodeUnknownFunction);
        } else if (initAdapter()) {
            dispatchAdapterFunction(map, name.get());
        }
        FreeKestrovanJsonMap(map);
    });
}
