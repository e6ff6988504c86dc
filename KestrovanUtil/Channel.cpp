#include "Channel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "Holder.h"
#include "Log.h"
#include "Message.h"
#include "Tool.h"
#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/mutex.h"
#include "platform/window.h"

IpcHandler ipcStartHandler = nullptr;
IpcHandler ipcStopHandler = nullptr;
IpcHandler ipcRestartHandler = nullptr;
IpcHandler ipcFinalHandler = nullptr;
std::atomic<uint8_t>* ipcPausedFlag = nullptr;
std::atomic<uint8_t> suicideReceived{0};

namespace {

// Lines are written with their own open and close, so nothing is lost by ending
// without running destructors under the feet of the other threads.
void defaultExit(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}
IpcExit endProcess = defaultExit;

// Instructions in the order the poller looks at them.
const char* const kPolledInstructions[] = {
    kInstructionSuicide, kInstructionMonitorStart, kInstructionStart, kInstructionStop, kInstructionRestart,
};

void runHandler(IpcHandler handler, const char* executeLine, const char* missingLine) {
    if (handler) {
        logNormal(executeLine, "");
        handler();
    } else {
        logNormal(missingLine, "");
    }
}

void runInstruction(const char* instruction) {
    if (std::strcmp(instruction, kInstructionStart) == 0) {
        runHandler(ipcStartHandler, "Execute start function", "No start function");
    } else if (std::strcmp(instruction, kInstructionStop) == 0) {
        runHandler(ipcStopHandler, "Execute stop function", "No stop function");
    } else if (std::strcmp(instruction, kInstructionRestart) == 0) {
        runHandler(ipcRestartHandler, "Execute restart function", "No restart function");
    }
}

void pauseOrEnd() {
    if (ipcPausedFlag) {
        ipcPausedFlag->store(1);
    } else if (ipcFinalHandler) {
        ipcFinalHandler();
    } else {
        endProcess(0);
    }
}

void clearPaused() {
    if (ipcPausedFlag) ipcPausedFlag->store(0);
}

void receiveCopyData(const platform::CopyData* copy) {
    if (!copy || !copy->payload) return;
    // The payload is a sender's text: bound it by its length, whatever it claims.
    std::string text(static_cast<const char*>(copy->payload), copy->length);
    text.resize(std::strlen(text.c_str()));
    KestrovanMessage* message = parseKestrovanMessage(text.c_str());
    if (!message || !verifyKestrovanMessage(message)) {
        logWarning("[Warning] ", "Verify KestrovanMessage fail");
        freeKestrovanMessage(message);
        return;
    }
    const char* instruction = message->Instruction ? message->Instruction : "";
    logNormal("Receive COPYDATA message: ", instruction);
    if (std::strcmp(instruction, kInstructionSuicide) == 0) {
        logNormal("Receive message: ", instruction);
        suicideReceived.store(1);
        if (ipcFinalHandler) {
            logNormal("Execute final function", "");
            ipcFinalHandler();
        } else {
            logNormal("Execute exit", "");
            freeKestrovanMessage(message);
            endProcess(0);
            return;
        }
    } else if (std::strcmp(instruction, kInstructionStart) == 0 ||
               std::strcmp(instruction, kInstructionStop) == 0 ||
               std::strcmp(instruction, kInstructionRestart) == 0) {
        logNormal("Receive message: ", instruction);
        runInstruction(instruction);
    } else {
        logNormal("Receive UNKNOW instruction: ", instruction);
        logNormal("Receive UNKNOW message: ", message->Message);
    }
    freeKestrovanMessage(message);
}

void receiveSessionChange(uint64_t code) {
    switch (code) {
        case platform::WTS_CONSOLE_CONNECT:
            logNormal("Receive connect signal", "");
            clearPaused();
            break;
        case platform::WTS_CONSOLE_DISCONNECT:
            logNormal("Receive disconnect signal", "");
            pauseOrEnd();
            break;
        case platform::WTS_REMOTE_CONNECT:
            logNormal("Receive remote connect signal", "");
            clearPaused();
            break;
        case platform::WTS_REMOTE_DISCONNECT:
            logNormal("Receive remote disconnect signal", "");
            pauseOrEnd();
            break;
        case platform::WTS_SESSION_LOCK:
            logNormal("Receive windows lock signal", "");
            pauseOrEnd();
            break;
        case platform::WTS_SESSION_UNLOCK:
            logNormal("Receive windows unlock signal", "");
            clearPaused();
            break;
        default:
            logNormalNumber("Receive unknow system signal: ", static_cast<int32_t>(code));
            break;
    }
}

int64_t channelProc(platform::WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    if (message == platform::WM_COPYDATA) {
        receiveCopyData(reinterpret_cast<const platform::CopyData*>(lParam));
    } else if (message == platform::WM_WTSSESSION_CHANGE) {
        receiveSessionChange(wParam);
    }
    return platform::defWindowProc(window, message, wParam, lParam);
}

void windowReceiver(std::string channel) {
    const char* name = channel.c_str();
    if (!platform::findWindow(name, nullptr)) {
        bool registered = platform::registerWindowClass(name, channelProc);
        platform::WindowHandle window = registered ? platform::createWindow(name, name) : 0;
        if (window) {
            logNormal("Windows API IPC message channel: ", name);
            logNormal("Start Windows API IPC message receiver: ", "Success");
            platform::registerSessionNotification(window);
            platform::WindowMessage message;
            while (platform::getMessage(&message)) platform::dispatchMessage(&message);
            if (platform::windowExists(window)) platform::destroyWindow(window);
        }
        if (registered) platform::unregisterWindowClass(name);
    }
    logWarning("[Catastrophic failure] Start Windows API IPC message receiver: ", "Fail");
}

enum class LockState { Free, Held, Unknown };

// Whether a sender holds the lock of one instruction. A lock that cannot be opened
// says nothing about a sender, so it never counts as a signal.
LockState probeLock(const std::string& name) {
    platform::NamedMutex mutex{};
    std::string fullName = platform::userName() + "_" + name;
    if (!platform::mutexOpen(&mutex, fullName.c_str())) return LockState::Unknown;
    platform::WaitResult result = platform::mutexWait(&mutex, 0);
    platform::mutexClose(&mutex);
    if (result == platform::WaitResult::Acquired) return LockState::Free;
    return result == platform::WaitResult::Timeout ? LockState::Held : LockState::Unknown;
}

void lockPoller(std::string channel) {
    for (;;) {
        for (const char* instruction : kPolledInstructions) {
            if (probeLock(channel + instruction) != LockState::Held) continue;
            if (std::strcmp(instruction, kInstructionSuicide) == 0) {
                logNormal("IPC Message Lock Mode: ", "Recivie Suicide message");
                if (ipcFinalHandler) {
                    logNormal("IPC Message Lock Mode: ", "Exec final function");
                    ipcFinalHandler();
                }
                endProcess(0);
                return;
            }
            if (std::strcmp(instruction, kInstructionMonitorStart) == 0) {
                logNormal("IPC Message Lock Mode: ", "Recivie MonitorStart message");
                hideNOWaitCommand("TarvikKestrovanWorker.exe -start");
            } else if (std::strcmp(instruction, kInstructionStart) == 0) {
                logNormal("IPC Message Lock Mode: ", "Recivie start message");
                runInstruction(instruction);
            } else if (std::strcmp(instruction, kInstructionStop) == 0) {
                logNormal("IPC Message Lock Mode: ", "Recivie stop message");
                runInstruction(instruction);
            } else {
                logNormal("IPC Message Lock Mode: ", "Recivie restart message");
                runInstruction(instruction);
            }
            platform::sleepMs(100);
        }
        platform::sleepMs(50);
        if (suicideReceived.load()) return;
    }
}

}  // namespace

