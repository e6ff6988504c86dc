// The session layer in-process: requests are maps built here, the adapters are the
// small test libraries, and every test runs in a sandbox of its own.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "KestrovanSession/Session.h"
#include "KestrovanUtil/Json.h"
#include "KestrovanUtil/Log.h"
#include "support/sandbox.h"

namespace {

using testsupport::listDir;
using testsupport::readFile;
using testsupport::writeFile;
using Pairs = std::vector<std::pair<std::string, std::string>>;

constexpr char kTableId[] = "64A6A7C27F9D4A949161809EFD915BC8";

// Eight of 0-9 and A-Z, then "_SID".
bool isNewSessionId(const std::string& id) {
    if (id.size() != 12 || id.compare(8, 4, "_SID") != 0) return false;
    for (size_t n = 0; n < 8; ++n) {
        if (!((id[n] >= '0' && id[n] <= '9') || (id[n] >= 'A' && id[n] <= 'Z'))) return false;
    }
    return true;
}

std::string jsonText(const Pairs& pairs) {
    std::string text = "{";
    for (const auto& [key, value] : pairs) {
        if (text.size() > 1) text += ",";
        text += "\"" + key + "\":\"";
        for (char c : value) {
            if (c == '"' || c == '\\') text += '\\';
            text += c;
        }
        text += "\"";
    }
    return text + "}";
}

// The answer of one request: its keys and values, and whether a map came back at all.
struct Reply {
    bool present = false;
    std::map<std::string, std::string> values;
    std::optional<std::string> get(const std::string& key) const {
        auto it = values.find(key);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    std::string result() const { return get("result").value_or("<none>"); }
};

class Session : public ::testing::Test {
protected:
    void SetUp() override {
        unsetLog();  // each test logs into its own sandbox
        sandbox.writeLogIni(sandbox.path("log/kestrovan.log"));
        mkdir(sandbox.path("log").c_str(), 0755);
        copyFolder = sandbox.path("ProgramData/TarvikKestrovan");
        programFolder = sandbox.path("Program");
        installAdapter(TEST_ADAPTER_HEALTHY);
        setenv("KESTROVAN_TEST_ADAPTER_LOG", sandbox.path("adapter.log").c_str(), 1);
        startService();
    }
    void TearDown() override {
        releaseAllSessions();
        unsetLog();
        setValueStoreHooks(nullptr);
        setTopMostHooks(nullptr);
        unsetenv("KESTROVAN_TEST_ADAPTER_LOG");
    }

    void startService() {
        setSessionFolders(copyFolder.c_str(), programFolder.c_str());
        initSessionTable();
        markAllSessionsFree();
    }

    // Puts a library where the service looks for the installed adapter.
    void installAdapter(const char* library, const std::string& libDir = "Tarvik",
                        const std::string& comName = "PelHCAATLAdapter") {
        std::string folder = programFolder + "/" + libDir;
        std::string command = "mkdir -p '" + folder + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
        writeFile(folder + "/" + comName + ".so", readFile(library));
    }

    Reply send(const Pairs& pairs, const char* origin = "https://page.example") {
        Reply reply;
        KestrovanJsonMap* request = ParseKestrovanJsonMap(jsonText(pairs).c_str());
        EXPECT_NE(request, nullptr);
        KestrovanJsonMap* response = dispatchSessionRequest(request, origin, 4242);
        FreeKestrovanJsonMap(request);
        if (!response) return reply;
        reply.present = true;
        for (int32_t n = 0; n < response->count; ++n) {
            const KestrovanJsonEntry& e = response->entries[n];
            if (e.value) reply.values[e.key] = e.value;
        }
        FreeKestrovanJsonMap(response);
        return reply;
    }

    // A request that may open a session: table path and the service's own version.
    static Pairs opening(const std::string& function, Pairs extra = {}) {
        Pairs pairs = {{"FunctionName", function}, {"PathID", kTableId}, {"minServerVersion", "1.0.23.0510"}};
        pairs.insert(pairs.end(), extra.begin(), extra.end());
        return pairs;
    }
    Reply call(const std::string& sessionId, const std::string& function, Pairs extra = {}) {
        Pairs pairs = opening(function, std::move(extra));
        pairs.push_back({"SessionId", sessionId});
        return send(pairs);
    }
    std::string openEcho(Pairs extra = {}) {
        Reply reply = send(opening("KestrovanEcho", std::move(extra)));
        EXPECT_EQ(reply.result(), "0");
        return reply.get("SessionID").value_or("");
    }

