// The About window: its layout and styles read back from the real window; its modal showing from
// the product button, with a helper thread acting as the user while the handler runs the window's
// loop; and its links, which must reach the shell with the "open" verb and their targets. Stand-in
// handlers registered for web addresses, "mailto:" and .htm files log what the shell gives them.
#include "support.h"
#include "about/about_resource.h"
#include "about/about_window.h"
#include "server/class_factory.h"
#include <mmsystem.h>

namespace pvltest {
namespace {

constexpr wchar_t kAboutClass[] = L"ParvalineAbout";
constexpr wchar_t kHomepage[] = L"https://www.parvaline.example/";
constexpr wchar_t kSupportMail[] = L"mailto:support@parvaline.example";
constexpr DWORD kPatience = 10000;  // ms: a start of the logger under Wine takes well under a second

// --- Acting as the user ---------------------------------------------------------------------------

std::wstring ClassOf(HWND w) {
    wchar_t name[64] = L"";
    GetClassNameW(w, name, 64);
    return name;
}

struct WindowSearch {
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK MatchVisible(HWND w, LPARAM lp) {
    auto* search = reinterpret_cast<WindowSearch*>(lp);
    if (ClassOf(w) != search->className || !IsWindowVisible(w)) return TRUE;
    search->found = w;
    return FALSE;
}

// A visible top-level window of the user-interface thread with this class.
HWND FindVisible(DWORD thread, const wchar_t* className) {
    WindowSearch search{className, nullptr};
    EnumThreadWindows(thread, &MatchVisible, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool WaitFor(const std::function<bool()>& condition, DWORD ms = kPatience) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > ms) return false;
        Sleep(10);
    }
    return true;
}

// Presses a button as a mouse click would, through the window's own message loop. Posted, so the
// helper is never blocked by what the press starts (the shell may show a message of its own).
void Press(HWND about, int id) { PostMessageW(GetDlgItem(about, id), BM_CLICK, 0, 0); }

// A key pressed where the focus is, through the loop and the dialog manager as typed keys go.
void PressKey(HWND about, DWORD ui, UINT key) {
    GUITHREADINFO info = {sizeof(info)};
    GetGUIThreadInfo(ui, &info);
    const HWND target = info.hwndFocus && IsChild(about, info.hwndFocus) ? info.hwndFocus : about;
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

bool WaitHidden(HWND about) {
    return WaitFor([about] { return !IsWindowVisible(about); }, 3000);
}

// Runs `script` on a thread of its own once the About window is visible, while the test's thread is
// inside the product button's handler. Reads of the window from the script reach the window's
// thread through its modal loop, so the script must not read it once it has hidden it.
class AboutUser {
public:
    using Script = std::function<void(HWND about)>;
    explicit AboutUser(Script script) : ui_(GetCurrentThreadId()), script_(std::move(script)), thread_([this] { Run(); }) {}
    ~AboutUser() { Join(); }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    bool SawWindow() const { return saw_; }  // after Join

private:
    void Run() {
        HWND about = nullptr;
        WaitFor([&] { return (about = FindVisible(ui_, kAboutClass)) != nullptr; });
        if (!about) return;
        saw_ = true;
        script_(about);
        // Whatever the script did, the window's loop must end, or the test would never return.
        if (IsWindowVisible(about)) PostMessageW(about, WM_COMMAND, IDOK, 0);
    }
    const DWORD ui_;
    Script script_;
    bool saw_ = false;
    std::thread thread_;
};

// --- The shell's side ------------------------------------------------------------------------------

// Registry values set for a test and put back as they were. Written through HKEY_CLASSES_ROOT:
// Wine 8 does not read per-user classes (HKCU\Software\Classes) into it, as Windows does.
class ClassesOverride {
public:
    ~ClassesOverride() { Restore(); }
    void Set(const std::wstring& key, const wchar_t* name, const std::wstring& data) {
        RememberMissingKey(key);
        pvl::UniqueHKey k;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                  k.put(), nullptr),
                  ERROR_SUCCESS);
        Saved saved{key, name};
        DWORD size = 0;
        if (RegQueryValueExW(k.get(), name, nullptr, &saved.type, nullptr, &size) == ERROR_SUCCESS) {
            saved.existed = true;
            saved.data.resize(size);
            RegQueryValueExW(k.get(), name, nullptr, &saved.type, saved.data.data(), &size);
        }
        values_.push_back(std::move(saved));
        ASSERT_EQ(RegSetValueExW(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    void Restore() {
        for (auto v = values_.rbegin(); v != values_.rend(); ++v) {
            pvl::UniqueHKey k;
            if (RegOpenKeyExW(HKEY_CLASSES_ROOT, v->key.c_str(), 0, KEY_WRITE, k.put()) != ERROR_SUCCESS) continue;
            if (v->existed)
                RegSetValueExW(k.get(), v->name.c_str(), 0, v->type, v->data.data(), static_cast<DWORD>(v->data.size()));
            else
                RegDeleteValueW(k.get(), v->name.c_str());
        }
        values_.clear();
        for (auto key = created_.rbegin(); key != created_.rend(); ++key) RegDeleteTreeW(HKEY_CLASSES_ROOT, key->c_str());
        created_.clear();
    }

private:
    struct Saved {
        std::wstring key, name;
        bool existed = false;
        DWORD type = REG_SZ;
        std::vector<BYTE> data;
    };
    // The outermost key of `key` that does not exist yet is deleted, with what is under it, at the end.
    void RememberMissingKey(const std::wstring& key) {
        for (size_t end = 0; end != std::wstring::npos;) {
            end = key.find(L'\\', end + 1);
            const std::wstring part = key.substr(0, end);
            pvl::UniqueHKey k;
            if (RegOpenKeyExW(HKEY_CLASSES_ROOT, part.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS) {
                created_.push_back(part);
                return;
            }
        }
    }
    std::vector<Saved> values_;
    std::vector<std::wstring> created_;
};

// The logger registered for http, https, mailto and .htm: "open" under the verb the component
// must use, "other" under a default verb of another name, which a call without a verb would take.
class ShellLog {
public:
    ShellLog() {
        // The handlers are the prefix's, shared with any other run of these tests: one at a time.
        exclusive_.reset(CreateMutexW(nullptr, FALSE, L"Local\\ParvalineAboutShellLog"));
        if (exclusive_) WaitForSingleObject(exclusive_.get(), 120000);
        wchar_t temp[MAX_PATH] = L"";
        GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp) + L"pvl_about_shell_" + std::to_wstring(GetCurrentProcessId()) + L".log";
        DeleteFileW(path_.c_str());
        const std::wstring logger = TestFolder() + L"\\pvl_shell_logger.exe";
        auto command = [&](const wchar_t* verb) {
            return L"\"" + logger + L"\" \"" + path_ + L"\" " + verb + L" \"%1\"";
        };
        auto handler = [&](const std::wstring& key) {
            classes_.Set(key + L"\\shell", L"", L"pvlother");
            classes_.Set(key + L"\\shell\\open\\command", L"", command(L"open"));
            classes_.Set(key + L"\\shell\\pvlother\\command", L"", command(L"other"));
        };
        for (const wchar_t* scheme : {L"http", L"https", L"mailto"}) {
            classes_.Set(scheme, L"", std::wstring(L"URL:") + scheme);
            classes_.Set(scheme, L"URL Protocol", L"");
            handler(scheme);
        }
        classes_.Set(L".htm", L"", L"htmlfile");
        handler(L"htmlfile");
    }
    ~ShellLog() {
        classes_.Restore();
        DeleteFileW(path_.c_str());
        if (exclusive_) ReleaseMutex(exclusive_.get());
    }

    std::vector<std::wstring> Lines() const {
        const auto bytes = ReadFileBytes(path_);
        const std::wstring text = Utf16(std::string(bytes.begin(), bytes.end()));
        std::vector<std::wstring> lines;
        for (size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
    bool WaitForLines(size_t count, DWORD ms = kPatience) const {
        return WaitFor([&] { return Lines().size() >= count; }, ms);
    }
    // What the logger writes for a target opened with "open" and shown normally (SW_SHOWNORMAL, 1):
    // a program that is not running yet must not start hidden.
    static std::wstring Opened(const std::wstring& target) { return L"open\t1\t" + target; }

private:
    pvl::UniqueHandle exclusive_;
    std::wstring path_;
    ClassesOverride classes_;
};

std::string Narrow(const std::vector<std::wstring>& lines) {
    std::string s;
    for (const auto& l : lines) {
        for (wchar_t c : l) s += c < 128 ? static_cast<char>(c) : '?';
        s += '\n';
    }
    return s;
}

// --- The window in this program's component ---------------------------------------------------------

class AboutTest : public MailWindowTest {
protected:
    simhost::CommandBarButton* Product() { return Buttons(inspector_).at(0); }
    HWND About() const {
        pvl::AboutWindow* about = pvl::ExistingAboutWindow();
        return about ? about->hwnd() : nullptr;
    }
    static RECT ControlRect(HWND dialog, int id) {
        RECT r{};
        GetWindowRect(GetDlgItem(dialog, id), &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    static int ScreenDpi(int axis) {
        HDC dc = GetDC(nullptr);
        const int dpi = GetDeviceCaps(dc, axis);
        ReleaseDC(nullptr, dc);
        return dpi;
    }
};

TEST_F(AboutTest, ExistsHiddenRightAfterConnectionWithItsDesignTimeContents) {
    const HWND about = About();
    ASSERT_TRUE(IsWindow(about));
    EXPECT_FALSE(IsWindowVisible(about));
    EXPECT_EQ(ClassOf(about), kAboutClass);
    wchar_t text[256];
    GetWindowTextW(about, text, 256);
    EXPECT_STREQ(text, L"About Parvaline");
    const std::pair<int, const wchar_t*> contents[] = {
        {IDOK, L"OK"}, {IDC_LBLTITLE, L"Parvaline Version 1.0"}, {IDC_BUTTONHOMEPAGE, L"Home Page"},
        {IDC_BUTTONEMAIL, L"Email us"}, {IDC_BUTTONHELP, L"Help"}};
    for (const auto& [id, expected] : contents) {
        GetDlgItemTextW(about, id, text, 256);
        EXPECT_STREQ(text, expected) << id;
    }
    EXPECT_GT(GetWindowTextLengthW(GetDlgItem(about, IDC_LBLVERSION)), 0);
    EXPECT_GT(GetWindowTextLengthW(GetDlgItem(about, IDC_LBLDISCLAIMER)), 0);
}

TEST_F(AboutTest, ClientAreaAndControlsAreTheirTwipsBoxesInPixels) {
    const HWND about = About();
    const int dpiX = ScreenDpi(LOGPIXELSX), dpiY = ScreenDpi(LOGPIXELSY);
    auto px = [&](int twips) { return MulDiv(twips, dpiX, 1440); };
    auto py = [&](int twips) { return MulDiv(twips, dpiY, 1440); };
    RECT client{};
    GetClientRect(about, &client);
    EXPECT_EQ(client.right, px(5730));
    EXPECT_EQ(client.bottom, py(3510));
    struct Box {
        int id, left, top, width, height;
    };
    const Box boxes[] = {
        {IDC_PICICON, 240, 240, 540, 540},         {IDC_LBLTITLE, 1050, 240, 3885, 240},
        {IDC_LBLVERSION, 1050, 480, 3885, 225},    {IDC_BUTTONHOMEPAGE, 120, 960, 1335, 375},
        {IDC_BUTTONEMAIL, 2160, 960, 1335, 375},   {IDC_BUTTONHELP, 4200, 960, 1335, 375},
        {IDC_LBLDISCLAIMER, 120, 2280, 3855, 1155}, {IDOK, 4245, 2280, 1260, 345},
    };
    for (const Box& b : boxes) {
        const RECT r = ControlRect(about, b.id);
        EXPECT_EQ(r.left, px(b.left)) << b.id;
        EXPECT_EQ(r.top, py(b.top)) << b.id;
        EXPECT_EQ(r.right - r.left, px(b.width)) << b.id;
        EXPECT_EQ(r.bottom - r.top, py(b.height)) << b.id;
    }
    // The separator: from x 120 to 5684 at y 2160, a grey row over a white one.
    const RECT line = ControlRect(about, IDC_LINE1);
    EXPECT_EQ(line.left, px(120));
    EXPECT_EQ(line.top, py(2160));
    EXPECT_EQ(line.right, px(5684));
    EXPECT_EQ(line.bottom - line.top, 2);
    if (dpiX == 96 && dpiY == 96) {
        // 15 twips to the pixel.
        EXPECT_EQ(client.right, 382);
        EXPECT_EQ(client.bottom, 234);
        const RECT ok = ControlRect(about, IDOK);
        EXPECT_EQ(ok.left, 283);
        EXPECT_EQ(ok.top, 152);
        EXPECT_EQ(ok.right, 283 + 84);
        EXPECT_EQ(ok.bottom, 152 + 23);
        const RECT pic = ControlRect(about, IDC_PICICON);
        EXPECT_EQ(pic.right - pic.left, 36);  // the 32-pixel picture and its two-pixel sunken border
        RECT inside{};
        GetClientRect(GetDlgItem(about, IDC_PICICON), &inside);
        EXPECT_EQ(inside.right, 32);
        EXPECT_EQ(inside.bottom, 32);
    }
}

TEST_F(AboutTest, IsAFixedDialogWithACloseButtonOutOfTheTaskBar) {
    const HWND about = About();
    const LONG_PTR style = GetWindowLongPtrW(about, GWL_STYLE);
    const LONG_PTR ex = GetWindowLongPtrW(about, GWL_EXSTYLE);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(ex & WS_EX_DLGMODALFRAME);
    // Out of the task bar: owned (by a window never shown), and not marked as an application window.
    EXPECT_FALSE(ex & WS_EX_APPWINDOW);
    const HWND owner = GetWindow(about, GW_OWNER);
    EXPECT_NE(owner, nullptr);
    EXPECT_FALSE(IsWindowVisible(owner));
    // The title bar's close command is there and enabled.
    const UINT close = GetMenuState(GetSystemMenu(about, FALSE), SC_CLOSE, MF_BYCOMMAND);
    EXPECT_NE(close, static_cast<UINT>(-1));
    EXPECT_FALSE(close & (MF_GRAYED | MF_DISABLED));
}

TEST_F(AboutTest, OkIsTheDefaultButtonAndFocusRunsOkPictureHomePageEmailHelp) {
    const HWND about = About();
    const LRESULT def = SendMessageW(about, DM_GETDEFID, 0, 0);
    EXPECT_EQ(HIWORD(def), DC_HASDEFID);
    EXPECT_EQ(LOWORD(def), IDOK);
    HWND at = GetNextDlgTabItem(about, nullptr, FALSE);
    EXPECT_EQ(GetDlgCtrlID(at), IDOK);
    for (int id : {IDC_PICICON, IDC_BUTTONHOMEPAGE, IDC_BUTTONEMAIL, IDC_BUTTONHELP, IDOK}) {
        at = GetNextDlgTabItem(about, at, FALSE);
        EXPECT_EQ(GetDlgCtrlID(at), id);
    }
    for (int id : {IDC_LBLTITLE, IDC_LBLVERSION, IDC_LBLDISCLAIMER, IDC_LINE1})
        EXPECT_FALSE(GetWindowLongPtrW(GetDlgItem(about, id), GWL_STYLE) & WS_TABSTOP) << id;
}

TEST_F(AboutTest, ThePictureIsTheOliveProductIconOnWhiteInABorder) {
    const HWND pic = GetDlgItem(About(), IDC_PICICON);
    EXPECT_TRUE(GetWindowLongPtrW(pic, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    const auto bitmap = reinterpret_cast<HBITMAP>(SendMessageW(pic, STM_GETIMAGE, IMAGE_BITMAP, 0));
    ASSERT_NE(bitmap, nullptr);
    BITMAP info{};
    ASSERT_TRUE(GetObjectW(bitmap, sizeof(info), &info));
    EXPECT_EQ(info.bmWidth, 32);
    EXPECT_EQ(info.bmHeight, 32);
    BITMAPINFO format = {};
    format.bmiHeader = {sizeof(BITMAPINFOHEADER), 32, -32, 1, 32, BI_RGB};
    std::vector<DWORD> pixels(32 * 32);
    HDC dc = GetDC(nullptr);
    EXPECT_EQ(GetDIBits(dc, bitmap, 0, 32, pixels.data(), &format, DIB_RGB_COLORS), 32);
    ReleaseDC(nullptr, dc);
    constexpr DWORD kOlive = 0x808000, kWhite = 0xFFFFFF;  // 0xRRGGBB, as DIB pixels read
    std::set<DWORD> colours;
    for (DWORD p : pixels) colours.insert(p & 0xFFFFFF);
    EXPECT_EQ(colours, (std::set<DWORD>{kOlive, kWhite}));
    // A square frame: the second row and column from each edge are olive, the corners white.
    EXPECT_EQ(pixels[0] & 0xFFFFFF, kWhite);
    for (int i = 2; i < 30; ++i) {
        EXPECT_EQ(pixels[1 * 32 + i] & 0xFFFFFF, kOlive);
        EXPECT_EQ(pixels[30 * 32 + i] & 0xFFFFFF, kOlive);
        EXPECT_EQ(pixels[i * 32 + 1] & 0xFFFFFF, kOlive);
        EXPECT_EQ(pixels[i * 32 + 30] & 0xFFFFFF, kOlive);
    }
}

TEST_F(AboutTest, TheProductButtonShowsItCentredWithTheFocusOnOkAndOkHidesIt) {
    const DWORD ui = GetCurrentThreadId();
    HWND seen = nullptr, focus = nullptr;
    RECT frame{};
    bool hidden = false;
    AboutUser user([&](HWND about) {
        seen = about;
        // The window is visible a moment before the handler gives OK the focus.
        WaitFor([&] {
            GUITHREADINFO info = {sizeof(info)};
            GetGUIThreadInfo(ui, &info);
            focus = info.hwndFocus;
            return focus == GetDlgItem(about, IDOK);
        }, 3000);
        GetWindowRect(about, &frame);
        Press(about, IDOK);
        hidden = WaitHidden(about);
    });
    EXPECT_EQ(Product()->Click(), S_OK);
    user.Join();
    ASSERT_TRUE(user.SawWindow());
    EXPECT_EQ(seen, About());
    EXPECT_EQ(focus, GetDlgItem(About(), IDOK));
    EXPECT_TRUE(hidden);
    EXPECT_TRUE(IsWindow(About()));
    EXPECT_FALSE(IsWindowVisible(About()));
    MONITORINFO monitor = {sizeof(monitor)};
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(About(), MONITOR_DEFAULTTOPRIMARY), &monitor));
    const RECT& screen = monitor.rcWork;
    EXPECT_LE(std::abs((frame.left + frame.right) - (screen.left + screen.right)), 2);
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (screen.top + screen.bottom)), 2);
}

TEST_F(AboutTest, EnterEscAndTheCloseButtonHideTheSameWindowWithoutDestroyingIt) {
    const DWORD ui = GetCurrentThreadId();
    const HWND first = About();
    IDispatch* const control = Fields().mci;
    const std::pair<const char*, std::function<void(HWND)>> ways[] = {
        {"Enter", [&](HWND about) { PressKey(about, ui, VK_RETURN); }},
        {"Esc", [&](HWND about) { PressKey(about, ui, VK_ESCAPE); }},
        {"close button", [](HWND about) { PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"WM_CLOSE", [](HWND about) { PostMessageW(about, WM_CLOSE, 0, 0); }},
        {"OK", [](HWND about) { Press(about, IDOK); }},
    };
    for (const auto& [name, act] : ways) {
        HWND seen = nullptr;
        bool hidden = false;
        AboutUser user([&](HWND about) {
            seen = about;
            act(about);
            hidden = WaitHidden(about);
        });
        EXPECT_EQ(Product()->Click(), S_OK) << name;
        user.Join();
        EXPECT_EQ(seen, first) << name;
        EXPECT_TRUE(hidden) << name;
        EXPECT_EQ(About(), first) << name;
        EXPECT_TRUE(IsWindow(first)) << name;
        EXPECT_EQ(pvl::ExistingAboutWindow()->mci(), control) << name;
    }
}

TEST_F(AboutTest, ItAlwaysOpensWithItsCaptionAndOk) {
    SetWindowTextW(About(), L"Something else");
    SetDlgItemTextW(About(), IDOK, L"Close");
    wchar_t caption[64] = L"", ok[64] = L"";
    AboutUser user([&](HWND about) {
        GetWindowTextW(about, caption, 64);
        GetDlgItemTextW(about, IDOK, ok, 64);
        Press(about, IDOK);
        WaitHidden(about);
    });
    EXPECT_EQ(Product()->Click(), S_OK);
    user.Join();
    EXPECT_STREQ(caption, L"About Parvaline");
    EXPECT_STREQ(ok, L"OK");
}

TEST_F(AboutTest, ARecordingGoesOnAsTheWindowOpensAndClosesAndStopKeepsIt) {
    ASSERT_EQ(Record(inspector_)->Click(), S_OK);
    ASSERT_EQ(State(), pvl::pvlRecording);
    mci_.commands.clear();
    for (int round = 0; round < 2; ++round) {
        AboutUser user([](HWND about) {
            Sleep(200);
            Press(about, IDOK);
            WaitHidden(about);
        });
        EXPECT_EQ(Product()->Click(), S_OK);
        user.Join();
        ASSERT_TRUE(user.SawWindow());
        // Nothing was said to the device: it goes on recording.
        EXPECT_TRUE(mci_.commands.empty()) << Narrow(mci_.commands);
        EXPECT_TRUE(Device()->IsOpen());
        EXPECT_EQ(State(), pvl::pvlRecording);
        EXPECT_EQ(ButtonStates(inspector_), L"rpS");
    }
    EXPECT_EQ(Stop(inspector_)->Click(), S_OK);
    EXPECT_EQ(mci_.Verbs(), (std::vector<std::wstring>{L"stop", L"save", L"close"}));
    EXPECT_EQ(State(), pvl::pvlNone);
}

TEST_F(AboutTest, TheAudioControlsEventsArriveWhileTheWindowIsOpen) {
    WriteFileBytes(RecordingPath(), {'R', 'I', 'F', 'F'});
    ASSERT_EQ(Play(inspector_)->Click(), S_OK);
    ASSERT_EQ(State(), pvl::pvlPlaying);
    bool posted = false, stayedOpen = false;
    AboutUser user([&](HWND about) {
        // The device reports the end of playback, as the driver does, while the window is open.
        const HWND notify = FindWindowExW(HWND_MESSAGE, nullptr, L"ParvalineMciNotify", nullptr);
        posted = notify && PostMessageW(notify, MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, 7);
        Sleep(500);
        stayedOpen = IsWindowVisible(about);
        Press(about, IDOK);
        WaitHidden(about);
    });
    EXPECT_EQ(Product()->Click(), S_OK);
    user.Join();
    ASSERT_TRUE(posted);
    EXPECT_TRUE(stayedOpen);
    // Nothing has run this thread's loop since the window closed: Done was handled inside it.
    EXPECT_EQ(State(), pvl::pvlNone);
    EXPECT_EQ(ButtonStates(inspector_), L"RPs");
}

// --- Links ---------------------------------------------------------------------------------------

class AboutLinksTest : public AboutTest {
protected:
    ShellLog shell_;
};

TEST_F(AboutLinksTest, EachLinkHandsItsTargetToTheShellToOpenAndLeavesTheWindowOpen) {
    bool arrived[3] = {}, stayedOpen = false;
    AboutUser user([&](HWND about) {
        Press(about, IDC_BUTTONHOMEPAGE);
        arrived[0] = shell_.WaitForLines(1);
        Press(about, IDC_BUTTONEMAIL);
        arrived[1] = shell_.WaitForLines(2);
        Press(about, IDC_BUTTONHELP);
        arrived[2] = shell_.WaitForLines(3);
        stayedOpen = IsWindowVisible(about);
        Press(about, IDOK);
        WaitHidden(about);
    });
    EXPECT_EQ(Product()->Click(), S_OK);
    user.Join();
    EXPECT_TRUE(arrived[0] && arrived[1] && arrived[2]);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(shell_.Lines(), (std::vector<std::wstring>{ShellLog::Opened(kHomepage), ShellLog::Opened(kSupportMail),
                                                          ShellLog::Opened(TestFolder() + L"\\Help\\index.htm")}))
        << Narrow(shell_.Lines());
    EXPECT_TRUE(FileExists(TestFolder() + L"\\Help\\index.htm"));
}

TEST_F(AboutLinksTest, EveryPressOpensItsTargetAgain) {
    bool arrived = true;
    AboutUser user([&](HWND about) {
        size_t count = 0;
        for (int id : {IDC_BUTTONEMAIL, IDC_BUTTONEMAIL, IDC_BUTTONHOMEPAGE, IDC_BUTTONHOMEPAGE, IDC_BUTTONHELP,
                       IDC_BUTTONHELP}) {
            Press(about, id);
            arrived = shell_.WaitForLines(++count) && arrived;
        }
        Press(about, IDOK);
        WaitHidden(about);
    });
    EXPECT_EQ(Product()->Click(), S_OK);
    user.Join();
    EXPECT_TRUE(arrived);
    const std::wstring help = ShellLog::Opened(TestFolder() + L"\\Help\\index.htm");
    EXPECT_EQ(shell_.Lines(), (std::vector<std::wstring>{ShellLog::Opened(kSupportMail), ShellLog::Opened(kSupportMail),
                                                          ShellLog::Opened(kHomepage), ShellLog::Opened(kHomepage),
                                                          help, help}))
        << Narrow(shell_.Lines());
}

// --- A copy of the component loaded from another folder ------------------------------------------

// The built add-in copied into a folder of its own, named after this process (other runs of these
// tests may be under way) and loaded from there. A copy stays loaded until the suite ends: window
// classes registered by a module outlive it, and a reload at the same address would find them.
struct LoadedCopy {
    std::wstring folder;
    HMODULE module = nullptr;
};

std::wstring TempFolder(const wchar_t* name) {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + name + L" " + std::to_wstring(GetCurrentProcessId());
}

class AboutElsewhereTest : public testing::Test {
protected:
    static void TearDownTestSuite() {
        for (auto& [folder, copy] : copies_) {
            FreeLibrary(copy.module);
            DeleteFileW((folder + L"\\pvlAddIn.dll").c_str());
            DeleteFileW((folder + L"\\Help\\index.htm").c_str());
            RemoveDirectoryW((folder + L"\\Help").c_str());
            RemoveDirectoryW(folder.c_str());
        }
        copies_.clear();
    }
    static void Load(const std::wstring& folder, bool withHelp, HMODULE* module) {
        if (auto it = copies_.find(folder); it != copies_.end()) {
            *module = it->second.module;
            return;
        }
        const std::string env = Env("PVL_ADDIN_DLL");
        const std::wstring built = env.empty() ? TestFolder() + L"\\..\\pvlAddIn.dll" : WindowsPathOf(env);
        const std::wstring copy = folder + L"\\pvlAddIn.dll";
        CreateDirectoryW(folder.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(built.c_str(), copy.c_str(), FALSE)) << "error " << GetLastError();
        if (withHelp) {
            CreateDirectoryW((folder + L"\\Help").c_str(), nullptr);
            WriteFileBytes(folder + L"\\Help\\index.htm", {'<', 'p', '>', 'x', '<', '/', 'p', '>'});
        }
        *module = LoadLibraryW(copy.c_str());
        ASSERT_NE(*module, nullptr) << "error " << GetLastError();
        copies_[folder] = {folder, *module};
    }
    void Connect(const std::wstring& folder, bool withHelp) {
        HMODULE module = nullptr;
        ASSERT_NO_FATAL_FAILURE(Load(folder, withHelp, &module));
        using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
        auto getClassObject = reinterpret_cast<GetClassObjectFn>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        ASSERT_NE(getClassObject, nullptr);
        simhost::Host::Get().Reset();
        client_ = simhost::Client::Create();
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(pvl::CLSID_Connect, IID_PPV_ARGS(&factory)), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&addin_)), S_OK);
        SAFEARRAY* custom = SafeArrayCreateVector(VT_VARIANT, 0, 0);
        ASSERT_EQ(addin_->OnConnection(client_.app.Get(), ext_cm_Startup, client_.addIn.Get(), &custom), S_OK);
        SafeArrayDestroy(custom);
        inspector_ = client_.Open(client_.NewMail().Get());
        auto bars = inspector_->Bars().Named(L"Parvaline");
        ASSERT_EQ(bars.size(), 1u);
        ASSERT_EQ(bars[0]->Controls().Buttons().size(), 4u);
        product_ = bars[0]->Controls().Buttons()[0].Get();
    }
    void TearDown() override {
        product_ = nullptr;
        inspector_.Reset();
        addin_.Reset();
        if (client_.app) client_.app->CloseAll();
        client_ = {};
        EXPECT_EQ(simhost::Host::Get().LiveObjects(), 0);
    }
    // Presses Help in the copy's About window; the shell's log lines and whether the window stayed open.
    void PressHelp(const ShellLog& shell, DWORD patience, bool* arrived, bool* stayedOpen,
                   std::vector<std::wstring>* messages) {
        const DWORD ui = GetCurrentThreadId();
        AboutUser user([&](HWND about) {
            Press(about, IDC_BUTTONHELP);
            *arrived = shell.WaitForLines(1, patience);
            // Any message box that turns up meanwhile is noted and answered.
            const DWORD start = GetTickCount();
            while (GetTickCount() - start < 1000) {
                if (HWND box = FindVisible(ui, L"#32770")) {
                    wchar_t text[256] = L"";
                    GetDlgItemTextW(box, 0xFFFF, text, 256);
                    messages->push_back(text);
                    PostMessageW(box, WM_COMMAND, IDOK, 0);
                    WaitFor([box] { return !IsWindowVisible(box); }, 3000);
                }
                Sleep(20);
            }
            *stayedOpen = IsWindowVisible(about);
            Press(about, IDOK);
            WaitHidden(about);
        });
        EXPECT_EQ(product_->Click(), S_OK);
        user.Join();
        EXPECT_TRUE(user.SawWindow());
    }

    simhost::Client client_;
    ComPtr<IDTExtensibility2> addin_;
    ComPtr<simhost::Inspector> inspector_;
    simhost::CommandBarButton* product_ = nullptr;
    static inline std::map<std::wstring, LoadedCopy> copies_;
};

TEST_F(AboutElsewhereTest, HelpOpensThePagesBesideTheFolderTheComponentWasLoadedFrom) {
    ShellLog shell;
    const std::wstring folder = TempFolder(L"Parvaline \u03A9 copy");
    ASSERT_NO_FATAL_FAILURE(Connect(folder, true));
    bool arrived = false, stayedOpen = false;
    std::vector<std::wstring> messages;
    PressHelp(shell, kPatience, &arrived, &stayedOpen, &messages);
    EXPECT_TRUE(arrived);
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(messages.empty()) << Narrow(messages);
    EXPECT_EQ(shell.Lines(), (std::vector<std::wstring>{ShellLog::Opened(folder + L"\\Help\\index.htm")}))
        << Narrow(shell.Lines());
}

TEST_F(AboutElsewhereTest, WithoutAHelpFolderHelpShowsNoMessageAndLeavesTheWindowOpen) {
    ShellLog shell;
    const std::wstring folder = TempFolder(L"Parvaline without help");
    ASSERT_NO_FATAL_FAILURE(Connect(folder, false));
    ASSERT_FALSE(FileExists(folder + L"\\Help"));
    bool arrived = false, stayedOpen = false;
    std::vector<std::wstring> messages;
    PressHelp(shell, 2000, &arrived, &stayedOpen, &messages);
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(messages.empty()) << Narrow(messages);
    // Wine's shell finds no file and starts nothing (Windows' would say so in a message of its own);
    // were it to start the handler, it could only be with the path beside this copy.
    const auto lines = shell.Lines();
    EXPECT_TRUE(lines.empty() || lines == std::vector<std::wstring>{ShellLog::Opened(folder + L"\\Help\\index.htm")})
        << Narrow(lines);
}

}  // namespace
}  // namespace pvltest
