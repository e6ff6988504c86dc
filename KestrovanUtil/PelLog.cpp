#include "PelLog.h"

#include <atomic>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/folders.h"
#include "platform/mutex.h"
#include "platform/process.h"

namespace {

constexpr const char* kSectionName = "TarvikKestrovan";
constexpr const char* kMutexName = "Global\\PelLog";

constexpr int kPathLimit = 128;     // "Log File": 127 characters
constexpr int kMaxSizeLimit = 64;   // "Log MaxSize": 63
constexpr int kLevelLimit = 16;     // "Log Level": 15
// A path of 127 characters plus "_YYYYMMDD_<index>" always fits, so a long path
// never gets cut into a wrong name (which would also keep the rotation from moving on).
constexpr int kNameSize = kPathLimit + 24;

// Everything below belongs to this image; the adapter carries its own copy.
std::mutex gStateLock;  // threads of this image: configuration, mutex handle, rotation
char gLogFilePath[kPathLimit] = "";  // empty: the default file
std::atomic<int> gLevel{0};
std::atomic<bool> gInitialised{false};
int gMaxSize = 0;
int gRotationIndex = 0;
platform::NamedMutex gMutex{};
bool gMutexTaken = false;
std::atomic<PelLogClock> gClock{nullptr};

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

// One whole line, line end included; false at the end of the file with nothing read.
bool readLine(FILE* file, std::string* line) {
    line->clear();
    char piece[256];
    while (std::fgets(piece, sizeof piece, file)) {
        line->append(piece);
        if (!line->empty() && line->back() == '\n') break;
    }
    return !line->empty();
}

// A path that opens but cannot be read (a folder) counts as a file that cannot be opened.
FILE* openIni(const char* path) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return nullptr;
    int c = std::fgetc(file);
    if (c == EOF && std::ferror(file)) {
        std::fclose(file);
        return nullptr;
    }
    if (c != EOF) std::ungetc(c, file);
    return file;
}

