// Letting a page settle before it is captured: the parts of a page that arrive after its load
// event (late requests, web fonts, images decoded off the main thread, lazy images brought into
// the view) are in the picture, not half of them.
#include "platform/browser/BrowserTesting.h"
#include "platform/browser/BrowserView.h"
#include "platform/browser/PageSession.h"

#include <QEventLoop>
#include <QRectF>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <vector>

namespace browser {

namespace {

// Runs in the page: fonts, then every image that lies (partly) in the picture (%1 rows, which
// may reach below the viewport) decoded, and every video there that is loading given up to
// five seconds to have a frame to show, once (its download is not waited for: the engine keeps
// it open while the video plays, or pauses it half way), then two frames, so that what was decoded
// has been drawn too. An image or video that fails counts as done. What still downloads (a font,
// an image, a video's first frame) is waited for %2 ms at most, the time the page's requests had
// left: a download that never ends (a server that holds the request) would otherwise hold the
// picture up for good, and the page is taken without it, as it is taken with its requests under
// way; nor is one whose request has shown no sign of life for a long while (%4, the addresses of
// such requests; while there are any, fonts get a second). Frames that do not come within a
// second are not waited for: the engine can stop drawing a page that asks for windows without
// end, and a page can take frame callbacks away; the capture draws the page itself either way.
// Last, animations and transitions that end by themselves (a page that fades in as it opens,
// content that slides in once it is shown, one after another) are let run to their end, so the
// picture shows where they end rather than a moment in between; so is a script that moves things
// frame by frame itself, as tween libraries do, until two frames pass without a change to an
// attribute. A document gets %3 ms of this in all, however often it is settled: an animation that
// would end later than that (or than the page's time) is not waited for, nor is one that repeats
// for good, is paused or follows scrolling, and a page that starts new ones or moves things
// without end is taken once its time is used up. Returns the document's type: a PDF has more to wait for.
constexpr const char* settleScript = R"JS(
(async () => {
  const started = performance.now();
  const late = new Promise(r => setTimeout(r, %2));
  const stalled = new Set(%4);
  if (document.fonts)
    await Promise.race([document.fonts.ready, stalled.size ? new Promise(r => setTimeout(r, 1000)) : late]);
  const w = innerWidth, h = Math.max(innerHeight, %1);
  const inView = e => {
    const r = e.getBoundingClientRect();
    return r.bottom > 0 && r.right > 0 && r.top < h && r.left < w;
  };
  const seen = [...document.images].filter(inView);
  const waited = (window[Symbol.for('velmora.videos')] ??= new WeakSet());
  const videos = [...document.querySelectorAll('video')].filter(v =>
    inView(v) && !waited.has(v) && v.readyState < v.HAVE_CURRENT_DATA &&
    v.networkState === v.NETWORK_LOADING);
  videos.forEach(v => waited.add(v));
  await Promise.all([
    ...seen.map(i => {
      if (!i.complete && stalled.has((i.currentSrc || i.src).split('#')[0])) return 0;
      const decoded = i.decode().catch(() => 0);
      return i.complete ? decoded : Promise.race([decoded, late]);
    }),
    Promise.race([
      Promise.all(videos.map(v => new Promise(r => {
        for (const e of ['loadeddata', 'suspend', 'stalled', 'error', 'abort', 'emptied'])
          v.addEventListener(e, r, {once: true});
      }))),
      new Promise(r => setTimeout(r, Math.min(5000, %2))),
    ]),
  ]);
  const frames = () => Promise.race([
    new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r))),
    new Promise(r => setTimeout(r, 1000)),
  ]);
  const documents = d => {
    const all = [d];
    for (const f of d.querySelectorAll('iframe, frame')) {
      try { if (f.contentDocument) all.push(...documents(f.contentDocument)); } catch {}
    }
    return all;
  };
  const changes = {count: 0};
  const watcher = new MutationObserver(records => { changes.count += records.length; });
  for (const d of documents(document)) watcher.observe(d, {attributes: true, subtree: true});
  await frames();
  const patience = (window[Symbol.for('velmora.animations')] ??= {left: %3});
  for (let rounds = 0;;) {
    const began = performance.now();
    const left = Math.min(patience.left, %2 - (began - started));
    if (left <= 0) break;
    const ending = [];
    for (const a of documents(document).flatMap(d => d.getAnimations())) {
      if (a.playState !== 'running' || !a.effect || !(a.playbackRate > 0) || a.currentTime === null ||
          Object.prototype.toString.call(a.timeline) !== '[object DocumentTimeline]') continue;
      const rest = (a.effect.getComputedTiming().endTime - a.currentTime) / a.playbackRate;
      if (rest > 0 && rest <= left) ending.push([a, rest]);
    }
    if (ending.length && rounds++ < 8) {
      await Promise.race([
        Promise.all(ending.map(([a]) => a.finished.catch(() => 0))),
        new Promise(r => setTimeout(r, Math.max(...ending.map(([, rest]) => rest)) + 100)),
      ]);
    } else if (!changes.count) {
      // Nothing that ends by itself runs, and the frames since the last look changed nothing.
      patience.left -= performance.now() - began;
      break;
    }
    changes.count = 0;
    await frames();
    patience.left -= performance.now() - began;
  }
  watcher.disconnect();
  return document.contentType;
})()
)JS";

