// A small adapter library for the session tests. One source, built in variants:
// TEST_ADAPTER_MAP / TEST_ADAPTER_TEXT choose the exports, TEST_UNLOCK_ANSWER and
// TEST_VERSION_ANSWER the answers to the reserved calls. Like the real adapter it
// owns its answer and frees it on the next call, so a caller that keeps the pointer
// is caught by the sanitizer build.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <strings.h>

#include "KestrovanUtil/Json.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

char* answer = nullptr;
int counter = 0;
std::string lastUnlock;

bool sameKey(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
    }
    return *a == *b;
}

// Reads values either from the service's map or from a flat JSON text.
struct Source {
    const KestrovanJsonMap* map;
    const char* text;

    bool get(const char* key, std::string* out) const {
        if (map) {
            for (int32_t n = 0; n < map->count; ++n) {
                const KestrovanJsonEntry& e = map->entries[n];
                if (e.key && e.value && sameKey(e.key, key)) {
                    *out = e.value;
                    return true;
                }
            }
            return false;
        }
        std::string quoted = std::string("\"") + key + "\"";
        for (const char* p = text; p && *p; ++p) {
            if (*p != '"' || strncasecmp(p, quoted.c_str(), quoted.size()) != 0) continue;
            const char* c = p + quoted.size();
            while (*c == ' ' || *c == ':') ++c;
            if (*c != '"') return false;
            out->clear();
            for (++c; *c && *c != '"'; ++c) {
                if (*c == '\\' && c[1]) ++c;
                *out += *c;
            }
            return true;
        }
        return false;
    }
    std::string value(const char* key) const {
        std::string v;
        get(key, &v);
        return v;
    }
};

void noteRelease() {
    if (const char* log = std::getenv("KESTROVAN_TEST_ADAPTER_LOG")) {
        if (FILE* f = std::fopen(log, "a")) {
            std::fputs("release\n", f);
            std::fclose(f);
        }
    }
}

[[maybe_unused]] std::string run(const Source& source, const std::string& name) {
    if (sameKey(name.c_str(), "Kestrovan_Unlock")) {
        lastUnlock = "functionname=" + source.value("functionname") + ";url=" + source.value("url") +
                     ";AdapterJsonKeyCheck=" + source.value("AdapterJsonKeyCheck") +
                     ";KestrovanFunctionIndex=" + source.value("KestrovanFunctionIndex");
        return TEST_UNLOCK_ANSWER;
    }
    if (sameKey(name.c_str(), "Kestrovan_GetVersion")) return TEST_VERSION_ANSWER;
    if (sameKey(name.c_str(), "Kestrovan_Release")) {
        noteRelease();
        return "";
    }
    if (name == "LastUnlock") return lastUnlock;
    if (name == "Counter") {
        // No std::to_string: it would leave a unique symbol that keeps the library from unloading.
        char number[16];
        std::snprintf(number, sizeof number, "%d", ++counter);
        return number;
    }
    if (name == "MultiLine") return "line1\nline2";
    if (name == "Nothing") return "";
    return "called:" + name + ":" + source.value("strData");
}

[[maybe_unused]] const char* keep(const std::string& text) {
    answer = strdup(text.c_str());
    return answer;
}

// The last answer would outlive the library otherwise; the service unloads right after
// the release notice.
__attribute__((destructor)) void dropAnswer() {
    std::free(answer);
    answer = nullptr;
}

}  // namespace

#ifdef TEST_ADAPTER_MAP
EXPORT const char* callJsonMapMethod(KestrovanJsonMap* map, const char* functionName) {
    std::free(answer);
    answer = nullptr;
    if (!map || !functionName) return keep("");
    return keep(run(Source{map, nullptr}, functionName));
}
#endif

#ifdef TEST_ADAPTER_TEXT
EXPORT const char* callMethod(const char* text) {
    std::free(answer);
    answer = nullptr;
    if (!text) return keep("");
    Source source{nullptr, text};
    std::string name;
    if (!source.get("FunctionName", &name)) return keep("61005");
    std::string result = run(source, name);
    // Marks answers that came through the text entry point; reserved answers stay exact.
    if (strncmp(name.c_str(), "Kestrovan_", 10) != 0) result = "text:" + result;
    return keep(result);
}
#endif

// Present in every variant, so that a library without the two entry points still loads.
EXPORT int testAdapterPresent() { return 1; }
