#include "capture/Render.h"

#include "pixolan/DibAllocation.h"
#include "pixolan/MemoryBudget.h"
#include "platform/gdi/GdiTesting.h"
#include "tests/capture/CaptureTestSupport.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace gdi;
using capture::RenderOutcome;
using capture::RenderSettings;
using capture_tests::Baseline;

namespace {

// The colour a seamless picture has at output pixel (x, y): distinct for every pixel of the
// pictures used here, so that a piece drawn from the wrong place cannot go unnoticed.
std::uint32_t expected(long long x, long long y) {
    return std::uint32_t((x * 7 + y * 3) & 0xFF) << 16 | std::uint32_t(x & 0xFF) << 8 |
           std::uint32_t(y & 0xFF);
}

// A view drawn at output resolution: the pixel at (px, py) of the DC is expected(px - left,
// py - top). Like the browser view, it draws only inside the DC's clip box.
class FakeHost : public capture::RenderHost {
  public:
    struct Draw {
        RECT bounds;
        RECT clip;
    };
    std::vector<Draw> draws;
    std::vector<int> progress;
    std::vector<std::string> errors;
    bool viewFails = false;
    int readDCs = 0;

    bool drawView(HDC dc, const RECT& bounds) override {
        if (viewFails) return false;
        RECT clip{};
        GetClipBox(dc, &clip);
        draws.push_back({bounds, clip});
        const int x0 = std::max(clip.left, bounds.left), x1 = std::min(clip.right, bounds.right);
        const int y0 = std::max(clip.top, bounds.top), y1 = std::min(clip.bottom, bounds.bottom);
        if (x0 >= x1 || y0 >= y1) return true;
        std::vector<std::uint32_t> row(std::size_t(x1 - x0));
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = x1 - x0;
        info.bmiHeader.biHeight = 1;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        for (int py = y0; py < y1; ++py) {
            for (int px = x0; px < x1; ++px)
                row[std::size_t(px - x0)] = expected(px - bounds.left, py - bounds.top);
            SetDIBitsToDevice(dc, x0, py, DWORD(x1 - x0), 1, 0, 0, 0, 1, row.data(), &info, DIB_RGB_COLORS);
        }
        return true;
    }
    HDC acquireReadDC() override {
        ++readDCs;
        return GetDC(nullptr);
    }
    void releaseReadDC(HDC dc) override {
        --readDCs;
        ReleaseDC(nullptr, dc);
    }
    void setProStatus(int percent) override { progress.push_back(percent); }
    void showError(const char* text) override { errors.emplace_back(text); }
    // Each handing-on of rows, and whether every row handed on was already what the finished
    // picture has there.
    std::vector<int> rowsHanded;
    bool handedRowsFinal = true;
    void rowsDrawn(const DibRecord& picture, int rows) override {
        rowsHanded.push_back(rows);
        const int w = picture.info->bmiHeader.biWidth, h = picture.info->bmiHeader.biHeight;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < w; ++x)
                if (getpixel(picture, x, h - 1 - y) != expected(x, y)) handedRowsFinal = false;
    }
};

RenderSettings settings(long long w, long long h, long long q = 100) {
    RenderSettings r;
    r.viewWidth = w;
    r.viewHeight = h;
    r.quality = q;
    return r;
}

// A picture that stands in for MainDib before the run.
struct Previous {
    DibRecord dib{};
    Previous() {
        newdib(&dib, 3, 2, 24, nullptr, 0);
        std::memset(dib.bits, 0x5A, dib.info->bmiHeader.biSizeImage);
    }
    ~Previous() { deldib(dib); }
    bool untouched() const {
        if (!dib.bits || dib.info->bmiHeader.biWidth != 3 || !pixolan::isLive(dib)) return false;
        for (DWORD i = 0; i < dib.info->bmiHeader.biSizeImage; ++i)
            if (dib.bits[i] != 0x5A) return false;
        return true;
    }
};

void expectSeamless(const DibRecord& dib) {
    const int w = dib.info->bmiHeader.biWidth;
    const int h = dib.info->bmiHeader.biHeight;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t got = getpixel(dib, x, h - 1 - y);
            ASSERT_EQ(got, expected(x, y)) << "output pixel " << x << "," << y;
        }
}

TEST(Render, OutputSizeIsTruncatedInSixtyFourBits) {
    EXPECT_EQ(capture::outputWidth(settings(801, 10, 150)), 1201);
    EXPECT_EQ(capture::outputHeight(settings(10, 10, 10)), 1);
    EXPECT_EQ(capture::outputWidth(settings(3000000000LL, 10, 2000)), 60000000000LL);
}

