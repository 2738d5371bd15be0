// raw_capture PAGE WIDTH HEIGHT PERCENT: one Page.captureScreenshot of a whole WIDTH x HEIGHT
// view at PERCENT, straight from the engine, as the yardstick beside velmora-capture in
// bench/bands. The page is loaded and settled first, as velmora-capture does; only the one
// capture call is timed. Prints
//
//   ok <ms> <width>x<height> <png bytes>       the engine made the picture asked for
//   failed <why>                               it refused, failed, or made another size
//   unmeasured <why>                           the page could not be loaded and settled
//
// The engine may refuse very large clips or hand back a picture of another size; both count as
// failed, because neither is the capture asked for. Exit status 0 for ok, 3 for failed, 4 for
// unmeasured, 2 for wrong arguments.
#include "platform/browser/BrowserView.h"
#include "platform/browser/CallLimits.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

int failed(const QString& why) {
    std::printf("failed %s\n", qPrintable(why.simplified()));
    return 3;
}

int unmeasured(const QString& why) {
    std::printf("unmeasured %s\n", qPrintable(why.simplified()));
    return 4;
}

bool parse(const char* text, int* value) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != 0 || n < 1 || n > 100000) return false;
    *value = int(n);
    return true;
}

// A PNG's own width and height, from the IHDR chunk at the start of the base64 text.
QSize pngSize(const QByteArray& base64) {
    const QByteArray head = QByteArray::fromBase64(base64.left(32));
    if (head.size() < 24 || !head.startsWith("\x89PNG")) return {};
    auto be32 = [&](int at) {
        const auto* p = reinterpret_cast<const unsigned char*>(head.constData() + at);
        return int(std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3]);
    };
    return {be32(16), be32(20)};
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    int width = 0, height = 0, percent = 0;
    if (argc != 5 || !parse(argv[2], &width) || !parse(argv[3], &height) || !parse(argv[4], &percent)) {
        std::fprintf(stderr, "usage: raw_capture PAGE WIDTH HEIGHT PERCENT\n");
        return 2;
    }
    // A capture of a few hundred megapixels takes a minute or two on a busy two-core machine; an
    // engine that has not answered in five is taken as unable to make it.
    browser::engine::setCallTimeoutMs(5 * 60 * 1000);

    browser::BrowserView view;
    try {
        view.resize(width, height);
        QEventLoop loop;
        bool loaded = false;
        QObject::connect(&view, &browser::BrowserView::documentComplete, &loop, [&](const QString& frame) {
            if (frame == view.mainFrameId()) {
                loaded = true;
                loop.quit();
            }
        });
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        view.navigate(QString::fromLocal8Bit(argv[1]));
        loop.exec();
        if (!loaded) return unmeasured(QStringLiteral("the page did not load"));
        view.settle(std::chrono::steady_clock::now() + std::chrono::seconds(30));
    } catch (const browser::BrowserError& e) {
        return unmeasured(e.text());
    }

    const QSize want(int(std::int64_t(width) * percent / 100), int(std::int64_t(height) * percent / 100));
    const QByteArray params =
        QStringLiteral("{\"format\":\"png\",\"optimizeForSpeed\":true,\"clip\":{\"x\":0,"
                       "\"y\":0,\"width\":%1,\"height\":%2,\"scale\":%3}}")
            .arg(width)
            .arg(height)
            .arg(percent / 100.0)
            .toUtf8();
    QElapsedTimer timer;
    timer.start();
    QByteArray png;
    try {
        png = browser::engine::rawPageCall(&view, QStringLiteral("Page.captureScreenshot"), params);
    } catch (const browser::BrowserError& e) {
        return failed(QStringLiteral("%1 after %2 ms").arg(e.text()).arg(timer.elapsed()));
    }
    const qint64 ms = timer.elapsed();
    // A small picture comes back inside the JSON answer rather than lifted out of it.
    if (png.startsWith('{')) png = QJsonDocument::fromJson(png).object().value("data").toString().toLatin1();
    const QSize made = pngSize(png);
    if (made.isEmpty()) return failed(QStringLiteral("no picture after %1 ms").arg(ms));
    if (made != want)
        return failed(QStringLiteral("a %1x%2 picture instead of %3x%4 after %5 ms")
                          .arg(made.width())
                          .arg(made.height())
                          .arg(want.width())
                          .arg(want.height())
                          .arg(ms));
    std::printf("ok %lld %dx%d %lld\n", (long long)ms, made.width(), made.height(),
                (long long)(png.size() / 4 * 3));
    return 0;
}
