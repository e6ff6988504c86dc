// The 44 component functions: each reads its parameters in the order of the
// component method's arguments, calls the method and answers with its result.
#include "ComponentFunctions.h"

#include "ComponentCall.h"

namespace {

// index 0, slot 7
void ComponentAPI_HCA_GetErrorCode(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetErrorCode", "HCA_GetErrorCode");
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        LONG result = 0;
        HRESULT hr = component->HCA_GetErrorCode(&result);
        call.answerNumber(hr, result, component);
    });
}

// index 1, slot 8
void ComponentAPI_HCA_Encode(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_Encode", "HCA_Encode");
    call.beginKeys();
    BSTR strData = call.text("strData");
    VARIANT strPemTitle = call.ansi("strPemTitle");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_Encode(strData, strPemTitle, &result);
        call.answerText(hr, result, component);
    });
}

// index 2, slot 9
void ComponentAPI_HCA_GetCardSN(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetCardSN", "HCA_GetCardSN");
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GetCardSN(&result);
        call.answerText(hr, result, component);
    });
}

// index 3, slot 10
void ComponentAPI_HCA_GetCardType(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetCardType", "HCA_GetCardType");
    call.beginKeys();
    BSTR readername = call.text("readername");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        LONG result = 0;
        HRESULT hr = component->HCA_GetCardType(readername, &result);
        call.answerNumber(hr, result, component);
    });
}

// index 4, slot 11
void ComponentAPI_HCA_GetCardInfo(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetCardInfo", "HCA_GetCardInfo");
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        VARIANT result;
        VariantInit(&result);
        HRESULT hr = component->HCA_GetCardInfo(&result);
        call.answerList(hr, &result, component);
    });
}

// index 5, slot 12
void ComponentAPI_HCA_GetCertSerialNumber(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetCertSerialNumber", "HCA_GetCertSerialNumber");
    call.beginKeys();
    BSTR strCert = call.text("strCert");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GetCertSerialNumber(strCert, iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 6, slot 13
void ComponentAPI_HCA_GetCertSubject(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetCertSubject", "HCA_GetCertSubject");
    call.beginKeys();
    BSTR strCert = call.text("strCert");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GetCertSubject(strCert, iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 7, slot 14
void ComponentAPI_HCA_GetCertIssuer(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetCertIssuer", "HCA_GetCertIssuer");
    call.beginKeys();
    BSTR strCert = call.text("strCert");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GetCertIssuer(strCert, iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 8, slot 15
void ComponentAPI_HCA_GetCertNotBefore(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetCertNotBefore", "HCA_GetCertNotBefore");
    call.beginKeys();
    BSTR strCert = call.text("strCert");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GetCertNotBefore(strCert, iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 9, slot 16
void ComponentAPI_HCA_GetCertNotAfter(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetCertNotAfter", "HCA_GetCertNotAfter");
    call.beginKeys();
    BSTR strCert = call.text("strCert");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GetCertNotAfter(strCert, iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 10, slot 17
void ComponentAPI_HCA_GetCertDigest(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetCertDigest", "HCA_GetCertDigest");
    call.beginKeys();
    BSTR strCert = call.text("strCert");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GetCertDigest(strCert, iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 11, slot 18
void ComponentAPI_HCA_Verify(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_Verify", "HCA_Verify");
    call.beginKeys();
    BSTR strCert = call.text("strCert");
    BSTR strSignature = call.text("strSignature");
    BSTR pData = call.text("pData");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        LONG result = 0;
        HRESULT hr = component->HCA_Verify(strCert, strSignature, pData, iFlags, &result);
        call.answerNumber(hr, result, component);
    });
}

// index 12, slot 19
void ComponentAPI_HCA_Decode(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_Decode", "HCA_Decode");
    call.beginKeys();
    BSTR strEncoded = call.text("strEncoded");
    VARIANT strPemTitle = call.ansi("strPemTitle");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_Decode(strEncoded, strPemTitle, &result);
        call.answerText(hr, result, component);
    });
}

// index 13, slot 20
void ComponentAPI_HCA_GetRecord(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetRecord", "HCA_GetRecord");
    call.beginKeys();
    BSTR readername = call.text("readername");
    BSTR strLabel = call.text("strLabel");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GetRecord(readername, strLabel, &result);
        call.answerText(hr, result, component);
    });
}

// index 14, slot 21
void ComponentAPI_HCA_ListReaders(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_ListReaders", "HCA_ListReaders");
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        VARIANT result;
        VariantInit(&result);
        HRESULT hr = component->HCA_ListReaders(&result);
        call.answerList(hr, &result, component);
    });
}

// index 15, slot 22
void ComponentAPI_HCA_GetHCBasicData(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetHCBasicData", "HCA_GetHCBasicData");
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        VARIANT result;
        VariantInit(&result);
        HRESULT hr = component->HCA_GetHCBasicData(&result);
        call.answerList(hr, &result, component);
    });
}

// index 16, slot 23
void ComponentAPI_HCA_GetReaderName(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetReaderName", "HCA_GetReaderName");
    call.beginKeys();
    LONG flag = call.number("flag");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        LONG result = 0;
        HRESULT hr = component->HCA_GetReaderName(flag, &result);
        call.answerNumber(hr, result, component);
    });
}

