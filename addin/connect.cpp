#include "addin/connect.h"
#include "addin/ribbon_callbacks.h"
#include "about/about_window.h"
#include "common/dispatch_call.h"
#include "common/result.h"
#include <algorithm>

namespace pvl {

namespace {
long g_liveConnects = 0;  // touched on the host's user-interface thread only

constexpr wchar_t kCompressingCaption[] = L"Compressing, wait...";

// A number argument of the audio control's events, by value or by reference.
template <VARTYPE vt>
HRESULT NumberArg(const DISPPARAMS* params, VARIANT* out) {
    const VARIANT* arg = RawArg(params, 0);
    if (arg && arg->vt == (VT_VARIANT | VT_BYREF)) arg = arg->pvarVal;
    if (!arg) return DISP_E_PARAMNOTFOUND;
    return VariantChangeType(out, const_cast<VARIANT*>(arg), 0, vt);
}
}  // namespace

Connect::Connect()
    : OutlookInspectors(this, host::DIID_InspectorsEvents),
      OutlookExplorers(this, host::DIID_ExplorersEvents),
      mci(this, DIID_DmciEvents) {
    ++g_liveConnects;
}

void Connect::FinalRelease() {
    // The host lets go of the add-in while a recording runs (the user unticked it in the COM
    // Add-ins dialog): the recording is a voice message the user expects in its mail, which is
    // still open. It is stopped and attached before anything is released; if it cannot be, the
    // recording is kept and the user told. (At process exit nothing is released, and nothing runs.)
    if (!recorder_.IsRecording()) return;
    try {
        Guarded(recorder_.Stop());
    } catch (...) {
    }
}

Connect::~Connect() {
    if (AboutWindow* about = ExistingAboutWindow()) about->StopTicking();  // its tick calls this object
    // End every event connection before any reference goes, so no event reaches a half-destroyed object.
    for (auto& pane : panes_) pane->Disconnect();
    for (auto& window : windows_) window->Disconnect();
    mci.Clear();
    OutlookExplorers.Clear();
    OutlookInspectors.Clear();
    panes_.clear();
    windows_.clear();
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
    // The main windows: those open now are found through Explorers, later ones arrive as NewExplorer.
    // Each is a step of its own.
    ComPtr<IDispatch> explorers;
    Guarded([&] {
        RETURN_IF_FAILED(GetObjectProperty(OutlookApp.Get(), host::dispid::Application_Explorers, &explorers));
        return OutlookExplorers.Assign(explorers.Get());
    }());
    Guarded([&] {
        Variant count, n;
        RETURN_IF_FAILED(GetProperty(explorers.Get(), host::dispid::Explorers_Count, count.put()));
        RETURN_IF_FAILED(VariantChangeType(n.get(), count.get(), 0, VT_I4));
        for (long i = 1; i <= n.ref().lVal; ++i)
            Guarded([&] {
                ComPtr<IDispatch> explorer;
                Variant result;
                RETURN_IF_FAILED(ObjectResult(
                    CallMethod(explorers.Get(), host::dispid::Explorers_Item, result.put(), Variant(i)), result, &explorer));
                return AddReadingPane(explorer.Get());
            }());
        return S_OK;
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

HRESULT Connect::RouteExplorersEvent(DISPID id, DISPPARAMS* params) {
    if (id != host::dispid::ExplorersEvents_NewExplorer) return S_OK;
    return OutlookExplorers_NewExplorer(DispatchArg(RawArg(params, 0)));
}

HRESULT Connect::RouteMciEvent(DISPID id, DISPPARAMS* params) {
    switch (id) {
        case mci_dispid::Done: {
            Variant code;
            return mci_Done(SUCCEEDED(NumberArg<VT_I2>(params, code.get())) ? code.ref().iVal : 0);
        }
        case mci_dispid::PlayCompleted: {
            Variant code;
            return mci_PlayCompleted(SUCCEEDED(NumberArg<VT_I4>(params, code.get())) ? code.ref().lVal : 0);
        }
        default:
            return S_OK;
    }
}

// --- The places ------------------------------------------------------------------------------------

MailWindow* Connect::WindowOf(IDispatch* inspector) const {
    for (auto& w : windows_)
        if (SameObject(w->Inspector(), inspector)) return w.Get();
    return nullptr;
}

ReadingPane* Connect::PaneOf(IDispatch* explorer) const {
    for (auto& p : panes_)
        if (SameObject(p->Explorer(), explorer)) return p.Get();
    return nullptr;
}

void Connect::Forget(MailPlace& place) {
    const ComPtr<IDispatch> mail = place.Mail();
    place.Disconnect();
    std::erase_if(windows_, [&](auto& w) { return static_cast<MailPlace*>(w.Get()) == &place; });
    std::erase_if(panes_, [&](auto& p) { return static_cast<MailPlace*>(p.Get()) == &place; });
    LetGoOf(mail.Get());
}

void Connect::LetGoOf(IDispatch* mailItem) {
    // The recorder remembers whose the last recording is (Play is offered there) only while a window
    // or pane still shows that mail.
    for (auto& w : windows_)
        if (SameObject(w->Mail(), mailItem)) return;
    for (auto& p : panes_)
        if (SameObject(p->Mail(), mailItem)) return;
    recorder_.ForgetMail(mailItem);
}

HRESULT Connect::OutlookInspectors_NewInspector(IDispatch* Inspector) {
    // Continue-on-error, once the window is known to show a mail item.
    ComPtr<IDispatch> mailItem;
    if (FAILED(InspectorMailItem(Inspector, &mailItem))) return S_OK;  // not a mail: nothing changes
    if (WindowOf(Inspector)) return S_OK;                              // told twice
    auto window = MakeComObject<MailWindow>(*this, Inspector, mailItem.Get());
    if (!window) return E_OUTOFMEMORY;
    windows_.push_back(window);
    Guarded(window->Listen());
    CurrentMailInspector = Inspector;
    Guarded([&] {
        ComPtr<IDispatch> item;
        RETURN_IF_FAILED(InspectorMailItem(Inspector, &item));
        CurrentMailItem = item;
        return S_OK;
    }());
    Guarded(window->BuildBar());
    if (window->Bar()) {
        CurrentCommandBar = window->Bar();
        ButtonPVL = window->Button(BarButton::Product);
        ButtonRecord = window->Button(BarButton::Record);
        ButtonPlay = window->Button(BarButton::Play);
        ButtonStop = window->Button(BarButton::Stop);
    }
    // While a recording or playback runs on (for another window's mail) the new bar shows it, as
    // every bar does; otherwise it starts with Record on, Play and Stop off.
    Guarded(window->Show(recorder_.IsBusy() ? kBarsBusy : kBarsNothingToPlay, false));
    return S_OK;
}

HRESULT Connect::MailWindow_Close(MailWindow& window) {
    // Continue-on-error. The newest window's close runs Stop as if clicked. Another window's close
    // stops only a recording of its own mail, which is attached before the window is gone.
    const ComPtr<MailWindow> keep(&window);
    if (SameObject(window.Inspector(), CurrentMailInspector.Get())) {
        Guarded(CurrentMailInspector_Close(window));
    } else {
        if (recorder_.RecordsFor(window.Mail())) Guarded(recorder_.Stop());
        Guarded(window.DeleteBar());
    }
    Forget(window);
    return S_OK;
}

HRESULT Connect::CurrentMailInspector_Close(MailWindow& window) {
    // Continue-on-error: Stop as if clicked, then the bar goes.
    VARIANT_BOOL cancelDefault = VARIANT_TRUE;
    Guarded(ButtonStop_Click(ButtonStop.Get(), &cancelDefault));
    Guarded(window.DeleteBar());
    return S_OK;
}

HRESULT Connect::OutlookExplorers_NewExplorer(IDispatch* Explorer) {
    Guarded(AddReadingPane(Explorer));
    return S_OK;
}

HRESULT Connect::AddReadingPane(IDispatch* explorer) {
    // A main window: no bar is made there. A reply that is inline already (the add-in connected
    // after it opened) is taken as the pane's mail.
    ComPtr<IDispatch> checked;
    if (!explorer) return E_POINTER;
    RETURN_IF_FAILED(explorer->QueryInterface(host::IID_Explorer, reinterpret_cast<void**>(checked.GetAddressOf())));
    if (PaneOf(explorer)) return S_OK;
    auto pane = MakeComObject<ReadingPane>(*this, explorer);
    if (!pane) return E_OUTOFMEMORY;
    RETURN_IF_FAILED(pane->Listen());
    ComPtr<IDispatch> reply;
    Guarded(pane->ActiveReply(&reply));
    panes_.push_back(pane);
    return S_OK;
}

HRESULT Connect::Explorer_InlineResponse(ReadingPane& pane, IDispatch* Item) {
    // Continue-on-error. The reply becomes the pane's mail; Office shows the Message tab now, and
    // asks the group again.
    ComPtr<IDispatch> mail;
    if (Item && SUCCEEDED(Item->QueryInterface(host::IID_MailItem, reinterpret_cast<void**>(mail.GetAddressOf()))))
        pane.SetReply(mail.Get());
    InvalidateRibbon();
    return S_OK;
}

HRESULT Connect::Explorer_InlineResponseClose(ReadingPane& pane) {
    // Continue-on-error. Outlook closes the inline reply when it is sent, discarded or popped out,
    // and when the user selects another mail (the reply is kept as a draft): a recording for it is
    // stopped and attached to it now. A voice that cannot be attached is kept, and the user told.
    const ComPtr<ReadingPane> keep(&pane);
    if (recorder_.RecordsFor(pane.Mail())) Guarded(recorder_.Stop());
    pane.FollowRecording(false);
    const ComPtr<IDispatch> reply = pane.Mail();
    pane.SetReply(nullptr);
    LetGoOf(reply.Get());
    InvalidateRibbon();
    return S_OK;
}

HRESULT Connect::Explorer_Close(ReadingPane& pane) {
    const ComPtr<ReadingPane> keep(&pane);
    if (recorder_.RecordsFor(pane.Mail())) Guarded(recorder_.Stop());
    Forget(pane);
    return S_OK;
}

HRESULT Connect::RecordingMail_Send(MailPlace& place, VARIANT_BOOL* Cancel) {
    // The host raises Send before the mail leaves and its window closes; an attachment added after
    // that is not part of the sent mail. So the recording is stopped and attached now, and if it
    // could not be attached the send is held back: the mail stays open with the user.
    const ComPtr<MailPlace> keep(&place);
    if (!recorder_.RecordsFor(place.Mail())) return S_OK;
    if (FAILED(recorder_.Stop()) && Cancel) *Cancel = VARIANT_TRUE;
    if (Cancel && *Cancel == VARIANT_FALSE) recorder_.ForgetMail(place.Mail());  // it leaves
    return S_OK;
}

HRESULT Connect::RecordingMail_Close(MailPlace& place, VARIANT_BOOL*) {
    // The mail closes before its window does, and the host may save it (or ask to) in between: the
    // recording is attached now, so that it is part of what is saved.
    const ComPtr<MailPlace> keep(&place);
    if (recorder_.RecordsFor(place.Mail())) Guarded(recorder_.Stop());
    return S_OK;
}

// --- The bars' buttons -------------------------------------------------------------------------------

HRESULT Connect::ButtonRecord_Click(MailWindow& window, IDispatch*, VARIANT_BOOL*) {
    Guarded(recorder_.Record(window.Mail()));
    return S_OK;
}

HRESULT Connect::ButtonPlay_Click(MailWindow& window, IDispatch*, VARIANT_BOOL*) {
    return recorder_.Play(window.Mail());
}

HRESULT Connect::ButtonStop_Click(IDispatch*, VARIANT_BOOL*) {
    Guarded(recorder_.Stop());
    return S_OK;
}

HRESULT Connect::ButtonPVL_Click(IDispatch*, VARIANT_BOOL*) {
    // Stop-at-first-error. The captions are the window's own; they are set anyway, so that it always
    // opens with them.
    AboutWindow* about = nullptr;
    RETURN_IF_FAILED(frmAbout(&about));
    RETURN_IF_FAILED(about->SetCaption(L"About Parvaline"));
    RETURN_IF_FAILED(about->SetOkCaption(L"OK"));
    return about->ShowModal();
}

HRESULT Connect::BuildActionText(std::wstring* text) {
    Variant progId;
    RETURN_IF_FAILED(GetPropertyByName(AddInInst.Get(), L"ProgId", progId.put()));
    if (progId.vt() != VT_BSTR) return DISP_E_TYPEMISMATCH;
    *text = std::wstring(L"!<") + (progId.ref().bstrVal ? progId.ref().bstrVal : L"") + L">";
    return S_OK;
}

// --- The audio control's events (stop-at-first-error) ------------------------------------------------

HRESULT Connect::mci_Done(short) {
    // Stop itself runs in its own continue-on-error mode.
    VARIANT_BOOL cancelDefault = VARIANT_TRUE;
    return ButtonStop_Click(ButtonStop.Get(), &cancelDefault);
}

HRESULT Connect::mci_PlayCompleted(long) {
    // The state and the device stay as they are.
    RETURN_IF_FAILED(ShowOnBars(kBarsIdle, true));
    // Task-modal, as a message of the host application's own; the box has no title of its own,
    // so it carries the product's name rather than the system's default "Error".
    if (MessageBoxW(nullptr, L"end", L"Parvaline", MB_OK | MB_TASKMODAL) == 0) return LastErrorResult();
    return S_OK;
}

// --- What every place shows ---------------------------------------------------------------------------

HRESULT Connect::ShowOnBars(BarLook look, bool stopAtFirstError) {
    // A host call may open or close a window meanwhile: every window open at the end is shown once.
    HRESULT first = S_OK;
    std::vector<MailWindow*> shown;
    for (;;) {
        auto next = std::find_if(windows_.begin(), windows_.end(), [&](auto& w) {
            return std::find(shown.begin(), shown.end(), w.Get()) == shown.end();
        });
        if (next == windows_.end()) return first;
        const ComPtr<MailWindow> window = *next;
        shown.push_back(window.Get());
        const HRESULT hr = window->Show(look, stopAtFirstError);
        if (SUCCEEDED(first)) first = hr;
        if (FAILED(first) && stopAtFirstError) return first;
    }
}

void Connect::RecorderChanged() {
    // Only the place whose mail the recording is for listens to that mail's Send and Close.
    const auto windows = windows_;
    const auto panes = panes_;
    for (auto& window : windows) window->FollowRecording(recorder_.RecordsFor(window->Mail()));
    for (auto& pane : panes) pane->FollowRecording(recorder_.RecordsFor(pane->Mail()));
    // The clock runs while a recording does, from the hidden window's timer.
    Guarded([&] {
        AboutWindow* about = nullptr;
        RETURN_IF_FAILED(frmAbout(&about));
        if (!recorder_.IsRecording()) {
            about->StopTicking();
            return S_OK;
        }
        return about->StartTicking(1000, [this] { InvalidateClock(); });
    }());
    InvalidateRibbon();
}

void Connect::ShowCompressing(bool compressing) {
    const auto windows = windows_;
    for (auto& window : windows) Guarded(window->SetProductCaption(compressing ? kCompressingCaption : L""));
}

Connect::Fields Connect::View() const {
    return {OutlookApp.Get(),
            OutlookInspectors.get(),
            OutlookExplorers.get(),
            AddInInst.Get(),
            mci.get(),
            CurrentMailInspector.Get(),
            CurrentMailItem.Get(),
            CurrentCommandBar.Get(),
            ButtonPVL.Get(),
            ButtonRecord.Get(),
            ButtonPlay.Get(),
            ButtonStop.Get(),
            recorder_.RecordingMail(),
            recorder_.BusyFor(),
            windows_.size(),
            panes_.size(),
            ribbonUIs_.size(),
            RecorderState};
}

}  // namespace pvl
