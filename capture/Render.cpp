#include "capture/Render.h"

#include "pixolan/DibOwner.h"
#include "platform/gdi/GdiOwners.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

using namespace gdi;

namespace capture {
namespace {

constexpr const char* kTooLarge =
    "With this high quality the resulting bitmap is to large! Please select a lower quality.";
constexpr const char* kNoMemory = "Could not create bitmap! Not enough free memory?!";
constexpr const char* kNoStrip = "Could not create bitmap! Please choose a smaller size!";
constexpr const char* kNoCopy = "Could not copy bitmap! Not enough free memory?!";

// The off-screen strip bitmap: a 24-bit DIB section selected into a memory DC of its own. The
// members go in reverse order: the selection is put back, the DC deleted, then the bitmap.
class StripBitmap {
  public:
    // False when the bitmap cannot be made; whatever was made is released again. A bitmap
    // that is made but cannot get a device context of its own is not a matter of size: that
    // raises a RenderError.
    bool create(int width, int height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        BitmapOwner bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!bitmap || !bits) return false;
        DcOwner dc(CreateCompatibleDC(nullptr));
        if (!dc) throw RenderError("Could not get a device context for drawing the page.");
        m_bitmap = std::move(bitmap);
        m_dc = std::move(dc);
        m_selection = SelectionGuard(m_dc.get(), m_bitmap.get());
        // A new off-screen bitmap starts white, so a view that draws nothing leaves white.
        const std::size_t stride = (std::size_t(width) * 24 + 31) / 32 * 4;
        std::memset(bits, 0xFF, stride * std::size_t(height));
        return true;
    }

    HDC dc() const { return m_dc.get(); }
    HBITMAP bitmap() const { return m_bitmap.get(); }

  private:
    BitmapOwner m_bitmap;
    DcOwner m_dc;
    SelectionGuard m_selection;
};

class ReadDC {
  public:
    explicit ReadDC(RenderHost& host) : m_host(host), m_dc(host.acquireReadDC()) {}
    ~ReadDC() { m_host.releaseReadDC(m_dc); }
    ReadDC(const ReadDC&) = delete;
    ReadDC& operator=(const ReadDC&) = delete;
    HDC get() const { return m_dc; }

  private:
    RenderHost& m_host;
    HDC m_dc;
};

// Sets the progress back to 0 when the run ends, however it ends.
class ProgressReset {
  public:
    explicit ProgressReset(RenderHost& host) : m_host(host) {}
    ~ProgressReset() { m_host.setProStatus(0); }
    ProgressReset(const ProgressReset&) = delete;
    ProgressReset& operator=(const ProgressReset&) = delete;

  private:
    RenderHost& m_host;
};

} // namespace

long long outputWidth(const RenderSettings& s) {
    return s.viewWidth * s.quality / 100;
}
long long outputHeight(const RenderSettings& s) {
    return s.viewHeight * s.quality / 100;
}

RenderOutcome Render(const RenderSettings& settings, RenderHost& host, DibRecord* mainDib) {
    const long long W = outputWidth(settings);
    const long long H = outputHeight(settings);

    if (W > kMaxSide && H > kMaxSide) {
        host.showError(kTooLarge);
        return RenderOutcome::TooLarge;
    }

    pixolan::DibOwner output;
    if (W > 0 && H > 0 && W <= INT_MAX && H <= INT_MAX) newdib(output.out(), int(W), int(H), 24, nullptr, 0);
    if (output.empty()) {
        host.showError(kNoMemory);
        return RenderOutcome::NoMemory;
    }

    bool run = true;
    {
        ProgressReset progressAtEnd(host);
        ReadDC readDC(host);
        const int width = int(W);
        const int height = int(H);
        const std::int32_t stride = output.get().bytesPerRow;

        for (int y = 0; y < height && run;) {
            const int h = std::min(kPieceSize, height - y);
            StripBitmap strip;
            if (!strip.create(width, h)) {
                run = false;
                host.showError(kNoStrip);
                break;
            }
            pixolan::DibOwner stripDib;
            newdib(stripDib.out(), width, h, 24, nullptr, 0);
            if (stripDib.empty()) {
                run = false;
                host.showError(kNoStrip);
                break;
            }

            int x = 0;
            do {
                const int cw = std::min(kPieceSize, width - x);
                // The view scales its whole content into bounds, so the piece is drawn at its
                // own output position: any other shift would show another part of the page.
                const RECT bounds{LONG(-x), LONG(-y), LONG(W - x), LONG(H - y)};
                // Only the piece's own columns are read back, so the view is asked for just
                // those: it captures what lies inside the clip box.
                SelectClipRgn(strip.dc(), nullptr);
                IntersectClipRect(strip.dc(), 0, 0, cw, h);
                if (!host.drawView(strip.dc(), bounds))
                    throw RenderError("The page could not be drawn: " + host.drawFailure());

                if (GetDIBits(readDC.get(), strip.bitmap(), 0, UINT(h), stripDib.get().bits,
                              stripDib.get().info, DIB_RGB_COLORS) == 0) {
                    run = false;
                    host.showError(kNoCopy);
                } else {
                    const std::uint8_t* src = stripDib.get().bits;
                    std::uint8_t* dst = output.get().bits;
                    for (int i = 0; i < h; ++i)
                        std::memcpy(dst + std::ptrdiff_t(height - 1 - y - i) * stride + 3 * std::ptrdiff_t(x),
                                    src + std::ptrdiff_t(h - 1 - i) * stride, 3 * std::size_t(cw));
                }
                x += cw;
            } while (x < width && run);

            y += h;
            if (run) host.rowsDrawn(output.get(), y);
            host.setProStatus(int(std::int64_t(y) * 100 / height));
        }
    }

    if (!run) return RenderOutcome::Failed;
    deldib(*mainDib);
    *mainDib = output.release();
    return RenderOutcome::Done;
}

} // namespace capture
