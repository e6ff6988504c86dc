// The request gate and the response composition, seen from a real HTTPS client.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "service_client.h"

using namespace servicetest;

namespace {

const std::string kEcho = R"({"FunctionName":"KestrovanEcho"})";

// One service for the whole suite: the gate keeps no state between requests.
class Gate : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!inPrivateNetwork()) return;
        sandbox_ = new testsupport::Sandbox;
        service_ = new RunningService(*sandbox_);
    }
    static void TearDownTestSuite() {
        delete service_;
        delete sandbox_;
        service_ = nullptr;
        sandbox_ = nullptr;
    }
    void SetUp() override {
        if (!inPrivateNetwork()) GTEST_SKIP() << "needs the private network namespace (scripts/in-netns)";
        ASSERT_TRUE(service_->running());
    }
    static Request post(const std::string& json = kEcho) {
        Request r;
        r.body = formBody(json);
        r.headers = {"Origin: https://page.example"};
        return r;
    }
    static bool answeredBySessions(const Reply& reply) {
        auto values = decodeReply(reply.body);
        return reply.curlCode == 0 && reply.status == 200 && values.count("result") &&
               values["result"] != "61904" && values["result"] != "61012" && values["result"] != "61001";
    }
    static std::string logSince(size_t mark) { return service_->log().substr(mark); }

    static testsupport::Sandbox* sandbox_;
    static RunningService* service_;
};
testsupport::Sandbox* Gate::sandbox_ = nullptr;
RunningService* Gate::service_ = nullptr;

constexpr int kClosed = 52;  // CURLE_GOT_NOTHING: closed without a response

TEST_F(Gate, PostOverTls12And13ReachesTheSessionsWithTheCrossOriginHeaders) {
    for (int tls : {12, 13}) {
        size_t mark = service_->log().size();
        Request r = post();
        r.tls = tls;
        Reply reply = send(r);
        EXPECT_TRUE(answeredBySessions(reply)) << tls << ": " << reply.curlCode << " " << reply.body;
        EXPECT_EQ(reply.headers["access-control-allow-origin"], "https://page.example");
        EXPECT_EQ(reply.headers["x-xss-protection"], "1; mode=block");
        EXPECT_FALSE(reply.hasHeader("content-type"));
        EXPECT_NE(logSince(mark).find(tls == 12 ? "TLS version: TLS 1.2" : "TLS version: TLS 1.3"),
                  std::string::npos);
    }
}

TEST_F(Gate, OldTlsVersionsAreRefusedInTheHandshake) {
    for (const char* version : {"+VERS-TLS1.0", "+VERS-TLS1.1"}) {
        std::string command = std::string("gnutls-cli --insecure --port 56452 --priority NORMAL:-VERS-ALL:") + version +
                              " 127.0.0.1 </dev/null >/dev/null 2>&1";
        EXPECT_NE(std::system(command.c_str()), 0) << version;
    }
    std::string command =
        "gnutls-cli --insecure --port 56452 --priority NORMAL:-VERS-ALL:+VERS-TLS1.2 127.0.0.1 </dev/null >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

TEST_F(Gate, HostMustBeALoopbackNameWithPort) {
    struct Case {
        const char* host;
        bool admitted;
    } cases[] = {
        {"localhost:56452", true},   {"127.0.0.1:56452", true}, {"LOCALHOST:56452", false},
        {"[::1]:56452", false},      {"localhost", false},      {"evil.example:56452", false},
    };
    for (const auto& c : cases) {
        Request r = post();
        r.headers.push_back(std::string("Host: ") + c.host);
        Reply reply = send(r);
        if (c.admitted) {
            EXPECT_TRUE(answeredBySessions(reply)) << c.host;
        } else {
            EXPECT_EQ(reply.status, 200) << c.host;
            EXPECT_EQ(decodeReply(reply.body)["result"], "61904") << c.host;
            EXPECT_FALSE(reply.hasHeader("access-control-allow-origin")) << c.host;
        }
    }
    EXPECT_NE(service_->log().find("This connection is NOT from localhost"), std::string::npos);
}

TEST_F(Gate, UrlArgumentsDoNotStandInForHostOrOrigin) {
    Request r = post();
    r.url = "https://127.0.0.1:56452/?origin=https://evil.example&host=localhost:1";
    Reply reply = send(r);
    EXPECT_TRUE(answeredBySessions(reply));
    EXPECT_EQ(reply.headers["access-control-allow-origin"], "https://page.example");

    r.headers.push_back("Host: evil.example:56452");
    EXPECT_EQ(decodeReply(send(r).body)["result"], "61904");
}

TEST_F(Gate, OtherMethodsAndBodiesCloseTheConnection) {
    struct Case {
        const char* name;
        Request request;
        const char* logged;
    };
    Request get = post();
    get.method = "GET";
    Request put = post();
    put.method = "PUT";
    Request json = post();
    json.body = kEcho;
    json.headers.push_back("Content-Type: application/json");
    Request noParameter = post();
    noParameter.body = "Other=" + formBody(kEcho).substr(10);
    Request notJson = post(R"({"FunctionName":"KestrovanEcho")");
    Request preflightWithoutPrivateNetwork = post();
    preflightWithoutPrivateNetwork.method = "OPTIONS";
    preflightWithoutPrivateNetwork.headers.push_back("Access-Control-Request-Method: POST");
    Case cases[] = {
        {"GET", get, "Request method error: GET"},
        {"PUT", put, "Request method error: PUT"},
        {"json", json, nullptr},
        {"no Parameter", noParameter, "Memory allocate fail at file: "},
        {"not json", notJson, "Memory allocate fail at file: "},
        {"preflight", preflightWithoutPrivateNetwork, "Request method error: OPTIONS"},
    };
    for (auto& c : cases) {
        size_t mark = service_->log().size();
        Reply reply = send(c.request);
        EXPECT_EQ(reply.curlCode, kClosed) << c.name;
        if (c.logged != nullptr) {
            ASSERT_TRUE(service_->waitLog(c.logged)) << c.name;
            EXPECT_NE(logSince(mark).find(c.logged), std::string::npos) << c.name;
        }
    }
}

TEST_F(Gate, AParameterArrivingInManyPiecesIsJoined) {
    // 64 KiB of value: several TLS records, and the form parser hands it over in
    // pieces of at most 512 bytes; a piece lost or doubled breaks the base64 and JSON.
    std::string json = R"({"FunctionName":"KestrovanEcho","Padding":")" + std::string(65536, 'x') + "\"}";
    Reply reply = send(post(json));
    EXPECT_TRUE(answeredBySessions(reply)) << reply.curlCode;
    // The next request decodes only its own text.
    EXPECT_TRUE(answeredBySessions(send(post())));
}

