// A field that holds an event source and the add-in's connection to its events.
//
// Assigning the field moves the connection: the old source is unadvised and released, the new one
// is held and advised. Clearing or destroying the field ends the connection. If the new object
// cannot be advised, the assignment fails and the field keeps its old object and connection.
//
// Each field owns one sink object. The sink calls `route` on the owner for every event; the owner
// is kept alive for the duration of the call, since a handler may release the last outside reference.
#pragma once
#include "com_object.h"
#include "dispatch_impl.h"
#include <ocidl.h>

namespace pvl {

// The sink answers for IDispatch and for the event interface it was made for, which only its
// instance knows; so it counts its own references rather than being a ComObject.
class EventSink final : public DispatchImpl<IDispatch> {
public:
    using Route = HRESULT (*)(void* owner, DISPID id, DISPPARAMS* params);
    EventSink(const IID& events, IUnknown* ownerLifetime, void* owner, Route route)
        : events_(events), ownerLifetime_(ownerLifetime), owner_(owner), route_(route) {}

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    IFACEMETHODIMP_(ULONG) Release() override {
        const LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return n;
    }
    IFACEMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* info, UINT* argError) override;
    // After this the sink ignores events: a source that leaks it cannot reach a destroyed owner.
    void Detach() { owner_ = nullptr; ownerLifetime_ = nullptr; }

protected:
    std::span<const DispMember> Members() const override { return {}; }
    HRESULT InvokeMember(DISPID, WORD, DISPPARAMS*, VARIANT*) override { return DISP_E_MEMBERNOTFOUND; }

private:
    LONG refs_ = 1;
    IID events_;
    IUnknown* ownerLifetime_;
    void* owner_;
    Route route_;
};


class EventConnection {
public:
    EventConnection(const IID& events, IUnknown* ownerLifetime, void* owner, EventSink::Route route);
    ~EventConnection();
    EventConnection(const EventConnection&) = delete;
    EventConnection& operator=(const EventConnection&) = delete;

    HRESULT Assign(IDispatch* source);
    void Clear();
    IDispatch* get() const { return source_.Get(); }
    explicit operator bool() const { return source_ != nullptr; }

private:
    IID events_;
    IUnknown* ownerLifetime_;
    void* owner_;
    EventSink::Route route_;
    ComPtr<IDispatch> source_;
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
    ComPtr<EventSink> sink_;
};

// The typed face of EventConnection: `Handler` is a member of Owner receiving every event. An owner
// with several COM interfaces names the one whose IUnknown keeps it alive as Owner::Identity.
template <class Owner, HRESULT (Owner::*Handler)(DISPID, DISPPARAMS*)>
class EventField : public EventConnection {
public:
    EventField(Owner* owner, const IID& events)
        : EventConnection(events, static_cast<IUnknown*>(static_cast<typename Owner::Identity*>(owner)), owner,
                          &Trampoline) {}

private:
    static HRESULT Trampoline(void* owner, DISPID id, DISPPARAMS* params) {
        return (static_cast<Owner*>(owner)->*Handler)(id, params);
    }
};

}  // namespace pvl
