#include "about/about_window.h"
#include "addin/connect.h"
#include "common/module.h"
#include "common/result.h"
#include <memory>

namespace pvl {

namespace {
constexpr wchar_t kWindowClass[] = L"ParvalineAbout";
std::unique_ptr<AboutWindow> g_about;  // the user-interface thread's one instance
}  // namespace

AboutWindow::~AboutWindow() {
    mci_.Reset();  // closes the device before its host window goes
    window_.reset();
}

LRESULT CALLBACK AboutWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CLOSE:
            // Hidden, never destroyed: the audio control lives on this window.
            ShowWindow(hwnd, SW_HIDE);
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

HRESULT AboutWindow::Create() {
    static const ATOM atom = [] {
        WNDCLASSEXW wc{sizeof(wc)};
        wc.lpfnWndProc = &AboutWindow::WindowProc;
        wc.hInstance = ModuleInstance();
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kWindowClass;
        return RegisterClassExW(&wc);
    }();
    if (!atom) return HRESULT_FROM_WIN32(ERROR_CLASS_DOES_NOT_EXIST);
    window_.reset(CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOOLWINDOW, kWindowClass, L"About Parvaline",
                                  WS_POPUP | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 390, 270,
                                  nullptr, nullptr, ModuleInstance(), nullptr));
    if (!window_) return LastErrorResult();
    return CreateMciControl(&mci_);
}

HRESULT frmAbout(AboutWindow** window) {
    *window = nullptr;
    if (!g_about) {
        auto about = std::unique_ptr<AboutWindow>(new (std::nothrow) AboutWindow());
        if (!about) return E_OUTOFMEMORY;
        RETURN_IF_FAILED(about->Create());
        g_about = std::move(about);
    }
    *window = g_about.get();
    return S_OK;
}

AboutWindow* ExistingAboutWindow() { return g_about.get(); }

void DestroyAboutWindow() { g_about.reset(); }

HRESULT Connect::ButtonPVL_Click(IDispatch*, VARIANT_BOOL*) {
    // The About box's content and modal showing are not built yet.
    return E_NOTIMPL;
}

}  // namespace pvl