// index 17, slot 24
void ComponentAPI_HCA_HPCBasicDataByReader(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_HPCBasicDataByReader", "HCA_HPCBasicDataByReader");
    call.beginKeys();
    BSTR readername = call.text("readername");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        VARIANT result;
        VariantInit(&result);
        HRESULT hr = component->HCA_HPCBasicDataByReader(readername, iFlags, &result);
        call.answerList(hr, &result, component);
    });
}

// index 18, slot 25
void ComponentAPI_HCA_GetCertificateByReader(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetCertificateByReader", "HCA_GetCertificateByReader");
    call.beginKeys();
    BSTR readername = call.text("readername");
    BSTR pincode = call.text("pincode");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GetCertificateByReader(readername, pincode, iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 19, slot 26
void ComponentAPI_HCA_SignByReader(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_SignByReader", "HCA_SignByReader");
    call.beginKeys();
    BSTR readername = call.text("readername");
    BSTR pincode = call.text("pincode");
    BSTR bData = call.text("bData");
    LONG iFlags = call.number("iFlags");
    LONG iHashFlag = call.number("iHashFlag");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_SignByReader(readername, pincode, bData, iFlags, iHashFlag, &result);
        call.answerText(hr, result, component);
    });
}

// index 20, slot 27
void ComponentAPI_HCA_GetHCBasicDataByReader(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetHCBasicDataByReader", "HCA_GetHCBasicDataByReader");
    call.beginKeys();
    BSTR readername = call.text("readername");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        VARIANT result;
        VariantInit(&result);
        HRESULT hr = component->HCA_GetHCBasicDataByReader(readername, iFlags, &result);
        call.answerList(hr, &result, component);
    });
}

// index 21, slot 28
void ComponentAPI_HCA_GetReaderNames(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetReaderNames", "HCA_GetReaderNames");
    call.beginKeys();
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        VARIANT result;
        VariantInit(&result);
        HRESULT hr = component->HCA_GetReaderNames(iFlags, &result);
        call.answerList(hr, &result, component);
    });
}

// index 22, slot 29
void ComponentAPI_HCA_GetHOPBasicDataByReader(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetHOPBasicDataByReader", "HCA_GetHOPBasicDataByReader");
    call.beginKeys();
    BSTR readername = call.text("readername");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        VARIANT result;
        VariantInit(&result);
        HRESULT hr = component->HCA_GetHOPBasicDataByReader(readername, iFlags, &result);
        call.answerList(hr, &result, component);
    });
}

// index 23, slot 30
void ComponentAPI_HCA_PureSignByReader(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_PureSignByReader", "HCA_PureSignByReader");
    call.beginKeys();
    BSTR readername = call.text("readername");
    BSTR pincode = call.text("pincode");
    BSTR bData = call.text("bData");
    LONG iFlags = call.number("iFlags");
    LONG iHashFlag = call.number("iHashFlag");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_PureSignByReader(readername, pincode, bData, iFlags, iHashFlag, &result);
        call.answerText(hr, result, component);
    });
}

