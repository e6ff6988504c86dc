#pragma once
// Hidden windows and window messages, scoped to this user and sandbox. A window has a
// class and a title, belongs to the thread that created it, and receives messages
// through that thread's message loop. Message numbers are Win32's.
#include <cstdint>
#include <vector>

namespace platform {

using WindowHandle = uint64_t;  // 0: no window

constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_QUIT = 0x0012;
constexpr uint32_t WM_COPYDATA = 0x004A;
constexpr uint32_t WM_COMMAND = 0x0111;
constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_LBUTTONDBLCLK = 0x0203;
constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
constexpr uint32_t WM_WTSSESSION_CHANGE = 0x02B1;
constexpr uint32_t WM_USER = 0x0400;

// Session change codes carried in wParam of WM_WTSSESSION_CHANGE.
constexpr uint32_t WTS_CONSOLE_CONNECT = 1;
constexpr uint32_t WTS_CONSOLE_DISCONNECT = 2;
constexpr uint32_t WTS_REMOTE_CONNECT = 3;
constexpr uint32_t WTS_REMOTE_DISCONNECT = 4;
constexpr uint32_t WTS_SESSION_LOGON = 5;
constexpr uint32_t WTS_SESSION_LOGOFF = 6;
constexpr uint32_t WTS_SESSION_LOCK = 7;
constexpr uint32_t WTS_SESSION_UNLOCK = 8;

// The copy-data record of WM_COPYDATA; lParam points at it in the receiver.
struct CopyData {
    uint64_t data;
    uint32_t length;
    const void* payload;
};

using WindowProc = int64_t (*)(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam);

struct WindowMessage {
    WindowHandle window;
    uint32_t message;
    uint64_t wParam;
    int64_t lParam;
    // Owned by the loop while the message is dispatched.
    CopyData copyData;
    std::vector<uint8_t> payload;
    int replyFd;  // the sender waits on it for the result; -1 for posted messages
};

struct WindowInfo {
    WindowHandle handle;
    uint32_t ownerPid;
    char className[128];
    char title[256];
    bool topMost;
};

bool registerWindowClass(const char* className, WindowProc procedure);
void unregisterWindowClass(const char* className);
// Creates a window of a registered class on the calling thread; 0 on failure.
WindowHandle createWindow(const char* className, const char* title);
// Runs WM_DESTROY through the window procedure, then removes the window.
bool destroyWindow(WindowHandle window);
bool windowExists(WindowHandle window);
// First window whose class and title match (a null argument matches any).
WindowHandle findWindow(const char* className, const char* title);
// Every live window of the session scope, in creation order.
bool enumWindows(std::vector<WindowInfo>* windows);
bool windowInfo(WindowHandle window, WindowInfo* info);
bool setWindowTopMost(WindowHandle window, bool topMost);

// Delivers the message and waits until the window procedure has returned its result.
// For WM_COPYDATA, lParam points at a CopyData record of the caller whose payload is
// copied to the receiver. 0 when the window is gone.
int64_t sendMessage(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam);
// Queues the message and returns at once (not for WM_COPYDATA).
bool postMessage(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam);

// Waits for the next message of the calling thread's windows; false on WM_QUIT or
// when the thread has no window left.
bool getMessage(WindowMessage* message);
int64_t dispatchMessage(WindowMessage* message);
void postQuitMessage(int exitCode);
int64_t defWindowProc(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam);

// Asks for WM_WTSSESSION_CHANGE messages of this session (from the desktop session
// manager when it is reachable; programs of the session scope may send them too).
bool registerSessionNotification(WindowHandle window);

}  // namespace platform
