#include "platform/com/variant.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Byte size of one element, 0 for a type the subset does not keep in arrays.
ULONG elementSize(VARTYPE vt) {
    switch (vt) {
        case VT_I2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_INT:
        case VT_UI4:
        case VT_UINT:
            return 4;
        case VT_UI1:
            return 1;
        case VT_R8:
            return 8;
        case VT_BSTR:
            return sizeof(BSTR);
        case VT_VARIANT:
            return sizeof(VARIANT);
        default:
            return 0;
    }
}

BSTR copyBstr(BSTR text) {
    if (text == nullptr) return nullptr;
    return SysAllocStringByteLen(reinterpret_cast<const char*>(text), SysStringByteLen(text));
}

// Address of the element at index, or null when out of bounds.
void* elementAt(SAFEARRAY* array, LONG index) {
    int64_t offset = static_cast<int64_t>(index) - array->rgsabound[0].lLbound;
    if (offset < 0 || offset >= static_cast<int64_t>(array->rgsabound[0].cElements)) return nullptr;
    return static_cast<unsigned char*>(array->pvData) + offset * array->cbElements;
}

HRESULT formatNumber(VARIANT* dest, long long value) {
    char digits[32];
    int n = std::snprintf(digits, sizeof digits, "%lld", value);
    OLECHAR wide[32];
    for (int i = 0; i <= n; ++i) wide[i] = static_cast<OLECHAR>(digits[i]);
    BSTR text = SysAllocStringLen(wide, static_cast<UINT>(n));
    if (text == nullptr) return E_OUTOFMEMORY;
    VariantClear(dest);
    dest->vt = VT_BSTR;
    dest->bstrVal = text;
    return S_OK;
}

}  // namespace