// index 24, slot 31
void ComponentAPI_HCA_GetRetryCounter(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetRetryCounter", "HCA_GetRetryCounter");
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        LONG result = 0;
        HRESULT hr = component->HCA_GetRetryCounter(&result);
        call.answerNumber(hr, result, component);
    });
}

// index 25, slot 32
void ComponentAPI_HCA_GetReaderNamesString(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetReaderNamesString", "HCA_GetReaderNamesString");
    call.beginKeys();
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GetReaderNamesString(iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 26, slot 33
void ComponentAPI_HCA_GetHOPBasicDataStringByReader(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetHOPBasicDataStringByReader", "HCA_GetHOPBasicDataStringByReader");
    call.beginKeys();
    BSTR readername = call.text("readername");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GetHOPBasicDataStringByReader(readername, iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 27, slot 34
void ComponentAPI_HCA_GetHCBasicDataStringByReader(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetHCBasicDataStringByReader", "HCA_GetHCBasicDataStringByReader");
    call.beginKeys();
    BSTR readername = call.text("readername");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GetHCBasicDataStringByReader(readername, iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 28, slot 35
void ComponentAPI_HCA_GetHPCBasicDataStringByReader(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetHPCBasicDataStringByReader", "HCA_GetHPCBasicDataStringByReader");
    call.beginKeys();
    BSTR readername = call.text("readername");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GetHPCBasicDataStringByReader(readername, iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 29, slot 36
void ComponentAPI_HCA_GetCardInfoByReader(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetCardInfoByReader", "HCA_GetCardInfoByReader");
    call.beginKeys();
    BSTR readername = call.text("readername");
    LONG iFlag = call.number("iFlag");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        VARIANT result;
        VariantInit(&result);
        HRESULT hr = component->HCA_GetCardInfoByReader(readername, iFlag, &result);
        call.answerList(hr, &result, component);
    });
}

// index 30, slot 37
void ComponentAPI_HCA_GeneratePKCS7(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GeneratePKCS7", "HCA_GeneratePKCS7");
    call.beginKeys();
    BSTR signature = call.text("signature");
    BSTR cert = call.text("cert");
    BSTR data = call.text("data");
    LONG flag = call.number("flag");
    LONG iHashFlag = call.number("iHashFlag");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GeneratePKCS7(signature, cert, data, flag, iHashFlag, &result);
        call.answerText(hr, result, component);
    });
}

// index 31, slot 38
void ComponentAPI_SetCodePage(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_SetCodePage", "SetCodePage");
    call.beginKeys();
    LONG codepage = call.number("codepage");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        call.answerNone(component->SetCodePage(codepage), component);
    });
}

// index 32, slot 39
void ComponentAPI_HCA_Encrypt(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_Encrypt", "HCA_Encrypt");
    call.beginKeys();
    BSTR strCert = call.text("strCert");
    BSTR bData = call.text("bData");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_Encrypt(strCert, bData, iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 33, slot 40
void ComponentAPI_HCA_DecryptByReader(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_DecryptByReader", "HCA_DecryptByReader");
    call.beginKeys();
    BSTR readername = call.text("readername");
    BSTR pincode = call.text("pincode");
    BSTR bCipher = call.text("bCipher");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_DecryptByReader(readername, pincode, bCipher, iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 34, slot 41
void ComponentAPI_HCA_SignInitByReader(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_SignInitByReader", "HCA_SignInitByReader");
    call.beginKeys();
    BSTR readername = call.text("readername");
    BSTR pincode = call.text("pincode");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        LONG result = 0;
        HRESULT hr = component->HCA_SignInitByReader(readername, pincode, &result);
        call.answerNumber(hr, result, component);
    });
}

// index 35, slot 42
void ComponentAPI_HCA_SignUpdate(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_SignUpdate", "HCA_SignUpdate");
    call.beginKeys();
    BSTR bData = call.text("bData");
    LONG iFlags = call.number("iFlags");
    LONG iHashFlag = call.number("iHashFlag");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_SignUpdate(bData, iFlags, iHashFlag, &result);
        call.answerText(hr, result, component);
    });
}

// index 36, slot 43
void ComponentAPI_HCA_SignFinal(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_SignFinal", "HCA_SignFinal");
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        LONG result = 0;
        HRESULT hr = component->HCA_SignFinal(&result);
        call.answerNumber(hr, result, component);
    });
}

