// Parvaline Mail: a small mail client with windows, built on the simulated host objects. At start
// it loads the registered add-ins as the real client does (simhost/addin_loader), and each
// mail window draws the command bars that the add-ins built in it straight from the host's own
// objects: every button's picture through its mask, its caption and its enabled state. Above the
// bars it draws the ribbon groups the add-ins added to the window's tab, from the simulated
// ribbon's views: labels, pictures with their alpha channel, greyed when disabled. Buttons of both
// answer the mouse and the keyboard (Tab to them, arrows to choose, Space or Enter to press).
//
//   pvlMail.exe [--out DIR] [--script STEP,STEP,...]
//
// A script drives the client unattended, one step after the other, with the windows painting in
// between:
//   record[:S]     press Record (and wait S seconds)      wait:S      let S seconds pass
//   stop           press Stop (the time the client was blocked is measured)
//   play           press Play and wait until playback ends (at most 60 s)
//   about[:NAME]   press the product button; while the About window is up, capture it as
//                  DIR\NAME.bmp (default "about"), then press its OK
//   shot:NAME      capture the mail window as DIR\NAME.bmp
//   save:PATH      save the mail as PATH (.eml)          newmail / close    File > New Mail / Close
//   to:ADDRESS     subject:TEXT                           fill in the mail's fields
//   click:TAG      a mouse click on the bar button with that tag (Record, Play, Stop, Parvaline)
//   key:TAG        the same button pressed from the keyboard: Home, Right arrows, Enter
//   expect:TAG+    the button is enabled (TAG- : disabled)      attachments:N   the mail has N
//   ribbon:ID      a mouse click on the ribbon button with that id (pvlRecord, pvlPlay, ...)
//   ribbonkey:ID   the same pressed from the keyboard          expectribbon:ID+ / ID-   its state
//   expectdrawn:ID+ / ID-   its picture is painted in colour / grey
// The script ends by closing every window; the exit code says whether every step went through, and
// the last line printed is a summary of the voice mail.
#include "common/raii.h"
#include "eml.h"
#include "recorder/recording_files.h"
#include "simhost/addin_loader.h"
#include "simhost/simhost.h"
#include <windowsx.h>
#include <commdlg.h>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using pvl::ComPtr;

constexpr wchar_t kMailClass[] = L"ParvalineMailWindow";
constexpr wchar_t kBarClass[] = L"ParvalineCommandBarStrip";
constexpr wchar_t kRibbonClass[] = L"ParvalineRibbonStrip";
constexpr wchar_t kDefaultBody[] = L"Hello,\r\n\r\nplease listen to the voice message attached to this mail.\r\n";

enum : UINT_PTR { kRefreshTimer = 1 };
enum : int {
    IDM_NEW = 100, IDM_SAVE, IDM_CLOSE, IDM_EXIT,
    IDC_RIBBON = 199, IDC_BAR = 200, IDC_TO_LABEL, IDC_TO, IDC_SUBJECT_LABEL, IDC_SUBJECT, IDC_BODY, IDC_ATTACH_LABEL, IDC_ATTACHMENTS,
};

constexpr int kButtonHeight = 24;
constexpr int kRowHeight = 30;
constexpr int kIcon = 16;
// The ribbon: a row for the tab's name, then the groups with their labels underneath; the least
// sizes, which grow with the window's font and the pictures (drawn for the display's DPI).
constexpr int kRibbonTabRow = 22;
constexpr int kRibbonBody = 86;
constexpr int kRibbonHeight = kRibbonTabRow + kRibbonBody;
constexpr int kLargeIcon = 32;
constexpr int kLargeButtonHeight = 66;
constexpr int kSmallButtonHeight = 22;

void Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

double NowMs() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return 1000.0 * double(t.QuadPart) / double(f.QuadPart);
}

std::string Narrow(const std::wstring& s) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}

