// Stands in for the browser and the mail program in the About tests. Registered as the handler of
// web addresses, "mailto:" addresses and .htm files, it appends one line per start to a log:
//     pvl_shell_logger.exe LOGFILE VERB TARGET   ->   "VERB<TAB>SHOW<TAB>TARGET\n" (UTF-8)
// SHOW is the show command the shell passed on (-1 when it passed none).
#include <windows.h>
#include <shellapi.h>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 4) return 2;
    STARTUPINFOW startup = {sizeof(startup)};
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
    const std::wstring line = std::wstring(argv[2]) + L"\t" + std::to_wstring(show) + L"\t" + argv[3] + L"\n";
    std::string utf8(WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.pop_back();  // the terminator
    // Two starts may overlap: retry while the other one holds the file.
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE log = CreateFileW(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (log != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(log, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
            CloseHandle(log);
            LocalFree(argv);
            return 0;
        }
        Sleep(10);
    }
    LocalFree(argv);
    return 1;
}
