// Shared test support: the add-in connected to a simulated client, a scripted audio device, and
// helpers that act as the user would (pumping messages, answering message boxes).
#pragma once
#include <gtest/gtest.h>
#include "addin/connect.h"
#include "common/module.h"
#include "audio/mci_backend.h"
#include "audio/mci_control.h"
#include "recorder/recording_files.h"
#include "simhost/simhost.h"
#include "simhost/box_answerer.h"
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace pvltest {

using pvl::ComPtr;

// A scripted MCI device: records each command string, can fail any verb, and completes playback
// on request by posting the notification the real driver would.
struct FakeMci {
    std::vector<std::wstring> commands;
    std::map<std::wstring, DWORD> failVerb;  // "open" -> MCIERR_...
    bool completePlay = false;
    bool saveWritesWave = true;  // "save" writes one second of tone to the file it names
    double saveLevel = 8000;     // the tone's peak (of 32768): 0 for a muted microphone's silence
    std::set<std::wstring> open;
    std::vector<std::wstring> Verbs() const;
};
std::unique_ptr<pvl::MciBackend> MakeFakeBackend(FakeMci* state);

std::wstring Utf16(const std::string& s);
// A Unix path as Wine shows it to Windows programs.
std::wstring WindowsPathOf(const std::string& unixPath);
std::string Env(const char* name);
// The folder of the test program: the component folder of the add-in code linked into it.
std::wstring TestFolder();
// The recording's files as the add-in resolves them. The test program's folder is not inside the
// user's profile, so the recordings are the per-user ones under %LOCALAPPDATA%\Parvaline.
pvl::RecordingFiles Files();
std::wstring RecordingPath();
std::wstring Mp3Path();
bool FileExists(const std::wstring& path);
// One second of a 440 Hz tone as a 16 kHz mono 16-bit wave file, of peak `level` (of 32768).
std::vector<unsigned char> ToneWave(double seconds = 1.0, double level = 8000);
std::vector<unsigned char> ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::vector<unsigned char>& data);
// Runs the thread's message loop for `ms` milliseconds, or until `until` says so.
void PumpMessages(DWORD ms, const std::function<bool()>& until = {});

// Answers the add-in's message boxes as a user would: finds each one and presses OK.
using simhost::MessageBoxAnswerer;

// The add-in created through its class factory and connected to a fresh simulated client.
class AddinTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Tests that need the real wave-audio device say so before SetUp connects.
    virtual bool UseRealDevice() const { return false; }

    void Connect();
    void ReleaseAddin();
    pvl::Connect::Fields Fields() const { return connect_->View(); }
    pvl::pvlStates State() const { return Fields().RecorderState; }
    ComPtr<simhost::Inspector> OpenMail(ComPtr<simhost::MailItem>* mail = nullptr);
    // The buttons of the "Parvaline" bar of a window, in bar order (product, Record, Play, Stop).
    std::vector<simhost::CommandBarButton*> Buttons(const ComPtr<simhost::Inspector>& inspector);
    simhost::CommandBarButton* Record(const ComPtr<simhost::Inspector>& i) { return Buttons(i).at(1); }
    simhost::CommandBarButton* Play(const ComPtr<simhost::Inspector>& i) { return Buttons(i).at(2); }
    simhost::CommandBarButton* Stop(const ComPtr<simhost::Inspector>& i) { return Buttons(i).at(3); }
    // Record, Play, Stop enabled states of a window's bar, as "RPs" letters: upper case = enabled.
    std::wstring ButtonStates(const ComPtr<simhost::Inspector>& inspector);
    pvl::MciControl* Device() const;

    simhost::Client client_;
    ComPtr<IDTExtensibility2> addin_;
    pvl::Connect* connect_ = nullptr;
    FakeMci mci_;
    std::vector<std::wstring> deviceOps_;  // what the audio control was asked, in order
    bool checkNothingLeft_ = true;
};

// The add-in connected, with the tests' stand-in encoder beside the component (it encodes), and no
// MP3 left from an earlier test.
class StandInEncoderTest : public AddinTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // The mail's voice attachments ("Parvaline.mp3").
    static size_t Voices(const ComPtr<simhost::MailItem>& mail);
};

// The add-in connected, with one mail window open and its bar built.
class MailWindowTest : public AddinTest {
protected:
    void SetUp() override {
        AddinTest::SetUp();
        inspector_ = OpenMail();
        ASSERT_EQ(Buttons(inspector_).size(), 4u);
    }
    void TearDown() override {
        inspector_.Reset();
        AddinTest::TearDown();
    }
    ComPtr<simhost::Inspector> inspector_;
};

}  // namespace pvltest
