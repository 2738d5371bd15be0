// Render against the engine alone, side by side in one run with the same engine:
//
//   Render of an 800 x 1000 view at 100 % and 200 % and of a 1000 x 20000 view at 100 %, each
//   against one Page.captureScreenshot of the same area and scale, in alternating rounds
//   (target: the median of the rounds' ratios at most 1.3);
//
//   bench_render --memory   peak memory of one Render of the 1000 x 20000 view beyond what the
//                           process held before it, less the output picture (target: 64 MiB);
//   bench_render --memory-text   the same for a page of text, whose answers are larger;
//
//   bench_render --tall     a 800 x 20000 view at 400 % (3200 x 80000, about 770 MB): every row
//                           of the picture is checked against the page. Takes minutes.
#include "bench/common/SideBySide.h"
#include "capture/Render.h"
#include "platform/browser/BrowserView.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/resource.h>

using namespace gdi;

namespace {

class Host : public capture::RenderHost {
  public:
    explicit Host(browser::BrowserView& view) : m_view(view) {}
    bool drawView(HDC dc, const RECT& bounds) override {
        return browser::OleDraw(&m_view, browser::DVASPECT_CONTENT, dc, &bounds) == browser::S_OK;
    }
    HDC acquireReadDC() override { return GetDC(nullptr); }
    void releaseReadDC(HDC dc) override { ReleaseDC(nullptr, dc); }
    void setProStatus(int) override {}
    void showError(const char* text) override { std::fprintf(stderr, "Render: %s\n", text); }

