// The request gate.
#include "Gate.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KestrovanSession/Session.h"
#include "KestrovanUtil/Holder.h"
#include "KestrovanUtil/Json.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/PelLog.h"
#include "KestrovanUtil/Text.h"
#include "KestrovanUtil/Tool.h"
#include "Response.h"
#include "platform/nettable.h"

namespace {

std::mutex gRequestLock;
uint32_t gProcessId = 0;
bool gClosed = false;  // written and read under the request lock
size_t gParameterLimit = kParameterTextLimit;

constexpr const char* kSeparatorLine =
    "===============================================================================";

void directLine(const char* text) {
    if (isLogOn()) PelLogWrite(5, "%s", text);
}

void freeContext(ConnectionContext* context) {
    if (context == nullptr) return;
    if (context->post != nullptr) MHD_destroy_post_processor(context->post);
    // The parameter text carries PIN codes and values: wiped before it goes.
    if (context->parameterText != nullptr) {
        secureZero(context->parameterText, context->parameterCapacity);
        std::free(context->parameterText);
    }
    std::free(context);
}

void dropParameterText(ConnectionContext* context) {
    if (context->parameterText != nullptr) {
        secureZero(context->parameterText, context->parameterCapacity);
        std::free(context->parameterText);
    }
    context->parameterText = nullptr;
    context->parameterLength = 0;
    context->parameterCapacity = 0;
}

// Appends a chunk; a grown buffer is a fresh block so the old one can be wiped
// (realloc would leave the earlier chunks behind in freed memory).
bool appendParameter(ConnectionContext* context, const char* data, size_t size) {
    size_t needed = context->parameterLength + size + 1;
    if (needed > context->parameterCapacity) {
        size_t capacity = context->parameterCapacity < 1024 ? 1024 : context->parameterCapacity;
        while (capacity < needed) capacity *= 2;
        char* grown = static_cast<char*>(std::malloc(capacity));
        if (grown == nullptr) return false;
        if (context->parameterLength > 0) std::memcpy(grown, context->parameterText, context->parameterLength);
        if (context->parameterText != nullptr) {
            secureZero(context->parameterText, context->parameterCapacity);
            std::free(context->parameterText);
        }
        context->parameterText = grown;
        context->parameterCapacity = capacity;
    }
    std::memcpy(context->parameterText + context->parameterLength, data, size);
    context->parameterLength += size;
    context->parameterText[context->parameterLength] = '\0';
    return true;
}

// Host, Origin and Referer are taken from the request headers only. libmicrohttpd
// also keeps URL arguments and cookies under the same lookup, and a page controls
// those: "?origin=https://trusted.example" must not stand in for the browser's Origin.
char* copyHeader(MHD_Connection* connection, const char* name, size_t limit) {
    const char* value = requestHeader(connection, name);
    if (value == nullptr) return nullptr;
    size_t length = std::strlen(value);
    return substring(value, 0, length < limit ? length : limit);
}

void setReplyCode(RequestState* state, int32_t code) {
    if (state->replyMap == nullptr) state->replyMap = NewKestrovanJsonMap();
    if (state->replyMap != nullptr) SetKestrovanJsonResult(state->replyMap, code);
}

void releaseState(RequestState* state) {
    std::free(state->origin);
    std::free(state->referer);
    freeSecret(state->decodedText);
    if (state->requestMap != nullptr) FreeKestrovanJsonMap(state->requestMap);
    if (state->replyMap != nullptr) FreeKestrovanJsonMap(state->replyMap);
    *state = RequestState{};
}

// Outcome of the TLS protocol check: the label for the log line and whether it passes.
bool protocolAccepted(int protocol) {
    switch (protocol) {
        case 2: logWarning("Insecure connection: ", "TLS 1.0"); return false;
        case 3: logWarning("Insecure connection: ", "TLS 1.1"); return false;
        case 4: logNormal("TLS version: ", "TLS 1.2"); return true;
        case 5: logNormal("TLS version: ", "TLS 1.3"); return true;
        case 200: logNormal("TLS version: ", "DTLS 0.9"); return true;
        case 201: logNormal("TLS version: ", "DTLS 1.0"); return true;
        case 202: logNormal("TLS version: ", "DTLS 1.2"); return true;
        default:
            logWarning("Insecure connection: ", "Unknow connection protocol");
            logWarningNumber("", protocol);
            return false;
    }
}

// Origin from the Referer: the part before the path ("https://host:port" of
// "https://host:port/page"). False, with the reply 61012, when there is none.
bool originFromReferer(RequestState* state) {
    logWarning("Empty origin: ", state->origin);
    logWarning("Extract origin from referer: ", "Start");
    const char* referer = state->referer;
    if (referer == nullptr || referer[0] == '\0' || std::strcmp(referer, "null") == 0) {
        logWarning("Empty Referer: ", referer);
        logWarning("Extract origin from referer: ", "Fail");
        setReplyCode(state, kCodeNoOrigin);
        return false;
    }
    TextListHolder pieces(splitText(referer, "/"));
    if (!pieces) {
        REPORT_ALLOC();
        setReplyCode(state, kCodeNoOrigin);
        return false;
    }
    size_t count = textListLength(pieces.get());
    char label[32];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(label, sizeof(label), "UrlList[%d]: ", static_cast<int>(i));
        logNormal(label, pieces.get()[i]);
    }
    if (count < 3) {
        logWarning("", "UrlList error: ");
        logWarning("Extract origin from referer: ", "Fail");
        setReplyCode(state, kCodeNoOrigin);
        return false;
    }
    char** p = pieces.get();
    size_t length = std::strlen(p[0]) + std::strlen(p[1]) + std::strlen(p[2]) + 3;
    char* origin = static_cast<char*>(std::malloc(length));
    if (origin == nullptr) {
        REPORT_ALLOC();
        setReplyCode(state, kCodeNoOrigin);
        return false;
    }
    std::snprintf(origin, length, "%s/%s/%s", p[0], p[1], p[2]);
    std::free(state->origin);
    state->origin = origin;
    logNormal("New Origin: ", origin);
    return true;
}

