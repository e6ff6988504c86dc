#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Adapter.h"
#include "ComponentBridge.h"
#include "platform/com/variant.h"

namespace {

std::string textOf(const VARIANT& value) {
    char* text = variantAnswerText(&value);
    std::string out = text != nullptr ? text : "<null>";
    std::free(text);
    return out;
}

VARIANT variantArray(const std::vector<VARIANT>& items) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_VARIANT;
    v.parray = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        LONG index = static_cast<LONG>(i);
        SafeArrayPutElement(v.parray, &index, const_cast<VARIANT*>(&items[i]));
    }
    return v;
}

VARIANT number(VARTYPE vt, LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.lVal = value;
    return v;
}

VARIANT string(const char16_t* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}

}  // namespace

TEST(VariantRule, ListsBooleansAndOtherTypes) {
    VARIANT one = number(VT_I4, 1), two = number(VT_INT, 2), minus = number(VT_I4, -7);
    VARIANT a = string(u"A"), b = string(u"B"), wide = string(u"\u738b\u5c0f\u660e");
    VARIANT real;
    VariantInit(&real);
    real.vt = VT_R8;
    real.dblVal = 1.5;

    VARIANT numbers = variantArray({one, two, minus});
    VARIANT strings = variantArray({a, b});
    VARIANT mixed = variantArray({a, real, one});
    VARIANT empty = variantArray({});
    VARIANT nonAscii = variantArray({wide});
    EXPECT_EQ(textOf(numbers), "1;2;-7;");
    EXPECT_EQ(textOf(strings), "A;B;");
    EXPECT_EQ(textOf(mixed), "A;;1;");  // an element of another type leaves only its separator
    EXPECT_EQ(textOf(empty), "");
    EXPECT_EQ(textOf(nonAscii), "\xE7\x8E\x8B\xE5\xB0\x8F\xE6\x98\x8E;");

    VARIANT yes = number(VT_BOOL, 0), no = number(VT_BOOL, 0);
    yes.boolVal = VARIANT_TRUE;
    EXPECT_EQ(textOf(yes), "1");
    EXPECT_EQ(textOf(no), "0");
    EXPECT_EQ(textOf(one), "");  // a plain number is not a list

    for (VARIANT* v : {&numbers, &strings, &mixed, &empty, &nonAscii, &a, &b, &wide}) VariantClear(v);
}

TEST(VariantRule, ArraysOfOtherElementTypesGiveNothing) {
    VARIANT bstrs;
    VariantInit(&bstrs);
    bstrs.vt = VT_ARRAY | VT_BSTR;
    bstrs.parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(textOf(bstrs), "");
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "Error!! value->vt & ~VT_ARRAY = 8\nError!! value->vt & ~VT_ARRAY = 8\n");
    VariantClear(&bstrs);

    // An array of Booleans shares VT_BOOL's bits but holds a pointer, not a truth value.
    VARIANT bools;
    VariantInit(&bools);
    bools.vt = VT_ARRAY | VT_BOOL;
    bools.parray = SafeArrayCreateVector(VT_BOOL, 0, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(textOf(bools), "");
    testing::internal::GetCapturedStdout();
    VariantClear(&bools);
}

namespace {
void noop(const KestrovanJsonMap*) {}
void other(const KestrovanJsonMap*) {}
}  // namespace

TEST(AdapterMap, NameOrderIgnoresCaseAndShorterComesFirst) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"abc", "ABC", 0}, {"abc", "abd", -1}, {"abd", "ABC", 1}, {"ab", "abc", -1},
        {"abc", "ab", 1},  {"", "", 0},        {"_x", "ax", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(CompareKestrovanAdapterName(c.a, c.b), c.expected) << c.a << " " << c.b;
    EXPECT_EQ(CompareKestrovanAdapterName(nullptr, "a"), 100);
    EXPECT_EQ(CompareKestrovanAdapterName("a", nullptr), 100);
}

TEST(AdapterMap, EveryRegisteredNameIsFoundAndDuplicatesAreRefused) {
    auto* map = static_cast<KestrovanAdapterMap*>(std::calloc(1, sizeof(KestrovanAdapterMap)));
    std::vector<std::string> names;
    for (int i = 0; i < 47; ++i) names.push_back("Fn_" + std::to_string(i * 7919 % 1000));
    for (const auto& name : names) AddKestrovanAdapterFunction(map, noop, name.c_str());
    AddKestrovanAdapterFunction(map, other, "FN_0");  // same name, other case
    EXPECT_EQ(map->count, 47u);
    SortKestrovanAdapterMap(map);
    for (const auto& name : names) EXPECT_EQ(BinarySearchKestrovanAdapterMap(map, name.c_str(), 0, 46), noop) << name;
    EXPECT_EQ(BinarySearchKestrovanAdapterMap(map, "fn_0", 0, 46), noop);
    for (const char* missing : {"", "Fn_", "Fn_9999", "zzz", "A"})
        EXPECT_EQ(BinarySearchKestrovanAdapterMap(map, missing, 0, 46), nullptr) << missing;

    // Long names are kept to 127 characters; the full table refuses more entries.
    std::string longName(300, 'x');
    AddKestrovanAdapterFunction(map, noop, longName.c_str());
    EXPECT_EQ(std::string(map->entries[47].name), std::string(127, 'x'));
    map->count = kKestrovanAdapterCapacity;
    AddKestrovanAdapterFunction(map, noop, "one_too_many");
    EXPECT_EQ(map->count, kKestrovanAdapterCapacity);

    map->count = 0;
    EXPECT_EQ(BinarySearchKestrovanAdapterMap(map, "Fn_0", 0, -1), nullptr);
    std::free(map);
}
