#pragma once
// VARIANT and the one-dimensional SAFEARRAY of the COM subset.
#include "platform/com/types.h"
#include "platform/com/unknown.h"

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_UI1 = 17,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1];
    VARTYPE vt;  // element type (kept here rather than before the header)
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        int64_t llVal;
        LONG lVal;
        INT intVal;
        ULONG ulVal;
        UINT uintVal;
        SHORT iVal;
        BYTE bVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        VARIANT* pvarVal;
        void* byref;
    };
};
using VARIANTARG = VARIANT;

void VariantInit(VARIANT* v);
// Frees what the variant owns (string, array, interface reference) and empties it.
HRESULT VariantClear(VARIANT* v);
// Deep copy: strings and arrays are duplicated, interfaces gain a reference.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Converts src to type vt into dest (dest may be src). This subset converts VT_I2,
// VT_I4, VT_INT, VT_UI4 and VT_UINT to VT_BSTR, and copies a value already of type vt;
// anything else gives DISP_E_TYPEMISMATCH.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);

// Element types allowed: VT_I2, VT_I4, VT_INT, VT_UI4, VT_UINT, VT_UI1, VT_BOOL, VT_R8, VT_BSTR, VT_VARIANT.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG count);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** out);
UINT SafeArrayGetDim(SAFEARRAY* array);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound);
// Element copies in and out: strings and variants are deep-copied, so the caller
// frees what it gets and keeps ownership of what it puts.
HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value);
HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value);
