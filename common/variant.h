// An owning VARIANT with constructors for the argument kinds the component passes to Automation.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string_view>
#include <utility>

namespace pvl {

class Variant {
public:
    Variant() { VariantInit(&v_); }
    explicit Variant(long n) : Variant() { v_.vt = VT_I4; v_.lVal = n; }
    explicit Variant(int n) : Variant(static_cast<long>(n)) {}
    explicit Variant(bool b) : Variant() { v_.vt = VT_BOOL; v_.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE; }
    explicit Variant(const wchar_t* s) : Variant() {
        v_.bstrVal = SysAllocString(s);
        if (v_.bstrVal) v_.vt = VT_BSTR;
    }
    explicit Variant(std::wstring_view s) : Variant() {
        v_.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
        if (v_.bstrVal) v_.vt = VT_BSTR;
    }
    // Takes a reference of its own.
    explicit Variant(IDispatch* d) : Variant() {
        v_.vt = VT_DISPATCH;
        v_.pdispVal = d;
        if (d) d->AddRef();
    }
    // An omitted optional argument, as Automation spells it.
    static Variant Missing() {
        Variant m;
        m.v_.vt = VT_ERROR;
        m.v_.scode = DISP_E_PARAMNOTFOUND;
        return m;
    }

    Variant(Variant&& o) noexcept : Variant() { std::swap(v_, o.v_); }
    Variant& operator=(Variant&& o) noexcept { std::swap(v_, o.v_); return *this; }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&v_); }

    HRESULT CopyFrom(const VARIANT& src) { Clear(); return VariantCopy(&v_, const_cast<VARIANT*>(&src)); }
    void Clear() { VariantClear(&v_); }
    VARIANT* get() { return &v_; }
    const VARIANT& ref() const { return v_; }
    VARIANT* put() { Clear(); return &v_; }
    VARTYPE vt() const { return v_.vt; }

private:
    VARIANT v_;
};

}  // namespace pvl
