// IDispatch answered from a table of member names, for objects whose members are called late-bound.
// The derived class lists its members and implements InvokeMember; argument helpers read DISPPARAMS.
#pragma once
#include "com_object.h"
#include "result.h"
#include <span>
#include <string>
#include <string_view>

namespace pvl {

struct DispMember {
    const wchar_t* name;
    DISPID id;
};

// Finds a member by name, ignoring case as Automation does.
HRESULT FindDispMember(std::span<const DispMember> members, const wchar_t* name, DISPID* id);

// Reads positional argument `index` (0 = first declared) coerced to `vt`. A missing or omitted
// argument is DISP_E_PARAMNOTFOUND; one that does not convert is DISP_E_TYPEMISMATCH.
HRESULT GetArg(const DISPPARAMS* params, UINT index, VARTYPE vt, VARIANT* out);
// The value of a property put.
HRESULT GetPutValue(const DISPPARAMS* params, VARTYPE vt, VARIANT* out);
// The raw argument `index` (borrowed, not coerced), or null when missing or omitted.
const VARIANT* RawArg(const DISPPARAMS* params, UINT index);
// The value of a property put, read as the type the member holds.
HRESULT GetPutString(const DISPPARAMS* params, std::wstring* out);
HRESULT GetPutLong(const DISPPARAMS* params, long* out);
HRESULT GetPutBool(const DISPPARAMS* params, bool* out);

// Fill in an Invoke result; a caller that wants none passes null, which is fine.
HRESULT ReturnString(std::wstring_view s, VARIANT* result);
HRESULT ReturnLong(long n, VARIANT* result);
HRESULT ReturnBool(bool b, VARIANT* result);
HRESULT ReturnObject(IDispatch* object, VARIANT* result);  // adds a reference for the caller

template <class Interface = IDispatch>
class DispatchImpl : public Interface {
public:
    IFACEMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    IFACEMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (!names || !ids || count == 0) return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        // Named parameters are not supported: only the member name is resolved.
        const HRESULT hr = FindDispMember(Members(), names[0], &ids[0]);
        return FAILED(hr) ? hr : (count > 1 ? DISP_E_UNKNOWNNAME : S_OK);
    }
    IFACEMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO*, UINT*) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        DISPPARAMS none{};
        if (!params) params = &none;
        if (result) VariantInit(result);
        PVL_COM_TRY
        return InvokeMember(id, flags, params, result);
        PVL_COM_CATCH
    }

protected:
    virtual std::span<const DispMember> Members() const = 0;
    virtual HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) = 0;

    static bool IsGet(WORD flags) { return (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0; }
    static bool IsPut(WORD flags) { return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0; }
};

}  // namespace pvl
