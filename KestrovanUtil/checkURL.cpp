#include "checkURL.h"

#include <cctype>
#include <cstring>
#include <exception>
#include <regex>
#include <string>
#include <vector>

#include "Log.h"

namespace {

std::vector<std::string> unlockList;
bool checkResult = false;

const char* const kUrlForm =
    "^https?:\\/\\/(((25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)(\\.(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)){3})|"
    "(([a-zA-Z0-9]|[a-zA-Z0-9][a-zA-Z0-9\\-]{0,61}[a-zA-Z0-9])(\\.([a-zA-Z0-9]|[a-zA-Z0-9][a-zA-Z0-9\\-]{0,61}"
    "[a-zA-Z0-9]))*))\\/?(:\\d+)?$";

std::string trimSpaces(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

// Items past the bounds would let one request run the matcher for minutes.
bool itemWithinBounds(const std::string& item) {
    if (item.size() > kMaxDomainItemLength) return false;
    unsigned wildcards = 0;
    for (char c : item) wildcards += (c == '*');
    return wildcards <= kMaxItemWildcards;
}

}  // namespace

void setUnlockURL(const char* domainList) {
    if (!domainList) {
        REPORT_NULL("inputDomainList");
        return;
    }
    try {
        const std::string list(domainList);
        std::vector<std::string> pieces;
        const std::regex separator(";");
        for (std::sregex_token_iterator it(list.begin(), list.end(), separator, -1), end; it != end; ++it) {
            pieces.push_back(it->str());
        }
        logNormal("Enable url check list", "");

        std::vector<std::string> items;
        for (const std::string& piece : pieces) {
            std::string item = trimSpaces(piece);
            if (!item.empty() && item.front() == '.') item = std::string("*") + item;
            if (!item.empty() && item.back() == '.') item.push_back('*');
            if (!item.empty()) items.push_back(item);
        }
        checkResult = false;

        if (list.size() > kMaxDomainListLength || items.size() > kMaxDomainItems) {
            logWarning("setUnlockURL: ", "Invalid domain list");
            unlockList.clear();
            return;
        }
        for (const std::string& item : items) {
            if (!itemWithinBounds(item)) {
                logWarning("setUnlockURL: ", "Invalid domain list");
                unlockList.clear();
                return;
            }
        }

        const std::regex star("\\*");
        const std::regex dot("\\.");
        std::vector<std::string> patterns;
        for (const std::string& item : items) {
            logNormal("Url check list: ", item.c_str());
            std::string pattern = std::regex_replace(item, star, "\\S*");
            pattern = std::regex_replace(pattern, dot, "\\.");
            patterns.push_back(pattern);
        }
        unlockList = std::move(patterns);
    } catch (const std::exception& e) {
        logWarning("setUnlockURL exception: ", e.what());
    } catch (...) {
        logWarning("setUnlockURL exception: ", "Unknown exception");
    }
}

void unlock(const char* origin) {
    if (!origin) {
        REPORT_NULL("domain");
        return;
    }
    try {
        const std::string input(origin);
        // The URL form itself recurses per character in the matcher: an overlong
        // origin is no URL a browser sends.
        if (input.size() > kMaxOriginLength ||
            !std::regex_match(input, std::regex(kUrlForm, std::regex::ECMAScript | std::regex::icase))) {
            logWarning("[Warning] ", "Input domain is not url");
            return;
        }
        if (checkResult || unlockList.empty()) return;
        logNormal("Unlock original domain input: ", origin);

        std::string alternation;
        for (const std::string& pattern : unlockList) {
            alternation += "(";
            alternation += pattern;
            if (!alternation.empty() && alternation.back() == '/') alternation.pop_back();
            alternation += "\\/?)|";
        }
        alternation.pop_back();

        std::string host = std::regex_replace(input, std::regex("https?:\\/\\/"), "");
        host = std::regex_replace(host, std::regex(":.*"), "");
        if (std::regex_match(host, std::regex(alternation, std::regex::ECMAScript | std::regex::icase))) {
            checkResult = true;
        }
    } catch (const std::exception& e) {
        logWarning("unlock exception: ", e.what());
    } catch (...) {
        logWarning("unlock exception: ", "Unknown exception");
    }
}

bool unlockResult() { return checkResult; }

void clearUnlockURL() {
    unlockList.clear();
}
