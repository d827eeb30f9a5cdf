// Stop on a PC where the mail program may not start the encoder program: the recording is encoded
// inside the add-in with LAME's library, loaded from the component folder only, and the MP3 is the
// one lame.exe makes of the same wave. When no voice could be attached, the user is told where the
// recording was kept; when there was nothing to attach, nothing is said.
#include "support.h"
#include "audio.h"
#include "lame_check.h"
#include "recorder/compression.h"
#include "recorder/library_encoder.h"
#include <psapi.h>

namespace pvltest {
namespace {

using simhost::Host;

std::wstring Sibling(const wchar_t* name) { return TestFolder() + L"\\" + name; }

class InProcessEncoderTest : public AddinTest {
protected:
    void SetUp() override {
        for (const wchar_t* f : {L"lame.exe", L"Parvaline.mp3", L"reference.mp3"}) DeleteFileW(Sibling(f).c_str());
        ASSERT_FALSE(Env("PVL_LAME_EXE").empty()) << "PVL_LAME_EXE names the encoder built by set-up";
        ASSERT_TRUE(FileExists(Sibling(L"libmp3lame.dll"))) << "the build puts LAME's library beside the tests";
        ASSERT_TRUE(CopyFileW(LameExe().c_str(), Sibling(L"lame.exe").c_str(), FALSE));
        mci_.saveWritesWave = false;  // the test puts the speech there itself
        AddinTest::SetUp();
        user_ = std::make_unique<MessageBoxAnswerer>();
    }
    void TearDown() override {
        user_.reset();
        pvl::OverrideEncoderStart(ERROR_SUCCESS);
        pvl::OverrideEncoderTimeout(0);
        if (FileExists(Sibling(L"libmp3lame.dll.away"))) {
            DeleteFileW(Sibling(L"libmp3lame.dll").c_str());
            MoveFileW(Sibling(L"libmp3lame.dll.away").c_str(), Sibling(L"libmp3lame.dll").c_str());
        }
        if (client_.app) AddinTest::TearDown();  // not when set-up stopped before connecting
        for (const wchar_t* f : {L"lame.exe", L"Parvaline.mp3", L"reference.mp3"}) DeleteFileW(Sibling(f).c_str());
    }
    static std::wstring LameExe() { return WindowsPathOf(Env("PVL_LAME_EXE")); }
    void PutLibraryAway() { ASSERT_TRUE(MoveFileW(Sibling(L"libmp3lame.dll").c_str(), Sibling(L"libmp3lame.dll.away").c_str())); }

    // Record, the speech as the saved recording, Stop.
    void RecordSpeechAndStop(const ComPtr<simhost::Inspector>& inspector, double minSeconds = 0) {
        ASSERT_EQ(Record(inspector)->Click(), S_OK);
        WriteFileBytes(RecordingPath(), SpeechWave(minSeconds));
        ASSERT_EQ(Stop(inspector)->Click(), S_OK);
        EXPECT_EQ(State(), pvl::pvlNone);
    }
    static std::vector<std::vector<unsigned char>> Voice(const ComPtr<simhost::MailItem>& mail) {
        std::vector<std::vector<unsigned char>> out;
        for (auto& a : mail->GetAttachments().All())
            if (a->DisplayName() == L"Parvaline.mp3") out.push_back(a->Data());
        return out;
    }
    // The attached MP3 is lame.exe's for the same wave, frame for frame, and it is the speech.
    void ExpectLameExesMp3(const std::vector<unsigned char>& mp3) {
        std::vector<unsigned char> reference;
        ASSERT_EQ(RunLameExe(LameExe(), RecordingPath(), Sibling(L"reference.mp3"), &reference), S_OK);
        const Mp3Comparison c = CompareMp3(mp3, reference);
        std::printf("in process %zu bytes, lame.exe %zu bytes: %s\n", mp3.size(), reference.size(), c.Describe().c_str());
        EXPECT_TRUE(c.framesEqual) << c.Describe();
        EXPECT_TRUE(c.tagDifferences.empty()) << c.Describe();
        ExpectTheSpeech(mp3);
    }
    void ExpectBoxNaming(const std::wstring& path) {
        EXPECT_EQ(user_->Texts(), std::vector<std::wstring>{pvl::NotAttachedMessage(path)});
    }

