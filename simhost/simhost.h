// The simulated mail client: real COM objects with the host's interface ids, dispatch ids and
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
#include "addin/host_model.h"
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

    long LiveObjects() const { return liveObjects_; }
    long AdvisedSinks() const { return advisedSinks_; }

    // Runs `hook` after every logged call, before the call does its work (re-entrancy tests: the
    // hook may raise events or open windows). An empty function removes it; Reset() does too.
    void OnEnter(std::function<void(const Call&)> hook) { hook_ = std::move(hook); }

    // For the objects' own use.
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

protected:
    void AddEvents(const IID& events);
    HRESULT Raise(const IID& events, DISPID id, VARIANT* argsReversed = nullptr, UINT count = 0) {
        return FireEvent(events, id, argsReversed, count);
    }
};

class Attachment;
class Attachments;
class CommandBar;
class CommandBarButton;
class CommandBars;
class CommandBarControls;
class Inspector;
class Inspectors;

// --- Outlook -------------------------------------------------------------------------------------

class Item : public HostObject {
public:
    Item(const wchar_t* type, long itemClass);
    long ItemClass() const { return class_; }

protected:
    long class_;
};

class MailItem : public Item {
public:
    MailItem();
    ~MailItem();
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    Attachments& GetAttachments() { return *attachments_.Get(); }

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    ComPtr<Attachments> attachments_;
};

class ContactItem : public Item {
public:
    ContactItem();
    static const QITAB* Interfaces();

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;
};

class Attachment : public HostObject {
public:
    Attachment(Attachments* owner, std::wstring displayName, std::wstring sourcePath, std::vector<unsigned char> data);
    static const QITAB* Interfaces();
    const std::wstring& DisplayName() const { return displayName_; }
    const std::wstring& SourcePath() const { return sourcePath_; }
    const std::vector<unsigned char>& Data() const { return data_; }
    void Orphan() { owner_ = nullptr; }

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    Attachments* owner_;
    std::wstring displayName_;
    std::wstring sourcePath_;
    std::vector<unsigned char> data_;
};

class Attachments : public HostObject {
public:
    Attachments();
    ~Attachments();
    static const QITAB* Interfaces();
    const std::vector<ComPtr<Attachment>>& All() const { return items_; }
    void Remove(Attachment* a);
    // Adds a file as the host does, without logging (for test set-up).
    HRESULT AddFile(const std::wstring& path);

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    std::vector<ComPtr<Attachment>> items_;
};

class Inspector : public EventSource {
public:
    Inspector(Inspectors* owner, IDispatch* item);
    ~Inspector();
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    CommandBars& Bars() { return *bars_.Get(); }
    IDispatch* CurrentItem() const { return item_.Get(); }
    // Closes the window as the user does: Close is raised, then the window leaves the collection.
    HRESULT CloseWindow();
    bool IsClosed() const { return closed_; }
    void Orphan() { owner_ = nullptr; }
    // Replaces what CurrentItem answers (bad-input tests); VT_EMPTY restores the item, unless
    // `literal` asks for VT_EMPTY itself to be answered.
    void OverrideCurrentItem(const VARIANT& v, bool literal = false);
    // The same for CommandBars.
    void OverrideCommandBars(const VARIANT& v, bool literal = false);

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    Inspectors* owner_;
    ComPtr<IDispatch> item_;
    ComPtr<CommandBars> bars_;
    pvl::Variant override_;
    bool overrideEmpty_ = false;
    pvl::Variant barsOverride_;
    bool barsOverridden_ = false;
    bool closed_ = false;
};

class Inspectors : public EventSource {
public:
    Inspectors();
    ~Inspectors();
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    // Opens a window for `item`: it joins the collection and NewInspector is raised.
    ComPtr<Inspector> Open(IDispatch* item);
    void Remove(Inspector* inspector);
    const std::vector<ComPtr<Inspector>>& All() const { return items_; }
    // Raises NewInspector with any argument (bad-input tests).
    HRESULT RaiseNewInspector(VARIANT* arg);

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    std::vector<ComPtr<Inspector>> items_;
};

