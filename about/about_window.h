// frmAbout: the component's one window. It is the About box and the host of the audio control `mci`.
// Reached through frmAbout(), which creates it hidden on first use; it is hidden, never destroyed,
// while the component is loaded, so the control (and a recording under way) outlives every showing.
//
// The window is a modeless dialog from the IDD_ABOUT template, owned by a hidden window of its own
// so that it stays out of the task bar while keeping an ordinary title bar. ShowModal() runs its
// own message loop, so the host's and the audio control's events keep arriving while it is open.
#pragma once
#include "common/com_object.h"
#include "common/raii.h"
#include "audio/mci_control.h"
#include <functional>

namespace pvl {

class AboutWindow {
public:
    ~AboutWindow();
    HWND hwnd() const { return window_.get(); }
    IDispatch* mci() const { return mci_.Get(); }
    MciControl* mciControl() const { return mci_.Get(); }

    HRESULT SetCaption(const wchar_t* caption);
    HRESULT SetOkCaption(const wchar_t* caption);
    // Shows the window centred on the screen with the focus on OK, and returns once it is hidden.
    HRESULT ShowModal();
    // Calls `tick` every `ms` milliseconds from the window's timer, until StopTicking: the window
    // lives as long as the component, and its messages are dispatched by whichever loop runs.
    HRESULT StartTicking(UINT ms, std::function<void()> tick);
    void StopTicking();

private:
    friend HRESULT frmAbout(AboutWindow** window);
    HRESULT Create();
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
    BOOL OnInitDialog(HWND hwnd);
    void OnCommand(int id, UINT code);
    BOOL OnDrawItem(const DRAWITEMSTRUCT* item);
    HBRUSH OnCtlColorStatic(HDC dc, HWND control);
    void PlaceControls(HWND dialog);
    int TwipsToPixelsX(int twips) const;
    int TwipsToPixelsY(int twips) const;
    void CenterOnScreen();
    void Hide();
    void ReleaseModalOwner();

    UniqueHwnd owner_;   // hidden; keeps the window out of the task bar
    UniqueHwnd window_;  // destroyed before owner_, which would otherwise take it along
    UniqueGdiObject picture_;
    ComPtr<MciControl> mci_;
    HWND modalOwner_ = nullptr;  // the host window disabled while the window is shown modally
    std::function<void()> tick_;
    int dpiX_ = 96, dpiY_ = 96;  // the screen's, when the window was laid out
};

// The one instance, created hidden when it does not exist yet.
HRESULT frmAbout(AboutWindow** window);
// Whether the instance exists, without creating it.
AboutWindow* ExistingAboutWindow();
// Ends the instance with the component: only when no add-in object is left.
void DestroyAboutWindow();
// When the module is unloaded: a class left registered would point into unmapped code.
void UnregisterAboutWindowClass();

}  // namespace pvl
