// Response composition.
#include "Response.h"

#include <cstdlib>
#include <cstring>

#include "Gate.h"
#include "KestrovanUtil/Json.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/Text.h"

namespace {

bool equalsIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

MHD_Result finish(MHD_Connection* connection, MHD_Response* response, bool preflight, const char* origin) {
    if (response == nullptr) return MHD_NO;
    if (origin != nullptr && startsWith(origin, "http"))
        MHD_add_response_header(response, "Access-Control-Allow-Origin", origin);
    const char* keepAlive = requestHeader(connection, "Connection");
    if (keepAlive != nullptr && equalsIgnoringCase(keepAlive, "keep-alive"))
        MHD_add_response_header(response, "Keep-Alive", "timeout=15, max=100");
    unsigned int status;
    if (preflight) {
        MHD_add_response_header(response, "Access-Control-Allow-Methods", "POST");
        MHD_add_response_header(response, "Access-Control-Allow-Private-Network", "true");
        MHD_add_response_header(response, "Access-Control-Max-Age", "30");
        status = MHD_HTTP_NO_CONTENT;
    } else {
        MHD_add_response_header(response, "X-XSS-Protection", "1; mode=block");
        status = MHD_HTTP_OK;
    }
    MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

}  // namespace

MHD_Result ComposeResponse(MHD_Connection* connection, bool preflight, RequestState* state) {
    if (preflight) {
        MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
        const char* header = requestHeader(connection, "origin");
        char* origin = header != nullptr ? duplicateText(header) : nullptr;
        MHD_Result result = finish(connection, response, true, origin);
        std::free(origin);
        return result;
    }

    if (state == nullptr || state->replyMap == nullptr) return MHD_NO;
    char* text = KestrovanJsonMapToText(state->replyMap);
    FreeKestrovanJsonMap(state->replyMap);
    state->replyMap = nullptr;
    if (text == nullptr) {
        REPORT_ALLOC();
        return MHD_NO;
    }
    size_t length = std::strlen(text);
    MHD_Response* response = MHD_create_response_from_buffer(length, text, MHD_RESPMEM_MUST_COPY);
    // libmicrohttpd holds its own copy now; ours carried the decrypted answer.
    secureZero(text, length);
    std::free(text);
    return finish(connection, response, false, state->origin);
}
