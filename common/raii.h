// Owning wrappers for the handle types the component uses: each closes its handle exactly once.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <utility>

namespace pvl {

// A handle owned like std::unique_ptr: Traits::Close runs on destruction and on reset.
// Traits gives the handle type, its invalid value and how to close it.
template <class Traits>
class UniqueAny {
public:
    using T = typename Traits::Type;
    UniqueAny() = default;
    explicit UniqueAny(T h) : h_(h) {}
    UniqueAny(UniqueAny&& o) noexcept : h_(o.release()) {}
    UniqueAny& operator=(UniqueAny&& o) noexcept { reset(o.release()); return *this; }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    ~UniqueAny() { reset(); }

    T get() const { return h_; }
    explicit operator bool() const { return h_ != Traits::Invalid(); }
    T release() { return std::exchange(h_, Traits::Invalid()); }
    void reset(T h = Traits::Invalid()) {
        T old = std::exchange(h_, h);
        if (old != Traits::Invalid()) Traits::Close(old);
    }
    T* put() { reset(); return &h_; }

private:
    T h_ = Traits::Invalid();
};

template <class H, auto CloseFn, auto InvalidValue = 0>
struct HandleTraits {
    using Type = H;
    static H Invalid() {
        if constexpr (InvalidValue == 0) return H{};
        else return reinterpret_cast<H>(static_cast<INT_PTR>(InvalidValue));
    }
    static void Close(H h) { CloseFn(h); }
};

namespace detail {
inline void CloseKernelHandle(HANDLE h) { CloseHandle(h); }
inline void CloseRegKey(HKEY k) { RegCloseKey(k); }
inline void ReleaseModule(HMODULE m) { FreeLibrary(m); }
inline void DestroyWnd(HWND w) { DestroyWindow(w); }
inline void DeleteGdiObject(HGDIOBJ o) { DeleteObject(o); }
}  // namespace detail

using UniqueHandle = UniqueAny<HandleTraits<HANDLE, detail::CloseKernelHandle>>;  // process, thread, event
using UniqueFile = UniqueAny<HandleTraits<HANDLE, detail::CloseKernelHandle, -1>>;  // INVALID_HANDLE_VALUE
using UniqueHKey = UniqueAny<HandleTraits<HKEY, detail::CloseRegKey>>;
using UniqueHModule = UniqueAny<HandleTraits<HMODULE, detail::ReleaseModule>>;
using UniqueHwnd = UniqueAny<HandleTraits<HWND, detail::DestroyWnd>>;
using UniqueGdiObject = UniqueAny<HandleTraits<HGDIOBJ, detail::DeleteGdiObject>>;

// A BSTR owned by this object; null is the empty string, as in Automation.
class UniqueBstr {
public:
    UniqueBstr() = default;
    explicit UniqueBstr(const wchar_t* s) : s_(s ? SysAllocString(s) : nullptr) {}
    UniqueBstr(UniqueBstr&& o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
    UniqueBstr& operator=(UniqueBstr&& o) noexcept { reset(std::exchange(o.s_, nullptr)); return *this; }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    ~UniqueBstr() { reset(); }

    BSTR get() const { return s_; }
    const wchar_t* c_str() const { return s_ ? s_ : L""; }
    UINT size() const { return SysStringLen(s_); }
    BSTR release() { return std::exchange(s_, nullptr); }
    void reset(BSTR s = nullptr) { SysFreeString(std::exchange(s_, s)); }
    BSTR* put() { reset(); return &s_; }

private:
    BSTR s_ = nullptr;
};

}  // namespace pvl
