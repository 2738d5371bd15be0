// The browser view: a page of a shared headless Chromium, driven over its DevTools pipe. It
// offers what the program needs of an embedded browser: navigate, resize, draw the view into a
// device context of our raster layer, and a completion event for every frame's document.
//
// Everything here runs on the UI thread. Navigation is handed over and completes through the
// event loop; the calls that wait for the engine (drawing, measuring) never run the event loop
// and are bounded in time, so a page that stops answering cannot freeze the window. Whatever
// the engine reports meanwhile is held back and delivered later through the event loop.
#pragma once

#include "platform/browser/BrowserError.h"
#include "platform/browser/BrowserTesting.h"
#include "platform/browser/CallLimits.h"
#include "platform/browser/EventLoopTurn.h"
#include "platform/browser/InputForwarder.h"
#include "platform/browser/PageSetup.h"
#include "platform/gdi/Gdi.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace browser {

class PageSession;

class BrowserView : public QObject {
    Q_OBJECT
  public:
    // The size a view has until the program sizes it: that of the window layout.
    static constexpr int initialWidth = 2000;
    static constexpr int initialHeight = 2000;
    // Largest width or height the view accepts.
    static constexpr int maxDimension = 100000;

    explicit BrowserView(QObject* parent = nullptr);
    ~BrowserView() override;

    // Hands the address to a fresh page and returns without waiting for the page: the document
    // arrives later and is reported by documentComplete; a navigation still under way is
    // replaced. A plain local path becomes a file:// URL. Errors the engine shows in the page
    // itself (unreachable host, missing file) are not raised; an address that cannot be opened
    // and a missing or dead engine are.
    void navigate(const QString& address); // throws BrowserError
    // The same, in the page the view has now when that page ended well: its renderer and browser
    // context are kept, everything the page before left is wiped first (see
    // PageSession::navigateWiped), and where that cannot be done surely the address goes to a
    // fresh page as with navigate.
    void navigateReusing(const QString& address); // throws BrowserError
    // Whether the view loads its page again on a new engine as soon as the engine has gone (the
    // default, so that a window shows its page again at once). Off, the view waits until its
    // page is next needed: a batch retries the page whose turn it is first and alone, as the
    // page that took the engine down may be among those loaded behind it.
    void setReloadedWithEngine(bool on) { m_reloadedWithEngine = on; }
    // The layout viewport, in pixels. Sizes outside 1..maxDimension are refused (BrowserError)
    // and the view keeps its size.
    void resize(int width, int height); // throws BrowserError
    // The same for a view that reaches below its layout viewport: the page is laid out in a
    // viewport layoutHeight pixels high (what its vh units mean), and the view shows height
    // pixels of it, as a whole-page picture does.
    void resize(int width, int height, int layoutHeight); // throws BrowserError
    QSize size() const { return m_size; }
    int layoutHeight() const { return m_layoutHeight; }
    // The last address navigated to, as passed.
    QString address() const { return m_address; }
    // The main frame of the last navigation: its documentComplete is the page's.
    QString mainFrameId() const;
    // Why the last navigation could not load (the engine's error text, such as
    // "net::ERR_FILE_NOT_FOUND"), once the engine has said so; empty when it loads. The view
    // then shows the engine's own error page.
    QString navigationError() const;
    // The HTTP status the page's document came with (404 for a page of its own saying it was
    // not found); 0 for documents that do not come over HTTP.
    int httpStatus() const;
    // After navigateReusing: the page before could not be cleared away, so nothing of the
    // address was loaded and the view is not to be used again; a new view can load it.
    bool reuseFailed() const;
    // The main frame of the last navigation has finished loading.
    bool loaded() const;
    // Addresses of the page's requests under way, the oldest first; the main frame's document
    // is an empty string.
    QStringList pendingRequests() const;
    // Changes whenever the page shows another document, one it went on to by itself included.
    std::uint64_t documentsShown() const;
    // How often the view's page has gone with its engine or its renderer (killed, crashed) since
    // the view was made, counting one that has gone and not yet been made again.
    std::uint64_t pagesLost() const;
    // The size of the loaded document in pixels (at most maxDimension each way).
    QSize documentSize(); // throws BrowserError
    // The same in CSS pixels as the engine gives it, however large.
    QSizeF documentExtent(); // throws BrowserError