    std::string log() const {
        std::string text;
        for (const std::string& name : listDir(sandbox.path("log"))) text += readFile(sandbox.path("log/" + name));
        return text;
    }
    // Names of the files in every per-session folder.
    std::vector<std::string> sessionCopies() const {
        std::vector<std::string> files;
        for (int n = 0; n < kSessionCount; ++n) {
            for (const std::string& name : listDir(copyFolder + "/Tempfile/Session_" + std::to_string(n)))
                files.push_back("Session_" + std::to_string(n) + "/" + name);
        }
        return files;
    }

    testsupport::Sandbox sandbox;
    std::string copyFolder;
    std::string programFolder;
};

TEST_F(Session, NewIdIsGeneratedAndBindsLaterRequests) {
    Reply echo = send(opening("KestrovanEcho"));
    std::string id = echo.get("SessionID").value_or("");
    EXPECT_TRUE(isNewSessionId(id)) << id;
    EXPECT_EQ(echo.result(), "0");
    EXPECT_EQ(echo.get("ServerVersion"), "1.0.23.0510");
    EXPECT_EQ(echo.get("LibVersion"), "1,1,19,926");
    EXPECT_FALSE(echo.get("InstallerVersion"));
    EXPECT_EQ(sessionCopies(), std::vector<std::string>{"Session_0/PelHCAATLAdapter.so"});

    // The adapter's counter lives in the session's own library instance.
    Reply first = call(id, "Counter");
    EXPECT_EQ(first.result(), "1");
    EXPECT_FALSE(first.get("SessionID"));
    EXPECT_EQ(call(id, "Counter").result(), "2");
    // An id that contains the live id binds to it too.
    EXPECT_EQ(call("prefix-" + id + "-suffix", "Counter").result(), "3");
    EXPECT_EQ(sessionCopies().size(), 1u);
}

TEST_F(Session, UnknownIdOpensSessionUnderThatId) {
    Reply first = call("page-chosen", "Counter");
    EXPECT_EQ(first.result(), "1");
    EXPECT_FALSE(first.get("SessionID"));
    EXPECT_EQ(call("page-chosen", "Counter").result(), "2");
    // A second session is a second instance of the library.
    EXPECT_EQ(call("other", "Counter").result(), "1");
    EXPECT_EQ(sessionCopies().size(), 2u);
    EXPECT_NE(log().find("Session id: page-chosen"), std::string::npos);
}

TEST_F(Session, ThirtyThirdSessionEvictsTheFirstCreated) {
    for (int n = 0; n < kSessionCount; ++n) EXPECT_EQ(call("S" + std::to_string(n) + "_", "Counter").result(), "1");
    EXPECT_EQ(call("S1_", "Counter").result(), "2");
    // S0_ was created first; using it now does not save it.
    EXPECT_EQ(call("S0_", "Counter").result(), "2");
    EXPECT_EQ(findOldestSession(), 0);

    EXPECT_EQ(call("S32_", "Counter").result(), "1");
    std::string text = log();
    EXPECT_NE(text.find("Kestrovan slot is full, release the oldest one"), std::string::npos);
    EXPECT_NE(text.find("Release Session id: S0_"), std::string::npos);
    EXPECT_EQ(text.find("Release Session id: S1_"), std::string::npos);
    EXPECT_EQ(sessionCopies().size(), 32u);
    EXPECT_EQ(listDir(copyFolder + "/Tempfile/Session_0"), std::vector<std::string>{"PelHCAATLAdapter.so"});
    EXPECT_EQ(findOldestSession(), 1);

    EXPECT_EQ(call("S1_", "Counter").result(), "3");  // still the same instance
    EXPECT_EQ(call("S0_", "Counter").result(), "1");  // a new session, which evicts S1_
    EXPECT_EQ(findOldestSession(), 2);
}

TEST_F(Session, ReleaseCloseAndForceReleaseFollowBrowserMode) {
    struct Case {
        const char* mode;  // nullptr: KestrovanMode not sent
        const char* function;
        bool kept;
    };
    const Case cases[] = {
        {nullptr, "KestrovanRelease", false}, {"0", "KestrovanClose", false}, {"2", "KestrovanRelease", false},
        {"1", "KestrovanRelease", true},      {"true", "kestrovanclose", true}, {"TRUE", "KestrovanForceRelease", false},
        {"false", "KestrovanForceRelease", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mode ? c.mode : "<none>") + " " + c.function);
        Pairs extra;
        if (c.mode) extra.push_back({"KestrovanMode", c.mode});
        std::string id = openEcho(extra);
        ASSERT_EQ(call(id, "Counter").result(), "1");
        writeFile(sandbox.path("adapter.log"), "");

        Reply reply = call(id, c.function);
        EXPECT_TRUE(reply.present);
        EXPECT_FALSE(reply.get("result"));
        EXPECT_FALSE(reply.get("SessionID"));
        if (c.kept) {
            EXPECT_EQ(readFile(sandbox.path("adapter.log")), "");
            EXPECT_EQ(sessionCopies().size(), 1u);
            EXPECT_EQ(call(id, "Counter").result(), "2");
            // Echo on a live session answers from the slot without touching browser mode.
            Reply echo = call(id, "Echo");
            EXPECT_EQ(echo.result(), "0");
            EXPECT_EQ(echo.get("LibVersion"), "1,1,19,926");
            EXPECT_TRUE(call(id, "KestrovanRelease").present);
            EXPECT_EQ(sessionCopies().size(), 1u);
            call(id, "KestrovanForceRelease");
        } else {
            EXPECT_EQ(readFile(sandbox.path("adapter.log")), "release\n");  // the notice reached the adapter
        }
        EXPECT_TRUE(sessionCopies().empty());
        EXPECT_EQ(findOldestSession(), -1);
    }
    std::string text = log();
    EXPECT_NE(text.find("[Browser mode] Skip release process"), std::string::npos);
    EXPECT_NE(text.find("Force release: Active"), std::string::npos);
}

TEST_F(Session, ReleaseWithoutSessionCreatesNothing) {
    for (const char* function : {"KestrovanRelease", "KestrovanClose", "KestrovanForceRelease"}) {
        Reply reply = send(opening(function));
        EXPECT_TRUE(isNewSessionId(reply.get("SessionID").value_or("")));
        EXPECT_FALSE(reply.get("result"));
        EXPECT_EQ(findOldestSession(), -1);
        // An unknown id is no session either, and no id is invented for it.
        Reply named = call("unknown", function);
        EXPECT_TRUE(named.present);
        EXPECT_TRUE(named.values.empty());
    }
    EXPECT_TRUE(sessionCopies().empty());
    EXPECT_NE(log().find("No specific adapter to release"), std::string::npos);
}

TEST_F(Session, PathTableDecidesWhichLibraryLoads) {
    // A library that a page might try to reach outside the table.
    installAdapter(TEST_ADAPTER_HEALTHY, "Other", "Other");
    struct Case {
        const char* pathId;
        const char* libDir;
        const char* comName;
        const char* result;
    };
    const Case cases[] = {
        {"64a6a7c27f9d4a949161809efd915bc8", "Other", "Other", "0"},
        {"", "Tarvik", "PelHCAA\\TLAd:apter", "0"},
        {"", "tarvik", "pelhcaatladapter", "0"},
        {"", "Tarvik", "..", "61009"},
        {"", "Other", "Other", "61009"},
        {"", "", "", "61009"},
        {"not-in-table", "Other", "Other", "61009"},
        {"not-in-table", "Tarvik", "PelHCAATLAdapter", "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pathId) + " " + c.libDir + " " + c.comName);
        Reply reply = send({{"FunctionName", "KestrovanEcho"},
                            {"PathID", c.pathId},
                            {"LibDir", c.libDir},
                            {"ComName", c.comName},
                            {"minServerVersion", "1.0.23.0510"}});
        EXPECT_EQ(reply.result(), c.result);
        if (std::strcmp(c.result, "0") == 0) {
            EXPECT_EQ(sessionCopies(), std::vector<std::string>{"Session_0/PelHCAATLAdapter.so"});
            EXPECT_EQ(reply.get("LibVersion"), "1,1,19,926");
            call(reply.get("SessionID").value_or("?"), "KestrovanForceRelease");
        } else {
            EXPECT_EQ(reply.values.size(), 1u);  // result alone, not even the new SessionID
        }
        EXPECT_EQ(findOldestSession(), -1);
        EXPECT_TRUE(sessionCopies().empty());
    }
    std::string text = log();
    EXPECT_NE(text.find("Out of path table connection: Reject"), std::string::npos);
    EXPECT_NE(text.find("Adapter name: PelHCAATLAdapter"), std::string::npos);
}

TEST_F(Session, PageMinimumVersions) {
    struct Case {
        const char* minServer;  // nullptr: not sent
        const char* minLib;
        const char* result;
    };
    const Case cases[] = {
        {"1.0.23.0510", nullptr, "0"},     {"1.0.22.9999", "1.1.19.926", "0"}, {"1.0.23.0511", nullptr, "61203"},
        {"2", nullptr, "61203"},           {nullptr, nullptr, "61203"},        {"1.0.23.0510", "1,1,19,927", "61204"},
        {"1.0.23.0510", "1,1,20", "61204"}, {"1.0.23.0510", "", "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.minServer ? c.minServer : "<none>") + " / " + (c.minLib ? c.minLib : "<none>"));
        Pairs pairs = {{"FunctionName", "KestrovanEcho"}, {"PathID", kTableId}};
        if (c.minServer) pairs.push_back({"minServerVersion", c.minServer});
        if (c.minLib) pairs.push_back({"minLibVersion", c.minLib});
        Reply reply = send(pairs);
        EXPECT_EQ(reply.result(), c.result);
        if (std::strcmp(c.result, "0") != 0) EXPECT_EQ(reply.values.size(), 1u);
        else call(reply.get("SessionID").value_or("?"), "KestrovanForceRelease");
        EXPECT_EQ(findOldestSession(), -1);
        EXPECT_TRUE(sessionCopies().empty());
    }
}

TEST_F(Session, InstallerVersionComesFromItsFile) {
    writeFile(copyFolder + "/SetupToolVersion.txt", "2.3.4\n");
    Reply reply = send(opening("KestrovanEcho", {{"InstallerName", "SetupTool.exe"}}));
    EXPECT_EQ(reply.result(), "0");
    EXPECT_EQ(reply.get("InstallerVersion"), "2.3.4\n");
    std::string id = reply.get("SessionID").value_or("?");
    EXPECT_EQ(call(id, "KestrovanEcho").get("InstallerVersion"), "2.3.4\n");

    // Separators are taken out of the name, so it cannot leave the copy folder.
    writeFile(sandbox.path("ProgramData/EscapeVersion.txt"), "outside");
    Reply escaped = send(opening("KestrovanEcho", {{"InstallerName", "../Escape"}}));
    EXPECT_EQ(escaped.get("InstallerVersion"), "");
    EXPECT_NE(log().find("InstallerVersionFile: " + copyFolder + "/..EscapeVersion.txt"), std::string::npos);
}

TEST_F(Session, AdaptersThatCannotServeLeaveNoSession) {
    struct Case {
        const char* library;  // nullptr: no installed file at all
        const char* result;
    };
    const Case cases[] = {
        {nullptr, "61902"},
        {TEST_ADAPTER_NO_ENTRY, "61906"},
        {TEST_ADAPTER_REFUSE_UNLOCK, "61905"},
        {TEST_ADAPTER_ERROR_VERSION, "61011"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.library ? c.library : "<missing>");
        std::string installed = programFolder + "/Tarvik/PelHCAATLAdapter.so";
        std::remove(installed.c_str());
        if (c.library) installAdapter(c.library);
        Reply reply = send(opening("KestrovanEcho"));
        EXPECT_EQ(reply.result(), c.result);
        EXPECT_EQ(reply.values.size(), 1u);
        EXPECT_EQ(findOldestSession(), -1);
        EXPECT_TRUE(sessionCopies().empty());
    }
    std::string text = log();
    EXPECT_NE(text.find("Origin adpater: Not Exist"), std::string::npos);
    EXPECT_NE(text.find("All callMethod load fail"), std::string::npos);
    EXPECT_NE(text.find("Unlock result: 61905"), std::string::npos);
    EXPECT_NE(text.find("Parse component version error: 61011"), std::string::npos);
}

TEST_F(Session, EmptyVersionAnswerEndsWithTheReplySoFar) {
    installAdapter(TEST_ADAPTER_EMPTY_VERSION);
    Reply reply = send(opening("KestrovanEcho"));
    EXPECT_TRUE(isNewSessionId(reply.get("SessionID").value_or("")));
    EXPECT_FALSE(reply.get("result"));
    EXPECT_FALSE(reply.get("LibVersion"));
    EXPECT_EQ(findOldestSession(), -1);
    EXPECT_TRUE(sessionCopies().empty());
    EXPECT_NE(log().find("Init adapter: Fail"), std::string::npos);
}

TEST_F(Session, UnlockCarriesThePageOrigin) {
    std::string id = openEcho();
    EXPECT_EQ(call(id, "LastUnlock").result(),
              "functionname=Kestrovan_Unlock;url=https://page.example;AdapterJsonKeyCheck=true;"
              "KestrovanFunctionIndex=-2");
}

TEST_F(Session, TextOnlyAdapterIsServedThroughCallMethod) {
    installAdapter(TEST_ADAPTER_TEXT_ONLY);
    std::string id = openEcho();
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(call(id, "Work", {{"strData", "a \"quoted\" text"}}).result(), "text:called:Work:a \"quoted\" text");
    EXPECT_EQ(call(id, "LastUnlock").result(),
              "text:functionname=Kestrovan_Unlock;url=https://page.example;AdapterJsonKeyCheck=true;"
              "KestrovanFunctionIndex=-2");
}

TEST_F(Session, ExistingCopyMakesTheSessionRunTheInstalledFile) {
    writeFile(copyFolder + "/Tempfile/Session_0/PelHCAATLAdapter.so", readFile(TEST_ADAPTER_HEALTHY));
    std::string id = openEcho();
    EXPECT_EQ(call(id, "Counter").result(), "1");
    call(id, "KestrovanForceRelease");
    EXPECT_TRUE(testsupport::readFile(programFolder + "/Tarvik/PelHCAATLAdapter.so").size() > 0);
    EXPECT_EQ(sessionCopies(), std::vector<std::string>{"Session_0/PelHCAATLAdapter.so"});
    std::string text = log();
    EXPECT_NE(text.find("Copy adapter state: Fail"), std::string::npos);
    EXPECT_NE(text.find("Origin adapter: Active"), std::string::npos);
    EXPECT_NE(text.find("Release adapter state: Success"), std::string::npos);
}

TEST_F(Session, ComponentResultIsLoggedOrMasked) {
    std::string id = openEcho();
    Reply hidden = call(id, "Secret", {{"strData", "1234"}, {"hide_result", "TRUE"}});
    EXPECT_EQ(hidden.result(), "called:Secret:1234");
    EXPECT_EQ(call(id, "MultiLine").result(), "line1\nline2");
    EXPECT_EQ(call(id, "Nothing").result(), "");
    std::string text = log();
    EXPECT_NE(text.find(" Component result: " + std::string(18, '*')), std::string::npos);
    EXPECT_EQ(text.find(" Component result: called:Secret"), std::string::npos);
    EXPECT_NE(text.find(" Component result:\r\nline1\r\nline2"), std::string::npos);  // the log writes CR LF
}

TEST_F(Session, RestartClearsOldCopiesAndWritesVersionMarker) {
    writeFile(copyFolder + "/Tempfile/Session_3/PelHCAATLAdapter.so", "old");
    writeFile(copyFolder + "/Tempfile/stray", "old");
    writeFile(copyFolder + "/TarvikKestrovanMainVersion", "Kestrovan version=0.0.0.0 and more");
    startService();
    EXPECT_TRUE(sessionCopies().empty());
    EXPECT_EQ(listDir(copyFolder + "/Tempfile").size(), 32u);
    EXPECT_EQ(readFile(copyFolder + "/TarvikKestrovanMainVersion"), "Kestrovan version=1.0.23.0510");
}

TEST_F(Session, MissingRequestOrOriginGivesNoReply) {
    KestrovanJsonMap* request = ParseKestrovanJsonMap(jsonText(opening("KestrovanEcho")).c_str());
    EXPECT_EQ(dispatchSessionRequest(nullptr, "https://page.example", 1), nullptr);
    EXPECT_EQ(dispatchSessionRequest(request, nullptr, 1), nullptr);
    FreeKestrovanJsonMap(request);
    EXPECT_EQ(findOldestSession(), -1);
    std::string text = log();
    EXPECT_NE(text.find("Parameter JsonMap is null at"), std::string::npos);
    EXPECT_NE(text.find("Parameter Origin is null at"), std::string::npos);
}

// Fakes for the hooks through which the value store and the top-most control join.
std::string storeCall;
int32_t fakeSet(const char* channel, const char* domainList, int32_t timeout, const char* value) {
    storeCall = std::string(channel) + "|" + domainList + "|" + std::to_string(timeout) + "|" + value;
    return 61019;
}
char* fakeGet(const char* channel, const char* origin) {
    storeCall = std::string(channel) + "|" + origin;
    return std::strcmp(channel, "locked") == 0 ? nullptr : strdup("stored");
}
std::vector<std::string> windowCalls;
void fakeStart(uint32_t processId, bool allWindows) {
    windowCalls.push_back("start " + std::to_string(processId) + (allWindows ? " all" : " own"));
}
void fakeStop() { windowCalls.push_back("stop"); }

TEST_F(Session, ValueStoreCallsGoThroughItsHooks) {
    std::string id = openEcho();
    // Without a store the names are ordinary adapter functions.
    EXPECT_EQ(call(id, "setKestrovanValue").result(), "called:setKestrovanValue:");

    const ValueStoreHooks hooks{nullptr, fakeSet, fakeGet};
    setValueStoreHooks(&hooks);
    Reply set = call(id, "setKestrovanValue", {{"channel", "c"}, {"domain_list", ".page.example"},
                                               {"timeout", "true"}, {"value", "v"}});
    EXPECT_EQ(set.result(), "61019");
    EXPECT_EQ(storeCall, "c|.page.example|1|v");
    EXPECT_EQ(call(id, "setKestrovanValue", {{"channel", "c"}, {"domain_list", "x"}}).result(), "61005");
    EXPECT_EQ(call(id, "getKestrovanValue").result(), "61005");
    Reply get = call(id, "getKestrovanValue", {{"channel", "c"}});
    EXPECT_EQ(get.result(), "stored");
    EXPECT_EQ(get.values.size(), 1u);
    EXPECT_EQ(storeCall, "c|https://page.example");
    EXPECT_EQ(call(id, "getKestrovanValue", {{"channel", "locked"}}).result(), "61001");
    // The store does not keep the session from serving.
    EXPECT_EQ(call(id, "Counter").result(), "1");
}

TEST_F(Session, TopMostControlBracketsTheAdapterCall) {
    const TopMostHooks hooks{fakeStart, fakeStop};
    setTopMostHooks(&hooks);
    windowCalls.clear();
    std::string id = openEcho({{"topuidetect", "true"}});
    EXPECT_TRUE(windowCalls.empty());  // the echo does not call the adapter
    call(id, "Work", {{"topuidetect", "true"}});
    call(id, "Work", {{"topuialldetect", "TRUE"}});
    call(id, "Work");
    EXPECT_EQ(windowCalls, (std::vector<std::string>{"start 4242 own", "stop", "start 4242 all", "stop"}));
}

}  // namespace