// Runs in the page: every element (in open shadow trees too) whose content-visibility is auto,
// made visible.
constexpr const char* showSkippedScript = R"JS(
(() => {
  let shown = 0;
  const walk = root => {
    for (const e of root.querySelectorAll('*')) {
      if (getComputedStyle(e).contentVisibility === 'auto') {
        e.style.setProperty('content-visibility', 'visible', 'important');
        ++shown;
      }
      if (e.shadowRoot) walk(e.shadowRoot);
    }
  };
  walk(document);
  return shown;
})()
)JS";

// How long the animations of one document are waited for, in all.
constexpr int animationPatienceMs = 5000;

// The documents a page may go on to while it is waited for before it counts as never settling.
constexpr std::uint64_t kRestlessDocuments = 5;

// Runs the event loop for ms at most, or until the deadline.
void spinFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(std::max(0, ms), &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs in each of the page's frames: in the engine's PDF viewer, how far it has come with its
// document, "loading" until it has read all of it (and while its script has not yet made its
// element the viewer), then "success" or "failed"; "password" while it asks for the document's
// password, which it will not read without. Empty in other frames.
constexpr const char* pdfStateScript =
    "(() => { if (location.protocol !== 'chrome-extension:') return '';"
    " const v = document.querySelector('pdf-viewer');"
    " if (!v || v.loadState_ === undefined || v.loadState_ === null) return 'loading';"
    " return v.loadState_ === 'loading' && v.showPasswordDialog_ === true ?"
    " 'password' : String(v.loadState_); })()";

// Runs in a PDF viewer's frame: false while a page's picture in the viewer's list of pages is in
// sight but not yet drawn (the viewer draws the pages it shows first, the list after them).
// True where the viewer has no such list.
constexpr const char* thumbnailsDrawnScript = R"JS(
(() => {
  const found = [];
  const walk = root => {
    for (const e of root.querySelectorAll('*')) {
      if (e.localName === 'viewer-thumbnail') found.push(e);
      if (e.shadowRoot) walk(e.shadowRoot);
    }
  };
  walk(document);
  return found.every(t => {
    const r = t.getBoundingClientRect();
    const inSight = r.width > 0 && r.height > 0 && r.bottom > 0 && r.right > 0 &&
                    r.top < innerHeight && r.left < innerWidth;
    return !inSight || !!(t.shadowRoot && t.shadowRoot.querySelector('canvas'));
  });
})()
)JS";

// The part of the view that the PDF viewers of a page's frames take, in the page's coordinates:
// the smallest box around their frames' boxes, within the view. Empty when the page is a PDF
// itself, or when a frame's box cannot be had (its owner is in another process, or gone).
QRectF viewerBoxes(PageSession& page, QSize view) {
    QRectF area;
    try {
        for (const std::string& frame : page.pdfFrames()) {
            const Message owner =
                page.call("DOM.getFrameOwner", {{"frameId", frame}}, engine::callTimeoutMs());
            const int node = owner.json.value("backendNodeId", 0);
            if (node == 0) return {};
            const Message box =
                page.call("DOM.getBoxModel", {{"backendNodeId", node}}, engine::callTimeoutMs());
            const Json quad = box.json.value("model", Json::object()).value("border", Json::array());
            if (!quad.is_array() || quad.size() != 8) return {};
            double left = quad[0].get<double>(), right = left, top = quad[1].get<double>(), bottom = top;
            for (std::size_t i = 2; i < 8; i += 2) {
                left = std::min(left, quad[i].get<double>());
                right = std::max(right, quad[i].get<double>());
                top = std::min(top, quad[i + 1].get<double>());
                bottom = std::max(bottom, quad[i + 1].get<double>());
            }
            area |= QRectF(QPointF(left, top), QPointF(right, bottom));
        }
        area &= QRectF(0, 0, view.width(), view.height());
        if (area.isEmpty()) return {};
        // The boxes are where the frames are in the view; a capture's clip is in the document.
        const Message metrics = page.call("Page.getLayoutMetrics", Json::object(), engine::callTimeoutMs());
        const Json viewport = metrics.json.value("cssVisualViewport", Json::object());
        area.translate(viewport.value("pageX", 0.0), viewport.value("pageY", 0.0));
    } catch (const BrowserTimeout&) {
        throw;
    } catch (const BrowserError&) {
        return {};
    } catch (const Json::exception&) {
        return {};
    }
    return area;
}

