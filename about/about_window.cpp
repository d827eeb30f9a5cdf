#include "about/about_window.h"
#include "about/about_resource.h"
#include "about/links.h"
#include "common/module.h"
#include "common/result.h"
#include <memory>

namespace pvl {

namespace {
constexpr wchar_t kWindowClass[] = L"ParvalineAbout";
// The user-interface thread's one instance. A plain pointer, not a static owner: static objects are
// destroyed at process exit too, when the host may end without releasing its add-ins and nothing of
// ours may touch windows, the device or COM any more.
AboutWindow* g_about = nullptr;

// The window was designed in twips, which, like the dialog font's points, are a fraction of a
// logical inch: placing every box at twips * dpi / 1440 keeps the boxes and the text in proportion
// at every screen resolution (15 twips to the pixel at 96 dpi, 12 at 120, 10 at 144).
constexpr int kTwipsPerInch = 1440;
constexpr SIZE kClientTwips = {5730, 3510};

struct TwipsBox {
    int id;
    int left, top, width, height;
};
constexpr TwipsBox kBoxes[] = {
    {IDC_PICICON, 240, 240, 540, 540},
    {IDC_LBLTITLE, 1050, 240, 3885, 240},
    {IDC_LBLVERSION, 1050, 480, 3885, 225},
    {IDC_BUTTONHOMEPAGE, 120, 960, 1335, 375},
    {IDC_BUTTONEMAIL, 2160, 960, 1335, 375},
    {IDC_BUTTONHELP, 4200, 960, 1335, 375},
    {IDC_LBLDISCLAIMER, 120, 2280, 3855, 1155},
    {IDOK, 4245, 2280, 1260, 345},
};
// The etched separator: a grey line over a white one that is two pixels wide and a little shorter,
// so the pair reads as a groove. The audio control's box (5400, 3120, 3540, 375) needs no window.
constexpr int kLineLeft = 120, kLineY = 2160, kGreyLineRight = 5684, kWhiteLineRight = 5669;
constexpr COLORREF kGrey = RGB(128, 128, 128);
constexpr UINT_PTR kTickTimer = 1;

class ScreenDc {
public:
    ScreenDc() : dc_(GetDC(nullptr)) {}
    ~ScreenDc() {
        if (dc_) ReleaseDC(nullptr, dc_);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    int Dpi(int axis) const {
        const int dpi = dc_ ? GetDeviceCaps(dc_, axis) : 0;
        return dpi > 0 ? dpi : 96;
    }

private:
    HDC dc_;
};
// A dialog class of its own (DefDlgProc, DLGWINDOWEXTRA), so that the window is told apart from
// the system's message boxes and the host's dialogs.
HRESULT RegisterWindowClass() {
    WNDCLASSEXW wc{sizeof(wc)};
    wc.lpfnWndProc = DefDlgProcW;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = ModuleInstance();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    if (RegisterClassExW(&wc)) return S_OK;
    // Classes outlive the module: loaded again at the same address, it finds its earlier class,
    // whose procedure is the system's and serves as well.
    return GetLastError() == ERROR_CLASS_ALREADY_EXISTS ? S_OK : LastErrorResult();
}
}  // namespace

AboutWindow::~AboutWindow() {
    StopTicking();
    ReleaseModalOwner();
    mci_.Reset();  // closes the device before its host window goes
    window_.reset();
    picture_.reset();  // only once the control that shows it is gone
    owner_.reset();
}

int AboutWindow::TwipsToPixelsX(int twips) const { return MulDiv(twips, dpiX_, kTwipsPerInch); }
int AboutWindow::TwipsToPixelsY(int twips) const { return MulDiv(twips, dpiY_, kTwipsPerInch); }

INT_PTR CALLBACK AboutWindow::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    auto* self = reinterpret_cast<AboutWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    if (msg == WM_INITDIALOG) {
        try {
            return self->OnInitDialog(hwnd);
        } catch (...) {
            return FALSE;
        }
    }
    try {
        return self->HandleMessage(msg, wp, lp);
    } catch (...) {
        return FALSE;  // no exception may leave a window procedure
    }
}

INT_PTR AboutWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
            OnCommand(LOWORD(wp), HIWORD(wp));
            return TRUE;
        case WM_CLOSE:
            // The title bar's close button hides, as OK does: the audio control lives on this window.
            Hide();
            return TRUE;
        case WM_DRAWITEM:
            return OnDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
        case WM_TIMER:
            if (wp != kTickTimer || !tick_) return FALSE;
            {
                const auto tick = tick_;  // it may stop the ticking
                tick();
            }
            return TRUE;
        case WM_CTLCOLORSTATIC:
            return reinterpret_cast<INT_PTR>(OnCtlColorStatic(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp)));
        default:
            return FALSE;
    }
}

