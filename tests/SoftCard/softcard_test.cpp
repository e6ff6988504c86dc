#include <gnutls/abstract.h>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gnutls/pkcs7.h>
#include <gnutls/x509.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "PelHCAATL/PelHCAATLInterface.h"
#include "platform/com/com.h"
#include "support/sandbox.h"

namespace {

const char* const kReader = "Soft Card Reader 0";
const char* const kPin = "123456";

// An input COM string, released when it goes.
struct Text {
    explicit Text(const std::string& utf8ascii) {
        std::u16string wide(utf8ascii.begin(), utf8ascii.end());
        value = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    }
    ~Text() { SysFreeString(value); }
    operator BSTR() const { return value; }
    BSTR value;
};

// Takes an output COM string holding ASCII text.
std::string take(BSTR text) {
    std::string out;
    for (UINT i = 0; i < SysStringLen(text); ++i) out.push_back(static_cast<char>(text[i]));
    SysFreeString(text);
    return out;
}

std::string fromBase64(const std::string& text) {
    gnutls_datum_t in{reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
                      static_cast<unsigned>(text.size())};
    gnutls_datum_t out{};
    if (gnutls_base64_decode2(&in, &out) < 0) return {};
    std::string bytes(reinterpret_cast<char*>(out.data), out.size);
    gnutls_free(out.data);
    return bytes;
}

std::string toBase64(const std::string& bytes) {
    gnutls_datum_t in{reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())),
                      static_cast<unsigned>(bytes.size())};
    gnutls_datum_t out{};
    gnutls_base64_encode2(&in, &out);
    std::string text(reinterpret_cast<char*>(out.data), out.size);
    gnutls_free(out.data);
    return text;
}

gnutls_datum_t datum(const std::string& bytes) {
    return {reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())), static_cast<unsigned>(bytes.size())};
}

class SoftCardTest : public testing::Test {
protected:
    SoftCardTest() {
        EXPECT_EQ(comRegisterClass(CLSID_PelHCAATL, SOFTCARD_LIBRARY), S_OK);
        CoInitialize(nullptr);
        card_ = create();
    }
    ~SoftCardTest() override {
        if (crt_ != nullptr) gnutls_x509_crt_deinit(crt_);
        if (card_ != nullptr) card_->Release();
        CoUninitialize();
    }
    IPelHCAATL* create(HRESULT* result = nullptr) {
        void* object = nullptr;
        HRESULT hr = CoCreateInstance(CLSID_PelHCAATL, nullptr, CLSCTX_ALL, IID_IPelHCAATL, &object);
        if (result != nullptr) *result = hr;
        return static_cast<IPelHCAATL*>(object);
    }
    std::string readerFolder() const { return sandbox_.path("ProgramData/PelHCAATL/readers/") + kReader; }
    LONG errorCode() {
        LONG code = -100;
        EXPECT_EQ(card_->HCA_GetErrorCode(&code), S_OK);
        return code;
    }
    // The card's certificate as the test reads it from the card folder.
    gnutls_x509_crt_t certificate() {
        if (crt_ == nullptr) {
            BSTR out = nullptr;
            card_->HCA_GetReaderNamesString(0, &out);  // installs the card folder
            SysFreeString(out);
            std::string pem = testsupport::readFile(readerFolder() + "/cert.pem");
            gnutls_datum_t d = datum(pem);
            gnutls_x509_crt_init(&crt_);
            EXPECT_GE(gnutls_x509_crt_import(crt_, &d, GNUTLS_X509_FMT_PEM), 0);
        }
        return crt_;
    }
    std::string certBase64() {
        BSTR out = nullptr;
        EXPECT_EQ(card_->HCA_GetCertificateByReader(Text(kReader), Text(""), 0, &out), S_OK);
        return take(out);
    }
    bool verifiedByGnutls(const std::string& data, const std::string& signature, gnutls_digest_algorithm_t digest) {
        gnutls_pubkey_t key;
        gnutls_pubkey_init(&key);
        gnutls_pubkey_import_x509(key, certificate(), 0);
        gnutls_datum_t d = datum(data), s = datum(signature);
        int rc = gnutls_pubkey_verify_data2(key, gnutls_pk_to_sign(GNUTLS_PK_RSA, digest), 0, &d, &s);
        gnutls_pubkey_deinit(key);
        return rc >= 0;
    }
    std::string sign(const std::string& pin, const std::string& data, LONG flags, LONG hash) {
        BSTR out = nullptr;
        EXPECT_EQ(card_->HCA_SignByReader(Text(kReader), Text(pin), Text(data), flags, hash, &out), S_OK);
        return take(out);
    }
    LONG retries() {
        LONG left = -100;
        EXPECT_EQ(card_->HCA_GetRetryCounter(&left), S_OK);
        return left;
    }

