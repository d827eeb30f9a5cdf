// What the recorder checks of a recording's files before it trusts them: whether the sound in a wave
// file is silence, and which programs hold a file open.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace pvl {

// The level below which a whole recording counts as silence: -50 dBFS.
inline constexpr double kSilenceDbfs = -50.0;

// Whether a 16-bit PCM wave file holds nothing but silence: every sample below kSilenceDbfs. False
// for a file that cannot be read or is no such wave: silence is claimed only where it is measured.
bool IsSilentWave(const std::wstring& path);

// The programs that hold `path` open, by the names the user knows them by, as Windows' Restart
// Manager reports them; empty where it cannot tell.
std::vector<std::wstring> ProgramsUsing(const std::wstring& path);

}  // namespace pvl