bool WriteAll(const std::wstring& path, const void* data, size_t size) {
    pvl::UniqueFile f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return f && WriteFile(f.get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

// Seconds of sound in a PCM wave file, read from its header; 0 when it cannot be read.
double WaveSeconds(const std::wstring& path) {
    pvl::UniqueFile f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!f) return 0;
    unsigned char head[4096];
    DWORD got = 0;
    if (!ReadFile(f.get(), head, sizeof head, &got, nullptr) || got < 12) return 0;
    auto u32 = [&](DWORD at) { return DWORD(head[at]) | DWORD(head[at + 1]) << 8 | DWORD(head[at + 2]) << 16 | DWORD(head[at + 3]) << 24; };
    DWORD byteRate = 0, dataBytes = 0;
    for (DWORD at = 12; at + 8 <= got;) {
        const DWORD size = u32(at + 4);
        if (!memcmp(head + at, "fmt ", 4) && at + 16 <= got) byteRate = u32(at + 16);
        if (!memcmp(head + at, "data", 4)) {
            dataBytes = size;
            break;
        }
        at += 8 + size + (size & 1);
    }
    return byteRate ? double(dataBytes) / byteRate : 0;
}

// Writes what the screen shows in `rect` as a 24-bit bitmap file.
bool CaptureScreenRect(const RECT& rect, const std::wstring& path) {
    const int w = rect.right - rect.left, h = rect.bottom - rect.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, w, h, screen, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        SelectObject(memory, old);
        const DWORD stride = (w * 3 + 3) & ~3u, imageSize = stride * h;
        BITMAPFILEHEADER file{0x4D42, DWORD(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + imageSize), 0, 0,
                              DWORD(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))};
        std::string out(reinterpret_cast<char*>(&file), sizeof file);
        out.append(reinterpret_cast<char*>(&info.bmiHeader), sizeof info.bmiHeader);
        out.append(static_cast<char*>(bits), imageSize);
        ok = WriteAll(path, out.data(), out.size());
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

bool CaptureWindow(HWND hwnd, const std::wstring& path) {
    RECT r;
    return GetWindowRect(hwnd, &r) && CaptureScreenRect(r, path);
}

class MailWindow;

// The client: the application object, the add-ins it loaded, its open mail windows.
struct MailClient {
    ComPtr<simhost::Application> app;
    simhost::AddinLoader loader;
    std::vector<std::unique_ptr<MailWindow>> windows;
    std::wstring outDir = L".";
    HACCEL accelerators = nullptr;
    // Measured for the summary.
    double stopBlockedMs = -1;
    bool quitting = false;

    MailWindow* Open();
    void Closed(MailWindow* window);
    void CloseAll();
    std::wstring AddinFolder() const {
        if (loader.Addins().empty()) return {};
        const std::wstring& p = loader.Addins().front().modulePath;
        return p.substr(0, p.find_last_of(L'\\'));
    }
};

// One mail window: the inspector of one mail item, with its command bars, fields and attachments.
class MailWindow {
public:
    MailWindow(MailClient* client, int number) : client_(client), number_(number) {}
    ~MailWindow() {
        if (hwnd_) DestroyWindow(hwnd_);
    }
    bool Create();
    HWND hwnd() const { return hwnd_; }
    simhost::MailItem* Mail() const { return mail_.Get(); }
    simhost::Inspector* Window() const { return inspector_.Get(); }

    // The buttons of every visible bar, row by row, in the order the bar holds them.
    std::vector<std::vector<simhost::CommandBarButton*>> Rows() const;
    simhost::CommandBarButton* ButtonTagged(const std::wstring& tag) const;
    HRESULT Press(simhost::CommandBarButton* button, double* blockedMs = nullptr);
    bool SaveEml(const std::wstring& path);
    void SetField(int id, const std::wstring& text) { SetDlgItemTextW(hwnd_, id, text.c_str()); }
    void CloseMail();  // the inspector closes as the user closes it; the window goes away
    void Refresh(bool force = false);
    // Input as the user gives it, posted to the bar: a mouse click on the button, or the keyboard
    // (Home, Right until the button, Enter). False when no visible button has the tag.
    bool PostMouseClick(const std::wstring& tag);
    bool PostKeys(const std::wstring& tag);

    // The ribbon groups the add-ins put on this window's tab, as the simulated ribbon shows them.
    std::vector<simhost::RibbonGroupView> RibbonGroups() const;
    std::optional<simhost::RibbonButtonView> RibbonButton(const std::wstring& id) const;
    HRESULT PressRibbon(const std::wstring& id, double* blockedMs = nullptr);
    bool PostRibbonClick(const std::wstring& id);
    bool PostRibbonKeys(const std::wstring& id);
    // The colour at the centre of a ribbon button's picture, as the strip paints it.
    bool DrawnPictureCentre(const std::wstring& id, COLORREF* colour);

    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK BarProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK RibbonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

private:
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT HandleBar(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT HandleRibbon(UINT msg, WPARAM wp, LPARAM lp);
    struct Strip {
        HWND hwnd;
        int *focus, *hot, *pressed;
        int count;
        std::function<int(POINT)> hitTest;
        std::function<void(int)> press;
        std::function<void(HDC)> paint;
    };
    LRESULT HandleStrip(const Strip& strip, UINT msg, WPARAM wp, LPARAM lp);
    struct RibbonItem {
        simhost::RibbonButtonView view;
        RECT rect;
        int icon;  // the picture's size: as drawn for this display, or the size at 96 dpi
    };
    struct RibbonGroupBox {
        std::wstring label;
        RECT rect;
    };
    struct RibbonRows {
        int tab = kRibbonTabRow, label = 20, height = kRibbonHeight;
    };
    // Where each visible ribbon button and each group lie in the ribbon strip, and its rows.
    std::vector<RibbonItem> RibbonItems(std::vector<RibbonGroupBox>* groups = nullptr, RibbonRows* rows = nullptr) const;
    int RibbonHitTest(POINT p) const;
    static POINT PictureOrigin(const RibbonItem& item);
    void PaintRibbon(HDC dc);
    void Layout();
    void PaintBar(HDC dc);
    int HitTest(POINT p) const;
    std::vector<std::pair<simhost::CommandBarButton*, RECT>> ButtonRects() const;
    std::wstring Signature() const;
    std::wstring GetField(int id) const;

    MailClient* client_;
    int number_;
    HWND hwnd_ = nullptr, bar_ = nullptr, ribbon_ = nullptr;
    HFONT font_ = nullptr;
    ComPtr<simhost::MailItem> mail_;
    ComPtr<simhost::Inspector> inspector_;
    std::wstring signature_;
    int rows_ = -1;
    int focus_ = 0;      // the button the keyboard works on, by index over all rows
    int hot_ = -1;       // under the mouse
    int pressed_ = -1;   // mouse down on it
    bool ribbonShown_ = false;
    int ribbonHeight_ = 0;
    int ribbonFocus_ = 0, ribbonHot_ = -1, ribbonPressed_ = -1;  // as for the bar
};

MailWindow* MailClient::Open() {
    auto window = std::make_unique<MailWindow>(this, static_cast<int>(windows.size()) + 1);
    MailWindow* w = window.get();
    windows.push_back(std::move(window));
    if (!w->Create()) {
        windows.pop_back();
        return nullptr;
    }
    return w;
}

void MailClient::Closed(MailWindow* window) {
    for (auto it = windows.begin(); it != windows.end(); ++it)
        if (it->get() == window) {
            std::unique_ptr<MailWindow> keep = std::move(*it);
            windows.erase(it);
            break;
        }
    if (windows.empty()) PostQuitMessage(0);
}

void MailClient::CloseAll() {
    quitting = true;
    while (!windows.empty()) windows.back()->CloseMail();
}

// --- the mail window -------------------------------------------------------------------------------

bool MailWindow::Create() {
    mail_ = simhost::Make<simhost::MailItem>();
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    HMENU menu = CreateMenu(), file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, IDM_NEW, L"&New Mail\tCtrl+N");
    AppendMenuW(file, MF_STRING, IDM_SAVE, L"Save &As...\tCtrl+S");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, IDM_CLOSE, L"&Close\tCtrl+W");
    AppendMenuW(file, MF_STRING, IDM_EXIT, L"E&xit");
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    const int offset = 30 * (number_ - 1);
    hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, kMailClass, L"Untitled - Message", WS_OVERLAPPEDWINDOW,
                            40 + offset, 30 + offset, 640, 560, nullptr, menu, instance, this);
    if (!hwnd_) return false;
    NONCLIENTMETRICSW metrics{sizeof metrics};
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    font_ = CreateFontIndirectW(&metrics.lfMessageFont);
    auto child = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int id, DWORD ex = 0) {
        HWND h = CreateWindowExW(ex, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                                 id == IDC_BAR || id == IDC_RIBBON ? this : nullptr);
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return h;
    };
    ribbon_ = child(kRibbonClass, L"", WS_TABSTOP, IDC_RIBBON);
    bar_ = child(kBarClass, L"", WS_TABSTOP, IDC_BAR);
    child(L"STATIC", L"To:", 0, IDC_TO_LABEL);
    child(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, IDC_TO, WS_EX_CLIENTEDGE);
    child(L"STATIC", L"Subject:", 0, IDC_SUBJECT_LABEL);
    child(L"EDIT", L"Voice message", WS_TABSTOP | ES_AUTOHSCROLL, IDC_SUBJECT, WS_EX_CLIENTEDGE);
    child(L"EDIT", kDefaultBody, WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL, IDC_BODY,
          WS_EX_CLIENTEDGE);
    child(L"STATIC", L"Attached:", 0, IDC_ATTACH_LABEL);
    child(L"LISTBOX", L"", WS_TABSTOP | LBS_NOINTEGRALHEIGHT | WS_VSCROLL, IDC_ATTACHMENTS, WS_EX_CLIENTEDGE);

    // The window opens as an inspector of the host: the add-ins hear of it and build their bars.
    inspector_ = client_->app->GetInspectors().Open(mail_.Get(), hwnd_);
    Refresh(true);
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
    SetFocus(GetDlgItem(hwnd_, IDC_TO));
    SetTimer(hwnd_, kRefreshTimer, 100, nullptr);
    Say("mail: window %d opened; its bars: %zu; its ribbon groups: %zu", number_, inspector_->Bars().All().size(),
        RibbonGroups().size());
    for (const std::wstring& error : client_->app->GetRibbon().Errors()) Say("mail: ribbon: %s", Narrow(error).c_str());
    return true;
}

void MailWindow::CloseMail() {
    KillTimer(hwnd_, kRefreshTimer);
    // As in the real client the window's Close reaches the add-in first (it may still attach).
    if (inspector_ && !inspector_->IsClosed()) inspector_->CloseWindow();
    inspector_.Reset();
    mail_.Reset();
    HWND h = hwnd_;
    hwnd_ = nullptr;
    DestroyWindow(h);
    if (font_) DeleteObject(font_);
    font_ = nullptr;
    client_->Closed(this);  // deletes this
}

