#pragma once
// The seam between platform/shell.cpp and the two shell implementations. Each fills one
// table; the table is chosen once, at the first shell call of the process.
#include "platform/shell.h"

namespace platform::shell {

struct ShellImpl {
    const char* name;  // "desktop" or "headless"
    // Tray icon: the same contract as shellNotifyIcon (arguments already checked).
    bool (*notifyIcon)(uint32_t action, const TrayIconData* data);
    // Shows the menu; the choice is posted to owner as WM_COMMAND.
    bool (*showMenu)(const PopupMenu* menu, WindowHandle owner);
    // Shows the box without waiting. box is the platform window of the box (class
    // kMessageBoxClass, titled with the caption); when the user closes the box, the
    // implementation posts WM_CLOSE to box. Returns false when it cannot be shown.
    bool (*showMessageBox)(WindowHandle box, const MessageBoxParams* params);
    // Takes the box off the screen (it was closed by the user or by a WM_CLOSE).
    void (*closeMessageBox)(WindowHandle box);
    bool (*keyDown)(int virtualKey);
    bool (*captureScreen)(const char* pngPath);
};

// The headless table (shell_headless.cpp); always available.
const ShellImpl* headlessShell();

#if defined(KESTROVAN_SHELL_DESKTOP)
// The desktop table (shell_desktop.cpp, built when the desktop libraries are found).
// Returns null when there is no display or the toolkit does not initialise; then the
// headless table is used. Called at most once per process.
const ShellImpl* desktopShell();
#endif

// The table in use: KESTROVAN_SHELL=headless forces the headless one,
// KESTROVAN_SHELL=desktop insists on the desktop one (headless only if it fails).
// Without the switch, desktop when DISPLAY or WAYLAND_DISPLAY is set.
const ShellImpl* currentShell();

// Writes a PNG of width x height RGB pixels (rows top to bottom, 3 bytes a pixel)
// without any image library: stored deflate blocks. For the headless capture and
// for a desktop implementation that has no encoder at hand.
bool writePngRgb(const char* path, const unsigned char* rgb, uint32_t width, uint32_t height);

}  // namespace platform::shell
