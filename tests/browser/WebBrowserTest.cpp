// The host widget: sizing through the content extent, the live 1:1 view, and the user's mouse,
// wheel and keys reaching the page.
#include "document/WebBrowser.h"

#include "tests/browser/BrowserFixture.h"

#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

using namespace browsertest;

namespace {

TEST(ContentExtent, RoundsToHundredthsOfAMillimetreAndBackWithoutLosingAPixel) {
    struct Case {
        long long pixels;
        int ppi;
        long long himetric;
    };
    const Case cases[] = {
        {800, 96, 21167}, {1000, 96, 26458}, {800, 120, 16933}, {1, 96, 26}, {20000, 96, 529167}};
    for (const Case& c : cases) {
        EXPECT_EQ(TWebBrowser::pixelsToHimetric(c.pixels, c.ppi), c.himetric) << c.pixels << " @ " << c.ppi;
        EXPECT_EQ(TWebBrowser::himetricToPixels(c.himetric, c.ppi), c.pixels) << c.pixels << " @ " << c.ppi;
    }
    for (int ppi : {72, 96, 120, 144, 192})
        for (long long px = 1; px <= 100000; ++px)
            ASSERT_EQ(TWebBrowser::himetricToPixels(TWebBrowser::pixelsToHimetric(px, ppi), ppi), px) << ppi;
}

TEST(TWebBrowserTest, WidgetFollowsTheViewAndRefusedSizesChangeNothing) {
    TWebBrowser web;
    EXPECT_EQ(web.size(), QSize(2000, 2000));
    web.setViewWidth(800);
    web.setViewHeight(1000);
    EXPECT_EQ(QSize(web.viewWidth(), web.viewHeight()), QSize(800, 1000));
    EXPECT_EQ(web.size(), QSize(800, 1000));
    for (int bad : {0, -5, browser::BrowserView::maxDimension + 1}) {
        web.setViewWidth(bad);
        web.setViewHeight(bad);
    }
    EXPECT_EQ(web.view()->size(), QSize(800, 1000));
    EXPECT_EQ(web.size(), QSize(800, 1000));
}

class TWebBrowserLive : public ::testing::Test {
  protected:
    void SetUp() override {
        web.setViewWidth(400);
        web.setViewHeight(300);
        web.show();
        QObject::connect(&web, &TWebBrowser::OnDocumentComplete,
                         [this](QObject* sender, const QString&, const QString& url) {
                             senders << sender;
                             urls << url;
                         });
    }
    QRgb shown(int x, int y) { return web.grab().toImage().pixel(x, y) | 0xFF000000u; }
    void open(const QString& path) {
        const int before = urls.size();
        web.Navigate(path);
        ASSERT_TRUE(waitFor(
            [&] { return urls.size() > before && urls.last().endsWith(QFileInfo(path).fileName()); }));
    }