// The piece layout: strips of at most 500 rows, columns of at most 500 pixels, each piece drawn
// with the view shifted to its own output position and only the piece's columns clipped in.
TEST(Render, CutsThePictureIntoPieces) {
    struct Case {
        long long vw, vh, q;
        std::vector<int> stripHeights;
        std::vector<int> columnWidths;
    } const cases[] = {
        {500, 500, 100, {500}, {500}},
        {501, 501, 100, {500, 1}, {500, 1}},
        {10, 10, 10, {1}, {1}},
        {801, 20, 150, {30}, {500, 500, 201}},
        {800, 1000, 100, {500, 500}, {500, 300}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.vw << "x" << c.vh << " at " << c.q);
        FakeHost host;
        Previous previous;
        DibRecord main = previous.dib;
        ASSERT_EQ(capture::Render(settings(c.vw, c.vh, c.q), host, &main), RenderOutcome::Done);
        previous.dib = main; // freed at the end of the case
        const long long W = c.vw * c.q / 100, H = c.vh * c.q / 100;
        ASSERT_EQ(main.info->bmiHeader.biWidth, W);
        ASSERT_EQ(main.info->bmiHeader.biHeight, H);
        ASSERT_EQ(host.draws.size(), c.stripHeights.size() * c.columnWidths.size());
        std::size_t k = 0;
        long long y = 0;
        for (int sh : c.stripHeights) {
            long long x = 0;
            for (int cw : c.columnWidths) {
                const auto& d = host.draws[k++];
                EXPECT_EQ(d.bounds.left, -x);
                EXPECT_EQ(d.bounds.top, -y);
                EXPECT_EQ(d.bounds.right, W - x);
                EXPECT_EQ(d.bounds.bottom, H - y);
                EXPECT_EQ(d.clip.right - d.clip.left, cw);
                EXPECT_EQ(d.clip.bottom - d.clip.top, sh);
                x += cw;
            }
            y += sh;
        }
        expectSeamless(main);
    }
}

// Pieces at their own positions make one seamless picture at every size; a piece drawn from
// anywhere else would repeat or leave out parts of the page.
TEST(Render, PicturesAreSeamlessAtEverySize) {
    struct Case {
        long long vw, vh, q;
    } const cases[] = {{800, 1000, 100}, {1234, 567, 10}, {700, 450, 150}, {230, 410, 250}, {620, 380, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.vw << "x" << c.vh << " at " << c.q << "%");
        FakeHost host;
        Previous previous;
        DibRecord main = previous.dib;
        ASSERT_EQ(capture::Render(settings(c.vw, c.vh, c.q), host, &main), RenderOutcome::Done);
        previous.dib = main;
        expectSeamless(main);
    }
}

TEST(Render, ReportsProgressAfterEachStripAndZeroAtTheEnd) {
    FakeHost host;
    Previous previous;
    DibRecord main = previous.dib;
    ASSERT_EQ(capture::Render(settings(20, 1200), host, &main), RenderOutcome::Done);
    previous.dib = main;
    EXPECT_EQ(host.progress, (std::vector<int>{41, 83, 100, 0}));
    EXPECT_EQ(host.readDCs, 0) << "the read DC is released";
    // Rows are handed on strip by strip, each once it is drawn whole, for a host to encode them
    // while the rest is drawn.
    EXPECT_EQ(host.rowsHanded, (std::vector<int>{500, 1000, 1200}));
    EXPECT_TRUE(host.handedRowsFinal);
}

TEST(Render, RefusesOnlyWhenBothSidesExceedTheLimit) {
    const Baseline base;
    FakeHost host;
    Previous previous;
    DibRecord main = previous.dib;
    EXPECT_EQ(capture::Render(settings(10001, 10001), host, &main), RenderOutcome::TooLarge);
    EXPECT_EQ(
        host.errors,
        (std::vector<std::string>{
            "With this high quality the resulting bitmap is to large! Please select a lower quality."}));
    EXPECT_TRUE(host.progress.empty());
    EXPECT_TRUE(host.draws.empty());
    EXPECT_EQ(main.bits, previous.dib.bits);
    EXPECT_TRUE(previous.untouched());

    // 10001 x 10000 is not refused by the size rule; with too little memory it ends at the
    // output picture instead, which shows that it got past the rule.
    host.errors.clear();
    pixolan::setAvailableMemoryForTesting(100ull << 20);
    EXPECT_EQ(capture::Render(settings(10001, 10000), host, &main), RenderOutcome::NoMemory);
    pixolan::setAvailableMemoryForTesting(0);
    EXPECT_EQ(host.errors, (std::vector<std::string>{"Could not create bitmap! Not enough free memory?!"}));
    EXPECT_TRUE(host.progress.empty()) << "nothing was started, so the bar is left alone";
    EXPECT_TRUE(previous.untouched());
    base.expectNothingLeft(1); // the previous picture, still held
}