// Whether the viewers have drawn the pictures of the pages in sight in their lists of pages.
bool thumbnailsDrawn(PageSession& page, const std::vector<std::string>& viewerFrames) {
    for (const std::string& frame : viewerFrames) {
        try {
            const Message reply = page.callInFrame(
                frame, "Runtime.evaluate", {{"expression", thumbnailsDrawnScript}, {"returnByValue", true}},
                engine::callTimeoutMs());
            if (!reply.json.value("result", Json::object()).value("value", true)) return false;
        } catch (const BrowserTimeout&) {
            throw;
        } catch (const BrowserError&) {
        }
    }
    return true;
}

// The document in the viewer is drawn by a process of its own, after the viewer's own frames:
// waits until two views in a row are alike and the viewers' lists of pages in sight are drawn,
// a few seconds and until by at most. Only the viewers' part of the view is looked at when it is
// known (viewers), so that what moves for good beside a PDF that a page shows (a spinner, a
// carousel) does not hold the picture back. A large view is compared at a smaller scale, which
// is quicker and enough to see what is still drawn.
void awaitStillView(PageSession& page, QSize view, const std::vector<std::string>& viewerFrames,
                    const QRectF& viewers, std::chrono::steady_clock::time_point by) {
    using Clock = std::chrono::steady_clock;
    constexpr double comparedPixels = 1e6;
    const QRectF area = viewers.isEmpty() ? QRectF(0, 0, view.width(), view.height()) : viewers;
    const double pixels = area.width() * area.height();
    Json params = {{"format", "png"}, {"optimizeForSpeed", true}};
    if (pixels > comparedPixels || !viewers.isEmpty())
        params["clip"] = {{"x", area.x()},
                          {"y", area.y()},
                          {"width", area.width()},
                          {"height", area.height()},
                          {"scale", std::min(1.0, std::sqrt(comparedPixels / pixels))}};
    const Clock::time_point until = std::min(by, Clock::now() + std::chrono::seconds(3));
    std::string last;
    while (Clock::now() < until) {
        engine::countScreenshot();
        const Message shot = page.call("Page.captureScreenshot", params, engine::callTimeoutMs());
        std::string data = shot.json.value("data", std::string());
        if (!data.empty() && data == last && thumbnailsDrawn(page, viewerFrames)) return;
        last = std::move(data);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        spinFor(int(std::clamp<long long>(left, 0, 150)));
    }
}

// A PDF shows in the engine's viewer, a frame that reads the document and draws it long after
// the page has loaded and gone quiet: until then the picture would be the viewer's empty pane.
// Waits until every viewer among the page's frames has read its document (or failed to) and the
// view has come to rest, until by at most; until appearBy for a first viewer to be there (an
// embedded PDF that does not load has none). Returns what kept a viewer from showing its
// document, if anything did.
BrowserView::PdfTrouble awaitPdfViewers(PageSession& page, QSize view, bool pageIsPdf,
                                        std::chrono::steady_clock::time_point appearBy,
                                        std::chrono::steady_clock::time_point by) {
    using Clock = std::chrono::steady_clock;
    while (Clock::now() < by) {
        std::vector<std::string> done;
        bool loading = false;
        BrowserView::PdfTrouble trouble = BrowserView::PdfTrouble::None;
        for (const std::string& frame : page.frameSessions()) {
            try {
                const Message reply = page.callInFrame(
                    frame, "Runtime.evaluate", {{"expression", pdfStateScript}, {"returnByValue", true}},
                    engine::callTimeoutMs());
                const std::string value =
                    reply.json.value("result", Json::object()).value("value", std::string());
                if (value.empty()) continue;
                if (value == "loading") {
                    loading = true;
                } else {
                    done.push_back(frame);
                    if (value == "failed")
                        trouble = BrowserView::PdfTrouble::Unreadable;
                    else if (value == "password" && trouble == BrowserView::PdfTrouble::None)
                        trouble = BrowserView::PdfTrouble::Locked;
                }
            } catch (const BrowserTimeout&) {
                throw;
            } catch (const BrowserError&) {
                // The frame went (the page went on, or the viewer was made again).
            }
        }
        if (!loading && !done.empty()) {
            for (const std::string& viewer : done) {
                try {
                    page.callInFrame(
                        viewer, "Runtime.evaluate",
                        {{"expression", "new Promise(r => { setTimeout(r, 1000); "
                                        "requestAnimationFrame(() => requestAnimationFrame(r)); })"},
                         {"awaitPromise", true}},
                        engine::callTimeoutMs());
                } catch (const BrowserTimeout&) {
                    throw;
                } catch (const BrowserError&) {
                }
            }
            awaitStillView(page, view, done, pageIsPdf ? QRectF() : viewerBoxes(page, view), by);
            return trouble;
        }
        if (!loading && Clock::now() >= appearBy) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(by - Clock::now()).count();
        spinFor(int(std::clamp<long long>(left, 0, 100)));
    }
    return BrowserView::PdfTrouble::None;
}

} // namespace

