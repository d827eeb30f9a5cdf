// Office's ribbon in the simulated mail client: the loader that asks an add-in for its customUI XML,
// reads it with the system's XML parser (MSXML through COM), resolves the callbacks it names through
// the add-in's IDispatch and calls them per window, as Office does.
//
// It is off until something attaches an add-in object (the one that answers IDTExtensibility2), so
// a client without it logs exactly what it logged before. Once attached, the main window's ribbon is
// asked for at once (GetCustomUI("Microsoft.Outlook.Explorer"), as Outlook asks at start-up), and
// every item window that opens after NewInspector loads its ribbon: GetCustomUI is asked once per
// ribbon id, on the first window of that kind; onLoad is called once per ribbon id, with an IRibbonUI
// of that ribbon id's own; then each control's get-callbacks run for that window, with a fresh
// IRibbonControl whose Context is the window (its Inspector or Explorer). A group on a contextual tab
// (the main window's TabComposeTools, there while a reply is written inline) is shown, and its
// callbacks asked, only while the window shows that tab set, and asked afresh each time it appears.
// An invalidation marks controls dirty in every window of that ribbon id; they are asked again later
// from the thread's message loop (Office re-queries when idle), or at once through Update().
//
// Controls modelled: button, toggleButton (getPressed; a press calls onAction(control, pressed) with
// the new state) and labelControl (no action, no picture), with keytip (1 to 3 characters, as the
// schema and Office require), screentip and supertip and their get-callbacks.
//
// Where Office is undocumented this host takes the harsher reading, so that an add-in that passes
// here passes there; each such place says so. Errors are kept as the words Office's "Show add-in user
// interface errors" would show; a group with an error is absent, as in Office. The add-in's calls on
// RibbonUI and RibbonControl go to the host's call log like every other host object; the host's own
// calls of the add-in's callbacks go to a list of their own (Callbacks()).
#pragma once
#include "addin/ribbon_model.h"
#include "common/raii.h"
#include "simhost/office.h"
#include "simhost/outlook.h"
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace simhost {

class Explorers;
class HostWindow;
class Inspector;
class Inspectors;
class Ribbon;

// IRibbonControl: the control a callback is about and the window it sits in.
class RibbonControl : public HostObject, public IRibbonControl {
public:
    // `context` may be anything, or null (bad-input tests build controls of their own).
    RibbonControl(std::wstring id, std::wstring tag, IDispatch* context);
    PVL_DECLARE_IUNKNOWN;
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    const std::wstring& ControlId() const { return id_; }
    IDispatch* Context() const { return context_.Get(); }

    // IDispatch, for both faces.
    IFACEMETHODIMP GetTypeInfoCount(UINT* count) override { return HostObject::GetTypeInfoCount(count); }
    IFACEMETHODIMP GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override { return HostObject::GetTypeInfo(i, l, t); }
    IFACEMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT n, LCID l, DISPID* ids) override {
        return HostObject::GetIDsOfNames(riid, names, n, l, ids);
    }
    IFACEMETHODIMP Invoke(DISPID id, REFIID riid, LCID l, WORD f, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e,
                          UINT* a) override {
        return HostObject::Invoke(id, riid, l, f, p, r, e, a);
    }
    // IRibbonControl
    IFACEMETHODIMP get_Id(BSTR* id) override;
    IFACEMETHODIMP get_Context(IDispatch** context) override;
    IFACEMETHODIMP get_Tag(BSTR* tag) override;

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    std::wstring id_, tag_;
    ComPtr<IDispatch> context_;
};

// IRibbonUI: handed to the add-in's onLoad, one per ribbon id; lets the add-in invalidate.
class RibbonUI : public HostObject, public IRibbonUI {
public:
    RibbonUI(Ribbon* owner, std::wstring ribbonId);
    PVL_DECLARE_IUNKNOWN;
    static const QITAB* Interfaces();
    const wchar_t* HostInterfaceName(REFIID riid) const override;
    const std::wstring& RibbonId() const { return ribbonId_; }
    void Orphan() { owner_ = nullptr; }

    IFACEMETHODIMP GetTypeInfoCount(UINT* count) override { return HostObject::GetTypeInfoCount(count); }
    IFACEMETHODIMP GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override { return HostObject::GetTypeInfo(i, l, t); }
    IFACEMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT n, LCID l, DISPID* ids) override {
        return HostObject::GetIDsOfNames(riid, names, n, l, ids);
    }
    IFACEMETHODIMP Invoke(DISPID id, REFIID riid, LCID l, WORD f, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e,
                          UINT* a) override {
        return HostObject::Invoke(id, riid, l, f, p, r, e, a);
    }
    // IRibbonUI
    IFACEMETHODIMP Invalidate() override;
    IFACEMETHODIMP InvalidateControl(BSTR controlId) override;
    IFACEMETHODIMP InvalidateControlMso(BSTR controlId) override;
    IFACEMETHODIMP ActivateTab(BSTR controlId) override;
    IFACEMETHODIMP ActivateTabMso(BSTR controlId) override;
    IFACEMETHODIMP ActivateTabQ(BSTR controlId, BSTR ns) override;

