#include "platform/browser/BrowserView.h"

#include "platform/browser/Engine.h"
#include "platform/browser/PageSession.h"
#include "platform/browser/PicturePut.h"
#include "platform/browser/Pixels.h"
#include "platform/browser/TiledCapture.h"
#include "platform/memory/PixelMemory.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

namespace browser {

namespace {

std::set<BrowserView*>& views() {
    static std::set<BrowserView*> all;
    return all;
}

bool putWhite(gdi::HDC dc, std::int64_t x, std::int64_t y, int width, int height) {
    Picture24 white;
    if (!white.resize(width, height)) return false;
    std::memset(white.bytes.get(), 0xFF, white.stride * std::size_t(height));
    return putPicture(dc, x, y, white, 0, 0, width, height);
}

// Schemes whose addresses name something other than a page: the engine hands them to another
// program (mail, telephone), runs them in the page before (javascript:) or no longer loads them
// (ftp:), and says no more than net::ERR_ABORTED. They read like host:port when a number
// follows ("tel:123", "javascript:1").
bool isPagelessScheme(const QString& scheme) {
    static const QStringList pageless = {
        QStringLiteral("javascript"), QStringLiteral("mailto"), QStringLiteral("tel"), QStringLiteral("sms"),
        QStringLiteral("ftp"),        QStringLiteral("ws"),     QStringLiteral("wss")};
    return pageless.contains(scheme.toLower());
}

// Why the engine shows no page for url; empty when it may. Only the schemes the engine draws
// itself pass; any other goes out of the engine or nowhere.
QString unshownAddress(const QString& address, const QUrl& url) {
    static const QStringList shown = {QStringLiteral("http"),
                                      QStringLiteral("https"),
                                      QStringLiteral("file"),
                                      QStringLiteral("data"),
                                      QStringLiteral("about"),
                                      QStringLiteral("chrome"),
                                      QStringLiteral("view-source"),
                                      QStringLiteral("blob"),
                                      QStringLiteral("filesystem"),
                                      QStringLiteral("devtools"),
                                      QStringLiteral("chrome-untrusted")};
    const QString scheme = url.scheme().toLower();
    if (shown.contains(scheme)) return {};
    return QStringLiteral("\"%1\" is not the address of a page: the browser engine shows no page for %2: "
                          "addresses.")
        .arg(address.trimmed(), scheme);
}

} // namespace

// Told by the engine's connection when it has closed: every view that showed a page gets it back
// on a new engine, through the event loop (the connection is still being torn down here), unless
// it waits to be asked.
void recoverViews() {
    for (BrowserView* view : views())
        if (view->m_reloadedWithEngine)
            QTimer::singleShot(0, view, [v = QPointer<BrowserView>(view)] {
                if (v) v->recover();
            });
}

BrowserView::BrowserView(QObject* parent) : QObject(parent), m_input([this] { return runningPage(); }) {
    views().insert(this);
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (m_session) m_session->cache().release();
        // The strips and pictures of the last capture, kept for the next one.
        pixmem::dropKeptPixelMemory();
    });
    m_answerWatch.setInterval(100);
    connect(&m_answerWatch, &QTimer::timeout, this, [this] {
        // Given up on after a minute: a page that hangs for good is left as it is.
        if (!m_session || !m_session->current() || ++m_answerWatchTicks > 600) {
            m_answerWatch.stop();
        } else if (!m_session->stalled()) {
            m_answerWatch.stop();
            emit answersAgain();
        }
    });
}

BrowserView::~BrowserView() {
    views().erase(this);
    m_session.reset();
}

std::unique_ptr<PageSession> BrowserView::makePage() {
    PageSession::Events events;
    events.documentComplete = [this](const QString& frameId, const QString& url) {
        m_redrawsLeft = 2;
        emit documentComplete(frameId, url);
    };
    events.contentChanged = [this] { emit contentChanged(); };
    for (int attempt = 0;; ++attempt) {
        // An engine that died may be found dead here before its connection has told anyone: the
        // views of its pages are then made again on the new one all the same, as they are when
        // it tells (a page loading ahead would otherwise wait for a load that never comes).
        Engine* before = Engine::current();
        const bool replacing = before && !before->alive();
        Engine& engine = Engine::shared();
        if (replacing) recoverViews();
        engine.connection().setClosedHandler(recoverViews);
        try {
            auto page = std::make_unique<PageSession>(engine, layoutSize(), m_setup, m_live, events);
            page->setDeadline(m_deadline);
            page->setBeyondViewport(m_size.height() > m_layoutHeight);
            return page;
        } catch (const BrowserTimeout&) {
            // The engine itself does not answer (a page can hold up its browser process, say
            // with a file that never ends): a new one serves the next page.
            if (attempt > 0 || (m_deadline && std::chrono::steady_clock::now() >= *m_deadline)) throw;
            if (m_session) m_session.reset();
            Engine::shutdown();
        }
    }
}

