#include "SoftCard.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "CardCrypto.h"

namespace softcard {

std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

namespace {

const char* const kMethodNames[kPelHCAATLMethodCount] = {
    "HCA_GetErrorCode", "HCA_Encode", "HCA_GetCardSN", "HCA_GetCardType", "HCA_GetCardInfo",
    "HCA_GetCertSerialNumber", "HCA_GetCertSubject", "HCA_GetCertIssuer", "HCA_GetCertNotBefore",
    "HCA_GetCertNotAfter", "HCA_GetCertDigest", "HCA_Verify", "HCA_Decode", "HCA_GetRecord", "HCA_ListReaders",
    "HCA_GetHCBasicData", "HCA_GetReaderName", "HCA_HPCBasicDataByReader", "HCA_GetCertificateByReader",
    "HCA_SignByReader", "HCA_GetHCBasicDataByReader", "HCA_GetReaderNames", "HCA_GetHOPBasicDataByReader",
    "HCA_PureSignByReader", "HCA_GetRetryCounter", "HCA_GetReaderNamesString",
    "HCA_GetHOPBasicDataStringByReader", "HCA_GetHCBasicDataStringByReader", "HCA_GetHPCBasicDataStringByReader",
    "HCA_GetCardInfoByReader", "HCA_GeneratePKCS7", "SetCodePage", "HCA_Encrypt", "HCA_DecryptByReader",
    "HCA_SignInitByReader", "HCA_SignUpdate", "HCA_SignFinal", "HCA_XMLSignTemplateByReader",
    "HCA_XMLSignTemplateUpdate", "HCA_XMLSignTemplate2FileByReader", "HCA_XMLSignTemplate2FileUpdate",
    "HCA_PureSignUpdate", "HCA_GetInitCertificate", "DetectReplug",
};

// UTF-16 (with surrogate pairs) to UTF-8; lone surrogates become U+FFFD.
std::string utf8(const OLECHAR* text, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string utf8(BSTR text) { return utf8(text, SysStringLen(text)); }

// UTF-8 to UTF-16; a byte that does not start a well-formed sequence becomes U+FFFD.
std::u16string utf16(const std::string& text) {
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        size_t extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : 4;
        uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
        bool valid = extra < 4 && i + extra < text.size();
        for (size_t k = 1; valid && k <= extra; ++k) {
            unsigned char t = static_cast<unsigned char>(text[i + k]);
            valid = (t >> 6) == 2;
            c = (c << 6) | (t & 0x3F);
        }
        if (!valid || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            c = 0xFFFD;
            extra = 0;
        }
        i += extra + 1;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

HRESULT textOut(BSTR* out, const std::string& text) {
    std::u16string wide = utf16(text);
    *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

// A list result: a VT_ARRAY | VT_VARIANT of strings.
HRESULT listOut(VARIANT* out, const std::vector<std::string>& items) {
    VariantInit(out);
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
    if (array == nullptr) return E_OUTOFMEMORY;
    for (size_t i = 0; i < items.size(); ++i) {
        VARIANT item;
        VariantInit(&item);
        if (FAILED(textOut(&item.bstrVal, items[i]))) {
            SafeArrayDestroy(array);
            return E_OUTOFMEMORY;
        }
        item.vt = VT_BSTR;
        LONG index = static_cast<LONG>(i);
        HRESULT hr = SafeArrayPutElement(array, &index, &item);
        VariantClear(&item);
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            return hr;
        }
    }
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = array;
    return S_OK;
}

std::vector<std::string> splitFields(const std::string& text) {
    std::vector<std::string> fields;
    if (text.empty()) return fields;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        fields.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return fields;
}

// The bytes a method works on: base64 of them when bit 0 of the flags is set, else the text itself.
bool inputBytes(BSTR text, LONG flags, std::string* bytes) {
    std::string plain = utf8(text);
    if ((flags & 1) == 0) {
        *bytes = plain;
        return true;
    }
    bool ok = base64Decode(plain, bytes);
    wipe(plain);
    return ok;
}

// Every method starts here: a failure armed for it in the configuration wins.
#define CARD_ENTER(name)                                 \
    do {                                                 \
        HRESULT armed = armedFailure(name);              \
        if (FAILED(armed)) return armed;                 \
        openArmedWindow(name);                           \
    } while (0)

const char* const kSignaturePlaceholder = "<SignatureValue Id=\"%s\"/>";

std::string placeholderFor(const std::string& id) {
    std::string mark = kSignaturePlaceholder;
    return mark.replace(mark.find("%s"), 2, id);
}

}  // namespace

SoftCard::SoftCard() { ++liveObjects; }

SoftCard::~SoftCard() {
    closeSession();
    --liveObjects;
}

HRESULT SoftCard::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IPelHCAATL) {
        *object = static_cast<IPelHCAATL*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG SoftCard::AddRef() { return ++references_; }

ULONG SoftCard::Release() {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

HRESULT SoftCard::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT SoftCard::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
}

// Method n has the dispatch id n + 1; late binding itself (Invoke) is not offered.
HRESULT SoftCard::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (names == nullptr || ids == nullptr) return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = -1;
        std::string name = names[i] != nullptr ? utf8(names[i], std::char_traits<char16_t>::length(names[i])) : "";
        for (int n = 0; n < kPelHCAATLMethodCount; ++n)
            if (name == kMethodNames[n]) ids[i] = n + 1;
        if (ids[i] < 0) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT SoftCard::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) { return E_NOTIMPL; }

void SoftCard::closeSession() {
    session_ = false;
    wipe(sessionKey_);
    sessionCard_ = Card{};
}

long SoftCard::openCard(BSTR readername, BSTR pincode, Card* card, std::string* key) {
    long code = findCard(utf8(readername), card);
    if (code != kCardOk) return code;
    lastReader_ = card->reader;
    std::string pin = utf8(pincode);
    code = checkPin(*card, pin);
    wipe(pin);
    if (code != kCardOk) return code;
    *key = cardKey(*card);
    return key->empty() ? kNoCard : kCardOk;
}

HRESULT SoftCard::sign(const Card&, const std::string& key, BSTR bData, LONG iFlags, LONG iHashFlag, bool digest,
                       BSTR* result) {
    Hash hash;
    std::string data, signature;
    if (!hashFromFlag(iHashFlag, &hash) || !inputBytes(bData, iFlags, &data)) {
        lastCode_ = kBadInput;
        return textOut(result, "");
    }
    bool ok = digest ? signDigest(key, hash, data, &signature) : signData(key, hash, data, &signature);
    wipe(data);
    lastCode_ = ok ? kCardOk : (digest ? kBadInput : kCryptoFailed);
    return textOut(result, ok ? base64Encode(signature) : "");
}

HRESULT SoftCard::basicData(const char* method, const char* record, BSTR readername, VARIANT* list, BSTR* text) {
    CARD_ENTER(method);
    if ((list == nullptr && text == nullptr)) return E_POINTER;
    Card card;
    lastCode_ = findCard(readername != nullptr ? utf8(readername) : "", &card);
    std::string fields = lastCode_ == kCardOk ? cardRecord(card, record) : "";
    if (list != nullptr) return listOut(list, splitFields(fields));
    return textOut(text, fields);
}

HRESULT SoftCard::certificateText(const char* method, BSTR strCert, LONG iFlags, int field, BSTR* result) {
    CARD_ENTER(method);
    if (result == nullptr) return E_POINTER;
    std::string der, text;
    bool ok = certificateDer(utf8(strCert), &der);
    if (ok && field < 0) {
        Hash hash;
        ok = hashFromFlag(iFlags, &hash) && certificateDigest(der, hash, &text);
    } else if (ok) {
        ok = certificateField(der, static_cast<CertField>(field), &text);
    }
    lastCode_ = ok ? kCardOk : kBadInput;
    return textOut(result, text);
}

HRESULT SoftCard::HCA_GetErrorCode(LONG* result) {
    CARD_ENTER("HCA_GetErrorCode");
    if (result == nullptr) return E_POINTER;
    *result = static_cast<LONG>(lastCode_);
    return S_OK;
}

HRESULT SoftCard::HCA_Encode(BSTR strData, VARIANT strPemTitle, BSTR* result) {
    CARD_ENTER("HCA_Encode");
    if (result == nullptr) return E_POINTER;
    std::string title = strPemTitle.vt == VT_BSTR ? utf8(strPemTitle.bstrVal) : "";
    if (title.empty()) title = "CERTIFICATE";
    std::string der;
    bool ok = base64Decode(utf8(strData), &der) && !der.empty();
    std::string pem = ok ? pemEncode(title, der) : "";
    lastCode_ = pem.empty() ? kBadInput : kCardOk;
    return textOut(result, pem);
}

HRESULT SoftCard::HCA_GetCardSN(BSTR* result) {
    CARD_ENTER("HCA_GetCardSN");
    if (result == nullptr) return E_POINTER;
    Card card;
    lastCode_ = findCard("", &card);
    return textOut(result, lastCode_ == kCardOk ? cardRecord(card, "sn") : "");
}

HRESULT SoftCard::HCA_GetCardType(BSTR readername, LONG* result) {
    CARD_ENTER("HCA_GetCardType");
    if (result == nullptr) return E_POINTER;
    Card card;
    lastCode_ = findCard(utf8(readername), &card);
    *result = lastCode_ == kCardOk ? static_cast<LONG>(std::strtol(cardRecord(card, "type").c_str(), nullptr, 10)) : -1;
    return S_OK;
}

HRESULT SoftCard::HCA_GetCardInfo(VARIANT* result) {
    CARD_ENTER("HCA_GetCardInfo");
    return cardInfo(nullptr, result);
}

HRESULT SoftCard::HCA_GetCertSerialNumber(BSTR strCert, LONG iFlags, BSTR* result) {
    return certificateText("HCA_GetCertSerialNumber", strCert, iFlags, static_cast<int>(CertField::Serial), result);
}
HRESULT SoftCard::HCA_GetCertSubject(BSTR strCert, LONG iFlags, BSTR* result) {
    return certificateText("HCA_GetCertSubject", strCert, iFlags, static_cast<int>(CertField::Subject), result);
}
HRESULT SoftCard::HCA_GetCertIssuer(BSTR strCert, LONG iFlags, BSTR* result) {
    return certificateText("HCA_GetCertIssuer", strCert, iFlags, static_cast<int>(CertField::Issuer), result);
}
HRESULT SoftCard::HCA_GetCertNotBefore(BSTR strCert, LONG iFlags, BSTR* result) {
    return certificateText("HCA_GetCertNotBefore", strCert, iFlags, static_cast<int>(CertField::NotBefore), result);
}
HRESULT SoftCard::HCA_GetCertNotAfter(BSTR strCert, LONG iFlags, BSTR* result) {
    return certificateText("HCA_GetCertNotAfter", strCert, iFlags, static_cast<int>(CertField::NotAfter), result);
}
HRESULT SoftCard::HCA_GetCertDigest(BSTR strCert, LONG iFlags, BSTR* result) {
    return certificateText("HCA_GetCertDigest", strCert, iFlags, -1, result);
}

HRESULT SoftCard::HCA_Verify(BSTR strCert, BSTR strSignature, BSTR pData, LONG iFlags, LONG* result) {
    CARD_ENTER("HCA_Verify");
    if (result == nullptr) return E_POINTER;
    std::string der, signature, data;
    if (!certificateDer(utf8(strCert), &der) || !base64Decode(utf8(strSignature), &signature) ||
        !inputBytes(pData, iFlags, &data)) {
        lastCode_ = kBadInput;
    } else {
        lastCode_ = verifyData(der, data, signature) ? kCardOk : kCryptoFailed;
    }
    *result = static_cast<LONG>(lastCode_);
    return S_OK;
}

HRESULT SoftCard::HCA_Decode(BSTR strEncoded, VARIANT strPemTitle, BSTR* result) {
    CARD_ENTER("HCA_Decode");
    if (result == nullptr) return E_POINTER;
    std::string title = strPemTitle.vt == VT_BSTR ? utf8(strPemTitle.bstrVal) : "";
    std::string der;
    bool ok = pemDecode(title, utf8(strEncoded), &der);
    lastCode_ = ok ? kCardOk : kBadInput;
    return textOut(result, ok ? base64Encode(der) : "");
}

HRESULT SoftCard::HCA_GetRecord(BSTR readername, BSTR strLabel, BSTR* result) {
    CARD_ENTER("HCA_GetRecord");
    if (result == nullptr) return E_POINTER;
    Card card;
    lastCode_ = findCard(utf8(readername), &card);
    std::string label = utf8(strLabel);
    if (lastCode_ == kCardOk && !hasRecord(card, label)) lastCode_ = kBadInput;
    return textOut(result, lastCode_ == kCardOk ? cardRecord(card, label) : "");
}

HRESULT SoftCard::HCA_ListReaders(VARIANT* result) {
    CARD_ENTER("HCA_ListReaders");
    return readerList(0, result);
}

HRESULT SoftCard::HCA_GetHCBasicData(VARIANT* result) {
    return basicData("HCA_GetHCBasicData", "HC", nullptr, result, nullptr);
}

HRESULT SoftCard::HCA_GetReaderName(LONG flag, LONG* result) {
    CARD_ENTER("HCA_GetReaderName");
    if (result == nullptr) return E_POINTER;
    LONG count = 0;
    for (const std::string& name : readerNames()) {
        Card card;
        if ((flag & 1) == 0 || findCard(name, &card) == kCardOk) ++count;
    }
    lastCode_ = kCardOk;
    *result = count;
    return S_OK;
}

HRESULT SoftCard::HCA_HPCBasicDataByReader(BSTR readername, LONG, VARIANT* result) {
    return basicData("HCA_HPCBasicDataByReader", "HPC", readername, result, nullptr);
}

HRESULT SoftCard::HCA_GetCertificateByReader(BSTR readername, BSTR pincode, LONG iFlags, BSTR* result) {
    CARD_ENTER("HCA_GetCertificateByReader");
    if (result == nullptr) return E_POINTER;
    Card card;
    lastCode_ = findCard(utf8(readername), &card);
    // The certificate is public: a PIN is checked only when one is given.
    if (lastCode_ == kCardOk && SysStringLen(pincode) > 0) {
        std::string pin = utf8(pincode);
        lastCode_ = checkPin(card, pin);
        wipe(pin);
    }
    if (lastCode_ == kCardOk) lastReader_ = card.reader;
    if (lastCode_ != kCardOk) return textOut(result, "");
    return textOut(result, (iFlags & 1) ? certificatePem(card.certDer) : base64Encode(card.certDer));
}

HRESULT SoftCard::HCA_SignByReader(BSTR readername, BSTR pincode, BSTR bData, LONG iFlags, LONG iHashFlag,
                                   BSTR* result) {
    CARD_ENTER("HCA_SignByReader");
    if (result == nullptr) return E_POINTER;
    Card card;
    std::string key;
    lastCode_ = openCard(readername, pincode, &card, &key);
    if (lastCode_ != kCardOk) return textOut(result, "");
    HRESULT hr = sign(card, key, bData, iFlags, iHashFlag, false, result);
    wipe(key);
    return hr;
}

HRESULT SoftCard::HCA_GetHCBasicDataByReader(BSTR readername, LONG, VARIANT* result) {
    return basicData("HCA_GetHCBasicDataByReader", "HC", readername, result, nullptr);
}

HRESULT SoftCard::HCA_GetReaderNames(LONG iFlags, VARIANT* result) {
    CARD_ENTER("HCA_GetReaderNames");
    return readerList(iFlags, result);
}

HRESULT SoftCard::readerList(LONG iFlags, VARIANT* result) {
    if (result == nullptr) return E_POINTER;
    std::vector<std::string> names;
    for (const std::string& name : readerNames()) {
        Card card;
        if ((iFlags & 1) == 0 || findCard(name, &card) == kCardOk) names.push_back(name);
    }
    lastCode_ = names.empty() ? kNoReader : kCardOk;
    return listOut(result, names);
}

HRESULT SoftCard::HCA_GetHOPBasicDataByReader(BSTR readername, LONG, VARIANT* result) {
    return basicData("HCA_GetHOPBasicDataByReader", "HOP", readername, result, nullptr);
}

HRESULT SoftCard::HCA_PureSignByReader(BSTR readername, BSTR pincode, BSTR bData, LONG iFlags, LONG iHashFlag,
                                       BSTR* result) {
    CARD_ENTER("HCA_PureSignByReader");
    if (result == nullptr) return E_POINTER;
    Card card;
    std::string key;
    lastCode_ = openCard(readername, pincode, &card, &key);
    if (lastCode_ != kCardOk) return textOut(result, "");
    HRESULT hr = sign(card, key, bData, iFlags, iHashFlag, true, result);
    wipe(key);
    return hr;
}

HRESULT SoftCard::HCA_GetRetryCounter(LONG* result) {
    CARD_ENTER("HCA_GetRetryCounter");
    if (result == nullptr) return E_POINTER;
    Card card;
    long code = findCard(lastReader_, &card);
    if (code != kCardOk && !lastReader_.empty()) code = findCard("", &card);
    lastCode_ = code;
    *result = code == kCardOk ? static_cast<LONG>(retriesLeft(card)) : -1;
    return S_OK;
}

HRESULT SoftCard::HCA_GetReaderNamesString(LONG iFlags, BSTR* result) {
    CARD_ENTER("HCA_GetReaderNamesString");
    if (result == nullptr) return E_POINTER;
    std::string text;
    for (const std::string& name : readerNames()) {
        Card card;
        if ((iFlags & 1) == 0 || findCard(name, &card) == kCardOk) text += name + ";";
    }
    lastCode_ = text.empty() ? kNoReader : kCardOk;
    return textOut(result, text);
}

HRESULT SoftCard::HCA_GetHOPBasicDataStringByReader(BSTR readername, LONG, BSTR* result) {
    return basicData("HCA_GetHOPBasicDataStringByReader", "HOP", readername, nullptr, result);
}
HRESULT SoftCard::HCA_GetHCBasicDataStringByReader(BSTR readername, LONG, BSTR* result) {
    return basicData("HCA_GetHCBasicDataStringByReader", "HC", readername, nullptr, result);
}
HRESULT SoftCard::HCA_GetHPCBasicDataStringByReader(BSTR readername, LONG, BSTR* result) {
    return basicData("HCA_GetHPCBasicDataStringByReader", "HPC", readername, nullptr, result);
}

HRESULT SoftCard::HCA_GetCardInfoByReader(BSTR readername, LONG, VARIANT* result) {
    CARD_ENTER("HCA_GetCardInfoByReader");
    return cardInfo(readername, result);
}

// Reader, card serial number, card type and certificate subject.
HRESULT SoftCard::cardInfo(BSTR readername, VARIANT* result) {
    if (result == nullptr) return E_POINTER;
    Card card;
    lastCode_ = findCard(utf8(readername), &card);
    std::vector<std::string> info;
    if (lastCode_ == kCardOk) {
        std::string subject;
        certificateField(card.certDer, CertField::Subject, &subject);
        info = {card.reader, cardRecord(card, "sn"), cardRecord(card, "type"), subject};
    }
    return listOut(result, info);
}

HRESULT SoftCard::HCA_GeneratePKCS7(BSTR signature, BSTR cert, BSTR data, LONG flag, LONG iHashFlag, BSTR* result) {
    CARD_ENTER("HCA_GeneratePKCS7");
    if (result == nullptr) return E_POINTER;
    Hash hash;
    std::string der, sig, bytes, pkcs7;
    bool ok = hashFromFlag(iHashFlag, &hash) && certificateDer(utf8(cert), &der) &&
              base64Decode(utf8(signature), &sig) && inputBytes(data, flag, &bytes);
    if (!ok) {
        lastCode_ = kBadInput;
        return textOut(result, "");
    }
    ok = buildPkcs7(der, bytes, sig, hash, (flag & 2) != 0, &pkcs7);
    wipe(bytes);
    lastCode_ = ok ? kCardOk : kCryptoFailed;
    return textOut(result, ok ? base64Encode(pkcs7) : "");
}

HRESULT SoftCard::SetCodePage(LONG codepage) {
    CARD_ENTER("SetCodePage");
    if (codepage < 0) return E_INVALIDARG;
    codePage_ = codepage;
    lastCode_ = kCardOk;
    return S_OK;
}

HRESULT SoftCard::HCA_Encrypt(BSTR strCert, BSTR bData, LONG iFlags, BSTR* result) {
    CARD_ENTER("HCA_Encrypt");
    if (result == nullptr) return E_POINTER;
    std::string der, plain, cipher;
    bool ok = certificateDer(utf8(strCert), &der) && inputBytes(bData, iFlags, &plain);
    lastCode_ = ok ? (encryptTo(der, plain, &cipher) ? kCardOk : kCryptoFailed) : kBadInput;
    wipe(plain);
    return textOut(result, lastCode_ == kCardOk ? base64Encode(cipher) : "");
}

HRESULT SoftCard::HCA_DecryptByReader(BSTR readername, BSTR pincode, BSTR bCipher, LONG iFlags, BSTR* result) {
    CARD_ENTER("HCA_DecryptByReader");
    if (result == nullptr) return E_POINTER;
    Card card;
    std::string key, cipher, plain;
    lastCode_ = openCard(readername, pincode, &card, &key);
    if (lastCode_ == kCardOk) {
        if (!base64Decode(utf8(bCipher), &cipher))
            lastCode_ = kBadInput;
        else if (!decryptWith(key, cipher, &plain))
            lastCode_ = kCryptoFailed;
    }
    wipe(key);
    std::string text = lastCode_ != kCardOk ? "" : (iFlags & 1) ? base64Encode(plain) : plain;
    HRESULT hr = textOut(result, text);
    wipe(plain);
    wipe(text);
    return hr;
}

HRESULT SoftCard::HCA_SignInitByReader(BSTR readername, BSTR pincode, LONG* result) {
    CARD_ENTER("HCA_SignInitByReader");
    if (result == nullptr) return E_POINTER;
    closeSession();
    Card card;
    std::string key;
    lastCode_ = openCard(readername, pincode, &card, &key);
    if (lastCode_ == kCardOk) {
        session_ = true;
        sessionCard_ = card;
        sessionKey_ = key;
    }
    wipe(key);
    *result = static_cast<LONG>(lastCode_);
    return S_OK;
}

HRESULT SoftCard::HCA_SignUpdate(BSTR bData, LONG iFlags, LONG iHashFlag, BSTR* result) {
    CARD_ENTER("HCA_SignUpdate");
    if (result == nullptr) return E_POINTER;
    if (!session_) {
        lastCode_ = kNoSession;
        return textOut(result, "");
    }
    return sign(sessionCard_, sessionKey_, bData, iFlags, iHashFlag, false, result);
}

HRESULT SoftCard::HCA_SignFinal(LONG* result) {
    CARD_ENTER("HCA_SignFinal");
    if (result == nullptr) return E_POINTER;
    lastCode_ = session_ ? kCardOk : kNoSession;
    closeSession();
    *result = static_cast<LONG>(lastCode_);
    return S_OK;
}

std::string SoftCard::signTemplate(const Card&, const std::string& key, BSTR bstrXML, BSTR bstrSignId, LONG iFlags) {
    Hash hash;
    std::string xml = utf8(bstrXML), id = utf8(bstrSignId);
    std::string mark = placeholderFor(id);
    size_t at = xml.find(mark);
    if (id.empty() || at == std::string::npos || !hashFromFlag(iFlags, &hash)) {
        lastCode_ = kBadInput;
        return {};
    }
    // The signature covers the template without its placeholder.
    std::string covered = xml;
    covered.erase(at, mark.size());
    std::string signature;
    if (!signData(key, hash, covered, &signature)) {
        lastCode_ = kCryptoFailed;
        return {};
    }
    lastCode_ = kCardOk;
    return xml.replace(at, mark.size(),
                       "<SignatureValue Id=\"" + id + "\">" + base64Encode(signature) + "</SignatureValue>");
}

HRESULT SoftCard::HCA_XMLSignTemplateByReader(BSTR readername, BSTR pincode, BSTR bstrXML, BSTR bstrSignId,
                                              LONG iFlags, BSTR* result) {
    CARD_ENTER("HCA_XMLSignTemplateByReader");
    if (result == nullptr) return E_POINTER;
    Card card;
    std::string key, signedXml;
    lastCode_ = openCard(readername, pincode, &card, &key);
    if (lastCode_ == kCardOk) signedXml = signTemplate(card, key, bstrXML, bstrSignId, iFlags);
    wipe(key);
    return textOut(result, signedXml);
}

HRESULT SoftCard::HCA_XMLSignTemplateUpdate(BSTR bstrXML, BSTR bstrSignId, LONG iFlags, BSTR* result) {
    CARD_ENTER("HCA_XMLSignTemplateUpdate");
    if (result == nullptr) return E_POINTER;
    if (!session_) {
        lastCode_ = kNoSession;
        return textOut(result, "");
    }
    return textOut(result, signTemplate(sessionCard_, sessionKey_, bstrXML, bstrSignId, iFlags));
}

namespace {
long writeSigned(const std::string& path, const std::string& xml) {
    if (path.empty()) return kBadInput;
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return kWriteFailed;
    bool ok = std::fwrite(xml.data(), 1, xml.size(), out) == xml.size();
    return std::fclose(out) == 0 && ok ? kCardOk : kWriteFailed;
}
}  // namespace

HRESULT SoftCard::HCA_XMLSignTemplate2FileByReader(BSTR readername, BSTR pincode, BSTR bstrXML, BSTR bstrSignId,
                                                   BSTR bstrOutFIle, LONG iFlags, LONG* result) {
    CARD_ENTER("HCA_XMLSignTemplate2FileByReader");
    if (result == nullptr) return E_POINTER;
    Card card;
    std::string key;
    lastCode_ = openCard(readername, pincode, &card, &key);
    if (lastCode_ == kCardOk) {
        std::string signedXml = signTemplate(card, key, bstrXML, bstrSignId, iFlags);
        if (lastCode_ == kCardOk) lastCode_ = writeSigned(utf8(bstrOutFIle), signedXml);
    }
    wipe(key);
    *result = static_cast<LONG>(lastCode_);
    return S_OK;
}

HRESULT SoftCard::HCA_XMLSignTemplate2FileUpdate(BSTR bstrXML, BSTR bstrSignId, BSTR bstrOutFIle, LONG iFlags,
                                                 LONG* result) {
    CARD_ENTER("HCA_XMLSignTemplate2FileUpdate");
    if (result == nullptr) return E_POINTER;
    if (!session_) {
        lastCode_ = kNoSession;
    } else {
        std::string signedXml = signTemplate(sessionCard_, sessionKey_, bstrXML, bstrSignId, iFlags);
        if (lastCode_ == kCardOk) lastCode_ = writeSigned(utf8(bstrOutFIle), signedXml);
    }
    *result = static_cast<LONG>(lastCode_);
    return S_OK;
}

HRESULT SoftCard::HCA_PureSignUpdate(BSTR bData, LONG iFlags, LONG iHashFlag, BSTR* result) {
    CARD_ENTER("HCA_PureSignUpdate");
    if (result == nullptr) return E_POINTER;
    if (!session_) {
        lastCode_ = kNoSession;
        return textOut(result, "");
    }
    return sign(sessionCard_, sessionKey_, bData, iFlags, iHashFlag, true, result);
}

HRESULT SoftCard::HCA_GetInitCertificate(BSTR* result) {
    CARD_ENTER("HCA_GetInitCertificate");
    if (result == nullptr) return E_POINTER;
    lastCode_ = session_ ? kCardOk : kNoSession;
    return textOut(result, session_ ? base64Encode(sessionCard_.certDer) : "");
}

HRESULT SoftCard::DetectReplug(LONG, LONG, LONG* result) {
    CARD_ENTER("DetectReplug");
    if (result == nullptr) return E_POINTER;
    if (!session_) {
        lastCode_ = kNoSession;
        *result = static_cast<LONG>(kNoSession);
        return S_OK;
    }
    Card now;
    bool same = findCard(sessionCard_.reader, &now) == kCardOk && now.certDer == sessionCard_.certDer;
    lastCode_ = kCardOk;
    *result = same ? 0 : 1;
    return S_OK;
}

}  // namespace softcard
