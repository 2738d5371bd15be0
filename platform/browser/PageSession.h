// One page of the engine: a target in a browser context of its own, so that whatever an earlier
// page did (hung, looped, crashed its renderer, filled its memory) cannot reach it. A view makes
// a new one for each navigation and closes the old one without waiting for it, or, where pages
// follow each other in numbers (the command-line tool), wipes one that ended well and loads the
// next page in it, which saves a new renderer and browser context each time.
#pragma once

#include "platform/browser/CaptureCache.h"
#include "platform/browser/CaptureTypes.h"
#include "platform/browser/Connection.h"
#include "platform/browser/PageSetup.h"

#include <QImage>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QUrl>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace browser {

class Engine;

class PageSession {
  public:
    using Clock = std::chrono::steady_clock;
    struct Events {
        std::function<void(const QString& frameId, const QString& url)> documentComplete;
        std::function<void()> contentChanged;
    };

    // How long an ordinary call may keep the UI thread waiting: a page that takes longer is
    // taken as not answering, and the window stays responsive.
    static constexpr int quickMs = 1500;
    // How long the engine may take to make a new page and its renderer. That is the engine's work,
    // not the page's: just after the engine started, or on a busy machine, it takes seconds.
    static constexpr int setUpMs = 10000;

    // Makes the page (about:blank) at size, with setup applied. Throws BrowserError.
    PageSession(Engine& engine, QSize size, const PageSetup& setup, bool live, Events events);
    ~PageSession();
    PageSession(const PageSession&) = delete;
    PageSession& operator=(const PageSession&) = delete;

    // On the running engine, attached, and its renderer neither crashed nor closed.
    bool current() const;
    // The renderer crashed or the page was closed.
    bool gone() const { return m_gone; }
    // A call ran out of time and no answer has come since: calls fail at once until one does.
    bool stalled() const { return m_stalled; }
    Connection& connection();
    const std::string& id() const { return m_sessionId; }
    // The main frame's id: the target's own.
    QString mainFrameId() const { return QString::fromStdString(m_targetId); }

    // Every call after this ends by the deadline at the latest (a page's whole time limit).
    void setDeadline(std::optional<Clock::time_point> deadline) { m_deadline = deadline; }
    // wantedMs without a deadline; with one, all that is left before it (the page's limit alone
    // says when it is too slow). Throws when nothing is left.
    int limitMs(int wantedMs) const;
    // A call on the page, answered within limit; throws BrowserError in plain words.
    Message call(const std::string& method, Json params = Json::object(), int timeoutMs = quickMs);
    // Sends a call to be waited for later, with the same limits.
    std::uint64_t send(const std::string& method, Json params, int timeoutMs = quickMs);
    // Waits for a call sent earlier; doing says what the page was doing ("captured", "loaded"),
    // for the message when it does not answer.
    Message wait(std::uint64_t id, const char* doing = "asked");

    // Hands the address over; the answer and the load arrive through the event loop.
    void navigate(const QUrl& url);
    // navigate(), in this page made as good as new, keeping its renderer and context: the
    // document goes (to about:blank, so that none of its scripts runs any more), then every
    // cookie of the context and the storage of every origin the page had (local and session
    // storage, databases, caches, service workers), then the address is loaded. All of that
    // goes on through the event loop; what fails ends in navigationError. Returns false, having
    // changed nothing, when the page cannot be wiped surely: it opened windows, had frames or
    // workers of another origin (whose storage is kept apart per top-level site), is under a
    // capture, held, live or not answering. The caller then makes a fresh page.
    bool navigateWiped(const QUrl& url);
    // Navigates and waits (without the event loop) until the document has loaded.
    void navigateAndWait(const QUrl& url, int timeoutMs);
    // The engine's reason when the last navigation could not load (its own error page shows).
    QString navigationError() const { return m_navigationError; }
    // The HTTP status of the main frame's last document answer since the address was given (a
    // page that went on by itself: the document it went to); 0 before one came, and for
    // documents that do not come over HTTP (files, data:).
    int documentHttpStatus() const { return m_documentStatus; }
    // The sessions of the page's frames that are followed (those of other sites, and the engine's
    // PDF viewer), directly in its main frame.
    std::vector<std::string> frameSessions() const;
    // The page's frames (iframes, embeds) that show a PDF, and whether there are any.
    bool framesShowPdf() const { return !m_pdfFrames.empty(); }
    const std::set<std::string>& pdfFrames() const { return m_pdfFrames; }
    // A call in one of the page's followed frames (one of frameSessions), within the page's time
    // like the page's own calls.
    Message callInFrame(const std::string& sessionId, const std::string& method, Json params, int timeoutMs);
    // The last navigation was navigateWiped's, and the page before could not be cleared away:
    // nothing of the address was loaded, and this page is not to be used again.
    bool wipeFailed() const { return m_wipeFailed; }
    // The main frame has stopped loading since the last navigation.
    bool loaded() const { return m_loaded; }
    // Documents the main frame has shown (committed), the page's own navigations included: one
    // that goes on by itself (a redirect by script, a followed link) counts up.
    std::uint64_t documentsShown() const { return m_documentsShown; }