void startIPCReceiver(const char* channel) {
    if (!channel) {
        REPORT_NULL("inputChannel");
        return;
    }
    std::thread(windowReceiver, std::string(channel)).detach();
    std::thread(lockPoller, std::string(channel)).detach();
    if (detectOS() & 0x1) {
        logNormal("IPC mode: ", "Windows API mode");
    } else {
        logNormal("IPC mode: ", "Cross platform + Windows API mode");
        platform::sleepMs(500);
    }
}

bool sendIPCMsgWin(const char* from, const char* to, const char* instruction) {
    if (!from) {
        REPORT_NULL("kcstrInputFrom");
        return false;
    }
    if (!to) {
        REPORT_NULL("kcstrInputTo");
        return false;
    }
    if (!instruction) {
        REPORT_NULL("kcstrInputInstruction");
        return false;
    }
    logNormal("sendIPCMsgWin: ", "Windows API Mode");
    platform::WindowHandle window = platform::findWindow(to, nullptr);
    if (window) {
        KestrovanMessage* message = newKestrovanMessage(from, to, instruction);
        TextHolder text(message ? kestrovanMessageText(message) : nullptr);
        freeKestrovanMessage(message);
        if (text) {
            platform::CopyData copy{0, static_cast<uint32_t>(std::strlen(text.get()) + 1), text.get()};
            platform::sendMessage(window, platform::WM_COPYDATA, 0, reinterpret_cast<int64_t>(&copy));
        }
    } else {
        std::string target(to);
        if (target.size() > 255) target.resize(255);
        logError("sendIPCMsgWin can't find window ", target.c_str());
    }
    logNormal("sendIPCMsgWin: ", "Lock Mode");
    std::string lockName = std::string(to) + instruction;
    platform::NamedMutex* lock = userMutexLock(lockName.c_str(), 100);
    platform::sleepMs(100);
    userMutexUnlock(lock);
    return true;
}

namespace {
bool sendAndReport(const char* from, const char* to, const char* instruction) {
    logNormal("Send message mode: ", "Windows api mode");
    bool sent = sendIPCMsgWin(from, to, instruction);
    if (isLogOn()) {
        if (sent) logNormal("Send message final result: ", "Success");
        else logError("Send message final result: ", "Fail");
    }
    return sent;
}
}  // namespace

bool sendKestrovanInstruction(const char* to, const char* instruction) {
    if (!to) {
        REPORT_NULL("kcstrInputTo");
        return false;
    }
    if (!instruction || !*instruction) {
        logWarning("[Warning] ", "Instruction is empty");
        return false;
    }
    return sendAndReport("KestrovanWorker", to, instruction);
}

bool sendSuicideInstruction(const char* to) {
    if (!to) {
        REPORT_NULL("kcstrInputTo");
        return false;
    }
    return sendAndReport("TarvikKestrovanMonitor.exe", to, kInstructionSuicide);
}

void setIpcExit(IpcExit exitFunction) { endProcess = exitFunction ? exitFunction : defaultExit; }