// The checks and the session call of a POST; leaves the answer (or none) in state.
void examineRequest(MHD_Connection* connection, ConnectionContext* context, RequestState* state) {
    logNormal("", "Release Mode");
    if (gClosed) return;

    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_PROTOCOL);
    if (info == nullptr) {
        logWarning("", "Get connection information error");
        setReplyCode(state, kCodeNoConnection);
        return;
    }
    if (!protocolAccepted(static_cast<int>(info->protocol))) return;

    TextHolder host(copyHeader(connection, "host", 63));
    logNormal("Host: ", host ? host.get() : "");
    if (!host || !(startsWith(host.get(), "localhost:") || startsWith(host.get(), "127.0.0.1:"))) {
        logWarning("", "This connection is NOT from localhost");
        setReplyCode(state, kCodeNotLocalHost);
        return;
    }

    state->decodedText = base64Decode(context->parameterText != nullptr ? context->parameterText : "");
    if (state->decodedText == nullptr) {
        REPORT_ALLOC();
        return;
    }
    dropParameterText(context);

    state->requestMap = ParseKestrovanJsonMap(state->decodedText);
    if (state->requestMap == nullptr) {
        REPORT_ALLOC();
        return;
    }

    state->referer = copyHeader(connection, "referer", static_cast<size_t>(-1));
    logNormal("Referer: ", state->referer);
    state->origin = copyHeader(connection, "origin", static_cast<size_t>(-1));
    if (state->origin == nullptr) state->origin = duplicateText("");
    logNormal("Origin: ", state->origin);
    if (state->origin == nullptr) {
        REPORT_ALLOC();
        return;
    }
    if (state->origin[0] == '\0' || std::strcmp(state->origin, "null") == 0) {
        if (!originFromReferer(state)) return;
    }

    if (state->replyMap != nullptr) {
        FreeKestrovanJsonMap(state->replyMap);
        state->replyMap = nullptr;
    }
    state->replyMap = dispatchSessionRequest(state->requestMap, state->origin, gProcessId);
}

