// velmora-capture opens the next page while the one before it is still being captured. These
// tests hold it to what a batch promised before that: pages that cannot reach each other, each
// output with its own page's picture and status, and each page within its own time limit.
#include "CliTestSupport.h"
#include "app/cli/CaptureOptions.h"
#include "app/cli/CaptureRunner.h"
#include "platform/browser/BrowserTesting.h"

#include <QColor>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <mutex>
#include <optional>

namespace {

using namespace clitest;

constexpr int ExitLoad = 3;

// Served for every path. The page at /first leaves whatever a page can leave behind (storage,
// a cookie) and keeps calling out on a channel that every page of its origin and browser context
// hears; every other page turns red when anything of that reaches it, green when nothing does.
const QByteArray kNeighbourPage = R"(<!doctype html><html><body style="margin:0;background:#fff"><script>
const channel = new BroadcastChannel('velmora');
let heard = false;
channel.onmessage = () => { heard = true; };
const first = location.pathname === '/first';
if (first) {
  localStorage.setItem('left', '1');
  document.cookie = 'left=1; max-age=3600';
  setInterval(() => channel.postMessage('from the first page'), 10);
}
window.verdict = () => {
  if (first) return '#33c';
  const seen = heard || localStorage.getItem('left') !== null || document.cookie.includes('left=');
  return seen ? '#c33' : '#3c3';
};
</script></body></html>)";

// Served for every path. The page at /first leaves everything a page of its origin can leave
// (storage of each kind, a cookie, a timer that keeps writing, last words on the way out) and
// paints itself blue. Every other page paints its left half red when anything of that reaches
// it, green when nothing does, and its right half blue when it was loaded in a view a page
// before it had (its history holds the blank page between them), grey in a fresh one.
const QByteArray kLeavesEverything = R"(<!doctype html><html><body style="margin:0;display:flex">
<div id="a" style="width:50%;height:100vh"></div><div id="b" style="width:50%;height:100vh"></div><script>
if (location.pathname === '/first') {
  localStorage.setItem('left', '1');
  sessionStorage.setItem('left', '1');
  document.cookie = 'left=1; max-age=3600';
  setInterval(() => { localStorage.setItem('tick', '1'); document.cookie = 'tick=1'; }, 1);
  addEventListener('pagehide', () => { localStorage.setItem('hide', '1'); document.cookie = 'hide=1'; });
  const open = indexedDB.open('left', 1);
  open.onupgradeneeded = () => open.result.createObjectStore('s');
  window.verdict = () => new Promise(done => { open.onsuccess = () => done(); if (open.readyState === 'done') done(); })
    .then(() => { a.style.background = b.style.background = '#33c'; });
} else {
  window.verdict = async () => {
    const names = (await indexedDB.databases()).map(d => d.name);
    const seen = localStorage.length || sessionStorage.length || document.cookie || names.length;
    a.style.background = seen ? '#c33' : '#3c3';
    b.style.background = history.length > 1 ? '#33c' : '#888';
  };
}
</script></body></html>)";

class PagesAhead : public CliTest {
  protected:
    QString writeBatch(const QStringList& lines) {
        return write("batch.txt", lines.join('\n').toUtf8() + '\n');
    }
    static QByteArray colourPage(const char* colour) {
        return QByteArray("<html><body style='margin:0;background:") + colour + "'></body></html>";
    }
    static std::vector<QJsonObject> reportLines(const QByteArray& out) {
        std::vector<QJsonObject> lines;
        for (const QByteArray& line : out.split('\n'))
            if (!line.trimmed().isEmpty()) lines.push_back(QJsonDocument::fromJson(line).object());
        return lines;
    }
};

