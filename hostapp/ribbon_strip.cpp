#include "ribbon_strip.h"
#include "common/raii.h"
#include <windowsx.h>
#include <algorithm>

namespace pvlmail {

namespace {

constexpr wchar_t kRibbonClass[] = L"ParvalineRibbonStrip";
// The least sizes, those of 96 dpi: the rows and boxes grow with the font and the pictures.
constexpr int kTabRow = 22;
constexpr int kLabelRow = 20;
constexpr int kHeight = 108;
constexpr int kIcon = 16;
constexpr int kLargeIcon = 32;
constexpr int kLargeHeight = 66;
constexpr int kSmallHeight = 22;

double NowMs() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return 1000.0 * double(t.QuadPart) / double(f.QuadPart);
}

// The names Outlook shows for the tabs and tab sets the add-ins may use.
std::wstring Caption(const std::wstring& id) {
    static const std::pair<const wchar_t*, const wchar_t*> names[] = {
        {L"TabNewMailMessage", L"Message"}, {L"TabReadMessage", L"Message"}, {L"TabMessage", L"Message"},
        {L"TabContact", L"Contact"},        {L"TabAddIns", L"Add-ins"},      {L"TabMail", L"Home"},
        {L"TabComposeTools", L"Compose Tools"}};
    for (auto& [key, name] : names)
        if (id == key) return name;
    return id;
}

bool Pressable(const simhost::RibbonButtonView& b) { return b.kind != L"labelControl"; }

}  // namespace

LRESULT HandleStripInput(const StripInput& strip, UINT msg, WPARAM wp, LPARAM lp) {
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

RibbonStrip::RibbonStrip(simhost::Ribbon* ribbon, std::function<void(const std::wstring&, double)> pressed)
    : ribbon_(ribbon), pressed_(std::move(pressed)) {}

RibbonStrip::~RibbonStrip() {
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

bool RibbonStrip::Register(HINSTANCE instance) {
    WNDCLASSEXW wc{sizeof wc};
    wc.lpfnWndProc = &RibbonStrip::Proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kRibbonClass;
    return RegisterClassExW(&wc) != 0;
}

bool RibbonStrip::Create(HWND parent, int id, HFONT font) {
    font_ = font;
    hwnd_ = CreateWindowExW(0, kRibbonClass, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 10, 10, parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), this);
    return hwnd_ != nullptr;
}

LRESULT CALLBACK RibbonStrip::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE)
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
    auto* self = reinterpret_cast<RibbonStrip*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    return HandleStripInput({hwnd, &self->focus_, &self->hot_, &self->held_, static_cast<int>(self->Items().size()),
                             [self](POINT p) { return self->HitTest(p); },
                             [self](int i) {
                                 auto items = self->Items();
                                 if (i < static_cast<int>(items.size())) self->Press(items[i].view.id);
                             },
                             [self](HDC dc) { self->Paint(dc); }},
                            msg, wp, lp);
}

std::vector<simhost::RibbonGroupView> RibbonStrip::Groups() const {
    if (!window_ || !ribbon_) return {};
    return ribbon_->Groups(window_);
}

std::optional<simhost::RibbonButtonView> RibbonStrip::Button(const std::wstring& id) const {
    if (!window_ || !ribbon_) return std::nullopt;
    return ribbon_->Button(window_, id);
}

HRESULT RibbonStrip::Press(const std::wstring& id) {
    auto button = Button(id);
    if (!button || !button->enabled || !Pressable(*button)) return E_ACCESSDENIED;
    pvl::ComPtr<simhost::HostWindow> keep(window_);  // the add-in may close the window
    const double t0 = NowMs();
    const HRESULT hr = ribbon_->Press(keep.Get(), id);
    const double held = NowMs() - t0;
    if (pressed_) pressed_(id, held);
    return hr;
}

