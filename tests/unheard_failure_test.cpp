// The failures nobody used to hear about: a recording that cannot start or hears nothing, an earlier
// recording another program holds, an encoder that fails half-way, the add-in released during a
// recording, a second recording that fails in a mail that has a voice, and sinks left on mails that
// are gone. Each scenario ends with what the user was told and what the mail holds.
#include "support.h"
#include "recorder/compression.h"
#include "recorder/recording_checks.h"
#include "recorder/user_messages.h"
#include <mmsystem.h>

namespace pvltest {
namespace {

using simhost::Host;

std::wstring Sibling(const wchar_t* name) { return TestFolder() + L"\\" + name; }

const std::vector<unsigned char> kEarlierVoice{'I', 'D', '3', 'e', 'a', 'r', 'l', 'i', 'e', 'r'};

class UnheardTest : public StandInEncoderTest {
protected:
    void SetUp() override {
        StandInEncoderTest::SetUp();
        window_ = OpenMail(&mail_);
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"PVL_FAKE_LAME", nullptr);
        if (FileExists(Sibling(L"libmp3lame.dll.away")))
            MoveFileW(Sibling(L"libmp3lame.dll.away").c_str(), Sibling(L"libmp3lame.dll").c_str());
        window_.Reset();
        mail_.Reset();
        StandInEncoderTest::TearDown();
    }
    // The mail already has a voice message from an earlier recording.
    void GiveTheMailAVoice() {
        const std::wstring earlier = Sibling(L"Parvaline.mp3");
        WriteFileBytes(earlier, kEarlierVoice);
        ASSERT_EQ(mail_->GetAttachments().AddFile(earlier), S_OK);
        DeleteFileW(earlier.c_str());
    }
    std::vector<std::vector<unsigned char>> VoiceData() {
        std::vector<std::vector<unsigned char>> out;
        for (auto& a : mail_->GetAttachments().All())
            if (a->DisplayName() == L"Parvaline.mp3") out.push_back(a->Data());
        return out;
    }
    // Clicks `button`, answering the boxes it shows; returns their texts.
    std::vector<std::wstring> Answering(simhost::CommandBarButton* button) {
        MessageBoxAnswerer user;
        EXPECT_EQ(button->Click(), S_OK);
        return user.Texts();
    }
    void PutLibraryAway() {
        ASSERT_TRUE(MoveFileW(Sibling(L"libmp3lame.dll").c_str(), Sibling(L"libmp3lame.dll.away").c_str()));
    }

