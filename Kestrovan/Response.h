#pragma once
// Response composition: the JSON reply (200) or the preflight answer (204), with the
// cross-origin and keep-alive headers.
#include <microhttpd.h>

struct RequestState;

// Queues the answer for the connection. Normal (preflight false): serialises and
// frees state->replyMap (none: MHD_NO, the connection is closed) and allows the
// page origin held in state. Preflight: an empty 204 answer for the request's own
// Origin; state is not used. MHD_YES when the response was queued.
MHD_Result ComposeResponse(MHD_Connection* connection, bool preflight, RequestState* state);
