// Late-bound calls on Automation objects by dispatch id, the way the component reaches the host.
// Every function returns the callee's HRESULT; an exception raised through EXCEPINFO becomes its
// own failure code, and its strings are freed.
#pragma once
#include "com_object.h"
#include "variant.h"
#include <array>

namespace pvl {

HRESULT InvokeDispatch(IDispatch* object, DISPID id, WORD flags, VARIANT* argsReversed, UINT argCount,
                       VARIANT* result);

// Arguments are given in their declared order.
template <class... Args>
HRESULT CallMethod(IDispatch* object, DISPID id, VARIANT* result, Args&&... args) {
    std::array<VARIANT, sizeof...(Args)> reversed{};
    size_t i = sizeof...(Args);
    ((reversed[--i] = std::forward<Args>(args).ref()), ...);
    return InvokeDispatch(object, id, DISPATCH_METHOD, reversed.data(), sizeof...(Args), result);
}

HRESULT GetProperty(IDispatch* object, DISPID id, VARIANT* result);
HRESULT PutProperty(IDispatch* object, DISPID id, const Variant& value);

// The property must hold an object: anything else (a number, empty, null) is DISP_E_TYPEMISMATCH.
HRESULT GetObjectProperty(IDispatch* object, DISPID id, ComPtr<IDispatch>* out);
// A method result that must be an object, as above.
HRESULT ObjectResult(HRESULT callResult, Variant& result, ComPtr<IDispatch>* out);

// Whether two interface pointers belong to one object, compared through IUnknown as COM asks.
bool SameObject(IUnknown* a, IUnknown* b);

// Reads a property found by its name at run time.
HRESULT GetPropertyByName(IDispatch* object, const wchar_t* name, VARIANT* result);

}  // namespace pvl
