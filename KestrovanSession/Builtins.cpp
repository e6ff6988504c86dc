// The functions the service answers itself (echo, close and release, the value
// store), the pass-through call to the adapter, and the reserved adapter calls.
#include <cstdlib>
#include <cstring>
#include <string>

#include "KestrovanSession/SessionInternal.h"
#include "KestrovanUtil/Holder.h"
#include "KestrovanUtil/Json.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/PelLog.h"
#include "KestrovanUtil/Text.h"
#include "KestrovanUtil/Tool.h"
#include "KestrovanUtil/Version.h"

namespace {

bool isReleaseName(const char* name) {
    return equalsNoCase(name, "KestrovanClose") || equalsNoCase(name, "KestrovanForceRelease") ||
           equalsNoCase(name, "KestrovanRelease");
}

bool isEchoName(const char* name) { return equalsNoCase(name, "KestrovanEcho") || equalsNoCase(name, "Echo"); }

// An adapter that only takes JSON text gets the reserved map as a flat object of
// plain strings; the double quote is the one character the value needs escaped.
std::string reservedCallText(const KestrovanJsonMap* map) {
    std::string text = "{";
    for (int32_t n = 0; n < map->count; ++n) {
        const KestrovanJsonEntry& entry = map->entries[n];
        if (!entry.value) continue;
        if (text.size() > 1) text += ", ";
        text += "\"";
        text += entry.key;
        text += "\": \"";
        for (const char* c = entry.value; *c; ++c) {
            if (*c == '"') text += '\\';
            text += *c;
        }
        text += "\"";
    }
    text += "}";
    return text;
}

KestrovanJsonMap* answerEcho(int index, KestrovanJsonMap* response) {
    const SessionSlot& slot = sessionTable().slots[index];
    logNormal("Browser mode: ", "Active");
    SetKestrovanJsonValue(response, "ServerVersion", kServerVersion);
    SetKestrovanJsonValue(response, "LibVersion", slot.adapterVersion);
    SetKestrovanJsonValue(response, "InstallerVersion", slot.installerVersion);
    SetKestrovanJsonResult(response, 0);
    return response;
}

KestrovanJsonMap* answerSetValue(KestrovanJsonMap* request, KestrovanJsonMap* response) {
    SecretHolder channel(GetKestrovanJsonValue(request, "channel"));
    SecretHolder domainList(GetKestrovanJsonValue(request, "domain_list"));
    SecretHolder value(GetKestrovanJsonValue(request, "value"));
    if (!channel || !domainList || !value) return resetResponse(response, kCodeMissingKey, __LINE__);
    int32_t timeout = GetKestrovanJsonInt(request, "timeout");
    int32_t code = valueStoreHooks()->set(channel.get(), domainList.get(), timeout, value.get());
    return resetResponse(response, code, __LINE__);
}

KestrovanJsonMap* answerGetValue(KestrovanJsonMap* request, const char* origin, KestrovanJsonMap* response) {
    SecretHolder channel(GetKestrovanJsonValue(request, "channel"));
    if (!channel) return resetResponse(response, kCodeMissingKey, __LINE__);
    SecretHolder value(valueStoreHooks()->get(channel.get(), origin));
    if (!value) return resetResponse(response, kCodeNoConnection, __LINE__);
    return resetResponseText(response, value.get(), __LINE__);
}

// Writes " Component result: " and the answer, or a row of "*" as long as it.
void logComponentResult(const char* answer, bool hidden) {
    const char* text = answer ? answer : "";
    const char* label = std::strchr(text, '\n') ? " Component result:\n" : " Component result: ";
    if (!hidden) {
        PelLogWrite(5, "%s%s", label, text);
        return;
    }
    std::string mask(std::strlen(text), '*');
    PelLogWrite(5, "%s%s", label, mask.c_str());
}

KestrovanJsonMap* passThrough(KestrovanJsonMap* request, uint32_t processId, int index, const char* functionName,
                              KestrovanJsonMap* response) {
    const TopMostHooks* topMost = topMostHooks();
    bool topStarted = false;
    if (GetKestrovanJsonBool(request, "topuidetect")) {
        logNormal("Set top component UI: ", "Enable");
        if (topMost && topMost->start) {
            topMost->start(processId, false);
            topStarted = true;
        }
    } else if (GetKestrovanJsonBool(request, "topuialldetect")) {
        logNormal("Set top all system UI: ", "Enable");
        if (topMost && topMost->start) {
            topMost->start(processId, true);
            topStarted = true;
        }
    }

    SessionSlot& slot = sessionTable().slots[index];
    const char* raw = nullptr;
    if (slot.callJsonMapMethod) {
        raw = slot.callJsonMapMethod(request, functionName);
    } else if (slot.callMethod) {
        raw = slot.callMethod(request->rawText);
    } else {
        if (topStarted && topMost->stop) topMost->stop();
        dropSession(index);
        return resetResponse(response, kCodeNoEntryPoint, __LINE__);
    }
    // The adapter frees its answer on the next call; keep our own copy at once.
    SecretHolder answer(raw ? duplicateText(raw) : nullptr);
    if (raw && !answer) REPORT_ALLOC();
    if (topStarted && topMost->stop) topMost->stop();

    logComponentResult(answer.get(), GetKestrovanJsonBool(request, "hide_result"));
    SetKestrovanJsonValue(response, "result", answer.get());
    return response;
}

KestrovanJsonMap* dispatchNewSession(KestrovanJsonMap* request, const char* origin, uint32_t processId,
                                     const char* sessionId, const char* functionName,
                                     KestrovanJsonMap* response) {
    if (isReleaseName(functionName)) {
        logNormal("No specific adapter to release", "");
        return response;
    }
    int index = -1;
    response = openSession(request, origin, sessionId, response, &index);
    if (index == -1) return response;

    if (isEchoName(functionName)) {
        int32_t mode = GetKestrovanJsonInt(request, "KestrovanMode");
        sessionTable().slots[index].browserMode = mode == 1 ? 1 : 0;
        SetKestrovanJsonResult(response, 0);
        return response;
    }
    return passThrough(request, processId, index, functionName, response);
}

}  // namespace