void BrowserView::settle(std::chrono::steady_clock::time_point networkBy, int quietMs) {
    using Clock = std::chrono::steady_clock;
    const PageSession* s = &page();
    const std::uint64_t lost = pagesLost();
    const std::uint64_t shown = documentsShown();
    // The engine reports requests through the event loop; quiet means none under way and none
    // begun or ended for quietMs.
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= networkBy) break;
        const auto quietFor =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - s->networkChanged()).count();
        if (s->requestsUnderWay() == 0 && quietFor >= quietMs && s->loaded()) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(networkBy - now).count();
        spinFor(int(std::min<long long>({50, left, std::max<long long>(1, quietMs - quietFor)})));
        // The page may have gone meanwhile, and even been made again on a new engine (the view
        // shows its address again): what settled is gone either way.
        if (pagesLost() != lost) throw BrowserError(QStringLiteral("The page has crashed."));
        // A page that goes on to other documents (redirects by script or refresh) settles on the
        // last, as long as that comes to rest; one that keeps going on (a refresh or a reload that
        // does not stop) never goes quiet, and is told rather than waited for.
        if (documentsShown() - shown >= kRestlessDocuments)
            throw DocumentGone(QStringLiteral("The page went on to another document while settling."));
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(networkBy - Clock::now()).count();
    const int downloadsMs = int(std::clamp<long long>(left, 0, std::numeric_limits<int>::max()));
    const Json stalled = s->stalledRequests();
    const QString type = evaluateOwn(
        QString::fromLatin1(settleScript)
            .arg(m_size.height())
            .arg(downloadsMs)
            .arg(animationPatienceMs)
            .arg(QString::fromStdString(stalled.dump(-1, ' ', false, Json::error_handler_t::replace))),
        engine::callTimeoutMs());
    // A PDF that the page shows in a frame (an iframe, an embed) is waited for as well; its
    // viewer gets a few seconds to appear, as the document may not load at all.
    m_pdfTrouble = PdfTrouble::None;
    if (type == QLatin1String("\"application/pdf\""))
        m_pdfTrouble = awaitPdfViewers(page(), m_size, true, networkBy, networkBy);
    else if (page().framesShowPdf())
        m_pdfTrouble = awaitPdfViewers(
            page(), m_size, false, std::min(networkBy, Clock::now() + std::chrono::seconds(5)), networkBy);
}

int BrowserView::growToDocument(int maxHeight, std::chrono::steady_clock::time_point networkBy,
                                int maxRounds) {
    const int width = m_size.width();
    const int layout = m_layoutHeight;
    int height = m_size.height();
    for (int round = 0; round < maxRounds; ++round) {
        showSkippedContent();
        const int measured = std::clamp(documentSize().height(), layout, maxHeight);
        if (round > 0 && measured == height) break;
        height = measured;
        // Lazy images and content that loads as it is scrolled to come only when a viewport
        // reaches them: the viewport takes the whole document for a moment, the page settles,
        // and the layout goes back to its own viewport before it is measured again. Meanwhile
        // the engine draws only the top of it, which is all the page's frames need.
        resize(width, height, height, layout);
        settle(networkBy);
        resize(width, height, layout);
        settle(networkBy);
    }
    return height;
}

int BrowserView::showSkippedContent() {
    return evaluateOwn(QString::fromLatin1(showSkippedScript), engine::callTimeoutMs()).toInt();
}

} // namespace browser
