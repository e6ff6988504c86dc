#include "CardCrypto.h"

#include <gnutls/abstract.h>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gnutls/pkcs7.h>
#include <gnutls/x509.h>

#include <cstring>
#include <ctime>

namespace softcard {

namespace {

gnutls_datum_t datumOf(const std::string& bytes) {
    return {reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())), static_cast<unsigned>(bytes.size())};
}

// Takes a GnuTLS-allocated datum into a string and frees it.
std::string takeDatum(gnutls_datum_t* datum) {
    std::string out(reinterpret_cast<const char*>(datum->data), datum->size);
    gnutls_free(datum->data);
    datum->data = nullptr;
    datum->size = 0;
    return out;
}

gnutls_digest_algorithm_t digestOf(Hash hash) {
    switch (hash) {
        case Hash::Sha1:
            return GNUTLS_DIG_SHA1;
        case Hash::Sha384:
            return GNUTLS_DIG_SHA384;
        case Hash::Sha512:
            return GNUTLS_DIG_SHA512;
        case Hash::Sha256:
        default:
            return GNUTLS_DIG_SHA256;
    }
}

std::string hexUpper(const unsigned char* data, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

struct Certificate {
    gnutls_x509_crt_t crt = nullptr;
    ~Certificate() {
        if (crt != nullptr) gnutls_x509_crt_deinit(crt);
    }
    bool load(const std::string& der) {
        if (gnutls_x509_crt_init(&crt) < 0) return false;
        gnutls_datum_t d = datumOf(der);
        return gnutls_x509_crt_import(crt, &d, GNUTLS_X509_FMT_DER) >= 0;
    }
};

struct PublicKey {
    gnutls_pubkey_t key = nullptr;
    ~PublicKey() {
        if (key != nullptr) gnutls_pubkey_deinit(key);
    }
    bool load(const std::string& der) {
        Certificate cert;
        if (!cert.load(der) || gnutls_pubkey_init(&key) < 0) return false;
        return gnutls_pubkey_import_x509(key, cert.crt, 0) >= 0;
    }
};

struct PrivateKey {
    gnutls_privkey_t key = nullptr;
    ~PrivateKey() {
        if (key != nullptr) gnutls_privkey_deinit(key);
    }
    bool load(const std::string& pem) {
        if (gnutls_privkey_init(&key) < 0) return false;
        gnutls_datum_t d = datumOf(pem);
        return gnutls_privkey_import_x509_raw(key, &d, GNUTLS_X509_FMT_PEM, nullptr, 0) >= 0;
    }
};

std::string timeText(time_t when) {
    struct tm parts {};
    gmtime_r(&when, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &parts);
    return text;
}

// The signature that buildPkcs7 hands over, returned whatever GnuTLS asks to sign;
// the finished structure is verified afterwards (against the data itself: the fresh
// structure does not read back its own embedded copy), so a wrong one is caught there.
struct GivenSignature {
    const std::string* signature;
    int bits;
    gnutls_pk_algorithm_t algorithm;
};

int giveSignature(gnutls_privkey_t, gnutls_sign_algorithm_t, void* user, unsigned, const gnutls_datum_t*,
                  gnutls_datum_t* out) {
    auto* given = static_cast<GivenSignature*>(user);
    out->data = static_cast<unsigned char*>(gnutls_malloc(given->signature->size()));
    if (out->data == nullptr) return GNUTLS_E_MEMORY_ERROR;
    std::memcpy(out->data, given->signature->data(), given->signature->size());
    out->size = static_cast<unsigned>(given->signature->size());
    return 0;
}

int giveSignatureData(gnutls_privkey_t key, gnutls_sign_algorithm_t algo, void* user, unsigned flags,
                      const gnutls_datum_t* data, gnutls_datum_t* out) {
    return giveSignature(key, algo, user, flags, data, out);
}

int givenKeyInfo(gnutls_privkey_t, unsigned flags, void* user) {
    auto* given = static_cast<GivenSignature*>(user);
    if (flags & GNUTLS_PRIVKEY_INFO_PK_ALGO) return given->algorithm;
    if (flags & GNUTLS_PRIVKEY_INFO_PK_ALGO_BITS) return given->bits;
    if (flags & GNUTLS_PRIVKEY_INFO_HAVE_SIGN_ALGO) return 1;
    return -1;
}

}  // namespace

