#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Json.h"
#include "PelHCAATL/PelHCAATLInterface.h"
#include "platform/com/com.h"
#include "support/sandbox.h"

namespace {

using CallJsonMapMethod = const char* (*)(const KestrovanJsonMap*, const char*);
using CallMethod = const char* (*)(const char*);

// One loaded copy of the adapter, as a session of the service holds it.
class AdapterCopy {
public:
    AdapterCopy(const testsupport::Sandbox& sandbox, const std::string& name) {
        path_ = sandbox.path(name + ".so");
        std::filesystem::copy_file(ADAPTER_LIBRARY, path_, std::filesystem::copy_options::overwrite_existing);
        handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            ADD_FAILURE() << dlerror();
            return;
        }
        mapCall_ = reinterpret_cast<CallJsonMapMethod>(dlsym(handle_, "callJsonMapMethod"));
        textCall_ = reinterpret_cast<CallMethod>(dlsym(handle_, "callMethod"));
    }
    ~AdapterCopy() {
        if (handle_ == nullptr) return;
        call("Kestrovan_Release", "-3");
        dlclose(handle_);
    }

    // Calls a function with the given request keys; index is KestrovanFunctionIndex or
    // "" for none.
    std::string call(const std::string& name, const std::string& index,
                     const std::vector<std::pair<std::string, std::string>>& keys = {}) {
        KestrovanJsonMap* map = NewKestrovanJsonMap();
        SetKestrovanJsonValue(map, "FunctionName", name.c_str());
        if (!index.empty()) SetKestrovanJsonValue(map, "KestrovanFunctionIndex", index.c_str());
        for (const auto& [key, value] : keys) SetKestrovanJsonValue(map, key.c_str(), value.c_str());
        const char* answer = mapCall_(map, name.c_str());
        std::string copy = answer != nullptr ? answer : "<null>";
        FreeKestrovanJsonMap(map);
        return copy;
    }
    const char* raw(const KestrovanJsonMap* map, const char* name) { return mapCall_(map, name); }
    std::string text(const char* json) {
        const char* answer = textCall_(json);
        return answer != nullptr ? answer : "<null>";
    }

private:
    std::string path_;
    void* handle_ = nullptr;
    CallJsonMapMethod mapCall_ = nullptr;
    CallMethod textCall_ = nullptr;
};

class AdapterTest : public testing::Test {
protected:
    AdapterTest() {
        sandbox_.writeLogIni(sandbox_.path("adapter.log"));
        EXPECT_EQ(comRegisterClass(CLSID_PelHCAATL, SOFTCARD_LIBRARY), S_OK);
    }
    // The log file carries the day in its name, so every "adapter*" file is read.
    std::string log() const {
        std::string all;
        for (const std::string& name : testsupport::listDir(sandbox_.root()))
            if (name.rfind("adapter", 0) == 0) all += testsupport::readFile(sandbox_.path(name));
        return all;
    }
    bool logged(const std::string& text) const { return log().find(text) != std::string::npos; }
    std::string card() const { return sandbox_.path("ProgramData/PelHCAATL"); }
    void arm(const std::string& rules) const { testsupport::writeFile(card() + "/fail", rules); }

    testsupport::Sandbox sandbox_;
};

const char* const kReader = "Soft Card Reader 0";

}  // namespace

TEST(AdapterLibrary, ExportsExactlyTheTwoEntryPoints) {
    std::string command = std::string("nm -D --defined-only '") + ADAPTER_LIBRARY + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    char line[512];
    while (fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string address, kind, name;
        if (fields >> address >> kind >> name) names.insert(name);
    }
    ASSERT_EQ(pclose(pipe), 0);
    EXPECT_EQ(names, (std::set<std::string>{"callJsonMapMethod", "callMethod"}));
}

TEST_F(AdapterTest, ReservedFunctionsByIndexAndByName) {
    AdapterCopy adapter(sandbox_, "a");
    struct Case {
        const char* name;
        const char* index;
        const char* answer;
    } cases[] = {
        {"Kestrovan_GetVersion", "-1", "1,1,19,926"}, {"Kestrovan_Unlock", "-2", "0"},
        {"Kestrovan_GetVersion", "", "1,1,19,926"},   {"kestrovan_unlock", "", "0"},
        {"anything", "-1", "1,1,19,926"},
    };
    for (const Case& c : cases) EXPECT_EQ(adapter.call(c.name, c.index), c.answer) << c.name << " " << c.index;
    EXPECT_TRUE(logged("[PelHCAATLAdapter][Normal] \tComponent api: 44"));
    EXPECT_TRUE(logged("[PelHCAATLAdapter][Normal] \tSystem api: 3"));
}

