// Parvaline Mail: a small mail client with windows, built on the simulated host objects. At start
// it opens its main window (an explorer of the host: a list of received mails and a reading pane),
// loads the registered add-ins as the real client does (simhost/addin_loader), and opens a new mail.
// Each mail window draws the command bars that the add-ins built in it straight from the host's own
// objects: every button's picture through its mask, its caption and its enabled state. Above the
// bars it draws the ribbon groups the add-ins added to the window's tab, from the simulated
// ribbon's views (hostapp/ribbon_strip.*): labels, pictures with their alpha channel, greyed when
// disabled, toggle buttons' states, label controls' text, keytips while Alt is held. In the main
// window, Reply writes the answer inline in the reading pane: the ribbon then shows the contextual
// "Message" tab with the add-ins' groups on it, and Pop Out, Send and Discard end the reply as
// Outlook's do. Buttons answer the mouse and the keyboard (Tab to them, arrows, Space or Enter).
//
//   pvlMail.exe [--out DIR] [--script STEP,STEP,...]
//
// A script drives the client unattended, one step after the other, with the windows painting in
// between. The ribbon, shot and mail steps act on the target window: the newest mail window, or the
// main window after `main` or any step of the main window (until `mail`, `newmail` or `popout`).
//   record[:S]     press Record (and wait S seconds)      wait:S      let S seconds pass
//   stop           press Stop (the time the client was blocked is measured)
//   play           press Play and wait until playback ends (at most 60 s)
//   about[:NAME]   press the product button; while the About window is up, capture it as
//                  DIR\NAME.bmp (default "about"), then press its OK
//   shot:NAME      capture the target window as DIR\NAME.bmp
//   save:PATH      save the target's mail (the main window's: its inline reply) as PATH (.eml)
//   newmail / close    File > New Mail / close the target window (the main window: the client)
//   to:ADDRESS     subject:TEXT                           fill in the target mail's fields
//   click:TAG      a mouse click on the bar button with that tag (Record, Play, Stop, Parvaline)
//   key:TAG        the same button pressed from the keyboard: Home, Right arrows, Enter
//   expect:TAG+    the button is enabled (TAG- : disabled)      attachments:N   the mail has N
//   ribbon:ID      a mouse click on the ribbon control with that id (pvlRecord, pvlPlay, ...)
//   ribbonkey:ID   the same pressed from the keyboard          expectribbon:ID+ / ID-   its state
//   expectdrawn:ID+ / ID-   its picture is painted in colour / grey
//   expectpressed:ID+ / ID-   a toggle button is on / off     expectlabel:ID=TEXT   its label
//   expectgroups:N the target's ribbon shows N groups
//   expectfit      the target's ribbon shows each picture, label and group label whole, apart
//   keytips[:off]  show (hide) the target ribbon's keytips, as while Alt is held
//   keytip:KEYS    hold Alt and type KEYS in the target window: the control with that keytip
//   main / mail    make the main window / the newest mail window the target
//   select:N       select the N-th received mail (an inline reply is kept as a draft)
//   reply          reply to the selected mail inline        sendreply / discard   end the reply so
//   popout         the inline reply moves to a mail window of its own (the new target)
// The script ends by closing every window; the exit code says whether every step went through, and
// the last line printed is a summary of the voice mail.
#include "common/raii.h"
#include "eml.h"
#include "recorder/recording_files.h"
#include "ribbon_strip.h"
#include "simhost/addin_loader.h"
#include "simhost/box_answerer.h"
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

using pvlmail::RibbonStrip;

constexpr wchar_t kMailClass[] = L"ParvalineMailWindow";
constexpr wchar_t kMainClass[] = L"ParvalineMainWindow";
constexpr wchar_t kBarClass[] = L"ParvalineCommandBarStrip";
constexpr wchar_t kDefaultBody[] = L"Hello,\r\n\r\nplease listen to the voice message attached to this mail.\r\n";

enum : UINT_PTR { kRefreshTimer = 1 };
enum : int {
    IDM_NEW = 100, IDM_SAVE, IDM_CLOSE, IDM_EXIT,
    IDC_RIBBON = 199, IDC_BAR = 200, IDC_TO_LABEL, IDC_TO, IDC_SUBJECT_LABEL, IDC_SUBJECT, IDC_BODY, IDC_ATTACH_LABEL, IDC_ATTACHMENTS,
    // The main window's own.
    IDC_INBOX = 300, IDC_READING, IDC_ORIGINAL_LABEL, IDC_NEW_MAIL, IDC_REPLY, IDC_POP_OUT, IDC_SEND, IDC_DISCARD,
};

constexpr int kButtonHeight = 24;
constexpr int kRowHeight = 30;
constexpr int kIcon = 16;

// The mails the main window lists: made up, as received.
struct ReceivedMail {
    const wchar_t* from;
    const wchar_t* address;
    const wchar_t* subject;
    const wchar_t* body;
};
constexpr ReceivedMail kInbox[] = {
    {L"Ana Ribeiro", L"ana.ribeiro@example.com", L"Tuesday's meeting",
     L"Hi,\r\n\r\ncould we move Tuesday's meeting to ten? The room is free then, and Marc can join us.\r\n\r\nAna\r\n"},
    {L"Build server", L"builds@example.org", L"Nightly build 1482 passed",
     L"All tests passed on both architectures.\r\n\r\nThis message was sent automatically.\r\n"},
    {L"Tom Okafor", L"tom.okafor@example.net", L"Photos from the trip",
     L"Here are the photos I promised. Could you send me the name of the hotel we stayed at?\r\n\r\nTom\r\n"},
};

