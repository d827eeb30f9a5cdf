// Stop after a recording: save, compress with the encoder beside the component, wait, attach.
// The encoder here is the real LAME or a stand-in that records how it was started and can fail,
// write nothing, crash or hang.
#include "support.h"
#include "recorder/compression.h"

namespace pvltest {
namespace {

using simhost::Host;

std::wstring Sibling(const wchar_t* name) { return TestFolder() + L"\\" + name; }

std::vector<std::wstring> ReadLines(const std::wstring& path) {
    const auto bytes = ReadFileBytes(path);
    std::vector<std::wstring> lines;
    std::string line;
    for (unsigned char c : bytes) {
        if (c == '\n') {
            lines.push_back(Utf16(line));
            line.clear();
        } else {
            line += char(c);
        }
    }
    return lines;
}

class CompressionTest : public AddinTest {
protected:
    void SetUp() override {
        DeleteFileW(Mp3Path().c_str());
        DeleteFileW(Sibling(L"fake_lame.log").c_str());
        UseEncoder(Env("PVL_LAME_EXE").empty() ? L"" : WindowsPathOf(Env("PVL_LAME_EXE")));
        AddinTest::SetUp();
        user_ = std::make_unique<MessageBoxAnswerer>();
    }
    void TearDown() override {
        user_.reset();
        pvl::OverrideEncoderTimeout(0);
        SetEnvironmentVariableW(L"PVL_FAKE_LAME", nullptr);
        if (FileExists(Sibling(L"libmp3lame.dll.away")))
            MoveFileW(Sibling(L"libmp3lame.dll.away").c_str(), Sibling(L"libmp3lame.dll").c_str());
        AddinTest::TearDown();
        DeleteFileW(Sibling(L"lame.exe").c_str());
        DeleteFileW(Mp3Path().c_str());
    }
    // Puts `program` beside the component as its encoder; empty removes the encoder.
    void UseEncoder(const std::wstring& program) {
        DeleteFileW(Sibling(L"lame.exe").c_str());
        if (!program.empty()) {
            ASSERT_TRUE(CopyFileW(program.c_str(), Sibling(L"lame.exe").c_str(), FALSE));
        }
    }
    void UseStandIn(const wchar_t* mode) {
        UseEncoder(Sibling(L"fake_lame.exe"));
        SetEnvironmentVariableW(L"PVL_FAKE_LAME", mode);
    }
    void RecordAndStop(const ComPtr<simhost::Inspector>& inspector) {
        ASSERT_EQ(Record(inspector)->Click(), S_OK);
        ASSERT_EQ(Stop(inspector)->Click(), S_OK);
    }
    std::vector<std::wstring> AttachmentNames(const ComPtr<simhost::MailItem>& mail) {
        std::vector<std::wstring> names;
        for (auto& a : mail->GetAttachments().All()) names.push_back(a->DisplayName());
        return names;
    }
    // Without its library too, the add-in has no encoder at all.
    void PutLibraryAway() {
        ASSERT_TRUE(MoveFileW(Sibling(L"libmp3lame.dll").c_str(), Sibling(L"libmp3lame.dll.away").c_str()));
    }
    // Stop always ends the same way, whatever happened in between.
    void ExpectStopEnded(const ComPtr<simhost::Inspector>& inspector) {
        EXPECT_EQ(State(), pvl::pvlNone);
        EXPECT_EQ(ButtonStates(inspector), L"RPs");
        EXPECT_EQ(Buttons(inspector)[0]->Caption(), L"");
        EXPECT_FALSE(Device()->IsOpen());
    }
    std::unique_ptr<MessageBoxAnswerer> user_;  // answers the box that says a voice was not attached
};

TEST_F(CompressionTest, StopAfterARecordingAttachesTheEncodedRecording) {
    ASSERT_FALSE(Env("PVL_LAME_EXE").empty()) << "PVL_LAME_EXE names the encoder built by set-up";
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    Host::Get().ClearLog();
    RecordAndStop(inspector);
    ASSERT_EQ(AttachmentNames(mail), (std::vector<std::wstring>{L"Parvaline.mp3"}));
    const auto& mp3 = mail->GetAttachments().All()[0]->Data();
    ASSERT_GT(mp3.size(), 1000u);
    // An MP3 stream: an ID3 tag or a frame sync at the start.
    EXPECT_TRUE((mp3[0] == 'I' && mp3[1] == 'D' && mp3[2] == '3') || (mp3[0] == 0xFF && (mp3[1] & 0xE0) == 0xE0));
    EXPECT_EQ(mp3, ReadFileBytes(Mp3Path()));
    // The steps in their order, as the host saw them.
    const auto log = Host::Get().LogText();
    auto at = [&](const std::wstring& call) { return std::find(log.begin(), log.end(), call) - log.begin(); };
    const auto busy = at(L"CommandBarButton#1.Caption put \"Compressing, wait...\"");
    const auto idle = at(L"CommandBarButton#1.Caption put \"\"");
    const auto lookup = at(L"Attachments#1.Item call \"Parvaline.mp3\"");
    const auto add = at(L"Attachments#1.Add call \"" + Mp3Path() + L"\"");
    ASSERT_LT(add, static_cast<long long>(log.size()));
    EXPECT_LT(busy, idle);
    EXPECT_LT(idle, lookup);
    EXPECT_LT(lookup, add);
    EXPECT_EQ(deviceOps_, (std::vector<std::wstring>{L"FileName=" + RecordingPath(), L"Command=open", L"TimeFormat=1",
                                                     L"Command=record", L"Command=stop", L"FileName=" + RecordingPath(),
                                                     L"Command=save", L"Command=close"}));
    ExpectStopEnded(inspector);
    // Both files stay where the recordings are kept.
    EXPECT_TRUE(FileExists(RecordingPath()));
    EXPECT_TRUE(FileExists(Mp3Path()));
    EXPECT_EQ(user_->Texts().size(), 0u) << "the voice was attached: nothing to tell";
}

TEST_F(CompressionTest, TheEncoderIsStartedHiddenWithExactlyThisCommandLine) {
    UseStandIn(L"encode");
    auto inspector = OpenMail();
    RecordAndStop(inspector);
    const auto lines = ReadLines(Sibling(L"fake_lame.log"));
    // The program beside the component; the recordings where the user's are kept.
    EXPECT_EQ(lines, (std::vector<std::wstring>{
                         L"cmdline=" + TestFolder() + L"\\lame.exe \"" + RecordingPath() + L"\" \"" + Mp3Path() + L"\"",
                         L"show=0"}));
}

// The flags of every CreateProcessW this test program makes (the add-in's code is linked into it),
// caught in its import table: a console stays invisible only with CREATE_NO_WINDOW, and the child
// cannot tell under Wine.
class CreateProcessSpy {
public:
    CreateProcessSpy() {
        slot_ = ImportSlot("CreateProcessW");
        if (!slot_) return;
        real_ = *slot_;
        Patch(reinterpret_cast<void*>(&Hook));
    }
    ~CreateProcessSpy() {
        if (slot_) Patch(real_);
    }
    bool Hooked() const { return slot_ != nullptr; }
    static inline std::vector<DWORD> flags;

private:
    static BOOL WINAPI Hook(LPCWSTR app, LPWSTR cmd, LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta, BOOL inherit,
                            DWORD creation, LPVOID env, LPCWSTR dir, LPSTARTUPINFOW si, LPPROCESS_INFORMATION pi) {
        flags.push_back(creation);
        return reinterpret_cast<decltype(&CreateProcessW)>(real_)(app, cmd, pa, ta, inherit, creation, env, dir, si, pi);
    }
    void Patch(void* target) {
        DWORD old = 0;
        VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &old);
        *slot_ = target;
        VirtualProtect(slot_, sizeof(void*), old, &old);
    }
    static void** ImportSlot(const char* name) {
        auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleW(nullptr));
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
            if (lstrcmpiA(reinterpret_cast<char*>(base + d->Name), "kernel32.dll") != 0) continue;
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
                auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (lstrcmpA(reinterpret_cast<char*>(byName->Name), name) == 0)
                    return reinterpret_cast<void**>(&slots->u1.Function);
            }
        }
        return nullptr;
    }
    void** slot_ = nullptr;
    static inline void* real_ = nullptr;
};