TEST_F(Gate, OriginFallsBackToTheReferer) {
    struct Case {
        std::vector<std::string> headers;
        const char* allowed;  // null: 61012
    } cases[] = {
        {{"Origin: null", "Referer: https://page.example:8443/path/x?y=1"}, "https://page.example:8443"},
        {{"Referer: https://page.example"}, "https://page.example"},
        {{"Referer: https://page.example/"}, "https://page.example"},
        {{"Origin: null", "Referer: nopath"}, nullptr},
        {{"Origin: null"}, nullptr},
        {{}, nullptr},
    };
    for (auto& c : cases) {
        Request r = post();
        r.headers = c.headers;
        Reply reply = send(r);
        std::string label = c.headers.empty() ? "none" : c.headers.back();
        if (c.allowed != nullptr) {
            EXPECT_TRUE(answeredBySessions(reply)) << label;
            EXPECT_EQ(reply.headers["access-control-allow-origin"], c.allowed) << label;
            EXPECT_NE(service_->log().find(std::string("New Origin: ") + c.allowed), std::string::npos);
        } else {
            EXPECT_EQ(decodeReply(reply.body)["result"], "61012") << label;
            EXPECT_FALSE(reply.hasHeader("access-control-allow-origin")) << label;
        }
    }
}

TEST_F(Gate, PreflightIsAnswered204WithItsHeaders) {
    Request r;
    r.method = "OPTIONS";
    r.headers = {"Access-Control-Request-Method: POST", "Access-Control-Request-Private-Network: true"};
    Reply bare = send(r);
    EXPECT_EQ(bare.status, 204);
    EXPECT_EQ(bare.headers["access-control-allow-methods"], "POST");
    EXPECT_EQ(bare.headers["access-control-allow-private-network"], "true");
    EXPECT_EQ(bare.headers["access-control-max-age"], "30");
    EXPECT_FALSE(bare.hasHeader("access-control-allow-origin"));
    EXPECT_FALSE(bare.hasHeader("x-xss-protection"));

    r.headers.push_back("Origin: https://page.example");
    EXPECT_EQ(send(r).headers["access-control-allow-origin"], "https://page.example");
}

TEST_F(Gate, KeepAliveHeaderOnlyForConnectionKeepAlive) {
    struct Case {
        const char* connection;
        bool keepAlive;
    } cases[] = {{"Connection: keep-alive", true}, {"Connection: Keep-Alive", true},
                 {"Connection: close", false},     {"Connection: keep-alive, Upgrade", false}};
    for (const auto& c : cases) {
        Request r = post();
        r.headers.push_back(c.connection);
        Reply reply = send(r);
        EXPECT_EQ(reply.hasHeader("keep-alive"), c.keepAlive) << c.connection;
        if (c.keepAlive) {
            EXPECT_EQ(reply.headers["keep-alive"], "timeout=15, max=100");
        }
    }
    EXPECT_FALSE(send(post()).hasHeader("keep-alive"));
}

TEST_F(Gate, IPv4PeersOtherThanLocalHostAreRefused) {
    Request r = post();
    r.sourceAddress = "127.0.0.2";
    Reply reply = send(r);
    EXPECT_NE(reply.curlCode, 0);
    ASSERT_TRUE(service_->waitLog("Illegal connection ip: "));
    std::string log = service_->log();
    size_t at = log.find("Illegal connection ip: ");
    std::string line = log.substr(at, log.find('\n', at) - at);
    // Port (two bytes), address, eight zero bytes.
    EXPECT_NE(line.find(".127.0.0.2.0.0.0.0.0.0.0.0"), std::string::npos) << line;

    // The IPv6 daemons listen on ::1 only and answer it.
    Request v6 = post();
    v6.url = "https://localhost:56552/";
    v6.ipv6 = true;
    EXPECT_TRUE(answeredBySessions(send(v6)));
}

}  // namespace
