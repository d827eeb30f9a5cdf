// IUnknown written once. A class lists its interfaces in a QITAB (answered through QISearch) and is
// created as ComObject<T>, the most-derived type, which supplies reference counting:
//
//   class Foo : public IBar { public: static const QITAB* Interfaces(); ... };
//   ComPtr<Foo> foo = MakeComObject<Foo>(args...);   // null when out of memory
//
// Counter (optional) is told of each construction and destruction; the server uses it for
// DllCanUnloadNow, the simulated host for its count of live objects. A class with a FinalRelease()
// has it called when the last reference goes, while the object is still whole.
#pragma once
#include <windows.h>
#include <shlwapi.h>
#include <wrl/client.h>
#include <new>
#include <utility>

namespace pvl {

using Microsoft::WRL::ComPtr;

struct NoCounter {
    static void Increment() {}
    static void Decrement() {}
};

// A class with more than one interface base redeclares IUnknown with this, so that ComPtr<Class>
// can call it unambiguously; ComObject (or another most-derived wrapper) supplies the bodies.
#define PVL_DECLARE_IUNKNOWN                                          \
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override = 0; \
    IFACEMETHODIMP_(ULONG) AddRef() override = 0;                    \
    IFACEMETHODIMP_(ULONG) Release() override = 0

template <class T, class Counter = NoCounter>
class ComObject final : public T {
public:
    template <class... Args>
    explicit ComObject(Args&&... args) : T(std::forward<Args>(args)...) { Counter::Increment(); }
    ~ComObject() { Counter::Decrement(); }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return QISearch(static_cast<T*>(this), const_cast<QITAB*>(T::Interfaces()), riid, ppv);
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    IFACEMETHODIMP_(ULONG) Release() override {
        const LONG n = InterlockedDecrement(&refs_);
        if (n == 0) {
            // Held at one while it goes, so that a reference taken and given back meanwhile (a host
            // call made from FinalRelease or the destructor) cannot delete it a second time.
            refs_ = 1;
            if constexpr (requires(T& t) { t.FinalRelease(); }) T::FinalRelease();
            delete this;
        }
        return n;
    }

private:
    LONG refs_ = 1;
};

// Creates T as a COM object holding one reference, which the returned pointer adopts.
// (mingw-w64's ComPtr::Attach adds a reference, so the raw pointer is placed directly.)
// A constructor that throws yields null, like a failed allocation.
template <class T, class Counter = NoCounter, class... Args>
ComPtr<T> MakeComObject(Args&&... args) {
    ComPtr<T> p;
    try {
        *p.GetAddressOf() = new ComObject<T, Counter>(std::forward<Args>(args)...);
    } catch (...) {
    }
    return p;
}

}  // namespace pvl