BOOL AboutWindow::OnInitDialog(HWND hwnd) {
    picture_.reset(LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(IDB_ABOUT_PICTURE), IMAGE_BITMAP, 0, 0,
                              LR_DEFAULTCOLOR));
    SendDlgItemMessageW(hwnd, IDC_PICICON, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_.get()));
    PlaceControls(hwnd);
    SendMessageW(hwnd, DM_SETDEFID, IDOK, 0);
    // No focus yet: the window is hidden, and taking the focus would take activation from the host.
    return FALSE;
}

void AboutWindow::PlaceControls(HWND dialog) {
    const ScreenDc screen;
    dpiX_ = screen.Dpi(LOGPIXELSX);
    dpiY_ = screen.Dpi(LOGPIXELSY);
    for (const TwipsBox& box : kBoxes)
        MoveWindow(GetDlgItem(dialog, box.id), TwipsToPixelsX(box.left), TwipsToPixelsY(box.top),
                   TwipsToPixelsX(box.width), TwipsToPixelsY(box.height), FALSE);
    // Two rows: the grey line and, under it, the lower half of the white one.
    MoveWindow(GetDlgItem(dialog, IDC_LINE1), TwipsToPixelsX(kLineLeft), TwipsToPixelsY(kLineY),
               TwipsToPixelsX(kGreyLineRight) - TwipsToPixelsX(kLineLeft), 2, FALSE);

    RECT frame = {0, 0, TwipsToPixelsX(kClientTwips.cx), TwipsToPixelsY(kClientTwips.cy)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
    SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void AboutWindow::OnCommand(int id, UINT code) {
    switch (id) {
        case IDOK:
        case IDCANCEL:  // Esc: cmdOK is the cancel button as well as the default one
            Hide();
            break;
        case IDC_BUTTONHOMEPAGE:
            if (code == BN_CLICKED) OpenHomepage();
            break;
        case IDC_BUTTONEMAIL:
            if (code == BN_CLICKED) OpenSupportEmail();
            break;
        case IDC_BUTTONHELP:
            if (code == BN_CLICKED) OpenHelp();
            break;
        default:
            break;
    }
}

BOOL AboutWindow::OnDrawItem(const DRAWITEMSTRUCT* item) {
    if (item->CtlID != IDC_LINE1) return FALSE;
    const RECT& r = item->rcItem;
    const RECT white = {r.left, r.top, r.left + TwipsToPixelsX(kWhiteLineRight) - TwipsToPixelsX(kLineLeft), r.top + 2};
    FillRect(item->hDC, &white, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const RECT grey = {r.left, r.top, r.right, r.top + 1};
    SetDCBrushColor(item->hDC, kGrey);
    FillRect(item->hDC, &grey, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    return TRUE;
}

HBRUSH AboutWindow::OnCtlColorStatic(HDC dc, HWND control) {
    switch (GetDlgCtrlID(control)) {
        case IDC_PICICON:
            // The picture box is white inside, also around the picture where the box outgrows it.
            return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        case IDC_LBLTITLE:
        case IDC_LBLDISCLAIMER:
            // Black whatever the user's colour scheme, as designed.
            SetTextColor(dc, RGB(0, 0, 0));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            return GetSysColorBrush(COLOR_BTNFACE);
        default:
            return nullptr;  // the dialog's own colours
    }
}

void AboutWindow::CenterOnScreen() {
    const HWND dialog = hwnd();
    RECT window;
    if (!GetWindowRect(dialog, &window)) return;
    MONITORINFO monitor = {sizeof(monitor)};
    if (!GetMonitorInfoW(MonitorFromWindow(modalOwner_ ? modalOwner_ : dialog, MONITOR_DEFAULTTOPRIMARY), &monitor))
        return;
    const RECT& screen = monitor.rcWork;  // the screen less the task bar
    const int x = screen.left + ((screen.right - screen.left) - (window.right - window.left)) / 2;
    const int y = screen.top + ((screen.bottom - screen.top) - (window.bottom - window.top)) / 2;
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void AboutWindow::ReleaseModalOwner() {
    if (modalOwner_) EnableWindow(std::exchange(modalOwner_, nullptr), TRUE);
}

void AboutWindow::Hide() {
    // The host window is enabled before this one hides, so that the system hands activation back to
    // it rather than to some other program.
    ReleaseModalOwner();
    ShowWindow(hwnd(), SW_HIDE);
    // Wakes the modal loop, which waits for posted messages and would not see a hide done inside
    // a message sent from another thread.
    PostMessageW(hwnd(), WM_NULL, 0, 0);
}

HRESULT AboutWindow::StartTicking(UINT ms, std::function<void()> tick) {
    if (!SetTimer(hwnd(), kTickTimer, ms, nullptr)) return LastErrorResult();
    tick_ = std::move(tick);
    return S_OK;
}

void AboutWindow::StopTicking() {
    if (tick_) KillTimer(hwnd(), kTickTimer);
    tick_ = nullptr;
}

HRESULT AboutWindow::SetCaption(const wchar_t* caption) { return BoolResult(SetWindowTextW(hwnd(), caption)); }

HRESULT AboutWindow::SetOkCaption(const wchar_t* caption) { return BoolResult(SetDlgItemTextW(hwnd(), IDOK, caption)); }

HRESULT AboutWindow::ShowModal() {
    const HWND dialog = hwnd();
    if (!dialog) return E_HANDLE;
    if (!IsWindowVisible(dialog)) {
        // The host window the product button was pressed in is treated as the owner: disabled, as a
        // modal box's owner is, until the box hides.
        const HWND active = GetActiveWindow();
        if (active && active != dialog && IsWindowEnabled(active)) {
            EnableWindow(active, FALSE);
            modalOwner_ = active;
        }
        CenterOnScreen();
        ShowWindow(dialog, SW_SHOW);
    }
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDOK)), TRUE);

    // Only `dialog` is used from here on: a handler run by this loop may end the component, and
    // this object with it.
    MSG msg;
    while (IsWindow(dialog) && IsWindowVisible(dialog)) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) return LastErrorResult();
        if (got == 0) {
            // The thread is ending: the quit belongs to the loop outside, which must see it too.
            PostQuitMessage(static_cast<int>(msg.wParam));
            Hide();
            break;
        }
        if (!IsDialogMessageW(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return S_OK;
}

HRESULT AboutWindow::Create() {
    RETURN_IF_FAILED(RegisterWindowClass());
    // An owned window stays out of the task bar; the owner is never shown.
    owner_.reset(CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, ModuleInstance(), nullptr));
    if (!owner_) return LastErrorResult();
    window_.reset(CreateDialogParamW(ModuleInstance(), MAKEINTRESOURCEW(IDD_ABOUT), owner_.get(), &AboutWindow::DialogProc,
                                     reinterpret_cast<LPARAM>(this)));
    if (!window_) return LastErrorResult();
    return CreateMciControl(&mci_);
}

HRESULT frmAbout(AboutWindow** window) {
    *window = nullptr;
    if (!g_about) {
        auto about = std::unique_ptr<AboutWindow>(new (std::nothrow) AboutWindow());
        if (!about) return E_OUTOFMEMORY;
        RETURN_IF_FAILED(about->Create());
        g_about = about.release();
    }
    *window = g_about;
    return S_OK;
}

AboutWindow* ExistingAboutWindow() { return g_about; }

void DestroyAboutWindow() { delete std::exchange(g_about, nullptr); }

void UnregisterAboutWindowClass() { UnregisterClassW(kWindowClass, ModuleInstance()); }

}  // namespace pvl
