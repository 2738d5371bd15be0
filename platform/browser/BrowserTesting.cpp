#include "platform/browser/BrowserTesting.h"

#include "platform/browser/BrowserView.h"
#include "platform/browser/CallLimits.h"
#include "platform/browser/CaptureTypes.h"
#include "platform/browser/Engine.h"
#include "platform/browser/PageSession.h"

#include <algorithm>

namespace browser::engine {

namespace {
int idleRelease = 10000;
std::int64_t aheadPixels = 0;
std::uint64_t screenshots = 0;
std::uint64_t pages = 0;
int wipeFailures = 0;
std::int64_t wholeView = 0;
std::uint64_t narrowed = 0;
} // namespace

std::uint64_t screenshotCount() {
    return screenshots;
}

void countScreenshot() {
    ++screenshots;
}

std::uint64_t pagesMade() {
    return pages;
}

void countPageMade() {
    ++pages;
}

void failNextWipes(int count) {
    wipeFailures = count;
}

bool takeWipeFailure() {
    if (wipeFailures <= 0) return false;
    --wipeFailures;
    return true;
}

void setIdleReleaseMs(int ms) {
    idleRelease = std::max(1, ms);
}

int idleReleaseMs() {
    return idleRelease;
}

void setAheadCapturePixels(std::int64_t pixels) {
    aheadPixels = std::max<std::int64_t>(0, pixels);
}

std::int64_t aheadCapturePixels() {
    return aheadPixels;
}

void setWholeViewPixels(std::int64_t pixels) {
    wholeView = std::max<std::int64_t>(0, pixels);
}

std::int64_t wholeViewPixels() {
    return wholeView > 0 ? wholeView : maxWholeViewPixels;
}

std::uint64_t narrowedCaptureCount() {
    return narrowed;
}

void countNarrowedCapture() {
    ++narrowed;
}

std::size_t heldCaptureBytes(BrowserView* view) {
    if (!view || !view->m_session) return 0;
    return view->m_session->cache().heldBytes();
}

long enginePid() {
    Engine* e = Engine::current();
    return e ? long(e->pid()) : 0;
}

void shutdownEngine() {
    Engine::shutdown();
}

QByteArray rawPageCall(BrowserView* view, const QString& method, const QByteArray& paramsJson) {
    PageSession& s = view->page();
    s.cache().dropAhead(s);
    Json params =
        paramsJson.isEmpty() ? Json::object() : Json::parse(paramsJson.toStdString(), nullptr, false);
    if (params.is_discarded()) throw BrowserError(QStringLiteral("The parameters are not JSON."));
    Message result = s.call(method.toStdString(), std::move(params), callTimeoutMs());
    if (!result.data.empty()) return QByteArray::fromStdString(result.data);
    return QByteArray::fromStdString(result.json.dump());
}

} // namespace browser::engine