// index 37, slot 44
void ComponentAPI_HCA_XMLSignTemplateByReader(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_XMLSignTemplateByReader", "HCA_XMLSignTemplateByReader");
    call.beginKeys();
    BSTR readername = call.text("readername");
    BSTR pincode = call.text("pincode");
    BSTR bstrXML = call.text("bstrXML");
    BSTR bstrSignId = call.text("bstrSignId");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_XMLSignTemplateByReader(readername, pincode, bstrXML, bstrSignId, iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 38, slot 45
void ComponentAPI_HCA_XMLSignTemplateUpdate(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_XMLSignTemplateUpdate", "HCA_XMLSignTemplateUpdate");
    call.beginKeys();
    BSTR bstrXML = call.text("bstrXML");
    BSTR bstrSignId = call.text("bstrSignId");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_XMLSignTemplateUpdate(bstrXML, bstrSignId, iFlags, &result);
        call.answerText(hr, result, component);
    });
}

// index 39, slot 46
void ComponentAPI_HCA_XMLSignTemplate2FileByReader(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_XMLSignTemplate2FileByReader", "HCA_XMLSignTemplate2FileByReader");
    call.beginKeys();
    BSTR readername = call.text("readername");
    BSTR pincode = call.text("pincode");
    BSTR bstrXML = call.text("bstrXML");
    BSTR bstrSignId = call.text("bstrSignId");
    BSTR bstrOutFIle = call.text("bstrOutFIle");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        LONG result = 0;
        HRESULT hr = component->HCA_XMLSignTemplate2FileByReader(readername, pincode, bstrXML, bstrSignId, bstrOutFIle, iFlags, &result);
        call.answerNumber(hr, result, component);
    });
}

// index 40, slot 47
void ComponentAPI_HCA_XMLSignTemplate2FileUpdate(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_XMLSignTemplate2FileUpdate", "HCA_XMLSignTemplate2FileUpdate");
    call.beginKeys();
    BSTR bstrXML = call.text("bstrXML");
    BSTR bstrSignId = call.text("bstrSignId");
    BSTR bstrOutFIle = call.text("bstrOutFIle");
    LONG iFlags = call.number("iFlags");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        LONG result = 0;
        HRESULT hr = component->HCA_XMLSignTemplate2FileUpdate(bstrXML, bstrSignId, bstrOutFIle, iFlags, &result);
        call.answerNumber(hr, result, component);
    });
}

// index 41, slot 48
void ComponentAPI_HCA_PureSignUpdate(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_PureSignUpdate", "HCA_PureSignUpdate");
    call.beginKeys();
    BSTR bData = call.text("bData");
    LONG iFlags = call.number("iFlags");
    LONG iHashFlag = call.number("iHashFlag");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_PureSignUpdate(bData, iFlags, iHashFlag, &result);
        call.answerText(hr, result, component);
    });
}

// index 42, slot 49
void ComponentAPI_HCA_GetInitCertificate(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_HCA_GetInitCertificate", "HCA_GetInitCertificate");
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        BSTR result = nullptr;
        HRESULT hr = component->HCA_GetInitCertificate(&result);
        call.answerText(hr, result, component);
    });
}

// index 43, slot 50
void ComponentAPI_DetectReplug(const KestrovanJsonMap* map) {
    ComponentCall call(map, "ComponentAPI_DetectReplug", "DetectReplug");
    call.beginKeys();
    LONG iFlags = call.number("iFlags");
    LONG iReplugTime = call.number("iReplugTime");
    if (!call.endKeys()) return;
    call.invoke(__LINE__, [&](IPelHCAATL* component) {
        LONG result = 0;
        HRESULT hr = component->DetectReplug(iFlags, iReplugTime, &result);
        call.answerNumber(hr, result, component);
    });
}

}  // namespace