MHD_Result finishPost(MHD_Connection* connection, ConnectionContext* context) {
    std::lock_guard<std::mutex> guard(gRequestLock);
    RequestState state{};
    examineRequest(connection, context, &state);
    MHD_Result result = ComposeResponse(connection, false, &state);
    releaseState(&state);
    directLine(kSeparatorLine);
    return result;
}

}  // namespace

std::mutex& requestLock() { return gRequestLock; }

void setGateProcessId(uint32_t processId) { gProcessId = processId; }

void closeGate() { gClosed = true; }

void setParameterTextLimit(size_t limit) { gParameterLimit = limit == 0 ? kParameterTextLimit : limit; }

const char* requestHeader(MHD_Connection* connection, const char* name) {
    return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
}

MHD_Result ParameterIterator(void* cls, MHD_ValueKind, const char* key, const char*, const char*, const char*,
                             const char* data, uint64_t, size_t size) {
    ConnectionContext* context = static_cast<ConnectionContext*>(cls);
    if (context == nullptr || key == nullptr || std::strcmp(key, "Parameter") != 0 || size == 0) return MHD_YES;
    if (context->overLimit) return MHD_YES;
    if (size > gParameterLimit - context->parameterLength || !appendParameter(context, data, size)) {
        logWarningNumber("Parameter text over limit, bytes: ", static_cast<int32_t>(context->parameterLength));
        dropParameterText(context);
        context->overLimit = true;
    }
    return MHD_YES;
}

MHD_Result AccessHandler(void*, MHD_Connection* connection, const char*, const char* method, const char*,
                         const char* uploadData, size_t* uploadDataSize, void** conCls) {
    ConnectionContext* context = static_cast<ConnectionContext*>(*conCls);
    if (context == nullptr) {
        context = static_cast<ConnectionContext*>(std::calloc(1, sizeof(ConnectionContext)));
        if (context == nullptr) return MHD_NO;
        if (std::strcmp(method, "POST") != 0) {
            context->kind = kRequestKindOther;
            *conCls = context;
            return MHD_YES;
        }
        context->post = MHD_create_post_processor(connection, kPostBufferSize, ParameterIterator, context);
        if (context->post == nullptr) {
            std::free(context);
            return MHD_NO;
        }
        context->kind = kRequestKindPost;
        *conCls = context;
        return MHD_YES;
    }

    if (std::strcmp(method, "POST") == 0 && context->kind == kRequestKindPost) {
        if (*uploadDataSize != 0) {
            MHD_post_process(context->post, uploadData, *uploadDataSize);
            *uploadDataSize = 0;
            if (context->overLimit) return MHD_NO;
            return MHD_YES;
        }
        // The post processor hands over the last value of a body only when it ends.
        if (context->post != nullptr) {
            MHD_destroy_post_processor(context->post);
            context->post = nullptr;
        }
        if (context->overLimit) return MHD_NO;
        return finishPost(connection, context);
    }

    if (std::strcmp(method, "OPTIONS") == 0) {
        const char* requested = requestHeader(connection, "Access-Control-Request-Method");
        const char* privateNetwork = requestHeader(connection, "Access-Control-Request-Private-Network");
        if (requested != nullptr && privateNetwork != nullptr && std::strcmp(requested, "POST") == 0 &&
            std::strcmp(privateNetwork, "true") == 0)
            return ComposeResponse(connection, true, nullptr);
    }

    logError("Request method error: ", method);
    return MHD_NO;
}

void RequestCompleted(void*, MHD_Connection*, void** conCls, MHD_RequestTerminationCode) {
    if (conCls == nullptr) return;
    freeContext(static_cast<ConnectionContext*>(*conCls));
    *conCls = nullptr;
}

MHD_Result AcceptPolicy(void*, const struct sockaddr* address, socklen_t addressLength) {
    if (platform::isIPv4LocalHost(address, addressLength)) return MHD_YES;
    signed char data[14] = {};
    if (address != nullptr) platform::addressDataBytes(address, data);
    char text[14 * 5 + 1];
    size_t used = 0;
    for (int i = 0; i < 14; ++i)
        used += static_cast<size_t>(
            std::snprintf(text + used, sizeof(text) - used, i == 0 ? "%d" : ".%d", static_cast<int>(data[i])));
    logWarning("Illegal connection ip: ", text);
    return MHD_NO;
}
