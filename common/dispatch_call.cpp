#include "dispatch_call.h"
#include "result.h"

namespace pvl {

HRESULT InvokeDispatch(IDispatch* object, DISPID id, WORD flags, VARIANT* argsReversed, UINT argCount,
                       VARIANT* result) {
    if (!object) return E_POINTER;
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{argsReversed, nullptr, argCount, 0};
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    EXCEPINFO info{};
    UINT argError = 0;
    HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &info, &argError);
    if (hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        if (FAILED(info.scode)) hr = info.scode;
        else if (info.wCode) hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_DISPATCH, info.wCode);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
    }
    return hr;
}

HRESULT GetProperty(IDispatch* object, DISPID id, VARIANT* result) {
    return InvokeDispatch(object, id, DISPATCH_PROPERTYGET, nullptr, 0, result);
}

HRESULT PutProperty(IDispatch* object, DISPID id, const Variant& value) {
    VARIANT arg = value.ref();  // borrowed: Invoke does not take ownership of its arguments
    return InvokeDispatch(object, id, DISPATCH_PROPERTYPUT, &arg, 1, nullptr);
}

HRESULT ObjectResult(HRESULT callResult, Variant& result, ComPtr<IDispatch>* out) {
    out->Reset();
    if (FAILED(callResult)) return callResult;
    const VARIANT& v = result.ref();
    if (v.vt == VT_DISPATCH && v.pdispVal) {
        *out = v.pdispVal;
        return S_OK;
    }
    if (v.vt == VT_UNKNOWN && v.punkVal) return v.punkVal->QueryInterface(IID_PPV_ARGS(out->GetAddressOf()));
    return DISP_E_TYPEMISMATCH;
}

HRESULT GetObjectProperty(IDispatch* object, DISPID id, ComPtr<IDispatch>* out) {
    Variant result;
    return ObjectResult(GetProperty(object, id, result.put()), result, out);
}

bool SameObject(IUnknown* a, IUnknown* b) {
    if (!a || !b) return false;
    if (a == b) return true;
    ComPtr<IUnknown> ua, ub;
    if (FAILED(a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ua.GetAddressOf()))) ||
        FAILED(b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(ub.GetAddressOf()))))
        return false;
    return ua.Get() != nullptr && ua.Get() == ub.Get();
}

HRESULT GetPropertyByName(IDispatch* object, const wchar_t* name, VARIANT* result) {
    if (!object) return E_POINTER;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    RETURN_IF_FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
    return GetProperty(object, id, result);
}

}  // namespace pvl
