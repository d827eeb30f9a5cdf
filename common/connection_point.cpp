#include "connection_point.h"
#include "result.h"

namespace pvl {

ConnectionPoint::ConnectionPoint(IConnectionPointContainer* container, const IID& events,
                                 std::function<void(int)> observer)
    : container_(container), events_(events), observer_(std::move(observer)) {}

ConnectionPoint::~ConnectionPoint() { DropAll(); }

const QITAB* ConnectionPoint::Interfaces() {
    static const QITAB table[] = {QITABENT(ConnectionPoint, IConnectionPoint), {}};
    return table;
}

IFACEMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = events_;
    return S_OK;
}

IFACEMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = container_;
    if (!container_) return E_UNEXPECTED;
    container_->AddRef();
    return S_OK;
}

IFACEMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (cookie) *cookie = 0;
    if (!sink || !cookie) return E_POINTER;
    PVL_COM_TRY
    ComPtr<IDispatch> events;
    // A sink must answer for the event interface itself, as the connection-point contract asks.
    if (FAILED(sink->QueryInterface(events_, reinterpret_cast<void**>(events.GetAddressOf()))) || !events)
        return CONNECT_E_CANNOTCONNECT;
    const DWORD c = nextCookie_++;
    sinks_.emplace(c, std::move(events));
    *cookie = c;
    if (observer_) observer_(+1);
    return S_OK;
    PVL_COM_CATCH
}

IFACEMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
    auto it = sinks_.find(cookie);
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    ComPtr<IDispatch> sink = std::move(it->second);  // released after the map is consistent
    sinks_.erase(it);
    if (observer_) observer_(-1);
    return S_OK;
}

IFACEMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** e) {
    if (e) *e = nullptr;
    return E_NOTIMPL;
}

HRESULT ConnectionPoint::Fire(DISPID id, VARIANT* argsReversed, UINT argCount) {
    std::vector<std::pair<DWORD, ComPtr<IDispatch>>> snapshot(sinks_.begin(), sinks_.end());
    HRESULT first = S_OK;
    for (auto& [cookie, sink] : snapshot) {
        if (!sinks_.count(cookie)) continue;  // unadvised by an earlier sink's handler
        DISPPARAMS params{argsReversed, nullptr, argCount, 0};
        const HRESULT hr = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                        nullptr, nullptr);
        if (FAILED(hr) && SUCCEEDED(first)) first = hr;
    }
    return first;
}

void ConnectionPoint::DropAll() {
    while (!sinks_.empty()) Unadvise(sinks_.begin()->first);
}

ConnectionPoints::~ConnectionPoints() {
    for (auto& p : points_) p->Orphan();
}

IFACEMETHODIMP ConnectionPoints::EnumConnectionPoints(IEnumConnectionPoints** e) {
    if (e) *e = nullptr;
    return E_NOTIMPL;
}

IFACEMETHODIMP ConnectionPoints::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    for (auto& p : points_) {
        if (IsEqualIID(p->Events(), iid)) {
            *point = p.Get();
            (*point)->AddRef();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

void ConnectionPoints::AddConnectionPoint(const IID& events, std::function<void(int)> observer) {
    auto p = MakeComObject<ConnectionPoint>(this, events, std::move(observer));
    if (!p) throw std::bad_alloc();
    points_.push_back(std::move(p));
}

HRESULT ConnectionPoints::FireEvent(const IID& events, DISPID id, VARIANT* argsReversed, UINT argCount) {
    for (auto& p : points_)
        if (IsEqualIID(p->Events(), events)) {
            ComPtr<ConnectionPoint> keep = p;
            return keep->Fire(id, argsReversed, argCount);
        }
    return CONNECT_E_NOCONNECTION;
}

size_t ConnectionPoints::AdvisedSinks() const {
    size_t n = 0;
    for (auto& p : points_) n += p->SinkCount();
    return n;
}

void ConnectionPoints::DisconnectAll() {
    for (auto& p : points_) p->DropAll();
}

}  // namespace pvl
