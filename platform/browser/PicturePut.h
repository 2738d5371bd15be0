// The two steps every capture takes: the engine's answer decoded into a picture of the size
// asked for, and rows of that picture put onto a DC.
#pragma once

#include "platform/browser/CaptureTypes.h"
#include "platform/browser/Connection.h"
#include "platform/browser/Pixels.h"
#include "platform/gdi/Gdi.h"

#include <QPointF>
#include <cstdint>
#include <optional>

namespace browser {

class PageSession;

// Waits for the capture id of region (at scale, scrolled to scroll). For a large view
// (PageSession::largeView) the engine rasters each captured area anew, and a capture may be
// taken before all of it is drawn (on a page of many layers above all): the area is captured
// again until two captures in a row are alike. Nothing when they never are: the caller captures
// smaller areas. Throws BrowserError when the engine fails.
std::optional<Message> waitDrawn(PageSession& page, std::uint64_t id, const CaptureRegion& region,
                                 double scale, QPointF scroll);

// Decodes a capture's answer into out, reusing its memory, and fits it to the region's size;
// the answer's text is decoded in place and freed. False when the picture cannot be read.
bool decodeCapture(Message& shot, const CaptureRegion& region, Picture24& out);

// Puts width x height pixels of picture, from srcX, srcY on, at x, y on dc. False when the DC
// refused them.
bool putPicture(gdi::HDC dc, std::int64_t x, std::int64_t y, const Picture24& picture, int srcX, int srcY,
                int width, int height);

} // namespace browser
