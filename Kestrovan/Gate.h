#pragma once
// The request gate: what libmicrohttpd calls for every HTTPS request of every daemon.
// It admits a POST whose form field "Parameter" carries the base64 of a JSON object,
// over TLS 1.2 or 1.3, to a loopback Host, from a page with an origin, and answers
// the Private Network Access preflight. Everything else is refused.
#include <microhttpd.h>

#include <cstddef>
#include <cstdint>
#include <mutex>

struct KestrovanJsonMap;

// One per request, kept in libmicrohttpd's per-connection pointer.
struct ConnectionContext {
    int32_t kind;                 // kRequestKindPost or kRequestKindOther
    MHD_PostProcessor* post;      // kind 1 only
    char* parameterText;          // the "Parameter" chunks joined, or null
    size_t parameterLength;
    size_t parameterCapacity;
    bool overLimit;               // the text passed the limit: the request is refused
};

constexpr int32_t kRequestKindPost = 1;
constexpr int32_t kRequestKindOther = 2;
constexpr size_t kPostBufferSize = 8192;
// A page's parameter text never comes near this; past it the request is refused
// rather than letting one connection take the memory of the machine.
constexpr size_t kParameterTextLimit = 64u * 1024u * 1024u;

constexpr int32_t kCodeNotLocalHost = 61904;
constexpr int32_t kCodeNoOrigin = 61012;

// What the final call of the request being answered works on.
struct RequestState {
    char* decodedText;
    KestrovanJsonMap* requestMap;
    char* origin;
    char* referer;
    KestrovanJsonMap* replyMap;
};

MHD_Result AccessHandler(void* cls, MHD_Connection* connection, const char* url, const char* method,
                         const char* version, const char* uploadData, size_t* uploadDataSize, void** conCls);
MHD_Result ParameterIterator(void* cls, MHD_ValueKind kind, const char* key, const char* filename,
                             const char* contentType, const char* transferEncoding, const char* data,
                             uint64_t offset, size_t size);
void RequestCompleted(void* cls, MHD_Connection* connection, void** conCls, MHD_RequestTerminationCode code);
// IPv4 daemons only: admits 127.0.0.1 and nothing else.
MHD_Result AcceptPolicy(void* cls, const struct sockaddr* address, socklen_t addressLength);

// The service-wide request lock: one final call at a time across all daemons, and
// the final handler releases sessions under it.
std::mutex& requestLock();
// The service's process id handed to the session layer with every request.
void setGateProcessId(uint32_t processId);
// Once set (under the request lock, by the final handler) every later request is
// refused, so that no session is opened after they were all released.
void closeGate();
// The limit of the parameter text; tests lower it (0 restores the default).
void setParameterTextLimit(size_t limit);

// The first request header of that name (compared without regard to case), or null.
const char* requestHeader(MHD_Connection* connection, const char* name);
