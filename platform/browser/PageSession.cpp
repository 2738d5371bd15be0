#include "platform/browser/PageSession.h"

#include "platform/browser/BrowserError.h"
#include "platform/browser/BrowserTesting.h"
#include "platform/browser/CallLimits.h"
#include "platform/browser/Engine.h"
#include "platform/browser/EventLoopTurn.h"
#include "platform/browser/Pixels.h"

#include <QTimer>
#include <algorithm>
#include <limits>
#include <utility>

namespace browser {

namespace {

std::map<std::string, PageSession*>& sessionsById() {
    static std::map<std::string, PageSession*> sessions;
    return sessions;
}

// What the browser itself reports about targets: a page whose target was detached (closed, or
// its renderer gone) is of no more use.
void handleBrowserEvent(const Message& message) {
    const std::string method = message.json.value("method", std::string());
    const Json& params = message.json.contains("params") ? message.json["params"] : Json::object();
    if (method == "Target.targetCreated") {
        // A shared worker belongs to the browser, not to a page; it is the page's whose browser
        // context it runs in.
        const Json& target = params.value("targetInfo", Json::object());
        if (target.value("type", std::string()) != "shared_worker") return;
        const std::string context = target.value("browserContextId", std::string());
        for (const auto& [id, page] : sessionsById())
            if (!context.empty() && page->contextId() == context)
                page->ignoreSharedWorker(target.value("targetId", std::string()));
        return;
    }
    if (method != "Target.detachedFromTarget" && method != "Target.targetCrashed") return;
    const std::string session = params.value("sessionId", std::string());
    const std::string target = params.value("targetId", std::string());
    for (const auto& [id, page] : sessionsById()) {
        if ((!session.empty() && id == session) ||
            (!target.empty() && page->mainFrameId().toStdString() == target)) {
            page->markGoneFromBrowser();
            return;
        }
    }
}

// How long a request that a script made (an XHR, a fetch, a beacon) is waited for. One that the
// server holds open for longer is a long poll or a stream, which would hold every page that
// keeps one until three quarters of its time limit. An answer that takes longer than this is
// waited for by what it shows (velmora-capture's --wait-for).
constexpr auto scriptRequestPatience = std::chrono::seconds(5);
// How long any other request is waited for while nothing comes of it: not an answer, not a byte.
// A download that goes on, however slowly, is waited for as long as the page's requests are.
constexpr auto silentRequestPatience = std::chrono::seconds(10);

template <typename Request, typename TimePoint> bool silent(const Request& request, TimePoint now) {
    return now - request.heard >= silentRequestPatience;
}

// When the engine says a network event happened. Events wait in the queue while the UI thread
// waits on the engine (a capture, another page being opened), so the time they are delivered can
// be long after the fact, and a page that went quiet meanwhile would seem to have just changed.
// The engine stamps them with its monotonic clock, which is the system's, as steady_clock is.
PageSession::Clock::time_point engineTime(const Json& params) {
    const PageSession::Clock::time_point now = PageSession::Clock::now();
    const double seconds = params.value("timestamp", 0.0);
    const auto stamp = PageSession::Clock::time_point(
        std::chrono::duration_cast<PageSession::Clock::duration>(std::chrono::duration<double>(seconds)));
    // A stamp from another clock (far off, or ahead of ours) is not trusted.
    if (stamp > now || now - stamp > std::chrono::minutes(10)) return now;
    return stamp;
}

// Why a navigation the engine has answered went nowhere; empty when it went. An address whose
// answer is a file to save rather than a page (a zip, an attachment) ends as an abort with
// nothing to tell the two apart but the answer's own mark; so does one that the server answers
// without content (204, 205), which leaves the frame where it was, and only the HTTP status of
// the document's request (documentStatus) tells.
QString navigationFailure(const Json& answer, int documentStatus) {
    if (answer.value("isDownload", false))
        return QStringLiteral("the address is a file to download, not a page");
    const std::string error = answer.value("errorText", std::string());
    if (error == "net::ERR_ABORTED" && (documentStatus == 204 || documentStatus == 205))
        return QStringLiteral("the server sent no page, only HTTP status %1").arg(documentStatus);
    return QString::fromStdString(error);
}

} // namespace

std::string PageSession::originOf(const std::string& url) {
    const QUrl u(QString::fromStdString(url));
    const QString scheme = u.scheme().toLower();
    if (scheme == QLatin1String("file")) return "file://";
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) return {};
    QString origin = scheme + QLatin1String("://") + u.host();
    if (u.port() != -1) origin += QLatin1Char(':') + QString::number(u.port());
    return origin.toStdString();
}

