#pragma once
// The card's certificate and signature work, done with GnuTLS. Byte strings are
// std::string; every routine returns false (or an empty text) on failure.
#include <string>

namespace softcard {

enum class Hash { Sha1, Sha256, Sha384, Sha512 };

// The hash flag of the methods: 1 SHA-1, 0 or 2 SHA-256, 3 SHA-384, 4 SHA-512.
bool hashFromFlag(long flag, Hash* hash);

bool base64Decode(const std::string& text, std::string* bytes);
std::string base64Encode(const std::string& bytes);

// A certificate given as PEM text or as base64 of its DER form, as DER bytes.
bool certificateDer(const std::string& text, std::string* der);
std::string certificatePem(const std::string& der);

enum class CertField { Serial, Subject, Issuer, NotBefore, NotAfter };
// Serial as upper-case hex, names in RFC 4514 form, times as "YYYYMMDDHHMMSSZ" (UTC).
bool certificateField(const std::string& der, CertField field, std::string* out);
// Upper-case hex digest of the DER form.
bool certificateDigest(const std::string& der, Hash hash, std::string* out);

// PKCS#1 v1.5 (or the key type's own scheme) signature of data / of a ready digest
// with the private key in PEM form.
bool signData(const std::string& keyPem, Hash hash, const std::string& data, std::string* signature);
bool signDigest(const std::string& keyPem, Hash hash, const std::string& digest, std::string* signature);
// True when signature is the certificate key's signature of data under any of the four hashes.
bool verifyData(const std::string& der, const std::string& data, const std::string& signature);

bool encryptTo(const std::string& der, const std::string& plain, std::string* cipher);
bool decryptWith(const std::string& keyPem, const std::string& cipher, std::string* plain);

// A PKCS#7 signed-data (DER) that carries a signature made elsewhere over data by the
// certificate's key, without signed attributes; false when the signature does not verify.
bool buildPkcs7(const std::string& der, const std::string& data, const std::string& signature, Hash hash,
                bool embedData, std::string* out);

std::string pemEncode(const std::string& title, const std::string& der);
bool pemDecode(const std::string& title, const std::string& pem, std::string* der);

// Overwrites a string that held a secret before it goes.
void wipe(std::string& secret);

}  // namespace softcard