protected:
    std::span<const pvl::DispMember> Members() const override;
    HRESULT InvokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) override;

private:
    HRESULT DoInvalidate(const std::wstring& controlId, bool all);
    HRESULT DoActivateTab(const std::wstring& tabId);
    Ribbon* owner_;
    std::wstring ribbonId_;
};

// What a window's ribbon shows of one control.
struct RibbonButtonView {
    std::wstring kind = L"button";  // the element: "button", "toggleButton" or "labelControl"
    std::wstring id, label, tag, screentip, supertip, keytip;
    std::wstring size;  // "normal" or "large"
    bool enabled = true, visible = true;
    bool pressed = false;     // a toggleButton's state: getPressed's answer, or the user's last press
    ReceivedPicture picture;  // from getImage; empty when the control has none
};

// One group the add-in added, as a window shows it.
struct RibbonGroupView {
    std::wstring id, label, tab;  // tab: the built-in tab's idMso, or the add-in's own tab id
    std::wstring tabSet;          // the contextual tab set the tab belongs to ("" for the ribbon's tabs)
    std::vector<RibbonButtonView> buttons;
};

// One call of an add-in callback by the host.
struct RibbonCallback {
    std::wstring attribute;  // what the XML names it by: "onLoad", "getEnabled", "onAction", ...
    std::wstring name;       // the callback's name
    std::wstring control;    // the control's id ("" for onLoad)
    std::wstring window;     // the window's log name, "Inspector#1" or "Explorer#1" ("" for onLoad)
    std::wstring args;       // arguments after the control, as text: a toggle's new state ("True")
    HRESULT hr = S_OK;
    std::wstring result;     // the value read back, as text
    std::wstring Text() const;  // "getEnabled pvlRecord Inspector#1 -> True", "onAction pvlRecord Explorer#1 (True)"
};

// A built-in control id that a ribbon id's XML may name: a tab, or a contextual tab set.
struct BuiltInId {
    std::wstring type;  // "tab" or "tabSet"
    std::wstring idMso;
};

class Ribbon final : public WindowObserver {
public:
    Ribbon(Inspectors* inspectors, Explorers* explorers);
    ~Ribbon();
    Ribbon(const Ribbon&) = delete;
    Ribbon& operator=(const Ribbon&) = delete;

    // Starts the ribbon for an add-in object: the main window's ribbon id is asked for at once, windows
    // already open load at once, later ones when they open. `name` is what errors call the add-in (its ProgID). S_FALSE when the object does
    // not answer IRibbonExtensibility: then no window is customised.
    HRESULT Attach(IUnknown* addin, const std::wstring& name = L"the add-in");
    // Lets go of the add-in, its RibbonUI objects and every window's state (the add-in unloading).
    // Errors and the callback list stay for reading.
    void Detach();
    bool Attached() const { return addin_ != nullptr; }

    // Asks the dirty controls again now, instead of waiting for the message loop.
    void Update();
    // Whether an invalidation is waiting to be asked again.
    bool Pending() const;
    // The user presses a control in a window: onAction with a fresh IRibbonControl for that window.
    // Only when the group is present and the control enabled and visible, like a click, unless
    // `force` (bad-input tests). E_ACCESSDENIED when it cannot be pressed, E_INVALIDARG for an
    // unknown control, S_FALSE when the control names no onAction; otherwise Invoke's result.
    // A toggleButton's onAction gets its new state as a second argument; a labelControl cannot be
    // pressed (E_ACCESSDENIED).
    HRESULT Press(HostWindow* window, const std::wstring& controlId, bool force = false);
    // Calls a callback by name with arbitrary arguments (reversed, as in DISPPARAMS), as a
    // misbehaving host would; listed in Callbacks() like the host's own calls.
    HRESULT InvokeCallback(const std::wstring& name, VARIANT* argsReversed, UINT count, VARIANT* result);

