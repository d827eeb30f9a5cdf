// Office's ribbon in the simulated mail client: the loader that asks an add-in for its customUI XML,
// reads it with the system's XML parser (MSXML through COM), resolves the callbacks it names through
// the add-in's IDispatch and calls them per window, as Office does.
//
// It is off until something attaches an add-in object (the one that answers IDTExtensibility2), so
// a client without it logs exactly what it logged before. Once attached, every window that opens
// after NewInspector loads its ribbon: GetCustomUI is asked once per ribbon id, on the first window
// of that kind; onLoad is called once, with the host's IRibbonUI; then each control's get-callbacks
// run for that window, with a fresh IRibbonControl whose Context is the window's Inspector. An
// invalidation marks controls dirty in every window; they are asked again later from the thread's
// message loop (Office re-queries when idle), or at once through Update().
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

namespace simhost {

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

// What a window's ribbon shows of one button.
struct RibbonButtonView {
    std::wstring id, label, tag, screentip, supertip;
    std::wstring size;  // "normal" or "large"
    bool enabled = true, visible = true;
    ReceivedPicture picture;  // from getImage; empty when the button has none
};

// One group the add-in added, as a window shows it.
struct RibbonGroupView {
    std::wstring id, label, tab;  // tab: the built-in tab's idMso, or the add-in's own tab id
    std::vector<RibbonButtonView> buttons;
};

// One call of an add-in callback by the host.
struct RibbonCallback {
    std::wstring attribute;  // what the XML names it by: "onLoad", "getEnabled", "onAction", ...
    std::wstring name;       // the callback's name
    std::wstring control;    // the control's id ("" for onLoad)
    std::wstring window;     // the Inspector's log name ("" for onLoad)
    HRESULT hr = S_OK;
    std::wstring result;     // the value read back, as text
    std::wstring Text() const;  // "getEnabled pvlRecord Inspector#1 -> True"
};

class Ribbon final : public InspectorObserver {
public:
    explicit Ribbon(Inspectors* inspectors);
    ~Ribbon();
    Ribbon(const Ribbon&) = delete;
    Ribbon& operator=(const Ribbon&) = delete;

    // Starts the ribbon for an add-in object: windows already open load at once, later ones when
    // they open. `name` is what errors call the add-in (its ProgID). S_FALSE when the object does
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
    HRESULT Press(Inspector* window, const std::wstring& controlId, bool force = false);
    // Calls a callback by name with arbitrary arguments (reversed, as in DISPPARAMS), as a
    // misbehaving host would; listed in Callbacks() like the host's own calls.
    HRESULT InvokeCallback(const std::wstring& name, VARIANT* argsReversed, UINT count, VARIANT* result);

    // Views for tests and the mail client. Groups() is empty when the window shows none of the
    // add-in's groups (no customisation, an error, or not loaded).
    std::vector<RibbonGroupView> Groups(const Inspector* window) const;
    std::optional<RibbonButtonView> Button(const Inspector* window, const std::wstring& controlId) const;
    // The window's ribbon id ("" when it has none).
    std::wstring RibbonIdOf(const Inspector* window) const;
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

    // InspectorObserver
    void InspectorOpened(Inspector* inspector) override;
    void InspectorClosed(Inspector* inspector) override;

    // For RibbonUI.
    HRESULT Invalidate(const std::wstring& ribbonId, const std::wstring& controlId, bool all);
    bool HasTab(const std::wstring& ribbonId, const std::wstring& tabId) const;

    struct Callback {
        std::wstring name;
        DISPID id = DISPID_UNKNOWN;
    };
    struct Control {
        std::wstring id, tag, label, size = L"normal", screentip, supertip;
        bool enabled = true, visible = true;
        std::map<std::wstring, Callback> callbacks;  // by attribute: "onAction", "getEnabled", ...
    };
    struct Group {
        std::wstring id, label, tab;
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
        ComPtr<Inspector> inspector;
        std::wstring ribbonId;
        bool failed = false;  // a callback failed here: Office drops the group in this window
        bool closed = false;
        std::map<std::wstring, RibbonButtonView> state;  // by control id
        std::vector<std::wstring> dirty;                 // control ids to ask again
    };

    void Load(Inspector* inspector);
    Customisation* CustomisationFor(const std::wstring& ribbonId);
    HRESULT Parse(const std::wstring& ribbonId, const std::wstring& xml, Customisation* out);
    HRESULT Resolve(Callback* callback);
    void Query(const std::shared_ptr<Window>& window, const Control& control);
    HRESULT Call(const std::wstring& attribute, const Callback& callback, const std::wstring& control,
                 const std::wstring& window, VARIANT* argsReversed, UINT count, VARIANT* result);
    void RuntimeError(const std::wstring& what);
    void XmlError(const std::wstring& what);
    void Post();
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    const Control* FindControl(const std::wstring& ribbonId, const std::wstring& controlId) const;
    std::shared_ptr<Window> WindowOf(const Inspector* inspector) const;

    Inspectors* inspectors_;
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