TEST_F(CompressionTest, TheEncoderGetsNoConsoleWindow) {
    UseStandIn(L"encode");
    auto inspector = OpenMail();
    CreateProcessSpy spy;
    ASSERT_TRUE(spy.Hooked()) << "CreateProcessW is not in the test program's import table";
    CreateProcessSpy::flags.clear();
    RecordAndStop(inspector);
    EXPECT_EQ(CreateProcessSpy::flags, std::vector<DWORD>{CREATE_NO_WINDOW});
}

TEST_F(CompressionTest, RecordingTwiceInOneMailKeepsOneVoiceAttachment) {
    UseStandIn(L"encode");
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    ASSERT_EQ(mail->GetAttachments().AddFile(Sibling(L"fake_lame.exe")), S_OK);  // the user's own attachment
    RecordAndStop(inspector);
    RecordAndStop(inspector);
    EXPECT_EQ(AttachmentNames(mail), (std::vector<std::wstring>{L"fake_lame.exe", L"Parvaline.mp3"}));
}

TEST_F(CompressionTest, WithTwoMailWindowsTheRecordingGoesToTheMailItWasMadeIn) {
    UseStandIn(L"encode");
    ComPtr<simhost::MailItem> firstMail, secondMail;
    auto first = OpenMail(&firstMail);
    Record(first)->Click();
    auto second = OpenMail(&secondMail);
    Stop(second)->Click();  // the only bar that still reaches the add-in
    EXPECT_EQ(AttachmentNames(firstMail), (std::vector<std::wstring>{L"Parvaline.mp3"}));
    EXPECT_TRUE(AttachmentNames(secondMail).empty());
}

