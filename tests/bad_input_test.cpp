// What the host may hand the add-in that is not what it should be: a number, nothing or a null
// object where an object belongs, events without their arguments or with the wrong ones, and
// events that arrive while another handler is still running. The add-in must not crash or leak
// (every test ends with the fixture's check that releasing it left nothing behind), and each case
// has one defined outcome, named by its test.
#include "support.h"
#include "about/about_window.h"
#include "server/class_factory.h"
#include <mmsystem.h>

namespace pvltest {
namespace {

using simhost::Host;

VARIANT Number(long n) {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}
VARIANT EmptyValue() {
    VARIANT v;
    VariantInit(&v);
    return v;
}
VARIANT NullValue() {
    VARIANT v;
    v.vt = VT_NULL;
    return v;
}
VARIANT NoObject() {
    VARIANT v;
    v.vt = VT_DISPATCH;
    v.pdispVal = nullptr;
    return v;
}
VARIANT Object(IDispatch* d) {
    VARIANT v;
    v.vt = VT_DISPATCH;
    v.pdispVal = d;
    return v;
}

struct Case {
    const char* name;
    VARIANT value;
};
std::vector<Case> NotAnObject() {
    return {{"a number", Number(42)}, {"VT_EMPTY", EmptyValue()}, {"VT_NULL", NullValue()},
            {"a null VT_DISPATCH", NoObject()}};
}

class BadInputTest : public AddinTest {
protected:
    // A mail window that is not yet announced: what it answers can be changed before the add-in
    // hears of it.
    ComPtr<simhost::Inspector> UnannouncedMailWindow(ComPtr<simhost::MailItem>* mail = nullptr) {
        auto item = client_.NewMail();
        if (mail) *mail = item;
        return simhost::Make<simhost::Inspector>(&client_.app->GetInspectors(), item.Get());
    }
    HRESULT Announce(const ComPtr<simhost::Inspector>& inspector) {
        VARIANT arg = Object(inspector.Get());
        return client_.app->GetInspectors().RaiseNewInspector(&arg);
    }
    void ExpectNoMailWindowKnown() {
        const auto f = Fields();
        EXPECT_EQ(f.CurrentMailInspector, nullptr);
        EXPECT_EQ(f.CurrentMailItem, nullptr);
        EXPECT_EQ(f.CurrentCommandBar, nullptr);
        EXPECT_EQ(f.ButtonRecord, nullptr);
    }
};

// --- Wrong types where the host should give an object ------------------------------------------------

TEST_F(BadInputTest, ACurrentItemThatIsNotAnObjectMeansNotAMailNoBarNoFieldChanges) {
    for (const Case& c : NotAnObject()) {
        SCOPED_TRACE(c.name);
        auto inspector = UnannouncedMailWindow();
        inspector->OverrideCurrentItem(c.value, true);
        EXPECT_EQ(Announce(inspector), S_OK);
        EXPECT_TRUE(inspector->Bars().Named(L"Parvaline").empty());
        ExpectNoMailWindowKnown();
    }
    // A mail window announced afterwards is served as usual.
    auto good = OpenMail();
    EXPECT_EQ(ButtonStates(good), L"Rps");
}

TEST_F(BadInputTest, CommandBarsThatAreNotAnObjectKeepTheMailButBuildNoBar) {
    for (const Case& c : NotAnObject()) {
        SCOPED_TRACE(c.name);
        ComPtr<simhost::MailItem> mail;
        auto inspector = UnannouncedMailWindow(&mail);
        inspector->OverrideCommandBars(c.value, true);
        EXPECT_EQ(Announce(inspector), S_OK);
        EXPECT_TRUE(inspector->Bars().All().empty());
        const auto f = Fields();
        EXPECT_EQ(f.CurrentMailInspector, static_cast<IDispatch*>(inspector.Get()));
        EXPECT_EQ(f.CurrentMailItem, static_cast<IDispatch*>(mail.Get()));
        EXPECT_EQ(f.CurrentCommandBar, nullptr);
        EXPECT_EQ(f.ButtonStop, nullptr);
        // Closing it runs Stop on no buttons at all, and deletes nothing.
        EXPECT_EQ(inspector->CloseWindow(), S_OK);
        EXPECT_EQ(State(), pvl::pvlNone);
    }
}

TEST_F(BadInputTest, CommandBarsThatAreNotAnObjectInALaterWindowLeaveTheEarlierBarAsItWas) {
    ComPtr<simhost::MailItem> firstMail;
    auto first = OpenMail(&firstMail);
    auto second = UnannouncedMailWindow();
    second->OverrideCommandBars(Number(7), true);
    EXPECT_EQ(Announce(second), S_OK);
    // The bar could not be made: the later window gets no buttons, on its own bar or on another.
    ASSERT_EQ(Buttons(first).size(), 4u);
    EXPECT_EQ(Fields().CurrentMailInspector, static_cast<IDispatch*>(second.Get()));
    EXPECT_EQ(Record(first)->Click(), S_OK);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_EQ(Fields().RecordingMailItem, static_cast<IDispatch*>(firstMail.Get()));
    EXPECT_EQ(Stop(first)->Click(), S_OK);
    EXPECT_EQ(State(), pvl::pvlNone);
}

TEST_F(BadInputTest, AProgIdThatIsNotTextOrFailsLeavesTheButtonsWithoutAnAction) {
    struct ProgIdCase {
        const char* name;
        VARIANT value;
        bool fail;
    };
    for (const ProgIdCase& c : {ProgIdCase{"a number", Number(3), false}, ProgIdCase{"VT_EMPTY", EmptyValue(), false},
                                ProgIdCase{"VT_NULL", NullValue(), false}, ProgIdCase{"an object", Object(client_.app.Get()), false},
                                ProgIdCase{"a failure", EmptyValue(), true}}) {
        SCOPED_TRACE(c.name);
        Host::Get().ClearFaults();
        if (c.fail)
            Host::Get().Fail(L"COMAddIn.ProgId", E_FAIL);
        else
            client_.addIn->OverrideProgId(c.value);
        auto inspector = OpenMail();
        const auto buttons = Buttons(inspector);
        ASSERT_EQ(buttons.size(), 4u);
        for (auto* b : buttons) EXPECT_EQ(b->OnAction(), L"");
        EXPECT_EQ(buttons[1]->Caption(), L"Record");
        EXPECT_EQ(ButtonStates(inspector), L"Rps");
        inspector->CloseWindow();
    }
}

TEST_F(BadInputTest, AnAddInObjectThatIsNotTheHostsLeavesTheButtonsWithoutAnAction) {
    // Connected again, with a mail item where the host's COMAddIn belongs: it has no ProgId.
    ReleaseAddin();
    auto stranger = client_.NewMail();
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(pvl::GetClassObject(pvl::CLSID_Connect, IID_PPV_ARGS(&factory)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&addin_)), S_OK);
    connect_ = static_cast<pvl::Connect*>(addin_.Get());
    EXPECT_EQ(addin_->OnConnection(client_.app.Get(), ext_cm_Startup, stranger.Get(), nullptr), S_OK);
    auto inspector = OpenMail();
    ASSERT_EQ(Buttons(inspector).size(), 4u);
    EXPECT_EQ(Buttons(inspector)[2]->OnAction(), L"");
    // And with none at all.
    ReleaseAddin();
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&addin_)), S_OK);
    connect_ = static_cast<pvl::Connect*>(addin_.Get());
    EXPECT_EQ(addin_->OnConnection(client_.app.Get(), ext_cm_Startup, nullptr, nullptr), S_OK);
    auto another = OpenMail();
    ASSERT_EQ(Buttons(another).size(), 4u);
    EXPECT_EQ(Buttons(another)[2]->OnAction(), L"");
}