std::vector<RibbonStrip::Item> RibbonStrip::Items(std::vector<GroupBox>* boxes, Rows* rows) const {
    std::vector<Item> out;
    if (rows) *rows = {kTabRow, kLabelRow, kHeight};
    if (!hwnd_) return out;
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_);
    auto textWidth = [&](const std::wstring& t) {
        SIZE s{};
        GetTextExtentPoint32W(dc, t.c_str(), static_cast<int>(t.size()), &s);
        return static_cast<int>(s.cx);
    };
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const int textHeight = static_cast<int>(tm.tmHeight);
    auto icon = [](const simhost::RibbonButtonView& b, int otherwise) {
        return b.picture ? SIZE{b.picture.width, b.picture.height} : SIZE{otherwise, otherwise};
    };
    const int tab = std::max(kTabRow, textHeight + 8);
    const int top = tab + 3;
    int x = 6, bottom = top;
    for (const auto& g : Groups()) {
        const int groupLeft = x;
        x += 4;
        // Large buttons side by side; normal ones and labels stacked three to a column, as Office
        // lays them out.
        int column = -1, stacked = 3, columnWidth = 0;
        for (const auto& b : g.buttons) {
            if (!b.visible) continue;
            if (b.size == L"large") {
                if (column >= 0) x = column + columnWidth + 2, column = -1, stacked = 3;
                const SIZE size = icon(b, kLargeIcon);
                const int w = std::max(static_cast<int>(size.cx) + 12, textWidth(b.label) + 10);
                // The picture, then up to two lines of label under it.
                const int h = std::max(kLargeHeight, 4 + static_cast<int>(size.cy) + 2 + 2 * textHeight + 2);
                out.push_back({b, RECT{x, top, x + w, top + h}, size});
                bottom = std::max(bottom, top + h);
                x += w + 2;
                continue;
            }
            if (stacked == 3) {
                if (column >= 0) x = column + columnWidth + 2;
                column = x, stacked = 0, columnWidth = 0;
            }
            const SIZE size = Pressable(b) ? icon(b, kIcon) : SIZE{0, 0};
            const int w = Pressable(b) ? 4 + size.cx + 4 + textWidth(b.label) + 6 : 4 + textWidth(b.label) + 4;
            const int h = std::max(kSmallHeight, std::max(static_cast<int>(size.cy), textHeight) + 6);
            const int y = stacked ? static_cast<int>(out.back().rect.bottom) : top;
            out.push_back({b, RECT{column, y, column + w, y + h}, size});
            bottom = std::max(bottom, y + h);
            columnWidth = std::max(columnWidth, w);
            ++stacked;
        }
        if (column >= 0) x = column + columnWidth + 2;
        x = std::max(x + 4, groupLeft + textWidth(g.label) + 12);
        if (boxes) boxes->push_back({g.label, RECT{groupLeft, tab, x, 0}});
        x += 2;
    }
    // The groups' labels go in a line of text under the lowest box.
    const Rows r{tab, std::max(kLabelRow, textHeight + 6), std::max(kHeight, bottom + textHeight + 4)};
    if (boxes)
        for (auto& box : *boxes) box.rect.bottom = r.height;
    if (rows) *rows = r;
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    return out;
}

int RibbonStrip::Height() const {
    Rows rows;
    Items(nullptr, &rows);
    return rows.height;
}

int RibbonStrip::HitTest(POINT p) const {
    auto items = Items();
    for (size_t i = 0; i < items.size(); ++i)
        if (Pressable(items[i].view) && PtInRect(&items[i].rect, p)) return static_cast<int>(i);
    return -1;
}

POINT RibbonStrip::PictureOrigin(const Item& item) {
    const RECT& r = item.rect;
    if (item.view.size == L"large") return POINT{(r.left + r.right - item.icon.cx) / 2, r.top + 4};
    return POINT{r.left + 4, (r.top + r.bottom - item.icon.cy) / 2};
}

RECT RibbonStrip::LabelRect(const Item& item) {
    const RECT& r = item.rect;
    if (!Pressable(item.view)) return RECT{r.left + 4, r.top, r.right, r.bottom};
    if (item.view.size == L"large") return RECT{r.left + 2, r.top + 4 + item.icon.cy + 2, r.right - 2, r.bottom};
    return RECT{r.left + 4 + item.icon.cx + 4, r.top, r.right, r.bottom};
}

UINT RibbonStrip::LabelFormat(const Item& item) {
    const bool wraps = Pressable(item.view) && item.view.size == L"large";
    return (wraps ? DT_CENTER | DT_WORDBREAK : DT_SINGLELINE | DT_VCENTER) | DT_NOPREFIX;
}

bool RibbonStrip::LaidOut(std::wstring* why) const {
    std::vector<GroupBox> boxes;
    Rows rows;
    const auto items = Items(&boxes, &rows);
    RECT client{};
    GetClientRect(hwnd_, &client);
    std::wstring problem;
    if (client.bottom != rows.height)
        problem = L"the strip is " + std::to_wstring(client.bottom) + L" px high, not " + std::to_wstring(rows.height);
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    // The groups' labels are centred in their row; their letters begin below the font's internal leading.
    const int groupText = rows.height - rows.label + (rows.label - 2 - tm.tmHeight) / 2 + tm.tmInternalLeading;
    for (const auto& item : items) {
        if (!problem.empty()) break;
        const RECT& box = item.rect;
        const RECT text = LabelRect(item);
        RECT need = text;
        DrawTextW(dc, item.view.label.c_str(), -1, &need, LabelFormat(item) | DT_CALCRECT);
        const POINT at = PictureOrigin(item);
        const RECT picture{at.x, at.y, at.x + item.icon.cx, at.y + item.icon.cy};
        const bool large = item.view.size == L"large";
        if (Pressable(item.view) && (picture.left < box.left || picture.top < box.top || picture.right > box.right ||
                                     picture.bottom > box.bottom))
            problem = L"the picture is outside its box";
        else if (Pressable(item.view) && (large ? picture.bottom > text.top : picture.right > text.left))
            problem = L"the picture is over the label";
        else if (need.bottom - need.top > text.bottom - text.top || need.right - need.left > text.right - text.left)
            problem = L"the label does not fit in its box";
        else if (box.bottom > groupText)
            problem = L"the box reaches into the group's label";
        if (!problem.empty()) problem = item.view.id + L": " + problem;
    }
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    if (why) *why = problem;
    return problem.empty();
}

