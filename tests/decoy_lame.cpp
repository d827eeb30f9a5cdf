// A DLL named like LAME's library, planted by the tests where the DLL search order looks. It writes
// down that it was loaded, beside itself, and offers one of the library's names.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH];
        const DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
        if (n && n < MAX_PATH) {
            wchar_t* slash = wcsrchr(path, L'\\');
            if (slash) {
                lstrcpyW(slash + 1, L"decoy-loaded.txt");
                HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
                if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
            }
        }
    }
    return TRUE;
}

extern "C" __declspec(dllexport) void* lame_init() { return nullptr; }