TEST(Render, SizesTypedFarAboveTheRangeDoNotOverflow) {
    FakeHost host;
    Previous previous;
    DibRecord main = previous.dib;
    // 3 billion pixels wide by 12 high: one side only above the limit, so not refused by size;
    // no 32-bit overflow may turn it into a small picture.
    EXPECT_EQ(capture::Render(settings(3000000000LL, 12, 100), host, &main), RenderOutcome::NoMemory);
    EXPECT_EQ(host.errors, (std::vector<std::string>{"Could not create bitmap! Not enough free memory?!"}));
    EXPECT_TRUE(previous.untouched());
}

// Every failure of a run: its own message, the previous picture kept, progress back to 0 and
// everything the run made released.
TEST(Render, FailuresKeepThePreviousPictureAndFreeEverything) {
    using gdi::testing::Call;
    struct Case {
        const char* what;
        Call call;
        int nth;
        const char* message;
        std::vector<int> progress;
        std::vector<int> rowsHanded; // only strips drawn whole
    } const cases[] = {
        // 1200 rows: strips at 0, 500, 1000; two columns each (width 600).
        {"strip bitmap of the third strip",
         Call::CreateDIBSection,
         3,
         "Could not create bitmap! Please choose a smaller size!",
         {41, 83, 0},
         {500, 1000}},
        {"strip DIB of the second strip",
         Call::newdib,
         3,
         "Could not create bitmap! Please choose a smaller size!",
         {41, 0},
         {500}},
        {"read-back of the second piece",
         Call::GetDIBits,
         2,
         "Could not copy bitmap! Not enough free memory?!",
         {41, 0},
         {}},
        {"output picture", Call::newdib, 1, "Could not create bitmap! Not enough free memory?!", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Baseline base;
        FakeHost host;
        Previous previous;
        DibRecord main = previous.dib;
        RenderOutcome outcome;
        {
            gdi::testing::FailureScope scope;
            gdi::testing::FailNthCall(c.call, c.nth);
            outcome = capture::Render(settings(600, 1200), host, &main);
        }
        EXPECT_NE(outcome, RenderOutcome::Done);
        EXPECT_EQ(host.errors, (std::vector<std::string>{c.message}));
        EXPECT_EQ(host.progress, c.progress);
        EXPECT_EQ(host.rowsHanded, c.rowsHanded);
        EXPECT_TRUE(host.handedRowsFinal);
        EXPECT_EQ(main.bits, previous.dib.bits);
        EXPECT_TRUE(previous.untouched());
        EXPECT_EQ(host.readDCs, 0);
        base.expectNothingLeft(1); // the previous picture, still held
    }
}

// A strip bitmap without a device context is not a size problem: the run ends with an error
// for the general error handler, after releasing everything it made.
TEST(Render, AStripWithoutADeviceContextRaisesAnError) {
    const Baseline base;
    FakeHost host;
    Previous previous;
    DibRecord main = previous.dib;
    {
        gdi::testing::FailureScope scope;
        gdi::testing::FailNthCall(gdi::testing::Call::CreateCompatibleDC, 2);
        EXPECT_THROW(capture::Render(settings(600, 1200), host, &main), capture::RenderError);
    }
    EXPECT_TRUE(host.errors.empty());
    EXPECT_EQ(host.progress, (std::vector<int>{41, 0}));
    EXPECT_TRUE(previous.untouched());
    EXPECT_EQ(host.readDCs, 0);
    base.expectNothingLeft(1);
}

TEST(Render, ADeadViewEndsTheRunWithAnErrorInsteadOfAWhitePicture) {
    const Baseline base;
    FakeHost host;
    host.viewFails = true;
    Previous previous;
    DibRecord main = previous.dib;
    EXPECT_THROW(capture::Render(settings(800, 1000), host, &main), capture::RenderError);
    EXPECT_EQ(host.progress, (std::vector<int>{0}));
    EXPECT_TRUE(previous.untouched());
    EXPECT_EQ(host.readDCs, 0);
    base.expectNothingLeft(1); // the previous picture, still held
}

} // namespace