    testsupport::Sandbox sandbox_;
    IPelHCAATL* card_ = nullptr;
    gnutls_x509_crt_t crt_ = nullptr;
};

}  // namespace

TEST_F(SoftCardTest, SignaturesVerifyWithTheCertificate) {
    ASSERT_NE(card_, nullptr);
    struct Case {
        LONG flag;
        gnutls_digest_algorithm_t digest;
    } cases[] = {{0, GNUTLS_DIG_SHA256}, {1, GNUTLS_DIG_SHA1}, {2, GNUTLS_DIG_SHA256},
                 {3, GNUTLS_DIG_SHA384}, {4, GNUTLS_DIG_SHA512}};
    const std::string data = "data to sign";
    for (const Case& c : cases) {
        std::string signature = fromBase64(sign(kPin, data, 0, c.flag));
        ASSERT_FALSE(signature.empty()) << c.flag;
        EXPECT_TRUE(verifiedByGnutls(data, signature, c.digest)) << c.flag;
    }
    // Bit 0 of the flags: the data comes as base64; the card's own check agrees.
    std::string binary("\x00\x01\xFF", 3);
    std::string signature = sign(kPin, toBase64(binary), 1, 2);
    EXPECT_TRUE(verifiedByGnutls(binary, fromBase64(signature), GNUTLS_DIG_SHA256));
    LONG verdict = -1;
    std::string cert = certBase64();
    EXPECT_EQ(card_->HCA_Verify(Text(cert), Text(signature), Text(toBase64(binary)), 1, &verdict), S_OK);
    EXPECT_EQ(verdict, 0);
    EXPECT_EQ(card_->HCA_Verify(Text(cert), Text(signature), Text("other"), 0, &verdict), S_OK);
    EXPECT_EQ(verdict, 9006);

    EXPECT_EQ(sign(kPin, data, 0, 9), "");
    EXPECT_EQ(errorCode(), 9005);

    // A ready digest signed by the pure form gives the same PKCS#1 signature.
    unsigned char digest[32];
    gnutls_hash_fast(GNUTLS_DIG_SHA256, data.data(), data.size(), digest);
    BSTR out = nullptr;
    EXPECT_EQ(card_->HCA_PureSignByReader(Text(kReader), Text(kPin),
                                          Text(toBase64(std::string(reinterpret_cast<char*>(digest), 32))), 1, 2, &out),
              S_OK);
    EXPECT_EQ(take(out), sign(kPin, data, 0, 2));
}

