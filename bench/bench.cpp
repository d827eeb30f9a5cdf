// Benchmarks of the add-in's own work, through the simulated mail client: each figure is the
// median of many runs. The audio device is a stand-in that answers at once, so the figures are the
// add-in's time, not the sound driver's; there is no encoder beside the benchmark, so Stop's figure
// leaves out the encoder's own run.
#include "addin/connect.h"
#include "about/about_window.h"
#include "recorder/mci_backend.h"
#include "server/class_factory.h"
#include "simhost/simhost.h"
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

using pvl::ComPtr;

class InstantDevice final : public pvl::MciBackend {
public:
    DWORD Send(const std::wstring&, HWND) override { return 0; }
    UINT DeviceId(const std::wstring&) override { return 1; }
};

double NowMs() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return 1000.0 * double(t.QuadPart) / double(f.QuadPart);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

ComPtr<IDTExtensibility2> NewAddin() {
    ComPtr<IClassFactory> factory;
    ComPtr<IDTExtensibility2> addin;
    pvl::GetClassObject(pvl::CLSID_Connect, IID_PPV_ARGS(&factory));
    if (factory) factory->CreateInstance(nullptr, __uuidof(IDTExtensibility2), reinterpret_cast<void**>(addin.GetAddressOf()));
    return addin;
}

void Report(const char* what, const std::vector<double>& samples) {
    std::printf("%-44s median %8.3f ms   (%zu runs, min %.3f, max %.3f)\n", what, Median(samples), samples.size(),
                *std::min_element(samples.begin(), samples.end()), *std::max_element(samples.begin(), samples.end()));
}

simhost::CommandBarButton* Button(simhost::Inspector* inspector, size_t i) {
    return inspector->Bars().Named(L"Parvaline").front()->Controls().Buttons()[i].Get();
}

}  // namespace

int main() {
    if (FAILED(OleInitialize(nullptr))) return 2;
    pvl::SetMciBackendFactory([] { return std::make_unique<InstantDevice>(); });
    std::vector<double> connect, bar, recordStop;
    for (int run = 0; run < 200; ++run) {
        simhost::Host::Get().Reset();
        auto client = simhost::Client::Create();
        auto addin = NewAddin();
        SAFEARRAY* custom = nullptr;
        double t0 = NowMs();
        addin->OnConnection(client.app.Get(), ext_cm_Startup, client.addIn.Get(), &custom);
        connect.push_back(NowMs() - t0);

        auto mail = client.NewMail();
        t0 = NowMs();
        auto inspector = client.Open(mail.Get());
        bar.push_back(NowMs() - t0);

        if (run < 100) {
            t0 = NowMs();
            Button(inspector.Get(), 1)->Click();
            Button(inspector.Get(), 3)->Click();
            recordStop.push_back(NowMs() - t0);
        }
        inspector->CloseWindow();
        addin.Reset();
        client.app->CloseAll();
    }
    std::printf("Parvaline benchmarks (the add-in's own time)\n");
    Report("OnConnection (first use: window and device)", connect);
    Report("new mail window: the bar and its buttons", bar);
    Report("Record then Stop (device answers at once)", recordStop);
    std::printf("host objects left: %ld, advised sinks left: %ld\n", simhost::Host::Get().LiveObjects(),
                simhost::Host::Get().AdvisedSinks());
    pvl::SetMciBackendFactory({});
    OleUninitialize();
    return 0;
}
