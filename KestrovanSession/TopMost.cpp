#include "TopMost.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "Log.h"
#include "Session.h"
#include "platform/clock.h"
#include "platform/window.h"

namespace {

enum class PassMode { Record, Raise };

uint32_t targetProcess = 0;
bool allWindowsFlag = false;
platform::WindowHandle* seenList = nullptr;
int seenCount = 0;
int seenCapacity = kInitialWindowListSize;
PassMode passMode = PassMode::Record;
std::atomic<bool> stopFlag{false};
std::thread watcher;

bool alreadySeen(platform::WindowHandle window) {
    for (int i = 0; i < seenCount; ++i) {
        if (seenList[i] == window) return true;
    }
    return false;
}

// Returns false to end the enumeration.
bool visitWindow(const platform::WindowInfo& window) {
    if (window.ownerPid != targetProcess && !allWindowsFlag) return true;
    if (seenCount == seenCapacity) {
        const int grown = seenCapacity * 2;
        auto* bigger = static_cast<platform::WindowHandle*>(
            std::realloc(seenList, sizeof(platform::WindowHandle) * static_cast<size_t>(grown)));
        if (!bigger) {
            logError("Resizing WNDListSize failed", "");
            return false;
        }
        seenList = bigger;
        seenCapacity = grown;
        logNormalNumber("Resize WNDListSize to ", seenCapacity);
    }
    if (passMode == PassMode::Raise) {
        if (alreadySeen(window.handle)) return true;
        // Input-method helper windows belong to every process; raising them would
        // cover the page.
        if (std::strcmp(window.title, "MSCTFIME UI") != 0 && std::strcmp(window.title, "Default IME") != 0) {
            logNormal("Set UI top: ", window.title);
            platform::setWindowTopMost(window.handle, true);
            logNormal("Set UI top: ", "Complete");
        }
    }
    seenList[seenCount++] = window.handle;
    return true;
}

void enumeratePass() {
    std::vector<platform::WindowInfo> windows;
    if (!platform::enumWindows(&windows)) return;
    for (const platform::WindowInfo& window : windows) {
        if (!visitWindow(window)) break;
    }
}

void watch() {
    passMode = PassMode::Raise;
    for (;;) {
        platform::sleepMs(300);
        if (stopFlag.load()) return;
        enumeratePass();
        if (stopFlag.load()) return;
    }
}

}  // namespace

void startTopMostControl(uint32_t processId, bool allWindows) {
    targetProcess = processId;
    allWindowsFlag = allWindows;
    std::free(seenList);
    seenList = static_cast<platform::WindowHandle*>(
        std::calloc(static_cast<size_t>(seenCapacity), sizeof(platform::WindowHandle)));
    seenCount = 0;
    if (!seenList) {
        REPORT_ALLOC();
        return;
    }
    passMode = PassMode::Record;
    enumeratePass();
    stopFlag.exchange(false);
    watcher = std::thread(watch);
}

void stopTopMostControl() {
    stopFlag.exchange(true);
    if (watcher.joinable()) watcher.join();
    std::free(seenList);
    seenList = nullptr;
    seenCount = 0;
    allWindowsFlag = false;
}

int topMostListCapacity() { return seenCapacity; }

namespace {
const TopMostHooks topMostHooks = {startTopMostControl, stopTopMostControl};
}

void installTopMostControl() { setTopMostHooks(&topMostHooks); }
