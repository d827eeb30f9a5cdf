// Outlook's objects in the simulated mail client: application, its windows (inspectors, which show
// one item, and explorers, the main windows with a reading pane where replies are written inline),
// items and attachments.
#pragma once
#include "simhost/host_object.h"
#include <memory>
#include <oleidl.h>

namespace simhost {

class Attachment;
class Ribbon;
class Attachments;
class CommandBars;
class Explorer;
class Explorers;
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
    // Its window closes: the item's own Close comes first (a handler may cancel it; S_FALSE then).
    HRESULT RaiseClose();
    // Saved to Drafts, as when the user answers "save changes?": the attachments it holds now.
    void Save();
    struct SavedAttachment {
        std::wstring name;
        std::vector<unsigned char> data;
    };
    const std::vector<SavedAttachment>& SavedAttachments() const { return saved_; }
    bool Saved() const { return savedOnce_; }
    // Written inline in an explorer's reading pane: Outlook refuses Send (and Close, Delete, Move,
    // Reply, Forward) on such an item from the object model; only the pane sends it.
    bool Inline() const { return inline_; }
    void SetInline(bool on) { inline_ = on; }
    // A reply the user left inline by selecting another mail: kept in Drafts.
    bool Draft() const { return draft_; }
    void KeepAsDraft() { draft_ = true; }
    // Discarded by the user: gone, so nothing can be added to or removed from it any more.
    bool Discarded() const { return discarded_; }
    void Discard();

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    ComPtr<Attachments> attachments_;
    bool sent_ = false;
    bool received_;
    std::vector<SavedAttachment> saved_;
    bool savedOnce_ = false;
    bool inline_ = false, draft_ = false, discarded_ = false;
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

// A window of the host: an inspector or an explorer. Office's ribbon serves both kinds; the
// IRibbonControl.Context of a control in it is the window.
class HostWindow : public EventSource {
public:
    using EventSource::EventSource;
    virtual bool IsClosed() const = 0;
    // Whether the window shows the contextual tab set `tabSet` now (Office shows such a set only
    // while its context lasts, e.g. a reply being written inline).
    virtual bool ShowsTabSet(const std::wstring& tabSet) const { (void)tabSet; return false; }
};

// Also IOleWindow, as Outlook's Inspector is: the window the client shows it in.
class Inspector : public HostWindow, public IOleWindow {
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
    bool IsClosed() const override { return closed_; }
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

// Told of every window after the add-ins heard of it, of every window leaving, and of every change
// of the contextual tab sets a window shows (Office's ribbon).
class WindowObserver {
public:
    virtual void WindowOpened(HostWindow* window) = 0;
    virtual void WindowClosed(HostWindow* window) = 0;
    virtual void TabSetsChanged(HostWindow* window) = 0;

protected:
    ~WindowObserver() = default;
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
    void SetObserver(WindowObserver* observer) { observer_ = observer; }

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    std::vector<ComPtr<Inspector>> items_;
    WindowObserver* observer_ = nullptr;
};

// Outlook's main window: a list of mails and a reading pane, where a reply is written inline (Outlook
// 2013 and later). Its own command bars exist, but Outlook shows none for an inline reply. Events:
// ExplorerEvents_10 (its default source): Activate, Close, InlineResponse(Item), InlineResponseClose().
//
// What the user does in the reading pane, in Outlook's order. Where Outlook's documentation is silent
// the harsher reading is taken, and said so where it is done:
//   Reply         a new mail being written becomes the inline response; InlineResponse(Item).
//   Send          the mail's Send (cancellable: the reply then stays inline); the mail goes to the
//                 Outbox; InlineResponseClose.
//   Discard       InlineResponseClose; then the reply is discarded.
//   another mail  InlineResponseClose; the reply is kept as a draft.
//   Pop Out       InlineResponseClose; then NewInspector for a window whose CurrentItem is the reply.
//   Close         InlineResponseClose (the reply kept as a draft), then the explorer's Close.
// ActiveInlineResponse is already Nothing while InlineResponseClose runs.
class Explorer : public HostWindow, public IOleWindow {
public:
    Explorer(Explorers* owner, Inspectors* inspectors);
    ~Explorer();
    PVL_DECLARE_IUNKNOWN;
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    // Made when first asked for, so that a main window whose bars nobody reads adds no object.
    CommandBars& Bars();
    // The reply being written inline, or null.
    MailItem* InlineResponse() const { return inline_.Get(); }
    bool IsClosed() const override { return closed_; }
    bool ShowsTabSet(const std::wstring& tabSet) const override;
    void Orphan() { owner_ = nullptr; inspectors_ = nullptr; }
    void LoseInspectors() { inspectors_ = nullptr; }  // the application is gone

