// Connection and disconnection of the add-in, its identity as a COM object, and what it leaves
// behind when the host lets it go.
#include "support.h"
#include "recorder/user_messages.h"
#include "about/about_window.h"
#include "common/host_model.h"
#include "server/class_factory.h"

namespace pvltest {
namespace {

using simhost::Host;

class ConnectionTest : public AddinTest {};

TEST_F(ConnectionTest, KeepsTheApplicationItsInspectorsTheAddInAndTheAudioControl) {
    auto f = Fields();
    EXPECT_NE(f.OutlookApp, nullptr);
    EXPECT_NE(f.OutlookInspectors, nullptr);
    EXPECT_EQ(f.AddInInst, static_cast<IDispatch*>(client_.addIn.Get()));
    EXPECT_NE(f.mci, nullptr);
    EXPECT_EQ(f.RecorderState, pvl::pvlNone);
    EXPECT_EQ(f.CurrentMailInspector, nullptr);
    EXPECT_EQ(f.CurrentCommandBar, nullptr);
    // The event connections: the inspectors' NewInspector, the explorers' NewExplorer, and the
    // main window's own.
    EXPECT_EQ(client_.app->GetInspectors().Sinks(), 1u);
    EXPECT_EQ(client_.app->GetExplorers().Sinks(), 1u);
    EXPECT_EQ(client_.MainWindow()->Sinks(), 1u);
    EXPECT_EQ(f.OutlookExplorers, static_cast<IDispatch*>(&client_.app->GetExplorers()));
    EXPECT_EQ(f.ReadingPanes, 1u);
}

TEST_F(ConnectionTest, FieldsAreSetInTheirStartOrderWithoutQueryingTheAddInObject) {
    // Then the main windows open now, each with the reply that may be written inline in it already.
    EXPECT_EQ(Host::Get().LogText(), (std::vector<std::wstring>{
                                         L"Application#1.QueryInterface QueryInterface _Application",
                                         L"Application#1.Inspectors get",
                                         L"Application#1.Explorers get",
                                         L"Explorers#1.Count get",
                                         L"Explorers#1.Item call 1",
                                         L"Explorer#1.QueryInterface QueryInterface _Explorer",
                                         L"Explorer#1.ActiveInlineResponse get",
                                     }));
    // The host's add-in object is kept as given: one reference more than the host's own, no query.
    EXPECT_EQ(client_.addIn->RefCount(), 2u);
}

TEST_F(ConnectionTest, TheAboutWindowExistsHiddenRightAfterConnection) {
    pvl::AboutWindow* about = pvl::ExistingAboutWindow();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(IsWindow(about->hwnd()));
    EXPECT_FALSE(IsWindowVisible(about->hwnd()));
    EXPECT_EQ(Fields().mci, about->mci());
}

TEST_F(ConnectionTest, TheDefaultInterfaceOffersNoMembers) {
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(addin_.As(&dispatch), S_OK);
    for (const wchar_t* name : {L"OnConnection", L"ButtonRecord_Click", L"RecorderState", L"Anything"}) {
        DISPID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME) << name;
    }
    ComPtr<IUnknown> asConnect;
    EXPECT_EQ(addin_->QueryInterface(pvl::IID__Connect, reinterpret_cast<void**>(asConnect.GetAddressOf())), S_OK);
    ComPtr<IUnknown> other;
    EXPECT_EQ(addin_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(other.GetAddressOf())),
              E_NOINTERFACE);
}

TEST_F(ConnectionTest, TheOtherNotificationsSucceedAndChangeNothing) {
    auto before = Fields();
    Host::Get().ClearLog();
    EXPECT_EQ(addin_->OnAddInsUpdate(nullptr), S_OK);
    EXPECT_EQ(addin_->OnStartupComplete(nullptr), S_OK);
    EXPECT_EQ(addin_->OnBeginShutdown(nullptr), S_OK);
    auto after = Fields();
    EXPECT_EQ(before.OutlookApp, after.OutlookApp);
    EXPECT_EQ(before.OutlookInspectors, after.OutlookInspectors);
    EXPECT_TRUE(Host::Get().Log().empty());
}

TEST_F(ConnectionTest, DisconnectionLetsGoOfTheApplicationOnly) {
    const ULONG appRefs = client_.app->RefCount();
    EXPECT_EQ(addin_->OnDisconnection(ext_dm_UserClosed, nullptr), S_OK);
    EXPECT_EQ(client_.app->RefCount(), appRefs - 1);
    auto f = Fields();
    EXPECT_EQ(f.OutlookApp, nullptr);
    EXPECT_NE(f.OutlookInspectors, nullptr);
    EXPECT_NE(f.AddInInst, nullptr);
    EXPECT_NE(f.mci, nullptr);
    EXPECT_NE(pvl::ExistingAboutWindow(), nullptr);
}

TEST_F(ConnectionTest, AfterDisconnectionANewMailWindowStillGetsItsBar) {
    addin_->OnDisconnection(ext_dm_UserClosed, nullptr);
    auto inspector = OpenMail();
    EXPECT_EQ(Buttons(inspector).size(), 4u);
    EXPECT_EQ(Fields().CurrentMailInspector, static_cast<IDispatch*>(inspector.Get()));
}

