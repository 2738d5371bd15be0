// The two result views: a paint box in a scroll box that shows the current picture 1:1 and is
// panned by dragging the picture with the mouse.
#pragma once

#include "pixolan/Pixolan.h"

#include <cstdint>

class QPaintEvent;
class QScrollArea;

namespace widgets {
class PaintBox;
}

namespace app {

// One paint of a result view. The box first takes the picture's width, then its height, one
// per paint (each change brings a later paint), and draws the whole picture at its top-left
// corner only once both fit. A record without pixels (the start-up picture could not be made)
// draws nothing and leaves the box as it is.
void paintResultView(widgets::PaintBox* box, QPaintEvent* event, const DibRecord& dib);

// Where one axis of a drag scrolls to: the position moved by how far the pointer has left the
// press point, kept within 0 .. range - 1 (the scroll box then applies its own, tighter bound).
int dragTarget(int position, int pressed, int pointer, int range);

// One move of a drag on box: both axes, horizontal first. The range of each axis is the
// extent of what the box holds.
void dragScroll(QScrollArea* box, int pressedX, int pressedY, int x, int y);

// The drag panning of one result view, over the window's own fields for it: the flag and the
// press point. The view's three mouse handlers call press, move and release.
class ResultViewDrag {
  public:
    ResultViewDrag(bool& dragging, std::int32_t& pressedX, std::int32_t& pressedY)
        : m_dragging(dragging), m_pressedX(pressedX), m_pressedY(pressedY) {}
    ResultViewDrag(const ResultViewDrag&) = delete;
    ResultViewDrag& operator=(const ResultViewDrag&) = delete;

    // Any button starts a drag at the pointer.
    void press(int x, int y);
    // Pans box so that the pressed point follows the pointer; nothing while no drag is on.
    void move(QScrollArea* box, int x, int y);
    // Any button ends it.
    void release();

  private:
    bool& m_dragging;
    std::int32_t& m_pressedX;
    std::int32_t& m_pressedY;
};

} // namespace app