TEST_F(SoftCardTest, EncryptionRoundTripsThroughTheCard) {
    ASSERT_NE(card_, nullptr);
    std::string cert = certBase64();
    BSTR out = nullptr;
    ASSERT_EQ(card_->HCA_Encrypt(Text(cert), Text("secret text"), 0, &out), S_OK);
    std::string cipher = take(out);
    ASSERT_FALSE(cipher.empty());
    ASSERT_EQ(card_->HCA_DecryptByReader(Text(kReader), Text(kPin), Text(cipher), 0, &out), S_OK);
    EXPECT_EQ(take(out), "secret text");

    // Enciphered by GnuTLS to the certificate, deciphered on the card.
    gnutls_pubkey_t key;
    gnutls_pubkey_init(&key);
    gnutls_pubkey_import_x509(key, certificate(), 0);
    std::string plain("\x01\x02\x03", 3);
    gnutls_datum_t in = datum(plain), enc{};
    ASSERT_GE(gnutls_pubkey_encrypt_data(key, 0, &in, &enc), 0);
    std::string external(reinterpret_cast<char*>(enc.data), enc.size);
    gnutls_free(enc.data);
    gnutls_pubkey_deinit(key);
    ASSERT_EQ(card_->HCA_DecryptByReader(Text(kReader), Text(kPin), Text(toBase64(external)), 1, &out), S_OK);
    EXPECT_EQ(fromBase64(take(out)), plain);

    ASSERT_EQ(card_->HCA_DecryptByReader(Text(kReader), Text("000000"), Text(cipher), 0, &out), S_OK);
    EXPECT_EQ(take(out), "");
    EXPECT_EQ(errorCode(), 9003);
}

TEST_F(SoftCardTest, WrongPinsSpendTriesUntilTheCardLocks) {
    ASSERT_NE(card_, nullptr);
    EXPECT_EQ(retries(), 3);
    EXPECT_EQ(sign("111111", "x", 0, 2), "");
    EXPECT_EQ(errorCode(), 9003);
    EXPECT_EQ(retries(), 2);
    EXPECT_EQ(sign("", "x", 0, 2), "");
    EXPECT_EQ(retries(), 1);
    EXPECT_NE(sign(kPin, "x", 0, 2), "");  // the right PIN restores the tries
    EXPECT_EQ(retries(), 3);
    for (int i = 0; i < 3; ++i) sign("999999", "x", 0, 2);
    EXPECT_EQ(retries(), 0);
    EXPECT_EQ(sign(kPin, "x", 0, 2), "");
    EXPECT_EQ(errorCode(), 9004);
    // The counter lives with the card, so another object sees it too.
    IPelHCAATL* other = create();
    ASSERT_NE(other, nullptr);
    LONG left = -1;
    other->HCA_GetRetryCounter(&left);
    EXPECT_EQ(left, 0);
    other->Release();
}

TEST_F(SoftCardTest, Pkcs7CarriesTheCardSignature) {
    ASSERT_NE(card_, nullptr);
    const std::string data = "signed content";
    std::string cert = certBase64();
    std::string signature = sign(kPin, data, 0, 2);
    for (LONG flag : {0, 2}) {
        BSTR out = nullptr;
        ASSERT_EQ(card_->HCA_GeneratePKCS7(Text(signature), Text(cert), Text(data), flag, 2, &out), S_OK);
        std::string der = fromBase64(take(out));
        ASSERT_FALSE(der.empty()) << flag;
        gnutls_pkcs7_t pkcs7;
        gnutls_pkcs7_init(&pkcs7);
        gnutls_datum_t d = datum(der), content = datum(data);
        ASSERT_GE(gnutls_pkcs7_import(pkcs7, &d, GNUTLS_X509_FMT_DER), 0);
        EXPECT_GE(gnutls_pkcs7_verify_direct(pkcs7, certificate(), 0, flag == 2 ? nullptr : &content, 0), 0) << flag;
        gnutls_pkcs7_deinit(pkcs7);
    }
    BSTR out = nullptr;
    std::string wrong = sign(kPin, "other content", 0, 2);
    ASSERT_EQ(card_->HCA_GeneratePKCS7(Text(wrong), Text(cert), Text(data), 0, 2, &out), S_OK);
    EXPECT_EQ(take(out), "");
    EXPECT_EQ(errorCode(), 9006);
}

