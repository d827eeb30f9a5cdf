// The MCI command interface under the audio control: winmm in the product, a scripted stand-in in
// tests that need to see or fail each device command.
#pragma once
#include <windows.h>
#include <functional>
#include <memory>
#include <string>

namespace pvl {

class MciBackend {
public:
    virtual ~MciBackend() = default;
    // Sends one MCI command string; notifications go to `notifyWindow`. Returns an MCI error (0 = ok).
    virtual DWORD Send(const std::wstring& command, HWND notifyWindow) = 0;
    // The device id behind an alias (0 when none is open), as MM_MCINOTIFY reports it.
    virtual UINT DeviceId(const std::wstring& alias) = 0;
    // The module the driver runs its own threads from (null: none to wait for). A driver may record
    // on a thread that outlives "stop"; the control waits for the threads that start in this module
    // while a recording runs.
    virtual HMODULE DriverModule() { return nullptr; }
};

std::unique_ptr<MciBackend> MakeWinmmBackend();

// Replaces the backend that the next audio control created in this module will use (tests only);
// an empty function restores winmm.
void SetMciBackendFactory(std::function<std::unique_ptr<MciBackend>()> factory);
std::unique_ptr<MciBackend> MakeMciBackend();

}  // namespace pvl
