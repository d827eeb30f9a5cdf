#include "common/module.h"
#include <shlwapi.h>
#include <vector>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace pvl {

HINSTANCE ModuleInstance() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

HRESULT ComponentFolder(std::wstring* folder) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(ModuleInstance(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return HRESULT_FROM_WIN32(GetLastError());
        if (n < buffer.size()) break;
        if (buffer.size() >= 32768) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        buffer.resize(buffer.size() * 2);  // a long path: try again with room for it
    }
    // Strips the file name; keeps the separator of a drive root ("C:\").
    PathRemoveFileSpecW(buffer.data());
    folder->assign(buffer.data());
    return S_OK;
}

HRESULT ComponentPath(const wchar_t* suffix, std::wstring* path) {
    std::wstring folder;
    const HRESULT hr = ComponentFolder(&folder);
    if (FAILED(hr)) return hr;
    *path = folder + suffix;
    return S_OK;
}

}  // namespace pvl
