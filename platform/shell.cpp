// The portable part of the desktop services: argument checks, menu building, the modal
// loop of message boxes, window-message numbers and the locale names.
#include "platform/shell.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/shell_impl.h"

namespace platform {

namespace {

void copyText(char* to, size_t size, const char* from) {
    std::snprintf(to, size, "%s", from ? from : "");
}

}  // namespace

bool shellNotifyIcon(uint32_t action, const TrayIconData* data) {
    if (!data || data->size != sizeof(TrayIconData)) return false;
    if (action != NIM_ADD && action != NIM_MODIFY && action != NIM_DELETE) return false;
    return shell::currentShell()->notifyIcon(action, data);
}

void sweepTrayIcons() {}

bool appendMenuEntry(PopupMenu* menu, MenuEntryKind kind, uint32_t command, bool checked,
                     const char* text) {
    if (!menu || menu->count >= kMenuMaxEntries) return false;
    MenuEntry& entry = menu->entries[menu->count++];
    entry.kind = kind;
    entry.command = kind == MenuEntryKind::String ? command : 0;
    entry.checked = kind == MenuEntryKind::String && checked;
    copyText(entry.text, sizeof entry.text, kind == MenuEntryKind::Separator ? "" : text);
    return true;
}

bool appendSubmenuEntry(PopupMenu* menu, uint32_t command, bool checked, const char* text) {
    if (!menu || menu->submenuCount >= kMenuMaxEntries) return false;
    MenuEntry& entry = menu->submenu[menu->submenuCount++];
    entry.kind = MenuEntryKind::String;
    entry.command = command;
    entry.checked = checked;
    copyText(entry.text, sizeof entry.text, text);
    return true;
}

bool trackPopupMenu(const PopupMenu* menu, WindowHandle owner) {
    if (!menu || menu->count == 0 || menu->count > kMenuMaxEntries ||
        menu->submenuCount > kMenuMaxEntries || !windowExists(owner)) {
        return false;
    }
    return shell::currentShell()->showMenu(menu, owner);
}

namespace {

// One modal box at a time per thread is what a modal loop allows; the flag belongs to
// the thread that runs the loop.
thread_local bool boxClosed = false;
thread_local WindowHandle openBox = 0;

int64_t messageBoxProcedure(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    if (message == WM_CLOSE) {
        if (window == openBox) boxClosed = true;
        return 0;
    }
    return defWindowProc(window, message, wParam, lParam);
}

}  // namespace

int messageBoxIndirect(const MessageBoxParams* params) {
    if (!params || !params->caption || !params->text || openBox != 0) return 0;
    static const bool registered = registerWindowClass(kMessageBoxClass, messageBoxProcedure);
    if (!registered) return 0;
    WindowHandle box = createWindow(kMessageBoxClass, params->caption);
    if (box == 0) return 0;
    const shell::ShellImpl* impl = shell::currentShell();
    openBox = box;
    boxClosed = false;
    if (!impl->showMessageBox(box, params)) {
        openBox = 0;
        destroyWindow(box);
        return 0;
    }
    // The box's own loop: the thread's other windows keep receiving their messages.
    bool quit = false;
    WindowMessage message{};
    while (!boxClosed) {
        if (!getMessage(&message)) {
            quit = true;
            break;
        }
        dispatchMessage(&message);
    }
    impl->closeMessageBox(box);
    openBox = 0;
    destroyWindow(box);
    if (quit) postQuitMessage(0);  // the outer loop must see the quit as well
    return IDOK;
}

bool keyIsDown(int virtualKey) {
    if (virtualKey < 1 || virtualKey > 254) return false;
    return shell::currentShell()->keyDown(virtualKey);
}

bool captureScreenToPng(const char* path) {
    if (!path || !*path) return false;
    return shell::currentShell()->captureScreen(path);
}

uint32_t registerWindowMessage(const char* name) {
    if (!name || !*name) return 0;
    // FNV-1a over the name folded into the registered range; Win32 compares names
    // without case, so the hash does too.
    uint32_t hash = 2166136261u;
    for (const char* p = name; *p; ++p) {
        char c = *p;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return 0xC000u + hash % 0x4000u;
}

namespace {

struct LanguageName {
    const char* code;
    const char* name;
    const char* codePage;
};

// The ANSI code page of each language as Windows assigns it.
const LanguageName kLanguages[] = {
    {"en", "English", "1252"},     {"de", "German", "1252"},      {"fr", "French", "1252"},
    {"es", "Spanish", "1252"},     {"it", "Italian", "1252"},     {"pt", "Portuguese", "1252"},
    {"nl", "Dutch", "1252"},       {"sv", "Swedish", "1252"},     {"da", "Danish", "1252"},
    {"nb", "Norwegian", "1252"},   {"no", "Norwegian", "1252"},   {"fi", "Finnish", "1252"},
    {"is", "Icelandic", "1252"},   {"ja", "Japanese", "932"},     {"ko", "Korean", "949"},
    {"ru", "Russian", "1251"},     {"uk", "Ukrainian", "1251"},   {"bg", "Bulgarian", "1251"},
    {"pl", "Polish", "1250"},      {"cs", "Czech", "1250"},       {"sk", "Slovak", "1250"},
    {"hu", "Hungarian", "1250"},   {"ro", "Romanian", "1250"},    {"hr", "Croatian", "1250"},
    {"sl", "Slovenian", "1250"},   {"el", "Greek", "1253"},       {"tr", "Turkish", "1254"},
    {"he", "Hebrew", "1255"},      {"ar", "Arabic", "1256"},      {"th", "Thai", "874"},
    {"vi", "Vietnamese", "1258"},  {"et", "Estonian", "1257"},    {"lv", "Latvian", "1257"},
    {"lt", "Lithuanian", "1257"},  {"id", "Indonesian", "1252"},  {"ms", "Malay", "1252"},
};

struct CountryName {
    const char* code;
    const char* name;
};

const CountryName kCountries[] = {
    {"US", "United States"}, {"GB", "United Kingdom"}, {"AU", "Australia"}, {"CA", "Canada"},
    {"NZ", "New Zealand"},   {"IE", "Ireland"},        {"DE", "Germany"},   {"AT", "Austria"},
    {"CH", "Switzerland"},   {"FR", "France"},         {"BE", "Belgium"},   {"ES", "Spain"},
    {"MX", "Mexico"},        {"IT", "Italy"},          {"PT", "Portugal"},  {"BR", "Brazil"},
    {"NL", "Netherlands"},   {"SE", "Sweden"},         {"DK", "Denmark"},   {"NO", "Norway"},
    {"FI", "Finland"},       {"IS", "Iceland"},        {"JP", "Japan"},     {"KR", "Korea"},
    {"RU", "Russia"},        {"UA", "Ukraine"},        {"BG", "Bulgaria"},  {"PL", "Poland"},
    {"CZ", "Czech Republic"}, {"SK", "Slovakia"},      {"HU", "Hungary"},   {"RO", "Romania"},
    {"HR", "Croatia"},       {"SI", "Slovenia"},       {"GR", "Greece"},    {"TR", "Turkey"},
    {"IL", "Israel"},        {"SA", "Saudi Arabia"},   {"EG", "Egypt"},     {"TH", "Thailand"},
    {"VN", "Vietnam"},       {"EE", "Estonia"},        {"LV", "Latvia"},    {"LT", "Lithuania"},
    {"ID", "Indonesia"},     {"MY", "Malaysia"},       {"IN", "India"},     {"SG", "Singapore"},
    {"TW", "Taiwan"},        {"HK", "Hong Kong SAR"},  {"MO", "Macao SAR"}, {"CN", "China"},
};

}  // namespace

bool windowsLocaleName(const char* posixName, char* name, size_t size) {
    if (!name || size == 0) return false;
    std::string text = posixName ? posixName : "";
    // "ll_CC.charset@modifier": only language and country matter to the Windows name.
    size_t cut = text.find_first_of(".@");
    if (cut != std::string::npos) text.resize(cut);
    std::string language = text.substr(0, text.find('_'));
    std::string country = text.find('_') == std::string::npos ? "" : text.substr(text.find('_') + 1);
    for (char& c : language) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (char& c : country) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);

    std::string result;
    if (language.empty() || language == "c" || language == "posix") {
        result = "C";
    } else if (language == "zh") {
        bool traditional = country == "TW" || country == "HK" || country == "MO";
        if (country.empty()) country = "CN";
        const char* countryName = nullptr;
        for (const CountryName& entry : kCountries) {
            if (country == entry.code) countryName = entry.name;
        }
        result = std::string(traditional ? "Chinese (Traditional)_" : "Chinese (Simplified)_") +
                 (countryName ? countryName : country.c_str()) + (traditional ? ".950" : ".936");
    } else {
        const LanguageName* lang = nullptr;
        for (const LanguageName& entry : kLanguages) {
            if (language == entry.code) lang = &entry;
        }
        const char* countryName = nullptr;
        for (const CountryName& entry : kCountries) {
            if (country == entry.code) countryName = entry.name;
        }
        // A language Windows would name and we do not: keep the POSIX code, which
        // the monitor's detection treats like any other unknown language.
        result = std::string(lang ? lang->name : language.c_str()) + "_" +
                 (countryName ? countryName : country.c_str()) + "." +
                 (lang ? lang->codePage : "1252");
    }
    if (result.size() + 1 > size) return false;
    std::memcpy(name, result.c_str(), result.size() + 1);
    return true;
}

bool userDefaultLocaleName(char* name, size_t size) {
    // The user's default is what the environment names, in the C library's order.
    const char* chosen = nullptr;
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            chosen = value;
            break;
        }
    }
    // A locale the system does not have leaves the process in "C"; the name still
    // follows the user's choice.
    std::setlocale(LC_ALL, "");
    return windowsLocaleName(chosen ? chosen : "C", name, size);
}

const char* shellImplementationName() { return shell::currentShell()->name; }

}  // namespace platform