// What a mail window starts with: the fields of a reply that moved out of the reading pane.
struct MailFields {
    std::wstring to, subject, body;
};

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
class MainWindow;

// What the script's steps and the keytips find in every window of the client.
class ClientWindow {
public:
    virtual ~ClientWindow() = default;
    virtual HWND hwnd() const = 0;
    virtual RibbonStrip& Ribbon() = 0;
    // The mail being written there: a mail window's, or the main window's inline reply (may be null).
    virtual simhost::MailItem* Mail() const = 0;
    virtual bool SaveEml(const std::wstring& path) = 0;
    virtual void SetField(int id, const std::wstring& text) = 0;
    virtual void Refresh(bool force = false) = 0;
};

// The client: the application object, the add-ins it loaded, its main window and its open mail windows.
struct MailClient {
    ComPtr<simhost::Application> app;
    simhost::AddinLoader loader;
    std::unique_ptr<MainWindow> main;
    std::vector<std::unique_ptr<MailWindow>> windows;
    std::wstring outDir = L".";
    HACCEL accelerators = nullptr;
    // Measured for the summary.
    double stopBlockedMs = -1;
    bool quitting = false;

    // A new mail, or (`existing`) the window the host opened for a mail that already exists.
    MailWindow* Open(simhost::Inspector* existing = nullptr, const MailFields* fields = nullptr);
    void Closed(MailWindow* window);
    void CloseAll();
    // The window whose top-level handle this is.
    ClientWindow* WindowOf(HWND top) const;
    // Tells of every ribbon press: Stop is where the add-in encodes, holding the client's thread.
    void RibbonPressed(const std::wstring& id, double heldMs) {
        if (id != L"pvlStop") return;
        stopBlockedMs = heldMs;
        Say("mail: Stop on the ribbon kept the client blocked for %.0f ms", heldMs);
    }
    std::wstring AddinFolder() const {
        if (loader.Addins().empty()) return {};
        const std::wstring& p = loader.Addins().front().modulePath;
        return p.substr(0, p.find_last_of(L'\\'));
    }
};

// One mail window: the inspector of one mail item, with its command bars, fields and attachments.
class MailWindow : public ClientWindow {
public:
    MailWindow(MailClient* client, int number) : client_(client), number_(number) {}
    ~MailWindow() {
        ribbon_.reset();
        if (hwnd_) DestroyWindow(hwnd_);
    }
    // A new mail's window, or the window of `existing` (a reply popped out of the reading pane).
    bool Create(simhost::Inspector* existing = nullptr, const MailFields* fields = nullptr);
    HWND hwnd() const override { return hwnd_; }
    RibbonStrip& Ribbon() override { return *ribbon_; }
    simhost::MailItem* Mail() const override { return mail_.Get(); }
    simhost::Inspector* Window() const { return inspector_.Get(); }

    // The buttons of every visible bar, row by row, in the order the bar holds them.
    std::vector<std::vector<simhost::CommandBarButton*>> Rows() const;
    simhost::CommandBarButton* ButtonTagged(const std::wstring& tag) const;
    HRESULT Press(simhost::CommandBarButton* button, double* blockedMs = nullptr);
    bool SaveEml(const std::wstring& path) override;
    void SetField(int id, const std::wstring& text) override { SetDlgItemTextW(hwnd_, id, text.c_str()); }
    void CloseMail();  // the inspector closes as the user closes it; the window goes away
    void Refresh(bool force = false) override;
    // Input as the user gives it, posted to the bar: a mouse click on the button, or the keyboard
    // (Home, Right until the button, Enter). False when no visible button has the tag.
    bool PostMouseClick(const std::wstring& tag);
    bool PostKeys(const std::wstring& tag);

    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK BarProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

private:
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
    LRESULT HandleBar(UINT msg, WPARAM wp, LPARAM lp);
    void Layout();
    void PaintBar(HDC dc);
    int HitTest(POINT p) const;
    std::vector<std::pair<simhost::CommandBarButton*, RECT>> ButtonRects() const;
    std::wstring Signature() const;
    std::wstring GetField(int id) const;

    MailClient* client_;
    int number_;
    HWND hwnd_ = nullptr, bar_ = nullptr;
    std::unique_ptr<RibbonStrip> ribbon_;
    HFONT font_ = nullptr;
    ComPtr<simhost::MailItem> mail_;
    ComPtr<simhost::Inspector> inspector_;
    std::wstring signature_;
    int rows_ = -1;
    int focus_ = 0;      // the button the keyboard works on, by index over all rows
    int hot_ = -1;       // under the mouse
    int pressed_ = -1;   // mouse down on it
    bool ribbonShown_ = false;
    int ribbonHeight_ = 0;  // as the strip asks for what it shows
};

