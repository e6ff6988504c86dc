#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/com/com.h"
#include "platform/com/variant.h"
#include "support/sandbox.h"

TEST(ComStrings, LengthPrefixAndTerminator) {
    BSTR text = SysAllocStringLen(u"abc\0def", 7);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 7u);
    EXPECT_EQ(SysStringByteLen(text), 14u);
    uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<char*>(text) - 4, 4);
    EXPECT_EQ(prefix, 14u);
    EXPECT_EQ(text[7], 0);
    EXPECT_EQ(text[4], u'd');
    SysFreeString(text);

    BSTR zeros = SysAllocStringLen(nullptr, 3);
    EXPECT_EQ(SysStringLen(zeros), 3u);
    EXPECT_EQ(zeros[0] | zeros[1] | zeros[2] | zeros[3], 0);
    SysFreeString(zeros);

    BSTR odd = SysAllocStringByteLen("xyz", 3);
    EXPECT_EQ(SysStringByteLen(odd), 3u);
    EXPECT_EQ(SysStringLen(odd), 1u);
    SysFreeString(odd);

    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysAllocStringLen(u"", 0x7FFFFFFF), nullptr);  // absurd length, no overflow
    SysFreeString(nullptr);
}

TEST(ComGuids, ParseAndFormat) {
    GUID g{};
    ASSERT_TRUE(parseGuid("{65aef82a-b714-4d9c-86b1-1870e65d25d5}", &g));
    EXPECT_EQ(g.Data1, 0x65AEF82Au);
    EXPECT_EQ(g.Data2, 0xB714);
    EXPECT_EQ(g.Data4[0], 0x86);
    EXPECT_EQ(g.Data4[7], 0xD5);
    char text[39];
    formatGuid(g, text);
    EXPECT_STREQ(text, "{65AEF82A-B714-4D9C-86B1-1870E65D25D5}");
    for (const char* bad : {"", "65AEF82A-B714-4D9C-86B1-1870E65D25D5", "{65AEF82A-B714-4D9C-86B1-1870E65D25D}",
                            "{65AEF82A-B714-4D9C-86B1-1870E65D25DG}", "{65AEF82AB7144D9C86B11870E65D25D5xxxx}"})
        EXPECT_FALSE(parseGuid(bad, &g)) << bad;
}

TEST(ComVariants, IntegersBecomeStringsAndArraysCopyDeeply) {
    struct Case {
        VARTYPE vt;
        LONG value;
        const char16_t* text;
    } cases[] = {{VT_I4, 42, u"42"}, {VT_I4, -2147483647 - 1, u"-2147483648"}, {VT_INT, 0, u"0"}, {VT_INT, -5, u"-5"}};
    for (const Case& c : cases) {
        VARIANT in, out;
        VariantInit(&in);
        VariantInit(&out);
        in.vt = c.vt;
        in.lVal = c.value;
        ASSERT_EQ(VariantChangeType(&out, &in, 0, VT_BSTR), S_OK);
        EXPECT_EQ(out.vt, VT_BSTR);
        EXPECT_EQ(std::u16string(out.bstrVal), c.text);
        VariantClear(&out);
    }
    VARIANT real, out;
    VariantInit(&real);
    VariantInit(&out);
    real.vt = VT_R8;
    EXPECT_EQ(VariantChangeType(&out, &real, 0, VT_BSTR), DISP_E_TYPEMISMATCH);

    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 5, 2);
    LONG low = 0, high = 0;
    SafeArrayGetLBound(array, 1, &low);
    SafeArrayGetUBound(array, 1, &high);
    EXPECT_EQ(low, 5);
    EXPECT_EQ(high, 6);
    VARIANT item;
    VariantInit(&item);
    item.vt = VT_BSTR;
    item.bstrVal = SysAllocString(u"x");
    LONG index = 5;
    ASSERT_EQ(SafeArrayPutElement(array, &index, &item), S_OK);
    VariantClear(&item);  // the array keeps its own copy
    index = 7;
    EXPECT_EQ(SafeArrayPutElement(array, &index, &item), DISP_E_BADINDEX);
    VARIANT whole, copy;
    VariantInit(&whole);
    VariantInit(&copy);
    whole.vt = VT_ARRAY | VT_VARIANT;
    whole.parray = array;
    ASSERT_EQ(VariantCopy(&copy, &whole), S_OK);
    VariantClear(&whole);
    index = 5;
    VARIANT got;
    ASSERT_EQ(SafeArrayGetElement(copy.parray, &index, &got), S_OK);
    EXPECT_EQ(std::u16string(got.bstrVal), u"x");
    VariantClear(&got);
    VariantClear(&copy);
    EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 2, nullptr), nullptr);
}

TEST(ComRuntime, CreationNeedsAnApartmentAndARegisteredClass) {
    testsupport::Sandbox sandbox;
    const CLSID someClass = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(someClass, nullptr, CLSCTX_ALL, IID_IUnknown, &object), CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoCreateInstance(someClass, nullptr, CLSCTX_ALL, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
    ASSERT_EQ(comRegisterClass(someClass, sandbox.path("missing.so").c_str()), S_OK);
    EXPECT_EQ(testsupport::readFile(sandbox.path("ProgramData/Registry/CLSID/{11111111-2222-3333-4444-555555555555}")),
              sandbox.path("missing.so") + "\n");
    EXPECT_EQ(CoCreateInstance(someClass, nullptr, CLSCTX_ALL, IID_IUnknown, &object), CO_E_DLLNOTFOUND);
    EXPECT_EQ(CoCreateInstance(someClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(comUnregisterClass(someClass), S_OK);
    EXPECT_EQ(CoCreateInstance(someClass, nullptr, CLSCTX_ALL, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(OleRun(nullptr), E_INVALIDARG);
}
