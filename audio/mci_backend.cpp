#include "audio/mci_backend.h"
#include <mmsystem.h>

namespace pvl {

namespace {
// Wine unloads the wave driver when its last device closes, even while the driver's capture or
// playback thread is still finishing, and the process faults. That thread can outlive the control
// too, so the driver is pinned for the life of the process, once a device has opened and so loaded
// it (not before: loading it at connection would cost the host's start-up for nothing). On Windows
// this only keeps a driver loaded that would be loaded again at the next recording.
HMODULE PinnedWaveDriver() {
    static const HMODULE driver = [] {
        HMODULE m = nullptr;
        return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"mciwave.dll", &m) ? m : nullptr;
    }();
    return driver;
}

class WinmmBackend final : public MciBackend {
public:
    DWORD Send(const std::wstring& command, HWND notifyWindow) override {
        const DWORD error = mciSendStringW(command.c_str(), nullptr, 0, notifyWindow);
        if (!error && !driver_ && command.rfind(L"open ", 0) == 0) driver_ = PinnedWaveDriver();
        return error;
    }
    UINT DeviceId(const std::wstring& alias) override { return mciGetDeviceIDW(alias.c_str()); }
    HMODULE DriverModule() override { return driver_; }

private:
    HMODULE driver_ = nullptr;
};

std::function<std::unique_ptr<MciBackend>()>& Factory() {
    static std::function<std::unique_ptr<MciBackend>()> factory;
    return factory;
}
}  // namespace

std::unique_ptr<MciBackend> MakeWinmmBackend() { return std::make_unique<WinmmBackend>(); }

void SetMciBackendFactory(std::function<std::unique_ptr<MciBackend>()> factory) { Factory() = std::move(factory); }

std::unique_ptr<MciBackend> MakeMciBackend() { return Factory() ? Factory()() : MakeWinmmBackend(); }

}  // namespace pvl
