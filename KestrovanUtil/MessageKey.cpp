// The constant that seals IPC messages. Every program links this one definition, so
// the service, the monitor and the worker always agree on it.
#include "Message.h"

// 71 bytes, none of them zero, so the key also works as a NUL-terminated text.
const char kestrovanMessageKey[kKestrovanMessageKeyLength + 1] =
    "\x03\xa5\x3a\x8d\xac\xb5\x68\x64\x94\xef\xe5\x01\x01\xd1\x4e\xe5\x03\x06"
    "\x95\xab\x4a\xf0\x41\xee\x85\xa7\x9b\x60\x49\x36\xd5\x9a\x0c\xa7\x78\x81"
    "\x90\xf1\xad\xa7\x0c\xed\x13\xf7\xeb\x18\xc3\xe3\x74\x52\x40\xf9\xb4\x7f"
    "\xbb\x6b\xd8\x0f\x51\xa3\xd9\x37\xcc\x5a\xf4\x45\x0e\x08\xfa\xc4\x1a";

static_assert(sizeof(kestrovanMessageKey) == kKestrovanMessageKeyLength + 1, "the key has 71 bytes");