MailWindow* MailClient::Open(simhost::Inspector* existing, const MailFields* fields) {
    auto window = std::make_unique<MailWindow>(this, static_cast<int>(windows.size()) + 1);
    MailWindow* w = window.get();
    windows.push_back(std::move(window));
    if (!w->Create(existing, fields)) {
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
    // The client runs as long as its main window is open.
    if (windows.empty() && !main) PostQuitMessage(0);
}


// --- the mail window -------------------------------------------------------------------------------

bool MailWindow::Create(simhost::Inspector* existing, const MailFields* fields) {
    // A popped-out reply is the inspector's own mail; a new window writes a new mail.
    auto* shown = existing ? dynamic_cast<simhost::MailItem*>(existing->CurrentItem()) : nullptr;
    if (existing && !shown) return false;
    mail_ = shown ? ComPtr<simhost::MailItem>(shown) : simhost::Make<simhost::MailItem>();
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
                                 id == IDC_BAR ? this : nullptr);
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return h;
    };
    ribbon_ = std::make_unique<RibbonStrip>(&client_->app->GetRibbon(), [this](const std::wstring& id, double held) {
        client_->RibbonPressed(id, held);
        if (IsWindow(hwnd_)) Refresh(true);
    });
    if (!ribbon_->Create(hwnd_, IDC_RIBBON, font_)) return false;
    bar_ = child(kBarClass, L"", WS_TABSTOP, IDC_BAR);
    child(L"STATIC", L"To:", 0, IDC_TO_LABEL);
    child(L"EDIT", fields ? fields->to.c_str() : L"", WS_TABSTOP | ES_AUTOHSCROLL, IDC_TO, WS_EX_CLIENTEDGE);
    child(L"STATIC", L"Subject:", 0, IDC_SUBJECT_LABEL);
    child(L"EDIT", fields ? fields->subject.c_str() : L"Voice message", WS_TABSTOP | ES_AUTOHSCROLL, IDC_SUBJECT,
          WS_EX_CLIENTEDGE);
    child(L"EDIT", fields ? fields->body.c_str() : kDefaultBody,
          WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL, IDC_BODY, WS_EX_CLIENTEDGE);
    child(L"STATIC", L"Attached:", 0, IDC_ATTACH_LABEL);
    child(L"LISTBOX", L"", WS_TABSTOP | LBS_NOINTEGRALHEIGHT | WS_VSCROLL, IDC_ATTACHMENTS, WS_EX_CLIENTEDGE);

    // The window opens as an inspector of the host: the add-ins hear of it and build their bars. A
    // popped-out reply's inspector was opened by the host already.
    inspector_ = existing ? ComPtr<simhost::Inspector>(existing) : client_->app->GetInspectors().Open(mail_.Get(), hwnd_);
    if (existing) existing->SetWindow(hwnd_);
    ribbon_->SetWindow(inspector_.Get());
    Refresh(true);
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
    SetFocus(GetDlgItem(hwnd_, IDC_TO));
    SetTimer(hwnd_, kRefreshTimer, 100, nullptr);
    Say("mail: window %d opened%s; its bars: %zu; its ribbon groups: %zu", number_, existing ? " for the popped-out reply" : "",
        inspector_->Bars().All().size(), ribbon_->Groups().size());
    for (const std::wstring& error : client_->app->GetRibbon().Errors()) Say("mail: ribbon: %s", Narrow(error).c_str());
    return true;
}

