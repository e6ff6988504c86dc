#pragma once
// The software card component: the object behind CLSID_PelHCAATL.
#include <atomic>
#include <string>

#include "CardStore.h"
#include "PelHCAATL/PelHCAATLInterface.h"

namespace softcard {

// Live objects and server locks; the library may be unloaded when both are 0.
extern std::atomic<long> liveObjects;
extern std::atomic<long> serverLocks;

class SoftCard final : public IPelHCAATL {
public:
    SoftCard();
    ~SoftCard();

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    HRESULT Invoke(DISPID member, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argumentError) override;

    HRESULT HCA_GetErrorCode(LONG* result) override;
    HRESULT HCA_Encode(BSTR strData, VARIANT strPemTitle, BSTR* result) override;
    HRESULT HCA_GetCardSN(BSTR* result) override;
    HRESULT HCA_GetCardType(BSTR readername, LONG* result) override;
    HRESULT HCA_GetCardInfo(VARIANT* result) override;
    HRESULT HCA_GetCertSerialNumber(BSTR strCert, LONG iFlags, BSTR* result) override;
    HRESULT HCA_GetCertSubject(BSTR strCert, LONG iFlags, BSTR* result) override;
    HRESULT HCA_GetCertIssuer(BSTR strCert, LONG iFlags, BSTR* result) override;
    HRESULT HCA_GetCertNotBefore(BSTR strCert, LONG iFlags, BSTR* result) override;
    HRESULT HCA_GetCertNotAfter(BSTR strCert, LONG iFlags, BSTR* result) override;
    HRESULT HCA_GetCertDigest(BSTR strCert, LONG iFlags, BSTR* result) override;
    HRESULT HCA_Verify(BSTR strCert, BSTR strSignature, BSTR pData, LONG iFlags, LONG* result) override;
    HRESULT HCA_Decode(BSTR strEncoded, VARIANT strPemTitle, BSTR* result) override;
    HRESULT HCA_GetRecord(BSTR readername, BSTR strLabel, BSTR* result) override;
    HRESULT HCA_ListReaders(VARIANT* result) override;
    HRESULT HCA_GetHCBasicData(VARIANT* result) override;
    HRESULT HCA_GetReaderName(LONG flag, LONG* result) override;
    HRESULT HCA_HPCBasicDataByReader(BSTR readername, LONG iFlags, VARIANT* result) override;
    HRESULT HCA_GetCertificateByReader(BSTR readername, BSTR pincode, LONG iFlags, BSTR* result) override;
    HRESULT HCA_SignByReader(BSTR readername, BSTR pincode, BSTR bData, LONG iFlags, LONG iHashFlag,
                             BSTR* result) override;
    HRESULT HCA_GetHCBasicDataByReader(BSTR readername, LONG iFlags, VARIANT* result) override;
    HRESULT HCA_GetReaderNames(LONG iFlags, VARIANT* result) override;
    HRESULT HCA_GetHOPBasicDataByReader(BSTR readername, LONG iFlags, VARIANT* result) override;
    HRESULT HCA_PureSignByReader(BSTR readername, BSTR pincode, BSTR bData, LONG iFlags, LONG iHashFlag,
                                 BSTR* result) override;
    HRESULT HCA_GetRetryCounter(LONG* result) override;
    HRESULT HCA_GetReaderNamesString(LONG iFlags, BSTR* result) override;
    HRESULT HCA_GetHOPBasicDataStringByReader(BSTR readername, LONG iFlags, BSTR* result) override;
    HRESULT HCA_GetHCBasicDataStringByReader(BSTR readername, LONG iFlags, BSTR* result) override;
    HRESULT HCA_GetHPCBasicDataStringByReader(BSTR readername, LONG iFlags, BSTR* result) override;
    HRESULT HCA_GetCardInfoByReader(BSTR readername, LONG iFlag, VARIANT* result) override;
    HRESULT HCA_GeneratePKCS7(BSTR signature, BSTR cert, BSTR data, LONG flag, LONG iHashFlag,
                              BSTR* result) override;
    HRESULT SetCodePage(LONG codepage) override;
    HRESULT HCA_Encrypt(BSTR strCert, BSTR bData, LONG iFlags, BSTR* result) override;
    HRESULT HCA_DecryptByReader(BSTR readername, BSTR pincode, BSTR bCipher, LONG iFlags, BSTR* result) override;
    HRESULT HCA_SignInitByReader(BSTR readername, BSTR pincode, LONG* result) override;
    HRESULT HCA_SignUpdate(BSTR bData, LONG iFlags, LONG iHashFlag, BSTR* result) override;
    HRESULT HCA_SignFinal(LONG* result) override;
    HRESULT HCA_XMLSignTemplateByReader(BSTR readername, BSTR pincode, BSTR bstrXML, BSTR bstrSignId, LONG iFlags,
                                        BSTR* result) override;
    HRESULT HCA_XMLSignTemplateUpdate(BSTR bstrXML, BSTR bstrSignId, LONG iFlags, BSTR* result) override;
    HRESULT HCA_XMLSignTemplate2FileByReader(BSTR readername, BSTR pincode, BSTR bstrXML, BSTR bstrSignId,
                                             BSTR bstrOutFIle, LONG iFlags, LONG* result) override;
    HRESULT HCA_XMLSignTemplate2FileUpdate(BSTR bstrXML, BSTR bstrSignId, BSTR bstrOutFIle, LONG iFlags,
                                           LONG* result) override;
    HRESULT HCA_PureSignUpdate(BSTR bData, LONG iFlags, LONG iHashFlag, BSTR* result) override;
    HRESULT HCA_GetInitCertificate(BSTR* result) override;
    HRESULT DetectReplug(LONG iFlags, LONG iReplugTime, LONG* result) override;

private:
    // Opens the card of a reader with its PIN; the code of the failure otherwise.
    long openCard(BSTR readername, BSTR pincode, Card* card, std::string* key);
    HRESULT sign(const Card& card, const std::string& key, BSTR bData, LONG iFlags, LONG iHashFlag, bool digest,
                 BSTR* result);
    HRESULT basicData(const char* method, const char* record, BSTR readername, VARIANT* list, BSTR* text);
    HRESULT certificateText(const char* method, BSTR strCert, LONG iFlags, int field, BSTR* result);
    // The XML template signed; "" with lastCode_ set when it cannot be.
    std::string signTemplate(const Card& card, const std::string& key, BSTR bstrXML, BSTR bstrSignId, LONG iFlags);
    HRESULT readerList(LONG iFlags, VARIANT* result);
    HRESULT cardInfo(BSTR readername, VARIANT* result);
    void closeSession();

    std::atomic<ULONG> references_{1};
    long lastCode_ = kCardOk;
    long codePage_ = 0;
    std::string lastReader_;
    bool session_ = false;
    Card sessionCard_;
    std::string sessionKey_;
};

}  // namespace softcard
