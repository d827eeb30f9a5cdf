// A stand-in for the encoder, for tests: it writes down how it was started, then behaves as the
// test asks through PVL_FAKE_LAME: "encode" (default; writes a small MP3-like file to its second
// argument), "fail" (exit code 1, writes nothing), "nothing" (exit code 0, writes nothing),
// "hang" (never ends), "crash" (an access violation), "half" (writes the start of an MP3, as a full
// disk or a crash mid-encode leaves it, and exits with 1).
#include <windows.h>
#include <shellapi.h>
#include <cstdio>
#include <string>

namespace {
std::wstring Folder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\'));
}

void AppendLog(const std::wstring& line) {
    const std::wstring log = Folder() + L"\\fake_lame.log";
    HANDLE f = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    const std::wstring text = line + L"\n";
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), n, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(f, utf8.data(), static_cast<DWORD>(utf8.size() - 1), &written, nullptr);
    CloseHandle(f);
}
}  // namespace

int wmain() {
    STARTUPINFOW startup{sizeof(startup)};
    GetStartupInfoW(&startup);
    AppendLog(L"cmdline=" + std::wstring(GetCommandLineW()));
    AppendLog(L"show=" + std::to_wstring((startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1));

    wchar_t mode[32] = L"encode";
    GetEnvironmentVariableW(L"PVL_FAKE_LAME", mode, 32);
    const std::wstring m = mode;
    if (m == L"fail") return 1;
    if (m == L"nothing") return 0;
    if (m == L"hang") Sleep(INFINITE);
    if (m == L"crash") *static_cast<volatile int*>(nullptr) = 0;

    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    HANDLE in = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return 3;
    CloseHandle(in);
    HANDLE out = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return 4;
    const char frame[] = "ID3\x03\x00\x00\x00\x00\x00\x00 fake mp3";
    const DWORD length = m == L"half" ? (sizeof(frame) - 1) / 2 : sizeof(frame) - 1;
    DWORD written = 0;
    WriteFile(out, frame, length, &written, nullptr);
    CloseHandle(out);
    LocalFree(argv);
    return m == L"half" ? 1 : 0;
}