void MailWindow::CloseMail() {
    KillTimer(hwnd_, kRefreshTimer);
    // As in the real client the window's Close reaches the add-in first (it may still attach).
    if (inspector_ && !inspector_->IsClosed()) inspector_->CloseWindow();
    if (ribbon_) ribbon_->SetWindow(nullptr);
    inspector_.Reset();
    mail_.Reset();
    HWND h = hwnd_;
    hwnd_ = nullptr;
    ribbon_.reset();
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
    if (ribbon_) s += ribbon_->Signature();
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
    const bool ribbonShown = !ribbon_->Groups().empty();
    const int ribbonHeight = ribbonShown ? ribbon_->Height() : 0;
    if (rows != rows_ || ribbonShown != ribbonShown_ || ribbonHeight != ribbonHeight_) {
        rows_ = rows;
        ribbonShown_ = ribbonShown;
        ribbonHeight_ = ribbonHeight;
        Layout();
    }
    InvalidateRect(bar_, nullptr, TRUE);
    InvalidateRect(ribbon_->hwnd(), nullptr, TRUE);
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
    MoveWindow(ribbon_->hwnd(), 0, 0, w, ribbonHeight, TRUE);
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

LRESULT MailWindow::HandleBar(UINT msg, WPARAM wp, LPARAM lp) {
    return pvlmail::HandleStripInput({bar_, &focus_, &hot_, &pressed_, static_cast<int>(ButtonRects().size()),
                                      [this](POINT p) { return HitTest(p); }, [this](int i) { Press(ButtonRects()[i].first); },
                                      [this](HDC dc) { PaintBar(dc); }},
                                     msg, wp, lp);
}

// --- the main window -------------------------------------------------------------------------------

// The main window: the host's explorer, with a list of received mails and a reading pane. Reply
// writes the answer inline in the pane (the host's inline response): the ribbon then shows the
// contextual Message tab with the add-ins' groups, and Pop Out, Send and Discard end the reply;
// selecting another mail keeps it as a draft, as Outlook does.
class MainWindow : public ClientWindow {
public:
    MainWindow(MailClient* client, ComPtr<simhost::Explorer> explorer) : client_(client), explorer_(std::move(explorer)) {}
    ~MainWindow() {
        ribbon_.reset();
        if (hwnd_) DestroyWindow(hwnd_);
    }
    bool Create();
    HWND hwnd() const override { return hwnd_; }
    RibbonStrip& Ribbon() override { return *ribbon_; }
    simhost::MailItem* Mail() const override { return explorer_ ? explorer_->InlineResponse() : nullptr; }
    bool SaveEml(const std::wstring& path) override;
    void SetField(int id, const std::wstring& text) override { SetDlgItemTextW(hwnd_, id, text.c_str()); }
    void Refresh(bool force = false) override;
    simhost::Explorer* Explorer() const { return explorer_.Get(); }

    // What the user does, each as the buttons and the list do it.
    bool Select(int index);  // from 0; a reply written inline is kept as a draft first
    bool Reply();
    HRESULT SendReply();
    bool Discard();
    MailWindow* PopOut();
    // The explorer closes (an inline reply first), then the window goes away.
    void Close();

    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

private:
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
    void Layout();
    void ShowSelected();
    std::wstring GetField(int id) const;
    std::wstring Signature() const;
    int Selected() const { return static_cast<int>(SendDlgItemMessageW(hwnd_, IDC_INBOX, LB_GETCURSEL, 0, 0)); }

    MailClient* client_;
    ComPtr<simhost::Explorer> explorer_;
    std::vector<ComPtr<simhost::MailItem>> inbox_;  // kInbox's mails, as the host's received items
    HWND hwnd_ = nullptr;
    std::unique_ptr<RibbonStrip> ribbon_;
    HFONT font_ = nullptr;
    std::wstring signature_;
    bool ribbonShown_ = false, inlineShown_ = false;
    int ribbonHeight_ = 0;  // as the strip asks for what it shows
};

bool MainWindow::Create() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    HMENU menu = CreateMenu(), file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, IDM_NEW, L"&New Mail\tCtrl+N");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, IDM_EXIT, L"E&xit");
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, kMainClass, L"Inbox - Parvaline Mail", WS_OVERLAPPEDWINDOW, 8, 8, 1000,
                            720, nullptr, menu, instance, this);
    if (!hwnd_) return false;
    // Outlook's main window answers IOleWindow with its handle; so does the host's explorer now.
    explorer_->SetWindow(hwnd_);
    NONCLIENTMETRICSW metrics{sizeof metrics};
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    font_ = CreateFontIndirectW(&metrics.lfMessageFont);
    auto child = [&](const wchar_t* cls, const wchar_t* text, DWORD style, int id, DWORD ex = 0) {
        HWND h = CreateWindowExW(ex, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return h;
    };
    ribbon_ = std::make_unique<RibbonStrip>(&client_->app->GetRibbon(), [this](const std::wstring& id, double held) {
        client_->RibbonPressed(id, held);
        if (IsWindow(hwnd_)) Refresh(true);
    });
    if (!ribbon_->Create(hwnd_, IDC_RIBBON, font_)) return false;
    ribbon_->SetWindow(explorer_.Get());
    const std::pair<int, const wchar_t*> commands[] = {
        {IDC_NEW_MAIL, L"New Mail"}, {IDC_REPLY, L"Reply"}, {IDC_POP_OUT, L"Pop Out"}, {IDC_SEND, L"Send"}, {IDC_DISCARD, L"Discard"}};
    for (auto [id, text] : commands) child(L"BUTTON", text, WS_TABSTOP | BS_PUSHBUTTON, id);
    HWND list = child(L"LISTBOX", L"", WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL, IDC_INBOX, WS_EX_CLIENTEDGE);
    for (const ReceivedMail& m : kInbox) {
        inbox_.push_back(simhost::Make<simhost::MailItem>(/*received=*/true));
        const std::wstring line = std::wstring(m.from) + L"  \u2014  " + m.subject;
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    }
    // The inline reply's fields, shown only while a reply is written in the pane.
    child(L"STATIC", L"To:", 0, IDC_TO_LABEL);
    child(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, IDC_TO, WS_EX_CLIENTEDGE);
    child(L"STATIC", L"Subject:", 0, IDC_SUBJECT_LABEL);
    child(L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, IDC_SUBJECT, WS_EX_CLIENTEDGE);
    child(L"EDIT", L"", WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL, IDC_BODY, WS_EX_CLIENTEDGE);
    child(L"STATIC", L"Attached:", 0, IDC_ATTACH_LABEL);
    child(L"LISTBOX", L"", WS_TABSTOP | LBS_NOINTEGRALHEIGHT | WS_VSCROLL, IDC_ATTACHMENTS, WS_EX_CLIENTEDGE);
    child(L"STATIC", L"Original message:", 0, IDC_ORIGINAL_LABEL);
    child(L"EDIT", L"", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL, IDC_READING, WS_EX_CLIENTEDGE);
    SendMessageW(list, LB_SETCURSEL, 0, 0);
    ShowSelected();
    Refresh(true);
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
    SetTimer(hwnd_, kRefreshTimer, 100, nullptr);
    return true;
}

void MainWindow::Close() {
    KillTimer(hwnd_, kRefreshTimer);
    // As in Outlook, an inline reply closes first (kept as a draft), then the explorer's Close.
    if (explorer_ && !explorer_->IsClosed()) explorer_->CloseWindow();
    if (explorer_) explorer_->SetWindow(nullptr);
    if (ribbon_) ribbon_->SetWindow(nullptr);
    ribbon_.reset();
    HWND h = hwnd_;
    hwnd_ = nullptr;
    DestroyWindow(h);
    if (font_) DeleteObject(font_);
    font_ = nullptr;
}

std::wstring MainWindow::GetField(int id) const {
    wchar_t buffer[4096];
    GetDlgItemTextW(hwnd_, id, buffer, static_cast<int>(std::size(buffer)));
    return buffer;
}

void MainWindow::ShowSelected() {
    const int i = Selected();
    if (i < 0 || i >= static_cast<int>(std::size(kInbox))) return;
    const ReceivedMail& m = kInbox[i];
    const std::wstring text = std::wstring(L"From: ") + m.from + L" <" + m.address + L">\r\nSubject: " + m.subject +
                              L"\r\n\r\n" + m.body;
    SetDlgItemTextW(hwnd_, IDC_READING, text.c_str());
}