TEST_F(CompressionTest, ClosingTheMailWindowDuringARecordingAttachesItBeforeTheBarGoes) {
    UseStandIn(L"encode");
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    Record(inspector)->Click();
    Host::Get().ClearLog();
    inspector->CloseWindow();
    EXPECT_EQ(AttachmentNames(mail), (std::vector<std::wstring>{L"Parvaline.mp3"}));
    const auto log = Host::Get().LogText();
    auto at = [&](const std::wstring& needle) {
        return std::find_if(log.begin(), log.end(), [&](auto& l) { return l.find(needle) != std::wstring::npos; }) -
               log.begin();
    };
    EXPECT_LT(at(L"Attachments#1.Add call"), at(L"CommandBar#1.Delete call"));
    EXPECT_TRUE(inspector->Bars().Named(L"Parvaline").empty());
}

// --- When compression goes wrong: no crash, nothing stale attached, Stop still ends cleanly ----------

class CompressionFailureTest : public CompressionTest {
protected:
    // A voice message from an earlier recording is still beside the component and in the mail.
    void LeaveAnEarlierRecording(const ComPtr<simhost::MailItem>& mail) {
        WriteFileBytes(Mp3Path(), {'I', 'D', '3', 'o', 'l', 'd'});
        ASSERT_EQ(mail->GetAttachments().AddFile(Mp3Path()), S_OK);
    }
    // ...and the mail keeps the voice it had, and the user was told once, with the place of the
    // recording.
    void ExpectNothingAttached(const ComPtr<simhost::MailItem>& mail, bool encoderRan = true) {
        ASSERT_EQ(AttachmentNames(mail), std::vector<std::wstring>{L"Parvaline.mp3"});
        EXPECT_EQ(mail->GetAttachments().All()[0]->Data(), (std::vector<unsigned char>{'I', 'D', '3', 'o', 'l', 'd'}))
            << "the mail's earlier voice was replaced or lost";
        // An encoder that ran removed the earlier MP3 first, and left nothing of its own.
        if (encoderRan) EXPECT_FALSE(FileExists(Mp3Path()));
        EXPECT_EQ(user_->Texts(), std::vector<std::wstring>{pvl::NotAttachedMessage(RecordingPath())});
    }
    // A recording stopped with the stand-in encoder in `mode`, over an earlier recording, where LAME's
    // library cannot take over either.
    void ExpectNothingAttachedWithEncoder(const wchar_t* mode) {
        UseStandIn(mode);
        PutLibraryAway();
        ComPtr<simhost::MailItem> mail;
        auto inspector = OpenMail(&mail);
        LeaveAnEarlierRecording(mail);
        RecordAndStop(inspector);
        ExpectNothingAttached(mail);
        ExpectStopEnded(inspector);
    }
};

