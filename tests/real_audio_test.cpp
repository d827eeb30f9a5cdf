// Record and play through winmm's real MCI wave-audio device. Under Wine the capture device reads
// the spoken test sentence (PVL_CAPTURE_FILE); the recording must hold that sentence.
#include "support.h"
#include "audio.h"

namespace pvltest {
namespace {

class RealAudioTest : public AddinTest {
protected:
    bool UseRealDevice() const override { return true; }
    std::vector<int16_t> Speech() const {
        const std::string capture = Env("PVL_CAPTURE_FILE");
        return RawSamples32(ReadFileBytes(WindowsPathOf(capture)));
    }
};

TEST_F(RealAudioTest, RecordThenStopLeavesTheSpokenSentenceInTheRecordingFile) {
    const auto speech = Speech();
    ASSERT_GT(speech.size(), 16000u) << "no test sentence at PVL_CAPTURE_FILE";
    auto inspector = OpenMail();
    ASSERT_EQ(Record(inspector)->Click(), S_OK);
    EXPECT_EQ(State(), pvl::pvlRecording);
    EXPECT_TRUE(Device()->IsOpen());
    PumpMessages(1500);  // the capture is not paced under Wine: this records several seconds
    ASSERT_EQ(Stop(inspector)->Click(), S_OK);
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_FALSE(Device()->IsOpen());

    const Wave wave = ParseWave(ReadFileBytes(RecordingPath()));
    ASSERT_TRUE(wave.valid) << "no wave file at the recording path";
    EXPECT_EQ(wave.formatTag, 1u);
    EXPECT_EQ(wave.channels, 1u);
    EXPECT_EQ(wave.sampleRate, 16000u);
    EXPECT_EQ(wave.bitsPerSample, 16u);
    EXPECT_GT(wave.Seconds(), 1.0);
    // The sound, not only its length (the capture here is not paced, and Wine drops blocks when
    // it overruns): nearly every stretch of the recording is the fed sentence, in order.
    EXPECT_GT(MatchedShare(wave.samples, speech), 0.8);
    // ...and the check tells sounds apart: the sentence played backwards is not found in it.
    EXPECT_LT(MatchedShare(wave.samples, std::vector<int16_t>(speech.rbegin(), speech.rend())), 0.2);
    EXPECT_GT(Rms(wave.samples), 300.0);
}

TEST_F(RealAudioTest, PlayOpensAndPlaysTheRecordingAndItsEndRunsStop) {
    auto inspector = OpenMail();
    Record(inspector)->Click();
    PumpMessages(600);
    Stop(inspector)->Click();
    ASSERT_TRUE(FileExists(RecordingPath()));
    deviceOps_.clear();

    ASSERT_EQ(Play(inspector)->Click(), S_OK);
    EXPECT_EQ(State(), pvl::pvlPlaying);
    EXPECT_EQ(ButtonStates(inspector), L"rpS");
    EXPECT_EQ(deviceOps_, (std::vector<std::wstring>{L"FileName=" + RecordingPath(), L"Command=open", L"TimeFormat=1",
                                                     L"Command=play"}));
    // The device reports the end of playback; Done runs Stop, which resets the buttons.
    PumpMessages(30000, [&] { return State() == pvl::pvlNone; });
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_EQ(ButtonStates(inspector), L"RPs");
    EXPECT_FALSE(Device()->IsOpen());
}

TEST_F(RealAudioTest, PlayWithoutARecordingStopsAtTheDevicesError) {
    auto inspector = OpenMail();
    // A handle on the previous test's recording can outlive its playback (seen now and then under
    // Wine, still held after 30 s): the file then cannot be deleted and this test would play it.
    // A short wait covers a device that lets go late; a handle kept for good fails here, named.
    DWORD error = ERROR_SUCCESS;
    PumpMessages(5000, [&] {
        if (DeleteFileW(RecordingPath().c_str())) return true;
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND;
    });
    ASSERT_FALSE(FileExists(RecordingPath())) << "the recording could not be removed within 5 s (error " << error << ")";
    const HRESULT hr = Play(inspector)->Click();
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_EQ(ButtonStates(inspector), L"Rps");
}

}  // namespace
}  // namespace pvltest

namespace pvltest {
namespace {

// Wine unloads the wave driver when its last device closes, while the driver's own thread may still
// be finishing; the device layer pins it for the life of the process. Pinned, no FreeLibrary can
// take it away.
TEST_F(RealAudioTest, TheWaveDriverStaysLoadedWhateverFreesIt) {
    auto inspector = OpenMail();
    ASSERT_EQ(Record(inspector)->Click(), S_OK);
    ASSERT_EQ(Stop(inspector)->Click(), S_OK);
    HMODULE driver = GetModuleHandleW(L"mciwave.dll");
    ASSERT_NE(driver, nullptr) << "the wave driver is not loaded after a recording";
    for (int i = 0; i < 20; ++i) FreeLibrary(driver);
    EXPECT_EQ(GetModuleHandleW(L"mciwave.dll"), driver) << "the wave driver was not pinned";
}

}  // namespace
}  // namespace pvltest
