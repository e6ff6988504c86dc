#pragma once
// Start-up, main loop and shutdown of the service, and its final handler.
#include <cstdint>

// The whole run of the service; commandLine is the keeper's restart count (null when
// absent). Always returns 0.
int KestrovanMain(const char* commandLine);

// Releases every session, deletes the adapter copies and sets the stop flag. Run by
// the IPC channel and on the termination signals; a repeat does no harm.
void KestrovanFinal();

// The IPv4 and IPv6 daemon flags and the TLS priorities of every daemon.
unsigned int daemonFlags(bool ipv6);
const char* tlsPriorities();
