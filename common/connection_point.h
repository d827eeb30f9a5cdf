// The source side of Automation events: one IConnectionPoint per outgoing dispinterface, and a
// container that owns them. Events are raised by calling every advised sink's Invoke.
#pragma once
#include "com_object.h"
#include <ocidl.h>
#include <olectl.h>
#include <functional>
#include <map>
#include <vector>

namespace pvl {

class ConnectionPoint : public IConnectionPoint {
public:
    // `observer` (may be empty) hears +1 for each Advise and -1 for each Unadvise or drop.
    ConnectionPoint(IConnectionPointContainer* container, const IID& events, std::function<void(int)> observer);
    ~ConnectionPoint();
    static const QITAB* Interfaces();

    IFACEMETHODIMP GetConnectionInterface(IID* iid) override;
    IFACEMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    IFACEMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    IFACEMETHODIMP Unadvise(DWORD cookie) override;
    IFACEMETHODIMP EnumConnections(IEnumConnections** e) override;

    const IID& Events() const { return events_; }
    size_t SinkCount() const { return sinks_.size(); }
    // Calls each sink advised when the call starts; sinks may unadvise while it runs.
    // Returns the first failure a sink returned, or S_OK.
    HRESULT Fire(DISPID id, VARIANT* argsReversed, UINT argCount);
    void DropAll();
    void Orphan() { container_ = nullptr; }

private:
    IConnectionPointContainer* container_;  // not owned: the container outlives us or orphans us
    IID events_;
    std::function<void(int)> observer_;
    std::map<DWORD, ComPtr<IDispatch>> sinks_;
    DWORD nextCookie_ = 1;
};

// Owns the connection points of one event source; the source derives from it.
class ConnectionPoints : public IConnectionPointContainer {
public:
    ~ConnectionPoints();
    IFACEMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** e) override;
    IFACEMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

protected:
    // Adds a connection point for `events`; call from the derived constructor.
    void AddConnectionPoint(const IID& events, std::function<void(int)> observer = {});
    HRESULT FireEvent(const IID& events, DISPID id, VARIANT* argsReversed = nullptr, UINT argCount = 0);
    size_t AdvisedSinks() const;
    void DisconnectAll();

private:
    std::vector<ComPtr<ConnectionPoint>> points_;
};

}  // namespace pvl