PageSession::PageSession(Engine& engine, QSize size, const PageSetup& setup, bool live, Events events)
    : m_engine(&engine), m_generation(engine.generation()), m_events(std::move(events)), m_viewSize(size),
      m_cookies(setup.cookies) {
    Connection& c = engine.connection();
    c.setEventHandler({}, handleBrowserEvent);
    try {
        // A context of its own: its own renderer, cookies and storage, and nothing that an
        // earlier page left running.
        m_contextId = c.call("Target.createBrowserContext", {{"disposeOnDetach", true}}, {}, setUpMs)
                          .json.value("browserContextId", std::string());
        // A page cannot save files: the engine would put them in the user's own folder of
        // downloads, making it if need be.
        c.sendWithoutReply("Browser.setDownloadBehavior",
                           {{"behavior", "deny"}, {"browserContextId", m_contextId}}, {});
        m_targetId = c.call("Target.createTarget",
                            {{"url", "about:blank"}, {"browserContextId", m_contextId}}, {}, setUpMs)
                         .json.value("targetId", std::string());
        m_sessionId =
            c.call("Target.attachToTarget", {{"targetId", m_targetId}, {"flatten", true}}, {}, setUpMs)
                .json.value("sessionId", std::string());
        sessionsById()[m_sessionId] = this;
        engine::countPageMade();
        c.setEventHandler(m_sessionId, [this](const Message& m) { handleEvent(m); });
        // Sent together, and their answers read only when the page next waits for the engine, or
        // when the marker below comes back: the new renderer starts meanwhile, and the caller
        // (the command-line tool opening its next page) goes on with other work.
        std::vector<std::uint64_t>& calls = m_setUpCalls;
        setUp("Page.enable", Json::object(), calls);
        // Tells when the page's renderer dies (Inspector.targetCrashed): killed, out of memory.
        setUp("Inspector.enable", Json::object(), calls);
        setUp("Page.setLifecycleEventsEnabled", {{"enabled", true}}, calls);
        setUp(
            "Emulation.setDeviceMetricsOverride",
            {{"width", size.width()}, {"height", size.height()}, {"deviceScaleFactor", 1}, {"mobile", false}},
            calls);
        if (!setup.userAgent.isEmpty())
            setUp("Emulation.setUserAgentOverride", {{"userAgent", setup.userAgent.toStdString()}}, calls);
        // Requests are followed for every page: a picture waits until none has been under way
        // for a while.
        setUp("Network.enable", Engine::followRequests(), calls);
        setUp("Target.setAutoAttach", Engine::followChildren(), calls);
        {
            Json headers = Json::object();
            for (const auto& [name, value] : setup.headers)
                headers[name.toStdString()] = value.toStdString();
            if (!setup.headers.empty()) setUp("Network.setExtraHTTPHeaders", {{"headers", headers}}, calls);
        }
        if (!setup.media.isEmpty() || !setup.colorScheme.isEmpty()) {
            Json params = {{"media", setup.media.toStdString()}};
            if (!setup.colorScheme.isEmpty())
                params["features"] = Json::array(
                    {{{"name", "prefers-color-scheme"}, {"value", setup.colorScheme.toStdString()}}});
            setUp("Emulation.setEmulatedMedia", params, calls);
        }
        // Answered after the calls above, which are then read and the navigation sent.
        std::weak_ptr<PageSession*> self = m_self;
        c.callAsync("Runtime.evaluate", {{"expression", "0"}}, m_sessionId,
                    [self](const Message*, const QString&) {
                        const auto page = self.lock();
                        if (!page || !*page) return;
                        try {
                            (*page)->finishSetUp();
                        } catch (const BrowserError& e) {
                            (*page)->m_navigationError = e.text();
                        }
                    });
        if (live) setLive(true, size);
    } catch (...) {
        close();
        throw;
    }
}

PageSession::~PageSession() {
    close();
}

void PageSession::setUp(const std::string& method, Json params, std::vector<std::uint64_t>& calls) {
    calls.push_back(send(method, std::move(params), setUpMs));
}

void PageSession::close() noexcept {
    *m_self = nullptr;
    releaseTime();
    if (!m_sessionId.empty()) sessionsById().erase(m_sessionId);
    Engine* e = Engine::current();
    if (!e || e->generation() != m_generation) return;
    Connection& c = e->connection();
    m_cache.abandonAhead(*this);
    for (std::uint64_t id : std::exchange(m_setUpCalls, {}))
        c.abandon(id);
    if (!m_sessionId.empty()) c.removeEventHandler(m_sessionId);
    for (const auto& child : std::exchange(m_children, {}))
        c.removeEventHandler(child.first);
    if (c.closed()) return;
    try {
        // Nobody waits for these: a page that hangs must not hold up the next one. A renderer
        // stuck in a loop does not end by closing its page alone; crashing it frees its core.
        if (m_stalled && !m_sessionId.empty()) c.sendWithoutReply("Page.crash", Json::object(), m_sessionId);
        if (!m_targetId.empty()) c.sendWithoutReply("Target.closeTarget", {{"targetId", m_targetId}}, {});
        if (!m_contextId.empty())
            c.sendWithoutReply("Target.disposeBrowserContext", {{"browserContextId", m_contextId}}, {});
    } catch (...) {
        // The engine is going; whatever is left of the page goes with it.
    }
}

