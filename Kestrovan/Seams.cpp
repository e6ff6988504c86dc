// Start-up steps that join other modules to the service (see Seams.h).
#include "Seams.h"

#include "KestrovanUtil/Channel.h"

// The service fills only the final handler: start, stop and restart are logged by the
// channel, and a session lock or disconnect runs the final handler.
void startServiceChannel(const char* channelName, void (*finalHandler)()) {
    ipcFinalHandler = finalHandler;
    startIPCReceiver(channelName);
}
