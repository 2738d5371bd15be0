// A picture shows one moment of a page that has settled: its time stands still while the pieces
// are captured, a whole-page picture keeps the page's own viewport, and late content is in it.
#include "platform/browser/BrowserView.h"
#include "platform/gdi/Gdi.h"
#include "tests/browser/BrowserFixture.h"
#include "tests/common/TestPdf.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <set>

namespace {

using browser::BrowserView;
using namespace browsertest;

class PageMomentTest : public ::testing::Test {
  protected:
    void TearDown() override { browser::engine::setAheadCapturePixels(0); }

    // Draws the view into bounds strip by strip, as a capture in pieces does, without running
    // the event loop in between.
    void drawInStrips(Canvas& canvas, int width, int height, int rows) {
        for (int y = 0; y < height; y += rows) {
            gdi::SelectClipRgn(canvas.dc(), nullptr);
            gdi::IntersectClipRect(canvas.dc(), 0, y, width, std::min(height, y + rows));
            ASSERT_TRUE(view.draw(canvas.dc(), {0, 0, width, height})) << view.lastDrawError().toStdString();
        }
    }

    Pages pages;
    BrowserView view;
};

// A page whose colour changes every 50 ms by a CSS animation, by a timer and by frame callbacks
// at once, captured in many small engine captures: every strip shows the same moment.
TEST_F(PageMomentTest, EveryPieceOfAPictureShowsTheSameMoment) {
    view.resize(200, 3000);
    loadAndWait(view, pages.write(QStringLiteral("moving.html"), R"(<!doctype html><html><head><style>
@keyframes cycle { 0% {background:#f00} 25% {background:#0f0} 50% {background:#00f} 75% {background:#ff0} }
#css { height: 1000px; animation: cycle 200ms steps(1) infinite; }
</style></head><body style="margin:0">
<div id=css></div><div id=timer style="height:1000px"></div><div id=raf style="height:1000px"></div>
<script>
const colours = ['#f00', '#0f0', '#00f', '#ff0'];
let t = 0, f = 0;
setInterval(() => { document.getElementById('timer').style.background = colours[t++ % 4]; }, 50);
(function frame() { document.getElementById('raf').style.background = colours[(f++ >> 2) % 4];
  requestAnimationFrame(frame); })();
</script></body></html>)"));
    browser::engine::setAheadCapturePixels(200 * 100);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        Canvas canvas(200, 3000);
        drawInStrips(canvas, 200, 3000, 50);
        // Each part of the page is one colour from top to bottom.
        for (int part = 0; part < 3; ++part) {
            std::set<QRgb> colours;
            for (int y = part * 1000 + 5; y < (part + 1) * 1000; y += 50)
                colours.insert(canvas.at(100, y));
            EXPECT_EQ(colours.size(), 1u) << "part " << part << " changed while it was captured";
        }
        // Time runs again between pictures.
        QCoreApplication::processEvents();
    }
    // And the page went on: its timer has run since.
    const QByteArray before = evaluate(view, QStringLiteral("t"));
    EXPECT_TRUE(waitFor([&] { return evaluate(view, QStringLiteral("t")) != before; }));
}

// A whole-page picture of a page laid out in viewport units: the view reaches below the page's
// viewport, which keeps the height given, so the footer stays the last thing on the page.
TEST_F(PageMomentTest, AWholePageKeepsItsViewportHeight) {
    view.resize(800, 1000);
    loadAndWait(view, pages.write(QStringLiteral("vh.html"),
                                  "<!doctype html><html><body style='margin:0'>"
                                  "<header style='height:120px;background:#f00'></header>"
                                  "<main style='min-height:100vh;background:#0f0'></main>"
                                  "<footer style='height:200px;background:#00f'></footer></body></html>"));
    const auto networkBy = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    view.settle(networkBy);
    EXPECT_EQ(view.growToDocument(BrowserView::maxDimension, networkBy), 1320);
    EXPECT_EQ(view.size(), QSize(800, 1320));
    EXPECT_EQ(view.layoutHeight(), 1000);
    Canvas canvas(800, 1320);
    drawInStrips(canvas, 800, 1320, 500);
    EXPECT_TRUE(near(canvas.at(400, 60), red, 8));
    EXPECT_TRUE(near(canvas.at(400, 121), green, 8));
    EXPECT_TRUE(near(canvas.at(400, 1118), green, 8));
    EXPECT_TRUE(near(canvas.at(400, 1121), blue, 8));
    EXPECT_TRUE(near(canvas.at(400, 1319), blue, 8)) << "the footer is the last 200 rows";
}

// A lazy image without a size far down grows the page only once it has loaded: the whole page
// is measured after it has, and the picture ends with the image, drawn in full.
TEST_F(PageMomentTest, AWholePageTakesInLazyImagesThatGrowIt) {
    // A 40 x 300 picture of solid blue, as an SVG the engine loads like any image.
    pages.write(QStringLiteral("tall.svg"), "<svg xmlns='http://www.w3.org/2000/svg' width='40' height='300'>"
                                            "<rect width='40' height='300' fill='#00f'/></svg>");
    view.resize(400, 600);
    loadAndWait(view, pages.write(QStringLiteral("lazy.html"),
                                  "<!doctype html><html><body style='margin:0;background:#fff'>"
                                  "<div style='height:5000px;background:#0f0'></div>"
                                  "<img loading=lazy src='tall.svg' style='display:block'>"
                                  "<div style='height:10px;background:#f00'></div></body></html>"));
    const auto networkBy = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    view.settle(networkBy);
    EXPECT_EQ(view.growToDocument(BrowserView::maxDimension, networkBy), 5310);
    Canvas canvas(400, 5310);
    drawInStrips(canvas, 400, 5310, 1000);
    EXPECT_TRUE(near(canvas.at(20, 5001), blue, 8));
    EXPECT_TRUE(near(canvas.at(20, 5299), blue, 8)) << "the image is drawn to its end";
    EXPECT_TRUE(near(canvas.at(20, 5305), red, 8)) << "the end of the page is in the picture";
}

// The engine's viewer draws a PDF that a page shows in a frame well after the page has gone
// quiet: the page waits for the drawn document, but not for what goes on moving beside it.
TEST_F(PageMomentTest, APdfInAFrameIsWaitedForButNotWhatMovesBesideIt) {
    pages.write(QStringLiteral("green.pdf"), testing_support::onePagePdf("0 0.6 0.3", false, 1000));
    view.resize(800, 700);
    loadAndWait(view, pages.write(QStringLiteral("framed.html"), R"(<!doctype html><html><head><style>
@keyframes turn { to { transform: rotate(1turn) } }
#moving { position:absolute; left:650px; top:20px; width:100px; height:100px;
          border-top:10px solid #f00; animation: turn 700ms linear infinite; }
</style></head><body style='margin:0'>
<iframe src='green.pdf' style='display:block;border:0;width:600px;height:600px'></iframe>
<div id=moving></div></body></html>)"));
    const std::uint64_t before = browser::engine::screenshotCount();
    view.settle(std::chrono::steady_clock::now() + std::chrono::seconds(30));
    // Views of the whole page, which never come out alike, would be taken every 150 ms for 3 s.
    EXPECT_LE(browser::engine::screenshotCount() - before, 6u) << "the moving box was waited for";
    EXPECT_EQ(view.pdfTrouble(), BrowserView::PdfTrouble::None);
    Canvas canvas(800, 700);
    ASSERT_TRUE(view.draw(canvas.dc(), {0, 0, 800, 700})) << view.lastDrawError().toStdString();
    // The document, and its page's picture in the viewer's list of pages (left of the middle).
    int documentPixels = 0, listPixels = 0, looked = 0;
    for (int y = 0; y < 600; y += 4)
        for (int x = 0; x < 600; x += 4, ++looked)
            (x < 300 ? listPixels : documentPixels) += near(canvas.at(x, y), 0xFF00994D, 12);
    EXPECT_GT(documentPixels, looked / 10) << "the viewer had not drawn the document";
    EXPECT_GT(listPixels, 0) << "the viewer had not drawn its list of pages";
}

} // namespace