bool PageSession::current() const {
    Engine* e = Engine::current();
    return e && e->generation() == m_generation && !m_gone && e->alive();
}

Connection& PageSession::connection() {
    return m_engine->connection();
}

int PageSession::limitMs(int wantedMs) const {
    if (!m_deadline) return wantedMs;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(*m_deadline - Clock::now()).count();
    if (left <= 0) throw BrowserTimeout(QStringLiteral("The page ran out of time."));
    // A page with a time limit of its own (the command-line tool's) has all of it for every call,
    // captures included: a heavy page or a busy machine answers slowly, and only the page's limit
    // says when that is too slow (a page of megabytes of text was given up while being measured,
    // a second and a half into a minute's limit).
    return int(std::min<long long>(left, std::numeric_limits<int>::max()));
}

std::uint64_t PageSession::send(const std::string& method, Json params, int timeoutMs) {
    if (!current())
        throw BrowserError(m_gone ? QStringLiteral("The page has crashed or was closed.")
                                  : QStringLiteral("The browser engine stopped."));
    if (m_stalled) throw BrowserTimeout(QStringLiteral("The page does not answer."));
    try {
        return connection().send(method, std::move(params), m_sessionId, limitMs(timeoutMs));
    } catch (const BrowserTimeout&) {
        throw;
    } catch (const BrowserError&) {
        throw BrowserError(QStringLiteral("The browser engine stopped."));
    }
}

Message PageSession::wait(std::uint64_t id, const char* doing) {
    finishSetUp();
    return answer(id, doing);
}

void PageSession::finishSetUp() {
    // A page is not navigated before it has taken its set-up: a navigation that overtakes the
    // renderer's own part of it (Page.enable) would never report its load.
    const std::vector<std::uint64_t> calls = std::exchange(m_setUpCalls, {});
    for (std::size_t i = 0; i < calls.size(); ++i)
        try {
            answer(calls[i], "set up");
        } catch (...) {
            for (std::size_t j = i + 1; j < calls.size(); ++j)
                connection().abandon(calls[j]);
            m_pendingUrl.reset();
            throw;
        }
    if (m_pendingUrl) startNavigation(*std::exchange(m_pendingUrl, std::nullopt));
}

Message PageSession::answer(std::uint64_t id, const char* doing) {
    try {
        return connection().wait(id);
    } catch (const BrowserTimeout&) {
        markStalled();
        throw BrowserTimeout(
            QStringLiteral("The page stopped answering while being %1.").arg(QLatin1String(doing)));
    } catch (const BrowserError& e) {
        if (connection().closed()) throw BrowserError(QStringLiteral("The browser engine stopped."));
        // The report of the crash itself comes later, through the event loop.
        if (e.text() == QLatin1String(Connection::pageCrashedText)) m_gone = true;
        if (m_gone) throw BrowserError(QStringLiteral("The page has crashed."));
        // A refusal: the engine's own reason, without the name of the call it refused.
        const QString text = e.text();
        const int colon = text.indexOf(QLatin1String(": "));
        const QString reason = colon >= 0 ? text.mid(colon + 2) : text;
        // The page loaded another document by itself (a script's navigation, a reload) while
        // it was asked: what was asked of it went with the document it was asked of (the world
        // of the program's own scripts too), and a capture is refused while the new document
        // takes the old one's place.
        if (reason.contains(QLatin1String("Inspected target navigated or closed")) ||
            reason.contains(QLatin1String("Execution context was destroyed")) ||
            reason.contains(QLatin1String("Cannot find context with specified id")) ||
            reason.contains(QLatin1String(Connection::documentReplacedText)))
            throw DocumentGone(QStringLiteral("The page went on to another document while being %1.")
                                   .arg(QLatin1String(doing)));
        throw BrowserError(
            QStringLiteral("The browser engine could not do what the page needed: %1").arg(reason));
    }
}

Message PageSession::call(const std::string& method, Json params, int timeoutMs) {
    return wait(send(method, std::move(params), timeoutMs));
}

void PageSession::markStalled() {
    if (m_stalled || !current()) return;
    m_stalled = true;
    if (m_probing) return;
    m_probing = true;
    // The page counts as answering again as soon as it answers anything.
    std::weak_ptr<PageSession*> self = m_self;
    connection().callAsync("Runtime.evaluate", {{"expression", "0"}}, m_sessionId,
                           [self](const Message* result, const QString&) {
                               const auto page = self.lock();
                               if (!page || !*page) return;
                               (*page)->m_probing = false;
                               if (result) (*page)->m_stalled = false;
                           });
}

