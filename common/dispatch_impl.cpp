#include "dispatch_impl.h"

namespace pvl {

HRESULT FindDispMember(std::span<const DispMember> members, const wchar_t* name, DISPID* id) {
    if (!name) return DISP_E_UNKNOWNNAME;
    for (const DispMember& m : members) {
        if (CompareStringOrdinal(m.name, -1, name, -1, TRUE) == CSTR_EQUAL) {
            *id = m.id;
            return S_OK;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

const VARIANT* RawArg(const DISPPARAMS* params, UINT index) {
    const UINT positional = params->cArgs - params->cNamedArgs;
    if (index >= positional) return nullptr;
    const VARIANT* v = &params->rgvarg[params->cArgs - 1 - index];
    if (v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND) return nullptr;
    return v;
}

static HRESULT Coerce(const VARIANT* v, VARTYPE vt, VARIANT* out) {
    VariantInit(out);
    if (!v) return DISP_E_PARAMNOTFOUND;
    if (vt == VT_VARIANT) return VariantCopyInd(out, const_cast<VARIANT*>(v));
    const HRESULT hr = VariantChangeType(out, const_cast<VARIANT*>(v), 0, vt);
    return FAILED(hr) ? DISP_E_TYPEMISMATCH : S_OK;
}

HRESULT GetArg(const DISPPARAMS* params, UINT index, VARTYPE vt, VARIANT* out) {
    return Coerce(RawArg(params, index), vt, out);
}

HRESULT GetPutValue(const DISPPARAMS* params, VARTYPE vt, VARIANT* out) {
    const VARIANT* v = nullptr;
    for (UINT i = 0; i < params->cNamedArgs; ++i)
        if (params->rgdispidNamedArgs[i] == DISPID_PROPERTYPUT) v = &params->rgvarg[i];
    return Coerce(v, vt, out);
}

HRESULT GetPutString(const DISPPARAMS* params, std::wstring* out) {
    VARIANT v;
    RETURN_IF_FAILED(GetPutValue(params, VT_BSTR, &v));
    out->assign(v.bstrVal ? v.bstrVal : L"", SysStringLen(v.bstrVal));
    VariantClear(&v);
    return S_OK;
}

HRESULT GetPutLong(const DISPPARAMS* params, long* out) {
    VARIANT v;
    RETURN_IF_FAILED(GetPutValue(params, VT_I4, &v));
    *out = v.lVal;
    return S_OK;
}

HRESULT GetPutBool(const DISPPARAMS* params, bool* out) {
    VARIANT v;
    RETURN_IF_FAILED(GetPutValue(params, VT_BOOL, &v));
    *out = v.boolVal != VARIANT_FALSE;
    return S_OK;
}

HRESULT ReturnString(std::wstring_view s, VARIANT* result) {
    if (!result) return S_OK;
    result->bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    if (!result->bstrVal) return E_OUTOFMEMORY;
    result->vt = VT_BSTR;
    return S_OK;
}

HRESULT ReturnLong(long n, VARIANT* result) {
    if (result) {
        result->vt = VT_I4;
        result->lVal = n;
    }
    return S_OK;
}

HRESULT ReturnBool(bool b, VARIANT* result) {
    if (result) {
        result->vt = VT_BOOL;
        result->boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    }
    return S_OK;
}

HRESULT ReturnObject(IDispatch* object, VARIANT* result) {
    if (result) {
        result->vt = VT_DISPATCH;
        result->pdispVal = object;
        if (object) object->AddRef();
    }
    return S_OK;
}

}  // namespace pvl