    std::unique_ptr<MessageBoxAnswerer> user_;
};

TEST_F(InProcessEncoderTest, ARefusedEncoderProgramIsReplacedByTheLibrary) {
    pvl::OverrideEncoderStart(ERROR_ACCESS_DENIED);
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    Host::Get().ClearLog();
    RecordSpeechAndStop(inspector);
    const auto voice = Voice(mail);
    ASSERT_EQ(voice.size(), 1u);
    ExpectLameExesMp3(voice[0]);
    EXPECT_EQ(user_->Texts().size(), 0u);
    // The caption as with the program: on while encoding, then back.
    EXPECT_EQ(Host::Get().LogMatching(L"CommandBarButton#1.Caption put").size(), 2u);
}

TEST_F(InProcessEncoderTest, AMissingEncoderProgramIsReplacedByTheLibrary) {
    DeleteFileW(Sibling(L"lame.exe").c_str());
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    RecordSpeechAndStop(inspector);
    const auto voice = Voice(mail);
    ASSERT_EQ(voice.size(), 1u);
    ExpectLameExesMp3(voice[0]);
    EXPECT_EQ(user_->Texts().size(), 0u);
}

TEST_F(InProcessEncoderTest, AnEncoderFileThatIsNoProgramIsReplacedByTheLibrary) {
    WriteFileBytes(Sibling(L"lame.exe"), {'n', 'o', 't', ' ', 'a', ' ', 'p', 'r', 'o', 'g', 'r', 'a', 'm'});
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    RecordSpeechAndStop(inspector);
    const auto voice = Voice(mail);
    ASSERT_EQ(voice.size(), 1u);
    ExpectLameExesMp3(voice[0]);
}

TEST_F(InProcessEncoderTest, AStaleMp3IsRemovedBeforeEncodingInProcess) {
    pvl::OverrideEncoderStart(ERROR_ACCESS_DENIED);
    WriteFileBytes(Mp3Path(), {'I', 'D', '3', 'o', 'l', 'd'});
    PutLibraryAway();
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    RecordSpeechAndStop(inspector);
    EXPECT_TRUE(Voice(mail).empty());
    EXPECT_FALSE(FileExists(Mp3Path()));
}

TEST_F(InProcessEncoderTest, WhenBothEncodersFailNothingIsAttachedAndTheUserIsToldWhereTheRecordingIs) {
    pvl::OverrideEncoderStart(ERROR_ACCESS_DENIED);
    PutLibraryAway();
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    RecordSpeechAndStop(inspector);
    EXPECT_TRUE(mail->GetAttachments().All().empty());
    ExpectBoxNaming(RecordingPath());
    EXPECT_TRUE(FileExists(RecordingPath())) << "the box names a recording that is not there";
    EXPECT_EQ(ButtonStates(inspector), L"RPs");
}

TEST_F(InProcessEncoderTest, ALibraryThatIsNotLameFailsCleanly) {
    pvl::OverrideEncoderStart(ERROR_ACCESS_DENIED);
    PutLibraryAway();
    wchar_t system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\version.dll").c_str(), Sibling(L"libmp3lame.dll").c_str(), FALSE));
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    RecordSpeechAndStop(inspector);
    EXPECT_TRUE(mail->GetAttachments().All().empty());
    EXPECT_FALSE(FileExists(Mp3Path()));
    ExpectBoxNaming(RecordingPath());
}

TEST_F(InProcessEncoderTest, AWaveTheLibraryCannotReadFailsCleanly) {
    pvl::OverrideEncoderStart(ERROR_ACCESS_DENIED);
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    ASSERT_EQ(Record(inspector)->Click(), S_OK);
    WriteFileBytes(RecordingPath(), {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0x7F, 'W', 'A', 'V', 'E', 'd', 'a', 't', 'a'});
    ASSERT_EQ(Stop(inspector)->Click(), S_OK);
    EXPECT_TRUE(mail->GetAttachments().All().empty());
    ExpectBoxNaming(RecordingPath());
}

TEST_F(InProcessEncoderTest, TheLibraryStopsAtTheEncodersBound) {
    pvl::OverrideEncoderStart(ERROR_ACCESS_DENIED);
    pvl::OverrideEncoderTimeout(1);
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    RecordSpeechAndStop(inspector, 60);
    EXPECT_TRUE(mail->GetAttachments().All().empty());
    EXPECT_FALSE(FileExists(Mp3Path())) << "half an MP3 was left";
    ExpectBoxNaming(RecordingPath());
}

TEST_F(InProcessEncoderTest, AFailedAttachmentIsToldToo) {
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    Host::Get().Fail(L"Attachments.Add", E_FAIL);
    RecordSpeechAndStop(inspector);
    Host::Get().ClearFaults();
    EXPECT_TRUE(mail->GetAttachments().All().empty());
    ExpectBoxNaming(RecordingPath());
}

TEST_F(InProcessEncoderTest, NothingIsSaidWhenThereWasNothingToAttach) {
    auto inspector = OpenMail();
    ASSERT_EQ(Stop(inspector)->Click(), S_OK);  // idle
    WriteFileBytes(RecordingPath(), SpeechWave());
    mci_.completePlay = false;
    ASSERT_EQ(Play(inspector)->Click(), S_OK);
    ASSERT_EQ(State(), pvl::pvlPlaying);
    ASSERT_EQ(Stop(inspector)->Click(), S_OK);  // playing
    EXPECT_EQ(user_->Texts().size(), 0u);
    // ...and the check would see a box: a recording whose voice cannot go is told.
    pvl::OverrideEncoderStart(ERROR_ACCESS_DENIED);
    PutLibraryAway();
    RecordSpeechAndStop(inspector);
    EXPECT_EQ(user_->Texts().size(), 1u);
}

// A DLL named like LAME's library, planted where the search order looks (the current folder, PATH),
// must never be loaded: neither beside a genuine library nor in its absence.
class DecoyLibraryTest : public InProcessEncoderTest {
protected:
    void SetUp() override {
        InProcessEncoderTest::SetUp();
        wchar_t cwd[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, cwd);
        cwd_ = cwd;
        wchar_t path[32767];
        path_ = GetEnvironmentVariableW(L"PATH", path, 32767) ? path : L"";
        for (const std::wstring& folder : {kCurrent, kOnPath}) {
            CreateDirectoryW(folder.c_str(), nullptr);
            DeleteFileW((folder + L"\\decoy-loaded.txt").c_str());
            ASSERT_TRUE(CopyFileW(Sibling(L"decoy_libmp3lame.dll").c_str(), (folder + L"\\libmp3lame.dll").c_str(), FALSE));
        }
        ASSERT_TRUE(SetCurrentDirectoryW(kCurrent.c_str()));
        SetEnvironmentVariableW(L"PATH", (kOnPath + L";" + path_).c_str());
        pvl::OverrideEncoderStart(ERROR_ACCESS_DENIED);
    }
    void TearDown() override {
        SetCurrentDirectoryW(cwd_.c_str());
        SetEnvironmentVariableW(L"PATH", path_.c_str());
        for (const std::wstring& folder : {kCurrent, kOnPath}) {
            DeleteFileW((folder + L"\\libmp3lame.dll").c_str());
            DeleteFileW((folder + L"\\decoy-loaded.txt").c_str());
            RemoveDirectoryW(folder.c_str());
        }
        InProcessEncoderTest::TearDown();
    }
    void ExpectDecoysUnloaded() {
        for (const std::wstring& folder : {kCurrent, kOnPath}) {
            EXPECT_FALSE(FileExists(folder + L"\\decoy-loaded.txt")) << "the decoy's DllMain ran";
            EXPECT_EQ(GetModuleHandleW((folder + L"\\libmp3lame.dll").c_str()), nullptr);
        }
        HMODULE modules[1024];
        DWORD bytes = 0;
        ASSERT_TRUE(EnumProcessModules(GetCurrentProcess(), modules, sizeof(modules), &bytes));
        for (DWORD i = 0; i < bytes / sizeof(HMODULE); ++i) {
            wchar_t name[MAX_PATH] = L"";
            GetModuleFileNameW(modules[i], name, MAX_PATH);
            const std::wstring n(name);
            EXPECT_EQ(n.find(L"pvl decoy"), std::wstring::npos) << std::string(n.begin(), n.end());
        }
    }
    const std::wstring kCurrent = L"C:\\pvl decoy current", kOnPath = L"C:\\pvl decoy path";
    std::wstring cwd_, path_;
};

TEST_F(DecoyLibraryTest, BesideTheGenuineLibraryStaysUnloaded) {
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    RecordSpeechAndStop(inspector);
    ASSERT_EQ(Voice(mail).size(), 1u);
    ExpectLameExesMp3(Voice(mail)[0]);
    ExpectDecoysUnloaded();
}

TEST_F(DecoyLibraryTest, InTheGenuineLibrarysAbsenceStaysUnloaded) {
    PutLibraryAway();
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    RecordSpeechAndStop(inspector);
    EXPECT_TRUE(mail->GetAttachments().All().empty());
    ExpectBoxNaming(RecordingPath());
    ExpectDecoysUnloaded();
    // The decoy does announce itself when the search order is used: the check can fail.
    pvl::UniqueHModule byName(LoadLibraryW(L"libmp3lame.dll"));
    ASSERT_TRUE(byName);
    EXPECT_TRUE(FileExists(kCurrent + L"\\decoy-loaded.txt"));
}

}  // namespace
}  // namespace pvltest