TEST_F(ConnectionTest, DisconnectionDuringARecordingDoesNotStopIt) {
    auto inspector = OpenMail();
    Record(inspector)->Click();
    mci_.commands.clear();
    addin_->OnDisconnection(ext_dm_UserClosed, nullptr);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_TRUE(mci_.commands.empty());
    EXPECT_TRUE(Device()->IsOpen());
}

TEST_F(ConnectionTest, ReleasingTheAddInReleasesEveryHostObjectAndEndsEveryConnection) {
    auto inspector = OpenMail();
    Record(inspector)->Click();
    EXPECT_GT(Host::Get().AdvisedSinks(), 0);
    inspector.Reset();
    ReleaseAddin();
    EXPECT_EQ(Host::Get().AdvisedSinks(), 0);
    EXPECT_EQ(pvl::Connect::LiveObjects(), 0);
    EXPECT_EQ(pvl::ExistingAboutWindow(), nullptr);
    EXPECT_EQ(client_.addIn->RefCount(), 1u);
    EXPECT_EQ(pvl::CanUnloadNow(), S_OK);
}

TEST_F(ConnectionTest, ConnectingTwiceMovesTheInspectorsConnection) {
    SAFEARRAY* custom = nullptr;
    EXPECT_EQ(addin_->OnConnection(client_.app.Get(), ext_cm_AfterStartup, client_.addIn.Get(), &custom), S_OK);
    EXPECT_EQ(client_.app->GetInspectors().Sinks(), 1u);
}

// Connection with host faults: each step is skipped alone and connection still succeeds.
class ConnectionFaultTest : public AddinTest {
protected:
    void SetUp() override {}
    void ConnectWithFault(const wchar_t* operation) {
        AddinTest::SetUp();  // connects once without the fault...
        ReleaseAddin();
        Host::Get().ClearLog();
        Host::Get().Fail(operation, E_FAIL);
        Connect();  // ...and once with it
    }
};

TEST_F(ConnectionFaultTest, AnApplicationWithoutTheOutlookInterfaceLeavesTheAddInLoadedAndIdle) {
    ConnectWithFault(L"Application.QueryInterface");
    auto f = Fields();
    EXPECT_EQ(f.OutlookApp, nullptr);
    EXPECT_EQ(f.OutlookInspectors, nullptr);
    EXPECT_NE(f.AddInInst, nullptr);
    EXPECT_NE(f.mci, nullptr);
    auto inspector = OpenMail();
    EXPECT_TRUE(Buttons(inspector).empty());
    EXPECT_EQ(Host::Get().LogMatching(L"CurrentItem").size(), 0u);
}

TEST_F(ConnectionFaultTest, InspectorsThatCannotBeReadLeaveTheRestConnected) {
    ConnectWithFault(L"Application.Inspectors");
    auto f = Fields();
    EXPECT_NE(f.OutlookApp, nullptr);
    EXPECT_EQ(f.OutlookInspectors, nullptr);
    EXPECT_NE(f.AddInInst, nullptr);
    EXPECT_NE(f.mci, nullptr);
}

TEST_F(ConnectionFaultTest, AnAudioControlThatCannotBeCreatedLeavesMciEmptyButBarsStillCome) {
    AddinTest::SetUp();
    ReleaseAddin();
    pvl::SetMciBackendFactory([]() -> std::unique_ptr<pvl::MciBackend> { throw std::bad_alloc(); });
    Connect();
    EXPECT_EQ(Fields().mci, nullptr);
    EXPECT_NE(Fields().OutlookInspectors, nullptr);
    auto inspector = OpenMail();
    ASSERT_EQ(Buttons(inspector).size(), 4u);
    // Record cannot start without a device: the user is told, and the recorder stays idle.
    {
        MessageBoxAnswerer user;
        EXPECT_EQ(Record(inspector)->Click(), S_OK);
        EXPECT_EQ(user.Texts(), std::vector<std::wstring>{pvl::kCannotStartText});
    }
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_EQ(ButtonStates(inspector), L"Rps");
    // Play stops at its first failure, which the host's event call receives.
    EXPECT_TRUE(FAILED(Play(inspector)->Click()));
    EXPECT_EQ(State(), pvl::pvlNone);
}

TEST(ServerTest, OnlyTheConnectClassIsAvailable) {
    for (const GUID* id : {&pvl::LIBID_pvlAddIn, &pvl::IID__Connect, &pvl::GUID_pvlStates}) {
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(pvl::GetClassObject(*id, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(p, nullptr);
    }
}

TEST(ServerTest, CanUnloadOnlyWithoutObjectsAndLocks) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(pvl::GetClassObject(pvl::CLSID_Connect, IID_PPV_ARGS(&factory)), S_OK);
    EXPECT_EQ(pvl::CanUnloadNow(), S_OK);
    factory->LockServer(TRUE);
    EXPECT_EQ(pvl::CanUnloadNow(), S_FALSE);
    factory->LockServer(FALSE);
    ComPtr<IUnknown> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&object)), S_OK);
    EXPECT_EQ(pvl::CanUnloadNow(), S_FALSE);
    object.Reset();
    EXPECT_EQ(pvl::CanUnloadNow(), S_OK);
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(factory->CreateInstance(object.Get() ? object.Get() : factory.Get(), IID_PPV_ARGS(&aggregated)),
              CLASS_E_NOAGGREGATION);
}

}  // namespace
}  // namespace pvltest
