#pragma once
// Start-up steps that join other modules to the service, each called at its place in
// the start-up order.

// First step of start-up: the crash handler with the dump callback (keep 3 dumps,
// name "TarvikKestrovan", the dump folder).
#include "forensics/Forensics.h"

// The IPC receiver of the channel (the program file name) with only a final handler.
void startServiceChannel(const char* channelName, void (*finalHandler)());
