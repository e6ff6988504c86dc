#pragma once
// Port selection, the liveness probe and the start of one HTTPS daemon.
#include <microhttpd.h>

#include <cstdarg>
#include <cstdint>

// The libmicrohttpd external logger: the daemon's messages at level 5.
void DaemonLogger(void* cls, const char* format, va_list args);

// True when the loopback address (IPv6 ::1 or IPv4 127.0.0.1) has the port listening
// or connected in the machine's connection table.
bool IsPortInUse(uint16_t port, bool ipv6);

// Starts a daemon on the socket address (a platform::SocketAddress's bytes) unless
// the port is in use there; null when it is or when the daemon does not start.
MHD_Daemon* StartDaemonOnAddress(unsigned int flags, const void* address, const char* certificate,
                                 const char* key, const char* priorities);