std::wstring MailWindow::GetField(int id) const {
    wchar_t buffer[4096];
    GetDlgItemTextW(hwnd_, id, buffer, static_cast<int>(std::size(buffer)));
    return buffer;
}

std::vector<std::vector<simhost::CommandBarButton*>> MailWindow::Rows() const {
    std::vector<std::vector<simhost::CommandBarButton*>> rows;
    if (!inspector_) return rows;
    for (const auto& bar : inspector_->Bars().All()) {
        if (!bar->Visible()) continue;
        std::vector<simhost::CommandBarButton*> row;
        for (const auto& b : bar->Controls().Buttons())
            if (b->Visible()) row.push_back(b.Get());
        rows.push_back(row);
    }
    return rows;
}

simhost::CommandBarButton* MailWindow::ButtonTagged(const std::wstring& tag) const {
    for (auto& row : Rows())
        for (auto* b : row)
            if (b->Tag() == tag) return b;
    return nullptr;
}

HRESULT MailWindow::Press(simhost::CommandBarButton* button, double* blockedMs) {
    if (!button || !button->Enabled()) return E_ACCESSDENIED;
    ComPtr<simhost::CommandBarButton> keep(button);  // a handler may take the bar down
    const double t0 = NowMs();
    const HRESULT hr = button->Click();
    const double t1 = NowMs();
    if (blockedMs) *blockedMs = t1 - t0;
    // Stop is where the add-in encodes, holding the client's thread until the encoder is done.
    if (button->Tag() == L"Stop") client_->stopBlockedMs = t1 - t0;
    if (IsWindow(hwnd_)) Refresh(true);
    return hr;
}

bool MailWindow::PostMouseClick(const std::wstring& tag) {
    for (const auto& [button, r] : ButtonRects()) {
        if (button->Tag() != tag) continue;
        const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        PostMessageW(bar_, WM_MOUSEMOVE, 0, at);
        PostMessageW(bar_, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(bar_, WM_LBUTTONUP, 0, at);
        return true;
    }
    return false;
}

bool MailWindow::PostKeys(const std::wstring& tag) {
    const auto rects = ButtonRects();
    for (size_t i = 0; i < rects.size(); ++i) {
        if (rects[i].first->Tag() != tag) continue;
        SetFocus(bar_);
        PostMessageW(bar_, WM_KEYDOWN, VK_HOME, 0);
        for (size_t n = 0; n < i; ++n) PostMessageW(bar_, WM_KEYDOWN, VK_RIGHT, 0);
        PostMessageW(bar_, WM_KEYDOWN, VK_RETURN, 0);
        return true;
    }
    return false;
}

// What the window shows of the host's objects; when it changes, the window repaints.
std::wstring MailWindow::Signature() const {
    std::wstring s;
    for (auto& row : Rows()) {
        s += L"|";
        for (auto* b : row) {
            s += b->Caption() + (b->Enabled() ? L"+" : L"-") + std::to_wstring(b->Style()) +
                 (b->Picture() ? L"p" : L"") + (b->Mask() ? L"m" : L"") + L";";
        }
    }
    for (const auto& g : RibbonGroups()) {
        s += L"[" + g.label;
        for (const auto& b : g.buttons)
            s += L";" + b.id + b.label + (b.enabled ? L"+" : L"-") + (b.visible ? L"v" : L"") + (b.picture ? L"p" : L"") +
                 std::to_wstring(b.picture.width);
        s += L"]";
    }
    s += L"#";
    if (mail_)
        for (auto& a : mail_->GetAttachments().All()) s += a->DisplayName() + L":" + std::to_wstring(a->Data().size()) + L";";
    return s;
}

void MailWindow::Refresh(bool force) {
    if (!hwnd_) return;
    const std::wstring now = Signature();
    if (!force && now == signature_) return;
    signature_ = now;
    const int rows = static_cast<int>(Rows().size());
    const bool ribbonShown = !RibbonGroups().empty();
    RibbonRows ribbon;
    if (ribbonShown) RibbonItems(nullptr, &ribbon);
    const int ribbonHeight = ribbonShown ? ribbon.height : 0;
    if (rows != rows_ || ribbonShown != ribbonShown_ || ribbonHeight != ribbonHeight_) {
        rows_ = rows;
        ribbonShown_ = ribbonShown;
        ribbonHeight_ = ribbonHeight;
        Layout();
    }
    InvalidateRect(bar_, nullptr, TRUE);
    InvalidateRect(ribbon_, nullptr, TRUE);
    HWND list = GetDlgItem(hwnd_, IDC_ATTACHMENTS);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    if (mail_)
        for (auto& a : mail_->GetAttachments().All()) {
            wchar_t line[512];
            swprintf(line, std::size(line), L"%ls  (%zu bytes)", a->DisplayName().c_str(), a->Data().size());
            SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
        }
    const size_t count = mail_ ? mail_->GetAttachments().All().size() : 0;
    std::wstring title = GetField(IDC_SUBJECT);
    if (title.empty()) title = L"Untitled";
    title += L" - Message";
    if (count) title += L" (" + std::to_wstring(count) + L" attachment" + (count > 1 ? L"s" : L"") + L")";
    SetWindowTextW(hwnd_, title.c_str());
}

void MailWindow::Layout() {
    RECT c;
    GetClientRect(hwnd_, &c);
    const int w = c.right, h = c.bottom, m = 6;
    const int ribbonHeight = ribbonShown_ ? ribbonHeight_ : 0;
    const int barHeight = std::max(rows_, 0) * kRowHeight;
    MoveWindow(ribbon_, 0, 0, w, ribbonHeight, TRUE);
    MoveWindow(bar_, 0, ribbonHeight, w, barHeight, TRUE);
    int y = ribbonHeight + barHeight + m;
    auto place = [&](int id, int x, int yy, int ww, int hh) { MoveWindow(GetDlgItem(hwnd_, id), x, yy, ww, hh, TRUE); };
    place(IDC_TO_LABEL, m, y + 3, 60, 18);
    place(IDC_TO, 70, y, w - 70 - m, 22);
    y += 28;
    place(IDC_SUBJECT_LABEL, m, y + 3, 60, 18);
    place(IDC_SUBJECT, 70, y, w - 70 - m, 22);
    y += 30;
    const int listHeight = 48;
    const int bodyHeight = std::max(40, h - y - listHeight - 2 * m);
    place(IDC_BODY, m, y, w - 2 * m, bodyHeight);
    y += bodyHeight + m;
    place(IDC_ATTACH_LABEL, m, y + 3, 60, 18);
    place(IDC_ATTACHMENTS, 70, y, w - 70 - m, listHeight);
}

bool MailWindow::SaveEml(const std::wstring& path) {
    if (!mail_) return false;
    pvlmail::EmlMessage m;
    m.from = L"Parvaline Mail user <user@example.com>";
    m.to = GetField(IDC_TO);
    m.subject = GetField(IDC_SUBJECT);
    m.body = GetField(IDC_BODY);
    for (auto& a : mail_->GetAttachments().All()) m.attachments.push_back({a->DisplayName(), a->Data()});
    const std::string text = pvlmail::BuildEml(m);
    const bool ok = WriteAll(path, text.data(), text.size());
    Say("mail: %s %s (%zu bytes, %zu attachment(s))", ok ? "saved" : "could not save", Narrow(path).c_str(),
        text.size(), m.attachments.size());
    return ok;
}

LRESULT CALLBACK MailWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE)
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
    auto* self = reinterpret_cast<MailWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg == WM_NCCREATE) self->hwnd_ = hwnd;
    if (!self || self->hwnd_ != hwnd) return DefWindowProcW(hwnd, msg, wp, lp);
    return self->Handle(msg, wp, lp);
}

