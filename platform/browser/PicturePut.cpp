#include "platform/browser/PicturePut.h"

#include "platform/browser/PageSession.h"

#include <string>
#include <utility>

namespace browser {

std::optional<Message> waitDrawn(PageSession& page, std::uint64_t id, const CaptureRegion& region,
                                 double scale, QPointF scroll) {
    Message shot = page.waitCapture(id);
    if (!page.largeView()) return shot;
    // A raster under way ends within a capture or two; an area that keeps changing is more
    // than the engine draws at once.
    for (int attempt = 0; attempt < 3; ++attempt) {
        Message again = page.waitCapture(page.sendCapture(region, scale, scroll));
        if (again.data == shot.data && again.json == shot.json) return shot;
        shot = std::move(again);
    }
    return std::nullopt;
}

bool decodeCapture(Message& shot, const CaptureRegion& region, Picture24& out) {
    std::string data = shot.data.empty() ? shot.json.value("data", std::string()) : std::move(shot.data);
    shot = Message();
    if (!decodeBase64InPlace(data) ||
        !decodePng(reinterpret_cast<std::uint8_t*>(data.data()), data.size(), out, nullptr))
        return false;
    data = std::string();
    return out.fitTo(int(region.width()), int(region.height()));
}

bool putPicture(gdi::HDC dc, std::int64_t x, std::int64_t y, const Picture24& picture, int srcX, int srcY,
                int width, int height) {
    // A top-down DIB of the picture's whole width and height; the part is picked out by the
    // source position.
    gdi::BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(gdi::BITMAPINFOHEADER);
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = gdi::BI_RGB;
    return gdi::SetDIBitsToDevice(dc, int(x), int(y), gdi::DWORD(width), gdi::DWORD(height), srcX, srcY, 0,
                                  gdi::UINT(picture.height), picture.bytes.get(), &info,
                                  gdi::DIB_RGB_COLORS) > 0;
}

} // namespace browser
