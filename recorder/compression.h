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
// Removes an earlier MP3, runs the encoder hidden and waits for it (bounded).
HRESULT RunEncoder(DWORD* waitResult);

}  // namespace pvl