LRESULT MailWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_SIZE:
            if (rows_ >= 0) Layout();
            return 0;
        case WM_TIMER:
            if (wp == kRefreshTimer) Refresh();
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wp) != WA_INACTIVE && GetFocus() == nullptr) SetFocus(bar_);
            break;
        case WM_COMMAND:
            switch (LOWORD(wp)) {
                case IDM_NEW:
                    client_->Open();
                    return 0;
                case IDM_SAVE: {
                    wchar_t path[MAX_PATH] = L"Voice message.eml";
                    OPENFILENAMEW ofn{sizeof ofn};
                    ofn.hwndOwner = hwnd_;
                    ofn.lpstrFilter = L"Mail message (*.eml)\0*.eml\0All files\0*.*\0";
                    ofn.lpstrFile = path;
                    ofn.nMaxFile = MAX_PATH;
                    ofn.lpstrDefExt = L"eml";
                    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
                    if (GetSaveFileNameW(&ofn) && !SaveEml(path))
                        MessageBoxW(hwnd_, L"The mail could not be saved.", L"Parvaline Mail", MB_ICONERROR);
                    return 0;
                }
                case IDM_CLOSE:
                    CloseMail();
                    return 0;
                case IDM_EXIT:
                    client_->CloseAll();
                    return 0;
                case IDC_SUBJECT:
                    if (HIWORD(wp) == EN_CHANGE) Refresh(true);
                    return 0;
            }
            break;
        case WM_CLOSE:
            CloseMail();
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

// --- the command bars ----------------------------------------------------------------------------

std::vector<std::pair<simhost::CommandBarButton*, RECT>> MailWindow::ButtonRects() const {
    std::vector<std::pair<simhost::CommandBarButton*, RECT>> out;
    HDC dc = GetDC(bar_);
    HGDIOBJ old = SelectObject(dc, font_);
    int y = (kRowHeight - kButtonHeight) / 2;
    for (auto& row : Rows()) {
        int x = 10;  // after the bar's grip
        for (auto* b : row) {
            int w = 6 + kIcon + 6;
            const std::wstring caption = b->Caption();
            const bool showCaption = !caption.empty() && b->Style() != 1 /* msoButtonIcon */;
            if (showCaption) {
                SIZE s{};
                GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &s);
                w += s.cx + 2;
            }
            out.push_back({b, RECT{x, y, x + w, y + kButtonHeight}});
            x += w + 2;
        }
        y += kRowHeight;
    }
    SelectObject(dc, old);
    ReleaseDC(bar_, dc);
    return out;
}

int MailWindow::HitTest(POINT p) const {
    auto rects = ButtonRects();
    for (size_t i = 0; i < rects.size(); ++i)
        if (PtInRect(&rects[i].second, p)) return static_cast<int>(i);
    return -1;
}

// The picture drawn through its mask: where the mask is white the bar shows through, everywhere
// else the picture's pixel is drawn; greyed out when the button is disabled.
void DrawButtonImage(HDC dc, int x, int y, const simhost::CommandBarButton& b) {
    const auto& pic = b.Picture();
    const auto& mask = b.Mask();
    if (!pic || pic.pixels.size() < size_t(pic.width) * pic.height) return;
    const bool useMask = mask && mask.width == pic.width && mask.height == pic.height &&
                         mask.pixels.size() >= size_t(mask.width) * mask.height;
    for (int r = 0; r < std::min(pic.height, kIcon); ++r)
        for (int c = 0; c < std::min(pic.width, kIcon); ++c) {
            if (useMask) {
                const COLORREF m = mask.At(r, c);
                if (GetRValue(m) > 0xF0 && GetGValue(m) > 0xF0 && GetBValue(m) > 0xF0) continue;
            }
            COLORREF color = pic.At(r, c);
            if (!b.Enabled()) {
                const int l = (GetRValue(color) * 30 + GetGValue(color) * 59 + GetBValue(color) * 11) / 100;
                const int g = 128 + l / 2;
                color = RGB(g, g, g);
            }
            SetPixelV(dc, x + c, y + r, color);
        }
}

void MailWindow::PaintBar(HDC dc) {
    RECT client;
    GetClientRect(bar_, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    HGDIOBJ oldFont = SelectObject(dc, font_);
    SetBkMode(dc, TRANSPARENT);
    // Each bar: a grip at its left and a line under it.
    for (int row = 0; row < rows_; ++row) {
        const int top = row * kRowHeight;
        for (int gy = top + 6; gy < top + kRowHeight - 6; gy += 3) {
            SetPixelV(dc, 4, gy, GetSysColor(COLOR_BTNSHADOW));
            SetPixelV(dc, 5, gy + 1, GetSysColor(COLOR_BTNHIGHLIGHT));
        }
        RECT line{0, top + kRowHeight - 2, client.right, top + kRowHeight};
        DrawEdge(dc, &line, EDGE_ETCHED, BF_BOTTOM);
    }
    auto rects = ButtonRects();
    const bool focused = GetFocus() == bar_;
    for (size_t i = 0; i < rects.size(); ++i) {
        simhost::CommandBarButton* b = rects[i].first;
        RECT r = rects[i].second;
        const int index = static_cast<int>(i);
        if (b->Enabled() && index == pressed_ && index == hot_) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
        else if (b->Enabled() && (index == hot_ || (focused && index == focus_))) DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
        const int shift = (index == pressed_ && index == hot_) ? 1 : 0;
        DrawButtonImage(dc, r.left + 6 + shift, r.top + (kButtonHeight - kIcon) / 2 + shift, *b);
        const std::wstring caption = b->Caption();
        if (!caption.empty() && b->Style() != 1) {
            RECT text{r.left + 6 + kIcon + 4 + shift, r.top + shift, r.right, r.bottom + shift};
            if (b->Enabled()) {
                SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
            } else {
                // Etched, as a disabled command reads.
                RECT light = text;
                OffsetRect(&light, 1, 1);
                SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
                DrawTextW(dc, caption.c_str(), -1, &light, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
                SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
            }
            DrawTextW(dc, caption.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        }
        if (focused && index == focus_) {
            RECT f = r;
            InflateRect(&f, -3, -3);
            DrawFocusRect(dc, &f);
        }
    }
    SelectObject(dc, oldFont);
}

LRESULT CALLBACK MailWindow::BarProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE)
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
    auto* self = reinterpret_cast<MailWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg == WM_NCCREATE) self->bar_ = hwnd;
    if (!self || self->bar_ != hwnd) return DefWindowProcW(hwnd, msg, wp, lp);
    return self->HandleBar(msg, wp, lp);
}

