// The add-in's ribbon group in the simulated Office ribbon: a voice mail through ribbon presses
// only, every window showing and acting on its own mail, the state asked again after every change,
// and callbacks that survive any argument.
#include "support.h"
#include "addin/ribbon_model.h"
#include "simhost/ribbon.h"
#include "common/raii.h"
#include "server/class_factory.h"

namespace pvltest {
namespace {

using simhost::Host;


// A control of the host's own making, as a callback's argument.
ComPtr<IDispatch> Control(const wchar_t* id, IDispatch* context) {
    auto control = simhost::Make<simhost::RibbonControl>(id, L"", context);
    return ComPtr<IDispatch>(static_cast<IRibbonControl*>(control.Get()));
}

class RibbonAddinTest : public StandInEncoderTest {
protected:
    void SetUp() override {
        mci_.completePlay = true;
        StandInEncoderTest::SetUp();
        ASSERT_EQ(Ribbon().Attach(addin_.Get(), L"pvlAddIn.Connect"), S_OK);
    }
    void TearDown() override {
        Ribbon().Detach();  // the host lets go of the add-in before the add-in is released
        StandInEncoderTest::TearDown();
    }
    simhost::Ribbon& Ribbon() { return client_.app->GetRibbon(); }
    // Record, Play, Stop as the window's group shows them after the host has asked again:
    // upper case = enabled, as ButtonStates does for the bar.
    std::wstring GroupStates(const ComPtr<simhost::Inspector>& window) {
        Ribbon().Update();
        std::wstring s;
        for (auto [id, letter] : {std::pair{L"pvlRecord", L'r'}, {L"pvlPlay", L'p'}, {L"pvlStop", L's'}}) {
            auto b = Ribbon().Button(window.Get(), id);
            if (!b) return L"(no group)";
            s += b->enabled ? static_cast<wchar_t>(towupper(letter)) : letter;
        }
        return s;
    }
    HRESULT Press(const ComPtr<simhost::Inspector>& window, const wchar_t* id, bool force = false) {
        Ribbon().Update();
        return Ribbon().Press(window.Get(), id, force);
    }
    // A callback called by name with one argument, as a misbehaving host would.
    HRESULT Call(const wchar_t* name, VARIANT arg, pvl::Variant* result) {
        return Ribbon().InvokeCallback(name, &arg, 1, result->put());
    }
};

TEST_F(RibbonAddinTest, TheGroupLoadsInAMailBeingWrittenAndNowhereElse) {
    ComPtr<simhost::MailItem> mail;
    auto window = OpenMail(&mail);
    auto groups = Ribbon().Groups(window.Get());
    ASSERT_EQ(groups.size(), 1u) << (Ribbon().Errors().empty() ? "" : std::string(Ribbon().Errors()[0].begin(), Ribbon().Errors()[0].end()));
    EXPECT_EQ(groups[0].label, L"Voice message");
    EXPECT_EQ(groups[0].tab, L"TabNewMailMessage");
    EXPECT_TRUE(Ribbon().Errors().empty());
    EXPECT_EQ(GroupStates(window), L"Rps");
    EXPECT_TRUE(Ribbon().Button(window.Get(), L"pvlAbout")->enabled);
    for (const auto& b : groups[0].buttons) EXPECT_TRUE(b.picture) << "no picture for " << std::string(b.id.begin(), b.id.end());
    // A mail that arrived and a contact get nothing.
    auto read = client_.Open(client_.NewReceivedMail().Get());
    auto contact = client_.Open(client_.NewContact().Get());
    EXPECT_TRUE(Ribbon().Groups(read.Get()).empty());
    EXPECT_TRUE(Ribbon().Groups(contact.Get()).empty());
    EXPECT_EQ(Ribbon().CustomUIRequests(),
              (std::vector<std::wstring>{L"Microsoft.Outlook.Explorer", L"Microsoft.Outlook.Mail.Compose",
                                         L"Microsoft.Outlook.Mail.Read", L"Microsoft.Outlook.Contact"}));
    EXPECT_TRUE(Ribbon().Errors().empty());
    // The bar is built as it always was, beside the group.
    EXPECT_EQ(ButtonStates(window), L"Rps");
}

TEST_F(RibbonAddinTest, AVoiceMailThroughRibbonPressesOnly) {
    ComPtr<simhost::MailItem> mail;
    auto window = OpenMail(&mail);
    ASSERT_EQ(Press(window, L"pvlRecord"), S_OK);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_EQ(GroupStates(window), L"RpS");
    ASSERT_EQ(Press(window, L"pvlStop"), S_OK);
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_EQ(Voices(mail), 1u);
    EXPECT_EQ(GroupStates(window), L"RPs");
    {
        MessageBoxAnswerer user;
        ASSERT_EQ(Press(window, L"pvlPlay"), S_OK);
        EXPECT_EQ(State(), pvl::pvlPlaying);
        EXPECT_EQ(GroupStates(window), L"rpS");
        // The end of playback comes through the device's notice: Stop, then the state is idle.
        PumpMessages(5000, [&] { return State() == pvl::pvlNone; });
    }
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_EQ(GroupStates(window), L"RPs");
    EXPECT_EQ(mci_.Verbs().back(), L"close");
}

TEST_F(RibbonAddinTest, EachWindowShowsAndActsOnItsOwnMail) {
    ComPtr<simhost::MailItem> mailA, mailB;
    auto a = OpenMail(&mailA);
    auto b = OpenMail(&mailB);
    ASSERT_EQ(Press(a, L"pvlRecord"), S_OK);  // the older window
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_EQ(GroupStates(a), L"RpS");
    EXPECT_EQ(GroupStates(b), L"rps") << "B's Record must be off while A records";
    EXPECT_EQ(ButtonStates(b), L"rpS") << "the bar shows the recorder's state too";
    // Pressed in B anyway: nothing of A's is touched.
    mci_.commands.clear();
    for (const wchar_t* id : {L"pvlRecord", L"pvlPlay", L"pvlStop"}) EXPECT_EQ(Press(b, id, true), S_OK);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_TRUE(mci_.commands.empty());
    ASSERT_EQ(Press(a, L"pvlStop"), S_OK);
    EXPECT_EQ(Voices(mailA), 1u);
    EXPECT_EQ(Voices(mailB), 0u);
    // Play is on only where the recording belongs.
    EXPECT_EQ(GroupStates(a), L"RPs");
    EXPECT_EQ(GroupStates(b), L"Rps");
}

TEST_F(RibbonAddinTest, EveryChangeOfStateIsAskedAgainInEveryWindow) {
    auto a = OpenMail();
    auto b = OpenMail();
    const auto asked = [&] { return Ribbon().CallbacksMatching(L"getEnabled pvlRecord").size(); };
    size_t before = asked();
    ASSERT_EQ(Press(b, L"pvlRecord"), S_OK);  // through the ribbon
    EXPECT_TRUE(Ribbon().Pending() || asked() > before) << "no invalidation after Record";
    EXPECT_EQ(GroupStates(a), L"rps");
    EXPECT_EQ(GroupStates(b), L"RpS");
    before = asked();
    ASSERT_EQ(Stop(b)->Click(), S_OK);  // through the bar
    Ribbon().Update();
    EXPECT_GT(asked(), before) << "no invalidation after a Stop from the bar";
    EXPECT_EQ(GroupStates(a), L"Rps");
    EXPECT_EQ(GroupStates(b), L"RPs");
    ASSERT_EQ(Play(b)->Click(), S_OK);
    EXPECT_EQ(GroupStates(a), L"rps");
    EXPECT_EQ(GroupStates(b), L"rpS");
}

TEST_F(RibbonAddinTest, TheProductButtonOpensTheAboutWindowFromAnyWindow) {
    auto window = OpenMail();
    MessageBoxAnswerer user;
    // The About window is modal: close it from inside, once it shows.
    bool shown = false;
    std::thread closer([&] {
        for (int i = 0; i < 200 && !shown; ++i) {
            HWND about = FindWindowW(L"ParvalineAbout", nullptr);
            if (about && IsWindowVisible(about)) {
                shown = true;
                PostMessageW(about, WM_COMMAND, IDOK, 0);
            }
            Sleep(25);
        }
    });
    EXPECT_EQ(Press(window, L"pvlAbout"), S_OK);
    closer.join();
    EXPECT_TRUE(shown) << "the About window did not show within 5 s";
}

// --- Keyboards and screen readers: the toggle and the clock --------------------------------------------------

// Record is pressed, and Stop counts, only in the window whose mail records; releasing Record stops
// as Stop does, and Play then shows how long the recording is. The clock asks again for Stop alone.
TEST_F(RibbonAddinTest, TheToggleAndTheClockFollowThisMailOnly) {
    ComPtr<simhost::MailItem> mailA, mailB;
    auto a = OpenMail(&mailA);
    auto b = OpenMail(&mailB);
    auto view = [&](const ComPtr<simhost::Inspector>& w, const wchar_t* id) {
        Ribbon().Update();
        return *Ribbon().Button(w.Get(), id);
    };
    EXPECT_EQ(view(a, L"pvlStop").label, L"Stop");
    EXPECT_EQ(view(a, L"pvlPlay").label, L"Play") << "no recording yet, no length";
    ASSERT_EQ(Press(a, L"pvlRecord"), S_OK);
    EXPECT_TRUE(view(a, L"pvlRecord").pressed);
    EXPECT_FALSE(view(b, L"pvlRecord").pressed);
    EXPECT_EQ(view(a, L"pvlStop").label, L"Stop 0:00");
    EXPECT_EQ(view(b, L"pvlStop").label, L"Stop") << "another mail's recording shows no clock";
    EXPECT_EQ(Ribbon().Button(a.Get(), L"pvlRecord")->supertip.find(L"Recording"), 0u);
    // Two seconds on: only Stop was asked again, and only A's counts.
    Ribbon().ClearRecords();
    Host::Get().ClearLog();
    PumpMessages(6000, [&] { return view(a, L"pvlStop").label == L"Stop 0:02"; });
    EXPECT_EQ(view(a, L"pvlStop").label, L"Stop 0:02");
    EXPECT_EQ(view(b, L"pvlStop").label, L"Stop");
    EXPECT_GE(Host::Get().LogMatching(L"InvalidateControl call \"pvlStop\"").size(), 2u);
    EXPECT_TRUE(Host::Get().LogMatching(L".Invalidate call").empty()) << "the clock refreshed the whole ribbon";
    for (const auto& c : Ribbon().CallbackText())
        EXPECT_NE(c.find(L"pvlStop"), std::wstring::npos) << std::string(c.begin(), c.end());
    // Released: the recording ends and is attached, as with Stop; the clock stops.
    ASSERT_EQ(Press(a, L"pvlRecord"), S_OK);
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_EQ(Voices(mailA), 1u);
    EXPECT_FALSE(view(a, L"pvlRecord").pressed);
    EXPECT_EQ(view(a, L"pvlStop").label, L"Stop");
    const std::wstring length = view(a, L"pvlPlay").label;
    EXPECT_TRUE(length == L"Play 0:02" || length == L"Play 0:03") << std::string(length.begin(), length.end());
    EXPECT_EQ(view(b, L"pvlPlay").label, L"Play");
    Ribbon().ClearRecords();
    PumpMessages(1300);
    Ribbon().Update();
    EXPECT_TRUE(Ribbon().CallbacksMatching(L"getLabel pvlStop").empty()) << "the clock went on after the recording";
}

// --- Callbacks with arguments no ribbon would pass ----------------------------------------------------------

TEST_F(RibbonAddinTest, CallbacksWithBadArgumentsAnswerSafelyAndChangeNothing) {
    ComPtr<simhost::MailItem> mail;
    auto window = OpenMail(&mail);
    ASSERT_EQ(Press(window, L"pvlRecord"), S_OK);
    mci_.commands.clear();
    auto contact = client_.Open(client_.NewContact().Get());
    struct Bad {
        const char* what;
        ComPtr<IDispatch> control;
    };
    std::vector<Bad> bad{
        {"no control", nullptr},
        {"a control without Context", Control(L"pvlStop", nullptr)},
        {"a control in a contact window", Control(L"pvlStop", contact.Get())},
        {"a control whose Context is the application",
         Control(L"pvlStop", static_cast<IDispatch*>(client_.app.Get()))},
        {"a control that is not ours", Control(L"SomeoneElses", window.Get())},
        {"the application as the control", static_cast<IDispatch*>(client_.app.Get())},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.what);
        VARIANT arg;
        arg.vt = VT_DISPATCH;
        arg.pdispVal = b.control.Get();
        pvl::Variant result;
        EXPECT_EQ(Call(L"onAction", arg, &result), S_OK);
        EXPECT_EQ(Call(L"getEnabled", arg, &result), S_OK);
        EXPECT_EQ(result.vt(), VT_BOOL);
        EXPECT_EQ(result.ref().boolVal, VARIANT_FALSE);
        const HRESULT image = Call(L"getImage", arg, &result);
        EXPECT_TRUE(FAILED(image) || result.vt() == VT_DISPATCH);
        VARIANT number;
        number.vt = VT_I4;
        number.lVal = 7;
        EXPECT_EQ(Call(L"onAction", number, &result), S_OK);
        Call(L"onLoad", number, &result);  // refused or ignored: either way the ribbon stays
    }
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_TRUE(mci_.commands.empty()) << "a bad callback reached the device";
    EXPECT_EQ(Voices(mail), 0u);
    // The group is still there and still works.
    EXPECT_EQ(GroupStates(window), L"RpS");
    ASSERT_EQ(Press(window, L"pvlStop"), S_OK);
    EXPECT_EQ(Voices(mail), 1u);
}

TEST_F(RibbonAddinTest, TheSecondByReferenceFormOfAGetCallbackIsFilledToo) {
    auto window = OpenMail();
    auto control = Control(L"pvlRecord", window.Get());
    VARIANT_BOOL enabled = VARIANT_FALSE;
    VARIANT args[2];  // reversed: the value by reference, then the control
    args[0].vt = VT_BOOL | VT_BYREF;
    args[0].pboolVal = &enabled;
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = control.Get();
    pvl::Variant result;
    EXPECT_EQ(Ribbon().InvokeCallback(L"getEnabled", args, 2, result.put()), S_OK);
    EXPECT_EQ(enabled, VARIANT_TRUE);
    EXPECT_EQ(result.ref().boolVal, VARIANT_TRUE);
}

// The module as shipped: its XML, read through its own GetCustomUI, names only callbacks that its
// dispatch part resolves, and the ribbon shows the group without an error.
TEST(RibbonAddinModule, EveryCallbackTheShippedXmlNamesResolvesOnTheRealDll) {
    Host::Get().Reset();
    pvl::UniqueHModule module(LoadLibraryW(WindowsPathOf(Env("PVL_ADDIN_DLL")).c_str()));
    ASSERT_TRUE(module) << "PVL_ADDIN_DLL names the built add-in";
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module.get(), "DllGetClassObject")));
    ASSERT_NE(getClassObject, nullptr);
    {
        auto client = simhost::Client::Create();
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(pvl::CLSID_Connect, IID_PPV_ARGS(&factory)), S_OK);
        ComPtr<IDTExtensibility2> addin;
        ASSERT_EQ(factory->CreateInstance(nullptr, __uuidof(IDTExtensibility2), reinterpret_cast<void**>(addin.GetAddressOf())), S_OK);
        SAFEARRAY* custom = nullptr;
        ASSERT_EQ(addin->OnConnection(client.app.Get(), ext_cm_Startup, client.addIn.Get(), &custom), S_OK);
        ComPtr<IRibbonExtensibility> ribbon;
        ASSERT_EQ(addin->QueryInterface(__uuidof(IRibbonExtensibility), reinterpret_cast<void**>(ribbon.GetAddressOf())), S_OK);
        pvl::UniqueBstr other;
        ASSERT_EQ(ribbon->GetCustomUI(pvl::UniqueBstr(L"Microsoft.Outlook.Mail.Read").get(), other.put()), S_OK);
        EXPECT_EQ(other.size(), 0u) << "a read window's ribbon is left alone";
        ASSERT_EQ(client.app->GetRibbon().Attach(addin.Get(), L"pvlAddIn.Connect"), S_OK);
        auto window = client.Open(client.NewMail().Get());
        const auto& errors = client.app->GetRibbon().Errors();
        EXPECT_TRUE(errors.empty()) << (errors.empty() ? std::wstring() : errors[0]);
        ASSERT_EQ(client.app->GetRibbon().Groups(window.Get()).size(), 1u);
        EXPECT_EQ(client.app->GetRibbon().Groups(window.Get())[0].buttons.size(), 4u);
        // A name the XML does not use is still unknown: _Connect declares no members.
        DISPID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"Record")};
        EXPECT_EQ(ComPtr<IDispatch>(static_cast<IDispatch*>(addin.Get()))->GetIDsOfNames(IID_NULL, names, 1, 0, &id),
                  DISP_E_UNKNOWNNAME);
        window->CloseWindow();
        client.app->GetRibbon().Detach();
        addin->OnDisconnection(ext_dm_HostShutdown, &custom);
    }
    EXPECT_EQ(Host::Get().LiveObjects(), 0);
    EXPECT_EQ(Host::Get().AdvisedSinks(), 0);
}

}  // namespace
}  // namespace pvltest