TEST_F(BadInputTest, AnApplicationThatIsNotAnObjectIsConnectedToNothing) {
    ReleaseAddin();
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(pvl::GetClassObject(pvl::CLSID_Connect, IID_PPV_ARGS(&factory)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&addin_)), S_OK);
    connect_ = static_cast<pvl::Connect*>(addin_.Get());
    EXPECT_EQ(addin_->OnConnection(nullptr, ext_cm_Startup, client_.addIn.Get(), nullptr), S_OK);
    EXPECT_EQ(Fields().OutlookApp, nullptr);
    EXPECT_EQ(Fields().OutlookInspectors, nullptr);
    auto inspector = OpenMail();
    EXPECT_TRUE(inspector->Bars().All().empty());
    EXPECT_EQ(addin_->OnDisconnection(ext_dm_HostShutdown, nullptr), S_OK);
}

// --- Events with missing or wrong arguments ----------------------------------------------------------

TEST_F(BadInputTest, NewInspectorWithoutAnInspectorIsIgnored) {
    auto& inspectors = client_.app->GetInspectors();
    EXPECT_EQ(inspectors.RaiseNewInspector(nullptr), S_OK) << "no argument";
    for (const Case& c : NotAnObject()) {
        VARIANT arg = c.value;
        EXPECT_EQ(inspectors.RaiseNewInspector(&arg), S_OK) << c.name;
    }
    IDispatch* none = nullptr;
    VARIANT byRef;
    byRef.vt = VT_DISPATCH | VT_BYREF;
    byRef.ppdispVal = &none;
    EXPECT_EQ(inspectors.RaiseNewInspector(&byRef), S_OK) << "a reference to no object";
    byRef.ppdispVal = nullptr;
    EXPECT_EQ(inspectors.RaiseNewInspector(&byRef), S_OK) << "a null reference";
    ExpectNoMailWindowKnown();
}