    Pages pages;
    TWebBrowser web;
    QList<QObject*> senders;
    QStringList urls;
};

TEST_F(TWebBrowserLive, ShowsThePageOneToOneAndFollowsItsChanges) {
    open(pages.write(QStringLiteral("live.html"),
                     "<html><body style='margin:0'><div id=d style='position:absolute;left:100px;top:50px;"
                     "width:200px;height:100px;background:#f00'></div></body></html>"));
    EXPECT_EQ(senders.last(), &web);
    EXPECT_TRUE(waitFor([&] { return near(shown(200, 100), red); }));
    EXPECT_TRUE(near(shown(99, 100), white));
    EXPECT_TRUE(near(shown(100, 100), red));
    // The page changes by itself: the view follows without being asked.
    evaluate(*web.view(), QStringLiteral("document.getElementById('d').style.background = '#00f'"));
    EXPECT_TRUE(waitFor([&] { return near(shown(200, 100), blue); }));
    // A new size is laid out and shown.
    web.setViewWidth(200);
    EXPECT_EQ(web.width(), 200);
    EXPECT_TRUE(waitFor([&] { return web.view()->liveFrame().width() == 200; }));
    EXPECT_TRUE(near(shown(150, 100), blue));
}

TEST_F(TWebBrowserLive, ClicksFollowLinksAndWheelAndKeysReachThePage) {
    pages.write(QStringLiteral("target.html"), "<p>arrived</p>");
    open(pages.write(QStringLiteral("link.html"),
                     "<html><body style='margin:0;height:3000px'>"
                     "<input id=i style='position:absolute;left:0;top:0;width:200px;height:30px'>"
                     "<a href='target.html' style='position:absolute;left:0;top:100px;width:300px;"
                     "height:100px;display:block;background:#0f0'></a></body></html>"));
    QTest::mouseClick(&web, Qt::LeftButton, {}, QPoint(20, 15));
    QTest::keyClicks(&web, QStringLiteral("Ab1"));
    EXPECT_TRUE(waitFor([&] {
        return evaluate(*web.view(), QStringLiteral("document.getElementById('i').value")) == "[\"Ab1\"]";
    }));

    QWheelEvent wheel(QPointF(150, 150), web.mapToGlobal(QPointF(150, 150)), QPoint(), QPoint(0, -240),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&web, &wheel);
    EXPECT_TRUE(waitFor([&] { return evaluate(*web.view(), QStringLiteral("scrollY > 0")) == "[true]"; }));
    evaluate(*web.view(), QStringLiteral("window.scrollTo(0, 0)"));

    QTest::mouseClick(&web, Qt::LeftButton, {}, QPoint(150, 150));
    EXPECT_TRUE(
        waitFor([&] { return !urls.isEmpty() && urls.last().endsWith(QStringLiteral("target.html")); }));
}

// A page opened while the view is hidden (opened from another page of the window) shows as soon
// as the view is shown, although the finished page sends no new frame by itself.
TEST_F(TWebBrowserLive, APageLoadedWhileHiddenShowsWhenTheViewIsShown) {
    web.hide();
    const QString path = pages.write(QStringLiteral("hidden.html"),
                                     "<html><body style='margin:0;background:#f00'></body></html>");
    const int before = urls.size();
    web.Navigate(path);
    ASSERT_TRUE(waitFor([&] { return urls.size() > before; }));
    web.show();
    EXPECT_TRUE(waitFor([&] { return near(shown(200, 150), red); }));
    // And again after leaving the page and coming back.
    web.hide();
    web.show();
    EXPECT_TRUE(waitFor([&] { return near(shown(200, 150), red); }));
}

// Mouse moves far faster than the page takes them: each chain of moves ends when its last
// answer is in, and nothing keeps itself alive (the sanitizer run checks for leaks at exit).
TEST_F(TWebBrowserLive, MouseMovesLeaveNothingBehind) {
    open(pages.write(QStringLiteral("moves.html"),
                     "<html><body style='margin:0' onmousemove='window.moves=(window.moves||0)+1'>"
                     "</body></html>"));
    for (int i = 0; i < 500; ++i)
        QTest::mouseMove(&web, QPoint(10 + i % 300, 10 + i % 200));
    EXPECT_TRUE(waitFor([&] { return browser::InputForwarder::movesInFlight() == 0; }));
    EXPECT_NE(evaluate(*web.view(), QStringLiteral("window.moves || 0")), "[0]");
}

TEST(TWebBrowserOleDraw, DrawsTheHostedView) {
    Pages pages;
    TWebBrowser web;
    web.setViewWidth(800);
    web.setViewHeight(1000);
    loadAndWait(*web.view(), pages.write(QStringLiteral("blocks.html"), blocksPage()));
    Canvas canvas(400, 500);
    const gdi::RECT bounds{0, 0, 400, 500};
    EXPECT_EQ(::OleDraw(&web, browser::DVASPECT_CONTENT, canvas.dc(), &bounds), browser::S_OK);
    EXPECT_TRUE(near(canvas.at(100, 50), red, 8));
    EXPECT_EQ(::OleDraw(nullptr, browser::DVASPECT_CONTENT, canvas.dc(), &bounds), browser::E_INVALIDARG);
}

} // namespace
