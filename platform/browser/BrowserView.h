// The browser view: one page of a shared headless Chromium, driven over its DevTools pipe. It
// offers what the program needs of an embedded browser: navigate, resize, draw the view into a
// device context of our raster layer, and a completion event for every frame's document.
//
// Everything here runs on the UI thread. Calls to the engine are synchronous and never run the
// Qt event loop; whatever the engine reports meanwhile (document completions, content changes)
// is held back and delivered later through the event loop.
#pragma once

#include "platform/browser/BrowserError.h"
#include "platform/browser/CallLimits.h"
#include "platform/gdi/Gdi.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>

namespace browser {

class PageSession;
class BrowserView;

namespace engine {
// Sends a raw protocol call on the view's page and returns the result as JSON text, or, for a
// result that carries a picture, the picture's base64 text. The benchmark times the engine
// alone with it.
QByteArray rawPageCall(BrowserView* view, const QString& method, const QByteArray& paramsJson);
std::size_t heldCaptureBytes(BrowserView* view);
} // namespace engine

class BrowserView : public QObject {
    Q_OBJECT
  public:
    // The size a view has until the program sizes it: that of the window layout.
    static constexpr int initialWidth = 2000;
    static constexpr int initialHeight = 2000;

    explicit BrowserView(QObject* parent = nullptr);
    ~BrowserView() override;

    // Starts loading the address and returns once the engine has taken the navigation; the
    // document arrives later and is reported by documentComplete. A plain local path becomes
    // a file:// URL. Errors the engine shows in the page itself (unreachable host, missing
    // file) are not raised; a refused navigation, a missing or dead engine and a time-out are.
    void navigate(const QString& address); // throws BrowserError
    // The layout viewport, in pixels. Sizes outside 1..maxDimension are refused (BrowserError)
    // and the view keeps its size.
    void resize(int width, int height); // throws BrowserError
    QSize size() const { return m_size; }
    // The last address navigated to, as passed.
    QString address() const { return m_address; }
    // The main frame of the last navigation: its documentComplete is the page's.
    QString mainFrameId() const { return m_mainFrameId; }
    // Why the last navigation could not load (the engine's error text, such as
    // "net::ERR_FILE_NOT_FOUND"); empty when it loads. The view then shows the engine's own
    // error page.
    QString navigationError() const { return m_navigationError; }
    // The size of the loaded document in pixels (at most maxDimension each way).
    QSize documentSize(); // throws BrowserError

    // Draws the whole view scaled into bounds on dc; only what falls inside the DC's clip box
    // is captured and written. Returns false when nothing could be drawn (engine failure).
    // An empty view (nothing navigated yet) draws white without starting the engine.
    bool draw(gdi::HDC dc, const gdi::RECT& bounds);

    // Input for the live view, in view coordinates; sent without waiting for the engine.
    enum class MouseButton { None, Left, Middle, Right };
    enum class MouseAction { Press, Release, Move };
    void sendMouse(MouseAction action, int x, int y, MouseButton button, int buttons, int modifiers,
                   int clickCount);
    void sendWheel(int x, int y, double deltaX, double deltaY, int modifiers);
    struct Key {
        bool down = true;
        QString key;  // DOM key value ("a", "Enter", "ArrowLeft")
        QString code; // DOM code ("KeyA", "Enter")
        QString text; // what the key types, if anything
        int windowsKeyCode = 0;
        int modifiers = 0; // 1 Alt, 2 Ctrl, 4 Meta, 8 Shift
        bool autoRepeat = false;
    };
    void sendKey(const Key& key);

    // The live view: while on, the engine sends a picture of the view (1:1) whenever the page's
    // pixels change, and contentChanged follows each one.
    void setLiveView(bool live);
    bool liveView() const { return m_live; }
    // The latest such picture; null before the first one and while the page is not running.
    QImage liveFrame() const;

    // Largest width or height the view accepts.
    static constexpr int maxDimension = 100000;

    // Turns what the user typed into the address the engine loads: a plain local path (absolute,
    // or relative to the working directory and existing) becomes a file:// URL; an address with
    // a scheme is kept; anything else is read as a web address.
    static QUrl addressToUrl(const QString& address);

  signals:
    void documentComplete(const QString& frameId, const QString& url);
    void contentChanged(); // the page's pixels may have changed (for the live 1:1 view)

  private:
    friend QByteArray engine::rawPageCall(BrowserView*, const QString&, const QByteArray&);
    friend std::size_t engine::heldCaptureBytes(BrowserView*);
    PageSession& session();         // the page on a running engine, made or made again on demand
    PageSession* existingSession(); // the page if it runs now; never starts anything

    QSize m_size{initialWidth, initialHeight};
    QString m_address;
    QString m_mainFrameId;
    QString m_navigationError;
    bool m_live = false;
    std::unique_ptr<PageSession> m_session;
    QTimer m_idle; // gives back the memory of the last draw once the view has been idle a while
};

// An OleDraw stand-in: draws the view's content into bounds on dc. Returns an HRESULT-like
// value: S_OK (0) on success, E_FAIL when the engine could not draw, DV_E_DVASPECT for another
// aspect, E_INVALIDARG for a missing view, DC or rectangle.
constexpr gdi::DWORD DVASPECT_CONTENT = 1;
constexpr int S_OK = 0;
constexpr int E_FAIL = int(0x80004005u);
constexpr int E_INVALIDARG = int(0x80070057u);
constexpr int DV_E_DVASPECT = int(0x8004006Bu);
int OleDraw(BrowserView* view, gdi::DWORD aspect, gdi::HDC dc, const gdi::RECT* bounds);

// A counter that moves on each time the Qt event loop has run since it was last read. A caller
// that draws the view many times without returning to the event loop (a capture in pieces)
// sees one value throughout, and may rely on the page not having been scrolled or changed by
// the user meanwhile.
std::uint64_t eventLoopGeneration();

// Engine-wide settings, mainly for tests and benchmarks.
namespace engine {
// How many screenshots the views have asked the engine for so far.
std::uint64_t screenshotCount();
// How long a view stays idle after a draw before it gives back the memory it keeps for the
// next one (10 s unless changed), and how much it keeps now.
void setIdleReleaseMs(int ms);
std::size_t heldCaptureBytes(BrowserView* view);
// The pixels of each capture made ahead; 0 (the default) sizes them by the memory they take.
void setAheadCapturePixels(std::int64_t pixels);
// The process id of the running engine, or 0; tests kill it to check recovery.
long enginePid();
// Ends the engine now (it is started again by the next operation that needs it).
void shutdownEngine();
} // namespace engine

} // namespace browser
