#include "CardStore.h"

#include "platform/clock.h"
#include "platform/window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "CardCrypto.h"
#include "platform/dynlib.h"
#include "platform/folders.h"

namespace fs = std::filesystem;

namespace softcard {

namespace {

bool readWhole(const std::string& path, std::string* text) {
    FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    text->clear();
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text->append(buffer, n);
    std::fclose(in);
    return true;
}

bool writeWhole(const std::string& path, const std::string& text) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && ok;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        out.push_back(line);
        start = end + 1;
    }
    return out;
}

std::string defaultFolder() {
    std::string self = platform::libraryPathOf(reinterpret_cast<const void*>(&defaultFolder));
    if (self.empty()) return {};
    return (fs::path(self).parent_path() / "card").string();
}

}  // namespace

std::string configFolder() {
    std::string machine = platform::knownFolder(platform::KnownFolder::CommonAppData);
    if (machine.empty()) return {};
    std::string folder = machine + "/PelHCAATL";
    std::error_code error;
    if (!fs::exists(folder, error)) {
        // First use on this machine: install the default card beside the library.
        std::string source = defaultFolder();
        if (!source.empty() && fs::is_directory(source, error)) {
            fs::create_directories(folder, error);
            fs::copy(source, folder, fs::copy_options::recursive | fs::copy_options::skip_existing, error);
        }
    }
    return folder;
}

std::vector<std::string> readerNames() {
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(configFolder() + "/readers", error), end;
    for (; !error && it != end; it.increment(error))
        if (it->is_directory(error)) names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

long findCard(const std::string& reader, Card* card) {
    std::vector<std::string> names = readerNames();
    if (names.empty()) return kNoReader;
    if (!reader.empty() && std::find(names.begin(), names.end(), reader) == names.end()) return kNoReader;
    for (const std::string& name : names) {
        if (!reader.empty() && name != reader) continue;
        std::string folder = configFolder() + "/readers/" + name;
        std::string records, pem;
        if (!readWhole(folder + "/card", &records) || !readWhole(folder + "/cert.pem", &pem)) continue;
        Card found;
        found.reader = name;
        found.folder = folder;
        for (const std::string& line : lines(records)) {
            size_t equals = line.find('=');
            if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
            found.records.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
        if (!certificateDer(pem, &found.certDer)) continue;
        *card = found;
        return kCardOk;
    }
    return kNoCard;
}

std::string cardRecord(const Card& card, const std::string& label) {
    for (const auto& record : card.records)
        if (record.first == label) return record.second;
    return {};
}

bool hasRecord(const Card& card, const std::string& label) {
    for (const auto& record : card.records)
        if (record.first == label) return true;
    return false;
}

long retriesLeft(const Card& card) {
    std::string text;
    if (!readWhole(card.folder + "/retries", &text)) return kMaxRetries;
    long left = std::strtol(text.c_str(), nullptr, 10);
    return std::clamp(left, 0L, kMaxRetries);
}

long checkPin(const Card& card, const std::string& pin) {
    long left = retriesLeft(card);
    if (left <= 0) return kPinLocked;
    std::string expected;
    if (!readWhole(card.folder + "/pin", &expected)) return kNoCard;
    while (!expected.empty() && (expected.back() == '\n' || expected.back() == '\r')) expected.pop_back();
    bool right = !pin.empty() && pin == expected;
    wipe(expected);
    long after = right ? kMaxRetries : left - 1;
    if (after != left && !writeWhole(card.folder + "/retries", std::to_string(after) + "\n")) return kWriteFailed;
    return right ? kCardOk : kWrongPin;
}

std::string cardKey(const Card& card) {
    std::string key;
    if (!readWhole(card.folder + "/key.pem", &key)) return {};
    return key;
}

HRESULT armedFailure(const char* method) {
    std::string text;
    if (!readWhole(configFolder() + "/fail", &text)) return S_OK;
    std::string name = method;
    for (const std::string& line : lines(text)) {
        size_t blank = line.find(' ');
        if (blank == std::string::npos || line.substr(0, blank) != name) continue;
        unsigned long code = std::strtoul(line.c_str() + blank + 1, nullptr, 0);
        HRESULT hr = static_cast<HRESULT>(static_cast<uint32_t>(code));
        return FAILED(hr) ? hr : E_FAIL;
    }
    return S_OK;
}

namespace {
int64_t promptProc(platform::WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    return platform::defWindowProc(window, message, wParam, lParam);
}
}  // namespace

void openArmedWindow(const char* method) {
    std::string text;
    if (!readWhole(configFolder() + "/window", &text)) return;
    const std::string name = method;
    for (const std::string& line : lines(text)) {
        // "<Method> <delay ms> <hold ms> <title>"
        size_t first = line.find(' ');
        if (first == std::string::npos || line.substr(0, first) != name) continue;
        char* rest = nullptr;
        long delay = std::strtol(line.c_str() + first + 1, &rest, 10);
        long hold = std::strtol(rest, &rest, 10);
        std::string title = rest && *rest == ' ' ? std::string(rest + 1) : std::string();
        platform::sleepMs(static_cast<int>(delay));
        platform::registerWindowClass("SoftCardPrompt", promptProc);
        platform::WindowHandle window = platform::createWindow("SoftCardPrompt", title.c_str());
        platform::sleepMs(static_cast<int>(hold));
        if (window) platform::destroyWindow(window);
        return;
    }
}

}  // namespace softcard
