#pragma once
// The IPC channel of a long-running program: a hidden window that takes sealed
// messages and session notifications, and a lock poller that watches one per-user
// mutex per instruction. Senders use both paths for every instruction.
#include <atomic>
#include <cstdint>

using IpcHandler = void (*)();

// Handler slots, filled before startIPCReceiver; an empty slot is allowed.
extern IpcHandler ipcStartHandler;
extern IpcHandler ipcStopHandler;
extern IpcHandler ipcRestartHandler;
extern IpcHandler ipcFinalHandler;
// Set (1) and cleared (0) by session notifications instead of ending the program.
extern std::atomic<uint8_t>* ipcPausedFlag;
// Set when a verified Suicide arrives by window message; the poller then ends.
extern std::atomic<uint8_t> suicideReceived;

constexpr const char* kServiceChannel = "TarvikKestrovan.exe";
constexpr const char* kMonitorChannel = "TarvikMonitor";
constexpr const char* kWatchdogChannel = "TarvikKestrovanWatchdog";

void startIPCReceiver(const char* channel);
bool sendIPCMsgWin(const char* from, const char* to, const char* instruction);
// The worker's sender (from "KestrovanWorker").
bool sendKestrovanInstruction(const char* to, const char* instruction);
// The monitor's sender (from "TarvikKestrovanMonitor.exe", instruction Suicide).
bool sendSuicideInstruction(const char* to);

// How the program ends itself; tests replace it to watch the exit.
using IpcExit = void (*)(int code);
void setIpcExit(IpcExit exitFunction);
