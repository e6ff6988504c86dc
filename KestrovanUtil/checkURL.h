#pragma once
// The unlock URL list: decides whether a page's origin is allowed by a domain list
// such as ".shop.example;127.0.0.1". Process-wide, used one request at a time.

// Replaces the list from a domain-list text and clears the check result.
void setUnlockURL(const char* domainList);
// Sets the check result when the origin is allowed; leaves it unchanged otherwise.
void unlock(const char* origin);
// The check result of the last setUnlockURL / unlock pair.
bool unlockResult();
// Empties the list again (the value store does so after every check).
void clearUnlockURL();

// Bounds that keep a hostile page from taking the regular-expression engine down.
constexpr unsigned kMaxOriginLength = 255;
constexpr unsigned kMaxDomainItemLength = 255;
constexpr unsigned kMaxDomainListLength = 4096;
constexpr unsigned kMaxDomainItems = 32;
constexpr unsigned kMaxItemWildcards = 3;