// The mouse and the keyboard on a strip of buttons (the bar, the ribbon group): the button under the
// mouse, the one held down, and the one the keyboard works on; a press goes to `press`.
LRESULT MailWindow::HandleStrip(const Strip& strip, UINT msg, WPARAM wp, LPARAM lp) {
    HWND hwnd = strip.hwnd;
    int& focus = *strip.focus;
    int& hot = *strip.hot;
    int& pressed = *strip.pressed;
    const int count = strip.count;
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            strip.paint(dc);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_GETDLGCODE: {
            // Enter presses the chosen button instead of going to the window as a default command.
            const MSG* m = reinterpret_cast<const MSG*>(lp);
            if (m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN) return DLGC_WANTALLKEYS;
            return DLGC_WANTARROWS | DLGC_WANTCHARS;
        }
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        case WM_MOUSEMOVE: {
            const int hit = strip.hitTest(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
            if (hit != hot) {
                hot = hit;
                InvalidateRect(hwnd, nullptr, FALSE);
                TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, hwnd, 0};
                TrackMouseEvent(&t);
            }
            return 0;
        }
        case WM_MOUSELEAVE:
            hot = -1;
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        case WM_LBUTTONDOWN:
            pressed = strip.hitTest(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
            hot = pressed;
            if (pressed >= 0) focus = pressed;
            SetCapture(hwnd);
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        case WM_LBUTTONUP: {
            const int hit = strip.hitTest(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
            const int was = pressed;
            pressed = -1;
            ReleaseCapture();
            InvalidateRect(hwnd, nullptr, FALSE);
            if (hit >= 0 && hit == was) strip.press(hit);
            return 0;
        }
        case WM_KEYDOWN:
            if (count == 0) break;
            switch (wp) {
                case VK_LEFT:
                case VK_UP:
                    focus = (focus + count - 1) % count;
                    InvalidateRect(hwnd, nullptr, FALSE);
                    return 0;
                case VK_RIGHT:
                case VK_DOWN:
                    focus = (focus + 1) % count;
                    InvalidateRect(hwnd, nullptr, FALSE);
                    return 0;
                case VK_HOME:
                    focus = 0;
                    InvalidateRect(hwnd, nullptr, FALSE);
                    return 0;
                case VK_SPACE:
                case VK_RETURN:
                    focus = std::min(focus, count - 1);
                    strip.press(focus);
                    return 0;
            }
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT MailWindow::HandleBar(UINT msg, WPARAM wp, LPARAM lp) {
    return HandleStrip({bar_, &focus_, &hot_, &pressed_, static_cast<int>(ButtonRects().size()),
                        [this](POINT p) { return HitTest(p); }, [this](int i) { Press(ButtonRects()[i].first); },
                        [this](HDC dc) { PaintBar(dc); }},
                       msg, wp, lp);
}

// --- the ribbon ----------------------------------------------------------------------------------

std::vector<simhost::RibbonGroupView> MailWindow::RibbonGroups() const {
    if (!inspector_ || !client_->app) return {};
    return client_->app->GetRibbon().Groups(inspector_.Get());
}

std::optional<simhost::RibbonButtonView> MailWindow::RibbonButton(const std::wstring& id) const {
    if (!inspector_ || !client_->app) return std::nullopt;
    return client_->app->GetRibbon().Button(inspector_.Get(), id);
}

HRESULT MailWindow::PressRibbon(const std::wstring& id, double* blockedMs) {
    auto button = RibbonButton(id);
    if (!button || !button->enabled) return E_ACCESSDENIED;
    ComPtr<simhost::Inspector> keep = inspector_;  // the add-in may close the window
    const double t0 = NowMs();
    const HRESULT hr = client_->app->GetRibbon().Press(keep.Get(), id);
    const double t1 = NowMs();
    if (blockedMs) *blockedMs = t1 - t0;
    // Stop encodes here as on the bar, holding the client's thread.
    if (id == L"pvlStop") {
        client_->stopBlockedMs = t1 - t0;
        Say("mail: Stop on the ribbon kept the client blocked for %.0f ms", t1 - t0);
    }
    if (IsWindow(hwnd_)) Refresh(true);
    return hr;
}

// The tab's name as the window shows it.
std::wstring TabCaption(const std::wstring& tab) {
    static const std::pair<const wchar_t*, const wchar_t*> names[] = {
        {L"TabNewMailMessage", L"Message"}, {L"TabReadMessage", L"Message"}, {L"TabContact", L"Contact"}, {L"TabAddIns", L"Add-ins"}};
    for (auto& [id, name] : names)
        if (tab == id) return name;
    return tab;
}

std::vector<MailWindow::RibbonItem> MailWindow::RibbonItems(std::vector<RibbonGroupBox>* boxes, RibbonRows* rows) const {
    std::vector<RibbonItem> out;
    HDC dc = GetDC(ribbon_);
    HGDIOBJ old = SelectObject(dc, font_);
    auto textWidth = [&](const std::wstring& t) {
        SIZE s{};
        GetTextExtentPoint32W(dc, t.c_str(), static_cast<int>(t.size()), &s);
        return static_cast<int>(s.cx);
    };
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const int textHeight = static_cast<int>(tm.tmHeight);
    RibbonRows r;
    r.tab = std::max(kRibbonTabRow, textHeight + 8);
    r.label = std::max(r.label, textHeight + 6);
    auto icon = [](const simhost::RibbonButtonView& b, int otherwise) { return b.picture ? b.picture.width : otherwise; };
    const int top = r.tab + 3;
    int x = 6, bottom = top;
    for (const auto& g : RibbonGroups()) {
        const int groupLeft = x;
        x += 4;
        // Large buttons side by side; normal ones stacked three to a column, as Office lays them out.
        int column = -1, stacked = 3, columnWidth = 0;
        for (const auto& b : g.buttons) {
            if (!b.visible) continue;
            if (b.size == L"large") {
                if (column >= 0) x = column + columnWidth + 2, column = -1, stacked = 3;
                const int size = icon(b, kLargeIcon);
                const int w = std::max(size + 12, textWidth(b.label) + 10);
                const int h = std::max(kLargeButtonHeight, 4 + size + 2 + 2 * textHeight + 2);  // two lines of label
                out.push_back({b, RECT{x, top, x + w, top + h}, size});
                bottom = std::max(bottom, top + h);
                x += w + 2;
                continue;
            }
            if (stacked == 3) {
                if (column >= 0) x = column + columnWidth + 2;
                column = x, stacked = 0, columnWidth = 0;
            }
            const int size = icon(b, kIcon);
            const int w = 4 + size + 4 + textWidth(b.label) + 6;
            const int h = std::max(kSmallButtonHeight, std::max(size, textHeight) + 6);
            const int y = stacked ? static_cast<int>(out.back().rect.bottom) : top;
            out.push_back({b, RECT{column, y, column + w, y + h}, size});
            bottom = std::max(bottom, y + h);
            columnWidth = std::max(columnWidth, w);
            ++stacked;
        }
        if (column >= 0) x = column + columnWidth + 2;
        x = std::max(x + 4, groupLeft + textWidth(g.label) + 12);
        if (boxes) boxes->push_back({g.label, RECT{groupLeft, r.tab, x, 0}});
        x += 2;
    }
    r.height = std::max(kRibbonHeight, bottom + r.label + 2);
    if (boxes)
        for (auto& box : *boxes) box.rect.bottom = r.height;
    if (rows) *rows = r;
    SelectObject(dc, old);
    ReleaseDC(ribbon_, dc);
    return out;
}

int MailWindow::RibbonHitTest(POINT p) const {
    auto items = RibbonItems();
    for (size_t i = 0; i < items.size(); ++i)
        if (PtInRect(&items[i].rect, p)) return static_cast<int>(i);
    return -1;
}

// A picture with its alpha channel, blended over what is drawn; a disabled button's picture is
// drawn grey and faint.
void DrawAlphaPicture(HDC dc, int x, int y, const simhost::ReceivedPicture& pic, bool enabled) {
    if (!pic || pic.width <= 0 || pic.height <= 0) return;
    const size_t count = size_t(pic.width) * pic.height;
    if (pic.pixels.size() < count || pic.alpha.size() < count) return;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), pic.width, -pic.height, 1, 32, BI_RGB};
    void* bits = nullptr;
    pvl::UniqueGdiObject bitmap(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return;
    auto* out = static_cast<DWORD*>(bits);
    for (size_t i = 0; i < count; ++i) {
        int r = GetRValue(pic.pixels[i]), g = GetGValue(pic.pixels[i]), b = GetBValue(pic.pixels[i]);
        int a = pic.alpha[i];
        if (!enabled) {
            r = g = b = 96 + (r * 30 + g * 59 + b * 11) / 200;
            a /= 2;
        }
        // AlphaBlend (gdi32 exports it as GdiAlphaBlend) takes premultiplied colour.
        out[i] = DWORD(a) << 24 | DWORD(r * a / 255) << 16 | DWORD(g * a / 255) << 8 | DWORD(b * a / 255);
    }
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, bitmap.get());
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    GdiAlphaBlend(dc, x, y, pic.width, pic.height, memory, 0, 0, pic.width, pic.height, blend);
    SelectObject(memory, old);
    DeleteDC(memory);
}

POINT MailWindow::PictureOrigin(const RibbonItem& item) {
    const RECT& r = item.rect;
    if (item.view.size == L"large") return POINT{(r.left + r.right - item.icon) / 2, r.top + 4};
    return POINT{r.left + 4, (r.top + r.bottom - item.icon) / 2};
}

bool MailWindow::DrawnPictureCentre(const std::wstring& id, COLORREF* colour) {
    RECT c;
    GetClientRect(ribbon_, &c);
    if (c.right <= 0 || c.bottom <= 0) return false;
    bool found = false;
    HDC screen = GetDC(ribbon_);
    HDC memory = CreateCompatibleDC(screen);
    pvl::UniqueGdiObject bitmap(CreateCompatibleBitmap(screen, c.right, c.bottom));
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap.get());
        PaintRibbon(memory);
        for (const auto& item : RibbonItems()) {
            if (item.view.id != id || !item.view.picture) continue;
            const POINT at = PictureOrigin(item);
            *colour = GetPixel(memory, at.x + item.view.picture.width / 2, at.y + item.view.picture.height / 2);
            found = true;
        }
        SelectObject(memory, old);
    }
    if (memory) DeleteDC(memory);
    ReleaseDC(ribbon_, screen);
    return found;
}

