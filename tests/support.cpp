#include "support.h"
#include "audio.h"
#include "about/about_window.h"
#include "server/class_factory.h"
#include <mmsystem.h>
#include <cmath>
#include <cstdlib>

namespace pvltest {

std::vector<std::wstring> FakeMci::Verbs() const {
    std::vector<std::wstring> verbs;
    for (const auto& c : commands) verbs.push_back(c.substr(0, c.find(L' ')));
    return verbs;
}

namespace {
class FakeBackend final : public pvl::MciBackend {
public:
    explicit FakeBackend(FakeMci* state) : state_(state) {}
    DWORD Send(const std::wstring& command, HWND notifyWindow) override {
        state_->commands.push_back(command);
        const std::wstring verb = command.substr(0, command.find(L' '));
        if (auto it = state_->failVerb.find(verb); it != state_->failVerb.end()) return it->second;
        const std::wstring alias = AliasOf(command, verb);
        if (verb == L"open") {
            state_->open.insert(alias);
            return 0;
        }
        if (!state_->open.count(alias)) return MCIERR_INVALID_DEVICE_NAME;
        if (verb == L"close") state_->open.erase(alias);
        if (verb == L"save" && state_->saveWritesWave) {
            const size_t q = command.find(L'"');
            WriteFileBytes(command.substr(q + 1, command.find(L'"', q + 1) - q - 1), ToneWave(1.0, state_->saveLevel));
        }
        if (verb == L"play" && state_->completePlay)
            PostMessageW(notifyWindow, MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, kDeviceId);
        return 0;
    }
    UINT DeviceId(const std::wstring& alias) override { return state_->open.count(alias) ? kDeviceId : 0; }

private:
    static std::wstring AliasOf(const std::wstring& command, const std::wstring& verb) {
        if (verb == L"open") {
            const size_t at = command.find(L" alias ");
            if (at == std::wstring::npos) return {};
            const size_t start = at + 7;
            return command.substr(start, command.find(L' ', start) - start);
        }
        const size_t start = verb.size() + 1;
        return command.substr(start, command.find(L' ', start) - start);
    }
    static constexpr UINT kDeviceId = 7;
    FakeMci* state_;
};
}  // namespace

std::unique_ptr<pvl::MciBackend> MakeFakeBackend(FakeMci* state) { return std::make_unique<FakeBackend>(state); }

std::wstring Utf16(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::wstring WindowsPathOf(const std::string& unixPath) {
    std::wstring w = L"Z:" + Utf16(unixPath);
    for (auto& c : w)
        if (c == L'/') c = L'\\';
    return w;
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::wstring TestFolder() {
    std::wstring folder;
    EXPECT_EQ(pvl::ComponentFolder(&folder), S_OK);
    return folder;
}

pvl::RecordingFiles Files() {
    pvl::RecordingFiles files;
    EXPECT_EQ(pvl::ResolveRecordingFiles(&files), S_OK);
    EXPECT_EQ(pvl::CreateRecordingFolder(files), S_OK);
    return files;
}

std::wstring RecordingPath() { return Files().wave; }

std::wstring Mp3Path() { return Files().mp3; }

std::vector<unsigned char> ToneWave(double seconds, double level) {
    const uint32_t rate = 16000, count = uint32_t(seconds * rate);
    std::vector<int16_t> samples(count);
    for (uint32_t i = 0; i < count; ++i) samples[i] = int16_t(level * std::sin(2 * 3.14159265 * 440 * i / rate));
    return WaveFile(samples);
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<unsigned char> ReadFileBytes(const std::wstring& path) {
    pvl::UniqueFile f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    std::vector<unsigned char> data;
    if (!f) return data;
    LARGE_INTEGER size{};
    GetFileSizeEx(f.get(), &size);
    data.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!data.empty()) ReadFile(f.get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr);
    data.resize(read);
    return data;
}

void WriteFileBytes(const std::wstring& path, const std::vector<unsigned char>& data) {
    pvl::UniqueFile f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(f) << "cannot write " << std::string(path.begin(), path.end());
    DWORD written = 0;
    if (!data.empty()) WriteFile(f.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
}

void PumpMessages(DWORD ms, const std::function<bool()>& until) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (until && until()) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void AddinTest::SetUp() {
    simhost::Host::Get().Reset();
    if (UseRealDevice())
        pvl::SetMciBackendFactory({});
    else
        pvl::SetMciBackendFactory([this] { return MakeFakeBackend(&mci_); });
    client_ = simhost::Client::Create();
    Connect();
}

void AddinTest::Connect() {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(pvl::GetClassObject(pvl::CLSID_Connect, IID_PPV_ARGS(&factory)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&addin_)), S_OK);
    connect_ = static_cast<pvl::Connect*>(addin_.Get());
    SAFEARRAY* custom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
    ASSERT_EQ(addin_->OnConnection(client_.app.Get(), ext_cm_Startup, client_.addIn.Get(), &custom), S_OK);
    SafeArrayDestroy(custom);
    if (pvl::MciControl* device = Device())
        device->SetObserver([this](const std::wstring& op) { deviceOps_.push_back(op); });
}

pvl::MciControl* AddinTest::Device() const {
    pvl::AboutWindow* about = pvl::ExistingAboutWindow();
    return about ? about->mciControl() : nullptr;
}

void AddinTest::ReleaseAddin() {
    connect_ = nullptr;
    addin_.Reset();
}

void AddinTest::TearDown() {
    ReleaseAddin();
    client_.app->CloseAll();
    client_ = {};
    pvl::SetMciBackendFactory({});
    if (checkNothingLeft_) {
        EXPECT_EQ(simhost::Host::Get().LiveObjects(), 0) << "host objects still referenced";
        EXPECT_EQ(simhost::Host::Get().AdvisedSinks(), 0) << "event connections still advised";
        EXPECT_EQ(pvl::Connect::LiveObjects(), 0);
        EXPECT_EQ(pvl::ExistingAboutWindow(), nullptr);
    }
    if (!getenv("PVL_KEEP_FILES")) DeleteFileW(RecordingPath().c_str());
}

void StandInEncoderTest::SetUp() {
    const std::wstring folder = TestFolder();
    DeleteFileW(Mp3Path().c_str());
    DeleteFileW((folder + L"\\lame.exe").c_str());
    ASSERT_TRUE(CopyFileW((folder + L"\\fake_lame.exe").c_str(), (folder + L"\\lame.exe").c_str(), FALSE));
    SetEnvironmentVariableW(L"PVL_FAKE_LAME", L"encode");
    AddinTest::SetUp();
}

void StandInEncoderTest::TearDown() {
    SetEnvironmentVariableW(L"PVL_FAKE_LAME", nullptr);
    AddinTest::TearDown();
    DeleteFileW((TestFolder() + L"\\lame.exe").c_str());
    DeleteFileW(Mp3Path().c_str());
}

size_t StandInEncoderTest::Voices(const ComPtr<simhost::MailItem>& mail) {
    size_t n = 0;
    for (auto& a : mail->GetAttachments().All()) n += a->DisplayName() == L"Parvaline.mp3";
    return n;
}

ComPtr<simhost::Inspector> AddinTest::OpenMail(ComPtr<simhost::MailItem>* mail) {
    auto item = client_.NewMail();
    if (mail) *mail = item;
    return client_.Open(item.Get());
}

std::vector<simhost::CommandBarButton*> AddinTest::Buttons(const ComPtr<simhost::Inspector>& inspector) {
    std::vector<simhost::CommandBarButton*> out;
    for (auto* bar : inspector->Bars().Named(L"Parvaline"))
        for (auto& b : bar->Controls().Buttons()) out.push_back(b.Get());
    return out;
}

std::wstring AddinTest::ButtonStates(const ComPtr<simhost::Inspector>& inspector) {
    auto b = Buttons(inspector);
    if (b.size() < 4) return L"(no bar)";
    std::wstring s;
    s += b[1]->Enabled() ? L'R' : L'r';
    s += b[2]->Enabled() ? L'P' : L'p';
    s += b[3]->Enabled() ? L'S' : L's';
    return s;
}

}  // namespace pvltest
