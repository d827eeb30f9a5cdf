#include "audio/mci_backend.h"
#include <mmsystem.h>

namespace pvl {

namespace {
class WinmmBackend final : public MciBackend {
public:
    DWORD Send(const std::wstring& command, HWND notifyWindow) override {
        return mciSendStringW(command.c_str(), nullptr, 0, notifyWindow);
    }
    UINT DeviceId(const std::wstring& alias) override { return mciGetDeviceIDW(alias.c_str()); }
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
