#include "app/ResultView.h"

#include "capture/DrawDib.h"
#include "platform/gdi/GdiQt.h"
#include "platform/widgets/PaintBox.h"

#include <QScrollArea>
#include <QScrollBar>
#include <algorithm>

namespace app {

void paintResultView(widgets::PaintBox* box, QPaintEvent* event, const DibRecord& dib) {
    if (!dib.bits || !dib.info) return;
    const int w = dib.info->bmiHeader.biWidth;
    const int h = dib.info->bmiHeader.biHeight;
    if (w <= 0 || h <= 0) return;
    // A widget cannot grow beyond Qt's limit; a picture wider or taller than that is shown as
    // far as the box reaches instead of asking for the impossible size on every paint.
    const int boxWidth = std::min(w, QWIDGETSIZE_MAX);
    const int boxHeight = std::min(h, QWIDGETSIZE_MAX);
    if (box->width() != boxWidth) {
        box->resize(boxWidth, box->height());
        return;
    }
    if (box->height() != boxHeight) {
        box->resize(box->width(), boxHeight);
        return;
    }
    // The paint DC covers only the area being painted, so a huge picture costs what is seen.
    gdi::PaintDC dc(box, event);
    capture::DrawDib(dc.dc(), 0, 0, w, h, dib, 0, 0, w, h, true, gdi::SRCCOPY, true, nullptr);
}

int dragTarget(int position, int pressed, int pointer, int range) {
    long long target = (long long)position + pressed - pointer;
    if (target < 0) target = 0;
    if (target > (long long)range - 1) target = (long long)range - 1;
    return int(target);
}

void dragScroll(QScrollArea* box, int pressedX, int pressedY, int x, int y) {
    const QWidget* content = box->widget();
    if (!content) return;
    QScrollBar* horizontal = box->horizontalScrollBar();
    QScrollBar* vertical = box->verticalScrollBar();
    // Both targets come from the positions before this move; each axis has its own range.
    const int targetX = dragTarget(horizontal->value(), pressedX, x, content->width());
    const int targetY = dragTarget(vertical->value(), pressedY, y, content->height());
    horizontal->setValue(targetX);
    vertical->setValue(targetY);
}

void ResultViewDrag::press(int x, int y) {
    m_dragging = true;
    m_pressedX = x;
    m_pressedY = y;
}

void ResultViewDrag::move(QScrollArea* box, int x, int y) {
    if (!m_dragging) return;
    dragScroll(box, m_pressedX, m_pressedY, x, y);
}

void ResultViewDrag::release() {
    m_dragging = false;
}

} // namespace app