void PageSession::markGoneFromBrowser() {
    m_gone = true;
    m_liveFrame = QImage();
    if (m_events.contentChanged) m_events.contentChanged();
}

Json PageSession::cookiesFor(const QUrl& url) const {
    Json cookies = Json::array();
    for (const auto& [name, value] : m_cookies)
        cookies.push_back({{"name", name.toStdString()},
                           {"value", value.toStdString()},
                           {"url", url.toString(QUrl::FullyEncoded).toStdString()}});
    return cookies;
}

int PageSession::documentStatus(const Json& navigateAnswer) const {
    const std::string loader = navigateAnswer.value("loaderId", std::string());
    return !loader.empty() && loader == m_documentRequest ? m_documentStatus : 0;
}

void PageSession::navigate(const QUrl& url) {
    if (!m_cookies.empty()) call("Network.setCookies", {{"cookies", cookiesFor(url)}});
    forgetScroll();
    m_loaded = false;
    m_navigationError.clear();
    m_documentStatus = 0;
    m_wipeFailed = false;
    ++m_navigation;
    if (!current()) throw BrowserError(QStringLiteral("The browser engine stopped."));
    // Sent once the page has taken its set-up (see finishSetUp).
    m_pendingUrl = url;
    if (m_setUpCalls.empty()) finishSetUp();
}

void PageSession::startNavigation(const QUrl& url) {
    const std::uint64_t navigation = m_navigation;
    std::weak_ptr<PageSession*> self = m_self;
    connection().callAsync("Page.navigate", {{"url", url.toString(QUrl::FullyEncoded).toStdString()}},
                           m_sessionId, [self, navigation](const Message* result, const QString& error) {
                               const auto page = self.lock();
                               if (!page || !*page || (*page)->m_navigation != navigation) return;
                               if (result) {
                                   (*page)->m_navigationError =
                                       navigationFailure(result->json, (*page)->documentStatus(result->json));
                               } else if (!error.isEmpty() && (*page)->m_navigationError.isEmpty()) {
                                   (*page)->m_navigationError = error;
                               }
                           });
}

void PageSession::noteRequest(const std::string& method, const Json& params, const std::string& sessionId) {
    const std::string id = params.value("requestId", std::string());
    if (method == "Network.requestWillBeSent") {
        // A redirect keeps its id and its first report. An event stream stays open for as long
        // as the page lives, and the download of a video or a sound for as long as it plays, or
        // is held half way once enough of it is there: neither is waited for (settling waits
        // for a video's frame instead), though their start counts as a change.
        const std::string type = params.value("type", std::string());
        if (type != "EventSource" && type != "Media" && !m_sharedWorkers.count(id)) {
            const Clock::time_point at = engineTime(params);
            const std::string frameId = params.value("frameId", std::string());
            m_requests.emplace(
                id, Request{sessionId, frameId, at, type == "XHR" || type == "Fetch" || type == "Ping", at,
                            params.value("request", Json::object()).value("url", std::string()),
                            type == "Document" && frameId == m_targetId});
        }
    } else if (method == "Network.responseReceived" || method == "Network.dataReceived") {
        // Signs of life only: they change nothing that settling waits for.
        if (const auto it = m_requests.find(id); it != m_requests.end())
            it->second.heard = engineTime(params);
        return;
    } else {
        m_requests.erase(id);
    }
    m_networkChanged = engineTime(params);
}

void PageSession::handleChildEvent(const std::string& sessionId, const Message& message) {
    const std::string method = message.json.value("method", std::string());
    const Json& params = message.json.contains("params") ? message.json["params"] : Json::object();
    if (method == "Network.requestWillBeSent" || method == "Network.loadingFinished" ||
        method == "Network.loadingFailed" || method == "Network.dataReceived") {
        noteRequest(method, params, sessionId);
    } else if (method == "Network.responseReceived") {
        noteRequest(method, params, sessionId);
        // A worker's own script (whose request has the worker's id) has come once its answer is
        // there: the worker runs it then, and one that is busy from its first line never
        // reports the load's end.
        const auto child = m_children.find(sessionId);
        const std::string id = params.value("requestId", std::string());
        if (child != m_children.end() && child->second.worker && id == child->second.targetId &&
            m_requests.erase(id) > 0)
            m_networkChanged = engineTime(params);
    } else if (method == "Target.attachedToTarget") {
        adoptChild(params, sessionId);
    } else if (method == "Target.detachedFromTarget") {
        dropChild(params.value("sessionId", std::string()));
    }
}