    // What every page is given before it loads (user agent, headers, cookies, media); takes
    // effect from the next navigation on.
    void setPageSetup(const PageSetup& setup) { m_setup = setup; }
    // Runs a script in the page (a promise it gives is waited for) and returns its value as
    // JSON text. Throws BrowserError when the script fails or the page does not answer in time.
    QString evaluate(const QString& expression, int timeoutMs);
    // The same for the program's own scripts, in a world of their own beside the page's: they
    // share its document but not its globals, so a page that replaced setTimeout, Promise or an
    // Array method, or put a getter on document, cannot hold them up or make them fail.
    QString evaluateOwn(const QString& expression, int timeoutMs);
    // Every engine call made for this view ends by the deadline at the latest (a page's whole
    // time limit in the command-line tool); none when not set.
    void setDeadline(std::optional<std::chrono::steady_clock::time_point> deadline);

    // Waits, running the event loop, until the page has settled: loaded, no request under way
    // for quietMs, web fonts loaded, the images in the view decoded and two frames drawn (or a
    // second gone by without one). A page whose network never goes quiet is taken as it is at
    // networkBy. Throws BrowserError (BrowserTimeout past the deadline) when the page does not
    // answer.
    void settle(std::chrono::steady_clock::time_point networkBy, int quietMs = 500);
    // What kept the engine's PDF viewer from showing the PDF that the page settled last is (or
    // shows): it could not read it, or it asks for the PDF's password. The view shows the
    // viewer's message.
    enum class PdfTrouble { None, Unreadable, Locked };
    PdfTrouble pdfTrouble() const { return m_pdfTrouble; }
    // Makes the view as tall as the document (at most maxHeight), keeping the layout viewport's
    // height: lazy content is brought into a viewport once so that it loads, the page settles,
    // and the height is measured again until it holds, for at most maxRounds rounds (a page
    // that grows each time it is shown, endless scrolling, stops there). Returns the height.
    int growToDocument(int maxHeight, std::chrono::steady_clock::time_point networkBy, int maxRounds = 8);
    // Elements the page lets the engine skip while they are off screen (content-visibility:
    // auto) are drawn only where the layout viewport reaches, blank in a view taller than it:
    // they are made visible for good, as they are once scrolled to. Returns how many.
    int showSkippedContent();
    // The page was scrolled by a script: the next draw asks the engine where it is.
    void forgetScroll();

    // Draws the whole view scaled into bounds on dc; only what falls inside the DC's clip box
    // is captured and written. Returns false when nothing could be drawn (engine failure; the
    // reason is in lastDrawError). An empty view (nothing navigated yet) draws white without
    // starting the engine.
    bool draw(gdi::HDC dc, const gdi::RECT& bounds);
    QString lastDrawError() const { return m_lastDrawError; }
    // Whether the page answers within span: at once when none of its calls has gone unanswered,
    // else once the question the engine is then asked (see PageSession::stalled) is answered.
    // A page that ran out of time and still answers was slow rather than stuck. Runs the event
    // loop; never starts anything.
    bool answersWithin(std::chrono::milliseconds span);
    // Whether the last draw or capture failed because the page went on to another document
    // meanwhile (it may be drawn again once that one is there).
    bool lastDrawLostDocument() const { return m_lastDrawLostDocument; }
    // The whole view at 100 % as the engine encodes it: a 24-bit PNG with the very pixels draw()
    // gives, taken in one capture. *png stays empty when the view cannot be taken that way (too
    // large for one capture, reaching below its layout viewport, nothing loaded, or the engine
    // gave another kind of picture): draw() it then. Returns false when the engine failed
    // (the reason is in lastDrawError).
    bool capturePng(QByteArray* png);

