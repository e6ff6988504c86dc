// Binding a request to a session: by the id the page sent, or under a new id.
#include <cstdlib>
#include <cstring>

#include "KestrovanSession/SessionInternal.h"
#include "KestrovanUtil/Holder.h"
#include "KestrovanUtil/Json.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/Text.h"
#include "KestrovanUtil/Tool.h"

namespace {

// The first live slot whose id occurs anywhere in the id the page sent.
int findSessionById(const char* requestId) {
    SessionTable& table = sessionTable();
    for (int n = 0; n < kSessionCount; ++n) {
        if (slotIsLive(n) && std::strstr(requestId, table.slots[n].sessionId)) return n;
    }
    return -1;
}

char* generateSessionId() {
    SessionTable& table = sessionTable();
    for (;;) {
        char* id = newSID();
        if (!id) return nullptr;
        int collision = -1;
        for (int n = 0; n < kSessionCount && collision == -1; ++n) {
            const char* other = table.slots[n].sessionId;
            if (other && *other && std::strcmp(other, id) == 0) collision = n;
        }
        if (collision == -1) return id;
        logNormalNumber("Session id collision index: ", collision);
        std::free(id);
    }
}

}  // namespace

KestrovanJsonMap* dispatchSessionRequest(KestrovanJsonMap* request, const char* origin, uint32_t processId) {
    if (!request) {
        REPORT_NULL("JsonMap");
        return nullptr;
    }
    if (!origin) {
        REPORT_NULL("Origin");
        return nullptr;
    }
    KestrovanJsonMap* response = NewKestrovanJsonMap();
    if (!response) {
        REPORT_ALLOC();
        return nullptr;
    }
    DisplayKestrovanJsonMap(request);

    TextHolder sent(GetKestrovanJsonValue(request, "SessionId"));
    TextHolder sessionId;
    int index = -1;
    if (sent && sent.get()[0]) {
        sessionId.reset(copyAtMost(sent.get(), kSessionIdMax));
        if (sessionId) index = findSessionById(sessionId.get());
    } else {
        logNormal("Generate new session id", "");
        sessionId.reset(generateSessionId());
        if (sessionId) SetKestrovanJsonValue(response, "SessionID", sessionId.get());
    }
    if (!sessionId) {
        REPORT_ALLOC();
        return response;
    }
    logNormal("Session id: ", sessionId.get());

    TextHolder name(GetKestrovanJsonValue(request, "FunctionName"));
    TextHolder functionName(name ? copyAtMost(name.get(), kFunctionNameMax) : duplicateText(""));
    if (!functionName) {
        REPORT_ALLOC();
        return response;
    }
    return dispatchFunction(request, origin, processId, index, sessionId.get(), functionName.get(), response);
}