TEST_F(BadInputTest, NewInspectorWithAnObjectThatIsNotAnInspectorIsIgnored) {
    ComPtr<simhost::MailItem> mail = client_.NewMail();
    for (IDispatch* stranger : {static_cast<IDispatch*>(mail.Get()), static_cast<IDispatch*>(client_.app.Get()),
                                static_cast<IDispatch*>(client_.addIn.Get())}) {
        VARIANT arg = Object(stranger);
        EXPECT_EQ(client_.app->GetInspectors().RaiseNewInspector(&arg), S_OK);
    }
    ExpectNoMailWindowKnown();
}

TEST_F(BadInputTest, NewInspectorPassedByReferenceIsServedAsUsual) {
    auto inspector = UnannouncedMailWindow();
    VARIANT inner = Object(inspector.Get());
    VARIANT arg;
    arg.vt = VT_VARIANT | VT_BYREF;
    arg.pvarVal = &inner;
    EXPECT_EQ(client_.app->GetInspectors().RaiseNewInspector(&arg), S_OK);
    EXPECT_EQ(ButtonStates(inspector), L"Rps");
}

TEST_F(BadInputTest, AClickCountsOnlyWhenItsCtrlIsTheButtonItselfWhateverItsCancelDefault) {
    // The host raises a button's Click for every button with the same Tag, so Ctrl is what tells
    // whose press it was: a click that names no button, or another object, is not this button's.
    auto inspector = OpenMail();
    EXPECT_EQ(Record(inspector)->RaiseClick(nullptr, 0), S_OK) << "no arguments";
    VARIANT wrong[2] = {Number(1), NullValue()};  // reversed: CancelDefault a number, Ctrl null
    EXPECT_EQ(Record(inspector)->RaiseClick(wrong, 2), S_OK);
    VARIANT stranger = Object(client_.app.Get());  // a stranger as Ctrl, no CancelDefault
    EXPECT_EQ(Record(inspector)->RaiseClick(&stranger, 1), S_OK);
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_TRUE(deviceOps_.empty());

    // CancelDefault is never read: missing, of the wrong kind or a null reference, the click is one.
    VARIANT noCancel = Object(Record(inspector));
    EXPECT_EQ(Record(inspector)->RaiseClick(&noCancel, 1), S_OK);
    EXPECT_EQ(State(), pvl::pvlRecording);
    VARIANT nullRef[2];
    nullRef[0].vt = VT_BOOL | VT_BYREF;
    nullRef[0].pboolVal = nullptr;
    nullRef[1] = Object(Stop(inspector));
    EXPECT_EQ(Stop(inspector)->RaiseClick(nullRef, 2), S_OK);
    EXPECT_EQ(State(), pvl::pvlNone);
    VARIANT numberCancel[2] = {Number(1), Object(Record(inspector))};
    EXPECT_EQ(Record(inspector)->RaiseClick(numberCancel, 2), S_OK);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_EQ(ButtonStates(inspector), L"rpS");
    EXPECT_EQ(Stop(inspector)->Click(), S_OK);
}