TEST_F(CompressionFailureTest, AMissingEncoderAndLibrary) {
    UseEncoder(L"");
    PutLibraryAway();
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    LeaveAnEarlierRecording(mail);
    Host::Get().ClearLog();
    RecordAndStop(inspector);
    ExpectNothingAttached(mail);
    ExpectStopEnded(inspector);
    // The caption came and went at once.
    EXPECT_EQ(Host::Get().LogMatching(L"CommandBarButton#1.Caption put").size(), 2u);
}

TEST_F(CompressionFailureTest, AnEncoderThatFails) { ExpectNothingAttachedWithEncoder(L"fail"); }

TEST_F(CompressionFailureTest, AnEncoderThatWritesNothing) { ExpectNothingAttachedWithEncoder(L"nothing"); }

TEST_F(CompressionFailureTest, AnEncoderThatCrashes) { ExpectNothingAttachedWithEncoder(L"crash"); }

TEST_F(CompressionFailureTest, AnEncoderThatNeverEndsIsEndedAtTheBound) {
    UseStandIn(L"hang");
    PutLibraryAway();
    pvl::OverrideEncoderTimeout(1500);
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    LeaveAnEarlierRecording(mail);
    const DWORD start = GetTickCount();
    RecordAndStop(inspector);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 1400u);
    EXPECT_LT(elapsed, 15000u);
    ExpectNothingAttached(mail);
    ExpectStopEnded(inspector);
}

TEST_F(CompressionFailureTest, ASaveThatFails) {
    mci_.failVerb[L"save"] = 274;  // MCIERR_FILE_NOT_SAVED
    mci_.saveWritesWave = false;
    UseStandIn(L"encode");  // reads its input: with no wave file it writes nothing
    ComPtr<simhost::MailItem> mail;
    auto inspector = OpenMail(&mail);
    LeaveAnEarlierRecording(mail);
    RecordAndStop(inspector);
    // Without a saved recording nothing is encoded.
    ExpectNothingAttached(mail, false);
    ExpectStopEnded(inspector);
    EXPECT_FALSE(FileExists(Sibling(L"fake_lame.log"))) << "the encoder ran without a recording";
}

TEST_F(CompressionFailureTest, HostFaultsOnTheAttachmentStepsAreSkipped) {
    UseStandIn(L"encode");
    size_t boxes = 0;  // Texts() holds a box as soon as it is seen, before it is answered
    for (const wchar_t* op : {L"MailItem.Attachments", L"Attachments.Item", L"Attachment.Delete", L"Attachments.Add",
                              L"CommandBarButton.Caption"}) {
        ComPtr<simhost::MailItem> mail;
        auto inspector = OpenMail(&mail);
        Host::Get().Fail(op, E_FAIL);
        RecordAndStop(inspector);
        Host::Get().ClearFaults();
        EXPECT_EQ(State(), pvl::pvlNone) << op;
        EXPECT_EQ(ButtonStates(inspector), L"RPs") << op;
        // Told exactly when the mail did not get the voice.
        const bool lost = std::wstring(op) == L"MailItem.Attachments" || std::wstring(op) == L"Attachments.Add";
        EXPECT_EQ(user_->Texts().size(), lost ? ++boxes : boxes) << op;
        inspector->CloseWindow();
    }
}

}  // namespace
}  // namespace pvltest
