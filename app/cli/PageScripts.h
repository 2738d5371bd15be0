// What the tool does inside a loaded page: wait for an element, run the user's script, hide
// elements, find an element's box. Each throws browser::BrowserError with a message for the
// user when the page fails or does not answer by the page's deadline.
#pragma once

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

struct ElementBox {
    bool found = false;
    QRectF box; // in view pixels, relative to the visible area
    double scrollY = 0;
};
// The box of the first element that matches css.
ElementBox elementBox(browser::BrowserView& view, const QString& css, Deadline deadline);

// How many frames of another origin (every frame of a local file among them) lie wholly below
// the first layoutHeight rows of the view and reach into part, with the page at its top: the
// engine draws such a frame only while it is in the viewport, so they are empty in the picture.
int otherOriginFramesBelow(browser::BrowserView& view, int layoutHeight, const QRect& part,
                           Deadline deadline);

// Scrolls the page to its top left.
void scrollToTop(browser::BrowserView& view, Deadline deadline);

} // namespace app::cli
