// A reply written inline in the main window's reading pane is a place of its own: the voice group on
// the Message tab Outlook shows there acts for that reply, its recording goes to it whatever closes
// it, and the main window gets no bar.
#include "support.h"
#include "simhost/ribbon.h"

namespace pvltest {
namespace {

using simhost::Host;

// --- Replies written inline in the main window's reading pane -------------------------------------------

class ReplyPaneTest : public StandInEncoderTest {
protected:
    void SetUp() override {
        mci_.completePlay = true;
        StandInEncoderTest::SetUp();
        ASSERT_EQ(Ribbon().Attach(addin_.Get(), L"pvlAddIn.Connect"), S_OK);
        explorer_ = client_.MainWindow();
        ASSERT_TRUE(explorer_);
        received_ = client_.NewReceivedMail();
    }
    void TearDown() override {
        Ribbon().Detach();
        explorer_.Reset();
        received_.Reset();
        StandInEncoderTest::TearDown();
    }
    simhost::Ribbon& Ribbon() { return client_.app->GetRibbon(); }
    // Record, Play, Stop as a window's group shows them once the host has asked again (upper case:
    // enabled), or "(no group)" where the window shows none.
    std::wstring Group(simhost::HostWindow* window) {
        Ribbon().Update();
        std::wstring s;
        for (auto [id, letter] : {std::pair{L"pvlRecord", L'r'}, {L"pvlPlay", L'p'}, {L"pvlStop", L's'}}) {
            auto b = Ribbon().Button(window, id);
            if (!b) return L"(no group)";
            s += b->enabled ? static_cast<wchar_t>(towupper(letter)) : letter;
        }
        return s;
    }
    HRESULT Press(simhost::HostWindow* window, const wchar_t* id) {
        Ribbon().Update();
        return Ribbon().Press(window, id);
    }
    ComPtr<simhost::MailItem> Reply(simhost::Explorer* explorer = nullptr) {
        return (explorer ? explorer : explorer_.Get())->Reply(received_.Get());
    }
    ComPtr<simhost::Explorer> explorer_;
    ComPtr<simhost::MailItem> received_;
};

TEST_F(ReplyPaneTest, AVoiceReplyWrittenInline) {
    ComPtr<simhost::MailItem> other;
    auto window = OpenMail(&other);
    EXPECT_EQ(Group(explorer_.Get()), L"(no group)") << "the Message tab shows only while a reply is inline";
    auto reply = Reply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(Group(explorer_.Get()), L"Rps");
    ASSERT_EQ(Press(explorer_.Get(), L"pvlRecord"), S_OK);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_EQ(Fields().RecordingMailItem, static_cast<IDispatch*>(reply.Get()));
    EXPECT_EQ(Group(explorer_.Get()), L"RpS") << "Record is a toggle, pressed while the reply records";
    EXPECT_TRUE(Ribbon().Button(explorer_.Get(), L"pvlRecord")->pressed);
    EXPECT_EQ(Group(window.Get()), L"rps") << "the mail window's group acts for its own mail";
    EXPECT_EQ(ButtonStates(window), L"rpS") << "every bar shows the recorder";
    ASSERT_EQ(Press(explorer_.Get(), L"pvlStop"), S_OK);
    EXPECT_EQ(Voices(reply), 1u);
    EXPECT_EQ(Voices(other), 0u);
    EXPECT_EQ(Group(explorer_.Get()), L"RPs");
    EXPECT_EQ(Group(window.Get()), L"Rps");
    ASSERT_EQ(Press(explorer_.Get(), L"pvlPlay"), S_OK);
    EXPECT_EQ(State(), pvl::pvlPlaying);
    PumpMessages(2000, [&] { return State() == pvl::pvlNone; });
    EXPECT_EQ(State(), pvl::pvlNone) << "the playback's end was not heard";
    // No bar in the main window: its command bars were never asked for.
    EXPECT_TRUE(Host::Get().LogMatching(explorer_->Name() + L".CommandBars").empty());
    EXPECT_EQ(explorer_->Sinks(), 1u);
}

// The main window's group follows the same rule as a mail window's: (action, then the groups of the
// main window and of a mail window, and the recorder's state).
TEST_F(ReplyPaneTest, TheMainWindowsGroupFollowsTheRule) {
    ComPtr<simhost::MailItem> mail;
    auto window = OpenMail(&mail);
    ComPtr<simhost::MailItem> reply;
    struct Row {
        const char* action;
        const wchar_t* mainWindow;
        const wchar_t* mailWindow;
    };
    const Row rows[] = {
        {"nothing", L"(no group)", L"Rps"},
        {"record in the mail window", L"(no group)", L"RpS"},
        {"reply while it records", L"rps", L"RpS"},
        {"stop in the mail window", L"Rps", L"RPs"},
        {"record the reply", L"RpS", L"rps"},
        {"stop the reply", L"RPs", L"Rps"},
        {"select another mail", L"(no group)", L"Rps"},
        {"reply again", L"Rps", L"Rps"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.action);
        const std::string a = r.action;
        if (a == "record in the mail window") ASSERT_EQ(Record(window)->Click(), S_OK);
        else if (a == "reply while it records" || a == "reply again") reply = Reply();
        else if (a == "stop in the mail window") ASSERT_EQ(Stop(window)->Click(), S_OK);
        else if (a == "record the reply") ASSERT_EQ(Press(explorer_.Get(), L"pvlRecord"), S_OK);
        else if (a == "stop the reply") ASSERT_EQ(Press(explorer_.Get(), L"pvlStop"), S_OK);
        else if (a == "select another mail") ASSERT_EQ(explorer_->SelectOther(), S_OK);
        EXPECT_EQ(Group(explorer_.Get()), r.mainWindow);
        EXPECT_EQ(Group(window.Get()), r.mailWindow);
    }
    // The product button is always on.
    EXPECT_TRUE(Ribbon().Button(explorer_.Get(), L"pvlAbout")->enabled);
}

// The inline reply closes while its recording runs: the voice goes to the reply once, or is kept and
// the user told.
TEST_F(ReplyPaneTest, TheReplyClosingDuringItsRecordingAttachesItOnce) {
    struct Case {
        const char* cause;
        HRESULT (*act)(simhost::Explorer&);
        bool attachFails;
        size_t voices;
        size_t boxes;
    };
    const Case cases[] = {
        {"send", [](simhost::Explorer& e) { return e.SendInline(); }, false, 1, 0},
        {"discard", [](simhost::Explorer& e) { return e.DiscardInline(); }, false, 1, 0},
        {"another mail selected", [](simhost::Explorer& e) { return e.SelectOther(); }, false, 1, 0},
        {"pop out", [](simhost::Explorer& e) { return e.PopOut() ? S_OK : E_FAIL; }, false, 1, 0},
        {"another mail selected, the host refusing the voice", [](simhost::Explorer& e) { return e.SelectOther(); }, true, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cause);
        auto reply = Reply();
        ASSERT_TRUE(reply);
        ASSERT_EQ(Press(explorer_.Get(), L"pvlRecord"), S_OK);
        ASSERT_EQ(State(), pvl::pvlRecording);
        if (c.attachFails) Host::Get().Fail(L"Attachments.Add", E_FAIL);
        MessageBoxAnswerer user;
        const bool popOut = std::string(c.cause) == "pop out";
        ComPtr<simhost::Inspector> popped;
        if (popOut) {
            popped = explorer_->PopOut();
            ASSERT_TRUE(popped);
        } else {
            EXPECT_EQ(c.act(*explorer_.Get()), S_OK);
        }
        Host::Get().ClearFaults();
        EXPECT_EQ(State(), pvl::pvlNone);
        EXPECT_EQ(Voices(reply), c.voices);
        PumpMessages(5000, [&] { return static_cast<size_t>(user.Answered()) >= c.boxes; });
        EXPECT_EQ(user.Texts().size(), c.boxes);
        if (c.boxes) EXPECT_TRUE(FileExists(RecordingPath())) << "the recording was not kept";
        EXPECT_EQ(reply->Sinks(), 0u) << "a sink is left on the reply";
        if (popOut) {
            // The new window works like any other, and the voice is there once.
            EXPECT_EQ(ButtonStates(popped), L"Rps");
            ASSERT_EQ(Record(popped)->Click(), S_OK);
            ASSERT_EQ(Stop(popped)->Click(), S_OK);
            EXPECT_EQ(Voices(reply), 1u);
            popped->CloseWindow();
        }
    }
}

TEST_F(ReplyPaneTest, SendingAReplyDuringItsRecordingSendsItsVoiceOrHoldsItBack) {
    auto reply = Reply();
    ASSERT_EQ(Press(explorer_.Get(), L"pvlRecord"), S_OK);
    Host::Get().Fail(L"Attachments.Add", E_FAIL);
    {
        MessageBoxAnswerer user;
        EXPECT_EQ(explorer_->SendInline(), S_FALSE) << "a reply without its voice was sent";
        PumpMessages(5000, [&] { return user.Answered() >= 1; });
        EXPECT_EQ(user.Texts().size(), 1u);
    }
    Host::Get().ClearFaults();
    EXPECT_FALSE(reply->Sent());
    EXPECT_EQ(explorer_->InlineResponse(), reply.Get()) << "the reply must stay with the user";
    ASSERT_EQ(Press(explorer_.Get(), L"pvlRecord"), S_OK);
    EXPECT_EQ(explorer_->SendInline(), S_OK);
    EXPECT_TRUE(reply->Sent());
    EXPECT_EQ(Voices(reply), 1u);
    EXPECT_EQ(reply->Sinks(), 0u);
}

TEST_F(ReplyPaneTest, ASecondMainWindowWorksForItsOwnReply) {
    auto second = client_.OpenExplorer();
    ASSERT_TRUE(second);
    EXPECT_EQ(Fields().ReadingPanes, 2u);
    auto first = Reply();
    auto own = Reply(second.Get());
    EXPECT_EQ(Group(second.Get()), L"Rps");
    ASSERT_EQ(Press(second.Get(), L"pvlRecord"), S_OK);
    EXPECT_EQ(Group(explorer_.Get()), L"rps");
    EXPECT_EQ(Group(second.Get()), L"RpS");
    ASSERT_EQ(Press(second.Get(), L"pvlStop"), S_OK);
    EXPECT_EQ(Voices(own), 1u);
    EXPECT_EQ(Voices(first), 0u);
    ASSERT_EQ(second->CloseWindow(), S_OK);
    EXPECT_EQ(Fields().ReadingPanes, 1u);
    EXPECT_EQ(second->Sinks(), 0u) << "a closed main window is still listened to";
}

TEST_F(ReplyPaneTest, ClosingTheMainWindowDuringARepliesRecordingAttachesItFirst) {
    auto second = client_.OpenExplorer();
    auto reply = Reply(second.Get());
    ASSERT_EQ(Press(second.Get(), L"pvlRecord"), S_OK);
    ASSERT_EQ(second->CloseWindow(), S_OK);
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_EQ(Voices(reply), 1u);
}

TEST_F(ReplyPaneTest, ReleasingTheAddInLetsGoOfEveryMainWindow) {
    auto second = client_.OpenExplorer();
    auto reply = Reply(second.Get());
    ASSERT_EQ(Press(second.Get(), L"pvlRecord"), S_OK);
    ASSERT_EQ(Press(second.Get(), L"pvlStop"), S_OK);
    Ribbon().Detach();
    ReleaseAddin();
    EXPECT_EQ(explorer_->Sinks() + second->Sinks() + client_.app->GetExplorers().Sinks(), 0u);
    EXPECT_EQ(reply->Sinks(), 0u);
}

}  // namespace
}  // namespace pvltest