bool MainWindow::Select(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kInbox))) return false;
    // Moving to another mail while replying: Outlook closes the pane's reply and keeps it as a draft.
    if (explorer_->InlineResponse()) {
        explorer_->SelectOther();
        Say("mail: another mail selected; the reply was kept as a draft");
    }
    SendDlgItemMessageW(hwnd_, IDC_INBOX, LB_SETCURSEL, index, 0);
    ShowSelected();
    Refresh(true);
    return true;
}

bool MainWindow::Reply() {
    const int i = Selected();
    if (i < 0 || explorer_->InlineResponse()) return false;
    // Timed: the host's InlineResponse with the add-ins' handlers, and the Message tab's first round
    // of their get-callbacks.
    const double t0 = NowMs();
    auto reply = explorer_->Reply(inbox_[i].Get());
    const double took = NowMs() - t0;
    if (!reply) return false;
    const ReceivedMail& m = kInbox[i];
    SetField(IDC_TO, m.address);
    SetField(IDC_SUBJECT, std::wstring(L"RE: ") + m.subject);
    SetField(IDC_BODY, L"Hello,\r\n\r\nmy answer is in the voice message attached.\r\n");
    Refresh(true);
    Say("mail: replying inline to \"%s\"; the main window's ribbon groups: %zu (the reply appeared in %.2f ms)",
        Narrow(m.subject).c_str(), ribbon_->Groups().size(), took);
    for (const std::wstring& error : client_->app->GetRibbon().Errors()) Say("mail: ribbon: %s", Narrow(error).c_str());
    return true;
}

HRESULT MainWindow::SendReply() {
    ComPtr<simhost::MailItem> reply(explorer_->InlineResponse());
    if (!reply) return E_UNEXPECTED;
    const HRESULT hr = explorer_->SendInline();
    if (hr == S_OK)
        Say("mail: the reply was sent with %zu attachment(s)", reply->GetAttachments().All().size());
    else
        Say("mail: the reply was not sent (0x%08lX)", static_cast<unsigned long>(hr));
    Refresh(true);
    return hr;
}

bool MainWindow::Discard() {
    if (FAILED(explorer_->DiscardInline())) return false;
    Say("mail: the reply was discarded");
    Refresh(true);
    return true;
}

MailWindow* MainWindow::PopOut() {
    if (!explorer_->InlineResponse()) return nullptr;
    const MailFields fields{GetField(IDC_TO), GetField(IDC_SUBJECT), GetField(IDC_BODY)};
    // The host closes the inline reply and opens an inspector for it: the add-ins hear of both.
    auto inspector = explorer_->PopOut();
    Refresh(true);
    return inspector ? client_->Open(inspector.Get(), &fields) : nullptr;
}

bool MainWindow::SaveEml(const std::wstring& path) {
    simhost::MailItem* reply = Mail();
    if (!reply) return false;
    pvlmail::EmlMessage m;
    m.from = L"Parvaline Mail user <user@example.com>";
    m.to = GetField(IDC_TO);
    m.subject = GetField(IDC_SUBJECT);
    m.body = GetField(IDC_BODY) + L"\r\n-----Original Message-----\r\n" + GetField(IDC_READING);
    for (auto& a : reply->GetAttachments().All()) m.attachments.push_back({a->DisplayName(), a->Data()});
    const std::string text = pvlmail::BuildEml(m);
    const bool ok = WriteAll(path, text.data(), text.size());
    Say("mail: %s %s (%zu bytes, %zu attachment(s))", ok ? "saved" : "could not save", Narrow(path).c_str(), text.size(),
        m.attachments.size());
    return ok;
}

std::wstring MainWindow::Signature() const {
    std::wstring s = ribbon_ ? ribbon_->Signature() : L"";
    s += L"#";
    if (simhost::MailItem* reply = Mail())
        for (auto& a : reply->GetAttachments().All()) s += a->DisplayName() + L":" + std::to_wstring(a->Data().size()) + L";";
    return s + (Mail() ? L"inline" : L"");
}

void MainWindow::Refresh(bool force) {
    if (!hwnd_) return;
    const std::wstring now = Signature();
    if (!force && now == signature_) return;
    signature_ = now;
    const bool ribbonShown = !ribbon_->Groups().empty();
    const int ribbonHeight = ribbonShown ? ribbon_->Height() : 0;
    const bool inlineShown = Mail() != nullptr;
    if (ribbonShown != ribbonShown_ || ribbonHeight != ribbonHeight_ || inlineShown != inlineShown_) {
        ribbonShown_ = ribbonShown;
        ribbonHeight_ = ribbonHeight;
        inlineShown_ = inlineShown;
        Layout();
    }
    InvalidateRect(ribbon_->hwnd(), nullptr, TRUE);
    HWND list = GetDlgItem(hwnd_, IDC_ATTACHMENTS);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    if (simhost::MailItem* reply = Mail())
        for (auto& a : reply->GetAttachments().All()) {
            wchar_t line[512];
            swprintf(line, std::size(line), L"%ls  (%zu bytes)", a->DisplayName().c_str(), a->Data().size());
            SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
        }
    EnableWindow(GetDlgItem(hwnd_, IDC_REPLY), !inlineShown && Selected() >= 0);
    for (int id : {IDC_POP_OUT, IDC_SEND, IDC_DISCARD}) EnableWindow(GetDlgItem(hwnd_, id), inlineShown);
}

