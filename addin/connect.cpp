#include "addin/connect.h"
#include "common/host_model.h"
#include "addin/ribbon_callbacks.h"
#include "about/about_window.h"
#include "common/dispatch_call.h"
#include "common/result.h"
#include "audio/mci_control.h"

namespace pvl {

namespace {
long g_liveConnects = 0;  // touched on the host's user-interface thread only

// Unwraps an event argument passed by value or by reference.
const VARIANT* Deref(const VARIANT* v) {
    return (v && v->vt == (VT_VARIANT | VT_BYREF)) ? v->pvarVal : v;
}

IDispatch* DispatchArg(const VARIANT* v) {
    v = Deref(v);
    if (!v) return nullptr;
    if (v->vt == VT_DISPATCH) return v->pdispVal;
    if (v->vt == (VT_DISPATCH | VT_BYREF) && v->ppdispVal) return *v->ppdispVal;
    return nullptr;
}
}  // namespace

Connect::Connect()
    : OutlookInspectors(this, host::DIID_InspectorsEvents),
      CurrentMailInspector(this, host::DIID_InspectorEvents_10),
      mci(this, DIID_DmciEvents),
      ButtonPVL(this, host::DIID_CommandBarButtonEvents),
      ButtonRecord(this, host::DIID_CommandBarButtonEvents),
      ButtonPlay(this, host::DIID_CommandBarButtonEvents),
      ButtonStop(this, host::DIID_CommandBarButtonEvents),
      RecordingMailInspector(this, host::DIID_InspectorEvents_10),
      RecordingMailItemEvents(this, host::DIID_ItemEvents_10) {
    ++g_liveConnects;
}

Connect::~Connect() {
    // End every event connection before any reference goes, so no event reaches a half-destroyed object.
    RecordingMailItemEvents.Clear();
    RecordingMailInspector.Clear();
    ButtonStop.Clear();
    ButtonPlay.Clear();
    ButtonRecord.Clear();
    ButtonPVL.Clear();
    mci.Clear();
    CurrentMailInspector.Clear();
    OutlookInspectors.Clear();
    // The About window lives as long as the component does. Once no add-in object is left the host
    // may unload the module, and a window whose procedure is gone would take the host down with it.
    if (--g_liveConnects == 0) DestroyAboutWindow();
}

long Connect::LiveObjects() { return g_liveConnects; }

const QITAB* Connect::Interfaces() {
    static const QITAB table[] = {
        QITABENT(Connect, IDTExtensibility2),
        QITABENTMULTI(Connect, IDispatch, IDTExtensibility2),
        QITABENTMULTI2(Connect, IID__Connect, IDTExtensibility2),
        QITABENT(Connect, IRibbonExtensibility),
        {},
    };
    return table;
}

// --- IDispatch: _Connect has no members, so no late-bound call can reach the add-in. -----------

IFACEMETHODIMP Connect::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

IFACEMETHODIMP Connect::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
}

IFACEMETHODIMP Connect::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    RETURN_IF_FAILED(FindDispMember(kRibbonCallbacks, names[0], &ids[0]));
    return count > 1 ? DISP_E_UNKNOWNNAME : S_OK;  // callbacks take no named arguments
}

IFACEMETHODIMP Connect::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO*, UINT*) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none{};
    PVL_COM_TRY
    return InvokeRibbonCallback(id, params ? params : &none, result);
    PVL_COM_CATCH
}

// --- IDTExtensibility2 ---------------------------------------------------------------------------

// The host is never told of a failure here, not even of one that threw.
IFACEMETHODIMP Connect::OnConnection(IDispatch* Application, ext_ConnectMode, IDispatch* addInInst, SAFEARRAY**) {
    try {
        Guarded(AddinInstance_OnConnection(Application, addInInst));
    } catch (...) {
    }
    return S_OK;
}

IFACEMETHODIMP Connect::OnDisconnection(ext_DisconnectMode, SAFEARRAY**) {
    try {
        Guarded(AddinInstance_OnDisconnection());
    } catch (...) {
    }
    return S_OK;
}

IFACEMETHODIMP Connect::OnAddInsUpdate(SAFEARRAY**) { return S_OK; }
IFACEMETHODIMP Connect::OnStartupComplete(SAFEARRAY**) { return S_OK; }
IFACEMETHODIMP Connect::OnBeginShutdown(SAFEARRAY**) { return S_OK; }

// --- Connection handlers (continue-on-error) -------------------------------------------------------

HRESULT Connect::AddinInstance_OnConnection(IDispatch* Application, IDispatch* addInInst) {
    // OutlookApp := Application, as the Outlook Application.
    Guarded([&] {
        if (!Application) return E_POINTER;
        ComPtr<IDispatch> app;
        RETURN_IF_FAILED(Application->QueryInterface(host::IID_Application,
                                                     reinterpret_cast<void**>(app.GetAddressOf())));
        if (!app) return E_NOINTERFACE;
        OutlookApp = app;
        return S_OK;
    }());
    // OutlookInspectors := OutlookApp.Inspectors
    Guarded([&] {
        ComPtr<IDispatch> inspectors;
        RETURN_IF_FAILED(GetObjectProperty(OutlookApp.Get(), host::dispid::Application_Inspectors, &inspectors));
        return OutlookInspectors.Assign(inspectors.Get());
    }());
    // AddInInst := the argument as given: no interface is asked of it.
    AddInInst = addInInst;
    // mci := frmAbout.mci (creates the hidden window on first use).
    Guarded([&] {
        AboutWindow* about = nullptr;
        RETURN_IF_FAILED(frmAbout(&about));
        return mci.Assign(about->mci());
    }());
    return S_OK;
}

