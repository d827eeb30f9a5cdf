// The encoder's command line as a real add-in module builds it from the folder it was loaded from:
// a plain folder, one with spaces, and a drive root. The module here is the built pvlAddIn.dll,
// copied into each folder with a stand-in encoder that writes down how it was started.
#include "support.h"
#include "addin/extensibility.h"

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
    void Install(const std::wstring& folder, const std::wstring& encoder = L"lame.exe") {
        const std::wstring dll = WindowsPathOf(Env("PVL_ADDIN_DLL"));
        ASSERT_TRUE(CopyFileW(dll.c_str(), (folder + L"\\pvlAddIn.dll").c_str(), FALSE));
        ASSERT_TRUE(CopyFileW((TestFolder() + L"\\fake_lame.exe").c_str(), (folder + L"\\" + encoder).c_str(), FALSE));
        for (const wchar_t* f : {L"\\pvlAddIn.dll", L"\\fake_lame.log", L"\\Parvaline.wav", L"\\Parvaline.mp3"})
            cleanup_.insert(cleanup_.begin(), folder + f);
        cleanup_.insert(cleanup_.begin(), folder + L"\\" + encoder);
    }
    // Loads the module from `folder`, connects it, records briefly and stops.
    void RecordWithModuleIn(const std::wstring& folder) {
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
        buttons[3]->Click();
        ASSERT_EQ(mail->GetAttachments().All().size(), 1u) << "the stand-in's MP3 was not attached";
        inspector->CloseWindow();
    }
    std::wstring LoggedCommandLine(const std::wstring& folder) {
        const auto bytes = ReadFileBytes(folder + L"\\fake_lame.log");
        const std::wstring log = Utf16(std::string(bytes.begin(), bytes.end()));
        const size_t start = log.find(L"cmdline=");
        if (start == std::wstring::npos) return L"(the encoder did not run)";
        return log.substr(start + 8, log.find(L'\n', start) - start - 8);
    }
    static std::wstring Expected(const std::wstring& folder, const std::wstring& program) {
        return program + L" \"" + folder + L"\\Parvaline.wav\" \"" + folder + L"\\Parvaline.mp3\"";
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
    EXPECT_EQ(LoggedCommandLine(folder), Expected(folder, folder + L"\\lame.exe"));
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
    EXPECT_EQ(LoggedCommandLine(folder), Expected(folder, L"\"" + folder + L"\\lame.exe\""));
    EXPECT_FALSE(FileExists(L"C:\\pvl mail\\fake_lame.log")) << "another program ran in the encoder's place";
}

TEST_F(EncoderPathTest, ADriveRootDoublesTheBackslash) {
    // Set-up maps drive T: of the test prefix to a folder of the build.
    const std::wstring root = L"T:\\";  // the folder as the system reports it
    ASSERT_EQ(GetDriveTypeW(root.c_str()), static_cast<UINT>(DRIVE_FIXED)) << "drive T: is not mapped; run tools/setup.sh";
    Install(root);
    RecordWithModuleIn(root);
    EXPECT_EQ(LoggedCommandLine(root), Expected(root, root + L"\\lame.exe"));  // "T:\\lame.exe" and so on
}

}  // namespace
}  // namespace pvltest
