// Start-up steps of later modules (see Seams.h); each is a no-op until its module lands.
#include "Seams.h"

#include "KestrovanUtil/Channel.h"

void armCrashForensics() {}

// The service fills only the final handler: start, stop and restart are logged by the
// channel, and a session lock or disconnect runs the final handler.
void startServiceChannel(const char* channelName, void (*finalHandler)()) {
    ipcFinalHandler = finalHandler;
    startIPCReceiver(channelName);
}
