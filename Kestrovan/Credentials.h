#pragma once
// The service's TLS credentials: two certificates (ECDSA and RSA) with their private
// keys sealed for the key routine, chosen by the operating system.
#include <cstdint>

// The RSA pair for an unidentified system (no flags) and for Windows XP, the ECDSA
// pair for everything later, Linux included.
bool useRsaCredentials(uint32_t osFlags);
// PEM text of the chosen certificate (a constant of the program).
const char* serverCertificate(bool rsa);
// The PEM private key of the chosen certificate, deciphered now; null on failure.
// The caller wipes it with PelWhiteBoxResultFinal and frees it.
char* LoadServerKey();
// The same for an explicit choice (tests present both pairs).
char* loadServerKeyFor(bool rsa);
