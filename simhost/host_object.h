// The simulated mail client's bookkeeping and the base of its objects: real COM objects with the host's interface ids, dispatch ids and
// connection-point events, standing in for Outlook and Office in tests, benchmarks and the demo.
//
// Besides the object model it offers what a test needs to see into the add-in's behaviour:
//   - a log of every call the add-in makes on a host object, in order, with its arguments;
//   - fault injection: any named operation ("Inspector.CurrentItem", "CommandBars.Add",
//     "Application.QueryInterface", ...) can be made to fail with a chosen HRESULT;
//   - counts of live host objects and of advised event sinks, so a test can prove that nothing is
//     left behind when the add-in is released.
// Everything runs on the calling thread, which must be a single-threaded apartment.
#pragma once
#include "common/com_object.h"
#include "common/connection_point.h"
#include "common/dispatch_impl.h"
#include "common/variant.h"
#include "common/result.h"
#include "common/host_model.h"
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace simhost {

using pvl::ComPtr;

struct Call {
    std::wstring object;  // "Inspector#1"
    std::wstring member;  // "CurrentItem"
    std::wstring kind;    // "get", "put", "call", "QueryInterface"
    std::wstring args;    // arguments as text: "\"Parvaline\", 1"
    std::wstring Text() const;  // "Inspector#1.CurrentItem get" or "Button#2.Caption put \"Record\""
};

// The host's bookkeeping, shared by all its objects. Reset() between tests.
class Host {
public:
    static Host& Get();
    void Reset();

    const std::vector<Call>& Log() const { return log_; }
    void ClearLog() { log_.clear(); }
    std::vector<std::wstring> LogText() const;
    // The calls whose text contains `needle`.
    std::vector<std::wstring> LogMatching(const std::wstring& needle) const;

    // Makes operation "Type.Member" fail with `hr`, for the next `times` calls (-1: every call).
    void Fail(const std::wstring& operation, HRESULT hr, int times = -1);
    void ClearFaults() { faults_.clear(); }

    // Attachments.Item with a name: Outlook documents no default property for an attachment, so a
    // name need not find anything. In this mode Item takes numbers only, as the harsher reading.
    void SetAttachmentItemByNumberOnly(bool on) { attachmentItemByNumberOnly_ = on; }
    bool AttachmentItemByNumberOnly() const { return attachmentItemByNumberOnly_; }

    long LiveObjects() const { return liveObjects_; }
    long AdvisedSinks() const { return advisedSinks_; }

    // Runs `hook` after every logged call, before the call does its work (re-entrancy tests: the
    // hook may raise events or open windows). An empty function removes it; Reset() does too.
    void OnEnter(std::function<void(const Call&)> hook) { hook_ = std::move(hook); }

    // For the objects' own use.
    // The fault set for "type.member", if any, without a log entry (calls the add-in makes through
    // COM's own interfaces rather than the host's, such as finding an event source's connection point).
    HRESULT Injected(const std::wstring& type, const wchar_t* member);
    HRESULT Enter(const std::wstring& type, const std::wstring& object, const wchar_t* member, const wchar_t* kind,
                  const std::wstring& args);
    int NextNumber(const std::wstring& type) { return ++numbers_[type]; }
    void ObjectCreated() { ++liveObjects_; }
    void ObjectDestroyed() { --liveObjects_; }
    void SinksChanged(int delta) { advisedSinks_ += delta; }

private:
    struct Fault {
        HRESULT hr;
        int remaining;
    };
    std::vector<Call> log_;
    std::map<std::wstring, Fault> faults_;
    std::map<std::wstring, int> numbers_;
    long liveObjects_ = 0;
    long advisedSinks_ = 0;
    std::function<void(const Call&)> hook_;
    bool attachmentItemByNumberOnly_ = false;
};

std::wstring Describe(const VARIANT& v);

// Base of every host object: IDispatch by name and dispatch id, a name for the log, a reference count
// that tests can read.
class HostObject : public pvl::DispatchImpl<IDispatch> {
public:
    explicit HostObject(const wchar_t* type);
    virtual ~HostObject();
    const std::wstring& Name() const { return name_; }
    const std::wstring& Type() const { return type_; }
    virtual ULONG RefCount() const = 0;
    // Names the host interface id for the log; null for ids that are not the host's.
    virtual const wchar_t* HostInterfaceName(REFIID) const { return nullptr; }

protected:
    HRESULT Enter(const wchar_t* member, const wchar_t* kind, const std::wstring& args = {});
    HRESULT EnterGet(const wchar_t* member) { return Enter(member, L"get"); }
    HRESULT EnterPut(const wchar_t* member, DISPPARAMS* params);
    HRESULT EnterCall(const wchar_t* member, DISPPARAMS* params);
    // Count and Item (numbered from 1) of a host collection, as Outlook's collections answer them.
    template <class T>
    HRESULT InvokeCountOrItem(DISPID dispid, DISPID countId, const std::vector<ComPtr<T>>& items, DISPPARAMS* params,
                              VARIANT* result) {
        if (dispid == countId) {
            RETURN_IF_FAILED(EnterGet(L"Count"));
            return pvl::ReturnLong(static_cast<long>(items.size()), result);
        }
        RETURN_IF_FAILED(EnterCall(L"Item", params));
        pvl::Variant n;
        RETURN_IF_FAILED(pvl::GetArg(params, 0, VT_I4, n.put()));
        if (n.ref().lVal < 1 || n.ref().lVal > static_cast<long>(items.size())) return DISP_E_BADINDEX;
        return pvl::ReturnObject(items[n.ref().lVal - 1].Get(), result);
    }

private:
    std::wstring type_;
    std::wstring name_;
};

// The COM object around a host class: counts references and live objects, logs host interface queries
// and lets them be failed ("Type.QueryInterface").
template <class T>
class HostCom final : public T {
public:
    template <class... A>
    explicit HostCom(A&&... a) : T(std::forward<A>(a)...) {}
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (const wchar_t* name = this->HostInterfaceName(riid)) {
            const HRESULT hr = Host::Get().Enter(this->Type(), this->Name(), L"QueryInterface", L"QueryInterface", name);
            if (FAILED(hr)) return E_NOINTERFACE;
        }
        return QISearch(static_cast<T*>(this), const_cast<QITAB*>(T::Interfaces()), riid, ppv);
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    IFACEMETHODIMP_(ULONG) Release() override {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    ULONG RefCount() const override { return refs_; }

private:
    ULONG refs_ = 1;
};

template <class T, class... A>
ComPtr<T> Make(A&&... a) {
    ComPtr<T> p;
    *p.GetAddressOf() = new HostCom<T>(std::forward<A>(a)...);
    return p;
}

// An event source: a host object with connection points whose sinks the host counts.
class EventSource : public HostObject, public pvl::ConnectionPoints {
public:
    using HostObject::HostObject;
    PVL_DECLARE_IUNKNOWN;
    size_t Sinks() const { return AdvisedSinks(); }
    // "Type.FindConnectionPoint" can be failed, as an object that refuses its events.
    IFACEMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

protected:
    void AddEvents(const IID& events);
    HRESULT Raise(const IID& events, DISPID id, VARIANT* argsReversed = nullptr, UINT count = 0) {
        return FireEvent(events, id, argsReversed, count);
    }
};

// Shared by the objects' implementations.
std::wstring DescribeArgs(const DISPPARAMS* params);
bool SameText(const std::wstring& a, const std::wstring& b);

}  // namespace simhost