    // Input for the live view, in view coordinates; sent without waiting for the engine.
    using MouseButton = browser::MouseButton;
    using MouseAction = browser::MouseAction;
    using Key = KeyInput;
    void sendMouse(MouseAction action, int x, int y, MouseButton button, int buttons, int modifiers,
                   int clickCount);
    void sendWheel(int x, int y, double deltaX, double deltaY, int modifiers);
    void sendKey(const Key& key);

    // The live view: while on, the engine sends a picture of the view (1:1) whenever the page's
    // pixels change, and contentChanged follows each one.
    void setLiveView(bool live);
    bool liveView() const { return m_live; }
    // The latest such picture; null before the first one and while the page is not running.
    QImage liveFrame() const;

    // Starts the engine that the views share, unless it runs already (it otherwise starts with
    // the first page a view makes). Throws BrowserError when it cannot be started.
    static void startEngine();
    // Tells engines apart: it changes when the engine stops or another one starts (-1 while
    // none runs). Never starts one.
    static int runningEngine();
    // Whether engines started from now on draw frames at a display's pace (see Engine): for
    // pictures taken whole, a page after a page, rather than drawn in many captures.
    static void paceEngineFrames(bool paced);

    // Turns what the user typed into the address the engine loads: a plain local path (absolute,
    // or relative to the working directory and existing) becomes a file:// URL; an address with
    // a scheme is kept; anything else is read as a web address. navigate refuses an address
    // whose scheme the engine shows no page for (mailto:, javascript:, an unknown one).
    static QUrl addressToUrl(const QString& address);

  signals:
    void documentComplete(const QString& frameId, const QString& url);
    void contentChanged(); // the page's pixels may have changed (for the live 1:1 view)
    // A draw failed because the page did not answer in time, and now it answers again: what
    // was left undrawn can be drawn. Told at most twice per loaded document, so that a page
    // that is slow every time does not keep the window waiting.
    void answersAgain();

  private:
    // resize(), with the engine drawing only the top shownRows of the layout viewport when that
    // is set (see PageSession::applySize).
    void resize(int width, int height, int layoutHeight, int shownRows);
    // addressToUrl's address, or BrowserError when it cannot be opened or names no page.
    static QUrl urlToOpen(const QString& address);
    QString run(const QString& expression, int timeoutMs, bool ownWorld);
    friend std::size_t engine::heldCaptureBytes(BrowserView*);
    friend QByteArray engine::rawPageCall(BrowserView*, const QString&, const QByteArray&);
    friend void recoverViews();

    std::unique_ptr<PageSession> makePage();
    // The page, made again and loaded again when the engine or its renderer has died since.
    PageSession& page();
    // The page if it runs now; never starts anything.
    PageSession* runningPage();
    // After the engine has died: a new engine, and the page navigated again, so that the view
    // shows it once more.
    void recover();

    QSize layoutSize() const { return {m_size.width(), m_layoutHeight}; }
    void releaseTime();
    // After a draw that ran out of time: watches the page until it answers again.
    void watchForAnswer();

    QSize m_size{initialWidth, initialHeight};
    int m_layoutHeight = initialHeight;
    PdfTrouble m_pdfTrouble = PdfTrouble::None;
    QString m_address;
    QUrl m_url;
    PageSetup m_setup;
    bool m_live = false;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    QString m_lastDrawError;
    bool m_lastDrawLostDocument = false;
    std::uint64_t m_lastDrawTurn = ~std::uint64_t(0); // the event-loop turn of the last draw
    std::unique_ptr<PageSession> m_session;
    InputForwarder m_input;
    QTimer m_idle; // gives back the memory of the last draw once the view has been idle a while
    QTimer m_answerWatch;
    int m_answerWatchTicks = 0;
    int m_redrawsLeft = 2;
    std::uint64_t m_pagesLost = 0;
    bool m_reloadedWithEngine = true;
    // When recover last loaded the page again, and how often in a row the engine went soon after.
    std::optional<std::chrono::steady_clock::time_point> m_lastRecovery;
    int m_quickLosses = 0;
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

} // namespace browser