const ComponentFunction componentFunctions[kComponentFunctionCount] = {
    {"HCA_GetErrorCode", ComponentAPI_HCA_GetErrorCode},
    {"HCA_Encode", ComponentAPI_HCA_Encode},
    {"HCA_GetCardSN", ComponentAPI_HCA_GetCardSN},
    {"HCA_GetCardType", ComponentAPI_HCA_GetCardType},
    {"HCA_GetCardInfo", ComponentAPI_HCA_GetCardInfo},
    {"HCA_GetCertSerialNumber", ComponentAPI_HCA_GetCertSerialNumber},
    {"HCA_GetCertSubject", ComponentAPI_HCA_GetCertSubject},
    {"HCA_GetCertIssuer", ComponentAPI_HCA_GetCertIssuer},
    {"HCA_GetCertNotBefore", ComponentAPI_HCA_GetCertNotBefore},
    {"HCA_GetCertNotAfter", ComponentAPI_HCA_GetCertNotAfter},
    {"HCA_GetCertDigest", ComponentAPI_HCA_GetCertDigest},
    {"HCA_Verify", ComponentAPI_HCA_Verify},
    {"HCA_Decode", ComponentAPI_HCA_Decode},
    {"HCA_GetRecord", ComponentAPI_HCA_GetRecord},
    {"HCA_ListReaders", ComponentAPI_HCA_ListReaders},
    {"HCA_GetHCBasicData", ComponentAPI_HCA_GetHCBasicData},
    {"HCA_GetReaderName", ComponentAPI_HCA_GetReaderName},
    {"HCA_HPCBasicDataByReader", ComponentAPI_HCA_HPCBasicDataByReader},
    {"HCA_GetCertificateByReader", ComponentAPI_HCA_GetCertificateByReader},
    {"HCA_SignByReader", ComponentAPI_HCA_SignByReader},
    {"HCA_GetHCBasicDataByReader", ComponentAPI_HCA_GetHCBasicDataByReader},
    {"HCA_GetReaderNames", ComponentAPI_HCA_GetReaderNames},
    {"HCA_GetHOPBasicDataByReader", ComponentAPI_HCA_GetHOPBasicDataByReader},
    {"HCA_PureSignByReader", ComponentAPI_HCA_PureSignByReader},
    {"HCA_GetRetryCounter", ComponentAPI_HCA_GetRetryCounter},
    {"HCA_GetReaderNamesString", ComponentAPI_HCA_GetReaderNamesString},
    {"HCA_GetHOPBasicDataStringByReader", ComponentAPI_HCA_GetHOPBasicDataStringByReader},
    {"HCA_GetHCBasicDataStringByReader", ComponentAPI_HCA_GetHCBasicDataStringByReader},
    {"HCA_GetHPCBasicDataStringByReader", ComponentAPI_HCA_GetHPCBasicDataStringByReader},
    {"HCA_GetCardInfoByReader", ComponentAPI_HCA_GetCardInfoByReader},
    {"HCA_GeneratePKCS7", ComponentAPI_HCA_GeneratePKCS7},
    {"SetCodePage", ComponentAPI_SetCodePage},
    {"HCA_Encrypt", ComponentAPI_HCA_Encrypt},
    {"HCA_DecryptByReader", ComponentAPI_HCA_DecryptByReader},
    {"HCA_SignInitByReader", ComponentAPI_HCA_SignInitByReader},
    {"HCA_SignUpdate", ComponentAPI_HCA_SignUpdate},
    {"HCA_SignFinal", ComponentAPI_HCA_SignFinal},
    {"HCA_XMLSignTemplateByReader", ComponentAPI_HCA_XMLSignTemplateByReader},
    {"HCA_XMLSignTemplateUpdate", ComponentAPI_HCA_XMLSignTemplateUpdate},
    {"HCA_XMLSignTemplate2FileByReader", ComponentAPI_HCA_XMLSignTemplate2FileByReader},
    {"HCA_XMLSignTemplate2FileUpdate", ComponentAPI_HCA_XMLSignTemplate2FileUpdate},
    {"HCA_PureSignUpdate", ComponentAPI_HCA_PureSignUpdate},
    {"HCA_GetInitCertificate", ComponentAPI_HCA_GetInitCertificate},
    {"DetectReplug", ComponentAPI_DetectReplug},
};
