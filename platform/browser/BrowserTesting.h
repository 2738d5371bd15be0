// Engine-wide settings and read-outs of the browser layer, for tests and benchmarks.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace browser {
class BrowserView;
}

namespace browser::engine {

// How many screenshots the views have asked the engine for so far.
std::uint64_t screenshotCount();
void countScreenshot();
// How many pages (each with a browser context and renderer of its own) the views have made.
std::uint64_t pagesMade();
void countPageMade();
// Makes the next count wipes of a page for the next address fail, as when the engine refuses
// one of their calls; takeWipeFailure() uses one of them up.
void failNextWipes(int count);
bool takeWipeFailure();
// How long a view stays idle after a draw before it gives back the memory it keeps for the
// next one (10 s unless changed), and how much it keeps now.
void setIdleReleaseMs(int ms);
int idleReleaseMs();
std::size_t heldCaptureBytes(BrowserView* view);
// The pixels of each capture made ahead; 0 (the default) sizes them by the memory they take.
void setAheadCapturePixels(std::int64_t pixels);
std::int64_t aheadCapturePixels();
// Views larger than this many captured pixels are shown by the engine only as far as each
// capture reaches while it is made; 0 (the default) is maxWholeViewPixels. Tests lower it to
// take ordinary pages that way.
void setWholeViewPixels(std::int64_t pixels);
std::int64_t wholeViewPixels();
// How many captures were made with the engine showing only their own area.
std::uint64_t narrowedCaptureCount();
void countNarrowedCapture();
// The process id of the running engine, or 0; tests kill it to check recovery.
long enginePid();
// Ends the engine now (it is started again by the next operation that needs it).
void shutdownEngine();
// Sends a raw protocol call on the view's page and returns the result as JSON text, or, for a
// result that carries a picture, the picture's base64 text. The benchmark times the engine
// alone with it.
QByteArray rawPageCall(BrowserView* view, const QString& method, const QByteArray& paramsJson);

} // namespace browser::engine
