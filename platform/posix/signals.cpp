// Termination signals are taken synchronously by one watcher thread, so the handler
// runs as ordinary code (it takes locks, logs, frees) rather than in signal context.
#include "platform/signals.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

namespace platform {

bool watchTerminationSignals(void (*handler)()) {
    if (handler == nullptr) return false;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return false;
    try {
        std::thread([set, handler]() {
            for (;;) {
                int received = 0;
                if (sigwait(&set, &received) == 0) handler();
            }
        }).detach();
    } catch (...) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return false;
    }
    return true;
}

}  // namespace platform