void MainWindow::Layout() {
    RECT c;
    GetClientRect(hwnd_, &c);
    const int w = c.right, h = c.bottom, m = 6;
    const int ribbonHeight = ribbonShown_ ? ribbonHeight_ : 0;
    MoveWindow(ribbon_->hwnd(), 0, 0, w, ribbonHeight, TRUE);
    auto place = [&](int id, int x, int y, int ww, int hh) { MoveWindow(GetDlgItem(hwnd_, id), x, y, ww, hh, TRUE); };
    auto show = [&](int id, bool on) { ShowWindow(GetDlgItem(hwnd_, id), on ? SW_SHOW : SW_HIDE); };
    int y = ribbonHeight + m;
    int x = m;
    for (int id : {IDC_NEW_MAIL, IDC_REPLY, IDC_POP_OUT, IDC_SEND, IDC_DISCARD}) {
        place(id, x, y, 84, 26);
        x += 90;
    }
    y += 26 + m;
    const int listWidth = 300, paneLeft = m + listWidth + m, paneWidth = w - paneLeft - m;
    place(IDC_INBOX, m, y, listWidth, h - y - m);
    for (int id : {IDC_TO_LABEL, IDC_TO, IDC_SUBJECT_LABEL, IDC_SUBJECT, IDC_BODY, IDC_ATTACH_LABEL, IDC_ATTACHMENTS, IDC_ORIGINAL_LABEL})
        show(id, inlineShown_);
    if (inlineShown_) {
        // The reply on top of the pane, the mail it answers underneath.
        place(IDC_TO_LABEL, paneLeft, y + 3, 60, 18);
        place(IDC_TO, paneLeft + 64, y, paneWidth - 64, 22);
        y += 28;
        place(IDC_SUBJECT_LABEL, paneLeft, y + 3, 60, 18);
        place(IDC_SUBJECT, paneLeft + 64, y, paneWidth - 64, 22);
        y += 30;
        const int bodyHeight = std::max(60, (h - y) / 3);
        place(IDC_BODY, paneLeft, y, paneWidth, bodyHeight);
        y += bodyHeight + m;
        place(IDC_ATTACH_LABEL, paneLeft, y + 3, 60, 18);
        place(IDC_ATTACHMENTS, paneLeft + 64, y, paneWidth - 64, 40);
        y += 40 + m;
        place(IDC_ORIGINAL_LABEL, paneLeft, y, paneWidth, 18);
        y += 20;
    }
    place(IDC_READING, paneLeft, y, paneWidth, std::max(40, h - y - m));
}

LRESULT CALLBACK MainWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE)
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg == WM_NCCREATE) self->hwnd_ = hwnd;
    if (!self || self->hwnd_ != hwnd) return DefWindowProcW(hwnd, msg, wp, lp);
    return self->Handle(msg, wp, lp);
}

LRESULT MainWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_SIZE:
            if (ribbon_) Layout();
            return 0;
        case WM_TIMER:
            if (wp == kRefreshTimer) Refresh();
            return 0;
        case WM_COMMAND:
            switch (LOWORD(wp)) {
                case IDM_NEW:
                case IDC_NEW_MAIL:
                    client_->Open();
                    return 0;
                case IDC_REPLY:
                    Reply();
                    return 0;
                case IDC_POP_OUT:
                    PopOut();
                    return 0;
                case IDC_SEND:
                    SendReply();
                    return 0;
                case IDC_DISCARD:
                    Discard();
                    return 0;
                case IDC_INBOX:
                    if (HIWORD(wp) == LBN_SELCHANGE) Select(Selected());
                    return 0;
                case IDM_EXIT:
                    client_->CloseAll();
                    return 0;
            }
            break;
        case WM_CLOSE:
            client_->CloseAll();
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

void MailClient::CloseAll() {
    quitting = true;
    const bool open = main || !windows.empty();
    while (!windows.empty()) windows.back()->CloseMail();
    if (main) {
        std::unique_ptr<MainWindow> closing = std::move(main);
        closing->Close();
    }
    if (open) PostQuitMessage(0);
}

ClientWindow* MailClient::WindowOf(HWND top) const {
    if (main && main->hwnd() == top) return main.get();
    for (auto& w : windows)
        if (w->hwnd() == top) return w.get();
    return nullptr;
}