    // Views for tests and the mail client. Groups() is empty when the window shows none of the
    // add-in's groups (no customisation, an error, or not loaded).
    // A group on a contextual tab is listed only while the window shows that tab set.
    std::vector<RibbonGroupView> Groups(const HostWindow* window) const;
    std::optional<RibbonButtonView> Button(const HostWindow* window, const std::wstring& controlId) const;
    // The window's ribbon id ("" when it has none).
    std::wstring RibbonIdOf(const HostWindow* window) const;
    // The ribbon ids this host knows, and the built-in tabs and tab sets an add-in's XML may name in
    // each: anything else is "Unknown Office control ID", as in Office.
    static std::vector<std::wstring> RibbonIds();
    static std::vector<BuiltInId> BuiltInIds(const std::wstring& ribbonId);
    // Raised by every change of what a window shows, so a view can tell when to repaint.
    unsigned long Generation() const { return generation_; }

    const std::vector<std::wstring>& Errors() const { return errors_; }
    const std::vector<RibbonCallback>& Callbacks() const { return callbacks_; }
    std::vector<std::wstring> CallbackText() const;
    // Callback calls whose text contains `needle`.
    std::vector<std::wstring> CallbacksMatching(const std::wstring& needle) const;
    // The ribbon ids GetCustomUI was asked for, in order.
    const std::vector<std::wstring>& CustomUIRequests() const { return requests_; }
    void ClearRecords();
    // The RibbonUI handed to onLoad for a ribbon id (null before it loaded).
    RibbonUI* UI(const std::wstring& ribbonId) const;

    // WindowObserver
    void WindowOpened(HostWindow* window) override;
    void WindowClosed(HostWindow* window) override;
    void TabSetsChanged(HostWindow* window) override;

    // For RibbonUI.
    HRESULT Invalidate(const std::wstring& ribbonId, const std::wstring& controlId, bool all);
    bool HasTab(const std::wstring& ribbonId, const std::wstring& tabId) const;

    struct Callback {
        std::wstring name;
        DISPID id = DISPID_UNKNOWN;
    };
    struct Control {
        std::wstring kind = L"button";
        std::wstring id, tag, label, size = L"normal", screentip, supertip, keytip;
        bool enabled = true, visible = true;
        std::map<std::wstring, Callback> callbacks;  // by attribute: "onAction", "getEnabled", ...
    };
    struct Group {
        std::wstring id, label, tab, tabSet;
        std::vector<Control> controls;
    };

private:
    struct Customisation {
        bool valid = false;
        Callback onLoad;
        std::vector<Group> groups;
        ComPtr<RibbonUI> ui;
    };
    struct Window {
        ComPtr<HostWindow> host;
        std::wstring ribbonId;
        bool failed = false;  // a callback failed here: Office drops the group in this window
        bool closed = false;
        std::set<std::wstring> tabSets;                  // the contextual tab sets shown now
        std::map<std::wstring, RibbonButtonView> state;  // by control id
        std::vector<std::wstring> dirty;                 // control ids to ask again
    };

    void Load(HostWindow* host);
    // Fresh views of a group's controls from the XML, then their get-callbacks, in this window.
    void Show(const std::shared_ptr<Window>& window, const std::vector<Group>& groups);
    bool Shown(const Window& window, const Group& group) const { return group.tabSet.empty() || window.tabSets.count(group.tabSet); }
    const Group* GroupOf(const std::wstring& ribbonId, const std::wstring& controlId) const;
    Customisation* CustomisationFor(const std::wstring& ribbonId);
    HRESULT Parse(const std::wstring& ribbonId, const std::wstring& xml, Customisation* out);
    HRESULT Resolve(Callback* callback);
    void Query(const std::shared_ptr<Window>& window, const Control& control);
    HRESULT Call(const std::wstring& attribute, const Callback& callback, const std::wstring& control,
                 const std::wstring& window, const std::wstring& args, VARIANT* argsReversed, UINT count,
                 VARIANT* result);
    void RuntimeError(const std::wstring& what);
    void XmlError(const std::wstring& what);
    void Post();
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    const Control* FindControl(const std::wstring& ribbonId, const std::wstring& controlId) const;
    std::shared_ptr<Window> WindowOf(const HostWindow* host) const;

    Inspectors* inspectors_;
    Explorers* explorers_;
    std::wstring name_;
    ComPtr<IUnknown> addin_;
    ComPtr<IRibbonExtensibility> extensibility_;
    ComPtr<IDispatch> dispatch_;
    std::map<std::wstring, Customisation> customisations_;  // by ribbon id, once asked
    std::vector<std::shared_ptr<Window>> windows_;  // in the order they opened
    std::vector<std::wstring> errors_;
    std::vector<RibbonCallback> callbacks_;
    std::vector<std::wstring> requests_;
    pvl::UniqueHwnd messages_;  // message-only: the deferred re-query arrives here
    bool posted_ = false;
    bool updating_ = false;
    unsigned long generation_ = 0;
};

}  // namespace simhost