void MailWindow::PaintRibbon(HDC dc) {
    RECT client;
    GetClientRect(ribbon_, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    const auto groups = RibbonGroups();
    if (groups.empty()) return;
    std::vector<RibbonGroupBox> boxes;
    RibbonRows rows;
    const auto items = RibbonItems(&boxes, &rows);
    HGDIOBJ oldFont = SelectObject(dc, font_);
    SetBkMode(dc, TRANSPARENT);
    // The tab row: the tab the groups sit on, selected, over a light body.
    RECT body{0, rows.tab, client.right, client.bottom};
    FillRect(dc, &body, GetSysColorBrush(COLOR_WINDOW));
    const std::wstring tab = TabCaption(groups.front().tab);
    SIZE ts{};
    GetTextExtentPoint32W(dc, tab.c_str(), static_cast<int>(tab.size()), &ts);
    RECT tabRect{6, 3, 6 + ts.cx + 20, rows.tab + 1};
    FillRect(dc, &tabRect, GetSysColorBrush(COLOR_WINDOW));
    DrawEdge(dc, &tabRect, EDGE_ETCHED, BF_LEFT | BF_TOP | BF_RIGHT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    DrawTextW(dc, tab.c_str(), -1, &tabRect, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
    RECT line{0, client.bottom - 2, client.right, client.bottom};
    DrawEdge(dc, &line, EDGE_ETCHED, BF_BOTTOM);

    for (const auto& box : boxes) {
        RECT label{box.rect.left, box.rect.bottom - rows.label, box.rect.right, box.rect.bottom - 2};
        SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
        DrawTextW(dc, box.label.c_str(), -1, &label, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
        RECT separator{box.rect.right - 2, box.rect.top + 4, box.rect.right, box.rect.bottom - 4};
        DrawEdge(dc, &separator, EDGE_ETCHED, BF_RIGHT);
    }
    const bool focused = GetFocus() == ribbon_;
    for (size_t i = 0; i < items.size(); ++i) {
        const auto& b = items[i].view;
        RECT r = items[i].rect;
        const int index = static_cast<int>(i);
        if (b.enabled && index == ribbonPressed_ && index == ribbonHot_) DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
        else if (b.enabled && (index == ribbonHot_ || (focused && index == ribbonFocus_))) DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
        const bool large = b.size == L"large";
        const POINT at = PictureOrigin(items[i]);
        DrawAlphaPicture(dc, at.x, at.y, b.picture, b.enabled);
        const int icon = items[i].icon;
        RECT text = large ? RECT{r.left + 2, r.top + 4 + icon + 2, r.right - 2, r.bottom}
                          : RECT{r.left + 4 + icon + 4, r.top, r.right, r.bottom};
        SetTextColor(dc, GetSysColor(b.enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        DrawTextW(dc, b.label.c_str(), -1, &text,
                  (large ? DT_CENTER | DT_WORDBREAK : DT_SINGLELINE | DT_VCENTER) | DT_NOPREFIX);
        if (focused && index == ribbonFocus_) {
            RECT f = r;
            InflateRect(&f, -2, -2);
            DrawFocusRect(dc, &f);
        }
    }
    SelectObject(dc, oldFont);
}

bool MailWindow::PostRibbonClick(const std::wstring& id) {
    for (const auto& item : RibbonItems()) {
        if (item.view.id != id) continue;
        const LPARAM at = MAKELPARAM((item.rect.left + item.rect.right) / 2, (item.rect.top + item.rect.bottom) / 2);
        PostMessageW(ribbon_, WM_MOUSEMOVE, 0, at);
        PostMessageW(ribbon_, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(ribbon_, WM_LBUTTONUP, 0, at);
        return true;
    }
    return false;
}

bool MailWindow::PostRibbonKeys(const std::wstring& id) {
    const auto items = RibbonItems();
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].view.id != id) continue;
        SetFocus(ribbon_);
        PostMessageW(ribbon_, WM_KEYDOWN, VK_HOME, 0);
        for (size_t n = 0; n < i; ++n) PostMessageW(ribbon_, WM_KEYDOWN, VK_RIGHT, 0);
        PostMessageW(ribbon_, WM_KEYDOWN, VK_RETURN, 0);
        return true;
    }
    return false;
}

LRESULT CALLBACK MailWindow::RibbonProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE)
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
    auto* self = reinterpret_cast<MailWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg == WM_NCCREATE) self->ribbon_ = hwnd;
    if (!self || self->ribbon_ != hwnd) return DefWindowProcW(hwnd, msg, wp, lp);
    return self->HandleRibbon(msg, wp, lp);
}

LRESULT MailWindow::HandleRibbon(UINT msg, WPARAM wp, LPARAM lp) {
    return HandleStrip({ribbon_, &ribbonFocus_, &ribbonHot_, &ribbonPressed_, static_cast<int>(RibbonItems().size()),
                        [this](POINT p) { return RibbonHitTest(p); },
                        [this](int i) { PressRibbon(RibbonItems()[i].view.id); }, [this](HDC dc) { PaintRibbon(dc); }},
                       msg, wp, lp);
}

// --- the script ----------------------------------------------------------------------------------

void CALLBACK AboutTimer(HWND, UINT, UINT_PTR id, DWORD);

struct Step {
    std::wstring verb, arg;
};

class Script {
public:
    Script(MailClient* client, std::vector<Step> steps) : client_(client), steps_(std::move(steps)) {}
    // Runs the next step when its time has come; called on a timer from the message loop.
    void Tick();
    bool Failed() const { return failed_; }
    void AboutShown();  // while the About window is up

private:
    bool Run(const Step& step);
    MailWindow* Current() const { return client_->windows.empty() ? nullptr : client_->windows.back().get(); }
    MailClient* client_;
    std::vector<Step> steps_;
    size_t next_ = 0;
    double resumeAt_ = 0;
    bool busy_ = false, failed_ = false, done_ = false;
    std::wstring aboutShot_;
    bool aboutSeen_ = false;
    int aboutTries_ = 0;
};
Script* g_script = nullptr;

void Script::Tick() {
    if (busy_ || done_ || NowMs() < resumeAt_) return;
    busy_ = true;
    if (next_ < steps_.size() && !failed_) {
        const Step step = steps_[next_++];
        Say("script: %s%s%s", Narrow(step.verb).c_str(), step.arg.empty() ? "" : ":", Narrow(step.arg).c_str());
        if (!Run(step)) {
            Say("script: step %s failed", Narrow(step.verb).c_str());
            failed_ = true;
        }
    } else {
        done_ = true;
        client_->CloseAll();
    }
    busy_ = false;
}

bool Script::Run(const Step& s) {
    MailWindow* w = Current();
    const double seconds = s.arg.empty() ? 0 : _wtof(s.arg.c_str());
    if (s.verb == L"wait") {
        resumeAt_ = NowMs() + seconds * 1000;
        return true;
    }
    if (s.verb == L"newmail") return client_->Open() != nullptr;
    if (!w) return false;
    if (s.verb == L"record") {
        const HRESULT hr = w->Press(w->ButtonTagged(L"Record"));
        resumeAt_ = NowMs() + seconds * 1000;
        return SUCCEEDED(hr);
    }
    if (s.verb == L"stop") {
        double blocked = 0;
        const HRESULT hr = w->Press(w->ButtonTagged(L"Stop"), &blocked);
        Say("mail: Stop kept the client blocked for %.0f ms", blocked);
        return SUCCEEDED(hr);
    }
    if (s.verb == L"play") {
        simhost::CommandBarButton* play = w->ButtonTagged(L"Play");
        if (FAILED(w->Press(play))) return false;
        // Playback ends when the add-in enables Play again; the loop keeps the windows painting.
        const double until = NowMs() + 60000;
        while (NowMs() < until && !play->Enabled()) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
        Say("mail: playback %s", play->Enabled() ? "ended" : "did not end within a minute");
        return play->Enabled();
    }
    if (s.verb == L"about") {
        aboutShot_ = s.arg.empty() ? L"about" : s.arg;
        aboutSeen_ = false;
        aboutTries_ = 0;
        // The product button opens the About window modally inside the add-in: this timer runs in
        // that window's loop, captures it and presses its OK.
        const UINT_PTR timer = SetTimer(nullptr, 0, 1500, &AboutTimer);
        const HRESULT hr = w->Press(w->ButtonTagged(L"Parvaline"));
        KillTimer(nullptr, timer);
        return SUCCEEDED(hr) && aboutSeen_;
    }
    if (s.verb == L"shot") {
        UpdateWindow(w->hwnd());
        GdiFlush();
        const std::wstring path = client_->outDir + L"\\" + s.arg + L".bmp";
        const bool ok = CaptureWindow(w->hwnd(), path);
        Say("mail: screenshot %s", Narrow(path).c_str());
        return ok;
    }
    if (s.verb == L"click") return w->PostMouseClick(s.arg);
    if (s.verb == L"key") return w->PostKeys(s.arg);
    if (s.verb == L"expect") {
        // TAG+ : the button is enabled; TAG- : disabled.
        if (s.arg.size() < 2) return false;
        const bool enabled = s.arg.back() == L'+';
        simhost::CommandBarButton* b = w->ButtonTagged(s.arg.substr(0, s.arg.size() - 1));
        const bool ok = b && b->Enabled() == enabled;
        Say("mail: %s is %s", Narrow(s.arg.substr(0, s.arg.size() - 1)).c_str(),
            !b ? "missing" : b->Enabled() ? "enabled" : "disabled");
        return ok;
    }
    if (s.verb == L"ribbon") return w->PostRibbonClick(s.arg);
    if (s.verb == L"ribbonkey") return w->PostRibbonKeys(s.arg);
    if (s.verb == L"expectribbon") {
        // ID+ : the ribbon button is enabled; ID- : disabled; either way it must be there.
        if (s.arg.size() < 2) return false;
        const bool enabled = s.arg.back() == L'+';
        const std::wstring id = s.arg.substr(0, s.arg.size() - 1);
        auto b = w->RibbonButton(id);
        Say("mail: ribbon %s is %s", Narrow(id).c_str(), !b ? "missing" : b->enabled ? "enabled" : "disabled");
        return b && b->enabled == enabled;
    }
    if (s.verb == L"expectdrawn") {
        // ID+ : the picture's centre is painted in the picture's own colour; ID- : painted grey
        // instead, as disabled.
        if (s.arg.size() < 2) return false;
        const std::wstring id = s.arg.substr(0, s.arg.size() - 1);
        auto b = w->RibbonButton(id);
        COLORREF c = 0;
        if (!b || !b->picture || !w->DrawnPictureCentre(id, &c)) {
            Say("mail: ribbon %s has no picture drawn", Narrow(id).c_str());
            return false;
        }
        const COLORREF own = b->picture.At(b->picture.height / 2, b->picture.width / 2);
        const int distance = std::max({std::abs(GetRValue(c) - GetRValue(own)), std::abs(GetGValue(c) - GetGValue(own)),
                                       std::abs(GetBValue(c) - GetBValue(own))});
        const int spread = std::max({GetRValue(c), GetGValue(c), GetBValue(c)}) - std::min({GetRValue(c), GetGValue(c), GetBValue(c)});
        Say("mail: ribbon %s is drawn #%02X%02X%02X (its picture #%02X%02X%02X)", Narrow(id).c_str(), GetRValue(c),
            GetGValue(c), GetBValue(c), GetRValue(own), GetGValue(own), GetBValue(own));
        return s.arg.back() == L'+' ? distance <= 8 : distance > 24 && spread < 16;
    }
    if (s.verb == L"attachments") {
        const size_t n = w->Mail()->GetAttachments().All().size();
        Say("mail: %zu attachment(s)", n);
        return n == static_cast<size_t>(_wtoi(s.arg.c_str()));
    }
    if (s.verb == L"save") return w->SaveEml(s.arg);
    if (s.verb == L"to") return w->SetField(IDC_TO, s.arg), true;
    if (s.verb == L"subject") return w->SetField(IDC_SUBJECT, s.arg), true;
    if (s.verb == L"close") return w->CloseMail(), true;
    Say("script: unknown step");
    return false;
}

// The About window: the add-in's visible top-level window on this thread, the one that is not a
// mail window.
BOOL CALLBACK FindAbout(HWND hwnd, LPARAM lp) {
    if (GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId() || !IsWindowVisible(hwnd)) return TRUE;
    wchar_t cls[64];
    GetClassNameW(hwnd, cls, 64);
    if (std::wstring(cls) == kMailClass) return TRUE;
    *reinterpret_cast<HWND*>(lp) = hwnd;
    return FALSE;
}

void Script::AboutShown() {
    HWND about = nullptr;
    EnumWindows(&FindAbout, reinterpret_cast<LPARAM>(&about));
    if (!about) {
        // Not up yet (or never shown): look again shortly, and never leave a modal loop open.
        if (++aboutTries_ < 20) SetTimer(nullptr, 0, 500, &AboutTimer);
        else if (HWND active = GetActiveWindow()) PostMessageW(active, WM_COMMAND, IDOK, 0);
        return;
    }
    aboutSeen_ = true;
    wchar_t title[128];
    GetWindowTextW(about, title, 128);
    const std::wstring path = client_->outDir + L"\\" + aboutShot_ + L".bmp";
    // The mail window behind it, with the About window in front, and the About window alone.
    if (MailWindow* w = Current()) {
        RECT mail, box, both;
        GetWindowRect(w->hwnd(), &mail);
        GetWindowRect(about, &box);
        UnionRect(&both, &mail, &box);
        CaptureScreenRect(both, client_->outDir + L"\\" + aboutShot_ + L"-with-mail.bmp");
    }
    CaptureWindow(about, path);
    Say("mail: the About window \"%s\" is open; screenshot %s", Narrow(title).c_str(), Narrow(path).c_str());
    PostMessageW(about, WM_COMMAND, IDOK, 0);
}

// Thread timers: their messages reach these procedures through whichever loop is running, the
// About window's included.
void CALLBACK ScriptTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (g_script) g_script->Tick();
}