bool RibbonStrip::DrawnPictureCentre(const std::wstring& id, COLORREF* colour) {
    RECT c;
    GetClientRect(hwnd_, &c);
    if (c.right <= 0 || c.bottom <= 0) return false;
    bool found = false;
    HDC screen = GetDC(hwnd_);
    HDC memory = CreateCompatibleDC(screen);
    pvl::UniqueGdiObject bitmap(CreateCompatibleBitmap(screen, c.right, c.bottom));
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap.get());
        Paint(memory);
        for (const auto& item : Items()) {
            if (item.view.id != id || !item.view.picture) continue;
            const POINT at = PictureOrigin(item);
            *colour = GetPixel(memory, at.x + item.view.picture.width / 2, at.y + item.view.picture.height / 2);
            found = true;
        }
        SelectObject(memory, old);
    }
    if (memory) DeleteDC(memory);
    ReleaseDC(hwnd_, screen);
    return found;
}

void RibbonStrip::Paint(HDC dc) {
    RECT client;
    GetClientRect(hwnd_, &client);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    const auto groups = Groups();
    if (groups.empty()) return;
    std::vector<GroupBox> boxes;
    Rows rows;
    const auto items = Items(&boxes, &rows);
    HGDIOBJ oldFont = SelectObject(dc, font_);
    SetBkMode(dc, TRANSPARENT);
    // The tab row: the tab the groups sit on, selected, over a light body; a contextual tab carries
    // its tab set's name beside it, on the set's colour.
    RECT body{0, rows.tab, client.right, client.bottom};
    FillRect(dc, &body, GetSysColorBrush(COLOR_WINDOW));
    const std::wstring tab = Caption(groups.front().tab);
    SIZE ts{};
    GetTextExtentPoint32W(dc, tab.c_str(), static_cast<int>(tab.size()), &ts);
    RECT tabRect{6, 3, 6 + ts.cx + 20, rows.tab + 1};
    const bool contextual = !groups.front().tabSet.empty();
    if (contextual) {
        const std::wstring set = Caption(groups.front().tabSet);
        SIZE ss{};
        GetTextExtentPoint32W(dc, set.c_str(), static_cast<int>(set.size()), &ss);
        RECT band{tabRect.right + 4, 3, tabRect.right + 4 + ss.cx + 16, rows.tab};
        pvl::UniqueGdiObject brush(CreateSolidBrush(RGB(0xFD, 0xE9, 0xC6)));
        FillRect(dc, &band, static_cast<HBRUSH>(brush.get()));
        SetTextColor(dc, RGB(0x80, 0x50, 0x00));
        DrawTextW(dc, set.c_str(), -1, &band, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
        RECT mark{tabRect.left, tabRect.top, tabRect.right, tabRect.top + 3};
        pvl::UniqueGdiObject markBrush(CreateSolidBrush(RGB(0xF2, 0xA0, 0x30)));
        FillRect(dc, &tabRect, GetSysColorBrush(COLOR_WINDOW));
        FillRect(dc, &mark, static_cast<HBRUSH>(markBrush.get()));
    } else {
        FillRect(dc, &tabRect, GetSysColorBrush(COLOR_WINDOW));
    }
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
    const bool focused = GetFocus() == hwnd_;
    for (size_t i = 0; i < items.size(); ++i) {
        const auto& b = items[i].view;
        RECT r = items[i].rect;
        const int index = static_cast<int>(i);
        if (!Pressable(b)) {
            // A label control: its text only.
            SetTextColor(dc, GetSysColor(b.enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
            RECT text = LabelRect(items[i]);
            DrawTextW(dc, b.label.c_str(), -1, &text, LabelFormat(items[i]));
            continue;
        }
        if (b.pressed) {
            // A toggle button that is on: filled and sunk, as Office shows it.
            pvl::UniqueGdiObject brush(CreateSolidBrush(RGB(0xC5, 0xDE, 0xF5)));
            FillRect(dc, &r, static_cast<HBRUSH>(brush.get()));
            DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
        } else if (b.enabled && index == held_ && index == hot_) {
            DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
        } else if (b.enabled && (index == hot_ || (focused && index == focus_))) {
            DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
        }
        const POINT at = PictureOrigin(items[i]);
        DrawAlphaPicture(dc, at.x, at.y, b.picture, b.enabled);
        RECT text = LabelRect(items[i]);
        SetTextColor(dc, GetSysColor(b.enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        DrawTextW(dc, b.label.c_str(), -1, &text, LabelFormat(items[i]));
        if (focused && index == focus_) {
            RECT f = r;
            InflateRect(&f, -2, -2);
            DrawFocusRect(dc, &f);
        }
    }
    // Keytips: a small box at the foot of each control that has one, over everything else.
    if (keytips_) {
        for (const auto& item : items) {
            if (item.view.keytip.empty()) continue;
            SIZE ks{};
            GetTextExtentPoint32W(dc, item.view.keytip.c_str(), static_cast<int>(item.view.keytip.size()), &ks);
            const int cx = (item.rect.left + item.rect.right) / 2, bottom = item.rect.bottom;
            RECT box{cx - ks.cx / 2 - 4, bottom - ks.cy - 2, cx + ks.cx / 2 + 4, bottom + 2};
            pvl::UniqueGdiObject brush(CreateSolidBrush(RGB(0xFF, 0xFF, 0xE1)));
            FillRect(dc, &box, static_cast<HBRUSH>(brush.get()));
            FrameRect(dc, &box, GetSysColorBrush(COLOR_WINDOWTEXT));
            SetTextColor(dc, item.view.enabled ? GetSysColor(COLOR_WINDOWTEXT) : GetSysColor(COLOR_GRAYTEXT));
            DrawTextW(dc, item.view.keytip.c_str(), -1, &box, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
        }
    }
    SelectObject(dc, oldFont);
}

bool RibbonStrip::PostClick(const std::wstring& id) {
    for (const auto& item : Items()) {
        if (item.view.id != id) continue;
        const LPARAM at = MAKELPARAM((item.rect.left + item.rect.right) / 2, (item.rect.top + item.rect.bottom) / 2);
        PostMessageW(hwnd_, WM_MOUSEMOVE, 0, at);
        PostMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(hwnd_, WM_LBUTTONUP, 0, at);
        return true;
    }
    return false;
}

bool RibbonStrip::PostKeys(const std::wstring& id) {
    const auto items = Items();
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].view.id != id) continue;
        SetFocus(hwnd_);
        PostMessageW(hwnd_, WM_KEYDOWN, VK_HOME, 0);
        for (size_t n = 0; n < i; ++n) PostMessageW(hwnd_, WM_KEYDOWN, VK_RIGHT, 0);
        PostMessageW(hwnd_, WM_KEYDOWN, VK_RETURN, 0);
        return true;
    }
    return false;
}

std::wstring RibbonStrip::Signature() const {
    std::wstring s;
    for (const auto& g : Groups()) {
        s += L"[" + g.tabSet + L"/" + g.tab + L":" + g.label;
        for (const auto& b : g.buttons)
            s += L";" + b.id + b.label + (b.enabled ? L"+" : L"-") + (b.visible ? L"v" : L"") + (b.pressed ? L"d" : L"") +
                 (b.picture ? L"p" : L"") + std::to_wstring(b.picture.width) + L"x" + std::to_wstring(b.picture.height) +
                 b.keytip;
        s += L"]";
    }
    return s + (keytips_ ? L"k" : L"");
}

void RibbonStrip::ShowKeytips(bool on) {
    typed_.clear();
    if (keytips_ == on) return;
    keytips_ = on;
    if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

bool RibbonStrip::HasKeytips() const {
    for (const auto& g : Groups())
        for (const auto& b : g.buttons)
            if (b.visible && !b.keytip.empty()) return true;
    return false;
}

HRESULT RibbonStrip::TypeKeytip(wchar_t c) {
    typed_ += static_cast<wchar_t>(towupper(c));
    bool begins = false;
    for (const auto& g : Groups())
        for (const auto& b : g.buttons) {
            if (!b.visible || b.keytip.empty()) continue;
            std::wstring keytip = b.keytip;
            for (auto& k : keytip) k = static_cast<wchar_t>(towupper(k));
            if (keytip == typed_) {
                typed_.clear();
                ShowKeytips(false);
                return Press(b.id) == E_ACCESSDENIED ? E_ACCESSDENIED : S_OK;
            }
            begins |= keytip.rfind(typed_, 0) == 0;
        }
    if (begins) return S_FALSE;
    typed_.clear();
    return E_INVALIDARG;
}

}  // namespace pvlmail
