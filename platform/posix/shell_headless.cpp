// The headless shell: no screen, the tray, balloons, menus and message boxes are
// written to a state file in the runtime folder, keys are read from an input file,
// and the clicks come as window messages from whoever wants to click.
//
// <runtime>/shell/headless-state, rewritten whole on every change, one record a line,
// fields separated by tabs, texts escaped (\\ \n \r \t):
//   tray     <window> <id> <icon> <tip>          one per icon on the tray
//   balloon  <n> <text>                          every balloon so far, n from 1
//   menu     <n> <owner>                         the last menu, n menus so far
//   item     <command> <checked 0|1> <text>      its entries in order ...
//   separator
//   submenu  <text>                              ... the submenu entry, followed by
//   subitem  <command> <checked 0|1> <text>      the submenu's entries
//   box      <n> <window> <caption> <text>       the open message box, n boxes so far
//   capture  <n> <path>                          the last screen capture, n so far
//   keys     <n>                                 key presses served so far
// <runtime>/shell/headless-keys, appended by the typist, one press a line:
//   <code in hex> [<milliseconds held>]          a press; without a time the key is up
//                                                again at its second reading
//   clear                                        forget presses nobody has read yet
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/posix/shell_impl.h"

namespace platform::shell {

namespace {

struct Icon {
    WindowHandle window;
    uint32_t id;
    int icon;
    std::string tip;
};

struct Press {
    int code;
    long holdMs;
    long long downSince;  // 0 until first read down
};

struct HeadlessState {
    std::mutex lock;
    std::vector<Icon> icons;
    std::vector<std::string> balloons;
    uint32_t menus = 0;
    std::string menuLines;
    uint32_t boxes = 0;
    WindowHandle box = 0;
    std::string boxCaption;
    std::string boxText;
    uint32_t captures = 0;
    std::string capturePath;
    uint64_t keysServed = 0;
    std::deque<Press> pending;
    long long keysOffset = 0;
    long long keysCheckedMs = 0;
};

HeadlessState& state() {
    static HeadlessState* shared = new HeadlessState;  // lives until the process ends
    return *shared;
}

long long nowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string folderPath() {
    std::string folder = knownFolder(KnownFolder::Runtime);
    if (folder.empty()) return folder;
    folder += "/shell";
    mkdir(folder.c_str(), 0700);
    return folder;
}

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    return out;
}

// Called with the state locked.
void writeState(HeadlessState& s) {
    std::string folder = folderPath();
    if (folder.empty()) return;
    std::string text;
    char number[64];
    for (const Icon& icon : s.icons) {
        std::snprintf(number, sizeof number, "tray\t%llu\t%u\t%d\t",
                      static_cast<unsigned long long>(icon.window), icon.id, icon.icon);
        text += number + escaped(icon.tip) + "\n";
    }
    for (size_t i = 0; i < s.balloons.size(); ++i) {
        text += "balloon\t" + std::to_string(i + 1) + "\t" + escaped(s.balloons[i]) + "\n";
    }
    text += s.menuLines;
    if (s.box != 0) {
        text += "box\t" + std::to_string(s.boxes) + "\t" + std::to_string(s.box) + "\t" +
                escaped(s.boxCaption) + "\t" + escaped(s.boxText) + "\n";
    }
    if (s.captures > 0) {
        text += "capture\t" + std::to_string(s.captures) + "\t" + escaped(s.capturePath) + "\n";
    }
    text += "keys\t" + std::to_string(s.keysServed) + "\n";
    std::string path = folder + "/headless-state";
    std::string temporary = path + ".new";
    if (replaceFileContent(temporary.c_str(), text.data(), text.size())) {
        renamePath(temporary.c_str(), path.c_str());
    }
}

bool notifyIcon(uint32_t action, const TrayIconData* data) {
    HeadlessState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    Icon* found = nullptr;
    size_t index = 0;
    for (size_t i = 0; i < s.icons.size(); ++i) {
        if (s.icons[i].window == data->window && s.icons[i].id == data->id) {
            found = &s.icons[i];
            index = i;
        }
    }
    switch (action) {
    case NIM_ADD:
        if (found || data->window == 0) return false;
        s.icons.push_back(Icon{data->window, data->id, (data->flags & NIF_ICON) ? data->icon : 0,
                               (data->flags & NIF_TIP) ? data->tip : ""});
        found = &s.icons.back();
        break;
    case NIM_MODIFY:
        if (!found) return false;
        if (data->flags & NIF_ICON) found->icon = data->icon;
        if (data->flags & NIF_TIP) found->tip = data->tip;
        break;
    case NIM_DELETE:
        if (!found) return false;
        s.icons.erase(s.icons.begin() + static_cast<long>(index));
        writeState(s);
        return true;
    default:
        return false;
    }
    if ((data->flags & NIF_INFO) && data->info[0] != '\0') s.balloons.push_back(data->info);
    writeState(s);
    return true;
}

void menuEntryLine(std::string* lines, const MenuEntry& entry, const char* itemTag) {
    switch (entry.kind) {
    case MenuEntryKind::Separator: *lines += "separator\n"; break;
    case MenuEntryKind::Submenu: *lines += "submenu\t" + escaped(entry.text) + "\n"; break;
    case MenuEntryKind::String:
        *lines += std::string(itemTag) + "\t" + std::to_string(entry.command) + "\t" +
                  (entry.checked ? "1" : "0") + "\t" + escaped(entry.text) + "\n";
        break;
    }
}

bool showMenu(const PopupMenu* menu, WindowHandle owner) {
    HeadlessState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    ++s.menus;
    std::string lines = "menu\t" + std::to_string(s.menus) + "\t" + std::to_string(owner) + "\n";
    for (uint32_t i = 0; i < menu->count; ++i) {
        menuEntryLine(&lines, menu->entries[i], "item");
        if (menu->entries[i].kind != MenuEntryKind::Submenu) continue;
        for (uint32_t j = 0; j < menu->submenuCount; ++j) menuEntryLine(&lines, menu->submenu[j], "subitem");
    }
    s.menuLines = lines;
    writeState(s);
    return true;
}

bool showMessageBox(WindowHandle box, const MessageBoxParams* params) {
    HeadlessState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    ++s.boxes;
    s.box = box;
    s.boxCaption = params->caption;
    s.boxText = params->text;
    writeState(s);
    return true;
}

void closeMessageBox(WindowHandle box) {
    HeadlessState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.box != box) return;
    s.box = 0;
    s.boxCaption.clear();
    s.boxText.clear();
    writeState(s);
}

