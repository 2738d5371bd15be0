// The two result views: a paint box in a scroll box that shows the current picture 1:1 and is
// panned by dragging the picture with the mouse.
#pragma once

#include "pixolan/Pixolan.h"

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

} // namespace app
