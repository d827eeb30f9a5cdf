// Every place where a mail is written acts for its own mail: each mail window's bar, and the reply
// written inline in the main window's reading pane. Scenarios as tables: each row a user's action
// and what every window shows afterwards.
#include "support.h"

namespace pvltest {
namespace {

using simhost::Host;

// One row: an action in window `window` ("record", "play", "stop" on its bar, "close" the window,
// "open" a new one), then the bars of all windows as Record/Play/Stop letters (upper case: enabled;
// "---" for a closed window), the recorder's state and each mail's number of voice attachments.
struct BarStep {
    const char* action;
    int window;
    const wchar_t* bars;
    pvl::pvlStates state;
    const char* voices;
};

class PlacesTest : public StandInEncoderTest {
protected:
    void TearDown() override {
        windows_.clear();
        mails_.clear();
        StandInEncoderTest::TearDown();
    }
    void Open() {
        ComPtr<simhost::MailItem> mail;
        windows_.push_back(OpenMail(&mail));
        mails_.push_back(mail);
    }
    std::wstring Bars() {
        std::wstring out;
        for (auto& w : windows_) {
            if (!out.empty()) out += L' ';
            out += w->IsClosed() ? L"---" : ButtonStates(w);
        }
        return out;
    }
    std::string VoiceCounts() {
        std::string out;
        for (auto& m : mails_) out += char('0' + Voices(m));
        return out;
    }
    void Run(std::initializer_list<BarStep> steps) {
        int row = 0;
        for (const BarStep& s : steps) {
            SCOPED_TRACE(testing::Message() << "row " << row++ << ": " << s.action << " in window " << s.window);
            const std::string a = s.action;
            if (a == "open") Open();
            else if (a == "close") ASSERT_EQ(windows_.at(s.window)->CloseWindow(), S_OK);
            else if (a == "record") ASSERT_EQ(Record(windows_.at(s.window))->Click(), S_OK);
            else if (a == "play") ASSERT_EQ(Play(windows_.at(s.window))->Click(), S_OK);
            else if (a == "stop") ASSERT_EQ(Stop(windows_.at(s.window))->Click(), S_OK);
            EXPECT_EQ(Bars(), s.bars);
            EXPECT_EQ(State(), s.state);
            EXPECT_EQ(VoiceCounts(), s.voices);
        }
    }
    std::vector<ComPtr<simhost::Inspector>> windows_;
    std::vector<ComPtr<simhost::MailItem>> mails_;
};

TEST_F(PlacesTest, TwoWindowsEachBarRecordsForItsOwnMailAndStopsAnyRecording) {
    Run({
        {"open", 0, L"Rps", pvl::pvlNone, "0"},
        {"open", 1, L"Rps Rps", pvl::pvlNone, "00"},
        // The older window's Record records for its own mail; every bar shows it.
        {"record", 0, L"rpS rpS", pvl::pvlRecording, "00"},
        // Stop in the other bar ends it, and the voice goes to the recording's mail.
        {"stop", 1, L"RPs RPs", pvl::pvlNone, "10"},
        {"record", 1, L"rpS rpS", pvl::pvlRecording, "10"},
        {"stop", 0, L"RPs RPs", pvl::pvlNone, "11"},
        // Play plays the last recording, from any bar; Stop ends it from any bar too.
        {"play", 0, L"rpS rpS", pvl::pvlPlaying, "11"},
        {"stop", 1, L"RPs RPs", pvl::pvlNone, "11"},
    });
}

TEST_F(PlacesTest, ThreeWindowsClosingOneLeavesTheOthersWorking) {
    Run({
        {"open", 0, L"Rps", pvl::pvlNone, "0"},
        {"open", 1, L"Rps Rps", pvl::pvlNone, "00"},
        {"open", 2, L"Rps Rps Rps", pvl::pvlNone, "000"},
        {"record", 1, L"rpS rpS rpS", pvl::pvlRecording, "000"},
        // An older window that is not the recording's closes: the recording goes on.
        {"close", 0, L"--- rpS rpS", pvl::pvlRecording, "000"},
        {"stop", 2, L"--- RPs RPs", pvl::pvlNone, "010"},
        // Again in the middle window, whose close now stops and attaches its own recording.
        {"record", 1, L"--- rpS rpS", pvl::pvlRecording, "010"},
        {"close", 1, L"--- --- RPs", pvl::pvlNone, "010"},
        // The newest window's close stops as if its Stop were pressed.
        {"record", 2, L"--- --- rpS", pvl::pvlRecording, "010"},
        {"close", 2, L"--- --- ---", pvl::pvlNone, "011"},
    });
    EXPECT_EQ(Fields().MailWindows, 0u) << "a closed window's bar is let go";
}

TEST_F(PlacesTest, AWindowOpenedDuringARecordingShowsItAndCanEndIt) {
    Run({
        {"open", 0, L"Rps", pvl::pvlNone, "0"},
        {"record", 0, L"rpS", pvl::pvlRecording, "0"},
        {"open", 1, L"rpS rpS", pvl::pvlRecording, "00"},
        // Pressed though disabled (a script, or a host that lets it through): nothing reopens the
        // device under the running recording.
        {"record", 1, L"rpS rpS", pvl::pvlRecording, "00"},
        {"play", 1, L"rpS rpS", pvl::pvlRecording, "00"},
        {"stop", 1, L"RPs RPs", pvl::pvlNone, "10"},
    });
}

TEST_F(PlacesTest, APressActsForItsOwnWindowWhateverTheHostRaisesOnTheOthers) {
    Open();
    Open();
    Open();
    // The host raises Click on all three windows' Record buttons (one Tag), the middle one as Ctrl.
    Host::Get().ClearLog();
    ASSERT_EQ(Record(windows_[1])->Click(), S_OK);
    EXPECT_EQ(Fields().RecordingMailItem, static_cast<IDispatch*>(mails_[1].Get()));
    EXPECT_EQ(mci_.Verbs(), (std::vector<std::wstring>{L"open", L"set", L"record"})) << "recorded more than once";
}

TEST_F(PlacesTest, EveryBarShowsTheCompressionAndTheNewestKeepsTheFields) {
    Open();
    Open();
    ASSERT_EQ(Record(windows_[0])->Click(), S_OK);
    Host::Get().ClearLog();
    ASSERT_EQ(Stop(windows_[0])->Click(), S_OK);
    for (auto& w : windows_) {
        const auto captions = Host::Get().LogMatching(Buttons(w)[0]->Name() + L".Caption put");
        EXPECT_EQ(captions, (std::vector<std::wstring>{Buttons(w)[0]->Name() + L".Caption put \"Compressing, wait...\"",
                                                       Buttons(w)[0]->Name() + L".Caption put \"\""}));
    }
    const auto f = Fields();
    EXPECT_EQ(f.CurrentMailInspector, static_cast<IDispatch*>(windows_[1].Get()));
    EXPECT_EQ(f.ButtonRecord, static_cast<IDispatch*>(Record(windows_[1])));
    EXPECT_EQ(f.MailWindows, 2u);
}

// --- The earlier voice attachments -----------------------------------------------------------------

TEST_F(PlacesTest, AMailWithTwoVoiceAttachmentsKeepsExactlyOneAfterStop) {
    Open();
    // Two voices already (added by hand, or by another program), beside the user's own file.
    auto& attachments = mails_[0]->GetAttachments();
    const std::wstring earlier = TestFolder() + L"\\Parvaline.mp3";
    WriteFileBytes(earlier, {'I', 'D', '3', 'o', 'l', 'd'});
    ASSERT_EQ(attachments.AddFile(earlier), S_OK);
    ASSERT_EQ(attachments.AddFile(TestFolder() + L"\\fake_lame.exe"), S_OK);
    ASSERT_EQ(attachments.AddFile(earlier), S_OK);
    DeleteFileW(earlier.c_str());
    ASSERT_EQ(Record(windows_[0])->Click(), S_OK);
    ASSERT_EQ(Stop(windows_[0])->Click(), S_OK);
    EXPECT_EQ(Voices(mails_[0]), 1u);
    ASSERT_EQ(attachments.All().size(), 2u);
    EXPECT_EQ(attachments.All()[0]->DisplayName(), L"fake_lame.exe") << "the user's own file must stay";
    EXPECT_EQ(attachments.All()[1]->Data(), ReadFileBytes(Mp3Path())) << "the voice left is not the new one";
}

// --- The recording mail's own events -----------------------------------------------------------------

TEST_F(PlacesTest, ARecordingMailWhoseEventsCannotBeReachedLeavesNoOlderMailListening) {
    Open();
    Open();
    ASSERT_EQ(Record(windows_[0])->Click(), S_OK);
    ASSERT_EQ(Stop(windows_[0])->Click(), S_OK);
    // The second mail's events cannot be connected to.
    Host::Get().Fail(L"MailItem.FindConnectionPoint", E_FAIL);
    ASSERT_EQ(Record(windows_[1])->Click(), S_OK);
    Host::Get().ClearFaults();
    EXPECT_EQ(mails_[0]->Sinks(), 0u) << "the first mail is still listened to";
    // The first mail is sent: the second mail's recording is not its business.
    mci_.commands.clear();
    EXPECT_EQ(windows_[0]->SendMail(), S_OK);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_TRUE(mci_.commands.empty());
    EXPECT_EQ(Stop(windows_[1])->Click(), S_OK);
    EXPECT_EQ(Voices(mails_[1]), 1u);
}

TEST_F(PlacesTest, OnlyTheRecordingsMailIsListenedToAndOnlyWhileItRecords) {
    Open();
    Open();
    EXPECT_EQ(mails_[0]->Sinks() + mails_[1]->Sinks(), 0u);
    ASSERT_EQ(Record(windows_[1])->Click(), S_OK);
    EXPECT_EQ(mails_[0]->Sinks(), 0u);
    EXPECT_EQ(mails_[1]->Sinks(), 1u);
    ASSERT_EQ(Stop(windows_[0])->Click(), S_OK);
    EXPECT_EQ(mails_[1]->Sinks(), 0u) << "a sink stays on a mail whose recording ended";
}


}  // namespace
}  // namespace pvltest