HRESULT Connect::AddinInstance_OnDisconnection() {
    OutlookApp.Reset();
    return S_OK;
}

// --- Event routing ---------------------------------------------------------------------------------

HRESULT Connect::RouteInspectorsEvent(DISPID id, DISPPARAMS* params) {
    if (id != host::dispid::InspectorsEvents_NewInspector) return S_OK;
    return OutlookInspectors_NewInspector(DispatchArg(RawArg(params, 0)));
}

HRESULT Connect::RouteMailInspectorEvent(DISPID id, DISPPARAMS*) {
    if (id != host::dispid::InspectorEvents_Close) return S_OK;
    return CurrentMailInspector_Close();
}

HRESULT Connect::RouteMciEvent(DISPID id, DISPPARAMS* params) {
    const VARIANT* arg = Deref(RawArg(params, 0));
    switch (id) {
        case mci_dispid::Done: {
            Variant code;
            const short notifyCode = (arg && SUCCEEDED(VariantChangeType(code.get(), const_cast<VARIANT*>(arg), 0, VT_I2)))
                                         ? code.ref().iVal : 0;
            return mci_Done(notifyCode);
        }
        case mci_dispid::PlayCompleted: {
            Variant code;
            const long errorCode = (arg && SUCCEEDED(VariantChangeType(code.get(), const_cast<VARIANT*>(arg), 0, VT_I4)))
                                       ? code.ref().lVal : 0;
            return mci_PlayCompleted(errorCode);
        }
        default:
            return S_OK;
    }
}

HRESULT Connect::RouteClick(ClickHandler handler, const EventConnection& button, DISPID id, DISPPARAMS* params) {
    if (id != host::dispid::CommandBarButtonEvents_Click) return S_OK;
    IDispatch* ctrl = DispatchArg(RawArg(params, 0));
    // The host raises Click on every button that carries the same Tag, in every window, and passes
    // the one actually pressed as Ctrl: only a press of the button held here is ours to act on.
    if (!SameObject(ctrl, button.get())) return S_OK;
    // CancelDefault is an in/out Boolean; a host that passes it otherwise gets a local stand-in.
    VARIANT_BOOL localCancel = VARIANT_FALSE;
    VARIANT_BOOL* cancel = &localCancel;
    if (const VARIANT* c = RawArg(params, 1); c && c->vt == (VT_BOOL | VT_BYREF) && c->pboolVal) cancel = c->pboolVal;
    return (this->*handler)(ctrl, cancel);
}

HRESULT Connect::RouteButtonPVLEvent(DISPID id, DISPPARAMS* p) { return RouteClick(&Connect::ButtonPVL_Click, ButtonPVL, id, p); }
HRESULT Connect::RouteButtonRecordEvent(DISPID id, DISPPARAMS* p) { return RouteClick(&Connect::ButtonRecord_Click, ButtonRecord, id, p); }
HRESULT Connect::RouteButtonPlayEvent(DISPID id, DISPPARAMS* p) { return RouteClick(&Connect::ButtonPlay_Click, ButtonPlay, id, p); }
HRESULT Connect::RouteButtonStopEvent(DISPID id, DISPPARAMS* p) { return RouteClick(&Connect::ButtonStop_Click, ButtonStop, id, p); }

HRESULT Connect::RouteRecordingInspectorEvent(DISPID id, DISPPARAMS*) {
    if (id != host::dispid::InspectorEvents_Close) return S_OK;
    return RecordingMailInspector_Close();
}

HRESULT Connect::RouteRecordingItemEvent(DISPID id, DISPPARAMS* params) {
    if (id != host::dispid::ItemEvents_Send) return S_OK;
    // Cancel is an in/out Boolean; without one the send cannot be held back, but Stop still runs.
    VARIANT_BOOL localCancel = VARIANT_FALSE;
    VARIANT_BOOL* cancel = &localCancel;
    if (const VARIANT* c = RawArg(params, 0); c && c->vt == (VT_BOOL | VT_BYREF) && c->pboolVal) cancel = c->pboolVal;
    return RecordingMailItem_Send(cancel);
}

// --- The product button ------------------------------------------------------------------------------

HRESULT Connect::ButtonPVL_Click(IDispatch*, VARIANT_BOOL*) {
    // Stop-at-first-error. The captions are the window's own; they are set anyway, so that it always
    // opens with them.
    AboutWindow* about = nullptr;
    RETURN_IF_FAILED(frmAbout(&about));
    RETURN_IF_FAILED(about->SetCaption(L"About Parvaline"));
    RETURN_IF_FAILED(about->SetOkCaption(L"OK"));
    return about->ShowModal();
}

Connect::Fields Connect::View() const {
    return {OutlookApp.Get(),        OutlookInspectors.get(), AddInInst.Get(),   mci.get(),
            CurrentMailInspector.get(), CurrentMailItem.Get(), CurrentCommandBar.Get(), ButtonPVL.get(),
            ButtonRecord.get(),      ButtonPlay.get(),        ButtonStop.get(),  RecordingMailInspector.get(),
            RecordingMailItem.Get(), RecorderMailItem.Get(), RibbonUI.Get(),  RecorderState};
}

}  // namespace pvl