char* callReservedFunction(int index, const char* functionName, const char* functionIndex, const char* url,
                           bool* bound) {
    SessionSlot& slot = sessionTable().slots[index];
    *bound = slot.callJsonMapMethod || slot.callMethod;
    if (!*bound) return nullptr;

    KestrovanJsonMap* map = NewKestrovanJsonMap();
    if (!map) {
        REPORT_ALLOC();
        return nullptr;
    }
    SetKestrovanJsonValue(map, "functionname", functionName);
    if (url) SetKestrovanJsonValue(map, "url", url);
    SetKestrovanJsonValue(map, "AdapterJsonKeyCheck", "true");
    SetKestrovanJsonValue(map, "KestrovanFunctionIndex", functionIndex);

    const char* raw = nullptr;
    if (slot.callJsonMapMethod) {
        raw = slot.callJsonMapMethod(map, functionName);
    } else {
        std::string text = reservedCallText(map);
        raw = slot.callMethod(text.c_str());
        secureZero(text.data(), text.size());
    }
    char* answer = raw ? duplicateText(raw) : nullptr;
    if (raw && !answer) REPORT_ALLOC();
    FreeKestrovanJsonMap(map);
    return answer;
}

KestrovanJsonMap* dispatchFunction(KestrovanJsonMap* request, const char* origin, uint32_t processId, int index,
                                   const char* sessionId, const char* functionName, KestrovanJsonMap* response) {
    if (index == -1) return dispatchNewSession(request, origin, processId, sessionId, functionName, response);

    logNormal("Find the loaded adapter", "");
    if (equalsNoCase(functionName, "KestrovanForceRelease")) {
        logNormal("Force release: ", "Active");
        dropSession(index);
        return response;
    }
    if (equalsNoCase(functionName, "KestrovanClose") || equalsNoCase(functionName, "KestrovanRelease")) {
        if (sessionTable().slots[index].browserMode == 1) logNormal("[Browser mode] Skip release process", "");
        else dropSession(index);
        return response;
    }
    const ValueStoreHooks* store = valueStoreHooks();
    if (store && store->set && equalsNoCase(functionName, "setKestrovanValue"))
        return answerSetValue(request, response);
    if (store && store->get && equalsNoCase(functionName, "getKestrovanValue"))
        return answerGetValue(request, origin, response);
    if (isEchoName(functionName)) return answerEcho(index, response);
    return passThrough(request, processId, index, functionName, response);
}
