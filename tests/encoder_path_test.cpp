// The encoder's command line as a real add-in module builds it from the folder it was loaded from:
// a plain folder, one with spaces, and a drive root. The module here is the built pvlAddIn.dll,
// copied into each folder with a stand-in encoder that writes down how it was started.
#include "support.h"
#include "lame_check.h"
#include "addin/extensibility.h"
#include "recorder/compression.h"
#include "recorder/recording_files.h"

namespace pvltest {
namespace {

class EncoderPathTest : public testing::Test {
protected:
    void TearDown() override {
        addin_.Reset();
        if (client_.app) client_.app->CloseAll();
        client_ = {};
        module_.reset();
        for (auto it = cleanup_.rbegin(); it != cleanup_.rend(); ++it)
            if (!DeleteFileW(it->c_str())) RemoveDirectoryW(it->c_str());
    }
    void MakeFolder(const std::wstring& folder) {
        if (CreateDirectoryW(folder.c_str(), nullptr)) cleanup_.push_back(folder);
    }
    // The module and an encoder program (the stand-in unless another is named; none when empty).
    void Install(const std::wstring& folder, const std::wstring& encoder = L"lame.exe",
                 std::wstring program = TestFolder() + L"\\fake_lame.exe") {
        const std::wstring dll = WindowsPathOf(Env("PVL_ADDIN_DLL"));
        ASSERT_TRUE(CopyFileW(dll.c_str(), (folder + L"\\pvlAddIn.dll").c_str(), FALSE));
        if (!program.empty()) {
            ASSERT_TRUE(CopyFileW(program.c_str(), (folder + L"\\" + encoder).c_str(), FALSE));
        }
        for (const wchar_t* f : {L"\\pvlAddIn.dll", L"\\fake_lame.log", L"\\Parvaline.wav", L"\\Parvaline.mp3",
                                 L"\\libmp3lame.dll"})
            cleanup_.insert(cleanup_.begin(), folder + f);
        cleanup_.insert(cleanup_.begin(), folder + L"\\" + encoder);
    }
    // Loads the module from `folder`, connects it, records briefly and stops; `whileRecording` runs
    // between Record and Stop, and the attached voice is handed back.
    void RecordWithModuleIn(const std::wstring& folder, const std::function<void()>& whileRecording = {},
                            std::vector<unsigned char>* voice = nullptr) {
        module_.reset(LoadLibraryW((folder + L"\\pvlAddIn.dll").c_str()));
        ASSERT_TRUE(module_) << GetLastError();
        using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        auto getClassObject = reinterpret_cast<GetClassObjectFn>(
            reinterpret_cast<void*>(GetProcAddress(module_.get(), "DllGetClassObject")));
        ASSERT_NE(getClassObject, nullptr);
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(pvl::CLSID_Connect, IID_PPV_ARGS(&factory)), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, __uuidof(IDTExtensibility2),
                                          reinterpret_cast<void**>(addin_.GetAddressOf())),
                  S_OK);
        simhost::Host::Get().Reset();
        client_ = simhost::Client::Create();
        SAFEARRAY* custom = nullptr;
        ASSERT_EQ(addin_->OnConnection(client_.app.Get(), ext_cm_Startup, client_.addIn.Get(), &custom), S_OK);
        auto mail = client_.NewMail();
        auto inspector = client_.Open(mail.Get());
        auto buttons = inspector->Bars().Named(L"Parvaline").front()->Controls().Buttons();
        buttons[1]->Click();
        PumpMessages(300);
        if (whileRecording) whileRecording();
        buttons[3]->Click();
        ASSERT_EQ(mail->GetAttachments().All().size(), 1u) << "the encoder's MP3 was not attached";
        if (voice) *voice = mail->GetAttachments().All()[0]->Data();
        inspector->CloseWindow();
    }
    std::wstring LoggedCommandLine(const std::wstring& folder) {
        const auto bytes = ReadFileBytes(folder + L"\\fake_lame.log");
        const std::wstring log = Utf16(std::string(bytes.begin(), bytes.end()));
        const size_t start = log.find(L"cmdline=");
        if (start == std::wstring::npos) return L"(the encoder did not run)";
        return log.substr(start + 8, log.find(L'\n', start) - start - 8);
    }
    // A module installed outside the user's profile keeps the recordings in the user's own folder.
    static std::wstring Expected(const std::wstring& program) {
        return program + L" \"" + RecordingPath() + L"\" \"" + Mp3Path() + L"\"";
    }

    pvl::UniqueHModule module_;
    simhost::Client client_;
    ComPtr<IDTExtensibility2> addin_;
    std::vector<std::wstring> cleanup_;
};

TEST_F(EncoderPathTest, APlainFolder) {
    const std::wstring folder = L"C:\\pvlencoder";
    MakeFolder(folder);
    Install(folder);
    RecordWithModuleIn(folder);
    EXPECT_EQ(LoggedCommandLine(folder), Expected(folder + L"\\lame.exe"));
}

TEST_F(EncoderPathTest, AFolderWithSpacesRunsOnlyTheEncoderBesideTheModule) {
    MakeFolder(L"C:\\pvl mail");
    const std::wstring folder = L"C:\\pvl mail\\tools x";
    MakeFolder(folder);
    Install(folder);
    // Programs that an unquoted search would find first, on the way to the encoder.
    Install(L"C:\\pvl mail", L"tools.exe");
    RecordWithModuleIn(folder);
    // The program path is quoted here, so that the encoder reads its two files as its arguments.
    EXPECT_EQ(LoggedCommandLine(folder), Expected(L"\"" + folder + L"\\lame.exe\""));
    EXPECT_FALSE(FileExists(L"C:\\pvl mail\\fake_lame.log")) << "another program ran in the encoder's place";
}

