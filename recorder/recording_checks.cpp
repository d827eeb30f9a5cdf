#include "recorder/recording_checks.h"
#include "common/raii.h"
#include "common/system_library.h"
#include <restartmanager.h>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace pvl {

namespace {
struct Chunk {
    char id[4];
    uint32_t size;
};
constexpr uint16_t kPcm = 1;

bool ReadExactly(HANDLE file, void* buffer, DWORD size) {
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}
}  // namespace

bool IsSilentWave(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    char riff[12];
    if (!ReadExactly(file.get(), riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) || std::memcmp(riff + 8, "WAVE", 4))
        return false;
    bool pcm16 = false;
    const int limit = static_cast<int>(std::lround(32768.0 * std::pow(10.0, kSilenceDbfs / 20.0)));  // 104
    for (Chunk chunk; ReadExactly(file.get(), &chunk, sizeof chunk);) {
        if (!std::memcmp(chunk.id, "fmt ", 4)) {
            uint16_t format[8] = {};  // tag, channels, rate (2), byte rate (2), align, bits
            if (chunk.size < 16 || !ReadExactly(file.get(), format, 16)) return false;
            pcm16 = format[0] == kPcm && format[7] == 16;
            if (chunk.size > 16) SetFilePointer(file.get(), static_cast<LONG>((chunk.size - 16 + 1) & ~1u), nullptr, FILE_CURRENT);
            continue;
        }
        if (std::memcmp(chunk.id, "data", 4)) {
            SetFilePointer(file.get(), static_cast<LONG>((chunk.size + 1) & ~1u), nullptr, FILE_CURRENT);
            continue;
        }
        if (!pcm16) return false;
        // A recording still being written may say less, or more, than it holds: read what is there.
        int16_t samples[4096];
        DWORD read = 0;
        uint64_t total = 0;
        while (ReadFile(file.get(), samples, sizeof samples, &read, nullptr) && read >= sizeof(int16_t)) {
            for (DWORD i = 0; i < read / sizeof(int16_t); ++i)
                if (std::abs(int{samples[i]}) >= limit) return false;
            total += read;
        }
        return total > 0;
    }
    return false;
}

std::vector<std::wstring> ProgramsUsing(const std::wstring& path) {
    // Loaded when needed, from the system folder: most sessions never ask.
    std::vector<std::wstring> names;
    UniqueHModule rm(LoadSystemLibrary(L"rstrtmgr.dll"));
    if (!rm) return names;
    using StartSession = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
    using RegisterResources = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
    using GetList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
    using EndSession = DWORD(WINAPI*)(DWORD);
    auto start = reinterpret_cast<StartSession>(reinterpret_cast<void*>(GetProcAddress(rm.get(), "RmStartSession")));
    auto add = reinterpret_cast<RegisterResources>(reinterpret_cast<void*>(GetProcAddress(rm.get(), "RmRegisterResources")));
    auto list = reinterpret_cast<GetList>(reinterpret_cast<void*>(GetProcAddress(rm.get(), "RmGetList")));
    auto end = reinterpret_cast<EndSession>(reinterpret_cast<void*>(GetProcAddress(rm.get(), "RmEndSession")));
    if (!start || !add || !list || !end) return names;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = L"";
    if (start(&session, 0, key) != ERROR_SUCCESS) return names;
    LPCWSTR files[] = {path.c_str()};
    UINT needed = 0, count = 0;
    DWORD reasons = 0;
    std::vector<RM_PROCESS_INFO> found;
    if (add(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
        DWORD result = list(session, &needed, &count, nullptr, &reasons);
        for (int tries = 0; result == ERROR_MORE_DATA && tries < 3; ++tries) {
            found.resize(needed);
            count = needed;
            result = list(session, &needed, &count, found.data(), &reasons);
        }
        found.resize(result == ERROR_SUCCESS ? count : 0);
    }
    end(session);
    const DWORD self = GetCurrentProcessId();
    for (const RM_PROCESS_INFO& p : found)
        if (p.Process.dwProcessId != self && p.strAppName[0]) names.emplace_back(p.strAppName);
    return names;
}

}  // namespace pvl
