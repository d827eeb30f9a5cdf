// The ribbon's pictures, drawn at run time at the size the asking window needs: Office shows a large
// button's picture at 32 x 32 and a normal one's at 16 x 16 at 96 dpi, and scales a picture of the
// wrong size up, blurred. Every size is drawn from the same shapes, never scaled from another size.
//
// Each figure (a red disc, a green triangle pointing right, a black square, the product's figure)
// carries a black rim inside its outline and a white rim outside it, so that it stays visible on
// every ribbon background from black to white: where the rim is lost in the background the other
// rim shows.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <cstdint>
#include <vector>

namespace pvl {

enum class RibbonPicture { Record, Play, Stop, Product };

// The picture's edge in device pixels at `dpi` (32 or 16 at 96 dpi, scaled with the display).
int RibbonPictureSize(RibbonPicture which, UINT dpi);

// The picture drawn `size` pixels square: premultiplied 0xAARRGGBB pixels, row 0 at the top, as
// AlphaBlend and Office's ribbon take them.
std::vector<uint32_t> DrawRibbonPicture(RibbonPicture which, int size);

// The picture as a picture object (IPictureDisp) that owns a 32-bit DIB section of it.
HRESULT MakeRibbonPicture(RibbonPicture which, int size, IDispatch** picture);

// The DPI of a window: GetDpiForWindow where Windows has it (Windows 10 1607 and later), else the
// system DPI; also the system DPI for no window.
UINT WindowDpi(HWND window);

// The DPI of the window a ribbon control sits in: the window of its Context (Outlook's Inspector and
// Explorer answer IOleWindow); the system DPI when the context has none.
UINT RibbonControlDpi(IDispatch* control);

// getImage's answer for a control: its picture drawn for its window's DPI (VT_DISPATCH).
HRESULT RibbonImage(IDispatch* control, RibbonPicture which, VARIANT* picture);

}  // namespace pvl