void CALLBACK AboutTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (g_script) g_script->AboutShown();
}

std::vector<Step> ParseScript(const std::wstring& text) {
    std::vector<Step> steps;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L',', start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring item = text.substr(start, end - start);
        if (!item.empty()) {
            const size_t colon = item.find(L':');
            steps.push_back(colon == std::wstring::npos ? Step{item, L""}
                                                        : Step{item.substr(0, colon), item.substr(colon + 1)});
        }
        start = end + 1;
    }
    return steps;
}

bool RegisterClasses(HINSTANCE instance) {
    WNDCLASSEXW mail{sizeof mail};
    mail.lpfnWndProc = &MailWindow::Proc;
    mail.hInstance = instance;
    mail.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    mail.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    mail.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    mail.lpszClassName = kMailClass;
    WNDCLASSEXW bar{sizeof bar};
    bar.lpfnWndProc = &MailWindow::BarProc;
    bar.hInstance = instance;
    bar.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    bar.lpszClassName = kBarClass;
    WNDCLASSEXW ribbon{sizeof ribbon};
    ribbon.lpfnWndProc = &MailWindow::RibbonProc;
    ribbon.hInstance = instance;
    ribbon.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    ribbon.lpszClassName = kRibbonClass;
    return RegisterClassExW(&mail) && RegisterClassExW(&bar) && RegisterClassExW(&ribbon);
}