void PageSession::adoptChild(const Json& params, const std::string& parentSessionId) {
    // The engine's reader hook has already let it run (Engine::answerAtOnce); its reports
    // come after this one.
    const std::string child = params.value("sessionId", std::string());
    if (child.empty() || !current()) return;
    const Json& target = params.value("targetInfo", Json::object());
    m_children[child] = Child{target.value("targetId", std::string()), parentSessionId,
                              target.value("type", std::string()) == "worker"};
    std::weak_ptr<PageSession*> self = m_self;
    connection().setEventHandler(child, [self, child](const Message& m) {
        const auto page = self.lock();
        if (page && *page) (*page)->handleChildEvent(child, m);
    });
}

std::vector<std::string> PageSession::frameSessions() const {
    std::vector<std::string> frames;
    for (const auto& [session, child] : m_children)
        if (!child.worker && child.parentSessionId == m_sessionId) frames.push_back(session);
    return frames;
}

Message PageSession::callInFrame(const std::string& sessionId, const std::string& method, Json params,
                                 int timeoutMs) {
    if (!current()) throw BrowserError(QStringLiteral("The page has crashed or was closed."));
    return connection().call(method, std::move(params), sessionId, limitMs(timeoutMs));
}

void PageSession::ignoreSharedWorker(const std::string& targetId) {
    if (targetId.empty()) return;
    m_sharedWorkers.insert(targetId);
    if (m_requests.erase(targetId) > 0) m_networkChanged = Clock::now();
}

void PageSession::dropChild(const std::string& sessionId) {
    const auto it = m_children.find(sessionId);
    if (it == m_children.end()) return;
    const Child gone = it->second;
    m_children.erase(it);
    if (current()) connection().removeEventHandler(sessionId);
    // What it was loading, and what its parent started for it (a frame's document, a worker's
    // script), will not be reported any more.
    bool dropped = false;
    for (auto r = m_requests.begin(); r != m_requests.end();) {
        if (r->second.sessionId == sessionId ||
            (!gone.targetId.empty() && (r->second.frameId == gone.targetId || r->first == gone.targetId))) {
            r = m_requests.erase(r);
            dropped = true;
        } else {
            ++r;
        }
    }
    if (dropped) m_networkChanged = Clock::now();
    // Its own frames and workers went with it.
    std::vector<std::string> orphans;
    for (const auto& [id, child] : m_children)
        if (child.parentSessionId == sessionId) orphans.push_back(id);
    for (const std::string& id : orphans)
        dropChild(id);
}

std::size_t PageSession::requestsUnderWay() const {
    const Clock::time_point now = Clock::now();
    std::size_t count = 0;
    for (const auto& [id, request] : m_requests) {
        if (m_loaded && !m_mainLoader.empty() && id == m_mainLoader) continue;
        if (request.byScript && now - request.began >= scriptRequestPatience) continue;
        if (silent(request, now)) continue;
        ++count;
    }
    return count;
}

