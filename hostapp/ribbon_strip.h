// Parvaline Mail's drawing of one window's ribbon, for the mail windows and the main window alike,
// straight from the simulated ribbon's views (simhost/ribbon.*): a tab row (with the name of the
// contextual tab set above its tab while one shows), each group with its label, large buttons side by
// side and normal ones three to a column, pictures blended through their alpha channel and greyed
// when disabled, a toggle button shown pressed in, a label control's text, and keytips in small boxes
// while the keyboard asks for them (Alt held, or a script). It answers the mouse and the keyboard as
// the command bars do; it keeps nothing of the ribbon's own, so every paint shows the ribbon as it is.
#pragma once
#include "simhost/simhost.h"
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pvlmail {

// The mouse and the keyboard on a strip of buttons (a command bar, a ribbon): the button under the
// mouse, the one held down, and the one the keyboard works on (Tab to the strip, arrows, Home,
// Space or Enter); a press goes to `press`.
struct StripInput {
    HWND hwnd;
    int *focus, *hot, *pressed;
    int count;
    std::function<int(POINT)> hitTest;
    std::function<void(int)> press;
    std::function<void(HDC)> paint;
};
LRESULT HandleStripInput(const StripInput& strip, UINT msg, WPARAM wp, LPARAM lp);

class RibbonStrip {
public:
    // `pressed` hears of every press that reached the add-in: the control's id and how long the
    // press held the thread (Stop encodes there).
    RibbonStrip(simhost::Ribbon* ribbon, std::function<void(const std::wstring&, double)> pressed);
    ~RibbonStrip();
    RibbonStrip(const RibbonStrip&) = delete;
    RibbonStrip& operator=(const RibbonStrip&) = delete;
    static bool Register(HINSTANCE instance);
    bool Create(HWND parent, int id, HFONT font);
    HWND hwnd() const { return hwnd_; }
    // The host window whose groups it draws (an inspector or an explorer); null draws nothing.
    void SetWindow(simhost::HostWindow* window) { window_ = window; }

    std::vector<simhost::RibbonGroupView> Groups() const;
    std::optional<simhost::RibbonButtonView> Button(const std::wstring& id) const;
    // The user presses a control: only an enabled one that can be pressed.
    HRESULT Press(const std::wstring& id);
    // Input as the user gives it, posted: a mouse click on the control, or the keyboard (Home, Right
    // until the control, Enter). False when no visible control has that id.
    bool PostClick(const std::wstring& id);
    bool PostKeys(const std::wstring& id);
    // The colour at the centre of a control's picture, as the strip paints it.
    bool DrawnPictureCentre(const std::wstring& id, COLORREF* colour);
    // What the strip shows, as text: when it changes, the strip is to be repainted.
    std::wstring Signature() const;
    // The height the strip needs for what it shows: the tab row and the groups' body, grown with the
    // pictures it is given (drawn for the display's DPI) and with its font; 108 at 96 dpi.
    int Height() const;
    // Whether the strip shows everything whole: each picture inside its control's box and clear of
    // the control's label, each label's lines inside the box, every box above its group's label,
    // and the strip's window as tall as the strip asks. Otherwise false, with what does not fit.
    bool LaidOut(std::wstring* why) const;

    // Keytips, shown while the keyboard asks for them. A typed character goes to TypeKeytip: S_OK when
    // the characters typed so far are a control's keytip (that control is pressed), S_FALSE when they
    // only begin one, E_INVALIDARG when no keytip begins so (the characters are forgotten).
    void ShowKeytips(bool on);
    bool KeytipsShown() const { return keytips_; }
    bool HasKeytips() const;
    HRESULT TypeKeytip(wchar_t c);

private:
    struct Item {
        simhost::RibbonButtonView view;
        RECT rect;
        SIZE icon;  // the picture's size as given, or the size at 96 dpi for a control without one
    };
    struct GroupBox {
        std::wstring label;
        RECT rect;
    };
    struct Rows {
        int tab, label, height;  // the tab row, the groups' labels at the foot, the whole strip
    };
    // Where each visible control and each group lie in the strip, and its rows.
    std::vector<Item> Items(std::vector<GroupBox>* groups = nullptr, Rows* rows = nullptr) const;
    int HitTest(POINT p) const;
    static POINT PictureOrigin(const Item& item);
    // Where a control's label is drawn, and how.
    static RECT LabelRect(const Item& item);
    static UINT LabelFormat(const Item& item);
    void Paint(HDC dc);
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

    simhost::Ribbon* ribbon_;
    std::function<void(const std::wstring&, double)> pressed_;
    simhost::HostWindow* window_ = nullptr;
    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
    int focus_ = 0, hot_ = -1, held_ = -1;
    bool keytips_ = false;
    std::wstring typed_;  // keytip characters typed so far
};

// A picture with its alpha channel, blended over what is drawn; a disabled control's picture is
// drawn grey and faint.
void DrawAlphaPicture(HDC dc, int x, int y, const simhost::ReceivedPicture& pic, bool enabled);

}  // namespace pvlmail