    // Requests of the page under way now, and when that last changed (as far as the event loop
    // has delivered the engine's reports). The main document's own request is over once the
    // page has loaded, whether or not the engine said so: after a renderer has been replaced it
    // can leave out that report (and those of the first requests after it). A request a script
    // made that has been under way for some seconds is a long poll or a stream, not part of the
    // picture, and is not counted.
    std::size_t requestsUnderWay() const;
    // Addresses of the requests under way that have shown no sign of life for a long while (a
    // server that holds them, a host that never answers): they are not waited for.
    std::vector<std::string> stalledRequests() const;
    // Addresses of all requests under way, the oldest first; the main frame's document is "".
    std::vector<std::string> pendingRequests() const;
    Clock::time_point networkChanged() const { return m_networkChanged; }

    // The layout viewport, without waiting for the engine. With shownRows set, the engine draws
    // only the viewport's top rows (the page sees no change) until the size is applied again:
    // for a viewport made as tall as the document for a moment, drawing all of it would cost
    // about as much as a capture of the whole page, for frames that nobody sees.
    void applySize(QSize size, int shownRows = 0);
    // The view reaches below the layout viewport (a whole-page picture whose viewport-relative
    // layout keeps the height given): captures then draw beyond the viewport.
    void setBeyondViewport(bool beyond) { m_beyondViewport = beyond; }

    // Holds the page's time while a picture is taken in pieces: animations and transitions stop
    // and the page's script is paused, so that no timer or frame callback runs between the
    // pieces; the engine still draws. Throws BrowserError when the page does not answer.
    void holdTime();
    // Lets time run again; nothing is waited for.
    void releaseTime();
    bool timeHeld() const { return m_pauseCall != 0; }
    void setLive(bool live, QSize size);
    QImage liveFrame() const { return m_liveFrame; }

    // The scroll offset, read once per event-loop turn (see ScrollQuery).
    ScrollQuery scrollQuery();
    void askScroll(ScrollQuery& query);
    QPointF settleScroll(ScrollQuery& query);
    void abandonScroll(ScrollQuery& query);
    void forgetScroll();

    // Asks for a capture of region (at scale, the page scrolled to scroll); returns the call.
    // Throws BrowserError when the engine cannot show the region alone (see maxWholeViewPixels).
    std::uint64_t sendCapture(const CaptureRegion& region, double scale, QPointF scroll);
    // Waits for a capture sent earlier. One that takes longer than its limit is waited for as
    // long as the page goes on answering, up to the engine-wide limit of a call more: a page
    // whose layers are slow to draw (large filters, a busy machine) answers at once meanwhile,
    // and is slow rather than stuck.
    Message waitCapture(std::uint64_t id);
    // The latest capture was of a view larger than the engine keeps drawn whole: it showed only
    // the captured area, whose raster may still have been under way (see waitDrawn).
    bool largeView() const { return m_largeView; }
    // How long a capture of so many pixels may take before the page is asked whether it still
    // answers: a second and a half, and more for a large picture, which the engine draws first.
    int captureLimitMs(std::int64_t pixels) const;

    CaptureCache& cache() { return m_cache; }

    // The browser reports the page's target gone.
    void markGoneFromBrowser();
    // The browser reports a shared worker made in the page's browser context. The page sees the
    // request for its script start but not end (that is reported to the worker, which belongs to
    // the browser), so that request is not waited for.
    const std::string& contextId() const { return m_contextId; }
    void ignoreSharedWorker(const std::string& targetId);