TEST_F(AdapterTest, IndexModeAndNameSearch) {
    AdapterCopy adapter(sandbox_, "a");
    adapter.call("Kestrovan_Unlock", "-2");
    struct Case {
        const char* name;
        const char* index;
        const char* ran;       // the function that must have run, "" for none
        bool searched;         // whether the name search was needed
        const char* warning;   // a warning the dispatch must log, "" for none
    } cases[] = {
        {"HCA_SignByReader", "19", "ComponentAPI_HCA_SignByReader", false, ""},
        {"HCA_Encrypt", "19", "ComponentAPI_HCA_Encrypt", true, "KestrovanFunctionIndex is not match with adapter"},
        {"HCA_Encrypt", "44", "ComponentAPI_HCA_Encrypt", true, "FunctionIndex: Out of range"},
        {"HCA_GetCardSN", "-4", "ComponentAPI_HCA_GetCardSN", true, "FunctionIndex: Out of range"},
        {"hca_signbyreader", "", "ComponentAPI_HCA_SignByReader", true, "FunctionName in adapter: HCA_GetErrorCode"},
        {"HCA_GetErrorCode", "", "ComponentAPI_HCA_GetErrorCode", false, ""},
        {"HCA_NoSuchThing", "5", "", true, "Function name does not match: HCA_NoSuchThing"},
    };
    for (const Case& c : cases) {
        size_t before = log().size();
        std::string answer = adapter.call(c.name, c.index);
        std::string lines = log().substr(before);
        SCOPED_TRACE(std::string(c.name) + " / " + c.index);
        if (c.ran[0] != 0) {
            EXPECT_NE(lines.find(std::string("Into adapter function: ") + c.ran), std::string::npos);
        } else {
            EXPECT_EQ(answer, "61005");
            EXPECT_EQ(lines.find("Into adapter function: "), std::string::npos);
        }
        EXPECT_EQ(lines.find("Function search name mode: ") != std::string::npos, c.searched);
        if (c.warning[0] != 0) {
            EXPECT_NE(lines.find(c.warning), std::string::npos);
        }
    }
}

TEST_F(AdapterTest, KeyCheckRefusesMissingParameters) {
    AdapterCopy adapter(sandbox_, "a");
    std::vector<std::pair<std::string, std::string>> withoutPin = {
        {"readername", kReader}, {"bData", "hello"}, {"iFlags", "0"}, {"iHashFlag", "2"}};
    auto checked = withoutPin;
    checked.emplace_back("AdapterJsonKeyCheck", "true");
    EXPECT_EQ(adapter.call("HCA_SignByReader", "19", checked), "61016");
    EXPECT_TRUE(logged("[Warning] Json map key not found: pincode"));
    EXPECT_FALSE(logged("Ready into component func: HCA_SignByReader"));
    EXPECT_EQ(adapter.call("HCA_GetRetryCounter", "24"), "3");  // the card was not asked

    // Without the check the component gets an empty PIN, which the card refuses.
    EXPECT_EQ(adapter.call("HCA_SignByReader", "19", withoutPin), "");
    EXPECT_EQ(adapter.call("HCA_GetErrorCode", "0"), "9003");
    EXPECT_EQ(adapter.call("HCA_GetRetryCounter", "24"), "2");

    // "false" and a missing key both give 0 (and a missing one trips the check).
    EXPECT_EQ(adapter.call("SetCodePage", "31", {{"codepage", "true"}}), "0");
    EXPECT_EQ(adapter.call("HCA_GetReaderName", "16", {{"AdapterJsonKeyCheck", "TRUE"}}), "61016");
    EXPECT_EQ(adapter.call("HCA_GetReaderName", "16", {{"flag", "false"}}), "1");
}

TEST_F(AdapterTest, FailingMethodAnswers61011WithTheSafeLine) {
    AdapterCopy adapter(sandbox_, "a");
    adapter.call("Kestrovan_Unlock", "-2");  // installs the card folder
    arm("HCA_SignByReader 0x80004005\nHCA_ListReaders 0x8007000E\n");
    EXPECT_EQ(adapter.call("HCA_SignByReader", "19",
                           {{"readername", kReader}, {"pincode", "123456"}, {"bData", "x"}}),
              "61011");
    EXPECT_EQ(adapter.call("HCA_ListReaders", "14"), "61011");
    EXPECT_TRUE(logged("[PelHCAATLAdapter][Warning] Catch component exception"));
    EXPECT_TRUE(logged("[PelHCAATLAdapter][Error] [Safe Line] Safe in ComponentAPI_HCA_SignByReader at "));
    EXPECT_TRUE(logged(" lines in AdapterProject"));
    EXPECT_FALSE(logged("Finish component func: HCA_SignByReader"));
    // Other methods are unaffected.
    EXPECT_EQ(adapter.call("HCA_GetCardType", "3", {{"readername", kReader}}), "2");
}

