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

}  // namespace pvl
