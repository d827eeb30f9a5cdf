// The encoder inside the add-in's own process, for PCs where no program may be started: LAME's own
// library (libmp3lame.dll beside the component, from the same source as lame.exe), driven the way
// lame.exe drives it, so that the same wave gives the same MP3.
#pragma once
#include <windows.h>
#include <string>

namespace pvl {

// Encodes a 16-bit PCM wave file to an MP3 file with lame.exe's default settings for it. The library
// (libmp3lame.dll beside the component) is loaded by its full path for this call only. Gives up, removing the
// MP3, once `timeoutMs` has passed. Fails, writing nothing, when the library is missing or not a
// usable LAME, or the wave is not one it reads.
HRESULT EncodeInProcess(const std::wstring& libraryPath, const std::wstring& wavePath, const std::wstring& mp3Path,
                        DWORD timeoutMs);

}  // namespace pvl
