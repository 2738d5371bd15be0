// Views too large for the engine to draw whole are shown by it only as far as each capture
// reaches. What the page sees must not change, and the picture must be the one the engine itself
// makes of the whole view. The bound is lowered here so that small pages take that way.
#include "platform/browser/BrowserView.h"
#include "platform/browser/Pixels.h"
#include "platform/gdi/Gdi.h"
#include "tests/browser/BrowserFixture.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace browsertest;
using browser::BrowserView;

namespace {

class BrowserShownAreaTest : public ::testing::Test {
  protected:
    void TearDown() override {
        browser::engine::setWholeViewPixels(0);
        browser::engine::setAheadCapturePixels(0);
    }

    // The engine's own single screenshot of the view as it stands: clip in document pixels.
    browser::Picture24 engineShot(double x, double y, int width, int height, double scale, bool beyond) {
        QJsonObject params{
            {"format", "png"},
            {"clip",
             QJsonObject{{"x", x}, {"y", y}, {"width", width}, {"height", height}, {"scale", scale}}}};
        if (beyond) params.insert("captureBeyondViewport", true);
        QByteArray base64 =
            browser::engine::rawPageCall(&view, QStringLiteral("Page.captureScreenshot"),
                                         QJsonDocument(params).toJson(QJsonDocument::Compact));
        if (base64.startsWith('{'))
            base64 = QJsonDocument::fromJson(base64).object().value("data").toString().toLatin1();
        std::vector<std::uint8_t> png;
        browser::Picture24 picture;
        EXPECT_TRUE(browser::decodeBase64(base64.toStdString(), png));
        EXPECT_TRUE(browser::decodePng(png.data(), png.size(), picture, nullptr));
        return picture;
    }

