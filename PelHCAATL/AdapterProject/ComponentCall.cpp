#include "ComponentCall.h"

#include <cstdlib>

#include "AdapterAnswer.h"
#include "Holder.h"
#include "Log.h"
#include "Text.h"
#include "platform/com/ansi.h"

namespace {

// Overwrites a COM string over its whole length before releasing it.
void wipeAndFree(BSTR text) {
    if (text == nullptr) return;
    secureZero(text, SysStringByteLen(text));
    SysFreeString(text);
}

}  // namespace

ComponentCall::ComponentCall(const KestrovanJsonMap* map, const char* logName, const char* method)
    : map_(map), logName_(logName), method_(method) {
    VariantInit(&ansi_);
    logNormal("Into adapter function: ", logName);
}

ComponentCall::~ComponentCall() {
    for (int i = 0; i < textCount_; ++i) wipeAndFree(texts_[i]);
    if (ansi_.vt == VT_BSTR) {
        wipeAndFree(ansi_.bstrVal);
        ansi_.bstrVal = nullptr;
    }
    VariantClear(&ansi_);
}

void ComponentCall::beginKeys() {
    reportMissingJsonKey = true;
    lastErrorCode = 0;
}

BSTR ComponentCall::text(const char* key) {
    BSTR value = GetKestrovanJsonWide(map_, key);
    if (value == nullptr) {
        // The guard raises E_OUTOFMEMORY before the component is called.
        outOfMemory_ = true;
        return nullptr;
    }
    if (textCount_ < kMaxTexts) {
        texts_[textCount_++] = value;
    }
    return value;
}

VARIANT ComponentCall::ansi(const char* key) {
    VariantClear(&ansi_);
    SecretHolder value(GetKestrovanJsonValue(map_, key));
    BSTR text = SysAllocStringFromAnsi(value ? value.get() : "");
    if (text == nullptr) {
        outOfMemory_ = true;
    } else {
        ansi_.vt = VT_BSTR;
        ansi_.bstrVal = text;
    }
    return ansi_;
}

LONG ComponentCall::number(const char* key) { return GetKestrovanJsonInt(map_, key); }

bool ComponentCall::endKeys() {
    reportMissingJsonKey = false;
    if (lastErrorCode != 0 && GetKestrovanJsonBool(map_, "AdapterJsonKeyCheck")) {
        ::answerNumber(lastErrorCode);
        return false;
    }
    return true;
}

void ComponentCall::ready() { logNormal("Ready into component func: ", method_); }

void ComponentCall::finish() { logNormal("Finish component func: ", method_); }

void ComponentCall::raiseIfFailed(HRESULT hr, IPelHCAATL* source) { comCheck(hr, source, IID_IPelHCAATL); }

void ComponentCall::answerText(HRESULT hr, BSTR result, IPelHCAATL* source) {
    if (FAILED(hr)) {
        wipeAndFree(result);
        raiseIfFailed(hr, source);
    }
    UINT length = SysStringLen(result);
    // Copied by its exact length: the string need not end where its NUL would be.
    char16_t* bounded = static_cast<char16_t*>(allocZero((length + 1) * sizeof(char16_t)));
    if (bounded == nullptr) {
        wipeAndFree(result);
        comIssueError(E_OUTOFMEMORY);
    }
    for (UINT i = 0; i < length; ++i) bounded[i] = result[i];
    wipeAndFree(result);
    char* utf8 = utf16ToUtf8(bounded);
    secureZero(bounded, (length + 1) * sizeof(char16_t));
    std::free(bounded);
    if (utf8 == nullptr) comIssueError(E_OUTOFMEMORY);
    setAdapterAnswer(utf8);
}

void ComponentCall::answerNumber(HRESULT hr, LONG result, IPelHCAATL* source) {
    raiseIfFailed(hr, source);
    ::answerNumber(result);
}

void ComponentCall::answerList(HRESULT hr, VARIANT* result, IPelHCAATL* source) {
    if (FAILED(hr)) {
        VariantClear(result);
        raiseIfFailed(hr, source);
    }
    char* text = variantAnswerText(result);
    VariantClear(result);
    if (text == nullptr) comIssueError(E_OUTOFMEMORY);
    setAdapterAnswer(text);
}

void ComponentCall::answerNone(HRESULT hr, IPelHCAATL* source) {
    raiseIfFailed(hr, source);
    answerCopy("0");
}
