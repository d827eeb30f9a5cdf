// A voice mail from end to end: the simulated mail client loads the built add-in DLL the way the
// mail client does (through its class factory and the add-in connection interface), opens a new
// mail, records through the wave-audio device, stops (the add-in compresses and attaches), listens
// to the recording, and writes what the mail received to an output folder.
//
//   pvlDemo.exe OUTDIR [SECONDS]
#include "addin/extensibility.h"
#include "addin/identity.h"
#include "common/raii.h"
#include "simhost/simhost.h"
#include <cstdio>
#include <string>

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

        const std::wstring wave = folder + L"\\Parvaline.wav";
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

        std::printf("demo: Play\n");
        play->Click();
        Pump(60000, [](void* b) { return static_cast<simhost::CommandBarButton*>(b)->Enabled(); }, play);
        std::printf("demo: playback %s\n", play->Enabled() ? "ended" : "did not end within a minute");

        std::printf("summary: recording %.1f s, MP3 %zu bytes (%.0f kbit/s), mail client blocked %.0f ms in Stop\n",
                    seconds, mp3.size(), seconds > 0 ? mp3.size() * 8 / seconds / 1000 : 0.0, blockedMs);
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
    const int rc = Run(argv[1], ms);
    OleUninitialize();
    return rc;
}
