// The key routine and the TLS credentials made by the build.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Credentials.h"
#include "KestrovanUtil/Tool.h"
#include "PelWhiteBoxUtil.h"
#include "support/sandbox.h"

namespace {

struct Table {
    uint16_t cells[kWhiteBoxCells];
    uint16_t* rows[kWhiteBoxDimension];
    Table() {
        for (int k = 0; k < kWhiteBoxCells; ++k) cells[k] = static_cast<uint16_t>(k * 2654435761u >> 7);
        for (int r = 0; r < kWhiteBoxDimension; ++r) rows[r] = cells + r * kWhiteBoxDimension;
    }
};

std::string derive(Table& table, uint32_t parameter) {
    char* hex = getPelWhiteboxResult(table.rows, kWhiteBoxDimension, parameter);
    std::string out = hex != nullptr ? hex : "";
    char* buffer = hex;
    PelWhiteBoxResultFinal(&hex);
    std::free(buffer);
    return out;
}

TEST(KeyRoutine, DerivesA32ByteKeyThatDependsOnEveryInput) {
    Table table;
    std::string key = derive(table, 0x12345678u);
    ASSERT_EQ(key.size(), 64u);
    EXPECT_EQ(key.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(derive(table, 0x12345678u), key);
    EXPECT_NE(derive(table, 0x12345679u), key);
    for (int cell : {0, 40, 80}) {
        Table changed;
        changed.cells[cell] ^= 1;
        EXPECT_NE(derive(changed, 0x12345678u), key) << cell;
    }
}

TEST(KeyRoutine, RefusesUnusableTables) {
    Table table;
    EXPECT_EQ(getPelWhiteboxResult(nullptr, 9, 1), nullptr);
    EXPECT_EQ(getPelWhiteboxResult(table.rows, 0, 1), nullptr);
    table.rows[4] = nullptr;
    EXPECT_EQ(getPelWhiteboxResult(table.rows, 9, 1), nullptr);
    PelWhiteBoxResultFinal(nullptr);
}

TEST(KeyRoutine, FinalOverwritesTheTextAndClearsThePointer) {
    Table table;
    char* hex = getPelWhiteboxResult(table.rows, kWhiteBoxDimension, 7);
    ASSERT_NE(hex, nullptr);
    std::string before(hex, 64);
    char* buffer = hex;
    PelWhiteBoxResultFinal(&hex);
    EXPECT_EQ(hex, nullptr);
    EXPECT_NE(std::string(buffer, 64), before);
    std::free(buffer);
    char* none = nullptr;
    PelWhiteBoxResultFinal(&none);  // only stops the watchdog: nothing to do now
    EXPECT_EQ(none, nullptr);
}

TEST(KeyRoutine, StoredTableRebuildsTheRows) {
    Table table;
    uint16_t stored[kWhiteBoxCells];
    storeWhiteBoxTable(table.cells, stored);
    EXPECT_NE(std::memcmp(stored, table.cells, sizeof(stored)), 0);
    uint16_t** rows = buildWhiteBoxTable(stored);
    ASSERT_NE(rows, nullptr);
    for (int k = 0; k < kWhiteBoxCells; ++k)
        EXPECT_EQ(rows[k / kWhiteBoxDimension][k % kWhiteBoxDimension], table.cells[k]) << k;
    freeWhiteBoxTable(rows);
}

std::string buildFile(const std::string& relative) {
    return testsupport::readFile(std::string(KESTROVAN_BUILD_DIR) + "/generated/" + relative);
}

TEST(Credentials, SealedKeysDecipherToTheKeysOfTheBuild) {
    testsupport::Sandbox sandbox;
    for (bool rsa : {false, true}) {
        char* key = loadServerKeyFor(rsa);
        ASSERT_NE(key, nullptr) << rsa;
        EXPECT_EQ(std::string(key), buildFile(rsa ? "private/server-rsa.key" : "private/server-ecc.key")) << rsa;
        std::free(key);
    }
    // On Linux the ECDSA pair is chosen.
    char* chosen = LoadServerKey();
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(std::string(chosen), buildFile("private/server-ecc.key"));
    std::free(chosen);
}

TEST(Credentials, RsaPairOnlyForAnUnknownSystemAndWindowsXP) {
    struct Case {
        uint32_t flags;
        bool rsa;
    } cases[] = {{0, true},           {kOs32Bit, true},          {0x1 | kOs32Bit, true},
                 {0x2 | kOs64Bit, false}, {0x100 | kOs64Bit, false}, {0x8000 | kOs64Bit, false},
                 {kOsLinux | kOs64Bit, false}};
    for (const auto& c : cases) EXPECT_EQ(useRsaCredentials(c.flags), c.rsa) << std::hex << c.flags;
    EXPECT_EQ(std::string(serverCertificate(false)), "\n" + buildFile("server-ecc.pem"));
    EXPECT_EQ(std::string(serverCertificate(true)), "\n" + buildFile("server-rsa.pem"));
}

std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    return out;
}

TEST(Credentials, CertificatesHaveTheFieldsBrowsersCheck) {
    std::string dir = std::string(KESTROVAN_BUILD_DIR) + "/generated/";
    struct Case {
        const char* server;
        const char* root;
        const char* key;
        const char* rootSignature;
    } cases[] = {{"server-ecc.pem", "root-ecc.pem", "SECP384R1", "ECDSA-SHA256"},
                 {"server-rsa.pem", "root-rsa.pem", "Modulus (bits 4096)", "RSA-SHA1"}};
    for (const auto& c : cases) {
        std::string info = run("certtool -i --infile " + dir + c.server);
        for (const char* field : {"Subject: CN=localhost", "C=TW", "Not Before: Wed Nov 01 02:38:27 UTC 2023",
                                  "Not After: Tue Oct 31 02:38:27 UTC 2028", "Key Purpose (critical):",
                                  "TLS WWW Server.", "TLS WWW Client.", "Certificate Authority (CA): FALSE",
                                  "DNSname: localhost", "IPAddress: 127.0.0.1", "Digital signature."})
            EXPECT_NE(info.find(field), std::string::npos) << c.server << ": " << field;
        EXPECT_NE(info.find(c.key), std::string::npos) << c.server;
        EXPECT_NE(info.find("-SHA256"), std::string::npos) << c.server;
        EXPECT_EQ(info.find("Key encipherment.") != std::string::npos, std::string(c.server) == "server-rsa.pem");

        std::string root = run("certtool -i --infile " + dir + c.root);
        EXPECT_NE(root.find("Certificate Authority (CA): TRUE"), std::string::npos) << c.root;
        EXPECT_NE(root.find(c.rootSignature), std::string::npos) << c.root;
        std::string verify = run("certtool --verify --verify-profile low --load-ca-certificate " + dir + c.root +
                                 " --infile " + dir + c.server);
        EXPECT_NE(verify.find("Verified."), std::string::npos) << c.server << ": " << verify;
    }
    // No root private key is left behind by the build.
    EXPECT_EQ(testsupport::listDir(dir + "private").size(), 2u);
    std::string roots = testsupport::readFile(dir + "RootCerts.h");
    EXPECT_NE(roots.find("kRootCertEcc"), std::string::npos);
    EXPECT_NE(roots.find("kRootCertRsa"), std::string::npos);
    EXPECT_EQ(roots.find("PRIVATE"), std::string::npos);
}

}  // namespace