std::vector<std::string> PageSession::pendingRequests() const {
    std::vector<std::pair<Clock::time_point, std::string>> pending;
    for (const auto& [id, request] : m_requests)
        pending.emplace_back(request.began, request.document ? std::string() : request.url);
    std::stable_sort(pending.begin(), pending.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> urls;
    for (auto& [began, url] : pending)
        urls.push_back(std::move(url));
    return urls;
}

std::vector<std::string> PageSession::stalledRequests() const {
    const Clock::time_point now = Clock::now();
    std::vector<std::string> urls;
    for (const auto& [id, request] : m_requests)
        if (!request.byScript && silent(request, now)) urls.push_back(request.url);
    return urls;
}

void PageSession::navigateAndWait(const QUrl& url, int timeoutMs) {
    m_pendingUrl.reset();
    forgetScroll();
    m_loaded = false;
    m_documentStatus = 0;
    ++m_navigation;
    const Message result =
        call("Page.navigate", {{"url", url.toString(QUrl::FullyEncoded).toStdString()}}, timeoutMs);
    m_navigationError = navigationFailure(result.json, documentStatus(result.json));
    // The document's own request, in case the engine leaves out the frame's report of it.
    if (const std::string loader = result.json.value("loaderId", std::string()); !loader.empty())
        m_mainLoader = loader;
    // The load is waited for in the page itself: the events that tell of it come through the
    // event loop, which does not run here.
    call("Runtime.evaluate",
         {{"expression", "document.readyState === 'complete' ? 0 : new Promise(r => addEventListener('load', "
                         "() => r(0), {once: true}))"},
          {"awaitPromise", true}},
         timeoutMs);
    m_loaded = true;
}

void PageSession::applySize(QSize size, int shownRows) {
    m_viewSize = size;
    forgetScroll();
    if (!current()) return;
    Json metrics = {
        {"width", size.width()}, {"height", size.height()}, {"deviceScaleFactor", 1}, {"mobile", false}};
    // Narrowed in the same call: a size applied first would have the engine set about drawing
    // all of it at once.
    m_narrowed = shownRows > 0 && shownRows < size.height() && !m_live;
    if (m_narrowed)
        metrics["viewport"] = {
            {"x", 0}, {"y", 0}, {"width", size.width()}, {"height", shownRows}, {"scale", 1}};
    // Not waited for: a page that does not answer must not hold the window, and the engine
    // takes the calls of one page in order, so whatever follows sees the new size.
    connection().callAsync("Emulation.setDeviceMetricsOverride", std::move(metrics), m_sessionId);
    if (m_live) {
        // Frames follow the view's size only when the screencast starts.
        m_live = false;
        connection().sendWithoutReply("Page.stopScreencast", Json::object(), m_sessionId);
        setLive(true, size);
    }
}

void PageSession::setLive(bool live, QSize size) {
    if (live == m_live || !current()) return;
    m_live = live;
    if (!live) {
        connection().sendWithoutReply("Page.stopScreencast", Json::object(), m_sessionId);
        m_liveFrame = QImage();
        return;
    }
    // Frames as large as the view: the live view shows them 1:1. The engine sends the next
    // frame only after the last one was acknowledged, which happens when it is delivered, so a
    // busy UI thread is never flooded.
    connection().callAsync(
        "Page.startScreencast",
        {{"format", "png"}, {"maxWidth", size.width()}, {"maxHeight", size.height()}, {"everyNthFrame", 1}},
        m_sessionId);
    requestLiveFrame();
}

void PageSession::requestLiveFrame() {
    // A page that has finished drawing sends no frame until something changes on it: a picture
    // is asked for, unless a frame comes first.
    const std::uint64_t frames = m_liveFrames;
    std::weak_ptr<PageSession*> self = m_self;
    connection().callAsync("Page.captureScreenshot", {{"format", "png"}, {"optimizeForSpeed", true}},
                           m_sessionId, [self, frames](const Message* result, const QString&) {
                               const auto page = self.lock();
                               if (!result || !page || !*page) return;
                               PageSession& s = **page;
                               if (!s.m_live || s.m_liveFrames != frames) return;
                               std::string data = result->data.empty()
                                                      ? result->json.value("data", std::string())
                                                      : result->data;
                               s.showLiveFrame(data);
                           });
}

void PageSession::showLiveFrame(std::string& data) {
    Picture24 pixels;
    if (!decodeBase64InPlace(data) ||
        !decodePng(reinterpret_cast<std::uint8_t*>(data.data()), data.size(), pixels, nullptr))
        return;
    // Right after a resize the engine may still send the old layout squeezed to the new size;
    // only a picture of the view as it is, 1:1, is shown.
    if (QSize(pixels.width, pixels.height) != m_viewSize) return;
    QImage frame(pixels.width, pixels.height, QImage::Format_RGB32);
    if (frame.isNull()) return;
    for (int y = 0; y < pixels.height; ++y) {
        const std::uint8_t* s = pixels.row(y);
        auto* d = reinterpret_cast<std::uint32_t*>(frame.scanLine(y));
        for (int x = 0; x < pixels.width; ++x, s += 3)
            d[x] = 0xFF000000u | std::uint32_t(s[2]) << 16 | std::uint32_t(s[1]) << 8 | s[0];
    }
    m_liveFrame = std::move(frame);
    if (m_events.contentChanged) m_events.contentChanged();
}

ScrollQuery PageSession::scrollQuery() {
    ScrollQuery query;
    query.guess = m_scroll;
    query.generation = eventLoopGeneration();
    query.known = query.generation == m_scrollGeneration;
    return query;
}

void PageSession::askScroll(ScrollQuery& query) {
    if (!query.known && !query.id) query.id = send("Page.getLayoutMetrics", Json::object());
}

QPointF PageSession::settleScroll(ScrollQuery& query) {
    if (query.known) return m_scroll;
    askScroll(query);
    const Json metrics = wait(std::exchange(query.id, 0), "measured").json;
    const Json viewport = metrics.value("cssVisualViewport", Json::object());
    m_scroll = QPointF(viewport.value("pageX", 0.0), viewport.value("pageY", 0.0));
    m_scrollGeneration = query.generation;
    query.known = true;
    return m_scroll;
}

void PageSession::abandonScroll(ScrollQuery& query) {
    if (query.id && current()) connection().abandon(std::exchange(query.id, 0));
}

void PageSession::forgetScroll() {
    m_scrollGeneration = ~std::uint64_t(0);
    m_cache.forget();
}

std::uint64_t PageSession::sendCapture(const CaptureRegion& r, double scale, QPointF scroll) {
    // Clip in document coordinates; dividing the device position by the scale, and nothing
    // else, keeps captures that meet exactly adjacent.
    const Json clip = {{"x", scroll.x() + double(r.x0) / scale},
                       {"y", scroll.y() + double(r.y0) / scale},
                       {"width", double(r.width()) / scale},
                       {"height", double(r.height()) / scale},
                       {"scale", scale}};
    const int limit = captureLimitMs(r.width() * r.height());
    showOnly(clip, scale, limit);
    engine::countScreenshot();
    Json params = {{"format", "png"}, {"clip", clip}, {"optimizeForSpeed", true}};
    if (m_beyondViewport) params["captureBeyondViewport"] = true;
    return send("Page.captureScreenshot", std::move(params), limit);
}

Message PageSession::waitCapture(std::uint64_t id) {
    finishSetUp();
    // A page with a time limit of its own gave every capture all of it already.
    if (m_deadline || !current()) return answer(id, "captured");
    constexpr int stepMs = 1000;
    std::optional<Clock::time_point> until;
    while (!connection().awaitWithinLimit(id)) {
        const auto now = Clock::now();
        if (!until) until = now + std::chrono::milliseconds(engine::callTimeoutMs());
        if (now >= *until) {
            connection().abandon(id);
            throw BrowserTimeout(
                QStringLiteral("The page took longer than %1 seconds to draw while being captured, though "
                               "it still answered: it may be too heavy to draw at this size.")
                    .arg(engine::callTimeoutMs() / 1000.0, 0, 'g', 3));
        }
        try {
            connection().call("Runtime.evaluate", {{"expression", "0"}}, m_sessionId, stepMs);
        } catch (const BrowserError&) {
            // Not answering (or gone): the capture fails as any call of a page that stopped.
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(*until - Clock::now()).count();
        connection().extendLimit(id, int(std::clamp<long long>(left, 1, stepMs)));
    }
    return answer(id, "captured");
}

void PageSession::showOnly(const Json& clip, double scale, int timeoutMs) {
    // A view drawn beyond its layout viewport is as large as its document: it is always narrowed.
    const double shown = double(m_viewSize.width()) * double(m_viewSize.height()) * scale * scale;
    m_largeView = shown > double(engine::wholeViewPixels());
    if (!m_beyondViewport && !m_largeView) {
        if (m_narrowed) showWholeView();
        return;
    }
    // The page does not see this: its layout, scroll offset and viewport units stay. Waited for,
    // so that a capture is never made of a view that was not narrowed.
    call("Emulation.setDeviceMetricsOverride",
         {{"width", m_viewSize.width()},
          {"height", m_viewSize.height()},
          {"deviceScaleFactor", 1},
          {"mobile", false},
          {"viewport", clip}},
         timeoutMs);
    engine::countNarrowedCapture();
    if (std::exchange(m_narrowed, true)) return;
    // The whole view again once the picture is done: the live view and anything else that
    // shows the page see all of it. The pieces of a picture are drawn in one event-loop turn.
    std::weak_ptr<PageSession*> self = m_self;
    QTimer::singleShot(0, [self] {
        const auto page = self.lock();
        if (page && *page) (*page)->showWholeView();
    });
}

void PageSession::showWholeView() {
    if (!std::exchange(m_narrowed, false) || !current()) return;
    connection().callAsync("Emulation.setDeviceMetricsOverride",
                           {{"width", m_viewSize.width()},
                            {"height", m_viewSize.height()},
                            {"deviceScaleFactor", 1},
                            {"mobile", false}},
                           m_sessionId);
}

void PageSession::holdTime() {
    if (m_pauseCall) return;
    std::vector<std::uint64_t> calls;
    calls.push_back(send("Animation.enable", Json::object()));
    calls.push_back(send("Animation.setPlaybackRate", {{"playbackRate", 0}}));
    calls.push_back(send("Debugger.enable", Json::object()));
    for (std::uint64_t id : calls)
        wait(id, "held still");
    // A script that stops in the debugger holds the page's timers and frame callbacks; the
    // engine goes on answering and drawing meanwhile. Its answer comes only when the page runs
    // again, and nobody waits for it.
    m_pauseCall = send("Runtime.evaluate", {{"expression", "debugger"}}, engine::callTimeoutMs());
    // Answered from inside the pause: once this is back, the page stands still.
    call("Runtime.evaluate", {{"expression", "0"}});
}

void PageSession::releaseTime() {
    if (!m_pauseCall) return;
    const std::uint64_t pause = std::exchange(m_pauseCall, 0);
    if (!current()) return;
    try {
        connection().abandon(pause);
        connection().sendWithoutReply("Debugger.resume", Json::object(), m_sessionId);
        connection().sendWithoutReply("Debugger.disable", Json::object(), m_sessionId);
        connection().sendWithoutReply("Animation.setPlaybackRate", {{"playbackRate", 1}}, m_sessionId);
        connection().sendWithoutReply("Animation.disable", Json::object(), m_sessionId);
    } catch (const BrowserError&) {
        // The engine is going; the page goes with it.
    }
}

int PageSession::captureLimitMs(std::int64_t pixels) const {
    // (A page with a time limit of its own has all of it, as for every call: see limitMs.)
    // The engine draws some two million pixels a second here even on a busy machine; a capture
    // that takes longer is waited for only while the page answers (see waitCapture), so that one
    // of a page that has stopped fails soon after this.
    if (const int set = engine::captureLimitMs()) return std::min(set, engine::callTimeoutMs());
    const std::int64_t ms = quickMs + pixels / 2000;
    return int(std::min<std::int64_t>(ms, engine::callTimeoutMs()));
}

void PageSession::handleEvent(const Message& message) {
    const std::string method = message.json.value("method", std::string());
    const Json& params = message.json.contains("params") ? message.json["params"] : Json::object();
    if (method == "Page.frameNavigated") {
        const Json& frame = params.value("frame", Json::object());
        // An error page stands for the address that failed, as the user typed it.
        std::string url = frame.value("unreachableUrl", std::string());
        if (url.empty()) url = frame.value("url", std::string()) + frame.value("urlFragment", std::string());
        const std::string id = frame.value("id", std::string());
        const std::string origin = frame.value("securityOrigin", std::string());
        if (id == m_targetId) {
            m_mainLoader = frame.value("loaderId", std::string());
            // The blank document between two pages is nobody's.
            if (m_wiping || (!m_blankLoader.empty() && m_mainLoader == m_blankLoader)) return;
            m_mainOrigin = origin;
            ++m_documentsShown;
        } else if (!origin.empty() && origin != "null" && origin != m_mainOrigin) {
            m_foreign = true;
        }
        if (!origin.empty() && origin != "null") m_origins.insert(origin);
        m_frameUrls[id] = QString::fromStdString(url);
        if (id != m_targetId && frame.value("mimeType", std::string()) == "application/pdf")
            m_pdfFrames.insert(id);
        else
            m_pdfFrames.erase(id);
        forgetScroll();
    } else if (method == "Page.frameStoppedLoading") {
        // Frames whose navigation we did not see (the blank page a page starts with) are not
        // reported.
        const std::string frameId = params.value("frameId", std::string());
        if (frameId == m_targetId && (m_wiping || (!m_blankLoader.empty() && m_mainLoader == m_blankLoader)))
            return;
        auto it = m_frameUrls.find(frameId);
        if (it == m_frameUrls.end()) return;
        if (frameId == m_targetId) {
            m_loaded = true;
            // The finished page may have drawn its last frame while the view was being resized.
            if (m_live) requestLiveFrame();
        }
        const QString url = it->second;
        // A receiver may delete the view, and this page with it.
        std::weak_ptr<PageSession*> self = m_self;
        const bool live = m_live;
        if (m_events.documentComplete) m_events.documentComplete(QString::fromStdString(frameId), url);
        const auto alive = self.lock();
        if (alive && *alive && !live && m_events.contentChanged) m_events.contentChanged();
    } else if (method == "Network.requestWillBeSent") {
        noteRequest(method, params, m_sessionId);
        // A frame of another origin is seen here even when it lives in a renderer of its own
        // and is gone again by the time the page is wiped.
        if (params.value("type", std::string()) == "Document" &&
            params.value("frameId", std::string()) != m_targetId) {
            const std::string origin =
                originOf(params.value("request", Json::object()).value("url", std::string()));
            if (!origin.empty() && origin != m_mainOrigin) m_foreign = true;
        }
    } else if (method == "Network.loadingFinished" || method == "Network.loadingFailed" ||
               method == "Network.dataReceived") {
        noteRequest(method, params, m_sessionId);
    } else if (method == "Network.responseReceived") {
        noteRequest(method, params, m_sessionId);
        const Json& response = params.value("response", Json::object());
        if (params.value("type", std::string()) == "Document" &&
            params.value("frameId", std::string()) == m_targetId &&
            response.value("url", std::string()).rfind("http", 0) == 0) {
            m_documentRequest = params.value("requestId", std::string());
            m_documentStatus = response.value("status", 0);
        }
    } else if (method == "Target.attachedToTarget") {
        adoptChild(params, m_sessionId);
    } else if (method == "Target.detachedFromTarget") {
        dropChild(params.value("sessionId", std::string()));
    } else if (method == "Page.frameDetached") {
        m_frameUrls.erase(params.value("frameId", std::string()));
        m_pdfFrames.erase(params.value("frameId", std::string()));
    } else if (method == "Inspector.targetCrashed" || method == "Inspector.detached") {
        markGoneFromBrowser();
    } else if (method == "Page.screencastFrame") {
        connection().sendWithoutReply("Page.screencastFrameAck",
                                      {{"sessionId", params.value("sessionId", 0)}}, m_sessionId);
        if (!m_live) return;
        ++m_liveFrames;
        std::string data = message.data.empty() ? params.value("data", std::string()) : message.data;
        showLiveFrame(data);
    }
}

} // namespace browser