class Application : public HostObject {
public:
    Application();
    ~Application();
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    Inspectors& GetInspectors() { return *inspectors_.Get(); }
    // Closes every window and lets go of them (the host shutting down).
    void CloseAll();

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    ComPtr<Inspectors> inspectors_;
};

// --- Office --------------------------------------------------------------------------------------

class COMAddIn : public HostObject {
public:
    explicit COMAddIn(std::wstring progId);
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    // Makes ProgId answer `v` instead of the text (bad-input tests).
    void OverrideProgId(const VARIANT& v) { progIdOverride_.CopyFrom(v); progIdOverridden_ = true; }

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    std::wstring progId_;
    pvl::Variant progIdOverride_;
    bool progIdOverridden_ = false;
    bool connected_ = true;
    ComPtr<IDispatch> object_;
};

// A picture as the host received it, with its pixels read back.
struct ReceivedPicture {
    ComPtr<IDispatch> picture;
    int width = 0, height = 0;
    std::vector<COLORREF> pixels;  // row 0 at the top
    COLORREF At(int row, int column) const { return pixels[row * width + column]; }
    explicit operator bool() const { return picture != nullptr; }
};

class CommandBarButton : public EventSource {
public:
    explicit CommandBarButton(CommandBarControls* owner);
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    // Clicks the button as the user does. Returns the handlers' result; *cancel gets CancelDefault.
    HRESULT Click(VARIANT_BOOL* cancel = nullptr);
    // Raises Click with arbitrary arguments (bad-input tests).
    HRESULT RaiseClick(VARIANT* argsReversed, UINT count);
    std::wstring Caption() const { return caption_; }
    std::wstring Tag() const { return tag_; }
    std::wstring OnAction() const { return onAction_; }
    bool Enabled() const { return enabled_; }
    bool Visible() const { return visible_; }
    long Style() const { return style_; }
    const ReceivedPicture& Picture() const { return picture_; }
    const ReceivedPicture& Mask() const { return mask_; }
    void Orphan() { owner_ = nullptr; }

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    CommandBarControls* owner_;
    std::wstring caption_, tag_, onAction_, tooltip_, parameter_;
    bool enabled_ = true, visible_ = true, beginGroup_ = false;
    long style_ = 0, faceId_ = 0, state_ = 0;
    ReceivedPicture picture_, mask_;
};

class CommandBarControls : public HostObject {
public:
    CommandBarControls();
    ~CommandBarControls();
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    const std::vector<ComPtr<CommandBarButton>>& Buttons() const { return buttons_; }
    void Remove(CommandBarButton* b);

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    std::vector<ComPtr<CommandBarButton>> buttons_;
};

class CommandBar : public HostObject {
public:
    CommandBar(CommandBars* owner, std::wstring name, long position);
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    const std::wstring& BarName() const { return name_; }
    long Position() const { return position_; }
    bool Visible() const { return visible_; }
    CommandBarControls& Controls() { return *controls_.Get(); }
    void Orphan() { owner_ = nullptr; }

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    CommandBars* owner_;
    std::wstring name_;
    long position_;
    bool visible_ = false, enabled_ = true;
    ComPtr<CommandBarControls> controls_;
};

class CommandBars : public HostObject {
public:
    CommandBars();
    ~CommandBars();
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    const std::vector<ComPtr<CommandBar>>& All() const { return bars_; }
    // The bars with this name.
    std::vector<CommandBar*> Named(const std::wstring& name) const;
    // Adds a bar without logging (for test set-up, e.g. a bar left from an earlier session).
    ComPtr<CommandBar> AddBar(const std::wstring& name, long position);
    void Remove(CommandBar* bar);

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    std::vector<ComPtr<CommandBar>> bars_;
};

// The whole simulated client: its application object and the add-in object the host knows it by.
struct Client {
    ComPtr<Application> app;
    ComPtr<COMAddIn> addIn;
    static Client Create(const wchar_t* progId = L"pvlAddIn.Connect");
    ComPtr<MailItem> NewMail();
    ComPtr<ContactItem> NewContact();
    ComPtr<Inspector> Open(IDispatch* item) { return app->GetInspectors().Open(item); }
};

}  // namespace simhost