TEST_F(AdapterTest, ComponentThatCannotStartIsRetriedOnEveryCall) {
    std::filesystem::create_directories(card());
    arm("create 0x80040154\n");
    AdapterCopy adapter(sandbox_, "a");
    EXPECT_EQ(adapter.call("Kestrovan_Unlock", "-2"), "61905");
    EXPECT_EQ(adapter.call("Kestrovan_GetVersion", "-1"), "61905");
    EXPECT_EQ(adapter.call("HCA_GetCardSN", "2"), "61905");
    EXPECT_TRUE(logged("[PelHCAATLAdapter][Error] Component init error!"));

    std::filesystem::remove(card() + "/fail");
    std::filesystem::remove_all(card());  // let the card install its default readers
    EXPECT_EQ(adapter.call("Kestrovan_Unlock", "-2"), "0");
    EXPECT_EQ(adapter.call("HCA_GetCardSN", "2"), "0000123456789012");
}

TEST_F(AdapterTest, UnregisteredComponentAnswers61905) {
    ASSERT_EQ(comUnregisterClass(CLSID_PelHCAATL), S_OK);
    AdapterCopy adapter(sandbox_, "a");
    EXPECT_EQ(adapter.call("Kestrovan_Unlock", "-2"), "61905");
    EXPECT_EQ(comRegisterClass(CLSID_PelHCAATL, SOFTCARD_LIBRARY), S_OK);
    EXPECT_EQ(adapter.call("Kestrovan_Unlock", "-2"), "0");
}

TEST_F(AdapterTest, ResultForms) {
    AdapterCopy adapter(sandbox_, "a");
    EXPECT_EQ(adapter.call("HCA_ListReaders", "14"), std::string(kReader) + ";");
    EXPECT_EQ(adapter.call("HCA_GetReaderNames", "21", {{"iFlags", "1"}}), std::string(kReader) + ";");
    EXPECT_EQ(adapter.call("HCA_GetCardType", "3", {{"readername", "no such reader"}}), "-1");
    EXPECT_EQ(adapter.call("HCA_GetErrorCode", "0"), "9001");
    EXPECT_EQ(adapter.call("HCA_GetRetryCounter", "24"), "3");
    EXPECT_EQ(adapter.call("SetCodePage", "31", {{"codepage", "950"}}), "0");
    EXPECT_EQ(adapter.call("HCA_GetRecord", "13", {{"readername", kReader}, {"strLabel", "name"}}),
              "\xE7\x8E\x8B\xE5\xB0\x8F\xE6\x98\x8E");
    std::string hc = adapter.call("HCA_GetHCBasicDataByReader", "20", {{"readername", kReader}});
    EXPECT_EQ(hc, "0000123456789012;\xE7\x8E\x8B\xE5\xB0\x8F\xE6\x98\x8E;A123456789;19800101;M;20200101;");
    EXPECT_EQ(adapter.call("HCA_GetRecord", "13", {{"readername", kReader}, {"strLabel", "missing"}}), "");
    // A PEM title travels as an ANSI variant.
    std::string cert = adapter.call("HCA_GetCertificateByReader", "18", {{"readername", kReader}});
    std::string pem = adapter.call("HCA_Encode", "1", {{"strData", cert}, {"strPemTitle", "CERTIFICATE"}});
    EXPECT_EQ(pem.rfind("-----BEGIN CERTIFICATE-----", 0), 0u);
    EXPECT_EQ(adapter.call("HCA_Decode", "12", {{"strEncoded", pem}, {"strPemTitle", "CERTIFICATE"}}), cert);
}