void VariantInit(VARIANT* v) {
    if (v == nullptr) return;
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
    if (v == nullptr) return E_INVALIDARG;
    if ((v->vt & VT_BYREF) == 0) {
        if (v->vt & VT_ARRAY) {
            SafeArrayDestroy(v->parray);
        } else {
            switch (v->vt) {
                case VT_BSTR:
                    SysFreeString(v->bstrVal);
                    break;
                case VT_UNKNOWN:
                case VT_DISPATCH:
                    if (v->punkVal != nullptr) v->punkVal->Release();
                    break;
                default:
                    break;
            }
        }
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
    if (dest == nullptr || src == nullptr) return E_INVALIDARG;
    if (dest == src) return S_OK;
    VARIANT copy = *src;
    if ((src->vt & VT_BYREF) == 0) {
        if (src->vt & VT_ARRAY) {
            copy.parray = nullptr;
            if (src->parray != nullptr) {
                HRESULT hr = SafeArrayCopy(src->parray, &copy.parray);
                if (FAILED(hr)) return hr;
            }
        } else if (src->vt == VT_BSTR) {
            copy.bstrVal = copyBstr(src->bstrVal);
            if (src->bstrVal != nullptr && copy.bstrVal == nullptr) return E_OUTOFMEMORY;
        } else if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal != nullptr) {
            src->punkVal->AddRef();
        }
    }
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT, VARTYPE vt) {
    if (dest == nullptr || src == nullptr) return E_INVALIDARG;
    if (src->vt == vt) return VariantCopy(dest, src);
    if (vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    switch (src->vt) {
        case VT_I2:
            return formatNumber(dest, src->iVal);
        case VT_I4:
            return formatNumber(dest, src->lVal);
        case VT_INT:
            return formatNumber(dest, src->intVal);
        case VT_UI4:
            return formatNumber(dest, src->ulVal);
        case VT_UINT:
            return formatNumber(dest, src->uintVal);
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) {
    ULONG size = elementSize(vt);
    if (dims != 1 || bounds == nullptr || size == 0) return nullptr;
    if (bounds[0].cElements > 0x10000000u) return nullptr;
    auto* array = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
    if (array == nullptr) return nullptr;
    array->cDims = 1;
    array->cbElements = size;
    array->rgsabound[0] = bounds[0];
    array->vt = vt;
    if (bounds[0].cElements > 0) {
        array->pvData = std::calloc(bounds[0].cElements, size);
        if (array->pvData == nullptr) {
            std::free(array);
            return nullptr;
        }
    }
    return array;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG count) {
    SAFEARRAYBOUND bound{count, lowerBound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (array == nullptr) return S_OK;
    if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    for (ULONG i = 0; i < array->rgsabound[0].cElements; ++i) {
        void* element = static_cast<unsigned char*>(array->pvData) + i * array->cbElements;
        if (array->vt == VT_BSTR) SysFreeString(*static_cast<BSTR*>(element));
        if (array->vt == VT_VARIANT) VariantClear(static_cast<VARIANT*>(element));
    }
    std::free(array->pvData);
    std::free(array);
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** out) {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    if (array == nullptr) return S_OK;
    SAFEARRAY* copy = SafeArrayCreate(array->vt, 1, array->rgsabound);
    if (copy == nullptr) return E_OUTOFMEMORY;
    LONG low = array->rgsabound[0].lLbound;
    for (ULONG i = 0; i < array->rgsabound[0].cElements; ++i) {
        LONG index = low + static_cast<LONG>(i);
        void* element = elementAt(array, index);
        HRESULT hr = array->vt == VT_BSTR ? SafeArrayPutElement(copy, &index, *static_cast<BSTR*>(element))
                                          : SafeArrayPutElement(copy, &index, element);
        if (FAILED(hr)) {
            SafeArrayDestroy(copy);
            return hr;
        }
    }
    *out = copy;
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* array) { return array == nullptr ? 0 : array->cDims; }

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
    if (array == nullptr || vt == nullptr) return E_INVALIDARG;
    *vt = array->vt;
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound) {
    if (array == nullptr || bound == nullptr) return E_INVALIDARG;
    if (dim != 1) return DISP_E_BADINDEX;
    *bound = array->rgsabound[0].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound) {
    if (array == nullptr || bound == nullptr) return E_INVALIDARG;
    if (dim != 1) return DISP_E_BADINDEX;
    *bound = static_cast<LONG>(array->rgsabound[0].lLbound + static_cast<int64_t>(array->rgsabound[0].cElements) - 1);
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value) {
    if (array == nullptr || indices == nullptr || value == nullptr) return E_INVALIDARG;
    void* element = elementAt(array, indices[0]);
    if (element == nullptr) return DISP_E_BADINDEX;
    if (array->vt == VT_BSTR) {
        BSTR source = *static_cast<BSTR*>(element);
        BSTR copy = copyBstr(source);
        if (source != nullptr && copy == nullptr) return E_OUTOFMEMORY;
        *static_cast<BSTR*>(value) = copy;
        return S_OK;
    }
    if (array->vt == VT_VARIANT) {
        auto* out = static_cast<VARIANT*>(value);
        VariantInit(out);
        return VariantCopy(out, static_cast<VARIANT*>(element));
    }
    std::memcpy(value, element, array->cbElements);
    return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value) {
    if (array == nullptr || indices == nullptr) return E_INVALIDARG;
    void* element = elementAt(array, indices[0]);
    if (element == nullptr) return DISP_E_BADINDEX;
    if (array->vt == VT_BSTR) {
        // For strings the value is the BSTR itself, as COM has it.
        BSTR copy = copyBstr(static_cast<BSTR>(value));
        if (value != nullptr && copy == nullptr) return E_OUTOFMEMORY;
        SysFreeString(*static_cast<BSTR*>(element));
        *static_cast<BSTR*>(element) = copy;
        return S_OK;
    }
    if (value == nullptr) return E_INVALIDARG;
    if (array->vt == VT_VARIANT) return VariantCopy(static_cast<VARIANT*>(element), static_cast<VARIANT*>(value));
    std::memcpy(element, value, array->cbElements);
    return S_OK;
}