// Keytips as Office shows them: while Alt is held the ribbon shows each control's keytip, and typing
// one presses that control. True when the message was the ribbon's.
bool KeytipMessage(const MailClient& client, const MSG& msg) {
    if (msg.message != WM_SYSKEYDOWN && msg.message != WM_SYSKEYUP && msg.message != WM_SYSCHAR) return false;
    ClientWindow* window = client.WindowOf(GetAncestor(msg.hwnd, GA_ROOT));
    if (!window) return false;
    RibbonStrip& ribbon = window->Ribbon();
    switch (msg.message) {
        case WM_SYSKEYDOWN:
            // Only where there are keytips to show: elsewhere Alt opens the menu as usual.
            if (msg.wParam != VK_MENU || (msg.lParam & (1 << 30)) || !ribbon.HasKeytips()) return false;
            ribbon.ShowKeytips(true);
            return true;
        case WM_SYSKEYUP:
            if (msg.wParam != VK_MENU || !ribbon.KeytipsShown()) return false;
            ribbon.ShowKeytips(false);
            return true;
        default: {
            if (!ribbon.KeytipsShown()) return false;
            const HRESULT hr = ribbon.TypeKeytip(static_cast<wchar_t>(msg.wParam));
            if (hr == E_INVALIDARG) return false;  // no keytip: a menu's mnemonic, perhaps
            if (hr != S_FALSE) Say("mail: keytip pressed a ribbon control (0x%08lX)", static_cast<unsigned long>(hr));
            return true;
        }
    }
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
    bool RunMain(const Step& step);
    bool RunRibbon(const Step& step, ClientWindow* w);
    // The newest mail window (the bar's steps act there).
    MailWindow* Current() const { return client_->windows.empty() ? nullptr : client_->windows.back().get(); }
    // Where the ribbon, shot and mail steps act: the main window when chosen, or when no mail window is open.
    ClientWindow* Target() const {
        if (mainTarget_ || client_->windows.empty()) return client_->main.get();
        return Current();
    }
    MailClient* client_;
    bool mainTarget_ = false;
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
    const double seconds = s.arg.empty() ? 0 : _wtof(s.arg.c_str());
    if (s.verb == L"wait") {
        resumeAt_ = NowMs() + seconds * 1000;
        return true;
    }
    if (s.verb == L"newmail") {
        mainTarget_ = false;
        return client_->Open() != nullptr;
    }
    if (s.verb == L"mail") {
        mainTarget_ = false;
        return Current() != nullptr;
    }
    if (RunMain(s)) return !failed_;
    if (ClientWindow* t = Target(); t && RunRibbon(s, t)) return !failed_;
    ClientWindow* t = Target();
    if (!t) return false;
    if (s.verb == L"shot") {
        // In front of any mail window: the screenshot is what the screen shows.
        SetWindowPos(t->hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        RedrawWindow(t->hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        GdiFlush();
        const std::wstring path = client_->outDir + L"\\" + s.arg + L".bmp";
        const bool ok = CaptureWindow(t->hwnd(), path);
        Say("mail: screenshot %s", Narrow(path).c_str());
        return ok;
    }
    if (s.verb == L"attachments") {
        const size_t n = t->Mail() ? t->Mail()->GetAttachments().All().size() : 0;
        Say("mail: %zu attachment(s)%s", n, t->Mail() ? "" : " (no mail is being written there)");
        return t->Mail() && n == static_cast<size_t>(_wtoi(s.arg.c_str()));
    }
    if (s.verb == L"save") return t->SaveEml(s.arg);
    if (s.verb == L"to") return t->SetField(IDC_TO, s.arg), true;
    if (s.verb == L"subject") return t->SetField(IDC_SUBJECT, s.arg), true;
    if (s.verb == L"close") {
        if (t == client_->main.get()) return client_->CloseAll(), true;
        return Current()->CloseMail(), true;
    }
    // The command bar's steps: a mail window's.
    MailWindow* w = Current();
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
    Say("script: unknown step");
    return false;
}

// The main window's steps; false when the step is none of them (failed_ says whether one failed).
bool Script::RunMain(const Step& s) {
    static const wchar_t* const verbs[] = {L"main", L"select", L"reply", L"sendreply", L"discard", L"popout"};
    if (std::none_of(std::begin(verbs), std::end(verbs), [&](const wchar_t* v) { return s.verb == v; })) return false;
    MainWindow* main = client_->main.get();
    bool ok = main != nullptr;
    mainTarget_ = s.verb != L"popout";
    if (ok && mainTarget_) SetWindowPos(main->hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    if (!ok || s.verb == L"main") {
    } else if (s.verb == L"select") {
        ok = main->Select(_wtoi(s.arg.c_str()) - 1);
    } else if (s.verb == L"reply") {
        ok = main->Reply();
    } else if (s.verb == L"sendreply") {
        ok = main->SendReply() == S_OK;
    } else if (s.verb == L"discard") {
        ok = main->Discard();
    } else {
        ok = main->PopOut() != nullptr;
    }
    if (!ok) failed_ = true;
    return true;
}

// The ribbon's steps, on the target window; false when the step is none of them.
bool Script::RunRibbon(const Step& s, ClientWindow* w) {
    RibbonStrip& ribbon = w->Ribbon();
    // ID+ / ID- : what the step expects of the control.
    const std::wstring id = s.arg.size() >= 2 ? s.arg.substr(0, s.arg.size() - 1) : s.arg;
    const bool plus = !s.arg.empty() && s.arg.back() == L'+';
    bool ok = true;
    if (s.verb == L"ribbon") {
        ok = ribbon.PostClick(s.arg);
    } else if (s.verb == L"ribbonkey") {
        ok = ribbon.PostKeys(s.arg);
    } else if (s.verb == L"expectgroups") {
        const size_t n = ribbon.Groups().size();
        Say("mail: the ribbon shows %zu group(s)", n);
        ok = n == static_cast<size_t>(_wtoi(s.arg.c_str()));
    } else if (s.verb == L"expectribbon") {
        // Either way the control must be there.
        auto b = ribbon.Button(id);
        Say("mail: ribbon %s is %s", Narrow(id).c_str(), !b ? "missing" : b->enabled ? "enabled" : "disabled");
        ok = s.arg.size() >= 2 && b && b->enabled == plus;
    } else if (s.verb == L"expectpressed") {
        auto b = ribbon.Button(id);
        Say("mail: ribbon %s is %s", Narrow(id).c_str(), !b ? "missing" : b->pressed ? "pressed" : "not pressed");
        ok = s.arg.size() >= 2 && b && b->pressed == plus;
    } else if (s.verb == L"expectlabel") {
        const size_t eq = s.arg.find(L'=');
        auto b = ribbon.Button(s.arg.substr(0, eq));
        Say("mail: ribbon %s reads \"%s\"", Narrow(s.arg.substr(0, eq)).c_str(), b ? Narrow(b->label).c_str() : "(missing)");
        ok = eq != std::wstring::npos && b && b->label == s.arg.substr(eq + 1);
    } else if (s.verb == L"expectfit") {
        std::wstring why;
        ok = ribbon.LaidOut(&why);
        Say("mail: the ribbon is %d px high; %s", ribbon.Height(), ok ? "everything fits" : Narrow(why).c_str());
    } else if (s.verb == L"keytips") {
        ribbon.ShowKeytips(s.arg != L"off");
        UpdateWindow(ribbon.hwnd());
        ok = s.arg == L"off" || ribbon.HasKeytips();
    } else if (s.verb == L"keytip") {
        // As the user types it: Alt held, the keys, Alt let go.
        HWND top = w->hwnd();
        SetForegroundWindow(top);
        PostMessageW(top, WM_SYSKEYDOWN, VK_MENU, 0x20000001);
        for (wchar_t c : s.arg) PostMessageW(top, WM_SYSCHAR, c, 0x20000001);
        PostMessageW(top, WM_SYSKEYUP, VK_MENU, static_cast<LPARAM>(0xC0000001u));
    } else if (s.verb == L"expectdrawn") {
        // ID+ : the picture's centre is painted in the picture's own colour; ID- : painted grey
        // instead, as disabled.
        auto b = ribbon.Button(id);
        COLORREF c = 0;
        if (s.arg.size() < 2 || !b || !b->picture || !ribbon.DrawnPictureCentre(id, &c)) {
            Say("mail: ribbon %s has no picture drawn", Narrow(id).c_str());
            ok = false;
        } else {
            const COLORREF own = b->picture.At(b->picture.height / 2, b->picture.width / 2);
            const int distance = std::max({std::abs(GetRValue(c) - GetRValue(own)), std::abs(GetGValue(c) - GetGValue(own)),
                                           std::abs(GetBValue(c) - GetBValue(own))});
            const int spread = std::max({GetRValue(c), GetGValue(c), GetBValue(c)}) - std::min({GetRValue(c), GetGValue(c), GetBValue(c)});
            Say("mail: ribbon %s is drawn #%02X%02X%02X (its picture #%02X%02X%02X)", Narrow(id).c_str(), GetRValue(c),
                GetGValue(c), GetBValue(c), GetRValue(own), GetGValue(own), GetBValue(own));
            ok = plus ? distance <= 8 : distance > 24 && spread < 16;
        }
    } else {
        return false;
    }
    if (!ok) failed_ = true;
    return true;
}

// The About window: the add-in's visible top-level window on this thread, the one that is not a
// mail window.
BOOL CALLBACK FindAbout(HWND hwnd, LPARAM lp) {
    if (GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId() || !IsWindowVisible(hwnd)) return TRUE;
    wchar_t cls[64];
    GetClassNameW(hwnd, cls, 64);
    if (std::wstring(cls) == kMailClass || std::wstring(cls) == kMainClass) return TRUE;
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
    WNDCLASSEXW main = mail;
    main.lpfnWndProc = &MainWindow::Proc;
    main.lpszClassName = kMainClass;
    return RegisterClassExW(&mail) && RegisterClassExW(&main) && RegisterClassExW(&bar) && RibbonStrip::Register(instance);
}

int Run(const std::wstring& outDir, const std::wstring& scriptText) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!RegisterClasses(instance)) return 3;
    simhost::Host::Get().Reset();
    MailClient client;
    client.outDir = outDir;
    client.app = simhost::Make<simhost::Application>();

    // The main window first: Outlook's exists when the add-ins connect.
    client.main = std::make_unique<MainWindow>(&client, client.app->GetExplorers().Open());
    if (!client.main->Create()) return 4;

    // Starting up as the real client does: every add-in registered to load at start.
    const HRESULT loaded = client.loader.StartUp(client.app.Get());
    for (const auto& a : client.loader.Addins())
        Say("mail: loaded add-in %s from %s (entered in %s)", Narrow(a.progId).c_str(), Narrow(a.modulePath).c_str(),
            a.perUser && a.perMachine ? "HKCU and HKLM" : a.perMachine ? "HKLM" : "HKCU");
    if (FAILED(loaded)) Say("mail: an add-in failed to load (0x%08lX)", static_cast<unsigned long>(loaded));
    if (client.loader.Addins().empty()) Say("mail: no add-in is registered to load at start");
    client.main->Refresh(true);
    Say("mail: main window opened; its ribbon groups: %zu", client.main->Ribbon().Groups().size());

    ACCEL keys[] = {{FCONTROL | FVIRTKEY, 'N', IDM_NEW}, {FCONTROL | FVIRTKEY, 'S', IDM_SAVE},
                    {FCONTROL | FVIRTKEY, 'W', IDM_CLOSE}};
    client.accelerators = CreateAcceleratorTableW(keys, static_cast<int>(std::size(keys)));

    std::unique_ptr<Script> script;
    // A script runs with nobody at the screen: the add-in's boxes are answered as a user would, and
    // what they said goes to the log.
    std::unique_ptr<simhost::MessageBoxAnswerer> user;
    if (!scriptText.empty()) {
        script = std::make_unique<Script>(&client, ParseScript(scriptText));
        g_script = script.get();
        user = std::make_unique<simhost::MessageBoxAnswerer>(
            [](const std::wstring& text) { Say("mail: the add-in said: %s", Narrow(text).c_str()); }, L"Parvaline");
    }
    int rc = 0;
    if (!client.Open()) {
        rc = 4;
    } else {
        if (script) SetTimer(nullptr, 0, 50, &ScriptTimer);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (KeytipMessage(client, msg)) continue;
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
