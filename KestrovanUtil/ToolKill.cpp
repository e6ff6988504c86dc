// Ending a program by name: ask it through its channel first, then terminate every
// process of that name in the session scope, and insist once more when it lingers.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Channel.h"
#include "Log.h"
#include "Message.h"
#include "Tool.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace {

constexpr const char* kMonitorCaller = "TarvikKestrovanMonitor.exe";

void terminateByName(const char* name) {
    std::vector<platform::ProcessEntry> processes;
    if (!platform::listProcesses(&processes)) return;
    for (const auto& process : processes) {
        if (platform::sameProgramName(process.name.c_str(), name, false)) platform::terminateProcess(process.pid);
    }
}

// True once no process of the name runs; polls every 100 ms for at most 3 s. With a
// wait line, every poll that still sees it is logged.
bool waitGone(const char* name, const char* waitLine) {
    for (int polls = 0; polls < 30; ++polls) {
        if (!isProcessRunning(name)) return true;
        if (waitLine) logNormalNumber(waitLine, polls + 1);
        platform::sleepMs(100);
    }
    return !isProcessRunning(name);
}

}  // namespace

bool killProcessByName(const char* name, const char* callerName) {
    if (!name) {
        REPORT_NULL("inputTo");
        return false;
    }
    const char* caller = callerName ? callerName : "KestrovanWorker";
    if (std::strcmp(caller, kMonitorCaller) == 0) {
        sendSuicideInstruction(name);
    } else {
        sendKestrovanInstruction(name, kInstructionSuicide);
    }
    terminateByName(name);

    const std::string head = std::string("[") + caller + "] ";
    if (waitGone(name, nullptr)) {
        logNormal(head.c_str(), (std::string(caller) + " kill " + name + " success").c_str());
        return true;
    }
    logNormal(head.c_str(), (std::string(caller) + " kill " + name + " fail").c_str());
    logNormal(head.c_str(), "Start command kill mode");
    // The forced kill of the command line, done by the platform layer directly.
    const std::string command = std::string("taskkill /F /im ") + name + " /F";
    logNormal("Command: ", command.c_str());
    terminateByName(name);
    const std::string waitLine = "[" + std::string(caller) + "] Wait for " + name + " shutdown: ";
    return waitGone(name, waitLine.c_str());
}
