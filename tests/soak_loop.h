// A long session of the mail client in one process: one add-in connected for the whole run,
// thousands of mail windows opened and closed, a record/stop cycle in every few of them with a fast
// stand-in encoder, and the process's resources sampled at intervals. Shared by the soak program
// (bench/soak.cpp) and its short version among the tests, so both run and judge the same loop.
#pragma once
#include "addin/connect.h"
#include "audio/mci_backend.h"
#include "resource_meter.h"
#include "server/class_factory.h"
#include "simhost/simhost.h"
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace pvltest {

using pvl::ComPtr;

struct SoakPlan {
    int windows = 2000;     // mail windows opened and closed
    int recordEvery = 10;   // a record/stop cycle in every n-th window
    int samples = 20;       // resource samples over the run, after the warm-up
};

struct SoakSample {
    int windows = 0;  // windows opened so far
    int cycles = 0;   // record/stop cycles so far
    Resources r;
    long connects = 0;
};

struct SoakResult {
    std::vector<SoakSample> samples;  // samples[0] is taken after the warm-up
    int windows = 0, cycles = 0, attached = 0;
    double seconds = 0;
};

// Flat means: whatever the add-in uses per mail window or per recording is given back. The first
// sample is taken after a warm-up of one tenth of the run, once the heap, Wine's caches and the
// sound driver have reached their working size. From there to the end:
//   - GDI and USER objects, live host objects and advised sinks may not grow at all: each of them
//     is counted exactly, and the add-in holds the same set (the newest window's) at every sample;
//   - kernel handles may drift by kHandleSlack: Wine keeps a few handles of the encoder processes
//     it started and releases them lazily, so a sample can land on either side of that;
//   - private bytes may grow by kPrivateSlackBytes: the heap keeps freed blocks and grows in
//     steps. One mail window's objects (a bar, four buttons, eight pictures) are a few KiB, so a
//     leak of one window per window over a run of thousands goes far past it.
constexpr long kHandleSlack = 8;
constexpr double kPrivateSlackBytes = 1024.0 * 1024.0;

struct Flatness {
    bool flat = true;
    std::string why;
};

inline Flatness JudgeFlatness(const SoakResult& run) {
    Flatness f;
    if (run.samples.size() < 2) return {false, "too few samples"};
    const SoakSample& a = run.samples.front();
    const SoakSample& b = run.samples.back();
    char buf[200];
    auto fail = [&](const char* what, double from, double to) {
        f.flat = false;
        std::snprintf(buf, sizeof buf, "%s grew from %.0f to %.0f; ", what, from, to);
        f.why += buf;
    };
    for (const SoakSample& s : run.samples) {
        if (s.r.gdiObjects > a.r.gdiObjects) fail("GDI objects", a.r.gdiObjects, s.r.gdiObjects);
        if (s.r.userObjects > a.r.userObjects) fail("USER objects", a.r.userObjects, s.r.userObjects);
        if (s.r.hostObjects > a.r.hostObjects) fail("live host objects", a.r.hostObjects, s.r.hostObjects);
        if (s.r.advisedSinks > a.r.advisedSinks) fail("advised sinks", a.r.advisedSinks, s.r.advisedSinks);
        if (long(s.r.handles) > long(a.r.handles) + kHandleSlack) fail("kernel handles", a.r.handles, s.r.handles);
        if (s.connects != 1) fail("add-in objects", 1, s.connects);
    }
    if (double(b.r.privateBytes) > double(a.r.privateBytes) + kPrivateSlackBytes)
        fail("private bytes", double(a.r.privateBytes), double(b.r.privateBytes));
    return f;
}

// The audio device, answering at once; "save" writes a short wave file where it is told, so the
// encoder has something to read.
class SoakDevice final : public pvl::MciBackend {
public:
    DWORD Send(const std::wstring& command, HWND) override {
        if (command.rfind(L"save ", 0) == 0) {
            const size_t q = command.find(L'"');
            const std::wstring path = command.substr(q + 1, command.find(L'"', q + 1) - q - 1);
            HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (f == INVALID_HANDLE_VALUE) return 274;  // MCIERR_FILE_NOT_SAVED
            static const unsigned char header[44] = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E',
                                                     'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,
                                                     0x80, 0x3E, 0, 0, 0, 0x7D, 0, 0, 2, 0, 16, 0,
                                                     'd', 'a', 't', 'a', 0, 0, 0, 0};
            DWORD written = 0;
            WriteFile(f, header, sizeof header, &written, nullptr);
            CloseHandle(f);
        }
        return 0;
    }
    UINT DeviceId(const std::wstring&) override { return 1; }
};

