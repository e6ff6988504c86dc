#pragma once
// The dual interface of the card component PelHCAATL, shared by the adapter that
// calls it and the software card that serves it. After IUnknown and IDispatch
// (slots 0-6) come the 44 methods, method n in slot 7 + n. Inputs first, the output
// pointer last; every method returns an HRESULT.
#include "platform/com/types.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"

inline constexpr CLSID CLSID_PelHCAATL = {0x65AEF82A, 0xB714, 0x4D9C, {0x86, 0xB1, 0x18, 0x70, 0xE6, 0x5D, 0x25, 0xD5}};
inline constexpr IID IID_IPelHCAATL = {0x085C8FFE, 0x7561, 0x4673, {0xB7, 0xE4, 0x88, 0x48, 0xA5, 0x4C, 0xA3, 0x86}};

constexpr int kPelHCAATLMethodCount = 44;

struct IPelHCAATL : IDispatch {
    virtual HRESULT HCA_GetErrorCode(LONG* result) = 0;                                            // 0
    virtual HRESULT HCA_Encode(BSTR strData, VARIANT strPemTitle, BSTR* result) = 0;               // 1
    virtual HRESULT HCA_GetCardSN(BSTR* result) = 0;                                               // 2
    virtual HRESULT HCA_GetCardType(BSTR readername, LONG* result) = 0;                            // 3
    virtual HRESULT HCA_GetCardInfo(VARIANT* result) = 0;                                          // 4
    virtual HRESULT HCA_GetCertSerialNumber(BSTR strCert, LONG iFlags, BSTR* result) = 0;          // 5
    virtual HRESULT HCA_GetCertSubject(BSTR strCert, LONG iFlags, BSTR* result) = 0;               // 6
    virtual HRESULT HCA_GetCertIssuer(BSTR strCert, LONG iFlags, BSTR* result) = 0;                // 7
    virtual HRESULT HCA_GetCertNotBefore(BSTR strCert, LONG iFlags, BSTR* result) = 0;             // 8
    virtual HRESULT HCA_GetCertNotAfter(BSTR strCert, LONG iFlags, BSTR* result) = 0;              // 9
    virtual HRESULT HCA_GetCertDigest(BSTR strCert, LONG iFlags, BSTR* result) = 0;                // 10
    virtual HRESULT HCA_Verify(BSTR strCert, BSTR strSignature, BSTR pData, LONG iFlags, LONG* result) = 0;  // 11
    virtual HRESULT HCA_Decode(BSTR strEncoded, VARIANT strPemTitle, BSTR* result) = 0;            // 12
    virtual HRESULT HCA_GetRecord(BSTR readername, BSTR strLabel, BSTR* result) = 0;               // 13
    virtual HRESULT HCA_ListReaders(VARIANT* result) = 0;                                          // 14
    virtual HRESULT HCA_GetHCBasicData(VARIANT* result) = 0;                                       // 15
    virtual HRESULT HCA_GetReaderName(LONG flag, LONG* result) = 0;                                // 16
    virtual HRESULT HCA_HPCBasicDataByReader(BSTR readername, LONG iFlags, VARIANT* result) = 0;   // 17
    virtual HRESULT HCA_GetCertificateByReader(BSTR readername, BSTR pincode, LONG iFlags, BSTR* result) = 0;  // 18
    virtual HRESULT HCA_SignByReader(BSTR readername, BSTR pincode, BSTR bData, LONG iFlags, LONG iHashFlag,
                                     BSTR* result) = 0;                                            // 19
    virtual HRESULT HCA_GetHCBasicDataByReader(BSTR readername, LONG iFlags, VARIANT* result) = 0;  // 20
    virtual HRESULT HCA_GetReaderNames(LONG iFlags, VARIANT* result) = 0;                          // 21
    virtual HRESULT HCA_GetHOPBasicDataByReader(BSTR readername, LONG iFlags, VARIANT* result) = 0;  // 22
    virtual HRESULT HCA_PureSignByReader(BSTR readername, BSTR pincode, BSTR bData, LONG iFlags, LONG iHashFlag,
                                         BSTR* result) = 0;                                        // 23
    virtual HRESULT HCA_GetRetryCounter(LONG* result) = 0;                                         // 24
    virtual HRESULT HCA_GetReaderNamesString(LONG iFlags, BSTR* result) = 0;                       // 25
    virtual HRESULT HCA_GetHOPBasicDataStringByReader(BSTR readername, LONG iFlags, BSTR* result) = 0;  // 26
    virtual HRESULT HCA_GetHCBasicDataStringByReader(BSTR readername, LONG iFlags, BSTR* result) = 0;   // 27
    virtual HRESULT HCA_GetHPCBasicDataStringByReader(BSTR readername, LONG iFlags, BSTR* result) = 0;  // 28
    virtual HRESULT HCA_GetCardInfoByReader(BSTR readername, LONG iFlag, VARIANT* result) = 0;     // 29
    virtual HRESULT HCA_GeneratePKCS7(BSTR signature, BSTR cert, BSTR data, LONG flag, LONG iHashFlag,
                                      BSTR* result) = 0;                                           // 30
    virtual HRESULT SetCodePage(LONG codepage) = 0;                                                // 31
    virtual HRESULT HCA_Encrypt(BSTR strCert, BSTR bData, LONG iFlags, BSTR* result) = 0;          // 32
    virtual HRESULT HCA_DecryptByReader(BSTR readername, BSTR pincode, BSTR bCipher, LONG iFlags,
                                        BSTR* result) = 0;                                         // 33
    virtual HRESULT HCA_SignInitByReader(BSTR readername, BSTR pincode, LONG* result) = 0;         // 34
    virtual HRESULT HCA_SignUpdate(BSTR bData, LONG iFlags, LONG iHashFlag, BSTR* result) = 0;     // 35
    virtual HRESULT HCA_SignFinal(LONG* result) = 0;                                               // 36
    virtual HRESULT HCA_XMLSignTemplateByReader(BSTR readername, BSTR pincode, BSTR bstrXML, BSTR bstrSignId,
                                                LONG iFlags, BSTR* result) = 0;                    // 37
    virtual HRESULT HCA_XMLSignTemplateUpdate(BSTR bstrXML, BSTR bstrSignId, LONG iFlags, BSTR* result) = 0;  // 38
    virtual HRESULT HCA_XMLSignTemplate2FileByReader(BSTR readername, BSTR pincode, BSTR bstrXML, BSTR bstrSignId,
                                                     BSTR bstrOutFIle, LONG iFlags, LONG* result) = 0;  // 39
    virtual HRESULT HCA_XMLSignTemplate2FileUpdate(BSTR bstrXML, BSTR bstrSignId, BSTR bstrOutFIle, LONG iFlags,
                                                   LONG* result) = 0;                              // 40
    virtual HRESULT HCA_PureSignUpdate(BSTR bData, LONG iFlags, LONG iHashFlag, BSTR* result) = 0;  // 41
    virtual HRESULT HCA_GetInitCertificate(BSTR* result) = 0;                                      // 42
    virtual HRESULT DetectReplug(LONG iFlags, LONG iReplugTime, LONG* result) = 0;                 // 43
};
