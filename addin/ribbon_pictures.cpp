#include "addin/ribbon_pictures.h"
#include "addin/ribbon_model.h"
#include "common/dispatch_call.h"
#include "common/raii.h"
#include "common/result.h"
#include <ocidl.h>
#include <olectl.h>
#include <algorithm>
#include <cmath>

namespace pvl {

namespace {

constexpr UINT kBaseDpi = 96;
// Windows scales displays from 100 % to 500 %; anything else is not a DPI.
constexpr UINT kMinDpi = 96, kMaxDpi = 480;
constexpr int kSamples = 4;  // per pixel and axis: the coverage of an edge in 17 steps
constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    int r, g, b;
};
constexpr Rgb kRimInside{0, 0, 0};
constexpr Rgb kRimOutside{255, 255, 255};

// A figure at one size. Shapes are laid out on the 16 x 16 grid of the bar's pictures and scaled to
// the size in pixels; the edges that run straight along the pixel grid (the square, the triangle's
// base) are put on pixel borders at every size, so they stay sharp.
class Figure {
public:
    Figure(RibbonPicture which, int size) : which_(which), unit_(size / 16.0) {
        // Both rims grow with the picture; the inner one in whole pixels, so that the fill meets it on
        // a pixel border wherever the outline is straight.
        const bool small = which == RibbonPicture::Product;
        const double scale = small ? size / 16.0 : size / 32.0;
        rim_ = std::max(1.0, std::round((small ? 1.0 : 1.5) * scale));
        halo_ = 1.25 * scale;
        const long half = std::lround(4.5 * unit_);
        boxLow_ = (size - 2 * half) / 2.0;
        boxHigh_ = boxLow_ + 2 * half;
        base_ = std::round(4.5 * unit_);
    }

    // The colour at a point (in pixels from the top left), or false outside the figure.
    bool ColourAt(double x, double y, Rgb* colour) const {
        const double d = Distance(x, y);
        if (d > halo_) return false;
        *colour = d > 0 ? kRimOutside : d > -rim_ ? kRimInside : Fill(x / unit_, y / unit_);
        return true;
    }

private:
    // Signed distance to the figure's outline in pixels, negative inside.
    double Distance(double x, double y) const {
        const double u = unit_;
        switch (which_) {
            case RibbonPicture::Record:
                return std::hypot(x - 8 * u, y - 8 * u) - 5.2 * u;
            case RibbonPicture::Play: {
                const double p[3][2] = {{base_, 2.8 * u}, {13.8 * u, 8 * u}, {base_, 13.2 * u}};
                return PolygonDistance(p, x, y);
            }
            case RibbonPicture::Stop: {
                const double centre = (boxLow_ + boxHigh_) / 2, half = (boxHigh_ - boxLow_) / 2;
                const double dx = std::abs(x - centre) - half, dy = std::abs(y - centre) - half;
                return std::hypot(std::max(dx, 0.0), std::max(dy, 0.0)) + std::min(std::max(dx, dy), 0.0);
            }
            case RibbonPicture::Product:
                return EllipseDistance(x - 8 * u, y - 8 * u, 5.6 * u, 6.2 * u);
        }
        return 1e9;
    }

    // The fill at a point of the 16 x 16 grid.
    Rgb Fill(double x, double y) const {
        switch (which_) {
            case RibbonPicture::Record: return {255, 0, 0};
            case RibbonPicture::Play: return {0, 255, 0};
            case RibbonPicture::Stop: return {0, 0, 0};
            case RibbonPicture::Product: {
                // A sound wave across a blue-grey band, on grey lit from the top left.
                if (std::abs(y - 8) <= 2.3 && x >= 4.6 && x <= 11.4) {
                    const double wave = 8 + 1.1 * std::sin((x - 4.6) * 2 * kPi / 3.4);
                    return std::abs(y - wave) <= 0.75 ? Rgb{64, 88, 150} : Rgb{160, 176, 204};
                }
                const int g = static_cast<int>(std::max(96.0, 208 - ((y - 2) + (x - 2.4)) * 5.5));
                return {g, g, g};
            }
        }
        return {0, 0, 0};
    }

    static double PolygonDistance(const double (&p)[3][2], double x, double y) {
        double d = 1e9;
        bool inside = false;
        for (int i = 0, j = 2; i < 3; j = i++) {
            const double ex = p[j][0] - p[i][0], ey = p[j][1] - p[i][1];
            const double wx = x - p[i][0], wy = y - p[i][1];
            const double t = std::clamp((wx * ex + wy * ey) / (ex * ex + ey * ey), 0.0, 1.0);
            d = std::min(d, std::hypot(wx - ex * t, wy - ey * t));
            if ((p[i][1] > y) != (p[j][1] > y) && x < p[i][0] + (y - p[i][1]) * ex / ey) inside = !inside;
        }
        return inside ? -d : d;
    }