bool hashFromFlag(long flag, Hash* hash) {
    switch (flag) {
        case 0:
        case 2:
            *hash = Hash::Sha256;
            return true;
        case 1:
            *hash = Hash::Sha1;
            return true;
        case 3:
            *hash = Hash::Sha384;
            return true;
        case 4:
            *hash = Hash::Sha512;
            return true;
        default:
            return false;
    }
}

bool base64Decode(const std::string& text, std::string* bytes) {
    std::string clean;
    for (char c : text)
        if (c != '\r' && c != '\n' && c != ' ' && c != '\t') clean.push_back(c);
    if (clean.empty()) {
        bytes->clear();
        return true;
    }
    gnutls_datum_t in = datumOf(clean), out{};
    if (gnutls_base64_decode2(&in, &out) < 0) return false;
    *bytes = takeDatum(&out);
    return true;
}

std::string base64Encode(const std::string& bytes) {
    if (bytes.empty()) return {};
    gnutls_datum_t in = datumOf(bytes), out{};
    if (gnutls_base64_encode2(&in, &out) < 0) return {};
    return takeDatum(&out);
}

bool certificateDer(const std::string& text, std::string* der) {
    if (text.find("-----BEGIN") != std::string::npos) {
        gnutls_datum_t in = datumOf(text), out{};
        if (gnutls_pem_base64_decode2(nullptr, &in, &out) < 0) return false;
        *der = takeDatum(&out);
    } else if (!base64Decode(text, der)) {
        return false;
    }
    Certificate cert;
    return !der->empty() && cert.load(*der);
}

std::string certificatePem(const std::string& der) { return pemEncode("CERTIFICATE", der); }

bool certificateField(const std::string& der, CertField field, std::string* out) {
    Certificate cert;
    if (!cert.load(der)) return false;
    gnutls_datum_t text{};
    switch (field) {
        case CertField::Serial: {
            unsigned char serial[64];
            size_t size = sizeof serial;
            if (gnutls_x509_crt_get_serial(cert.crt, serial, &size) < 0) return false;
            *out = hexUpper(serial, size);
            return true;
        }
        case CertField::Subject:
            if (gnutls_x509_crt_get_dn3(cert.crt, &text, 0) < 0) return false;
            *out = takeDatum(&text);
            return true;
        case CertField::Issuer:
            if (gnutls_x509_crt_get_issuer_dn3(cert.crt, &text, 0) < 0) return false;
            *out = takeDatum(&text);
            return true;
        case CertField::NotBefore:
            *out = timeText(gnutls_x509_crt_get_activation_time(cert.crt));
            return true;
        case CertField::NotAfter:
            *out = timeText(gnutls_x509_crt_get_expiration_time(cert.crt));
            return true;
    }
    return false;
}

bool certificateDigest(const std::string& der, Hash hash, std::string* out) {
    Certificate cert;
    if (!cert.load(der)) return false;
    unsigned char digest[64];
    if (gnutls_hash_fast(digestOf(hash), der.data(), der.size(), digest) < 0) return false;
    *out = hexUpper(digest, gnutls_hash_get_len(digestOf(hash)));
    return true;
}

bool signData(const std::string& keyPem, Hash hash, const std::string& data, std::string* signature) {
    PrivateKey key;
    if (!key.load(keyPem)) return false;
    gnutls_datum_t in = datumOf(data), out{};
    if (gnutls_privkey_sign_data(key.key, digestOf(hash), 0, &in, &out) < 0) return false;
    *signature = takeDatum(&out);
    return true;
}

bool signDigest(const std::string& keyPem, Hash hash, const std::string& digest, std::string* signature) {
    if (digest.size() != gnutls_hash_get_len(digestOf(hash))) return false;
    PrivateKey key;
    if (!key.load(keyPem)) return false;
    gnutls_datum_t in = datumOf(digest), out{};
    if (gnutls_privkey_sign_hash(key.key, digestOf(hash), 0, &in, &out) < 0) return false;
    *signature = takeDatum(&out);
    return true;
}