    // The user replies to `received` in the reading pane. A reply already inline is first left as
    // by selecting another mail (kept as a draft). Returns the new reply; null when the window is
    // closed or a handler of InlineResponse closed it again.
    ComPtr<MailItem> Reply(MailItem* received);
    // Send in the reading pane: S_OK when sent, S_FALSE when a handler cancelled (the reply stays
    // inline), E_UNEXPECTED without an inline reply.
    HRESULT SendInline();
    // Discard, selecting another mail, Pop Out: E_UNEXPECTED without an inline reply.
    HRESULT DiscardInline();
    HRESULT SelectOther();
    // Returns the window the reply now has (null without an inline reply).
    ComPtr<Inspector> PopOut();
    // Closes the window as the user does: the inline reply first, then Close; it leaves the collection.
    HRESULT CloseWindow();
    // The user brings this window to the front: it becomes ActiveExplorer; Activate is raised.
    void Activate();
    // The replies kept as drafts by this window, oldest first.
    const std::vector<ComPtr<MailItem>>& Drafts() const { return drafts_; }
    // Raises InlineResponse with any argument (bad-input tests).
    HRESULT RaiseInlineResponse(VARIANT* arg);

    // IOleWindow: the window's handle, set by the client that draws it; E_FAIL when there is none.
    void SetWindow(HWND hwnd) { hwnd_ = hwnd; }
    IFACEMETHODIMP GetWindow(HWND* out) override;
    IFACEMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    // Ends the inline reply: ActiveInlineResponse becomes Nothing, the ribbon's contextual tab goes,
    // InlineResponseClose is raised. Returns the reply that was inline.
    ComPtr<MailItem> CloseInline();
    void TabSetsChanged();

    Explorers* owner_;
    Inspectors* inspectors_;
    ComPtr<CommandBars> bars_;
    ComPtr<MailItem> inline_;
    std::vector<ComPtr<MailItem>> drafts_;
    HWND hwnd_ = nullptr;
    bool closed_ = false;
};

class Explorers : public EventSource {
public:
    explicit Explorers(Inspectors* inspectors);
    ~Explorers();
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    // Opens a main window: it joins the collection, becomes the active one, and NewExplorer is raised.
    ComPtr<Explorer> Open();
    void Remove(Explorer* explorer);
    const std::vector<ComPtr<Explorer>>& All() const { return items_; }
    // ActiveExplorer: the one activated last that is still open, or null.
    Explorer* Active() const { return active_; }
    void SetActive(Explorer* explorer) { active_ = explorer; }
    // Raises NewExplorer with any argument (bad-input tests).
    HRESULT RaiseNewExplorer(VARIANT* arg);
    void SetObserver(WindowObserver* observer) { observer_ = observer; }
    WindowObserver* Observer() const { return observer_; }
    // The application is gone: Pop Out can no longer open a window.
    void Orphan() {
        inspectors_ = nullptr;
        for (auto& e : items_) e->LoseInspectors();
    }

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    Inspectors* inspectors_;
    std::vector<ComPtr<Explorer>> items_;
    Explorer* active_ = nullptr;
    WindowObserver* observer_ = nullptr;
};

class Application : public HostObject {
public:
    Application();
    ~Application();
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    Inspectors& GetInspectors() { return *inspectors_.Get(); }
    Explorers& GetExplorers() { return *explorers_.Get(); }
    // Office's ribbon in this client's windows: off until an add-in object is attached to it.
    Ribbon& GetRibbon() { return *ribbon_; }
    // Closes every window and lets go of them (the host shutting down): the inspectors, then the
    // explorers.
    void CloseAll();

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    ComPtr<Inspectors> inspectors_;
    ComPtr<Explorers> explorers_;
    std::unique_ptr<Ribbon> ribbon_;
};

}  // namespace simhost