// --- Events that arrive while another handler runs -----------------------------------------------------

// A visible message box of this process, if one is up.
BOOL CALLBACK FindMessageBoxIn(HWND hwnd, LPARAM found) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[16] = L"";
    GetClassNameW(hwnd, cls, 16);
    if (pid == GetCurrentProcessId() && IsWindowVisible(hwnd) && lstrcmpW(cls, L"#32770") == 0 &&
        GetDlgItem(hwnd, 0xFFFF)) {
        *reinterpret_cast<HWND*>(found) = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindMessageBox() {
    HWND found = nullptr;
    EnumWindows(&FindMessageBoxIn, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Runs on the user-interface thread, inside the message box's own loop: once the box is up, the
// host closes the mail window.
simhost::Inspector* g_closeTarget = nullptr;
std::atomic<bool> g_closed{false};
void CALLBACK CloseTheWindowOnceTheBoxIsUp(HWND, UINT, UINT_PTR id, DWORD) {
    if (!FindMessageBox()) return;  // not yet: the timer comes again
    KillTimer(nullptr, id);
    if (g_closeTarget) g_closeTarget->CloseWindow();
    g_closed = true;
}

TEST_F(BadInputTest, ClosingTheMailWindowDuringTheEndMessageStopsThePlaybackAndTakesTheBarAway) {
    auto inspector = OpenMail();
    WriteFileBytes(RecordingPath(), ToneWave());
    ASSERT_EQ(Play(inspector)->Click(), S_OK);
    ASSERT_EQ(State(), pvl::pvlPlaying);
    deviceOps_.clear();

    g_closeTarget = inspector.Get();
    g_closed = false;
    // The user: sees the box, waits until the window has been closed behind it, then presses OK.
    std::thread user([&] {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < 20000) {
            if (HWND box = FindMessageBox()) {
                while (!g_closed && GetTickCount() - start < 20000) Sleep(5);
                SendMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
                return;
            }
            Sleep(5);
        }
    });
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, &CloseTheWindowOnceTheBoxIsUp);
    const HRESULT hr = Device()->RaisePlayCompleted(0);
    user.join();
    if (!g_closed) KillTimer(nullptr, timer);
    g_closeTarget = nullptr;

    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(g_closed) << "the close arrived while the box was up";
    // The close ran Stop in the playing state (stop, close) and took the bar away; the message box
    // then returned into a handler whose window is gone, and nothing more happened.
    EXPECT_EQ(deviceOps_, (std::vector<std::wstring>{L"Command=stop", L"Command=close"}));
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_FALSE(Device()->IsOpen());
    EXPECT_TRUE(inspector->Bars().Named(L"Parvaline").empty());
}

TEST_F(BadInputTest, ANewMailWindowOpenedInsideRecordTakesRecordsRemainingButtonSteps) {
    auto first = OpenMail();
    simhost::CommandBarButton* firstRecord = Record(first);
    ComPtr<simhost::Inspector> second;
    bool opened = false;
    // The host opens a window while Record disables its own button: the new window's bar is built
    // idle, and Record's showing of the state reaches it too.
    Host::Get().OnEnter([&](const simhost::Call& call) {
        if (opened || call.object != firstRecord->Name() || call.member != L"Enabled") return;
        opened = true;
        second = client_.Open(client_.NewMail().Get());
    });
    EXPECT_EQ(firstRecord->Click(), S_OK);
    Host::Get().OnEnter({});
    ASSERT_TRUE(opened);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_EQ(ButtonStates(first), L"rpS");
    EXPECT_EQ(ButtonStates(second), L"rpS");
    EXPECT_EQ(Fields().ButtonRecord, static_cast<IDispatch*>(Record(second)));
    // Either window's Stop ends it.
    EXPECT_EQ(Stop(second)->Click(), S_OK);
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_EQ(ButtonStates(first), L"RPs");
    EXPECT_EQ(ButtonStates(second), L"RPs");
}

TEST_F(BadInputTest, ANewMailWindowOpenedByAnotherClickSinkAfterRecordGetsAFreshBar) {
    auto first = OpenMail();
    // A second listener on the Record button, advised after the add-in, opens a window when it hears
    // the click: the add-in's own handler has finished by then.
    class OpenOnClick final : public pvl::DispatchImpl<IDispatch> {
    public:
        explicit OpenOnClick(std::function<void()> action) : action_(std::move(action)) {}
        IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            if (!ppv) return E_POINTER;
            *ppv = nullptr;
            if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
                IsEqualIID(riid, pvl::host::DIID_CommandBarButtonEvents)) {
                *ppv = static_cast<IDispatch*>(this);
                AddRef();
                return S_OK;
            }
            return E_NOINTERFACE;
        }
        IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
        IFACEMETHODIMP_(ULONG) Release() override {
            const ULONG n = --refs_;
            if (!n) delete this;
            return n;
        }

    protected:
        std::span<const pvl::DispMember> Members() const override { return {}; }
        HRESULT InvokeMember(DISPID, WORD, DISPPARAMS*, VARIANT*) override {
            action_();
            return S_OK;
        }

    private:
        ULONG refs_ = 1;
        std::function<void()> action_;
    };
    ComPtr<simhost::Inspector> second;
    ComPtr<OpenOnClick> sink;
    *sink.GetAddressOf() = new OpenOnClick([&] { second = client_.Open(client_.NewMail().Get()); });
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(Record(first)->FindConnectionPoint(pvl::host::DIID_CommandBarButtonEvents, &point), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink.Get(), &cookie), S_OK);
    EXPECT_EQ(Record(first)->Click(), S_OK);
    point->Unadvise(cookie);
    ASSERT_TRUE(second);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_EQ(ButtonStates(first), L"rpS");
    EXPECT_EQ(ButtonStates(second), L"rpS");  // a new bar shows the recording that runs on
    EXPECT_EQ(Stop(second)->Click(), S_OK);
    EXPECT_EQ(State(), pvl::pvlNone);
}

