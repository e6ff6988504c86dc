// TLS credentials and the key routine's caller.
#include "Credentials.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KestrovanUtil/AES.h"
#include "KestrovanUtil/Log.h"
#include "KestrovanUtil/Text.h"
#include "KestrovanUtil/Tool.h"
#include "PelWhiteBoxUtil.h"
#include "ServerCredentials.h"

namespace {

constexpr uint32_t kOsWindowsXP = 0x1;

}  // namespace

bool useRsaCredentials(uint32_t osFlags) {
    uint32_t system = osFlags & ~(kOs32Bit | kOs64Bit);
    return system == 0 || (system & kOsWindowsXP) != 0;
}

const char* serverCertificate(bool rsa) { return rsa ? kServerCertRsa : kServerCertEcc; }

char* loadServerKeyFor(bool rsa) {
    uint16_t stored[kWhiteBoxCells];
    for (int k = 0; k < kWhiteBoxCells; ++k)
        stored[k] = static_cast<uint16_t>(kWhiteBoxStored[2 * k] | kWhiteBoxStored[2 * k + 1] << 8);
    uint16_t** table = buildWhiteBoxTable(stored);
    char* hex = nullptr;
    if (table == nullptr) {
        std::printf("Memory allocation fail\n");
    } else {
        hex = getPelWhiteboxResult(table, kWhiteBoxDimension, kWhiteBoxParameter);
        freeWhiteBoxTable(table);
    }
    secureZero(stored, sizeof(stored));
    if (hex == nullptr) {
        REPORT_ALLOC();
        PelWhiteBoxResultFinal(&hex);
        return nullptr;
    }

    char* keyText = nullptr;
    size_t keyLength = 0;
    uint8_t* keyBytes = hexDecode(hex, &keyLength);
    if (keyBytes == nullptr || keyLength != kAes256KeySize) {
        REPORT_ALLOC();
    } else {
        const uint8_t* blob = rsa ? kServerKeyBlobRsa : kServerKeyBlobEcc;
        size_t blobLength = rsa ? sizeof(kServerKeyBlobRsa) : sizeof(kServerKeyBlobEcc);
        keyText = decryptKestrovanValue(blob, blobLength, keyBytes, kServerKeyIV);
        if (keyText == nullptr) REPORT_ALLOC();
    }
    if (keyBytes != nullptr) {
        secureZero(keyBytes, keyLength);
        std::free(keyBytes);
    }

    char* hexBuffer = hex;
    PelWhiteBoxResultFinal(&hex);
    std::free(hexBuffer);
    return keyText;
}

char* LoadServerKey() { return loadServerKeyFor(useRsaCredentials(detectOS())); }
