#pragma once
// The software card's configuration folder: readers, the cards in them, PIN state and
// the failure rules. Read afresh on every use, so a test or a user can insert or
// remove a card, or arm a failure, between two calls.
#include <string>
#include <vector>

#include "platform/com/types.h"

namespace softcard {

constexpr long kMaxRetries = 3;

// Codes that HCA_GetErrorCode reports.
enum CardCode : long {
    kCardOk = 0,
    kNoReader = 9001,
    kNoCard = 9002,
    kWrongPin = 9003,
    kPinLocked = 9004,
    kBadInput = 9005,
    kCryptoFailed = 9006,
    kNoSession = 9007,
    kWriteFailed = 9008,
};

struct Card {
    std::string reader;   // name of the reader holding it
    std::string folder;   // the reader's folder
    std::vector<std::pair<std::string, std::string>> records;  // the lines of "card"
    std::string certDer;  // certificate, DER
};

// The configuration folder in use: <CommonAppData>/PelHCAATL, filled from the
// "card" folder beside this library when it does not exist yet.
std::string configFolder();
// Reader names in name order.
std::vector<std::string> readerNames();
// The card in the named reader (an empty name takes the first reader holding a card).
// kNoReader / kNoCard when there is none.
long findCard(const std::string& reader, Card* card);
std::string cardRecord(const Card& card, const std::string& label);  // "" when missing
bool hasRecord(const Card& card, const std::string& label);

// Checks the PIN against the card: a wrong one spends a try, a right one restores them;
// with no tries left even the right one is refused (kPinLocked).
long checkPin(const Card& card, const std::string& pin);
long retriesLeft(const Card& card);
// The card's private key (PEM), empty when unreadable; the caller wipes it.
std::string cardKey(const Card& card);

// The failing HRESULT armed for a method in the "fail" file ("create" for creation),
// S_OK when none is.
HRESULT armedFailure(const char* method);
// Opens a window of the card's own during the method when the configuration asks
// for one (file "window": "<Method> <delay ms> <hold ms> <title>"), like a PIN prompt.
void openArmedWindow(const char* method);

}  // namespace softcard