// Takes new complete lines of the key input file into the queue. With the state locked.
void readKeyInput(HeadlessState& s) {
    long long now = nowMs();
    if (now - s.keysCheckedMs < 5) return;  // the recogniser reads 254 keys in a row
    s.keysCheckedMs = now;
    std::string path = folderPath() + "/headless-keys";
    struct stat info{};
    if (stat(path.c_str(), &info) != 0 || info.st_size <= s.keysOffset) return;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    std::string text(static_cast<size_t>(info.st_size - s.keysOffset), '\0');
    ssize_t got = pread(fd, text.data(), text.size(), s.keysOffset);
    close(fd);
    if (got <= 0) return;
    text.resize(static_cast<size_t>(got));
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        if (line == "clear") {
            s.pending.clear();
            continue;
        }
        char* rest = nullptr;
        long code = std::strtol(line.c_str(), &rest, 16);
        if (rest == line.c_str() || code < 1 || code > 254) continue;
        long hold = std::strtol(rest, nullptr, 10);
        s.pending.push_back(Press{static_cast<int>(code), hold > 0 ? hold : 0, 0});
    }
    s.keysOffset += static_cast<long long>(start);
}

bool keyDown(int virtualKey) {
    HeadlessState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    readKeyInput(s);
    if (s.pending.empty() || s.pending.front().code != virtualKey) return false;
    Press& press = s.pending.front();
    long long now = nowMs();
    if (press.downSince == 0) {
        press.downSince = now;
        return true;
    }
    if (press.holdMs > 0 && now - press.downSince < press.holdMs) return true;
    s.pending.pop_front();
    ++s.keysServed;
    writeState(s);
    return false;
}