    Pages pages;
    BrowserView view;
};

// A page with everything that could give the narrowing away: text, a gradient, an element fixed
// to the bottom of the viewport and one as tall as the viewport, whose sizes it writes into
// itself when its viewport changes.
QByteArray tellTalePage(int height) {
    QByteArray html = "<!doctype html><html><body style='margin:0;height:" + QByteArray::number(height) +
                      "px;font:16px sans-serif;background:linear-gradient(#f00,#0f0 50%,#00f)'>"
                      "<div style='height:100vh;width:60px;background:#808'></div>"
                      "<div id=size style='position:fixed;bottom:0;right:0;width:300px;height:40px;"
                      "background:#ff0'></div>";
    for (int i = 0; i < height / 40; ++i)
        html += "<div style='height:22px'>line " + QByteArray::number(i) + " of text across the view</div>";
    html += "<script>const show = () => document.getElementById('size').textContent = innerWidth + ' x ' + "
            "innerHeight + ' at ' + scrollY; addEventListener('resize', show); addEventListener('scroll', "
            "show); show();</script></body></html>";
    return html;
}

// Pictures drawn in pieces of rows, as Render draws them, from captures made ahead of a
// quarter of the view each: every pixel equals the engine's own screenshot of the whole view,
// whether or not the engine was shown only each capture's area.
TEST_F(BrowserShownAreaTest, NarrowedPicturesEqualTheEnginesOwnScreenshot) {
    struct Case {
        const char* name;
        int width, height, layoutHeight; // the view; the page is laid out layoutHeight high
        int documentHeight, scrollY;
        int percent;
        bool narrow; // the bound is lowered so that the view is narrowed
    } const cases[] = {
        {"at 100 %", 800, 1000, 1000, 1000, 0, 100, true},
        {"scrolled", 800, 1000, 1000, 3000, 700, 100, true},
        {"at 150 %", 600, 800, 800, 800, 0, 150, true},
        {"beyond its layout viewport", 800, 2000, 1000, 2000, 0, 100, true},
        {"small enough to be shown whole", 800, 1000, 1000, 1000, 0, 100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view.resize(c.width, c.height, c.layoutHeight);
        loadAndWait(view, pages.write(QStringLiteral("telltale.html"), tellTalePage(c.documentHeight)));
        if (c.scrollY) {
            ASSERT_EQ(evaluate(view, QStringLiteral("scrollTo(0, %1); scrollY").arg(c.scrollY)),
                      "[" + QByteArray::number(c.scrollY) + "]");
        }
        // The page has seen its size and scroll offset (the scroll event comes with a frame).
        const QByteArray seen = "[\"" + QByteArray::number(c.width) + " x " +
                                QByteArray::number(c.layoutHeight) + " at " + QByteArray::number(c.scrollY) +
                                "\"]";
        ASSERT_TRUE(waitFor([&] {
            return evaluate(view, QStringLiteral("document.getElementById('size').textContent")) == seen;
        })) << seen.toStdString();
        const double scale = c.percent / 100.0;
        const int w = c.width * c.percent / 100, h = c.height * c.percent / 100;
        const bool beyond = c.height > c.layoutHeight;
        const browser::Picture24 reference = engineShot(0, c.scrollY, c.width, c.height, scale, beyond);
        ASSERT_EQ(reference.width, w);
        ASSERT_EQ(reference.height, h);

        browser::engine::setWholeViewPixels(c.narrow ? 1 : 0);
        browser::engine::setAheadCapturePixels(std::int64_t(w) * h / 4);
        const auto turn = browser::eventLoopGeneration();
        ASSERT_TRUE(waitFor([&] { return browser::eventLoopGeneration() != turn; }));
        const std::uint64_t shots = browser::engine::screenshotCount();
        const std::uint64_t narrowed = browser::engine::narrowedCaptureCount();
        Canvas canvas(w, h);
        for (int y = 0; y < h; y += 300) {
            gdi::SelectClipRgn(canvas.dc(), nullptr);
            gdi::IntersectClipRect(canvas.dc(), 0, y, w, std::min(h, y + 300));
            ASSERT_TRUE(view.draw(canvas.dc(), {0, 0, w, h})) << view.lastDrawError().toStdString();
        }
        int differences = 0, firstRow = -1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if ((canvas.at(x, y) & 0xFFFFFFu) != reference.rgb(x, y)) {
                    ++differences;
                    if (firstRow < 0) firstRow = y;
                }
        EXPECT_EQ(differences, 0) << "first at row " << firstRow;
        const std::uint64_t made = browser::engine::screenshotCount() - shots;
        EXPECT_GE(made, 4u) << "the picture was to come from several captures";
        EXPECT_EQ(browser::engine::narrowedCaptureCount() - narrowed, c.narrow ? made : 0u);
        // The page saw no resize and no scroll.
        EXPECT_EQ(evaluate(view, QStringLiteral("document.getElementById('size').textContent")), seen);
        browser::engine::setWholeViewPixels(0);
        browser::engine::setAheadCapturePixels(0);
    }
}

// Twelve layers of stripes with sharp edges, each 4000 x 4000 pixels, on a grey page: shown whole in a view
// of 4000 x 4000, their tiles need 768 MB, more than the engine's raster budget, and parts of a picture would
// come out grey.
QByteArray layersPage() {
    QByteArray html = "<!doctype html><html style='background:#4d4d4d'><body style='margin:0;height:4000px'>";
    const char* colours[] = {"255,0,0", "0,255,0", "0,0,255", "255,255,0", "0,255,255", "255,0,255",
                             "128,0,0", "0,128,0", "0,0,128", "128,128,0", "0,128,128", "128,0,128"};
    for (int i = 0; i < 12; ++i)
        html += "<div style='position:absolute;left:0;top:0;width:4000px;height:4000px;will-change:transform;"
                "background:repeating-linear-gradient(" +
                QByteArray(i % 2 ? "90" : "180") + "deg,rgba(" + colours[i] + ",0.3) 0 " +
                QByteArray::number(3 + i) + "px,transparent " + QByteArray::number(3 + i) + "px " +
                QByteArray::number(11 + 2 * i) + "px)'></div>";
    return html + "</body></html>";
}

// A view whose layers are beyond the engine's raster budget when shown whole: the picture in
// pieces equals, strip by strip, the engine's own screenshots of a view small enough to be
// drawn whole.
TEST_F(BrowserShownAreaTest, AViewBeyondTheRasterBudgetComesOutComplete) {
    const QString page = pages.write(QStringLiteral("layers.html"), layersPage());
    std::vector<browser::Picture24> strips;
    {
        view.resize(4000, 1000);
        loadAndWait(view, page);
        for (int y = 0; y < 4000; y += 1000) {
            ASSERT_EQ(evaluate(view, QStringLiteral("scrollTo(0, %1); scrollY").arg(y)),
                      "[" + QByteArray::number(y) + "]");
            strips.push_back(engineShot(0, y, 4000, 1000, 1, false));
            ASSERT_EQ(strips.back().height, 1000);
        }
    }
    view.resize(4000, 4000);
    loadAndWait(view, page);
    view.settle(std::chrono::steady_clock::now() + std::chrono::seconds(10));
    // Its layers take seconds to draw on a busy two-core machine, longer than a window waits for
    // a capture of that size: the page gets a time limit of its own, as a capture tool's has.
    view.setDeadline(std::chrono::steady_clock::now() + std::chrono::minutes(2));
    Canvas canvas(4000, 4000);
    for (int y = 0; y < 4000; y += 500) {
        gdi::SelectClipRgn(canvas.dc(), nullptr);
        gdi::IntersectClipRect(canvas.dc(), 0, y, 4000, y + 500);
        ASSERT_TRUE(view.draw(canvas.dc(), {0, 0, 4000, 4000})) << view.lastDrawError().toStdString();
    }
    for (int strip = 0; strip < 4; ++strip) {
        int differences = 0, firstRow = -1;
        for (int y = 0; y < 1000; ++y)
            for (int x = 0; x < 4000; ++x)
                if (!near(canvas.at(x, strip * 1000 + y), 0xFF000000u | strips[std::size_t(strip)].rgb(x, y),
                          2)) {
                    ++differences;
                    if (firstRow < 0) firstRow = strip * 1000 + y;
                }
        EXPECT_EQ(differences, 0) << "rows " << strip * 1000 << " on, first at " << firstRow;
    }
}

// A screenshot without a clip: what the engine shows of the page.
browser::Picture24 shownNow(BrowserView& view) {
    QByteArray base64 =
        browser::engine::rawPageCall(&view, QStringLiteral("Page.captureScreenshot"), "{\"format\":\"png\"}");
    if (base64.startsWith('{'))
        base64 = QJsonDocument::fromJson(base64).object().value("data").toString().toLatin1();
    std::vector<std::uint8_t> png;
    browser::Picture24 picture;
    if (!browser::decodeBase64(base64.toStdString(), png) ||
        !browser::decodePng(png.data(), png.size(), picture, nullptr))
        return browser::Picture24();
    return picture;
}

bool samePicture(const browser::Picture24& a, const browser::Picture24& b) {
    if (a.width != b.width || a.height != b.height) return false;
    for (int y = 0; y < a.height; ++y)
        if (std::memcmp(a.row(y), b.row(y), std::size_t(a.width) * 3) != 0) return false;
    return true;
}

// Once the picture is done and the event loop runs, the engine shows the whole view again, as
// it did before: the live view and the next picture see all of it.
TEST_F(BrowserShownAreaTest, TheWholeViewIsShownAgainAfterThePicture) {
    view.resize(800, 1000);
    loadAndWait(view, pages.write(QStringLiteral("telltale.html"), tellTalePage(1000)));
    const browser::Picture24 before = shownNow(view);
    ASSERT_GT(before.width, 0);

    const auto turn = browser::eventLoopGeneration();
    ASSERT_TRUE(waitFor([&] { return browser::eventLoopGeneration() != turn; }));
    browser::engine::setWholeViewPixels(1);
    browser::engine::setAheadCapturePixels(800 * 200);
    Canvas canvas(800, 1000);
    gdi::IntersectClipRect(canvas.dc(), 0, 600, 800, 800);
    ASSERT_TRUE(view.draw(canvas.dc(), {0, 0, 800, 1000}));
    browser::engine::setWholeViewPixels(0);
    // Still in the picture's turn: the engine shows only what the last capture reached.
    ASSERT_FALSE(samePicture(shownNow(view), before));

    EXPECT_TRUE(waitFor([&] { return samePicture(shownNow(view), before); }));
}

} // namespace
