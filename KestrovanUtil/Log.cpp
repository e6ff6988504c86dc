#include "Log.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "Holder.h"
#include "PelLog.h"
#include "Text.h"
#include "Tool.h"
#include "Version.h"
#include "platform/folders.h"

namespace {

constexpr const char* kIniProduct = "TarvikKestrovan";
constexpr size_t kPrefixLimit = 64;  // 63 characters and the NUL

// The one switch every log function reads first; off costs a single atomic load.
std::atomic<bool> logState{false};
std::mutex prefixLock;  // setLog may rename while a line begun before switch-off still reads
char prefixName[kPrefixLimit] = "";

// The family's one routine. reportFailures is false inside the allocation report
// itself, so a failing allocation there ends quietly instead of recursing.
void writeLine(const char* word, const char* message, const char* value, bool reportFailures) {
    if (!message) message = "";
    if (!value) value = "";
    char* head = nullptr;
    {
        std::lock_guard<std::mutex> guard(prefixLock);
        int n = std::snprintf(nullptr, 0, "[%s]%s %s", prefixName, word, message);
        if (n >= 0) head = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
        if (head) std::snprintf(head, static_cast<size_t>(n) + 1, "[%s]%s %s", prefixName, word, message);
    }
    if (!head) {
        if (reportFailures) REPORT_ALLOC();
        return;
    }
    TextHolder held(head);
    PelLogWrite(5, "%s%s", head, value);
}

void writeNumber(const char* word, const char* message, int32_t value, bool reportFailures) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", static_cast<int>(value));
    writeLine(word, message, number, reportFailures);
}

bool isOff() { return !logState.load(std::memory_order_acquire); }

// The first candidate folder that holds the ini file, as a full path; null when none does.
char* findIniFile(const char* iniName) {
    TextHolder around(moduleDirectory());
    if (around && *around.get()) {
        std::string path = std::string(around.get()) + "/" + iniName;
        if (fileExists(path.c_str())) {
            WideHolder wide(utf8ToUtf16(path.c_str()));
            logNormalWide("Find log ini file in around: ", wide.get());
            return duplicateText(path.c_str());
        }
    }
    std::string windows = platform::knownFolder(platform::KnownFolder::Windows);
    if (!windows.empty()) {
        std::string path = windows + "/" + iniName;
        if (fileExists(path.c_str())) {
            WideHolder wide(utf8ToUtf16(path.c_str()));
            logNormalWide("Find log ini file in Windows: ", wide.get());
            return duplicateText(path.c_str());
        }
    }
    TextHolder temp(getUserTempPath());
    if (temp && *temp.get()) {
        std::string path = temp.get();
        if (path.back() != '/') path += "/";
        path += iniName;
        WideHolder wide(utf8ToUtf16(path.c_str()));
        logNormalWide("Start find log ini file in getUserPath temp: ", wide.get());
        if (fileExists(path.c_str())) {
            logNormalWide("Find log ini file in getUserPath temp: ", wide.get());
            return duplicateText(path.c_str());
        }
    }
    return nullptr;
}

}  // namespace

bool setLog(const char* inputPrefixName) {
    if (!isOff()) return true;
    if (!inputPrefixName) {
        REPORT_NULL("inputPrefixName");
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(prefixLock);
        std::snprintf(prefixName, sizeof prefixName, "%s", inputPrefixName);
    }

    char iniName[64];
    std::snprintf(iniName, sizeof iniName, "%s.ini", kIniProduct);
    TextHolder found(findIniFile(iniName));
    int code;
    if (found) {
        code = PelLogInit(found.get());
    } else {
        logNormal("Log search path: ", iniName);
        code = PelLogInit(iniName);
    }
    PelLogWrite(5, "%s %d %s Compile Time : %s %s", __FILE__, __LINE__, "setLog", buildDate(), buildTime());
    if (!found && code != 0) logNormalNumber("Init log error code: ", code);

    logState.store(code == 0, std::memory_order_release);
    if (code == 0) logNormal("Log state: ", "Enable");
    return code == 0;
}

void unsetLog() {
    if (!isOff()) logNormal("Log state: ", "Disable");
    logState.store(false, std::memory_order_release);
    PelLogReset();
}

bool isLogOn() { return !isOff(); }

void logNormal(const char* message, const char* value) {
    if (isOff()) return;
    writeLine("[Normal]", message, value, true);
}

void logNormalNumber(const char* message, int32_t value) {
    if (isOff()) return;
    writeNumber("[Normal]", message, value, true);
}

void logNormalWide(const char* message, const char16_t* value) {
    if (isOff()) return;
    // A value that cannot be converted is written as the empty text.
    TextHolder text(value ? utf16ToUtf8(value) : nullptr);
    writeLine("[Normal]", message, text ? text.get() : "", true);
}

void logWarning(const char* message, const char* value) {
    if (isOff()) return;
    writeLine("[Warning]", message, value, true);
}

void logWarningNumber(const char* message, int32_t value) {
    if (isOff()) return;
    writeNumber("[Warning]", message, value, true);
}

void logError(const char* message, const char* value) {
    if (isOff()) return;
    writeLine("[Error]", message, value, true);
}

void logErrorNumber(const char* message, int32_t value) {
    if (isOff()) return;
    writeNumber("[Error]", message, value, true);
}

void reportNullParameter(const char* name, const char* file, int line) {
    if (isOff()) return;
    char text[512];
    std::snprintf(text, sizeof text, "Parameter %s is null at %s %d", name ? name : "", file ? file : "", line);
    logWarning("", text);
}

void reportAllocFailure(const char* file, int line) {
    if (isOff()) return;
    writeLine("[Error]", "Memory allocate fail at file: ", file, false);
    writeNumber("[Error]", "Memory allocate fail at line: ", line, false);
}