inline simhost::CommandBarButton* SoakButton(simhost::Inspector* inspector, size_t i) {
    auto bars = inspector->Bars().Named(L"Parvaline");
    if (bars.empty() || bars.front()->Controls().Buttons().size() <= i) return nullptr;
    return bars.front()->Controls().Buttons()[i].Get();
}

// Runs the session. The caller has put the encoder beside the component (or not) and runs on a
// single-threaded apartment.
inline SoakResult RunSoak(const SoakPlan& plan, FILE* progress = nullptr) {
    SoakResult result;
    pvl::SetMciBackendFactory([] { return std::make_unique<SoakDevice>(); });
    simhost::Host::Get().Reset();
    auto client = simhost::Client::Create();
    ComPtr<IClassFactory> factory;
    ComPtr<IDTExtensibility2> addin;
    pvl::GetClassObject(pvl::CLSID_Connect, IID_PPV_ARGS(&factory));
    if (factory) factory->CreateInstance(nullptr, IID_PPV_ARGS(&addin));
    if (!addin) return result;
    addin->OnConnection(client.app.Get(), ext_cm_Startup, client.addIn.Get(), nullptr);

    // Samples are taken right after a window that was recorded in, so that each one finds the same
    // set of objects held: the add-in keeps the newest mail item, and with it its attachment.
    const int step = std::max(1, plan.recordEvery);
    auto roundUp = [step](int n) { return std::max(step, (n + step - 1) / step * step); };
    const int warmUp = roundUp(plan.windows / 10);
    const int every = roundUp((plan.windows - warmUp) / std::max(1, plan.samples));
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    for (int w = 1; w <= plan.windows; ++w) {
        auto mail = client.NewMail();
        auto inspector = client.Open(mail.Get());
        if (plan.recordEvery > 0 && w % plan.recordEvery == 0) {
            if (auto* record = SoakButton(inspector.Get(), 1)) record->Click();
            if (auto* stop = SoakButton(inspector.Get(), 3)) stop->Click();
            ++result.cycles;
            if (!mail->GetAttachments().All().empty()) ++result.attached;
        }
        inspector->CloseWindow();
        inspector.Reset();
        mail.Reset();
        // The host's call log is the test's bookkeeping, not the add-in's: it would grow without end.
        simhost::Host::Get().ClearLog();
        result.windows = w;
        if (w >= warmUp && (w - warmUp) % every == 0) {
            SoakSample s;
            s.windows = w;
            s.cycles = result.cycles;
            s.r = MeasureResources();
            s.connects = pvl::Connect::LiveObjects();
            result.samples.push_back(s);
            if (progress) {
                char label[40];
                std::snprintf(label, sizeof label, "%5d/%-4d", w, result.cycles);
                PrintResources(progress, label, s.r);
                std::fflush(progress);
            }
        }
    }
    QueryPerformanceCounter(&t1);
    result.seconds = double(t1.QuadPart - t0.QuadPart) / double(f.QuadPart);
    addin->OnDisconnection(ext_dm_HostShutdown, nullptr);
    addin.Reset();
    factory.Reset();
    client.app->CloseAll();
    client = {};
    pvl::SetMciBackendFactory({});
    return result;
}

}  // namespace pvltest