TEST_F(AdapterTest, EveryComponentFunctionReachesTheCard) {
    const char* names[kPelHCAATLMethodCount] = {
        "HCA_GetErrorCode", "HCA_Encode", "HCA_GetCardSN", "HCA_GetCardType", "HCA_GetCardInfo",
        "HCA_GetCertSerialNumber", "HCA_GetCertSubject", "HCA_GetCertIssuer", "HCA_GetCertNotBefore",
        "HCA_GetCertNotAfter", "HCA_GetCertDigest", "HCA_Verify", "HCA_Decode", "HCA_GetRecord", "HCA_ListReaders",
        "HCA_GetHCBasicData", "HCA_GetReaderName", "HCA_HPCBasicDataByReader", "HCA_GetCertificateByReader",
        "HCA_SignByReader", "HCA_GetHCBasicDataByReader", "HCA_GetReaderNames", "HCA_GetHOPBasicDataByReader",
        "HCA_PureSignByReader", "HCA_GetRetryCounter", "HCA_GetReaderNamesString",
        "HCA_GetHOPBasicDataStringByReader", "HCA_GetHCBasicDataStringByReader",
        "HCA_GetHPCBasicDataStringByReader", "HCA_GetCardInfoByReader", "HCA_GeneratePKCS7", "SetCodePage",
        "HCA_Encrypt", "HCA_DecryptByReader", "HCA_SignInitByReader", "HCA_SignUpdate", "HCA_SignFinal",
        "HCA_XMLSignTemplateByReader", "HCA_XMLSignTemplateUpdate", "HCA_XMLSignTemplate2FileByReader",
        "HCA_XMLSignTemplate2FileUpdate", "HCA_PureSignUpdate", "HCA_GetInitCertificate", "DetectReplug",
    };
    AdapterCopy adapter(sandbox_, "a");
    for (int i = 0; i < kPelHCAATLMethodCount; ++i) {
        std::string answer = adapter.call(names[i], std::to_string(i));
        EXPECT_NE(answer, "61011") << names[i];
        EXPECT_TRUE(logged(std::string("Finish component func: ") + names[i])) << names[i];
    }
    EXPECT_FALSE(logged("Function search name mode: "));
    EXPECT_FALSE(logged("Catch component exception"));
}

TEST_F(AdapterTest, ReleaseThenCallStartsTheComponentAgain) {
    AdapterCopy adapter(sandbox_, "a");
    EXPECT_EQ(adapter.call("HCA_SignInitByReader", "34", {{"readername", kReader}, {"pincode", "123456"}}), "0");
    EXPECT_NE(adapter.call("HCA_GetInitCertificate", "42"), "");
    EXPECT_EQ(adapter.call("Kestrovan_Release", "-3"), "");
    EXPECT_TRUE(logged("[PelHCAATLAdapter][Normal] KestrovanRelease"));
    // A fresh component: the sign session of the old one is gone.
    EXPECT_EQ(adapter.call("HCA_GetInitCertificate", "42"), "");
    EXPECT_EQ(adapter.call("HCA_GetErrorCode", "0"), "9007");
    EXPECT_EQ(adapter.call("Kestrovan_Release", ""), "");  // by name as well
    EXPECT_EQ(adapter.call("Kestrovan_GetVersion", "-1"), "1,1,19,926");
}

TEST_F(AdapterTest, TwoCopiesKeepSeparateState) {
    AdapterCopy first(sandbox_, "first"), second(sandbox_, "second");
    EXPECT_EQ(first.call("HCA_SignInitByReader", "34", {{"readername", kReader}, {"pincode", "123456"}}), "0");
    EXPECT_EQ(second.call("HCA_GetInitCertificate", "42"), "");
    std::string answer = first.call("HCA_GetInitCertificate", "42");
    EXPECT_FALSE(answer.empty());
    EXPECT_EQ(second.call("Kestrovan_Release", "-3"), "");
    EXPECT_EQ(first.call("HCA_GetInitCertificate", "42"), answer);
}

TEST_F(AdapterTest, TextEntryPointAndMissingArguments) {
    AdapterCopy adapter(sandbox_, "a");
    EXPECT_EQ(adapter.text(R"({"FunctionName":"Kestrovan_GetVersion","KestrovanFunctionIndex":"-1"})"), "1,1,19,926");
    EXPECT_EQ(adapter.text(R"({"FunctionName":"HCA_GetCardSN","KestrovanFunctionIndex":"2"})"), "0000123456789012");
    EXPECT_EQ(adapter.text(R"({"SessionId":"x"})"), "61005");
    EXPECT_TRUE(logged("[PelHCAATLAdapter][Warning] Function name is null"));
    EXPECT_EQ(adapter.text(nullptr), "");
    EXPECT_EQ(adapter.text("[]"), "");
    KestrovanJsonMap* map = NewKestrovanJsonMap();
    const char* answer = adapter.raw(nullptr, "Kestrovan_Unlock");
    ASSERT_NE(answer, nullptr);
    EXPECT_STREQ(answer, "");
    answer = adapter.raw(map, nullptr);
    ASSERT_NE(answer, nullptr);
    EXPECT_STREQ(answer, "");
    FreeKestrovanJsonMap(map);
    EXPECT_TRUE(logged("Parameter JsonMap is null at "));
}
