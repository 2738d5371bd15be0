// What the tool does inside a loaded page: wait for an element, run the user's script, hide
// elements, find an element's box. Each throws browser::BrowserError with a message for the
// user when the page fails or does not answer by the page's deadline.
#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>
#include <chrono>

namespace browser {
class BrowserView;
}

namespace app::cli {

using Deadline = std::chrono::steady_clock::time_point;

// A CSS selector as a JavaScript string literal.
QString jsString(const QString& text);

// Waits until an element matches css. False when none does by the deadline.
bool waitForElement(browser::BrowserView& view, const QString& css, Deadline deadline);

// Runs the user's script; a promise it ends with is waited for.
void runScript(browser::BrowserView& view, const QString& code, Deadline deadline);

// Hides every element that matches one of the selectors, now and later, keeping the room it
// takes in the layout.
void hideElements(browser::BrowserView& view, const QStringList& selectors, Deadline deadline);

// Keeps the text caret of the focused field (an input, a text area, editable content, in the
// page or a frame of its own origin) out of the picture: it blinks, so that two pictures of the
// same page would differ by it. Changes nothing when no such field has the focus.
void hideCaret(browser::BrowserView& view, Deadline deadline);

struct ElementBox {
    bool found = false;
    QRectF box; // in view pixels, relative to the visible area
    double scrollY = 0;
};
// The box of the first element that matches css, once the boxes that scroll it inside the page
// (not the page itself) show it.
ElementBox elementBox(browser::BrowserView& view, const QString& css, Deadline deadline);

// The boxes (in view pixels, the page at its top) of the frames of another origin (every frame
// of a local file among them) that lie wholly below the first layoutHeight rows of the view and
// reach into part: the engine draws such a frame only while it is in the viewport, so they are
// empty in a picture taken beyond it.
QList<QRect> otherOriginFramesBelow(browser::BrowserView& view, int layoutHeight, const QRect& part,
                                    Deadline deadline);

// For a page that does not scroll as a whole but inside an element that fills much of the
// viewport (an application's layout: a header, and content that scrolls in a box as tall as the
// viewport): the view's height at which that element would hold all of its content, as far as
// its height follows the viewport's. 0 for any other page.
int innerScrollingHeight(browser::BrowserView& view, Deadline deadline);

// Scrolls the page so that its row y is at the top of the viewport, as far as it scrolls, with
// the elements fixed to the viewport (and sticky ones) hidden unless they hold a frame, and waits
// until the frames that come into the viewport have been drawn. Returns the row at the top of
// the viewport, or -1 when the frame with box (in view pixels at the page's top) is not there
// any more.
int scrollToRowWithoutFixed(browser::BrowserView& view, int y, const QRect& box, Deadline deadline);
// Undoes that: the page at its top, the hidden elements as they were.
void restoreFixed(browser::BrowserView& view, Deadline deadline);

// Scrolls the page to its top left.
void scrollToTop(browser::BrowserView& view, Deadline deadline);

} // namespace app::cli