    // Close to the true distance near the outline, which is all the rims need.
    static double EllipseDistance(double x, double y, double rx, double ry) {
        const double k0 = std::hypot(x / rx, y / ry), k1 = std::hypot(x / (rx * rx), y / (ry * ry));
        return k1 > 0 ? k0 * (k0 - 1) / k1 : -std::min(rx, ry);
    }

    RibbonPicture which_;
    double unit_, rim_, halo_, boxLow_, boxHigh_, base_;
};

UINT SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

}  // namespace

int RibbonPictureSize(RibbonPicture which, UINT dpi) {
    const int base = which == RibbonPicture::Product ? 16 : 32;
    return MulDiv(base, static_cast<int>(std::clamp(dpi, kMinDpi, kMaxDpi)), kBaseDpi);
}

std::vector<uint32_t> DrawRibbonPicture(RibbonPicture which, int size) {
    const Figure figure(which, size);
    std::vector<uint32_t> pixels(static_cast<size_t>(size) * size);
    for (int row = 0; row < size; ++row)
        for (int column = 0; column < size; ++column) {
            int r = 0, g = 0, b = 0, covered = 0;
            for (int i = 0; i < kSamples; ++i)
                for (int j = 0; j < kSamples; ++j) {
                    Rgb c;
                    if (!figure.ColourAt(column + (j + 0.5) / kSamples, row + (i + 0.5) / kSamples, &c)) continue;
                    r += c.r, g += c.g, b += c.b, ++covered;
                }
            // Premultiplied: the mean over all samples, the uncovered ones counting as nothing.
            constexpr int n = kSamples * kSamples;
            auto mean = [](int sum) { return static_cast<uint32_t>((sum + n / 2) / n); };
            pixels[static_cast<size_t>(row) * size + column] =
                mean(covered * 255) << 24 | mean(r) << 16 | mean(g) << 8 | mean(b);
        }
    return pixels;
}

HRESULT MakeRibbonPicture(RibbonPicture which, int size, IDispatch** picture) {
    if (!picture) return E_POINTER;
    *picture = nullptr;
    if (size <= 0) return E_INVALIDARG;
    const std::vector<uint32_t> pixels = DrawRibbonPicture(which, size);
    // Bottom-up, as a 32-bit bitmap resource loads: the form every ribbon host reads.
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), size, size, 1, 32, BI_RGB};
    void* bits = nullptr;
    UniqueGdiObject bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return E_OUTOFMEMORY;
    for (int row = 0; row < size; ++row)
        std::copy_n(pixels.data() + static_cast<size_t>(size - 1 - row) * size, size,
                    static_cast<uint32_t*>(bits) + static_cast<size_t>(row) * size);
    PICTDESC desc{sizeof(desc), PICTYPE_BITMAP};
    desc.bmp.hbitmap = static_cast<HBITMAP>(bitmap.get());
    RETURN_IF_FAILED(OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, reinterpret_cast<void**>(picture)));
    bitmap.release();  // the picture owns it now
    return S_OK;
}

UINT WindowDpi(HWND window) {
    // Bound at run time: Windows 7 and 8 have no GetDpiForWindow. User32 is already loaded.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (window && getDpiForWindow)
        if (const UINT dpi = getDpiForWindow(window)) return dpi;  // 0 for a window that is gone
    return SystemDpi();
}

UINT RibbonControlDpi(IDispatch* control) {
    ComPtr<IDispatch> context;
    ComPtr<IOleWindow> window;
    HWND hwnd = nullptr;
    if (!control || FAILED(GetObjectProperty(control, host::dispid::RibbonControl_Context, &context)) ||
        FAILED(context.As(&window)) || FAILED(window->GetWindow(&hwnd)))
        hwnd = nullptr;
    return WindowDpi(hwnd);
}

HRESULT RibbonImage(IDispatch* control, RibbonPicture which, VARIANT* picture) {
    if (!picture) return E_POINTER;
    VariantInit(picture);
    ComPtr<IDispatch> made;
    RETURN_IF_FAILED(MakeRibbonPicture(which, RibbonPictureSize(which, RibbonControlDpi(control)), &made));
    picture->vt = VT_DISPATCH;
    picture->pdispVal = made.Detach();
    return S_OK;
}

}  // namespace pvl