int Run(const std::wstring& outDir, const std::wstring& scriptText) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!RegisterClasses(instance)) return 3;
    simhost::Host::Get().Reset();
    MailClient client;
    client.outDir = outDir;
    client.app = simhost::Make<simhost::Application>();

    // Starting up as the real client does: every add-in registered to load at start.
    const HRESULT loaded = client.loader.StartUp(client.app.Get());
    for (const auto& a : client.loader.Addins())
        Say("mail: loaded add-in %s from %s (entered in %s)", Narrow(a.progId).c_str(), Narrow(a.modulePath).c_str(),
            a.perUser && a.perMachine ? "HKCU and HKLM" : a.perMachine ? "HKLM" : "HKCU");
    if (FAILED(loaded)) Say("mail: an add-in failed to load (0x%08lX)", static_cast<unsigned long>(loaded));
    if (client.loader.Addins().empty()) Say("mail: no add-in is registered to load at start");

    ACCEL keys[] = {{FCONTROL | FVIRTKEY, 'N', IDM_NEW}, {FCONTROL | FVIRTKEY, 'S', IDM_SAVE},
                    {FCONTROL | FVIRTKEY, 'W', IDM_CLOSE}};
    client.accelerators = CreateAcceleratorTableW(keys, static_cast<int>(std::size(keys)));

    std::unique_ptr<Script> script;
    if (!scriptText.empty()) {
        script = std::make_unique<Script>(&client, ParseScript(scriptText));
        g_script = script.get();
    }
    int rc = 0;
    if (!client.Open()) {
        rc = 4;
    } else {
        if (script) SetTimer(nullptr, 0, 50, &ScriptTimer);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            HWND top = GetAncestor(msg.hwnd, GA_ROOT);
            if (top && TranslateAcceleratorW(top, client.accelerators, &msg)) continue;
            if (top && IsDialogMessageW(top, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    client.CloseAll();
    const bool scriptFailed = script && script->Failed();
    g_script = nullptr;
    DestroyAcceleratorTable(client.accelerators);

    // The voice mail in one line: the recording where the add-in keeps it, the MP3 the mail received.
    const std::wstring addinFolder = client.AddinFolder();
    const std::wstring folder = addinFolder.empty() ? addinFolder : pvl::RecordingFolderForComponent(addinFolder);
    if (!folder.empty() && client.stopBlockedMs >= 0) {
        const double seconds = WaveSeconds(folder + L"\\Parvaline.wav");
        WIN32_FILE_ATTRIBUTE_DATA d{};
        const double mp3 = GetFileAttributesExW((folder + L"\\Parvaline.mp3").c_str(), GetFileExInfoStandard, &d)
                               ? double(d.nFileSizeLow) : 0;
        Say("summary: recording %.1f s, MP3 %.0f bytes (%.0f kbit/s), mail client blocked %.0f ms while encoding",
            seconds, mp3, seconds > 0 ? mp3 * 8 / seconds / 1000 : 0.0, client.stopBlockedMs);
    }
    client.loader.ShutDown();
    client.app.Reset();
    if (simhost::Host::Get().LiveObjects() != 0) {
        Say("mail: %ld host objects were left referenced", simhost::Host::Get().LiveObjects());
        if (!rc) rc = 5;
    }
    if (!rc && scriptFailed) rc = 1;
    return rc;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring out = L".", script;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--out" && i + 1 < argc) out = argv[++i];
        else if (a == L"--script" && i + 1 < argc) script = argv[++i];
        else {
            std::fprintf(stderr, "usage: pvlMail.exe [--out DIR] [--script STEP,STEP,...]\n");
            return 2;
        }
    }
    if (FAILED(OleInitialize(nullptr))) return 3;
    const int rc = Run(out, script);
    OleUninitialize();
    return rc;
}
