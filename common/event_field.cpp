#include "event_field.h"

namespace pvl {

IFACEMETHODIMP EventSink::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, events_) && !IsEqualIID(riid, __uuidof(IDispatch)) && !IsEqualIID(riid, IID_IUnknown))
        return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
}

IFACEMETHODIMP EventSink::Invoke(DISPID id, REFIID riid, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO*, UINT*) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (result) VariantInit(result);
    if (!owner_) return S_OK;  // detached: the connection is being torn down
    DISPPARAMS none{};
    ComPtr<IUnknown> keepOwner = ownerLifetime_;
    PVL_COM_TRY
    return route_(owner_, id, params ? params : &none);
    PVL_COM_CATCH
}

EventConnection::EventConnection(const IID& events, IUnknown* ownerLifetime, void* owner, EventSink::Route route)
    : events_(events), ownerLifetime_(ownerLifetime), owner_(owner), route_(route) {}

EventConnection::~EventConnection() { Clear(); }

HRESULT EventConnection::Assign(IDispatch* source) {
    if (!source) {
        Clear();
        return S_OK;
    }
    ComPtr<IConnectionPointContainer> container;
    RETURN_IF_FAILED(source->QueryInterface(IID_PPV_ARGS(&container)));
    ComPtr<IConnectionPoint> point;
    RETURN_IF_FAILED(container->FindConnectionPoint(events_, &point));
    if (!point) return E_POINTER;
    ComPtr<EventSink> sink;
    *sink.GetAddressOf() = new (std::nothrow) EventSink(events_, ownerLifetime_, owner_, route_);
    if (!sink) return E_OUTOFMEMORY;
    DWORD cookie = 0;
    RETURN_IF_FAILED(point->Advise(static_cast<IDispatch*>(sink.Get()), &cookie));

    Clear();
    source_ = source;
    point_ = std::move(point);
    cookie_ = cookie;
    sink_ = std::move(sink);
    return S_OK;
}

void EventConnection::Clear() {
    if (sink_) sink_->Detach();
    // Swap out first: an Unadvise that re-enters the owner sees the field already empty.
    ComPtr<IConnectionPoint> point = std::move(point_);
    const DWORD cookie = std::exchange(cookie_, 0);
    ComPtr<EventSink> sink = std::move(sink_);
    ComPtr<IDispatch> source = std::move(source_);
    if (point) point->Unadvise(cookie);
}

}  // namespace pvl
