#pragma once
// Desktop services of the tray monitor: the notification-area icon with its balloons,
// popup menus, modal message boxes, key state, screen capture and the user's locale.
// Two implementations sit behind this header and are chosen at the first call: the
// desktop one when a display is there and it initialises, else a headless one that
// records everything in a state file of the sandbox (KESTROVAN_SHELL=headless forces
// it). Texts are UTF-8.
#include <cstddef>
#include <cstdint>

#include "platform/window.h"

namespace platform {

// Shell_NotifyIcon actions and flags (Win32 numbers).
constexpr uint32_t NIM_ADD = 0;
constexpr uint32_t NIM_MODIFY = 1;
constexpr uint32_t NIM_DELETE = 2;
constexpr uint32_t NIF_MESSAGE = 0x01;
constexpr uint32_t NIF_ICON = 0x02;
constexpr uint32_t NIF_TIP = 0x04;
constexpr uint32_t NIF_STATE = 0x08;
constexpr uint32_t NIF_INFO = 0x10;

// Room for 128 and 256 UTF-16 characters written as UTF-8.
constexpr size_t kTrayTipBytes = 128 * 4;
constexpr size_t kTrayInfoBytes = 256 * 4;
constexpr size_t kTrayInfoTitleBytes = 64 * 4;

// The tray icon record (NOTIFYICONDATAW). icon is an icon resource number of the
// program (the monitor uses 101, 104 and 105); 0 means no image.
struct TrayIconData {
    uint32_t size;  // sizeof(TrayIconData) when valid
    WindowHandle window;
    uint32_t id;
    uint32_t flags;
    uint32_t callbackMessage;
    int icon;
    char tip[kTrayTipBytes];
    uint32_t state;
    uint32_t stateMask;
    char info[kTrayInfoBytes];  // balloon text; a non-empty text with NIF_INFO shows a balloon
    char infoTitle[kTrayInfoTitleBytes];
    uint32_t infoFlags;
};

// Adds, modifies or deletes the icon (window, id). NIM_MODIFY changes only what flags
// names: NIF_ICON the image, NIF_TIP the tip, NIF_INFO with a text shows a balloon.
// Mouse actions on the icon arrive as the callback message posted to window, with
// wParam the id and lParam WM_LBUTTONDBLCLK or WM_RBUTTONDOWN. False when refused
// (an add of an existing icon, a change or delete of a missing one, no tray).
bool shellNotifyIcon(uint32_t action, const TrayIconData* data);

// Removes icons left behind by programs that ended without deleting theirs. Only the
// Windows task bar keeps such icons; here there is nothing to sweep.
void sweepTrayIcons();

// A popup menu: plain entries, separators and at most one submenu.
enum class MenuEntryKind : uint32_t { String, Separator, Submenu };

constexpr size_t kMenuTextBytes = 512;
constexpr size_t kMenuMaxEntries = 16;

struct MenuEntry {
    MenuEntryKind kind;
    uint32_t command;  // WM_COMMAND identifier of a String entry
    bool checked;
    char text[kMenuTextBytes];
};

struct PopupMenu {
    MenuEntry entries[kMenuMaxEntries];
    uint32_t count;
    // The entries of the one Submenu entry of entries.
    MenuEntry submenu[kMenuMaxEntries];
    uint32_t submenuCount;
};

// Appends to the menu; false when it is full. appendSubmenuEntry fills the submenu.
bool appendMenuEntry(PopupMenu* menu, MenuEntryKind kind, uint32_t command, bool checked,
                     const char* text);
bool appendSubmenuEntry(PopupMenu* menu, uint32_t command, bool checked, const char* text);

// Shows the menu at the cursor, its right edge at the cursor, owned by the window.
// The chosen entry is posted to owner as WM_COMMAND with the command in wParam's low
// word; closing the menu without a choice posts nothing. May return before the menu
// is closed; the menu record may be released once it returns.
bool trackPopupMenu(const PopupMenu* menu, WindowHandle owner);

// MessageBox styles and results (Win32 numbers).
constexpr uint32_t MB_OK = 0x00000000;
constexpr uint32_t MB_USERICON = 0x00000080;
constexpr uint32_t MB_SETFOREGROUND = 0x00010000;
constexpr int IDOK = 1;

// Window class of message boxes, as on Windows.
constexpr const char* kMessageBoxClass = "#32770";

struct MessageBoxParams {
    const char* caption;
    const char* text;
    int icon;  // icon resource number with MB_USERICON
    uint32_t style;
};

// Shows a modal message box and returns when it is closed (IDOK). The box is a
// top-level window of class kMessageBoxClass titled with the caption: WM_CLOSE to it
// closes it, whoever sends it. Meanwhile the calling thread keeps dispatching the
// messages of its other windows. 0 when the box cannot be shown.
int messageBoxIndirect(const MessageBoxParams* params);

// GetKeyState for Win32 virtual-key codes 1 to 254, mouse buttons included
// (1 left, 2 right, 4 middle, 5 and 6 the side buttons): true while the key is down.
bool keyIsDown(int virtualKey);

// Saves a picture of the primary display, from its top-left corner, as a PNG file.
bool captureScreenToPng(const char* path);

// RegisterWindowMessage: the same number in every process for one name, in
// 0xC000-0xFFFF. The shell posts "TaskbarCreated" to windows that own a tray icon
// when the tray comes back after a restart.
uint32_t registerWindowMessage(const char* name);
constexpr const char* kTaskbarCreatedMessage = "TaskbarCreated";

// The user's default locale named as the Windows C runtime names it after
// setlocale(LC_ALL, ""): "Language_Country.CodePage", for example zh_TW gives
// "Chinese (Traditional)_Taiwan.950" and ja_JP gives "Japanese_Japan.932". The C and
// POSIX locales give "C". Also sets the process locale of all categories when the
// system has it. False when the name does not fit.
bool userDefaultLocaleName(char* name, size_t size);
// The same translation for a POSIX locale name such as "de_DE.UTF-8" (pure function).
bool windowsLocaleName(const char* posixName, char* name, size_t size);

// Name of the implementation in use: "desktop" or "headless".
const char* shellImplementationName();

}  // namespace platform
