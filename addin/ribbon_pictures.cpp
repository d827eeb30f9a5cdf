#include "addin/ribbon_pictures.h"
#include "addin/ribbon_model.h"
#include "common/dispatch_call.h"
#include "common/raii.h"
#include "common/result.h"
#include <ocidl.h>
#include <olectl.h>
#include <algorithm>
#include <cmath>
#include <map>

namespace pvl {

namespace {

constexpr UINT kBaseDpi = 96;
// Windows scales displays from 100 % to 500 %; anything else is not a DPI.
constexpr UINT kMinDpi = 96, kMaxDpi = 480;
constexpr int kMaxSize = 32 * kMaxDpi / kBaseDpi;
constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};

// `a` with `b` laid over it where `b` covers `coverage` of the pixel.
Rgb Mix(const Rgb& a, const Rgb& b, double coverage) {
    return {a.r + (b.r - a.r) * coverage, a.g + (b.g - a.g) * coverage, a.b + (b.b - a.b) * coverage};
}

// How much of a pixel lies inside an edge whose signed distance from the pixel's centre is `d`
// pixels (negative inside): 0 or 1 exactly when the edge runs along the pixel's border.
double Coverage(double d) { return std::clamp(0.5 - d, 0.0, 1.0); }

double Length(double x, double y) { return std::sqrt(x * x + y * y); }

// Signed distance to an axis-aligned box given by its centre and half-sizes.
double BoxDistance(double x, double y, double cx, double cy, double hx, double hy) {
    const double dx = std::abs(x - cx) - hx, dy = std::abs(y - cy) - hy;
    return Length(std::max(dx, 0.0), std::max(dy, 0.0)) + std::min(std::max(dx, dy), 0.0);
}

// A figure at one size, measured by its signed distance from each pixel's centre: the fill, a black
// rim inside the outline and a white one outside. Shapes are laid out on the 16 x 16 grid of the bar's
// pictures and scaled to the size in pixels; the edges that run straight along the pixel grid (the
// square, the triangle's base) are put on pixel borders at every size, so they stay sharp.
class Figure {
public:
    Figure(RibbonPicture which, int size) : which_(which), unit_(size / 16.0) {
        // Both rims grow with the picture; the inner one in whole pixels, so that the fill meets it on
        // a pixel border wherever the outline is straight.
        const bool small = which == RibbonPicture::Product;
        const double scale = small ? size / 16.0 : size / 32.0;
        rim_ = std::max(1.0, std::round((small ? 1.2 : 1.5) * scale));
        halo_ = 1.25 * scale;
        half_ = static_cast<double>(std::lround(4.5 * unit_));
        centre_ = std::floor(size / 2.0 - half_) + half_;
        base_ = std::round(4.5 * unit_);
        // How far the figure reaches from the grid's centre, rims and a pixel's anti-aliasing included.
        const double extent[] = {5.2, 5.8, 4.5, 6.2};  // Record, Play, Stop, Product
        reach_ = extent[static_cast<int>(which)] * unit_ + halo_ + 1.5;
    }

    // The premultiplied pixel in row `row`, column `column`, as 0xAARRGGBB. The three layers nest: the
    // fill lies inside the black rim, which lies inside the white one.
    uint32_t Pixel(int column, int row) const {
        const double x = column + 0.5, y = row + 0.5;
        if (std::abs(x - 8 * unit_) > reach_ || std::abs(y - 8 * unit_) > reach_) return 0;
        const double d = Distance(x, y);
        const double outer = Coverage(d - halo_), outline = Coverage(d), inner = Coverage(d + rim_);
        if (outer <= 0) return 0;
        const Rgb fill = inner > 0 ? Fill(x / unit_, y / unit_) : Rgb{};
        auto channel = [&](double filled) {  // white between the outline and the halo's edge, black inside
            return static_cast<uint32_t>((outer - outline) * 255 + inner * filled + 0.5);
        };
        return static_cast<uint32_t>(outer * 255 + 0.5) << 24 | channel(fill.r) << 16 | channel(fill.g) << 8 |
               channel(fill.b);
    }

private:
    // Signed distance to the figure's outline in pixels, negative inside.
    double Distance(double x, double y) const {
        const double u = unit_;
        switch (which_) {
            case RibbonPicture::Record:
                return Length(x - 8 * u, y - 8 * u) - 5.2 * u;
            case RibbonPicture::Play: {
                const double p[3][2] = {{base_, 2.8 * u}, {13.8 * u, 8 * u}, {base_, 13.2 * u}};
                return PolygonDistance(p, x, y);
            }
            case RibbonPicture::Stop:
                return BoxDistance(x, y, centre_, centre_, half_, half_);
            case RibbonPicture::Product:
                return EllipseDistance(x - 8 * u, y - 8 * u, 5.6 * u, 6.2 * u);
        }
        return 1e9;
    }

    // The fill's colour at a point of the 16 x 16 grid.
    Rgb Fill(double x, double y) const {
        switch (which_) {
            case RibbonPicture::Record: return {255, 0, 0};
            case RibbonPicture::Play: return {0, 255, 0};
            case RibbonPicture::Stop: return {0, 0, 0};
            case RibbonPicture::Product: {
                // Grey lit from the top left, with a sound wave across a blue-grey band.
                const double g = std::max(96.0, 208 - ((y - 2) + (x - 2.4)) * 5.5);
                const double band = Coverage(BoxDistance(x, y, 8, 8, 3.4, 2.3) * unit_);
                const double wave = 8 + 1.1 * std::sin((x - 4.6) * 2 * kPi / 3.4);
                const double line = std::min(band, Coverage((std::abs(y - wave) - 0.75) * unit_));
                return Mix(Mix({g, g, g}, {160, 176, 204}, band), {64, 88, 150}, line);
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
            d = std::min(d, Length(wx - ex * t, wy - ey * t));
            if ((p[i][1] > y) != (p[j][1] > y) && x < p[i][0] + (y - p[i][1]) * ex / ey) inside = !inside;
        }
        return inside ? -d : d;
    }

    // Close to the true distance near the outline, which is all the rims need.
    static double EllipseDistance(double x, double y, double rx, double ry) {
        const double k0 = Length(x / rx, y / ry), k1 = Length(x / (rx * rx), y / (ry * ry));
        return k1 > 0 ? k0 * (k0 - 1) / k1 : -std::min(rx, ry);
    }

    RibbonPicture which_;
    double unit_, rim_, halo_, half_, centre_, base_, reach_;
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
        for (int column = 0; column < size; ++column)
            pixels[static_cast<size_t>(row) * size + column] = figure.Pixel(column, row);
    return pixels;
}

HRESULT MakeRibbonPicture(RibbonPicture which, int size, IDispatch** picture) {
    if (!picture) return E_POINTER;
    *picture = nullptr;
    if (size <= 0 || size > kMaxSize) return E_INVALIDARG;
    // Drawn once per picture and size: Office asks again for every window and after every
    // invalidation, and the add-in runs on one thread.
    static std::map<std::pair<RibbonPicture, int>, std::vector<uint32_t>> drawn;
    auto [found, added] = drawn.try_emplace({which, size});
    if (added) found->second = DrawRibbonPicture(which, size);
    const std::vector<uint32_t>& pixels = found->second;
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
