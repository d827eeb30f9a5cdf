// What the recorder tells the user, in a task-modal box titled "Parvaline", when something went wrong
// that the user cannot see: a recording that could not start or heard nothing, an earlier recording
// that another program holds, a voice that did not reach its mail (compression.h).
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace pvl {

inline constexpr wchar_t kCannotStartText[] =
    L"The recording could not start: the microphone could not be opened. Check that a microphone or "
    L"headset is plugged in and switched on, and that no other program (a call or a meeting) is using "
    L"it. Then press Record again.";

inline constexpr wchar_t kSilentText[] =
    L"Nothing was heard in this voice message. It is attached to the mail, but it is silent. Check the "
    L"microphone's mute switch, and in Windows' Settings \u203A Privacy \u203A Microphone that \"Let desktop "
    L"apps access your microphone\" is on. Then record the message again.";

// The earlier recording cannot be removed: `programs` hold it open (empty when they cannot be named).
std::wstring RecordingHeldText(const std::wstring& wavePath, const std::vector<std::wstring>& programs);

// Shows `text` in a task-modal box titled "Parvaline", as a message of the host application's own.
HRESULT TellUser(const std::wstring& text);

}  // namespace pvl
