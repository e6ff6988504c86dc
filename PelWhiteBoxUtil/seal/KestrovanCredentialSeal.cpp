// Build tool: seals the two server private keys of this build for the key routine.
//
//   KestrovanCredentialSeal ECC_CERT RSA_CERT ECC_KEY RSA_KEY OUT_HEADER
//
// Draws a fresh table, parameter and IV, derives the AES key with the key routine
// itself, enciphers each key text (with its zero byte, PKCS#7 padded, AES-256-CBC)
// and writes a header with the certificates, the blobs and the routine's inputs.
// The cipher here is an outside one, so the service's own AES is checked against it
// on every start.
#include <nettle/aes.h>
#include <nettle/cbc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "PelWhiteBoxUtil.h"

namespace {

bool readAll(const char* path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    *out = text.str();
    return true;
}

void wipe(std::string& s) {
    volatile char* p = s.data();
    for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
}

std::string cString(const std::string& text) {
    std::string out = "    \"\\n\"\n";
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) out += "    \"" + line + "\\n\"\n";
    return out;
}

std::string byteArray(const std::vector<uint8_t>& bytes) {
    std::string out;
    char cell[8];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(cell, sizeof(cell), "0x%02X,", bytes[i]);
        out += (i % 16 == 0) ? "\n    " : " ";
        out += cell;
    }
    return out + "\n";
}

std::vector<uint8_t> seal(std::string keyText, const uint8_t key[32], const uint8_t iv[16]) {
    std::vector<uint8_t> plain(keyText.begin(), keyText.end());
    plain.push_back(0);
    size_t pad = 16 - plain.size() % 16;
    plain.insert(plain.end(), pad, static_cast<uint8_t>(pad));
    std::vector<uint8_t> cipher(plain.size());
    aes256_ctx ctx;
    aes256_set_encrypt_key(&ctx, key);
    uint8_t chain[16];
    std::memcpy(chain, iv, 16);
    cbc_encrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes256_encrypt), 16, chain, plain.size(),
                cipher.data(), plain.data());
    std::memset(&ctx, 0, sizeof(ctx));
    std::memset(plain.data(), 0, plain.size());
    wipe(keyText);
    return cipher;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s ECC_CERT RSA_CERT ECC_KEY RSA_KEY OUT_HEADER\n", argv[0]);
        return 2;
    }
    std::string certEcc, certRsa, keyEcc, keyRsa;
    if (!readAll(argv[1], &certEcc) || !readAll(argv[2], &certRsa) || !readAll(argv[3], &keyEcc) ||
        !readAll(argv[4], &keyRsa)) {
        std::fprintf(stderr, "KestrovanCredentialSeal: cannot read the credentials\n");
        return 1;
    }

    std::random_device source;
    uint16_t cells[kWhiteBoxCells];
    for (auto& c : cells) c = static_cast<uint16_t>(source());
    uint32_t parameter = source();
    uint8_t iv[16];
    for (auto& b : iv) b = static_cast<uint8_t>(source());

    uint16_t stored[kWhiteBoxCells];
    storeWhiteBoxTable(cells, stored);
    uint16_t** rows = buildWhiteBoxTable(stored);
    char* hex = rows ? getPelWhiteboxResult(rows, kWhiteBoxDimension, parameter) : nullptr;
    freeWhiteBoxTable(rows);
    if (hex == nullptr || std::strlen(hex) != 64) {
        std::fprintf(stderr, "KestrovanCredentialSeal: the key routine gave no key\n");
        return 1;
    }
    uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(std::stoul(std::string(hex + 2 * i, 2), nullptr, 16));
    char* hexBuffer = hex;
    PelWhiteBoxResultFinal(&hex);
    std::free(hexBuffer);

    std::vector<uint8_t> blobEcc = seal(keyEcc, key, iv);
    std::vector<uint8_t> blobRsa = seal(keyRsa, key, iv);
    std::memset(key, 0, sizeof(key));
    wipe(keyEcc);
    wipe(keyRsa);

    std::string out;
    out += "#pragma once\n// The server certificates of this build and their sealed keys; made by the build.\n";
    out += "#include <cstddef>\n#include <cstdint>\n\n";
    out += "static const char kServerCertEcc[] =\n" + cString(certEcc) + "    ;\n";
    out += "static const char kServerCertRsa[] =\n" + cString(certRsa) + "    ;\n";
    out += "static const uint8_t kServerKeyBlobEcc[] = {" + byteArray(blobEcc) + "};\n";
    out += "static const uint8_t kServerKeyBlobRsa[] = {" + byteArray(blobRsa) + "};\n";
    out += "static const uint8_t kServerKeyIV[16] = {" + byteArray(std::vector<uint8_t>(iv, iv + 16)) + "};\n";
    std::vector<uint8_t> table;
    for (uint16_t s : stored) {
        table.push_back(static_cast<uint8_t>(s & 0xFF));
        table.push_back(static_cast<uint8_t>(s >> 8));
    }
    out += "// The white-box table in its stored form, two bytes a cell, low byte first.\n";
    out += "static const uint8_t kWhiteBoxStored[" + std::to_string(table.size()) + "] = {" + byteArray(table) + "};\n";
    out += "static const uint32_t kWhiteBoxParameter = " + std::to_string(parameter) + "u;\n";

    std::string tmp = std::string(argv[5]) + ".tmp";
    {
        std::ofstream file(tmp, std::ios::binary | std::ios::trunc);
        file << out;
        if (!file) return 1;
    }
    if (std::rename(tmp.c_str(), argv[5]) != 0) return 1;
    return 0;
}
