// The recorder's transitions through the simulated client and a scripted audio device: for each
// state and event, the device operations in order, the buttons and the next state.
#include "support.h"
#include <mmsystem.h>

namespace pvltest {
namespace {

class RecorderTest : public MailWindowTest {
protected:
    void Forget() {
        deviceOps_.clear();
        mci_.commands.clear();
    }
    // Puts the recorder in `state` through the buttons, then forgets what the device was told.
    void Enter(pvl::pvlStates state) {
        WriteFileBytes(RecordingPath(), {'R', 'I', 'F', 'F'});
        if (state == pvl::pvlRecording) Record(inspector_)->Click();
        if (state == pvl::pvlPlaying) Play(inspector_)->Click();
        ASSERT_EQ(State(), state);
        Forget();
    }
    HRESULT PlayCompleted() {
        MessageBoxAnswerer user;
        const HRESULT hr = Device()->RaisePlayCompleted(0);
        answered_ = user.Texts();
        return hr;
    }
    const std::wstring fileName_ = L"FileName=" + RecordingPath();
    const std::vector<std::wstring> recordOps_{fileName_, L"Command=open", L"TimeFormat=1", L"Command=record"};
    const std::vector<std::wstring> playOps_{fileName_, L"Command=open", L"TimeFormat=1", L"Command=play"};
    std::vector<std::wstring> answered_;
};

// --- Record ------------------------------------------------------------------------------------------

TEST_F(RecorderTest, RecordFromIdleDeletesTheOldFileOpensANewRecordingAndRecords) {
    Enter(pvl::pvlNone);
    ASSERT_TRUE(FileExists(RecordingPath()));
    EXPECT_EQ(Record(inspector_)->Click(), S_OK);
    EXPECT_FALSE(FileExists(RecordingPath()));
    EXPECT_EQ(deviceOps_, recordOps_);
    // The file did not exist at "open": a new recording, in the speech format, set in one command.
    ASSERT_EQ(mci_.Verbs(), (std::vector<std::wstring>{L"open", L"set", L"record"}));
    EXPECT_NE(mci_.commands[0].find(L"open new type WAVEAudio"), std::wstring::npos);
    EXPECT_NE(mci_.commands[1].find(L"channels 1 samplespersec 16000 bitspersample 16 bytespersec 32000 alignment 2"),
              std::wstring::npos);
    EXPECT_EQ(ButtonStates(inspector_), L"rpS");
    EXPECT_EQ(State(), pvl::pvlRecording);
}

TEST_F(RecorderTest, RecordWhilePlayingOrRecordingStartsOverWithoutStopOrClose) {
    for (auto state : {pvl::pvlPlaying, pvl::pvlRecording}) {
        Enter(state);
        // A newer window's bar would show Record enabled; click it there.
        Record(inspector_)->Click();
        EXPECT_EQ(deviceOps_, recordOps_) << state;
        EXPECT_EQ(State(), pvl::pvlRecording);
        EXPECT_EQ(ButtonStates(inspector_), L"rpS");
    }
}

TEST_F(RecorderTest, ARecordThatTheDeviceRefusesClosesItAndEndsIdle) {
    for (const wchar_t* verb : {L"open", L"record"}) {
        Enter(pvl::pvlNone);
        mci_.failVerb = {{verb, MCIERR_DEVICE_NOT_READY}};
        MessageBoxAnswerer user;
        EXPECT_EQ(Record(inspector_)->Click(), S_OK);
        const bool opened = std::wstring(verb) == L"record";
        const std::vector<std::wstring> expected =
            opened ? std::vector<std::wstring>{fileName_, L"Command=open", L"TimeFormat=1", L"Command=record", L"Command=close"}
                   : std::vector<std::wstring>{fileName_, L"Command=open", L"Command=close"};
        EXPECT_EQ(deviceOps_, expected);
        EXPECT_EQ(ButtonStates(inspector_), L"Rps");
        EXPECT_EQ(State(), pvl::pvlNone);
        mci_.failVerb.clear();
    }
}

TEST_F(RecorderTest, RecordGoesOnWhenAButtonCannotBeSet) {
    Enter(pvl::pvlNone);
    simhost::Host::Get().Fail(L"CommandBarButton.Enabled", E_FAIL, 1);  // Record's own Enabled
    EXPECT_EQ(Record(inspector_)->Click(), S_OK);
    EXPECT_EQ(ButtonStates(inspector_), L"RpS");
    EXPECT_EQ(State(), pvl::pvlRecording);
}

// --- Play --------------------------------------------------------------------------------------------

TEST_F(RecorderTest, PlayFromIdleOpensTheRecordingAndPlaysIt) {
    Enter(pvl::pvlNone);
    EXPECT_EQ(Play(inspector_)->Click(), S_OK);
    EXPECT_EQ(deviceOps_, playOps_);
    EXPECT_EQ(mci_.Verbs(), (std::vector<std::wstring>{L"open", L"play"}));
    EXPECT_NE(mci_.commands[0].find(L"open \"" + RecordingPath() + L"\""), std::wstring::npos);
    EXPECT_NE(mci_.commands[1].find(L"notify"), std::wstring::npos);  // play reports its end
    EXPECT_EQ(ButtonStates(inspector_), L"rpS");
    EXPECT_EQ(State(), pvl::pvlPlaying);
}

TEST_F(RecorderTest, PlayWhilePlayingStartsOverWithoutStopOrClose) {
    Enter(pvl::pvlPlaying);
    EXPECT_EQ(Play(inspector_)->Click(), S_OK);
    EXPECT_EQ(deviceOps_, playOps_);
    EXPECT_EQ(mci_.Verbs(), (std::vector<std::wstring>{L"close", L"open", L"play"}));  // the device reopens
    EXPECT_EQ(State(), pvl::pvlPlaying);
}

TEST_F(RecorderTest, PlayWhileRecordingFindsNoFileAndLeavesTheRecordingAlone) {
    // Record deleted the last recording and the new one is not saved yet: there is nothing to play.
    Enter(pvl::pvlRecording);
    EXPECT_EQ(Play(inspector_)->Click(), pvl::HResultFromMci(MCIERR_FILE_NOT_FOUND));
    EXPECT_EQ(deviceOps_, playOps_);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_EQ(ButtonStates(inspector_), L"rpS");
}

TEST_F(RecorderTest, PlayStopsAtTheFirstFailureAndReturnsIt) {
    Enter(pvl::pvlNone);
    mci_.failVerb[L"open"] = MCIERR_FILE_NOT_FOUND;
    const HRESULT hr = Play(inspector_)->Click();
    EXPECT_EQ(hr, pvl::HResultFromMci(MCIERR_FILE_NOT_FOUND));
    // FileName and open happened; nothing after them did.
    EXPECT_EQ(deviceOps_, (std::vector<std::wstring>{fileName_, L"Command=open"}));
    EXPECT_EQ(ButtonStates(inspector_), L"Rps");
    EXPECT_EQ(State(), pvl::pvlNone);
}

TEST_F(RecorderTest, PlayWithoutARecordingFileStopsAtTheDevicesError) {
    Enter(pvl::pvlNone);
    DeleteFileW(RecordingPath().c_str());
    EXPECT_EQ(Play(inspector_)->Click(), pvl::HResultFromMci(MCIERR_FILE_NOT_FOUND));
    // "open" made a new, empty recording; there was nothing to play, and nothing was sent to play it.
    EXPECT_EQ(deviceOps_, playOps_);
    EXPECT_EQ(mci_.Verbs(), (std::vector<std::wstring>{L"open", L"set"}));
    EXPECT_EQ(ButtonStates(inspector_), L"Rps");
    EXPECT_EQ(State(), pvl::pvlNone);
}

TEST_F(RecorderTest, PlayStopsWhenAButtonCannotBeSetAndKeepsItsState) {
    Enter(pvl::pvlNone);
    simhost::Host::Get().Fail(L"CommandBarButton.Enabled", E_ACCESSDENIED, 1);
    EXPECT_EQ(Play(inspector_)->Click(), E_ACCESSDENIED);
    EXPECT_EQ(deviceOps_, playOps_);
    EXPECT_EQ(ButtonStates(inspector_), L"Rps");  // the first Enabled failed; the others never ran
    EXPECT_EQ(State(), pvl::pvlNone);
}

// --- Stop and Done -----------------------------------------------------------------------------------

TEST_F(RecorderTest, StopWhenIdleOnlyClosesAndResetsTheButtons) {
    Enter(pvl::pvlNone);
    EXPECT_EQ(Stop(inspector_)->Click(), S_OK);
    EXPECT_EQ(deviceOps_, (std::vector<std::wstring>{L"Command=close"}));
    EXPECT_EQ(ButtonStates(inspector_), L"RPs");  // Play enabled, recording file or not
    EXPECT_EQ(State(), pvl::pvlNone);
}

TEST_F(RecorderTest, StopWhilePlayingStopsAndCloses) {
    Enter(pvl::pvlPlaying);
    EXPECT_EQ(Stop(inspector_)->Click(), S_OK);
    EXPECT_EQ(deviceOps_, (std::vector<std::wstring>{L"Command=stop", L"Command=close"}));
    EXPECT_EQ(ButtonStates(inspector_), L"RPs");
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_FALSE(Device()->IsOpen());
}

TEST_F(RecorderTest, StopWhileRecordingStopsSavesAndCloses) {
    Enter(pvl::pvlRecording);
    EXPECT_EQ(Stop(inspector_)->Click(), S_OK);
    EXPECT_EQ(deviceOps_, (std::vector<std::wstring>{L"Command=stop", fileName_, L"Command=save", L"Command=close"}));
    EXPECT_EQ(mci_.Verbs(), (std::vector<std::wstring>{L"stop", L"save", L"close"}));
    EXPECT_EQ(ButtonStates(inspector_), L"RPs");
    EXPECT_EQ(State(), pvl::pvlNone);
}

TEST_F(RecorderTest, StopSkipsEveryFailureAndAlwaysEndsIdle) {
    Enter(pvl::pvlPlaying);
    for (const wchar_t* verb : {L"stop", L"save", L"close"}) mci_.failVerb[verb] = MCIERR_HARDWARE;
    simhost::Host::Get().Fail(L"CommandBarButton.Enabled", E_FAIL, 1);
    EXPECT_EQ(Stop(inspector_)->Click(), S_OK);
    EXPECT_EQ(deviceOps_, (std::vector<std::wstring>{L"Command=stop", L"Command=close"}));
    EXPECT_EQ(ButtonStates(inspector_), L"rPs");  // Record's Enabled failed; Play and Stop were set
    EXPECT_EQ(State(), pvl::pvlNone);
}

TEST_F(RecorderTest, TheEndOfPlaybackRunsStopThroughDone) {
    mci_.completePlay = true;
    Enter(pvl::pvlNone);
    Play(inspector_)->Click();
    PumpMessages(2000, [&] { return State() == pvl::pvlNone; });
    EXPECT_EQ(deviceOps_, (std::vector<std::wstring>{fileName_, L"Command=open", L"TimeFormat=1", L"Command=play",
                                                     L"Command=stop", L"Command=close"}));
    EXPECT_EQ(ButtonStates(inspector_), L"RPs");
    EXPECT_EQ(State(), pvl::pvlNone);
}

TEST_F(RecorderTest, ANoticeFromAClosedDeviceRaisesNothing) {
    mci_.completePlay = true;  // the notice is posted at "play" and waits in the queue
    Enter(pvl::pvlNone);
    Play(inspector_)->Click();
    Stop(inspector_)->Click();  // stop and close before the notice is read
    Forget();
    PumpMessages(300);
    EXPECT_TRUE(deviceOps_.empty());
}

// --- PlayCompleted -------------------------------------------------------------------------------------

TEST_F(RecorderTest, PlayCompletedEnablesRecordAndPlayShowsEndAndKeepsStateAndDevice) {
    for (auto state : {pvl::pvlNone, pvl::pvlPlaying, pvl::pvlRecording}) {
        Enter(state);
        const bool wasOpen = Device()->IsOpen();
        EXPECT_EQ(PlayCompleted(), S_OK);
        EXPECT_EQ(answered_, (std::vector<std::wstring>{L"end"})) << state;
        EXPECT_TRUE(deviceOps_.empty());
        EXPECT_EQ(ButtonStates(inspector_), L"RPs");
        EXPECT_EQ(State(), state);
        EXPECT_EQ(Device()->IsOpen(), wasOpen);
    }
}

TEST_F(RecorderTest, AStopAfterPlayCompletedStillStopsAndClosesThePlayback) {
    Enter(pvl::pvlPlaying);
    PlayCompleted();
    Forget();
    Stop(inspector_)->Click();
    EXPECT_EQ(deviceOps_, (std::vector<std::wstring>{L"Command=stop", L"Command=close"}));
}

TEST_F(RecorderTest, PlayCompletedStopsAtAButtonItCannotSetAndShowsNothing) {
    Enter(pvl::pvlPlaying);
    simhost::Host::Get().Fail(L"CommandBarButton.Enabled", E_FAIL, 1);
    EXPECT_EQ(PlayCompleted(), E_FAIL);
    EXPECT_TRUE(answered_.empty());
    EXPECT_EQ(ButtonStates(inspector_), L"rpS");
}

// --- The state is shared by every mail window ---------------------------------------------------------

TEST_F(RecorderTest, ASecondMailWindowDuringARecordingShowsTheRecordingAndItsStopEndsIt) {
    Enter(pvl::pvlRecording);
    auto second = OpenMail();
    EXPECT_EQ(ButtonStates(second), L"rpS");  // Record would throw the recording away
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_TRUE(mci_.commands.empty());
    // Either window's Stop ends it; both bars show it ended.
    Stop(second)->Click();
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_EQ(deviceOps_, (std::vector<std::wstring>{L"Command=stop", fileName_, L"Command=save", L"Command=close"}));
    EXPECT_EQ(ButtonStates(second), L"RPs");
    EXPECT_EQ(ButtonStates(inspector_), L"RPs");
}

TEST_F(RecorderTest, ASecondMailWindowDuringAPlaybackShowsItToo) {
    Enter(pvl::pvlPlaying);
    auto second = OpenMail();
    EXPECT_EQ(ButtonStates(second), L"rpS");
    Stop(second)->Click();
    EXPECT_EQ(deviceOps_, (std::vector<std::wstring>{L"Command=stop", L"Command=close"}));
}

}  // namespace
}  // namespace pvltest