  private:
    browser::BrowserView& m_view;
};

QTemporaryDir& pagesDir() {
    static QTemporaryDir dir;
    return dir;
}

// Bands 100 pixels high, each in a colour of its own, with text on each: a page whose every
// row can be checked.
QString bandsPage(int bands) {
    const QString path = pagesDir().filePath(QStringLiteral("bands-%1.html").arg(bands));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("<!doctype html><html><body style='margin:0'>");
    for (int i = 0; i < bands; ++i)
        f.write(QStringLiteral("<div style='height:100px;background:rgb(%1,%2,%3);font:18px sans-serif'>"
                               "band %4 &mdash; the quick brown fox</div>")
                    .arg((i * 53) % 256)
                    .arg((i * 97 + 40) % 256)
                    .arg((i * 29 + 80) % 256)
                    .arg(i)
                    .toUtf8());
    f.write("</body></html>");
    return path;
}

void load(browser::BrowserView& view, const QString& path, int w, int h) {
    view.resize(w, h);
    QEventLoop loop;
    QObject::connect(&view, &browser::BrowserView::documentComplete, &loop,
                     [&](const QString& frame, const QString&) {
                         if (frame == view.mainFrameId()) loop.quit();
                     });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    view.navigate(path);
    loop.exec();
}

browser::BrowserView& sharedView() {
    static browser::BrowserView* view = new browser::BrowserView;
    return *view;
}

capture::RenderSettings settings(int w, int h, int percent) {
    capture::RenderSettings s;
    s.viewWidth = w;
    s.viewHeight = h;
    s.quality = percent;
    return s;
}

// One Render of a w x h view at percent, and one raw screenshot of the same area and scale,
// side by side.
void addPair(bench::SideBySide& sides, int w, int h, int percent, int rounds) {
    auto picture = std::make_shared<DibRecord>();
    auto host = std::make_shared<Host>(sharedView());
    const QByteArray params =
        QStringLiteral("{\"format\":\"png\",\"optimizeForSpeed\":true,\"clip\":{\"x\":0,\"y\":0,"
                       "\"width\":%1,\"height\":%2,\"scale\":%3}}")
            .arg(w)
            .arg(h)
            .arg(percent / 100.0)
            .toUtf8();
    const std::string size = std::to_string(w) + " x " + std::to_string(h);
    sides.add(
        "Render_vs_Raw/" + std::to_string(w) + "x" + std::to_string(h) + "/" + std::to_string(percent),
        size + " at " + std::to_string(percent) + " %", rounds,
        [=] { load(sharedView(), bandsPage(h / 100 + 1), w, h); },
        [=] {
            return capture::Render(settings(w, h, percent), *host, picture.get()) ==
                   capture::RenderOutcome::Done;
        },
        [=] {
            const QByteArray data =
                browser::engine::rawPageCall(&sharedView(), QStringLiteral("Page.captureScreenshot"), params);
            return !data.isEmpty();
        },
        [=] {
            // A new turn of the event loop, as between two presses of Render: nothing may come
            // from the last run's captures.
            deldib(*picture);
            *picture = DibRecord{};
            QCoreApplication::processEvents();
        });
}

long maxRssKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// A page of text for 20000 rows: the engine's answers for it are ten times the size of the
// bands', which leaves less room for pixels in each capture.
QString textPage() {
    const QString path = pagesDir().filePath(QStringLiteral("text.html"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write("<!doctype html><html><body style='margin:0;font:15px/1.4 "
            "serif;background:linear-gradient(#fff,#eef)'>");
    for (int i = 0; f.size() < 600000; ++i)
        f.write(
            QStringLiteral(
                "<p style='margin:2px 8px;border-bottom:1px solid #ccd'>Paragraph %1: the quick brown fox "
                "jumps over the lazy dog, <b>bold %2</b> <i>italic</i> <span style='color:#a33'>colour "
                "%3</span> 0123456789 %4.</p>")
                .arg(i)
                .arg(i * 7919 % 1000)
                .arg(i * 104729 % 10007)
                .arg(QString::number(i * 2654435761u, 36))
                .toUtf8());
    f.write("</body></html>");
    return path;
}

int memoryCheck(const QString& page, const char* label) {
    browser::BrowserView view;
    load(view, page, 1000, 20000);
    Host host(view);
    // Warm up the engine and every code path once at a small size, so that the figure below is
    // Render's own.
    {
        DibRecord small{};
        capture::Render(settings(1000, 20000, 10), host, &small);
        deldib(small);
    }
    QCoreApplication::processEvents();
    const long before = maxRssKiB();
    DibRecord picture{};
    if (capture::Render(settings(1000, 20000, 100), host, &picture) != capture::RenderOutcome::Done) return 1;
    const long after = maxRssKiB();
    const double outputMiB = double(picture.info->bmiHeader.biSizeImage) / (1 << 20);
    const double growthMiB = double(after - before) / 1024;
    const double beyond = growthMiB - outputMiB;
    std::printf(
        "peak memory during Render of 1000 x 20000 at 100 %% (%s): +%.1f MiB, output picture %.1f MiB, "
        "beyond the picture %.1f MiB (target <= 64) %s\n",
        label, growthMiB, outputMiB, beyond, beyond <= 64 ? "met" : "NOT MET");
    deldib(picture);
    return beyond <= 64 ? 0 : 1;
}

int tallCheck() {
    browser::BrowserView view;
    const int bands = 200;
    load(view, bandsPage(bands), 800, 20000);
    Host host(view);
    DibRecord picture{};
    QElapsedTimer timer;
    timer.start();
    const auto outcome = capture::Render(settings(800, 20000, 400), host, &picture);
    const double seconds = timer.elapsed() / 1000.0;
    if (outcome != capture::RenderOutcome::Done) {
        std::printf("Render of 3200 x 80000 failed\n");
        return 1;
    }
    const int W = picture.info->bmiHeader.biWidth, H = picture.info->bmiHeader.biHeight;
    // Each band is 400 rows of one colour at the right edge (the text stays at the left). A
    // black, blank, repeated or shifted row shows as the wrong colour.
    long wrongRows = 0;
    long firstWrong = -1;
    for (int top = 0; top < H; ++top) {
        const int band = top / 400;
        const std::uint8_t* row = picture.bits + std::ptrdiff_t(H - 1 - top) * picture.bytesPerRow;
        bool ok = true;
        for (int x : {W - 1, W - 200, W / 2 + 700}) {
            const std::uint8_t* p = row + 3 * x;
            ok &=
                p[2] == (band * 53) % 256 && p[1] == (band * 97 + 40) % 256 && p[0] == (band * 29 + 80) % 256;
        }
        if (!ok && firstWrong < 0) firstWrong = top;
        wrongRows += !ok;
    }
    std::printf("3200 x 80000 (800 x 20000 view at 400 %%): %d x %d in %.1f s, %ld wrong rows%s\n", W, H,
                seconds, wrongRows, wrongRows ? "" : " - seamless and complete");
    if (firstWrong >= 0) std::printf("first wrong row: %ld\n", firstWrong);
    deldib(picture);
    return W == 3200 && H == 80000 && wrongRows == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--memory") == 0) return memoryCheck(bandsPage(201), "coloured bands");
        if (std::strcmp(argv[i], "--memory-text") == 0) return memoryCheck(textPage(), "text");
        if (std::strcmp(argv[i], "--tall") == 0) return tallCheck();
    }
    benchmark::Initialize(&argc, argv);
    bench::SideBySide sides;
    addPair(sides, 800, 1000, 100, 60);
    addPair(sides, 800, 1000, 200, 30);
    addPair(sides, 1000, 20000, 100, 16);
    benchmark::RunSpecifiedBenchmarks();
    const bool ok = sides.report("Render", "one raw screenshot", 1.3);
    benchmark::Shutdown();
    return ok ? 0 : 1;
}
