// Outlook's objects in the simulated mail client: application, inspectors, items and attachments.
#pragma once
#include "simhost/host_object.h"
#include <memory>

namespace simhost {

class Attachment;
class Ribbon;
class Attachments;
class CommandBars;
class Inspector;
class Inspectors;

// An item is an event source, as every Outlook item is (ItemEvents_10).
class Item : public EventSource {
public:
    Item(const wchar_t* type, long itemClass);
    long ItemClass() const { return class_; }

protected:
    long class_;
};

class MailItem : public Item {
public:
    // A mail being written, or (`received`) one that arrived: Office gives their windows different
    // ribbons.
    explicit MailItem(bool received = false);
    ~MailItem();
    bool Received() const { return received_; }
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    Attachments& GetAttachments() { return *attachments_.Get(); }
    // The user presses Send: the item's Send event comes first (a handler may cancel it); unless
    // cancelled, the mail goes to the Outbox, after which its attachments can no longer change.
    // S_FALSE when a handler cancelled the send.
    HRESULT Send();
    bool Sent() const { return sent_; }

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    ComPtr<Attachments> attachments_;
    bool sent_ = false;
    bool received_;
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
    // The mail has been sent: from now on nothing can be added or removed.
    void Freeze() { frozen_ = true; }
    bool Frozen() const { return frozen_; }

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    std::vector<ComPtr<Attachment>> items_;
    bool frozen_ = false;
};

// Also IOleWindow, as Outlook's Inspector is: the window the client shows it in.
class Inspector : public EventSource, public IOleWindow {
public:
    Inspector(Inspectors* owner, IDispatch* item);
    ~Inspector();
    PVL_DECLARE_IUNKNOWN;
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    // The window GetWindow answers ("Inspector.GetWindow"); without one it fails with E_FAIL.
    void SetWindow(HWND window) { window_ = window; }
    IFACEMETHODIMP GetWindow(HWND* window) override;
    IFACEMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    CommandBars& Bars() { return *bars_.Get(); }
    IDispatch* CurrentItem() const { return item_.Get(); }
    // Closes the window as the user does: Close is raised, then the window leaves the collection.
    HRESULT CloseWindow();
    // Presses Send in a mail window: the item's Send, then (unless cancelled) the window closes.
    // S_FALSE when the send was cancelled and the window stays open.
    HRESULT SendMail();
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
    HWND window_ = nullptr;
};

// Told of every window after the add-ins heard of it, and of every window leaving (Office's ribbon).
class InspectorObserver {
public:
    virtual void InspectorOpened(Inspector* inspector) = 0;
    virtual void InspectorClosed(Inspector* inspector) = 0;

protected:
    ~InspectorObserver() = default;
};

class Inspectors : public EventSource {
public:
    Inspectors();
    ~Inspectors();
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    // Opens a window for `item`, shown in `window` if the client has one: it joins the collection
    // and NewInspector is raised.
    ComPtr<Inspector> Open(IDispatch* item, HWND window = nullptr);
    void Remove(Inspector* inspector);
    const std::vector<ComPtr<Inspector>>& All() const { return items_; }
    // Raises NewInspector with any argument (bad-input tests).
    HRESULT RaiseNewInspector(VARIANT* arg);
    void SetObserver(InspectorObserver* observer) { observer_ = observer; }

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    std::vector<ComPtr<Inspector>> items_;
    InspectorObserver* observer_ = nullptr;
};

class Application : public HostObject {
public:
    Application();
    ~Application();
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    Inspectors& GetInspectors() { return *inspectors_.Get(); }
    // Office's ribbon in this client's windows: off until an add-in object is attached to it.
    Ribbon& GetRibbon() { return *ribbon_; }
    // Closes every window and lets go of them (the host shutting down).
    void CloseAll();

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    ComPtr<Inspectors> inspectors_;
    std::unique_ptr<Ribbon> ribbon_;
};

}  // namespace simhost
