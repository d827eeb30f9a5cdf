// A voice mail from end to end: the simulated mail client loads the built add-in DLL the way the
// mail client does (through its class factory and the add-in connection interface), opens a new
// mail, records through the wave-audio device, stops (the add-in compresses and attaches), listens
// to the recording, and writes what the mail received to an output folder.
//
//   pvlDemo.exe OUTDIR [SECONDS]
#include "addin/extensibility.h"
#include "addin/identity.h"
#include "recorder/recording_files.h"
#include "common/raii.h"
#include "simhost/simhost.h"
#include "simhost/box_answerer.h"
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using pvl::ComPtr;

int Fail(const char* what, HRESULT hr = E_FAIL) {
    std::fprintf(stderr, "demo: %s (0x%08lX)\n", what, static_cast<unsigned long>(hr));
    return 1;
}

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\'));
}

void Pump(DWORD ms, bool (*until)(void*) = nullptr, void* context = nullptr) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (until && until(context)) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

bool WriteAll(const std::wstring& path, const void* data, size_t size) {
    pvl::UniqueFile f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return f && WriteFile(f.get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

LONGLONG FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA d{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &d)) return -1;
    return (LONGLONG(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
}

std::vector<char> ReadAll(const std::wstring& path) {
    pvl::UniqueFile f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::vector<char> data;
    LARGE_INTEGER size{};
    if (!f || !GetFileSizeEx(f.get(), &size) || size.QuadPart > (1LL << 30)) return data;
    data.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!data.empty() && (!ReadFile(f.get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr) ||
                          read != data.size()))
        data.clear();
    return data;
}

// Seconds of sound in a 16-bit mono wave file: 50 ms stretches above -44 dBFS. A capture device
// that hears nothing (none connected, muted, another one than meant) still gives a recording of
// the right length, so the length says nothing; below half a second of sound nothing was heard.
double SecondsOfSound(const std::wstring& path) {
    const std::vector<char> file = ReadAll(path);
    if (file.size() <= 44) return 0;
    const size_t count = (file.size() - 44) / 2;
    const auto* samples = reinterpret_cast<const int16_t*>(file.data() + 44);
    constexpr size_t kWindow = 800;  // 50 ms at 16 kHz
    size_t loud = 0;
    for (size_t start = 0; start + kWindow <= count; start += kWindow) {
        double sum = 0;
        for (size_t i = start; i < start + kWindow; ++i) sum += double(samples[i]) * samples[i];
        if (std::sqrt(sum / kWindow) >= 200) ++loud;
    }
    return loud * 0.05;
}

// The device the recording came from, for the message when it heard nothing.
std::string CaptureDevice() {
    const char* file = std::getenv("PVL_CAPTURE_FILE");
    if (file && *file)
        return std::string("ALSA's default device from tools/alsa-pvl.conf, reading ") + file +
               " (check that the file holds the spoken sentence and that ALSA_CONFIG_PATH names tools/alsa-pvl.conf)";
    return "this machine's default capture device (check that a microphone is connected, not muted, its capture level "
           "raised, and that ALSA's default device is the one it is on)";
}

simhost::CommandBarButton* BarButton(simhost::Inspector* inspector, size_t index) {
    auto bars = inspector->Bars().Named(L"Parvaline");
    if (bars.empty() || bars.front()->Controls().Buttons().size() <= index) return nullptr;
    return bars.front()->Controls().Buttons()[index].Get();
}

int Run(const std::wstring& outDir, DWORD recordMs) {
    const std::wstring folder = ExeFolder();
    const std::wstring dllPath = folder + L"\\pvlAddIn.dll";
    pvl::UniqueHModule dll(LoadLibraryW(dllPath.c_str()));
    if (!dll) return Fail("cannot load pvlAddIn.dll beside the demo", HRESULT_FROM_WIN32(GetLastError()));
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll.get(), "DllGetClassObject")));
    if (!getClassObject) return Fail("pvlAddIn.dll exports no DllGetClassObject");

    simhost::Host::Get().Reset();
    auto client = simhost::Client::Create(pvl::kProgId);
    {
        ComPtr<IClassFactory> factory;
        HRESULT hr = getClassObject(pvl::CLSID_Connect, IID_PPV_ARGS(&factory));
        if (FAILED(hr)) return Fail("DllGetClassObject", hr);
        ComPtr<IDTExtensibility2> addin;
        hr = factory->CreateInstance(nullptr, __uuidof(IDTExtensibility2), reinterpret_cast<void**>(addin.GetAddressOf()));
        if (FAILED(hr)) return Fail("creating the add-in", hr);
        SAFEARRAY* custom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
        hr = addin->OnConnection(client.app.Get(), ext_cm_Startup, client.addIn.Get(), &custom);
        SafeArrayDestroy(custom);
        if (FAILED(hr)) return Fail("OnConnection", hr);
        std::printf("demo: the mail client loaded the add-in\n");

        auto mail = client.NewMail();
        auto inspector = client.Open(mail.Get());
        auto* record = BarButton(inspector.Get(), 1);
        auto* play = BarButton(inspector.Get(), 2);
        auto* stop = BarButton(inspector.Get(), 3);
        if (!record || !play || !stop) return Fail("the new mail window got no Parvaline bar");
        std::printf("demo: new mail opened; its Parvaline bar has %zu buttons\n",
                    inspector->Bars().Named(L"Parvaline").front()->Controls().Buttons().size());

        std::printf("demo: Record (%lu ms)\n", static_cast<unsigned long>(recordMs));
        record->Click();
        Pump(recordMs);
        std::printf("demo: Stop: saving, compressing and attaching\n");
        LARGE_INTEGER f, t0, t1;
        QueryPerformanceFrequency(&f);
        QueryPerformanceCounter(&t0);
        stop->Click();
        QueryPerformanceCounter(&t1);
        const double blockedMs = 1000.0 * double(t1.QuadPart - t0.QuadPart) / double(f.QuadPart);

        const std::wstring wave = pvl::RecordingFolderForComponent(folder) + L"\\Parvaline.wav";
        const LONGLONG waveBytes = FileSize(wave);
        const double seconds = waveBytes > 44 ? double(waveBytes - 44) / 32000.0 : 0;

        auto& attachments = mail->GetAttachments().All();
        if (attachments.empty()) return Fail("no attachment arrived in the mail");
        const auto& mp3 = attachments.front()->Data();
        CreateDirectoryW(outDir.c_str(), nullptr);
        if (!WriteAll(outDir + L"\\Parvaline.mp3", mp3.data(), mp3.size())) return Fail("cannot write the MP3");
        CopyFileW(wave.c_str(), (outDir + L"\\Parvaline.wav").c_str(), FALSE);
        std::printf("demo: the mail has %zu attachment(s): %ls, %zu bytes\n", attachments.size(),
                    attachments.front()->DisplayName().c_str(), mp3.size());

        const double sound = SecondsOfSound(wave);
        if (sound < 0.5) {
            std::fprintf(stderr, "demo: FAILED: the recording is silent (%.1f s, %.2f s of sound): %s\n", seconds, sound,
                         CaptureDevice().c_str());
            inspector->CloseWindow();
            addin->OnDisconnection(ext_dm_HostShutdown, nullptr);
            client.app->CloseAll();
            return 3;
        }
        std::printf("demo: the recording holds %.1f s of sound\n", sound);

        std::printf("demo: Play\n");
        play->Click();
        Pump(60000, [](void* b) { return static_cast<simhost::CommandBarButton*>(b)->Enabled(); }, play);
        std::printf("demo: playback %s\n", play->Enabled() ? "ended" : "did not end within a minute");

        std::printf("summary: recording %.1f s, MP3 %zu bytes (%.0f kbit/s), mail client blocked %.0f ms in Stop; "
                    "the %s build\n",
                    seconds, mp3.size(), seconds > 0 ? mp3.size() * 8 / seconds / 1000 : 0.0, blockedMs,
                    sizeof(void*) == 4 ? "x86 (32-bit)" : "x64 (64-bit)");
        inspector->CloseWindow();
        addin->OnDisconnection(ext_dm_HostShutdown, nullptr);
    }
    client.app->CloseAll();
    client = {};
    if (simhost::Host::Get().LiveObjects() != 0) return Fail("host objects were left referenced");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: pvlDemo.exe OUTDIR [SECONDS]\n");
        return 2;
    }
    const DWORD ms = argc > 2 ? static_cast<DWORD>(_wtof(argv[2]) * 1000) : 2000;
    if (FAILED(OleInitialize(nullptr))) return Fail("OleInitialize");
    // Nobody is at the screen: the add-in's boxes are answered as a user would, and what they say is
    // printed.
    simhost::MessageBoxAnswerer user(
        [](const std::wstring& text) {
            std::printf("demo: the add-in said: %ls\n", text.c_str());
            std::fflush(stdout);
        },
        L"Parvaline");
    const int rc = Run(argv[1], ms);
    OleUninitialize();
    return rc;
}
