// The two error modes of the component's handlers, written so that each reads as what it is.
//
//   Stop-at-first-error:  RETURN_IF_FAILED(step());      the failure goes back to the event's caller
//   Continue-on-error:    Guarded(step());               the failure is dropped; the next step runs
#pragma once
#include <windows.h>
#include <new>

#define RETURN_IF_FAILED(expr)                    \
    do {                                          \
        const HRESULT hr_ = (expr);               \
        if (FAILED(hr_)) return hr_;              \
    } while (0)

namespace pvl {

// A step of a continue-on-error handler: whatever it returns, the handler goes on.
// Taking the result by value keeps the call visible at the call site and silences nothing else.
inline void Guarded(HRESULT) {}

inline HRESULT LastErrorResult() {
    const DWORD e = GetLastError();
    return e ? HRESULT_FROM_WIN32(e) : E_FAIL;
}

inline HRESULT BoolResult(BOOL ok) { return ok ? S_OK : LastErrorResult(); }

}  // namespace pvl

// No exception may cross a COM method, an export or a window procedure.
#define PVL_COM_TRY try {
#define PVL_COM_CATCH                                            \
    }                                                            \
    catch (const std::bad_alloc&) { return E_OUTOFMEMORY; }      \
    catch (...) { return E_UNEXPECTED; }
