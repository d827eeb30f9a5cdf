// The encoder step of Stop, exposed for tests and the benchmark.
#pragma once
#include <windows.h>
#include <string>

namespace pvl {

// The encoder's command line: folder\lame.exe "folder\Parvaline.wav" "folder\Parvaline.mp3".
HRESULT EncoderCommandLine(std::wstring* commandLine);
// How long Stop waits for the encoder before it gives up on it, for a wave file of this size.
DWORD EncoderTimeoutMs(const std::wstring& wavePath);
// Replaces the bound (0 restores it): tests that hang the encoder on purpose need not wait minutes.
void OverrideEncoderTimeout(DWORD ms);
// Makes the encoder's process creation fail with `error` (ERROR_SUCCESS restores it), as a PC whose
// policy forbids the mail program to start programs does: tests of the in-process encoder.
void OverrideEncoderStart(DWORD error);
// Removes an earlier MP3, runs the encoder hidden and waits for it (bounded). When the encoder
// program cannot be started at all, encodes in process with LAME's library instead (same bound).
HRESULT RunEncoder(DWORD* waitResult);

// What Stop tells the user when a recording ended but the mail did not receive it, followed by the
// path of the recording, which stays beside the component.
inline constexpr wchar_t kNotAttachedText[] =
    L"The voice message could not be attached to the mail. The recording was kept in:\n";
std::wstring NotAttachedMessage(const std::wstring& wavePath);

}  // namespace pvl