bool verifyData(const std::string& der, const std::string& data, const std::string& signature) {
    PublicKey key;
    if (!key.load(der)) return false;
    int algorithm = gnutls_pubkey_get_pk_algorithm(key.key, nullptr);
    gnutls_datum_t in = datumOf(data), sig = datumOf(signature);
    for (Hash hash : {Hash::Sha256, Hash::Sha1, Hash::Sha384, Hash::Sha512}) {
        gnutls_sign_algorithm_t scheme =
            gnutls_pk_to_sign(static_cast<gnutls_pk_algorithm_t>(algorithm), digestOf(hash));
        if (scheme == GNUTLS_SIGN_UNKNOWN) continue;
        if (gnutls_pubkey_verify_data2(key.key, scheme, 0, &in, &sig) >= 0) return true;
    }
    return false;
}

bool encryptTo(const std::string& der, const std::string& plain, std::string* cipher) {
    PublicKey key;
    if (!key.load(der)) return false;
    gnutls_datum_t in = datumOf(plain), out{};
    if (gnutls_pubkey_encrypt_data(key.key, 0, &in, &out) < 0) return false;
    *cipher = takeDatum(&out);
    return true;
}

bool decryptWith(const std::string& keyPem, const std::string& cipher, std::string* plain) {
    PrivateKey key;
    if (!key.load(keyPem)) return false;
    gnutls_datum_t in = datumOf(cipher), out{};
    if (gnutls_privkey_decrypt_data(key.key, 0, &in, &out) < 0) return false;
    plain->assign(reinterpret_cast<const char*>(out.data), out.size);
    std::memset(out.data, 0, out.size);
    gnutls_free(out.data);
    return true;
}

bool buildPkcs7(const std::string& der, const std::string& data, const std::string& signature, Hash hash,
                bool embedData, std::string* out) {
    Certificate cert;
    PublicKey pub;
    if (!cert.load(der) || !pub.load(der) || signature.empty()) return false;
    unsigned bits = 0;
    int algorithm = gnutls_pubkey_get_pk_algorithm(pub.key, &bits);
    GivenSignature given{&signature, static_cast<int>(bits), static_cast<gnutls_pk_algorithm_t>(algorithm)};
    gnutls_privkey_t signer = nullptr;
    if (gnutls_privkey_init(&signer) < 0) return false;
    bool built = false;
    gnutls_pkcs7_t pkcs7 = nullptr;
    if (gnutls_privkey_import_ext4(signer, &given, giveSignatureData, giveSignature, nullptr, nullptr, givenKeyInfo,
                                   0) >= 0 &&
        gnutls_pkcs7_init(&pkcs7) >= 0) {
        gnutls_datum_t content = datumOf(data);
        unsigned flags = GNUTLS_PKCS7_INCLUDE_CERT | (embedData ? GNUTLS_PKCS7_EMBED_DATA : 0);
        if (gnutls_pkcs7_sign(pkcs7, cert.crt, signer, &content, nullptr, nullptr, digestOf(hash), flags) >= 0 &&
            gnutls_pkcs7_verify_direct(pkcs7, cert.crt, 0, &content, 0) >= 0) {
            gnutls_datum_t encoded{};
            if (gnutls_pkcs7_export2(pkcs7, GNUTLS_X509_FMT_DER, &encoded) >= 0) {
                *out = takeDatum(&encoded);
                built = true;
            }
        }
    }
    if (pkcs7 != nullptr) gnutls_pkcs7_deinit(pkcs7);
    gnutls_privkey_deinit(signer);
    return built;
}

std::string pemEncode(const std::string& title, const std::string& der) {
    gnutls_datum_t in = datumOf(der), out{};
    if (der.empty() || gnutls_pem_base64_encode2(title.c_str(), &in, &out) < 0) return {};
    return takeDatum(&out);
}

bool pemDecode(const std::string& title, const std::string& pem, std::string* der) {
    gnutls_datum_t in = datumOf(pem), out{};
    if (gnutls_pem_base64_decode2(title.empty() ? nullptr : title.c_str(), &in, &out) < 0) return false;
    *der = takeDatum(&out);
    return true;
}

void wipe(std::string& secret) {
    volatile char* p = secret.data();
    for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
    secret.clear();
}

}  // namespace softcard