TEST_F(SoftCardTest, CertificateFieldsMatchGnutls) {
    ASSERT_NE(card_, nullptr);
    std::string cert = certBase64();
    std::string pem = "-----BEGIN CERTIFICATE-----\n" + cert + "\n-----END CERTIFICATE-----\n";
    enum Which { Serial, Subject, Issuer, NotBefore, NotAfter, Digest };
    auto field = [&](Which which, const std::string& input, LONG flags) {
        Text in(input);
        BSTR out = nullptr;
        HRESULT hr = E_FAIL;
        switch (which) {
            case Serial: hr = card_->HCA_GetCertSerialNumber(in, flags, &out); break;
            case Subject: hr = card_->HCA_GetCertSubject(in, flags, &out); break;
            case Issuer: hr = card_->HCA_GetCertIssuer(in, flags, &out); break;
            case NotBefore: hr = card_->HCA_GetCertNotBefore(in, flags, &out); break;
            case NotAfter: hr = card_->HCA_GetCertNotAfter(in, flags, &out); break;
            case Digest: hr = card_->HCA_GetCertDigest(in, flags, &out); break;
        }
        EXPECT_EQ(hr, S_OK);
        return take(out);
    };
    EXPECT_EQ(field(Serial, cert, 0), "1A2B3C");
    EXPECT_EQ(field(Serial, pem, 0), "1A2B3C");
    EXPECT_NE(field(Subject, cert, 0).find("CN=Soft Card Holder"), std::string::npos);
    EXPECT_NE(field(Issuer, cert, 0).find("CN=Soft Card Test CA"), std::string::npos);

    auto stamp = [](time_t when) {
        char text[32];
        struct tm parts {};
        gmtime_r(&when, &parts);
        strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &parts);
        return std::string(text);
    };
    EXPECT_EQ(field(NotBefore, cert, 0), stamp(gnutls_x509_crt_get_activation_time(certificate())));
    EXPECT_EQ(field(NotAfter, cert, 0), stamp(gnutls_x509_crt_get_expiration_time(certificate())));

    struct Digest {
        LONG flag;
        gnutls_digest_algorithm_t digest;
    } digests[] = {{1, GNUTLS_DIG_SHA1}, {2, GNUTLS_DIG_SHA256}};
    for (const auto& [flag, digest] : digests) {
        unsigned char print[64];
        size_t size = sizeof print;
        gnutls_x509_crt_get_fingerprint(certificate(), digest, print, &size);
        std::string hex;
        for (size_t i = 0; i < size; ++i) {
            char two[3];
            snprintf(two, sizeof two, "%02X", print[i]);
            hex += two;
        }
        EXPECT_EQ(field(Digest, cert, flag), hex) << flag;
    }
    EXPECT_EQ(field(Subject, "not a certificate", 0), "");
    EXPECT_EQ(errorCode(), 9005);
}

TEST_F(SoftCardTest, PemEncodeAndDecode) {
    ASSERT_NE(card_, nullptr);
    std::string cert = certBase64();
    VARIANT title;
    VariantInit(&title);
    title.vt = VT_BSTR;
    title.bstrVal = SysAllocString(u"CERTIFICATE");
    BSTR out = nullptr;
    ASSERT_EQ(card_->HCA_Encode(Text(cert), title, &out), S_OK);
    std::string pem = take(out);
    EXPECT_EQ(pem, testsupport::readFile(readerFolder() + "/cert.pem"));
    ASSERT_EQ(card_->HCA_Decode(Text(pem), title, &out), S_OK);
    EXPECT_EQ(take(out), cert);
    VariantClear(&title);
    title.vt = VT_BSTR;
    title.bstrVal = SysAllocString(u"PRIVATE KEY");
    ASSERT_EQ(card_->HCA_Decode(Text(pem), title, &out), S_OK);  // wrong title
    EXPECT_EQ(take(out), "");
    VariantClear(&title);
}