    ComPtr<simhost::MailItem> mail_;
    ComPtr<simhost::Inspector> window_;
};

// --- A recording that cannot start, or hears nothing ---------------------------------------------------

TEST_F(UnheardTest, ADeviceThatCannotRecordIsSaidOnceAndLeavesTheMailAsItWas) {
    for (const wchar_t* verb : {L"open", L"record"}) {
        SCOPED_TRACE(std::string(verb, verb + wcslen(verb)));
        mci_.failVerb.clear();
        mci_.failVerb[verb] = MCIERR_DEVICE_NOT_READY;  // no microphone, a headset unplugged, a call holds it
        if (mail_->GetAttachments().All().empty()) GiveTheMailAVoice();
        EXPECT_EQ(Answering(Record(window_)), std::vector<std::wstring>{pvl::kCannotStartText});
        EXPECT_EQ(State(), pvl::pvlNone);
        EXPECT_EQ(ButtonStates(window_), L"Rps");
        EXPECT_FALSE(Device()->IsOpen()) << "the device was left open";
        // Stop now has nothing to attach, and says nothing.
        EXPECT_TRUE(Answering(Stop(window_)).empty());
        EXPECT_EQ(VoiceData(), std::vector<std::vector<unsigned char>>{kEarlierVoice});
    }
    // Once the device works again, so does Record.
    mci_.failVerb.clear();
    EXPECT_TRUE(Answering(Record(window_)).empty());
    EXPECT_EQ(State(), pvl::pvlRecording);
}

TEST_F(UnheardTest, ASilentRecordingIsAttachedAndTheUserIsToldWhatToCheck) {
    struct Case {
        double level;  // peak of 32768
        bool silent;
    };
    // -50 dBFS is a peak of 104: a muted microphone's hiss stays below it, a voice goes far above.
    for (const Case c : {Case{0, true}, Case{80, true}, Case{8000, false}}) {
        SCOPED_TRACE(c.level);
        mci_.saveLevel = c.level;
        ASSERT_TRUE(Answering(Record(window_)).empty());
        const auto told = Answering(Stop(window_));
        EXPECT_EQ(Voices(mail_), 1u) << "the recording is attached all the same";
        EXPECT_EQ(told, c.silent ? std::vector<std::wstring>{pvl::kSilentText} : std::vector<std::wstring>{});
    }
}

TEST(UnheardWaveTest, SilenceIsClaimedOnlyWhereItIsMeasured) {
    const std::wstring wave = TestFolder() + L"\\level.wav";
    WriteFileBytes(wave, ToneWave(0.5, 0));
    EXPECT_TRUE(pvl::IsSilentWave(wave));
    WriteFileBytes(wave, ToneWave(0.5, 110));  // just above -50 dBFS
    EXPECT_FALSE(pvl::IsSilentWave(wave));
    WriteFileBytes(wave, {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'});  // no sound in it at all
    EXPECT_FALSE(pvl::IsSilentWave(wave));
    DeleteFileW(wave.c_str());
    EXPECT_FALSE(pvl::IsSilentWave(wave));
}

// --- An earlier recording another program holds --------------------------------------------------------

TEST_F(UnheardTest, AnEarlierRecordingThatCannotBeRemovedIsNeverRecordedIntoOrSent) {
    WriteFileBytes(RecordingPath(), ToneWave(1.0, 3000));
    const auto earlier = ReadFileBytes(RecordingPath());
    // A media player has it open, without letting it be deleted; and the save would fail too, so
    // that the old code sent the old recording as this mail's voice.
    pvl::UniqueFile player(CreateFileW(RecordingPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(player);
    mci_.failVerb[L"save"] = 274;  // MCIERR_FILE_NOT_SAVED
    const auto told = Answering(Record(window_));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], pvl::RecordingHeldText(RecordingPath(), pvl::ProgramsUsing(RecordingPath())));
    EXPECT_NE(told[0].find(L"Close "), std::wstring::npos);
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_TRUE(mci_.commands.empty()) << "the device was opened on the earlier recording";
    EXPECT_TRUE(Answering(Stop(window_)).empty());
    EXPECT_EQ(Voices(mail_), 0u);
    EXPECT_EQ(ReadFileBytes(RecordingPath()), earlier);
    // The program lets go: Record works again.
    player.reset();
    mci_.failVerb.clear();
    EXPECT_TRUE(Answering(Record(window_)).empty());
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_FALSE(FileExists(RecordingPath())) << "the earlier recording is still there";
}

// --- The encoder's result --------------------------------------------------------------------------------

TEST_F(UnheardTest, AnEncoderThatFailsHalfWayIsReplacedByTheLibraryOrNothingIsAttached) {
    struct Case {
        const wchar_t* mode;
        bool library;
    };
    for (const Case c : {Case{L"half", true}, Case{L"half", false}, Case{L"nothing", true}, Case{L"crash", false}}) {
        SCOPED_TRACE(std::string(c.mode, c.mode + wcslen(c.mode)) + (c.library ? " with the library" : " alone"));
        SetEnvironmentVariableW(L"PVL_FAKE_LAME", c.mode);
        if (!c.library) PutLibraryAway();
        if (mail_->GetAttachments().All().empty()) GiveTheMailAVoice();
        const auto before = VoiceData();
        const ComPtr<simhost::Attachment> voiceBefore = mail_->GetAttachments().All().back();
        ASSERT_TRUE(Answering(Record(window_)).empty());
        const auto told = Answering(Stop(window_));
        const auto voices = VoiceData();
        ASSERT_EQ(voices.size(), 1u);
        if (c.library) {
            // LAME's library encoded the recording in the program's place: a real MP3, whole.
            EXPECT_TRUE(told.empty());
            EXPECT_NE(mail_->GetAttachments().All().back().Get(), voiceBefore.Get()) << "no new voice";
            EXPECT_EQ(voices[0], ReadFileBytes(Mp3Path()));
            EXPECT_GT(voices[0].size(), 100u);
        } else {
            EXPECT_EQ(told, std::vector<std::wstring>{pvl::NotAttachedMessage(RecordingPath())});
            EXPECT_EQ(voices, before) << "the mail lost the voice it had";
            EXPECT_EQ(mail_->GetAttachments().All().back().Get(), voiceBefore.Get());
            EXPECT_FALSE(FileExists(Mp3Path())) << "the half-written MP3 was left";
            MoveFileW(Sibling(L"libmp3lame.dll.away").c_str(), Sibling(L"libmp3lame.dll").c_str());
        }
    }
}

TEST(UnheardBoundTest, TheEncodersWaitTenSecondsPlusAQuarterOfTheSound) {
    const std::wstring wave = TestFolder() + L"\\bound.wav";
    WriteFileBytes(wave, ToneWave(60));
    const DWORD minute = pvl::EncoderTimeoutMs(wave);
    WriteFileBytes(wave, ToneWave(1800));
    const DWORD halfHour = pvl::EncoderTimeoutMs(wave);
    DeleteFileW(wave.c_str());
    EXPECT_NEAR(minute, 10000 + 15000, 100);
    EXPECT_NEAR(halfHour, 10000 + 450000, 100);  // not two hours with the mail program frozen
    EXPECT_EQ(pvl::EncoderTimeoutMs(wave), 10000u);
}

// --- A failed second recording in a mail that has a voice -----------------------------------------------

TEST_F(UnheardTest, AFailedSecondRecordingKeepsTheVoiceAndNamesOnlyARecordingThatExists) {
    ASSERT_TRUE(Answering(Record(window_)).empty());
    ASSERT_TRUE(Answering(Stop(window_)).empty());
    const auto first = VoiceData();
    ASSERT_EQ(first.size(), 1u);
    // The encoding fails: the recording is kept, and the box names it.
    PutLibraryAway();
    SetEnvironmentVariableW(L"PVL_FAKE_LAME", L"fail");
    ASSERT_TRUE(Answering(Record(window_)).empty());
    const auto told = Answering(Stop(window_));
    ASSERT_TRUE(FileExists(RecordingPath()));
    EXPECT_EQ(told, std::vector<std::wstring>{pvl::NotAttachedMessage(RecordingPath())});
    EXPECT_NE(told[0].find(RecordingPath()), std::wstring::npos);
    EXPECT_EQ(VoiceData(), first);
    // The save fails: there is no recording to name; the box says it was lost.
    mci_.failVerb[L"save"] = 274;
    mci_.saveWritesWave = false;
    ASSERT_TRUE(Answering(Record(window_)).empty());
    EXPECT_EQ(Answering(Stop(window_)), std::vector<std::wstring>{pvl::kLostText});
    EXPECT_EQ(VoiceData(), first);
}

// --- Released during a recording --------------------------------------------------------------------------

TEST_F(UnheardTest, ReleasedDuringARecordingTheVoiceGoesToItsMailFirst) {
    ASSERT_TRUE(Answering(Record(window_)).empty());
    ASSERT_EQ(addin_->OnDisconnection(ext_dm_UserClosed, nullptr), S_OK);
    EXPECT_EQ(State(), pvl::pvlRecording) << "disconnection stops nothing";
    ReleaseAddin();
    EXPECT_EQ(Voices(mail_), 1u);
    EXPECT_EQ(mail_->Sinks(), 0u);
    EXPECT_EQ(pvl::Connect::LiveObjects(), 0);
}

TEST_F(UnheardTest, ReleasedDuringARecordingThatCannotBeAttachedTheUserIsToldAndTheRecordingKept) {
    ASSERT_TRUE(Answering(Record(window_)).empty());
    Host::Get().Fail(L"Attachments.Add", E_FAIL);
    MessageBoxAnswerer user;
    ReleaseAddin();
    PumpMessages(5000, [&] { return user.Answered() >= 1; });
    EXPECT_EQ(user.Texts(), std::vector<std::wstring>{pvl::NotAttachedMessage(RecordingPath())});
    EXPECT_TRUE(FileExists(RecordingPath()));
    Host::Get().ClearFaults();
}

// --- The window closed during a recording ---------------------------------------------------------------

TEST_F(UnheardTest, ClosingTheWindowAttachesTheVoiceBeforeTheMailIsSaved) {
    // The host raises the mail's Close, saves the mail (the user's "save changes?" answered Yes),
    // then the window's Close: a voice attached only at the window's Close would miss the draft.
    ASSERT_TRUE(Answering(Record(window_)).empty());
    ASSERT_EQ(window_->CloseWindow(), S_OK);
    EXPECT_EQ(State(), pvl::pvlNone);
    ASSERT_TRUE(mail_->Saved());
    ASSERT_EQ(mail_->SavedAttachments().size(), 1u) << "the saved draft lacks the voice";
    EXPECT_EQ(mail_->SavedAttachments()[0].name, L"Parvaline.mp3");
    EXPECT_EQ(Voices(mail_), 1u) << "attached twice";
    EXPECT_EQ(mail_->Sinks(), 0u);
}

// --- Nothing held after it is gone -------------------------------------------------------------------------

TEST_F(UnheardTest, ASentOrClosedRecordingMailKeepsNoSinkAndIsLetGo) {
    ASSERT_TRUE(Answering(Record(window_)).empty());
    EXPECT_EQ(mail_->Sinks(), 1u);
    ASSERT_EQ(window_->SendMail(), S_OK);
    EXPECT_TRUE(mail_->Sent());
    EXPECT_EQ(Voices(mail_), 1u);
    EXPECT_EQ(mail_->Sinks(), 0u) << "a sink stays advised on a sent mail";
    EXPECT_EQ(Fields().RecordingMailItem, nullptr) << "the sent mail is still held";
    // Another mail, whose window is closed while it records.
    ComPtr<simhost::MailItem> other;
    auto second = OpenMail(&other);
    ASSERT_TRUE(Answering(Record(second)).empty());
    ASSERT_EQ(second->CloseWindow(), S_OK);
    EXPECT_EQ(Voices(other), 1u);
    EXPECT_EQ(other->Sinks(), 0u);
    EXPECT_EQ(Fields().RecordingMailItem, nullptr) << "the closed mail is still held";
}

}  // namespace
}  // namespace pvltest