TEST_F(EncoderPathTest, ADriveRootDoublesTheBackslash) {
    // Set-up maps drive T: of the test prefix to a folder of the build.
    const std::wstring root = L"T:\\";  // the folder as the system reports it
    ASSERT_EQ(GetDriveTypeW(root.c_str()), static_cast<UINT>(DRIVE_FIXED)) << "drive T: is not mapped; run tools/setup.sh";
    Install(root);
    RecordWithModuleIn(root);
    EXPECT_EQ(LoggedCommandLine(root), Expected(root + L"\\lame.exe"));  // "T:\\lame.exe"
}

// A per-user installation lives under the user's profile, whose name can hold any letter, and keeps
// its recordings beside it: the real LAME, started as Stop starts it, and LAME's library in its place,
// must read and write there. (Wine's wave driver cannot save a recording into such a folder, so the
// encoders are given the speech as the saved recording.)
class EncoderPathUnicodeTest : public EncoderPathTest {
protected:
    void SetUp() override {
        ASSERT_FALSE(Profile().empty());
        MakeFolder(kFolder);
        ASSERT_TRUE(FileExists(kFolder)) << "cannot make the folder";
        files_ = {kFolder, kFolder + L"\\Parvaline.wav", kFolder + L"\\Parvaline.mp3", kFolder + L"\\lame.exe",
                  kFolder + L"\\libmp3lame.dll"};
        for (const std::wstring* f : {&files_.library, &files_.encoder, &files_.mp3, &files_.wave})
            cleanup_.insert(cleanup_.begin(), *f);
        ASSERT_TRUE(CopyFileW((TestFolder() + L"\\libmp3lame.dll").c_str(), files_.library.c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(WindowsPathOf(Env("PVL_LAME_EXE")).c_str(), files_.encoder.c_str(), FALSE));
        WriteFileBytes(files_.wave, SpeechWave());
    }
    void TearDown() override {
        pvl::OverrideEncoderStart(ERROR_SUCCESS);
        EncoderPathTest::TearDown();
    }
    static std::wstring Profile() {
        wchar_t profile[MAX_PATH] = L"";
        GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
        return profile;
    }
    // Greek, Cyrillic and CJK letters and a space: in no single ANSI code page; in the user's profile.
    const std::wstring kFolder = Profile() + L"\\pvl \u03A9\u03BC\u03AD\u03B3\u03B1 \u0416\u0438\u0437\u043D\u044C \u58F0\u97F3";
    pvl::RecordingFiles files_;
};

TEST_F(EncoderPathUnicodeTest, AComponentInTheProfileKeepsItsRecordingsBesideIt) {
    EXPECT_EQ(pvl::RecordingFolderForComponent(kFolder), kFolder);
    EXPECT_NE(pvl::RecordingFolderForComponent(L"C:\\Program Files\\Parvaline"), L"C:\\Program Files\\Parvaline");
    // The rule itself: inside the profile (at any depth, any case) the folder; elsewhere the user's own.
    const std::wstring profile = L"C:\\Users\\Zo\u00EB", local = profile + L"\\AppData\\Local";
    EXPECT_EQ(pvl::RecordingFolderFor(profile + L"\\AppData\\Local\\Programs\\Parvaline", profile, local),
              profile + L"\\AppData\\Local\\Programs\\Parvaline");
    EXPECT_EQ(pvl::RecordingFolderFor(L"c:\\users\\zo\u00EB\\x", profile, local), L"c:\\users\\zo\u00EB\\x");
    EXPECT_EQ(pvl::RecordingFolderFor(L"C:\\Users\\Zo\u00EB2\\x", profile, local), local + L"\\Parvaline");
    EXPECT_EQ(pvl::RecordingFolderFor(L"C:\\Program Files\\Parvaline", profile, local), local + L"\\Parvaline");
    EXPECT_EQ(pvl::RecordingFolderFor(L"T:\\", profile, local), local + L"\\Parvaline");
}

TEST_F(EncoderPathUnicodeTest, TheEncoderProgramReadsAndWritesThere) {
    DWORD waitResult = 0;
    ASSERT_EQ(pvl::RunEncoder(files_, &waitResult), S_OK);
    EXPECT_EQ(waitResult, WAIT_OBJECT_0);
    ExpectTheSpeech(ReadFileBytes(files_.mp3));
}

TEST_F(EncoderPathUnicodeTest, TheLibraryReadsAndWritesThere) {
    // No program may start: the library beside the module encodes.
    pvl::OverrideEncoderStart(ERROR_ACCESS_DENIED);
    DWORD waitResult = 0;
    ASSERT_EQ(pvl::RunEncoder(files_, &waitResult), S_OK);
    const auto voice = ReadFileBytes(files_.mp3);
    ExpectTheSpeech(voice);
    // The same MP3 as the program makes of the same wave, in the same folder.
    std::vector<unsigned char> reference;
    cleanup_.insert(cleanup_.begin(), kFolder + L"\\reference.mp3");
    ASSERT_EQ(RunLameExe(files_.encoder, files_.wave, kFolder + L"\\reference.mp3", &reference), S_OK);
    const Mp3Comparison c = CompareMp3(voice, reference);
    EXPECT_TRUE(c.identical) << c.Describe();
}

}  // namespace
}  // namespace pvltest