TEST_F(SoftCardTest, SignSessionSequence) {
    ASSERT_NE(card_, nullptr);
    BSTR out = nullptr;
    LONG code = -1;
    ASSERT_EQ(card_->HCA_SignUpdate(Text("x"), 0, 2, &out), S_OK);
    EXPECT_EQ(take(out), "");
    EXPECT_EQ(errorCode(), 9007);
    EXPECT_EQ(card_->HCA_SignInitByReader(Text(kReader), Text("000000"), &code), S_OK);
    EXPECT_EQ(code, 9003);
    EXPECT_EQ(card_->HCA_SignInitByReader(Text(kReader), Text(kPin), &code), S_OK);
    EXPECT_EQ(code, 0);
    ASSERT_EQ(card_->HCA_GetInitCertificate(&out), S_OK);
    EXPECT_EQ(take(out), certBase64());
    for (const char* piece : {"first", "second"}) {
        ASSERT_EQ(card_->HCA_SignUpdate(Text(piece), 0, 3, &out), S_OK);
        EXPECT_TRUE(verifiedByGnutls(piece, fromBase64(take(out)), GNUTLS_DIG_SHA384)) << piece;
    }
    EXPECT_EQ(card_->DetectReplug(0, 0, &code), S_OK);
    EXPECT_EQ(code, 0);
    std::filesystem::rename(readerFolder() + "/card", readerFolder() + "/card.out");  // card pulled
    EXPECT_EQ(card_->DetectReplug(0, 0, &code), S_OK);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(card_->HCA_SignFinal(&code), S_OK);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(card_->HCA_SignFinal(&code), S_OK);
    EXPECT_EQ(code, 9007);
}