// The second and third pages load while the first is still open (it waits 800 ms before its
// picture): none of them hears it, finds its storage or sends its cookie.
TEST_F(PagesAhead, APageOpenedAheadCannotReachOrBeReachedByThePageBeforeIt) {
    LocalServer server(kNeighbourPage);
    ASSERT_GT(server.port(), 0);
    const Outcome r =
        run({"--jobs", "1", "--width", "120", "--height", "90", "--wait", "800", "--javascript",
             "document.body.style.background = verdict()", "--batch",
             writeBatch({server.url("/first") + " first.png", server.url("/second") + " second.png",
                         server.url("/third") + " third.png"})});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    // The first page's own script ran, so it did call out while the others were open.
    EXPECT_TRUE(near(pixelOf("first.png", 60, 45), qRgb(0x33, 0x33, 0xcc), 2));
    for (const char* name : {"second.png", "third.png"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(near(pixelOf(name, 60, 45), qRgb(0x33, 0xcc, 0x33), 2))
            << "the page saw what the page before it left: " << std::hex << pixelOf(name, 60, 45);
    }
    EXPECT_FALSE(server.requestFor("/second").isEmpty());
    EXPECT_FALSE(server.requestFor("/second").contains("left=1"))
        << server.requestFor("/second").toStdString();
    EXPECT_FALSE(server.requestFor("/third").contains("left=1")) << server.requestFor("/third").toStdString();
}

// Pages that come after a page in the view it had find nothing of it, in the picture and in
// what they send: a batch longer than the views one engine keeps open.
TEST_F(PagesAhead, APageLoadedWhereAnotherWasFindsNothingOfIt) {
    LocalServer server(kLeavesEverything);
    ASSERT_GT(server.port(), 0);
    QStringList batch{server.url("/first") + " p0.png"};
    for (int i = 1; i < 7; ++i)
        batch << server.url(QStringLiteral("/p%1").arg(i)) + QStringLiteral(" p%1.png").arg(i);
    const Outcome r = run({"--jobs", "1", "--quiet", "--width", "120", "--height", "60", "--javascript",
                           "verdict()", "--batch", writeBatch(batch)});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(near(pixelOf("p0.png", 30, 30), qRgb(0x33, 0x33, 0xcc), 2));
    int reused = 0;
    for (int i = 1; i < 7; ++i) {
        const QString name = QStringLiteral("p%1.png").arg(i);
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(near(pixelOf(name, 30, 30), qRgb(0x33, 0xcc, 0x33), 2))
            << "the page found what the first page left: " << std::hex << pixelOf(name, 30, 30);
        reused += near(pixelOf(name, 90, 30), qRgb(0x33, 0x33, 0xcc), 2) ? 1 : 0;
        const QByteArray request = server.requestFor(QStringLiteral("/p%1").arg(i).toUtf8());
        EXPECT_FALSE(request.isEmpty());
        EXPECT_FALSE(request.contains("left=") || request.contains("tick=") || request.contains("hide="))
            << request.toStdString();
    }
    // Otherwise the test above proves nothing about views that are used again.
    EXPECT_GE(reused, 3);
}

// Good pages between pages that fail in each way a page can fail before its picture: every line
// of the report and every output belong to their own page, in batch order, and a page that never
// loads ends within its own limit, however long it was open before its turn came.
TEST_F(PagesAhead, EachPageKeepsItsOwnPictureStatusAndTimeLimit) {
    LocalServer server(colourPage("#ccc"));
    ASSERT_GT(server.port(), 0);
    const int limitS = 3;
    struct Line {
        QString address;
        const char* output;
        int status;
        QRgb colour; // of the picture written; unused when the page fails
        QString says;
    } const lines[] = {
        {write("red.html", colourPage("#c22")), "o0.png", 0, qRgb(0xcc, 0x22, 0x22), ""},
        {path("missing.html"), "o1.png", ExitLoad, 0, "no such file"},
        {write("green.html", colourPage("#2c2")), "o2.png", 0, qRgb(0x22, 0xcc, 0x22), ""},
        // The server never answers: opened ahead during the page before it, it fails in its turn.
        {server.url("/hold"), "o3.png", ExitLoad, 0,
         "did not finish loading within 3 s (its server had not sent all of the page)"},
        {write("blue.html", colourPage("#22c")), "o4.png", 0, qRgb(0x22, 0x22, 0xcc), ""},
        {write("loop.html", "<html><body>x<script>for (;;) {}</script></body></html>"), "o5.png", ExitLoad, 0,
         "did not finish loading"},
        {write("yellow.html", colourPage("#cc2")), "o6.png", 0, qRgb(0xcc, 0xcc, 0x22), ""},
        // A picture of the page that never comes holds its load event back: the message names it.
        {write("held.html", "<html><body><img src='" + server.url("/hold.png").toUtf8() + "'></body></html>"),
         "o7.png", ExitLoad, 0,
         "did not finish loading within 3 s (still waiting for " + server.url("/hold.png") + ")"},
    };
    QStringList batch;
    for (const Line& line : lines)
        batch << line.address + " " + line.output;
    QElapsedTimer clock;
    clock.start();
    const Outcome r = run({"--jobs", "1", "--quiet", "--timeout", QString::number(limitS), "--width", "100",
                           "--height", "80", "--report", "-", "--batch", writeBatch(batch)},
                          120000);
    const qint64 runMs = clock.elapsed();
    server.release();
    EXPECT_EQ(r.status, ExitLoad) << r.err.toStdString();
    const std::vector<QJsonObject> report = reportLines(r.out);
    ASSERT_EQ(report.size(), std::size(lines)) << r.out.toStdString();
    for (int i = 0; i < int(std::size(lines)); ++i) {
        const Line& line = lines[i];
        const QJsonObject& o = report[std::size_t(i)];
        SCOPED_TRACE(line.output);
        // One engine: the pages end in batch order.
        EXPECT_EQ(o["index"].toInt(), i);
        EXPECT_EQ(o["output"].toString(), QString::fromLatin1(line.output));
        EXPECT_EQ(o["status"].toInt(), line.status) << o["message"].toString().toStdString();
        EXPECT_TRUE(o["message"].toString().contains(line.says)) << o["message"].toString().toStdString();
        if (line.status == 0) {
            EXPECT_TRUE(near(pixelOf(line.output, 50, 40), line.colour, 2))
                << std::hex << pixelOf(line.output, 50, 40);
        } else {
            EXPECT_FALSE(QFile::exists(path(line.output)));
        }
        // Each page's time counts from its turn and is bounded by its limit.
        EXPECT_LT(o["ms"].toInteger(), (limitS + 2) * 1000) << o["message"].toString().toStdString();
    }
    // Three pages that use all of their limit, five quick ones, and the engine's start.
    EXPECT_LT(runMs, 3 * (limitS + 2) * 1000 + 30000);
}

// A page whose last handler never returns (on pagehide, on unload) is taken as any page, but
// it holds its renderer for good once it is left: the pages that come after it in its view
// load in a fresh one, well within their own limits, instead of waiting all of them out.
TEST_F(PagesAhead, APageThatNeverLetsGoOfItsRendererDoesNotHoldThePagesAfterIt) {
    const int limitS = 20;
    const char* colours[] = {"#c22", "#2c2", "#22c", "#cc2", "#2cc", "#c2c", "#888", "#444"};
    QStringList batch;
    for (int i = 0; i < int(std::size(colours)); ++i) {
        QByteArray page = colourPage(colours[i]);
        if (i < 2)
            page.replace("</body>", QByteArray("<script>addEventListener('") +
                                        (i == 0 ? "pagehide" : "unload") +
                                        "', () => { for (;;) {} });</script></body>");
        batch << write(QStringLiteral("p%1.html").arg(i), page) + QStringLiteral(" p%1.png").arg(i);
    }
    const Outcome r = run({"--jobs", "1", "--quiet", "--timeout", QString::number(limitS), "--width", "100",
                           "--height", "80", "--report", "-", "--batch", writeBatch(batch)},
                          120000);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const std::vector<QJsonObject> report = reportLines(r.out);
    ASSERT_EQ(report.size(), std::size(colours)) << r.out.toStdString();
    for (int i = 0; i < int(std::size(colours)); ++i) {
        const QJsonObject& o = report[std::size_t(i)];
        SCOPED_TRACE(i);
        EXPECT_EQ(o["status"].toInt(), 0) << o["message"].toString().toStdString();
        const QString output = QStringLiteral("p%1.png").arg(i);
        EXPECT_TRUE(near(pixelOf(output, 50, 40), QColor(colours[i]).rgb(), 2))
            << std::hex << pixelOf(output, 50, 40);
        EXPECT_LT(o["ms"].toInteger(), limitS * 1000 / 2) << o["message"].toString().toStdString();
    }
}

// In the tool's own process: a page whose view a page before left, and which could not be
// cleared away, loads in a fresh view instead and comes out as any other.
TEST(PagesReused, APageWhoseViewCouldNotBeClearedLoadsInAFreshOne) {
    QTemporaryDir dir;
    const char* colours[] = {"#c33", "#3c3", "#33c", "#cc3", "#3cc", "#c3c", "#933", "#393", "#339", "#993"};
    std::vector<app::cli::Job> jobs;
    for (int i = 0; i < 10; ++i) {
        const QString page = dir.filePath(QStringLiteral("%1.html").arg(i));
        QFile file(page);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("<html><body style='margin:0;background:") + colours[i] + "'></body></html>");
        jobs.push_back({page, dir.filePath(QStringLiteral("%1.png").arg(i)), i});
    }
    const app::cli::ParseResult parsed = app::cli::parseArguments(
        {"--jobs", "1", "--width", "200", "--height", "150", "--timeout", "60", "x.html", "x.png"});
    ASSERT_TRUE(parsed.ok) << parsed.error.toStdString();

    struct Source : app::cli::JobSource {
        std::vector<app::cli::Job> jobs;
        std::size_t next_ = 0;
        std::optional<app::cli::Job> next() override {
            if (next_ == jobs.size()) return std::nullopt;
            return jobs[next_++];
        }
    } source;
    source.jobs = jobs;
    struct Sink : app::cli::PageSink {
        std::mutex mutex;
        std::vector<app::cli::PageResult> results;
        void pageFinished(const app::cli::PageResult& r) override {
            std::lock_guard lock(mutex);
            results.push_back(r);
        }
    } sink;

    // The first page to be loaded where another was (the seventh: six are open at first) finds
    // its view's wipe refused; the pages after it are loaded where others were, as usual.
    browser::engine::failNextWipes(1);
    const std::uint64_t made = browser::engine::pagesMade();
    {
        app::cli::CaptureRunner runner(parsed.options, sink);
        runner.run(source);
    }
    EXPECT_FALSE(browser::engine::takeWipeFailure()) << "no view was reused";
    EXPECT_GE(browser::engine::pagesMade() - made, 7u)
        << "the page had a view of its own (six were made at first)";
    ASSERT_EQ(sink.results.size(), jobs.size());
    for (const app::cli::PageResult& r : sink.results) {
        EXPECT_EQ(r.status, 0) << r.index << ": " << r.message.toStdString();
        const QImage picture(jobs[std::size_t(r.index)].output);
        ASSERT_FALSE(picture.isNull()) << r.index;
        EXPECT_TRUE(near(picture.pixel(100, 75), QColor(colours[r.index]).rgb(), 0)) << r.index;
    }
}

} // namespace
