#include "ComponentBridge.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "AdapterAnswer.h"
#include "Log.h"
#include "Text.h"
#include "platform/com/com.h"
#include "platform/com/variant.h"

namespace {

IPelHCAATL* component = nullptr;

constexpr int32_t kCodeComponentError = 61011;
// In-process server, in-process handler, local server and remote server.
constexpr DWORD kComponentContext = 23;

}  // namespace

bool connectComponent() {
    // A thread already in COM is fine; the result does not matter.
    CoInitialize(nullptr);
    if (component != nullptr) {
        component->Release();
        component = nullptr;
    }
    IUnknown* unknown = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_PelHCAATL, nullptr, kComponentContext, IID_IUnknown,
                                  reinterpret_cast<void**>(&unknown));
    if (FAILED(hr) || unknown == nullptr) return false;
    hr = OleRun(unknown);
    if (SUCCEEDED(hr)) {
        void* wanted = nullptr;
        hr = unknown->QueryInterface(IID_IPelHCAATL, &wanted);
        if (SUCCEEDED(hr)) component = static_cast<IPelHCAATL*>(wanted);
    }
    unknown->Release();
    return component != nullptr;
}

void disconnectComponent() {
    IPelHCAATL* held = component;
    component = nullptr;
    // Leaving COM happens on every path, so a failed release cannot keep the thread in.
    CoUninitialize();
    if (held == nullptr) comIssueError(E_POINTER);
    held->Release();
}

IPelHCAATL* componentInterface() {
    if (component == nullptr) comIssueError(E_POINTER);
    return component;
}

char* variantAnswerText(const VARIANT* value) {
    VARIANT copy;
    VariantInit(&copy);
    if (value != nullptr && FAILED(VariantCopy(&copy, value))) return nullptr;
    std::u16string text;
    // Only a real Boolean reads as one: other types that share its bits hold pointers.
    if (copy.vt == VT_BOOL) {
        text = copy.boolVal != 0 ? u"1" : u"0";
    } else if ((copy.vt & VT_ARRAY) != 0 && (copy.vt & VT_BYREF) == 0 && copy.parray != nullptr) {
        SAFEARRAY* array = copy.parray;
        LONG low = 0, high = -1;
        SafeArrayGetLBound(array, 1, &low);
        SafeArrayGetUBound(array, 1, &high);
        VARTYPE type = VT_EMPTY;
        SafeArrayGetVartype(array, &type);
        for (LONG i = low; i <= high; ++i) {
            if (type != VT_VARIANT) {
                std::printf("Error!! value->vt & ~VT_ARRAY = %d\n", copy.vt & ~VT_ARRAY);
                continue;
            }
            VARIANT element;
            VariantInit(&element);
            LONG index = i;
            if (SUCCEEDED(SafeArrayGetElement(array, &index, &element))) {
                if (element.vt == VT_I4 || element.vt == VT_INT) {
                    VARIANT converted;
                    VariantInit(&converted);
                    if (SUCCEEDED(VariantChangeType(&converted, &element, 0, VT_BSTR)) && converted.bstrVal != nullptr)
                        text.append(converted.bstrVal, SysStringLen(converted.bstrVal));
                    VariantClear(&converted);
                } else if (element.vt == VT_BSTR && element.bstrVal != nullptr) {
                    text.append(element.bstrVal, SysStringLen(element.bstrVal));
                }
            }
            VariantClear(&element);
            text.push_back(u';');
        }
    }
    VariantClear(&copy);
    char* utf8 = utf16ToUtf8(text.c_str());
    secureZero(text.data(), text.size() * sizeof(char16_t));
    return utf8;
}

void reportComponentException(const char* logName, int line) {
    logWarning("", "Catch component exception");
    answerNumber(kCodeComponentError);
    char safeLine[512];
    std::snprintf(safeLine, sizeof safeLine, "Safe in %s at %d lines in %s", logName, line, "AdapterProject");
    logError("[Safe Line] ", safeLine);
}