bool captureScreen(const char* pngPath) {
    // The screen of a machine without one: a fixed 64 x 48 gradient.
    constexpr uint32_t width = 64, height = 48;
    std::vector<unsigned char> rgb(width * height * 3);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            unsigned char* pixel = &rgb[(y * width + x) * 3];
            pixel[0] = static_cast<unsigned char>(x * 4);
            pixel[1] = static_cast<unsigned char>(y * 5);
            pixel[2] = 0x80;
        }
    }
    bool saved = writePngRgb(pngPath, rgb.data(), width, height);
    HeadlessState& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    ++s.captures;
    s.capturePath = pngPath;
    writeState(s);
    return saved;
}

const ShellImpl kHeadless = {"headless", notifyIcon,  showMenu, showMessageBox, closeMessageBox,
                             keyDown,    captureScreen};

uint32_t crc32(const unsigned char* data, size_t length, uint32_t crc) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        ready = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < length; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void putBigEndian(std::string* out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>((value >> shift) & 0xFF));
}

void putChunk(std::string* out, const char* type, const std::string& body) {
    putBigEndian(out, static_cast<uint32_t>(body.size()));
    std::string typed = std::string(type, 4) + body;
    *out += typed;
    putBigEndian(out, crc32(reinterpret_cast<const unsigned char*>(typed.data()), typed.size(), 0));
}

}  // namespace

const ShellImpl* headlessShell() { return &kHeadless; }

bool writePngRgb(const char* path, const unsigned char* rgb, uint32_t width, uint32_t height) {
    if (!path || !rgb || width == 0 || height == 0 || width > 16384 || height > 16384) return false;
    std::string raw;
    raw.reserve((static_cast<size_t>(width) * 3 + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back('\0');  // filter: none
        raw.append(reinterpret_cast<const char*>(rgb) + static_cast<size_t>(y) * width * 3, width * 3);
    }
    std::string zlib = "\x78\x01";
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    for (size_t at = 0; at < raw.size() || raw.empty(); at += 65535) {
        size_t length = std::min<size_t>(65535, raw.size() - at);
        bool last = at + length >= raw.size();
        zlib.push_back(last ? '\x01' : '\x00');
        zlib.push_back(static_cast<char>(length & 0xFF));
        zlib.push_back(static_cast<char>(length >> 8));
        zlib.push_back(static_cast<char>(~length & 0xFF));
        zlib.push_back(static_cast<char>((~length >> 8) & 0xFF));
        zlib.append(raw, at, length);
        if (last) break;
    }
    putBigEndian(&zlib, (b << 16) | a);

    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    putBigEndian(&header, width);
    putBigEndian(&header, height);
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
    putChunk(&png, "IHDR", header);
    putChunk(&png, "IDAT", zlib);
    putChunk(&png, "IEND", "");
    return replaceFileContent(path, png.data(), png.size());
}

const ShellImpl* currentShell() {
    static const ShellImpl* chosen = [] {
        const char* forced = std::getenv("KESTROVAN_SHELL");
        std::string choice = forced ? forced : "";
        if (choice == "headless") return headlessShell();
#if defined(KESTROVAN_SHELL_DESKTOP)
        const char* x11 = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if (choice == "desktop" || (x11 && *x11) || (wayland && *wayland)) {
            if (const ShellImpl* desktop = desktopShell()) return desktop;
        }
#endif
        return headlessShell();
    }();
    return chosen;
}

}  // namespace platform::shell
