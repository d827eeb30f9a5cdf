// The ribbon's pictures: visible on every background from black to white, sharp at every size, and
// answered by getImage at the size the asking window's DPI needs. The RibbonDpi tests run once per
// display scaling (tests/ribbon_dpi_test.sh sets the DPI Wine reads at start).
#include "support.h"
#include "addin/ribbon_pictures.h"
#include "simhost/ribbon.h"
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pvltest {
namespace {

using pvl::RibbonPicture;
using simhost::Host;

struct PictureRow {
    RibbonPicture which;
    const char* name;
    int sizes[4];  // at 96, 120, 144 and 192 dpi
    COLORREF centre;
};
constexpr COLORREF kShaded = 0xFFFFFFFF;  // the product's figure: no single colour
constexpr PictureRow kPictures[] = {{RibbonPicture::Record, "Record", {32, 40, 48, 64}, RGB(255, 0, 0)},
                                    {RibbonPicture::Play, "Play", {32, 40, 48, 64}, RGB(0, 255, 0)},
                                    {RibbonPicture::Stop, "Stop", {32, 40, 48, 64}, RGB(0, 0, 0)},
                                    {RibbonPicture::Product, "Product", {16, 20, 24, 32}, kShaded}};
constexpr UINT kDpis[] = {96, 120, 144, 192};

// WCAG 2's relative luminance of an sRGB colour, channels 0-255.
double Luminance(double r, double g, double b) {
    auto linear = [](double c) { c /= 255; return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
}

// The share of the picture's opaque area (each pixel weighted by its alpha) that, composited over
// the grey, reaches 3:1 against it: WCAG 2.1's contrast for graphics.
double ContrastShare(const std::vector<uint32_t>& pixels, int grey) {
    const double background = Luminance(grey, grey, grey);
    double area = 0, reaching = 0;
    for (uint32_t px : pixels) {
        const double a = (px >> 24) / 255.0;
        auto over = [&](int shift) { return ((px >> shift) & 0xFF) + (1 - a) * grey; };  // premultiplied
        const double l = Luminance(over(16), over(8), over(0));
        area += a;
        if ((std::max(l, background) + 0.05) / (std::min(l, background) + 0.05) >= 3) reaching += a;
    }
    return reaching / area;
}

TEST(RibbonPictures, EachSizeStaysVisibleOnEveryGreyFromBlackToWhite) {
    for (const PictureRow& row : kPictures)
        for (int size : row.sizes) {
            const auto pixels = pvl::DrawRibbonPicture(row.which, size);
            double worst = 1;
            int worstGrey = 0;
            for (int grey = 0; grey <= 255; ++grey)
                if (const double share = ContrastShare(pixels, grey); share < worst) worst = share, worstGrey = grey;
            EXPECT_GE(worst, 0.10) << row.name << " at " << size << " px over #" << std::hex << worstGrey * 0x10101;
            std::printf("%-8s %2d px: worst %.1f %% of its area at 3:1, over #%06X\n", row.name, size, worst * 100,
                        worstGrey * 0x10101);
        }
}

// Drawn at each size, not scaled: transparent corners, premultiplied pixels, the figure's own colour
// at its centre, and the square's straight edges on pixel borders (a scaled picture would blur them
// into greys).
TEST(RibbonPictures, EachSizeIsItsFigureDrawnSharp) {
    for (const PictureRow& row : kPictures)
        for (int size : row.sizes) {
            SCOPED_TRACE(std::string(row.name) + " " + std::to_string(size));
            const auto pixels = pvl::DrawRibbonPicture(row.which, size);
            ASSERT_EQ(pixels.size(), size_t(size * size));
            for (uint32_t px : pixels)
                ASSERT_LE(std::max({px >> 16 & 0xFF, px >> 8 & 0xFF, px & 0xFF}), px >> 24) << "not premultiplied";
            EXPECT_EQ(pixels.front() >> 24, 0u);
            EXPECT_EQ(pixels.back() >> 24, 0u);
            // Play's centre lies left of the picture's, at the triangle's centroid.
            const int cx = row.which == RibbonPicture::Play ? size * 15 / 32 : size / 2;
            const uint32_t centre = pixels[size_t(size / 2) * size + cx];
            EXPECT_EQ(centre >> 24, 0xFFu);
            if (row.centre != kShaded) {
                EXPECT_EQ(RGB(centre >> 16 & 0xFF, centre >> 8 & 0xFF, centre & 0xFF), row.centre);
            }
            if (row.which != RibbonPicture::Stop) continue;
            for (uint32_t px : pixels)
                ASSERT_TRUE(px >> 24 < 0xFF || (px & 0xFFFFFF) == 0 || (px & 0xFFFFFF) == 0xFFFFFF) << std::hex << px;
        }
}

// The picture object holds the drawing as a 32-bit section with alpha, read back as a host reads it.
TEST(RibbonPictures, ThePictureObjectHoldsTheDrawing) {
    ComPtr<IDispatch> picture;
    ASSERT_EQ(pvl::MakeRibbonPicture(RibbonPicture::Record, 40, picture.GetAddressOf()), S_OK);
    simhost::ReceivedPicture read;
    ASSERT_EQ(simhost::ReadPicture(picture.Get(), &read), S_OK);
    EXPECT_EQ(read.width, 40);
    EXPECT_EQ(read.height, 40);
    EXPECT_TRUE(read.hasAlpha);
    const auto drawn = pvl::DrawRibbonPicture(RibbonPicture::Record, 40);
    for (int i = 0; i < 40 * 40; ++i) ASSERT_EQ(read.alpha[i], drawn[i] >> 24) << "pixel " << i << ", row 0 at the top";
    // No size from a DPI no display has; none that would exhaust memory.
    EXPECT_EQ(pvl::RibbonPictureSize(RibbonPicture::Record, 0), 32);
    EXPECT_EQ(pvl::RibbonPictureSize(RibbonPicture::Record, 100000), 160);
    EXPECT_EQ(pvl::MakeRibbonPicture(RibbonPicture::Record, 0, picture.GetAddressOf()), E_INVALIDARG);
    EXPECT_EQ(pvl::MakeRibbonPicture(RibbonPicture::Record, 100000, picture.GetAddressOf()), E_INVALIDARG);
}

// --- getImage at the display's DPI --------------------------------------------------------------------

// The DPI this prefix's Wine started with, from the setting it reads (96 when unset).
UINT ConfiguredDpi() {
    DWORD dpi = 96, size = sizeof dpi;
    RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", RRF_RT_REG_DWORD, nullptr, &dpi, &size);
    return dpi;
}

class RibbonDpiTest : public AddinTest {
protected:
    void SetUp() override {
        AddinTest::SetUp();
        ASSERT_EQ(client_.app->GetRibbon().Attach(addin_.Get()), S_OK);
        dpi_ = ConfiguredDpi();
        if (const std::string want = Env("PVL_EXPECT_DPI"); !want.empty()) {
            ASSERT_EQ(dpi_, UINT(std::stoul(want))) << "the DPI setting did not take";
        }
        // As Office is: aware of each monitor's DPI (Windows 10 1607 and later; Wine 8 gives every
        // window the configured DPI whether it is declared or not).
        using SetContext = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
        auto set = reinterpret_cast<SetContext>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
        DPI_AWARENESS_CONTEXT old = set ? set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE) : nullptr;
        window_.reset(CreateWindowExW(0, L"STATIC", L"mail", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr));
        if (old) set(old);
        ASSERT_TRUE(window_);
    }
    void TearDown() override {
        client_.app->GetRibbon().Detach();
        AddinTest::TearDown();
    }
    // The sizes getImage answered in a window, in the order of kPictures ("48 48 48 24 "); 0 for no
    // square picture.
    std::string Sizes(const ComPtr<simhost::Inspector>& window) {
        std::string s;
        for (const wchar_t* id : {L"pvlRecord", L"pvlPlay", L"pvlStop", L"pvlAbout"}) {
            auto b = client_.app->GetRibbon().Button(window.Get(), id);
            s += std::to_string(b && b->picture && b->picture.width == b->picture.height ? b->picture.width : 0) + " ";
        }
        return s;
    }
    std::string Expected() const {  // -1 for a DPI not listed
        const size_t column = std::find(std::begin(kDpis), std::end(kDpis), dpi_) - std::begin(kDpis);
        std::string s;
        for (const PictureRow& row : kPictures) s += std::to_string(column < std::size(kDpis) ? row.sizes[column] : -1) + " ";
        return s;
    }
    UINT dpi_ = 96;
    pvl::UniqueHwnd window_;
};

TEST_F(RibbonDpiTest, GetImageAnswersEachControlsSizeForItsWindowsDpi) {
    auto window = client_.Open(client_.NewMail().Get(), window_.get());
    EXPECT_EQ(Sizes(window), Expected());
    std::printf("%u dpi: Record, Play, Stop, product button %s\n", dpi_, Sizes(window).c_str());
    EXPECT_FALSE(Host::Get().LogMatching(window->Name() + L".GetWindow").empty()) << "the window was not asked";
    EXPECT_TRUE(client_.app->GetRibbon().Errors().empty());
}

// A context without a window (it fails GetWindow, or its window is gone): the system's DPI.
TEST_F(RibbonDpiTest, AContextWithoutAWindowGetsTheSystemsDpi) {
    auto none = client_.Open(client_.NewMail().Get());
    EXPECT_EQ(Sizes(none), Expected());
    Host::Get().Fail(L"Inspector.GetWindow", E_NOTIMPL);
    auto refused = client_.Open(client_.NewMail().Get(), window_.get());
    EXPECT_EQ(Sizes(refused), Expected());
    Host::Get().ClearFaults();
    HWND gone = window_.get();
    window_.reset();
    auto closed = client_.Open(client_.NewMail().Get(), gone);
    EXPECT_EQ(Sizes(closed), Expected());
    EXPECT_TRUE(client_.app->GetRibbon().Errors().empty());
}

}  // namespace
}  // namespace pvltest
