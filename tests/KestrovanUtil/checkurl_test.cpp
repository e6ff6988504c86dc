#include <gtest/gtest.h>

#include <string>

#include "KestrovanUtil/checkURL.h"

namespace {

bool allowed(const char* list, const char* origin) {
    setUnlockURL(list);
    unlock(origin);
    bool result = unlockResult();
    clearUnlockURL();
    return result;
}

struct Case {
    const char* list;
    const char* origin;
    bool allowed;
};

TEST(CheckUrl, DomainPatterns) {
    const Case cases[] = {
        {".shop.example", "https://a.shop.example:8443", true},
        {".shop.example", "https://shop.example", false},
        {"shop.example", "https://SHOP.example/", true},
        {"127.0.0.1", "http://127.0.0.1:8080", true},
        {"127.0.0.1", "http://127.0.0.2:8080", false},
        {"shop.", "https://shop.test", true},
        {" a.example ; ; b.example ", "https://b.example", true},
        {" a.example ; ; b.example ", "https://c.example", false},
        {"*", "https://anything.example", true},
        {"", "https://a.example", false},
        {";;", "https://a.example", false},
        {"shop.example/", "https://shop.example", true},
        {"a.example", "https://xa.example", false},
        // Pattern characters keep their meaning: "a.exampl[eE]" is a character class.
        {"a.exampl[e]", "https://a.example", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(allowed(c.list, c.origin), c.allowed) << c.list << " / " << c.origin;
    }
}

TEST(CheckUrl, OriginsThatAreNotUrls) {
    const char* origins[] = {
        "https://shop.example:8443/",  // a slash after the port
        "ftp://shop.example",
        "shop.example",
        "https://-bad.example",
        "https://shop.example/path",
        "null",
        "",
    };
    for (const char* origin : origins) {
        EXPECT_FALSE(allowed("*", origin)) << origin;
    }
}

TEST(CheckUrl, InvalidPatternIsCaughtAndRefuses) {
    EXPECT_FALSE(allowed("a(b", "https://ab.example"));
    EXPECT_FALSE(allowed("[", "https://a.example"));
    unlock(nullptr);
    EXPECT_FALSE(unlockResult());
}

// A page controls both the list and its origin: neither may make one check run long
// or exhaust the stack of the matcher.
TEST(CheckUrl, HostileInputsAreBounded) {
    std::string longHost = "https://" + std::string(5000, 'a') + ".example";
    std::string dotted = "https://";
    for (int i = 0; i < 120; ++i) dotted += "a.";
    dotted += "example";
    std::string manyStars;
    for (int i = 0; i < 40; ++i) manyStars += "*.";
    std::string longList;
    for (int i = 0; i < 2000; ++i) longList += "x.example;";

    EXPECT_FALSE(allowed("*", longHost.c_str()));
    EXPECT_FALSE(allowed(manyStars.c_str(), dotted.c_str()));
    EXPECT_FALSE(allowed(longList.c_str(), "https://x.example"));
    EXPECT_FALSE(allowed(std::string(300, 'a').c_str(), "https://a.example"));
    // The worst list still inside the bounds: three wildcards against many labels.
    std::string worst;
    for (int i = 0; i < 32; ++i) worst += "*.*.*z;";
    EXPECT_FALSE(allowed(worst.c_str(), dotted.c_str()));
}

}  // namespace
