// frmAbout: the component's one window. It is the About box and the host of the audio control `mci`.
// Reached through frmAbout(), which creates it hidden on first use; it is hidden, never destroyed,
// while the component is loaded, so the control (and a recording under way) outlives every showing.
#pragma once
#include "common/com_object.h"
#include "common/raii.h"
#include "recorder/mci_control.h"

namespace pvl {

class AboutWindow {
public:
    ~AboutWindow();
    HWND hwnd() const { return window_.get(); }
    IDispatch* mci() const { return mci_.Get(); }
    MciControl* mciControl() const { return mci_.Get(); }

private:
    friend HRESULT frmAbout(AboutWindow** window);
    HRESULT Create();
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

    UniqueHwnd window_;
    ComPtr<MciControl> mci_;
};

// The one instance, created hidden when it does not exist yet.
HRESULT frmAbout(AboutWindow** window);
// Whether the instance exists, without creating it.
AboutWindow* ExistingAboutWindow();
// Ends the instance with the component: only when no add-in object is left.
void DestroyAboutWindow();

}  // namespace pvl