void BrowserView::startEngine() {
    Engine::shared().connection().setClosedHandler(recoverViews);
}

int BrowserView::runningEngine() {
    Engine* engine = Engine::current();
    return engine && engine->alive() ? engine->generation() : -1;
}

void BrowserView::paceEngineFrames(bool paced) {
    Engine::setFramesPaced(paced);
}

std::uint64_t BrowserView::documentsShown() const {
    // A page made again after its engine or renderer went starts counting anew.
    return m_session ? m_session->documentsShown() + m_pagesLost : 0;
}

std::uint64_t BrowserView::pagesLost() const {
    return m_pagesLost + (m_session && !m_session->current() ? 1 : 0);
}

bool BrowserView::answersWithin(std::chrono::milliseconds span) {
    const auto until = std::chrono::steady_clock::now() + span;
    for (;;) {
        const PageSession* page = runningPage();
        if (!page) return false;
        if (!page->stalled()) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

PageSession* BrowserView::runningPage() {
    if (m_session && m_session->current()) return m_session.get();
    return nullptr;
}

PageSession& BrowserView::page() {
    if (m_session && m_session->current()) return *m_session;
    // The engine or the page's renderer has died since: a new page shows the address again,
    // loaded before anything is drawn from it.
    if (m_session) ++m_pagesLost;
    m_session.reset();
    m_session = makePage();
    if (!m_url.isEmpty()) m_session->navigateAndWait(m_url, m_session->limitMs(engine::callTimeoutMs()));
    return *m_session;
}

void BrowserView::recover() {
    if (m_address.isEmpty() || runningPage()) return;
    // An engine that went again soon after the page was loaded on it, twice over, may be taken
    // down by the page itself (an address the engine cannot show without going down): loading
    // it again by itself would start engines without end. The view is left without a page; the
    // next operation that needs it tries once more and says what goes wrong.
    const auto now = std::chrono::steady_clock::now();
    m_quickLosses =
        m_lastRecovery && now - *m_lastRecovery < std::chrono::seconds(10) ? m_quickLosses + 1 : 0;
    if (m_session) ++m_pagesLost;
    m_session.reset();
    if (m_quickLosses >= 2) {
        emit contentChanged();
        return;
    }
    m_lastRecovery = now;
    try {
        m_session = makePage();
        m_session->navigate(m_url);
    } catch (const BrowserError&) {
        // Nothing to show then; the next operation that needs the page tries again and says so.
        m_session.reset();
    }
    emit contentChanged();
}

QUrl BrowserView::addressToUrl(const QString& address) {
    const QString trimmed = address.trimmed();
    if (trimmed.isEmpty()) return {};
    if (trimmed.startsWith(QLatin1Char('/')) || trimmed.startsWith(QLatin1String("~/")) ||
        trimmed.startsWith(QLatin1String("./")) || trimmed.startsWith(QLatin1String("../"))) {
        QString path = trimmed;
        if (path.startsWith(QLatin1Char('~'))) path = QDir::homePath() + path.mid(1);
        return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    }
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    // host:port looks like a scheme but is not one.
    static const QRegularExpression hostPort(QStringLiteral("^[A-Za-z0-9.-]+:\\d+(/|$)"));
    if (const auto named = scheme.match(trimmed);
        named.hasMatch() &&
        (!hostPort.match(trimmed).hasMatch() || isPagelessScheme(named.captured().chopped(1))))
        return QUrl(trimmed);
    if (QFileInfo(trimmed).isFile()) return QUrl::fromLocalFile(QFileInfo(trimmed).absoluteFilePath());
    return QUrl(QStringLiteral("http://") + trimmed);
}

QUrl BrowserView::urlToOpen(const QString& address) {
    const QUrl url = addressToUrl(address);
    if (!url.isValid() || url.isEmpty())
        throw BrowserError(QStringLiteral("\"%1\" is not an address that can be opened.").arg(address));
    if (const QString unshown = unshownAddress(address, url); !unshown.isEmpty()) throw BrowserError(unshown);
    return url;
}

void BrowserView::navigate(const QString& address) {
    const QUrl url = urlToOpen(address);
    std::unique_ptr<PageSession> fresh;
    try {
        // The page before goes: whatever it still does (loading, looping) cannot reach the new.
        if (m_session && !m_session->current()) ++m_pagesLost;
        m_session.reset();
        fresh = makePage();
        fresh->navigate(url);
    } catch (const BrowserError& e) {
        throw BrowserError(QStringLiteral("Could not open \"%1\": %2").arg(address, e.text()));
    }
    m_session = std::move(fresh);
    m_address = address;
    m_url = url;
    m_pdfTrouble = PdfTrouble::None;
}

void BrowserView::navigateReusing(const QString& address) {
    const QUrl url = urlToOpen(address);
    if (!m_session || !m_session->navigateWiped(url)) return navigate(address);
    m_answerWatch.stop();
    m_redrawsLeft = 2;
    m_lastDrawError.clear();
    m_lastDrawLostDocument = false;
    m_pdfTrouble = PdfTrouble::None;
    m_address = address;
    m_url = url;
}

QString BrowserView::mainFrameId() const {
    return m_session ? m_session->mainFrameId() : QString();
}

QString BrowserView::navigationError() const {
    return m_session ? m_session->navigationError() : QString();
}

int BrowserView::httpStatus() const {
    return m_session ? m_session->documentHttpStatus() : 0;
}

QStringList BrowserView::pendingRequests() const {
    QStringList urls;
    if (m_session)
        for (const std::string& url : m_session->pendingRequests())
            urls << QString::fromStdString(url);
    return urls;
}

bool BrowserView::reuseFailed() const {
    return m_session && m_session->wipeFailed();
}

bool BrowserView::loaded() const {
    return m_session && m_session->loaded();
}

void BrowserView::setDeadline(std::optional<std::chrono::steady_clock::time_point> deadline) {
    m_deadline = deadline;
    if (m_session) m_session->setDeadline(deadline);
}

QSizeF BrowserView::documentExtent() {
    const Json metrics = page().call("Page.getLayoutMetrics").json;
    const Json content = metrics.value("cssContentSize", metrics.value("contentSize", Json::object()));
    return QSizeF(content.value("width", 0.0), content.value("height", 0.0));
}

QSize BrowserView::documentSize() {
    const QSizeF extent = documentExtent();
    // Whole pixels that hold all of the document.
    return QSize(int(std::min(std::ceil(extent.width()), double(maxDimension))),
                 int(std::min(std::ceil(extent.height()), double(maxDimension))));
}

QString BrowserView::evaluate(const QString& expression, int timeoutMs) {
    return run(expression, timeoutMs, false);
}

QString BrowserView::evaluateOwn(const QString& expression, int timeoutMs) {
    return run(expression, timeoutMs, true);
}

QString BrowserView::run(const QString& expression, int timeoutMs, bool ownWorld) {
    PageSession& s = page();
    s.cache().dropAhead(s);
    Json params = {{"expression", expression.toStdString()},
                   {"awaitPromise", true},
                   {"returnByValue", true},
                   {"userGesture", true}};
    if (ownWorld) {
        // The engine keeps one world of a name per document, so asking again costs no new one.
        const Message world =
            s.call("Page.createIsolatedWorld",
                   {{"frameId", mainFrameId().toStdString()}, {"worldName", "velmora"}}, timeoutMs);
        params["contextId"] = world.json.value("executionContextId", 0);
    }
    const Message result = s.call("Runtime.evaluate", std::move(params), timeoutMs);
    if (result.json.contains("exceptionDetails")) {
        const Json& details = result.json["exceptionDetails"];
        std::string text = details.value("exception", Json::object()).value("description", std::string());
        if (text.empty()) text = details.value("text", std::string("an exception"));
        throw BrowserError(QStringLiteral("The page's script failed: %1").arg(QString::fromStdString(text)));
    }
    const Json& value = result.json.value("result", Json::object());
    return QString::fromStdString(value.contains("value") ? value["value"].dump() : std::string("null"));
}

void BrowserView::resize(int width, int height) {
    resize(width, height, height);
}

void BrowserView::resize(int width, int height, int layoutHeight) {
    resize(width, height, layoutHeight, 0);
}

void BrowserView::resize(int width, int height, int layoutHeight, int shownRows) {
    if (width < 1 || height < 1 || width > maxDimension || height > maxDimension || layoutHeight < 1 ||
        layoutHeight > height)
        throw BrowserError(
            QStringLiteral("The browser view cannot be %1 x %2 pixels: each side must be from 1 "
                           "to %3 pixels.")
                .arg(width)
                .arg(height)
                .arg(maxDimension));
    m_size = QSize(width, height);
    m_layoutHeight = layoutHeight;
    // Without a running page the size waits for the next one, which is made at this size.
    if (PageSession* s = runningPage()) {
        s->applySize(layoutSize(), shownRows);
        s->setBeyondViewport(height > layoutHeight);
    }
}

void BrowserView::forgetScroll() {
    if (PageSession* s = runningPage()) s->forgetScroll();
}

void BrowserView::setLiveView(bool live) {
    if (live == m_live) return;
    m_live = live;
    if (PageSession* s = runningPage()) s->setLive(live, layoutSize());
}

QImage BrowserView::liveFrame() const {
    if (m_session && m_session->current()) return m_session->liveFrame();
    return {};
}

bool BrowserView::draw(gdi::HDC dc, const gdi::RECT& bounds) {
    if (!dc) return false;
    m_lastDrawError.clear();
    m_lastDrawLostDocument = false;
    const std::int64_t bw = std::int64_t(bounds.right) - bounds.left;
    const std::int64_t bh = std::int64_t(bounds.bottom) - bounds.top;
    if (bw <= 0 || bh <= 0 || m_size.isEmpty()) return true;
    gdi::RECT clip{};
    const int kind = gdi::GetClipBox(dc, &clip);
    if (kind == gdi::ERROR_REGION) return false;
    // The part of the bounds that can be seen, relative to the bounds' top-left corner.
    const std::int64_t x0 = std::max<std::int64_t>(bounds.left, clip.left) - bounds.left;
    const std::int64_t y0 = std::max<std::int64_t>(bounds.top, clip.top) - bounds.top;
    const std::int64_t x1 = std::min<std::int64_t>(bounds.right, clip.right) - bounds.left;
    const std::int64_t y1 = std::min<std::int64_t>(bounds.bottom, clip.bottom) - bounds.top;
    if (kind == gdi::NULLREGION || x1 <= x0 || y1 <= y0) return true;

    if (m_address.isEmpty() && !m_session) {
        // Nothing loaded yet: the view is a blank page, and no engine is needed to draw it.
        const std::int64_t rows = std::max<std::int64_t>(1, maxCapturePixels / (x1 - x0));
        for (std::int64_t y = y0; y < y1; y += rows)
            if (!putWhite(dc, bounds.left + x0, bounds.top + y, int(x1 - x0), int(std::min(rows, y1 - y))))
                return false;
        return true;
    }

    const double sx = double(bw) / m_size.width();
    const double sy = double(bh) / m_size.height();
    // One scale for both axes when they differ only by the truncation of a size (a picture of
    // the view at some percentage): then pieces drawn with shifted bounds join without a seam.
    // Otherwise capture at the larger scale and shrink the other axis, so that nothing is
    // ever enlarged from pixels.
    const bool uniform = std::abs(double(bh) - std::round(m_size.height() * sx)) <= 1.0 &&
                         std::abs(double(bw) - std::round(m_size.width() * sy)) <= 1.0;
    const double scale = std::max(sx, sy);

    // An engine that died just before this draw may be noticed only during it: then the page is
    // made again on a new engine and the draw tried once more. Not so in the middle of a picture
    // in pieces (an earlier draw of this event-loop turn): its pieces would show two pages.
    const std::uint64_t turn = eventLoopGeneration();
    const bool firstOfTurn = std::exchange(m_lastDrawTurn, turn) != turn;
    for (int attempt = 0;; ++attempt)
        try {
            PageSession& s = page();
            // The memory kept for the next draw goes once the view has been idle a while after this one.
            struct RestartIdle {
                QTimer& timer;
                ~RestartIdle() { timer.start(engine::idleReleaseMs()); }
            } restartIdle{m_idle};
            const std::uint64_t generation = eventLoopGeneration();
            // A picture taken in pieces (only part of the bounds is drawn now) from more than one
            // capture shows one moment: the page's time stands still from its first piece until
            // the event loop runs again. One capture is one moment by itself.
            const bool pieces = x0 > 0 || y0 > 0 || x1 < bw || y1 < bh;
            if (pieces && !(uniform && s.cache().fitsOneCapture(bw, bh)) && !s.timeHeld()) {
                s.holdTime();
                QTimer::singleShot(0, this, [this] { releaseTime(); });
            }
            ScrollQuery query = s.scrollQuery();
            // Whichever way this ends, no answer is left waiting for a caller that has gone.
            struct Settle {
                PageSession& s;
                ScrollQuery& query;
                ~Settle() { s.abandonScroll(query); }
            } settle{s, query};

            if (uniform) {
                if (const auto done =
                        s.cache().draw(s, dc, bounds, x0, y0, x1, y1, m_size, scale, query, generation))
                    return *done;
            }
            TiledDraw tiled;
            tiled.dc = dc;
            tiled.bounds = bounds;
            tiled.x0 = x0;
            tiled.y0 = y0;
            tiled.x1 = x1;
            tiled.y1 = y1;
            tiled.scale = scale;
            tiled.rx = uniform ? 1.0 : scale / sx;
            tiled.ry = uniform ? 1.0 : scale / sy;
            tiled.scroll = s.settleScroll(query);
            s.cache().dropAhead(s);
            return drawTiled(s, tiled);
        } catch (const BrowserTimeout& e) {
            m_lastDrawError = e.text();
            watchForAnswer();
            return false;
        } catch (const BrowserError& e) {
            if (firstOfTurn && attempt == 0 && m_session && !m_session->current() && !m_session->gone())
                continue;
            m_lastDrawError = e.text();
            m_lastDrawLostDocument = dynamic_cast<const DocumentGone*>(&e) != nullptr;
            return false;
        } catch (const std::bad_alloc&) {
            m_lastDrawError = QStringLiteral("Not enough memory to draw the page.");
            return false;
        }
}

void BrowserView::watchForAnswer() {
    if (m_answerWatch.isActive() || m_redrawsLeft <= 0) return;
    --m_redrawsLeft;
    m_answerWatchTicks = 0;
    m_answerWatch.start();
}

void BrowserView::releaseTime() {
    if (m_session) m_session->releaseTime();
}

void BrowserView::sendMouse(MouseAction action, int x, int y, MouseButton button, int buttons, int modifiers,
                            int clickCount) {
    m_input.mouse(action, x, y, button, buttons, modifiers, clickCount);
}

void BrowserView::sendWheel(int x, int y, double deltaX, double deltaY, int modifiers) {
    m_input.wheel(x, y, deltaX, deltaY, modifiers);
}

void BrowserView::sendKey(const Key& key) {
    m_input.key(key);
}

bool BrowserView::capturePng(QByteArray* png) {
    png->clear();
    m_lastDrawError.clear();
    m_lastDrawLostDocument = false;
    const std::int64_t w = m_size.width(), h = m_size.height();
    if (m_address.isEmpty() || w <= 0 || h <= 0 || w * h > maxCapturePixels || w > maxCaptureSide ||
        h > maxCaptureSide || h > m_layoutHeight)
        return true;
    try {
        PageSession& s = page();
        const struct RestartIdle {
            QTimer& timer;
            ~RestartIdle() { timer.start(engine::idleReleaseMs()); }
        } restartIdle{m_idle};
        ScrollQuery query = s.scrollQuery();
        const struct Settle {
            PageSession& s;
            ScrollQuery& query;
            ~Settle() { s.abandonScroll(query); }
        } settle{s, query};
        const QPointF scroll = s.settleScroll(query);
        s.cache().dropAhead(s);
        const Message answer = s.waitCapture(s.sendCapture(CaptureRegion{0, 0, w, h}, 1.0, scroll));
        std::string data = answer.data.empty() ? answer.json.value("data", std::string()) : answer.data;
        if (!decodeBase64InPlace(data)) return true;
        // The engine's PNG as it is, when it is what a picture file of the view holds.
        std::uint32_t pw = 0, ph = 0;
        if (!plainRgbPngSize(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), &pw, &ph) ||
            pw != std::uint32_t(w) || ph != std::uint32_t(h))
            return true;
        *png = QByteArray(data.data(), qsizetype(data.size()));
        return true;
    } catch (const BrowserTimeout& e) {
        m_lastDrawError = e.text();
        watchForAnswer();
        return false;
    } catch (const BrowserError& e) {
        m_lastDrawError = e.text();
        m_lastDrawLostDocument = dynamic_cast<const DocumentGone*>(&e) != nullptr;
        return false;
    } catch (const std::bad_alloc&) {
        m_lastDrawError = QStringLiteral("Not enough memory to draw the page.");
        return false;
    }
}

int OleDraw(BrowserView* view, gdi::DWORD aspect, gdi::HDC dc, const gdi::RECT* bounds) {
    if (!view || !dc || !bounds) return E_INVALIDARG;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    return view->draw(dc, *bounds) ? S_OK : E_FAIL;
}

} // namespace browser
