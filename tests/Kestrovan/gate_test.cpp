// Gate paths that the real program cannot show: an answer without connection
// information (a daemon without TLS), the parameter text limit and the peer policy.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <string>

#include "Gate.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/Text.h"
#include "support/sandbox.h"

namespace {

// The log files whose names begin with the stem (the library adds the date).
std::string readLog(const testsupport::Sandbox& sandbox, const std::string& stem) {
    std::string text;
    for (const auto& name : testsupport::listDir(sandbox.root()))
        if (name.rfind(stem, 0) == 0) text += testsupport::readFile(sandbox.path(name));
    return text;
}

size_t collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

class PlainGate : public ::testing::Test {
protected:
    void SetUp() override {
        sandbox_.writeLogIni(sandbox_.path("gate.log"));
        setLog("TarvikKestrovan");
        daemon_ = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD, 0, AcceptPolicy, nullptr, AccessHandler, nullptr,
                                   MHD_OPTION_NOTIFY_COMPLETED, RequestCompleted, nullptr, MHD_OPTION_END);
        ASSERT_NE(daemon_, nullptr);
        port_ = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT)->port;
    }
    void TearDown() override {
        if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
        setParameterTextLimit(0);
        unsetLog();
    }
    // Posts a form with a "Parameter" of the given size; the curl code and body.
    int post(size_t parameterBytes, std::string* body) {
        std::string form = "Parameter=" + std::string(parameterBytes, 'A');
        CURL* curl = curl_easy_init();
        std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/";
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form.c_str());
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, body);
        int code = curl_easy_perform(curl);
        curl_easy_cleanup(curl);
        return code;
    }
    std::string log() { return readLog(sandbox_, "gate"); }
    testsupport::Sandbox sandbox_;
    MHD_Daemon* daemon_ = nullptr;
    uint16_t port_ = 0;
};

TEST_F(PlainGate, WithoutConnectionInformationTheAnswerIs61001) {
    std::string body;
    ASSERT_EQ(post(16, &body), 0);
    EXPECT_EQ(body, "{\"result\": \"NjEwMDE=\"}");  // base64 of 61001
    EXPECT_NE(log().find("[Warning] Get connection information error"), std::string::npos);
}

TEST_F(PlainGate, ParameterTextPastTheLimitIsRefusedAndDropped) {
    setParameterTextLimit(4096);
    std::string body;
    EXPECT_EQ(post(4096, &body), 0) << "at the limit the request goes on";
    body.clear();
    EXPECT_EQ(post(40000, &body), CURLE_GOT_NOTHING);
    EXPECT_TRUE(body.empty());
    EXPECT_NE(log().find("Parameter text over limit, bytes: "), std::string::npos);
    // The connection after it is served normally.
    EXPECT_EQ(post(16, &body), 0);
}

TEST(AcceptPolicy, AdmitsOnly127001AndLogsTheRefusedPeer) {
    testsupport::Sandbox sandbox;
    sandbox.writeLogIni(sandbox.path("policy.log"));
    setLog("TarvikKestrovan");
    struct Case {
        const char* address;
        uint16_t port;
        MHD_Result result;
        const char* logged;
    } cases[] = {
        {"127.0.0.1", 4660, MHD_YES, nullptr},
        {"127.0.0.2", 4660, MHD_NO, "Illegal connection ip: 18.52.127.0.0.2.0.0.0.0.0.0.0.0"},
        {"192.168.200.1", 0x8001, MHD_NO, "Illegal connection ip: -128.1.-64.-88.-56.1.0.0.0.0.0.0.0.0"},
    };
    for (const auto& c : cases) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(c.port);
        inet_pton(AF_INET, c.address, &a.sin_addr);
        EXPECT_EQ(AcceptPolicy(nullptr, reinterpret_cast<sockaddr*>(&a), sizeof(a)), c.result) << c.address;
        if (c.logged != nullptr) {
            EXPECT_NE(readLog(sandbox, "policy").find(c.logged), std::string::npos) << c.address;
        }
    }
    unsetLog();
}

}  // namespace