// The text between leading and trailing blanks and line ends.
std::string trimmed(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (isBlank(text[begin]) || isLineEnd(text[begin]))) ++begin;
    while (end > begin && (isBlank(text[end - 1]) || isLineEnd(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

bool isHeader(const std::string& line, std::string* name) {
    std::string t = trimmed(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
    if (name) *name = trimmed(t.substr(1, t.size() - 2));
    return true;
}

bool equalsIgnoreCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// The value of a key line: quoted values lose their quotes, others stay as written.
std::string unquoted(std::string value) {
    while (!value.empty() && isLineEnd(value.back())) value.pop_back();
    size_t start = 0;
    while (start < value.size() && isBlank(value[start])) ++start;
    if (start == value.size() || (value[start] != '"' && value[start] != '\'')) return value;
    size_t close = value.rfind(value[start]);
    // Without a closing quote the rest of the line is the value, rather than losing it.
    if (close == start) return value.substr(start + 1);
    return value.substr(start + 1, close - start - 1);
}

// Decimal in the manner of atoi (blanks, sign, digits, 0 without digits), kept in range.
int decimalValue(const char* text) {
    while (isBlank(*text) || *text == '\n' || *text == '\r' || *text == '\v' || *text == '\f') ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    long long value = 0;
    while (*text >= '0' && *text <= '9') {
        value = value * 10 + (*text++ - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

bool readClock(platform::LocalTime* now) {
    PelLogClock clock = gClock.load();
    bool ok = clock ? clock(now) : platform::localTime(now);
    if (!ok) *now = platform::LocalTime{};
    return ok;
}

// The design's default "C:\PelLog.log": the sandbox root stands for drive C:, and
// outside a sandbox the drive tmp folder, since "/" is not ours to write.
void defaultLogFile(char* out) {
    std::string root = platform::sandboxRoot();
    std::string folder = root.empty() ? platform::knownFolder(platform::KnownFolder::DriveTmp) : root;
    std::snprintf(out, kPathLimit, "%s/PelLog.log", folder.c_str());
}

// Opens "Global\PelLog" anew, closing the handle we held before. Called under gStateLock.
void takeMutex() {
    if (gMutexTaken) platform::mutexClose(&gMutex);
    gMutex = platform::NamedMutex{};
    gMutexTaken = platform::mutexOpen(&gMutex, kMutexName);
}

// Dated name of the log file for one rotation index; false when it does not fit.
bool datedName(char* out, const char* path, const platform::LocalTime& day, int index) {
    // Only a "." in the file's own name marks an extension; one in a folder name
    // ("/home/u/.cache/log") must not receive the date.
    const char* base = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\') base = p + 1;
    }
    const char* dot = std::strrchr(base, '.');
    int n;
    if (dot) {
        int stem = static_cast<int>(dot - path);
        if (index > 0)
            n = std::snprintf(out, kNameSize, "%.*s_%04d%02d%02d_%d%s", stem, path, day.year, day.month,
                              day.day, index, dot);
        else
            n = std::snprintf(out, kNameSize, "%.*s_%04d%02d%02d%s", stem, path, day.year, day.month, day.day,
                              dot);
    } else if (index > 0) {
        // Without an extension the index goes last, so a size limit can still move on.
        n = std::snprintf(out, kNameSize, "%s_%04d%02d%02d_%d", path, day.year, day.month, day.day, index);
    } else {
        n = std::snprintf(out, kNameSize, "%s_%04d%02d%02d", path, day.year, day.month, day.day);
    }
    return n > 0 && n < kNameSize;
}

long long sizeOfFile(const char* name) {
    FILE* file = std::fopen(name, "rb");
    if (!file) return -1;
    long long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    std::fclose(file);
    return size;
}

// The current file: today's name, moved on past every file already over the limit.
bool currentFileName(char* out, const platform::LocalTime& now) {
    char defaultPath[kPathLimit];
    const char* path = gLogFilePath;
    if (!*path) {
        defaultLogFile(defaultPath);
        path = defaultPath;
    }
    for (;;) {
        if (!datedName(out, path, now, gRotationIndex)) return false;
        if (gMaxSize <= 0) return true;
        long long size = sizeOfFile(out);
        if (size < 0 || size <= gMaxSize) return true;
        if (gRotationIndex == INT_MAX) return true;
        ++gRotationIndex;
    }
}

const char* levelTag(int level) {
    switch (level) {
    case 1: return "[FATAL]";
    case 2: return "[ERROR]";
    case 3: return "[WARN ]";
    case 4: return "[INFO ]";
    case 5: return "[DEBUG]";
    default: break;
    }
    // Levels past 5 are still more talkative than debug; 0 and below carry no tag.
    return level > 5 ? "[DEBUG]" : "";
}

// The message as text mode writes it: every line feed becomes CR LF.
char* formatMessage(const char* format, va_list args, size_t* length) {
    va_list measure;
    va_copy(measure, args);
    int n = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (n < 0) return nullptr;
    char* raw = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
    if (!raw) return nullptr;
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(raw, static_cast<size_t>(n) + 1, format, copy);
    va_end(copy);
    size_t feeds = 0;
    for (int i = 0; i < n; ++i) feeds += raw[i] == '\n';
    if (feeds == 0) {
        *length = static_cast<size_t>(n);
        return raw;
    }
    char* text = static_cast<char*>(std::malloc(static_cast<size_t>(n) + feeds + 1));
    if (!text) {
        std::free(raw);
        return nullptr;
    }
    size_t out = 0;
    for (int i = 0; i < n; ++i) {
        if (raw[i] == '\n') text[out++] = '\r';
        text[out++] = raw[i];
    }
    text[out] = '\0';
    std::free(raw);
    *length = out;
    return text;
}

void appendLine(int level, const char* message, size_t length) {
    platform::LocalTime now{};
    readClock(&now);
    char name[kNameSize];
    if (!currentFileName(name, now)) return;
    char prefix[128];
    int prefixLength = std::snprintf(
        prefix, sizeof prefix, "%d-%02d-%02d %02d:%02d:%02d.%03lu %s [%05lu-%05lu] ", now.year, now.month, now.day,
        now.hour, now.minute, now.second, static_cast<unsigned long>(now.millisecond), levelTag(level),
        static_cast<unsigned long>(platform::processId() % 100000),
        static_cast<unsigned long>(platform::threadId() % 100000));
    if (prefixLength < 0 || prefixLength >= static_cast<int>(sizeof prefix)) return;
    FILE* file = std::fopen(name, "ab");
    if (!file) return;
    std::fwrite(prefix, 1, static_cast<size_t>(prefixLength), file);
    std::fwrite(message, 1, length, file);
    std::fwrite("\r\n", 1, 2, file);
    std::fclose(file);
}

}  // namespace

void PelLogSetClock(PelLogClock clock) { gClock.store(clock); }

int PelLogReadIni(const char* key, char* buffer, int size, const char* iniPath) {
    if (!iniPath) return kIniCannotOpen;
    FILE* file = openIni(iniPath);
    if (!file) return kIniCannotOpen;
    std::string line;
    std::string name;
    bool inSection = false;
    while (readLine(file, &line)) {
        if (isHeader(line, &name) && equalsIgnoreCase(name, kSectionName)) {
            inSection = true;
            break;
        }
    }
    if (!inSection) {
        std::fclose(file);
        return kIniNoSection;
    }
    int code = kIniNoKey;
    size_t keyLength = key ? std::strlen(key) : 0;
    while (key && readLine(file, &line)) {
        if (isHeader(line, nullptr)) break;
        size_t start = 0;
        while (start < line.size() && isBlank(line[start])) ++start;
        if (start < line.size() && line[start] == ';') continue;
        if (line.size() - start <= keyLength || line[start + keyLength] != '=') continue;
        bool same = true;
        for (size_t i = 0; i < keyLength && same; ++i) {
            same = std::tolower(static_cast<unsigned char>(line[start + i])) ==
                   std::tolower(static_cast<unsigned char>(key[i]));
        }
        if (!same) continue;
        std::string value = unquoted(line.substr(start + keyLength + 1));
        if (!buffer || size < 1 || value.size() > static_cast<size_t>(size - 1)) {
            code = kIniTooLong;
        } else {
            std::memcpy(buffer, value.c_str(), value.size() + 1);
            code = kIniFound;
        }
        break;
    }
    std::fclose(file);
    return code;
}

int PelLogInit(const char* iniPath) {
    if (gInitialised.load()) return -1;
    if (!iniPath) iniPath = "";

    std::string chosen = iniPath;
    char logFile[kPathLimit];
    int fileCode;
    if (!std::strchr(iniPath, '/') && !std::strchr(iniPath, '\\')) {
        const platform::KnownFolder folders[] = {platform::KnownFolder::Windows, platform::KnownFolder::Home,
                                                 platform::KnownFolder::DriveTmp};
        for (platform::KnownFolder folder : folders) {
            chosen = platform::knownFolder(folder) + "/" + iniPath;
            fileCode = PelLogReadIni("Log File", logFile, kPathLimit, chosen.c_str());
            if (fileCode == kIniFound) break;
        }
    } else {
        fileCode = PelLogReadIni("Log File", logFile, kPathLimit, chosen.c_str());
    }

    char maxSize[kMaxSizeLimit];
    int sizeCode = PelLogReadIni("Log MaxSize", maxSize, kMaxSizeLimit, chosen.c_str());
    char level[kLevelLimit];
    int levelCode = PelLogReadIni("Log Level", level, kLevelLimit, chosen.c_str());

    int configured = 0;
    {
        std::lock_guard<std::mutex> guard(gStateLock);
        if (fileCode == kIniFound) std::memcpy(gLogFilePath, logFile, sizeof logFile);
        else gLogFilePath[0] = '\0';
        gMaxSize = sizeCode == kIniFound ? decimalValue(maxSize) : 0;
        configured = levelCode == kIniFound ? decimalValue(level) : 0;
        gLevel.store(configured);
        gInitialised.store(levelCode == kIniFound);
        // Taken before the first line, so that line is serialised with everyone else's.
        takeMutex();
    }
    if (levelCode == kIniFound) PelLogWrite(configured, "Log Enable '%s'", chosen.c_str());
    return levelCode;
}

int PelLogWrite(int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = PelLogWriteV(level, format, args);
    va_end(args);
    return result;
}

int PelLogWriteV(int level, const char* format, va_list args) {
    if (level > gLevel.load(std::memory_order_relaxed)) return -2;
    if (!format) format = "";
    size_t length = 0;
    char* message = formatMessage(format, args, &length);
    if (!message) return 0;
    {
        std::lock_guard<std::mutex> guard(gStateLock);
        // The wait's outcome does not matter: a line is better written unserialised than lost.
        bool held = gMutexTaken && platform::mutexWait(&gMutex, -1) == platform::WaitResult::Acquired;
        appendLine(level, message, length);
        if (held) platform::mutexRelease(&gMutex);
    }
    std::free(message);
    return 0;
}

void PelLogReset() {
    std::lock_guard<std::mutex> guard(gStateLock);
    gLevel.store(0);
    gInitialised.store(false);
    takeMutex();
}