TEST_F(SoftCardTest, XmlTemplatesGetTheirSignature) {
    ASSERT_NE(card_, nullptr);
    const std::string xml = "<Doc><Data>1</Data><SignatureValue Id=\"s1\"/></Doc>";
    BSTR out = nullptr;
    ASSERT_EQ(card_->HCA_XMLSignTemplateByReader(Text(kReader), Text(kPin), Text(xml), Text("s1"), 2, &out), S_OK);
    std::string signedXml = take(out);
    const std::string open = "<SignatureValue Id=\"s1\">";
    size_t at = signedXml.find(open), end = signedXml.find("</SignatureValue>");
    ASSERT_NE(at, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    std::string signature = fromBase64(signedXml.substr(at + open.size(), end - at - open.size()));
    EXPECT_TRUE(verifiedByGnutls("<Doc><Data>1</Data></Doc>", signature, GNUTLS_DIG_SHA256));

    LONG code = -1;
    std::string file = sandbox_.path("signed.xml");
    EXPECT_EQ(card_->HCA_XMLSignTemplate2FileByReader(Text(kReader), Text(kPin), Text(xml), Text("s1"), Text(file), 2,
                                                      &code),
              S_OK);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(testsupport::readFile(file), signedXml);
    EXPECT_EQ(card_->HCA_XMLSignTemplate2FileUpdate(Text(xml), Text("s1"), Text(file), 2, &code), S_OK);
    EXPECT_EQ(code, 9007);  // no sign session
    ASSERT_EQ(card_->HCA_XMLSignTemplateByReader(Text(kReader), Text(kPin), Text(xml), Text("s2"), 2, &out), S_OK);
    EXPECT_EQ(take(out), "");
    EXPECT_EQ(errorCode(), 9005);
}

TEST_F(SoftCardTest, ReadersAndListResults) {
    ASSERT_NE(card_, nullptr);
    certificate();
    std::filesystem::create_directories(sandbox_.path("ProgramData/PelHCAATL/readers/Empty Reader"));
    auto names = [&](LONG flags) {
        VARIANT list;
        VariantInit(&list);
        EXPECT_EQ(card_->HCA_GetReaderNames(flags, &list), S_OK);
        EXPECT_EQ(list.vt, VT_ARRAY | VT_VARIANT);
        std::vector<std::string> out;
        LONG low = 0, high = -1;
        SafeArrayGetLBound(list.parray, 1, &low);
        SafeArrayGetUBound(list.parray, 1, &high);
        for (LONG i = low; i <= high; ++i) {
            VARIANT item;
            SafeArrayGetElement(list.parray, &i, &item);
            EXPECT_EQ(item.vt, VT_BSTR);
            out.push_back(take(item.bstrVal));
        }
        VariantClear(&list);
        return out;
    };
    EXPECT_EQ(names(0), (std::vector<std::string>{"Empty Reader", kReader}));
    EXPECT_EQ(names(1), (std::vector<std::string>{kReader}));
    LONG count = 0;
    card_->HCA_GetReaderName(0, &count);
    EXPECT_EQ(count, 2);
    card_->HCA_GetReaderName(1, &count);
    EXPECT_EQ(count, 1);
    card_->HCA_GetCardType(Text("Empty Reader"), &count);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(errorCode(), 9002);
    BSTR out = nullptr;
    card_->HCA_GetReaderNamesString(0, &out);
    EXPECT_EQ(take(out), std::string("Empty Reader;") + kReader + ";");
    VARIANT info;
    VariantInit(&info);
    ASSERT_EQ(card_->HCA_GetCardInfo(&info), S_OK);
    LONG high = 0;
    SafeArrayGetUBound(info.parray, 1, &high);
    EXPECT_EQ(high, 3);  // reader, serial number, type, subject
    VariantClear(&info);
}

TEST_F(SoftCardTest, ArmedFailuresAndSlots) {
    ASSERT_NE(card_, nullptr);
    certificate();
    testsupport::writeFile(sandbox_.path("ProgramData/PelHCAATL/fail"), "HCA_GetCardSN 0x80070005\n");
    BSTR out = nullptr;
    EXPECT_EQ(card_->HCA_GetCardSN(&out), E_ACCESSDENIED);
    SysFreeString(out);
    testsupport::writeFile(sandbox_.path("ProgramData/PelHCAATL/fail"), "create 0x80040154\n");
    HRESULT hr = S_OK;
    EXPECT_EQ(create(&hr), nullptr);
    EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);
    std::filesystem::remove(sandbox_.path("ProgramData/PelHCAATL/fail"));

    // Method n sits in slot 7 + n of the method table.
    void** table = *reinterpret_cast<void***>(card_);
    auto getErrorCode = reinterpret_cast<HRESULT (*)(IPelHCAATL*, LONG*)>(table[7]);
    auto setCodePage = reinterpret_cast<HRESULT (*)(IPelHCAATL*, LONG)>(table[7 + 31]);
    auto detectReplug = reinterpret_cast<HRESULT (*)(IPelHCAATL*, LONG, LONG, LONG*)>(table[7 + 43]);
    LONG value = -1;
    EXPECT_EQ(setCodePage(card_, -1), E_INVALIDARG);
    EXPECT_EQ(detectReplug(card_, 0, 0, &value), S_OK);
    EXPECT_EQ(value, 9007);
    EXPECT_EQ(getErrorCode(card_, &value), S_OK);
    EXPECT_EQ(value, 9007);
}

TEST(SoftCardRegistration, CommandRegistersAndUnregisters) {
    testsupport::Sandbox sandbox;
    std::string file = sandbox.path("ProgramData/Registry/CLSID/{65AEF82A-B714-4D9C-86B1-1870E65D25D5}");
    std::string command = std::string("'") + REGSVR_PROGRAM + "' '" + SOFTCARD_LIBRARY + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(testsupport::readFile(file),
              std::filesystem::absolute(SOFTCARD_LIBRARY).lexically_normal().string() + "\n");
    command = std::string("'") + REGSVR_PROGRAM + "' -u '" + SOFTCARD_LIBRARY + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_NE(std::system((std::string("'") + REGSVR_PROGRAM + "' 2> /dev/null").c_str()), 0);
}
