// Shows the About window on its own for a few seconds, so that it can be looked at or captured
// (tools/screenshot-about.sh):   pvl_about_preview.exe [SECONDS]
#include "about/about_window.h"
#include <cwchar>
#include <objbase.h>

namespace {
// OK is pressed for the viewer when the time is up.
void CALLBACK TimeUp(HWND, UINT, UINT_PTR, DWORD) {
    if (pvl::AboutWindow* about = pvl::ExistingAboutWindow()) PostMessageW(about->hwnd(), WM_COMMAND, IDOK, 0);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (FAILED(OleInitialize(nullptr))) return 2;
    const UINT seconds = argc > 1 ? static_cast<UINT>(std::wcstoul(argv[1], nullptr, 10)) : 5;
    pvl::AboutWindow* about = nullptr;
    if (FAILED(pvl::frmAbout(&about))) return 3;
    SetTimer(nullptr, 0, seconds * 1000, &TimeUp);
    const HRESULT hr = about->ShowModal();
    pvl::DestroyAboutWindow();
    OleUninitialize();
    return FAILED(hr) ? 1 : 0;
}