TEST_F(BadInputTest, AWindowClosedWhileStopShowsItsProgressRunsStopAgainInsideAndEndsIdle) {
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    Record(inspector)->Click();
    bool closed = false;
    // The host closes the window while Stop sets "Compressing, wait...": the close runs Stop again,
    // inside the first, which then finishes on a device that is already closed.
    Host::Get().OnEnter([&](const simhost::Call& call) {
        if (closed || call.member != L"Caption" || call.args != L"\"Compressing, wait...\"") return;
        closed = true;
        inspector->CloseWindow();
    });
    EXPECT_EQ(Stop(inspector)->Click(), S_OK);
    Host::Get().OnEnter({});
    ASSERT_TRUE(closed);
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_FALSE(Device()->IsOpen());
    EXPECT_TRUE(inspector->Bars().Named(L"Parvaline").empty());
    EXPECT_LE(mail->GetAttachments().All().size(), 1u);
}

TEST_F(BadInputTest, TheHostLettingGoOfTheAddinDuringAClickEndsItOnlyAfterTheClick) {
    auto inspector = OpenMail();
    bool released = false;
    Host::Get().OnEnter([&](const simhost::Call& call) {
        if (released || call.member != L"Enabled") return;
        released = true;
        ReleaseAddin();  // the host's last reference
    });
    EXPECT_EQ(Record(inspector)->Click(), S_OK);
    Host::Get().OnEnter({});
    ASSERT_TRUE(released);
    // The click finished on the object it started on; then the add-in went, its recording attached
    // to its mail first, and its window with it.
    EXPECT_EQ(ButtonStates(inspector), L"RPs");
    EXPECT_EQ(pvl::Connect::LiveObjects(), 0);
    EXPECT_EQ(pvl::ExistingAboutWindow(), nullptr);
    EXPECT_EQ(Host::Get().AdvisedSinks(), 0);
}

}  // namespace
}  // namespace pvltest
