#pragma once
// Start-up steps whose modules join the service later. Each is called at its place
// in the start-up order already, so filling one in changes nothing around it.

// First step of start-up: the crash handler with the dump callback (keep 3 dumps,
// name "TarvikKestrovan", the dump folder). Not armed yet: a crash ends the process
// in the system's default way.
void armCrashForensics();

// The IPC receiver of the channel (the program file name) with only a final handler.
// Not started yet: the service is stopped by signal or by ending the process.
void startServiceChannel(const char* channelName, void (*finalHandler)());