  private:
    void handleEvent(const Message& message);
    // The requests of the page's frames of other sites and of its workers, each of which the
    // engine reports to a session of its own (the page's session sees only their start).
    void handleChildEvent(const std::string& sessionId, const Message& message);
    void noteRequest(const std::string& method, const Json& params, const std::string& sessionId);
    void adoptChild(const Json& params, const std::string& parentSessionId);
    void dropChild(const std::string& sessionId);
    void markStalled();
    // Reads the answers to the page's set-up and sends the navigation that waited for it.
    void finishSetUp();
    void startNavigation(const QUrl& url);
    // The HTTP status of the document a navigation asked for, 0 when its answer is not known.
    int documentStatus(const Json& navigateAnswer) const;
    // wait() without finishing the set-up first.
    Message answer(std::uint64_t id, const char* doing);
    void setUp(const std::string& method, Json params, std::vector<std::uint64_t>& calls);
    void showLiveFrame(std::string& base64Png);
    void requestLiveFrame();
    void showOnly(const Json& clip, double scale, int timeoutMs);
    void showWholeView();
    void close() noexcept;
    enum class WipeStep { Blank, Gone, Traces, Navigate, Load };
    // One step of navigateWiped, the next sent once it is answered.
    void wipeStep(WipeStep step, const QUrl& url, int attempt);
    // Ends the wipe: the page's navigation fails with error, and its view is not to be reused.
    void failWipe(const QString& error);
    Json cookiesFor(const QUrl& url) const;
    // The origin whose storage a document at url uses, as the engine writes origins; empty for
    // addresses without one of their own (about:, data:, blob:).
    static std::string originOf(const std::string& url);

    Engine* m_engine;
    int m_generation;
    Events m_events;
    QSize m_viewSize;
    std::string m_contextId;
    std::string m_targetId;
    std::string m_sessionId;
    bool m_gone = false;
    bool m_stalled = false;
    bool m_probing = false;
    bool m_live = false;
    bool m_loaded = false;
    bool m_beyondViewport = false;
    bool m_narrowed = false; // the engine shows only part of the view (a capture's, or the top)
    bool m_largeView = false;
    std::vector<std::uint64_t> m_setUpCalls; // sent when the page was made, answers not yet read
    std::optional<QUrl> m_pendingUrl;        // a navigation waiting for the set-up
    std::uint64_t m_pauseCall = 0;           // the script call that stands paused while time is held
    std::uint64_t m_documentsShown = 0;      // the main frame's documents, its own navigations' too
    std::uint64_t m_navigation = 0;          // counts navigations; answers to older ones are dropped
    QString m_navigationError;
    // The main frame's last document answer over HTTP: its request and status.
    std::string m_documentRequest;
    int m_documentStatus = 0;
    std::optional<Clock::time_point> m_deadline;
    std::vector<std::pair<QString, QString>> m_cookies;
    std::map<std::string, QString> m_frameUrls;
    std::set<std::string> m_pdfFrames; // child frames whose document is a PDF
    // Requests under way, by id: the session that reported them and their frame.
    struct Request {
        std::string sessionId;
        std::string frameId;
        Clock::time_point began;
        bool byScript = false;   // an XHR, a fetch or a beacon
        Clock::time_point heard; // its last sign of life: sent, answered, or data come
        std::string url;
        bool document = false; // the main frame's document
    };
    std::map<std::string, Request> m_requests;
    // Sessions of the page's frames and workers that are followed, with their target and the
    // session they belong to.
    struct Child {
        std::string targetId;
        std::string parentSessionId;
        bool worker = false;
    };
    std::map<std::string, Child> m_children;
    std::set<std::string> m_sharedWorkers; // their ids, which their scripts' requests have
    // The origins whose storage the page may have used, and whether it had a frame of an origin
    // other than its main frame's (whose storage a wipe cannot reach surely).
    std::set<std::string> m_origins;
    std::string m_mainOrigin;
    bool m_foreign = false;
    // The main frame's latest document, and the blank one navigateWiped put there: its load is not a
    // page's.
    std::string m_mainLoader;
    std::string m_blankLoader;
    bool m_wiping = false; // between navigateWiped and the navigation it makes
    bool m_wipeFailed = false;
    std::uint64_t m_wipeCall = 0; // counts the wipe's steps: an answer to an earlier one is dropped
    WipeStep m_wipeAt = WipeStep::Blank;
    Clock::time_point m_networkChanged = Clock::now();
    std::uint64_t m_scrollGeneration = ~std::uint64_t(0);
    QPointF m_scroll;
    QImage m_liveFrame;
    std::uint64_t m_liveFrames = 0; // screencast frames shown so far
    CaptureCache m_cache;
    // Lets answers that arrive after the page has gone find that out.
    std::shared_ptr<PageSession*> m_self = std::make_shared<PageSession*>(this);
};

} // namespace browser
