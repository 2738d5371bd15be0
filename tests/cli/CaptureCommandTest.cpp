// velmora-capture end to end: the real program, the real engine, pages written by the tests.
#include "CliTestSupport.h"
#include "app/cli/CaptureOptions.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <webp/decode.h>

using namespace app::cli;
using namespace clitest;

namespace {

// Red 200 x 100 at (100, 50), blue 100 x 100 at (400, 300), green 100 x 100 at (700, 900).
const QByteArray kBlocks = R"(<html><body style="margin:0;background:#fff">
<div style="position:absolute;left:100px;top:50px;width:200px;height:100px;background:#f00"></div>
<div style="position:absolute;left:400px;top:300px;width:100px;height:100px;background:#00f"></div>
<div style="position:absolute;left:700px;top:900px;width:100px;height:100px;background:#0f0"></div>
</body></html>)";

class CaptureCommand : public clitest::CliTest {
  protected:
    Outcome run(const QStringList& arguments, int timeoutMs = 60000) {
        return CliTest::run(arguments, timeoutMs);
    }

    // The blocks page's colours at view positions, at the given output percentage.
    void expectBlocks(const QImage& image, int percent, int tolerance) {
        struct Probe {
            int x, y;
            QRgb colour;
        } const probes[] = {{200, 100, qRgb(255, 0, 0)},
                            {450, 350, qRgb(0, 0, 255)},
                            {750, 950, qRgb(0, 255, 0)},
                            {50, 50, qRgb(255, 255, 255)},
                            {600, 600, qRgb(255, 255, 255)}};
        for (const Probe& p : probes) {
            const QRgb got = image.pixel(p.x * percent / 100, p.y * percent / 100);
            EXPECT_TRUE(near(got, p.colour, tolerance)) << p.x << "," << p.y << ": " << std::hex << got;
        }
    }

    // Reads a picture file; WebP through libwebp itself, which Qt may have no plugin for.
    QImage load(const QString& name) {
        QFile f(path(name));
        if (!f.open(QIODevice::ReadOnly)) return {};
        const QByteArray data = f.readAll();
        if (!data.startsWith("RIFF")) return QImage::fromData(data);
        int w = 0, h = 0;
        std::uint8_t* rgb = WebPDecodeRGB(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                          std::size_t(data.size()), &w, &h);
        if (!rgb) return {};
        QImage image = QImage(rgb, w, h, w * 3, QImage::Format_RGB888).copy();
        WebPFree(rgb);
        return image;
    }
};

TEST_F(CaptureCommand, WritesEachFormatWithThePagesPixels) {
    const QString page = write("blocks.html", kBlocks);
    struct Case {
        const char* output;
        int quality;
        int tolerance;
        const char* magic;
    } const cases[] = {{"shot.png", 90, 0, "\x89PNG"},   {"shot.bmp", 90, 0, "BM"},
                       {"shot.jpg", 90, 12, "\xff\xd8"}, {"shot.jpeg", 90, 12, "\xff\xd8"},
                       {"shot.picture", 90, 0, "BM"},    {"shot.webp", 100, 0, "RIFF"},
                       {"lossy.WEBP", 60, 16, "RIFF"}};
    // One run for each quality, its files a batch.
    for (const int quality : {90, 100, 60}) {
        SCOPED_TRACE(quality);
        QByteArray lines;
        for (const auto& c : cases)
            if (c.quality == quality) lines += batchLine(page, path(c.output));
        const Outcome r =
            CliTest::run({"--quiet", "--quality", QString::number(quality), "--batch", "-"}, 90000, lines);
        ASSERT_EQ(r.status, ExitOk) << r.err.toStdString();
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        QFile file(path(c.output));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.read(4).startsWith(c.magic));
        const QImage image = load(c.output);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(800, 1000));
        expectBlocks(image, 100, c.tolerance);
    }
}

// A PNG of the whole view at 100 % is the engine's own file; every other picture is drawn piece
// by piece. Both must hold the same pixels, and the report must tell the file as it is.
// A PNG is the engine's own file for the whole view at 100 %, and is otherwise encoded band by
// band as the picture is drawn: either way it has the pixels of the picture drawn into a bitmap,
// and the report gives its size.
TEST_F(CaptureCommand, APngHasThePixelsOfTheDrawnPicture) {
    const QString page = write("mixed.html", R"html(<html><body style="margin:0;font:16px serif">
<div style="height:120px;background:linear-gradient(90deg,#123,#fe4,#0a8)"></div>
<p style="margin:8px">Text that is set, hinted and smoothed by the engine, 0123456789.</p>
<div style="margin:8px;width:200px;height:90px;border-radius:30px;background:radial-gradient(#f0a,#03c)"></div>
<svg width="300" height="80"><circle cx="40" cy="40" r="33" fill="#c60"/><path d="M90 70 L290 10" stroke="#000"/></svg>
<div style="height:1100px;background:linear-gradient(#fff,#09c 40%,#c30)"></div><p>The end.</p>
</body></html>)html");
    struct Case {
        const char* what;
        QStringList options;
        QSize size;
    } const cases[] = {
        {"the whole view", {}, QSize(500, 400)},
        {"at 50 %", {"--size", "50"}, QSize(250, 200)},
        {"the whole page", {"--full-page"}, QSize(500, 0)},
        {"the whole page at 150 %", {"--full-page", "--size", "150"}, QSize(750, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QStringList view = QStringList{"--quiet", "--width", "500", "--height", "400"} + c.options;
        QFile::remove(path("report.json"));
        const Outcome r =
            CliTest::run(view + QStringList{"--report", path("report.json"), "--batch", "-"}, 90000,
                         batchLine(page, path("picture.png")) + batchLine(page, path("drawn.bmp")));
        ASSERT_EQ(r.status, ExitOk) << r.err.toStdString();
        const QImage a = QImage(path("picture.png")).convertToFormat(QImage::Format_RGB32);
        const QImage b = QImage(path("drawn.bmp")).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(a.width(), c.size.width());
        if (c.size.height() > 0)
            ASSERT_EQ(a.height(), c.size.height());
        else
            ASSERT_GT(a.height(), 1300 * c.size.width() / 500) << "the page is taller than the view";
        ASSERT_EQ(b.size(), a.size());
        int differing = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                differing += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
        EXPECT_EQ(differing, 0);
        QFile report(path("report.json"));
        ASSERT_TRUE(report.open(QIODevice::ReadOnly));
        QJsonObject line;
        for (const QByteArray& text : report.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(text).object();
            if (o["index"].toInt(-1) == 0) line = o;
        }
        ASSERT_EQ(line["output"].toString(), path("picture.png"));
        EXPECT_EQ(line["width"].toInt(), a.width());
        EXPECT_EQ(line["height"].toInt(), a.height());
        EXPECT_EQ(line["bytes"].toInteger(), QFileInfo(path("picture.png")).size());
    }
}

TEST_F(CaptureCommand, SizeAndFullPageSetThePicturesSize) {
    const QString page = write("blocks.html", kBlocks);
    Outcome r = run({"--quiet", "--size", "150", page, path("big.png")});
    ASSERT_EQ(r.status, ExitOk) << r.err.toStdString();
    QImage big(path("big.png"));
    EXPECT_EQ(big.size(), QSize(1200, 1500));
    expectBlocks(big, 150, 0);

    // A page 2600 pixels tall, with a mark at its very end.
    const QString tall =
        write("tall.html", "<html><body style='margin:0'><div style='height:2590px;background:#fff'>"
                           "</div><div style='height:10px;background:#00f'></div></body></html>");
    r = run({"--quiet", "--full-page", tall, path("tall.png")});
    ASSERT_EQ(r.status, ExitOk) << r.err.toStdString();
    QImage whole(path("tall.png"));
    EXPECT_EQ(whole.size(), QSize(800, 2600));
    EXPECT_TRUE(near(whole.pixel(400, 2595), qRgb(0, 0, 255), 0));
    EXPECT_TRUE(near(whole.pixel(400, 2585), qRgb(255, 255, 255), 0));
}

// A whole page that a view cannot hold, taller than the tallest view or growing each time it is
// shown whole (endless scrolling), is taken as far as the view reaches, with status 0 and a note
// on the page's line and in the report; so is one that scrolls inside an element as tall as the
// view (an application's layout), with the --height that shows all of it. A page that fits, and
// one with a small box of its own that scrolls, have no note.
TEST_F(CaptureCommand, AWholePageTheViewCannotHoldIsCutAndSaysSo) {
    const QString tallest = write("tallest.html", "<body style='margin:0'><div style='height:130000px;"
                                                  "background:linear-gradient(#0a8,#c30)'></div></body>");
    const QString endless = write("endless.html", R"html(<body style="margin:0"><div id="c"></div>
<div id="s" style="height:10px"></div><script>
const c = document.getElementById('c');
const more = () => { for (let i = 0; i < 3; ++i) c.insertAdjacentHTML('beforeend', '<div style="height:400px"></div>'); };
more();
new IntersectionObserver(e => { if (e.some(x => x.isIntersecting)) more(); }).observe(document.getElementById('s'));
</script></body>)html");
    const QString fits =
        write("fits.html", "<body style='margin:0'><div style='height:3000px'></div></body>");
    const QString app = write("app.html", R"html(<body style="margin:0">
<div style="height:40px;background:#000"></div>
<main style="height:calc(100vh - 40px);overflow:auto"><div style="height:1990px;background:#0c0"></div>
<div style="height:10px;background:#00f"></div></main></body>)html");
    const QString box = write("box.html", "<body style='margin:0'><div style='height:40px;overflow:auto'>"
                                          "<div style='height:500px'></div></div></body>");
    const QString batch =
        write("batch.txt", QStringLiteral("%1 %2\n%3 %4\n%5 %6\n%7 %8\n%9 %10\n")
                               .arg(tallest, path("tallest.png"), endless, path("endless.png"), fits,
                                    path("fits.png"), app, path("app.png"))
                               .arg(box, path("box.png"))
                               .toUtf8());
    const Outcome r = run({"--width", "20", "--height", "300", "--full-page", "--jobs", "1", "--report",
                           path("report.json"), "--batch", batch});
    ASSERT_EQ(r.status, ExitOk) << r.err.toStdString();
    EXPECT_TRUE(
        r.err.contains("(20 x 100000): the page is 130000 pixels tall, and the picture takes its first "
                       "100000 (the tallest a view can be)"))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("the page grew each time it was shown whole (8 times")) << r.err.toStdString();
    EXPECT_EQ(QImage(path("tallest.png")).size(), QSize(20, 100000));
    QFile report(path("report.json"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    std::map<int, QJsonObject> lines;
    for (const QByteArray& line : report.readAll().split('\n'))
        if (!line.trimmed().isEmpty()) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            lines[o["index"].toInt()] = o;
        }
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(lines[0]["message"].toString().startsWith("the page is 130000 pixels tall"));
    const QString grew = lines[1]["message"].toString();
    EXPECT_TRUE(grew.contains(QStringLiteral("takes its first %1 of its").arg(lines[1]["height"].toInt())))
        << grew.toStdString();
    EXPECT_EQ(lines[2]["message"].toString(), QString());
    EXPECT_EQ(lines[2]["height"].toInt(), 3000);
    // 300 rows of view, 40 of them the header: the content's 2000 rows need 2040.
    EXPECT_EQ(lines[3]["message"].toString(),
              "the page scrolls inside an element rather than as a whole, and the picture shows what the "
              "view shows of it (--height 2040 shows all of it)");
    EXPECT_EQ(lines[3]["height"].toInt(), 300);
    EXPECT_EQ(lines[4]["message"].toString(), QString());

    // And the --height it names does show all of it, the last rows of the content at the bottom.
    const Outcome all = run({"--width", "20", "--height", "2040", "--full-page", app, path("app-all.bmp")});
    ASSERT_EQ(all.status, ExitOk) << all.err.toStdString();
    EXPECT_TRUE(all.err.contains("(20 x 2040)\n")) << "no note: " << all.err.toStdString();
    const QImage whole(path("app-all.bmp"));
    ASSERT_EQ(whole.size(), QSize(20, 2040));
    EXPECT_EQ(whole.pixel(10, 2035), qRgb(0, 0, 255));
    EXPECT_EQ(whole.pixel(10, 2025), qRgb(0, 0xcc, 0));
}

TEST_F(CaptureCommand, StandardOutputGetsAPng) {
    const QString page = write("blocks.html", kBlocks);
    const Outcome r = run({"--quiet", "--width", "300", "--height", "200", page, "-"});
    ASSERT_EQ(r.status, ExitOk) << r.err.toStdString();
    ASSERT_TRUE(r.out.startsWith("\x89PNG\r\n\x1a\n"));
    QImage image;
    ASSERT_TRUE(image.loadFromData(r.out, "PNG"));
    EXPECT_EQ(image.size(), QSize(300, 200));
    EXPECT_TRUE(near(image.pixel(200, 100), qRgb(255, 0, 0), 0));
}

// A reader of standard output that has gone before the tool writes (`| head -c 0`, say) is a
// failed write, said and ended with status 5, for the picture and the report alike; the tool
// does not die of the broken pipe and leaves none of its engines' folders behind.
TEST_F(CaptureCommand, AReaderOfStandardOutputThatHasGoneIsAFailedWrite) {
    const QString page = write("blocks.html", kBlocks);
    write("list.txt", QStringLiteral("%1 %2\n%1 %3\n").arg(page, path("a.png"), path("b.png")).toUtf8());
    struct Case {
        const char* name;
        QStringList arguments;
        const char* says;
    } const cases[] = {
        {"picture", {page, "-"}, "Could not write to standard output: Broken pipe"},
        {"report", {"--report", "-", page, path("one.png")}, "Broken pipe"},
        {"report of two engines",
         {"--report", "-", "--jobs", "2", "--batch", path("list.txt")},
         "Broken pipe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        ::close(ends[0]);
        const int writeEnd = ends[1];
        QProcess p;
        const QString temp = ownTempFolder(p, QStringLiteral("tmp-%1").arg(c.name));
        p.setChildProcessModifier([writeEnd] { ::dup2(writeEnd, STDOUT_FILENO); });
        start(p, QStringList{"--quiet", "--width", "200", "--height", "100"} + c.arguments);
        const Outcome r = finish(p, 60000);
        ::close(writeEnd);
        EXPECT_EQ(r.status, ExitWrite) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        EXPECT_EQ(enginesFoldersIn(temp).toStdString(), "");
    }
}

// A reader of standard output that has stopped reading (a stalled pipe) holds the picture's
// write, not the run: told to end, the tool ends on the signal, its engine and the engine's
// folders with it.
TEST_F(CaptureCommand, ASignalEndsARunWhoseReaderHasStoppedReading) {
    const QString page = write("noise.html", R"(<html><body style="margin:0"><canvas id="c" width="400"
height="400"></canvas><script>const c = document.getElementById('c').getContext('2d');
const d = c.createImageData(400, 400); for (let i = 0; i < d.data.length; ++i) d.data[i] = Math.random() * 256;
c.putImageData(d, 0, 0);</script></body></html>)");
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    QProcess p;
    const QString temp = ownTempFolder(p, QStringLiteral("tmp"));
    const int writeEnd = ends[1];
    p.setChildProcessModifier([writeEnd] { ::dup2(writeEnd, STDOUT_FILENO); });
    start(p, {"--quiet", "--width", "400", "--height", "400", page, "-"});
    ::close(writeEnd);
    // The picture (over 400 KB of noise) fills the pipe, and the tool's write waits.
    int queued = 0;
    QDeadlineTimer deadline(60000);
    while ((::ioctl(ends[0], FIONREAD, &queued) != 0 || queued < 65536) && !deadline.hasExpired())
        QThread::msleep(20);
    ASSERT_GE(queued, 65536);
    ASSERT_EQ(::kill(pid_t(p.processId()), SIGTERM), 0);
    const bool ended = p.waitForFinished(10000);
    if (!ended) {
        p.kill();
        p.waitForFinished();
    }
    ::close(ends[0]);
    ASSERT_TRUE(ended) << "still writing after the signal";
    EXPECT_EQ(p.exitStatus(), QProcess::CrashExit) << "ended by the signal";
    QDeadlineTimer gone(10000);
    while (!enginesFoldersIn(temp).isEmpty() && !gone.hasExpired())
        QThread::msleep(50);
    EXPECT_EQ(enginesFoldersIn(temp).toStdString(), "");
}

// A batch goes on after a failing page and ends with the first failure's status; pages that
// fail leave no file behind.
TEST_F(CaptureCommand, BatchGoesOnAfterFailuresAndReportsTheFirst) {
    const QString page = write("blocks.html", kBlocks);
    write("list.txt", QStringLiteral("%1 %2\n%3 %4\n%1 %5\n%1 %6\n")
                          .arg(page, path("one.png"), path("missing.html"), path("two.png"),
                               "/nonexistent-folder/three.png", path("four.png"))
                          .toUtf8());
    const Outcome r = run({"--batch", path("list.txt")});
    EXPECT_EQ(r.status, ExitLoad) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(path("one.png")));
    EXPECT_FALSE(QFile::exists(path("two.png")));
    EXPECT_FALSE(QFile::exists("/nonexistent-folder/three.png"));
    EXPECT_TRUE(QFile::exists(path("four.png")));
    EXPECT_TRUE(r.err.contains("missing.html")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("three.png")) << r.err.toStdString();
    // Not a terminal: one line per page, the written ones counting the pages done (in whatever
    // order the engines finish them).
    EXPECT_EQ(r.err.count(QLatin1Char('\n')), 4) << r.err.toStdString();
    const QRegularExpression counted(QStringLiteral("^[1-4]/4 "), QRegularExpression::MultilineOption);
    EXPECT_EQ(r.err.count(counted), 2) << r.err.toStdString();
}

TEST_F(CaptureCommand, BadUsageGivesStatusTwoAndTheUsage) {
    for (const QStringList& args :
         {QStringList{"--width", "5", "a", "b"}, QStringList{"--size", "x", "a", "b"},
          QStringList{"only-one"}, QStringList{"--what", "a", "b"}}) {
        const Outcome r = run(args);
        EXPECT_EQ(r.status, ExitUsage) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("Usage:"));
    }
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, ExitOk);
    EXPECT_TRUE(help.out.contains("--full-page"));
}

// Pictures the tool cannot make are refused in its own words, before any page is loaded.
TEST_F(CaptureCommand, ATooLargePictureGivesStatusFourAndSaysWhy) {
    const QString page = write("blocks.html", kBlocks);
    struct Case {
        QStringList args;
        const char* says;
    } const cases[] = {
        {{"--width", "10001", "--height", "10001"}, "10001 x 10001 pixels"},
        {{"--width", "20000", "--height", "20000"}, "both sides above 10000 pixels"},
        // 10000 x 200000: one side within the rule, but 5.6 GiB of pixels.
        {{"--width", "1000", "--height", "20000", "--size", "1000"}, "at most 4 GiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Outcome r = run(QStringList(c.args) << "--quiet" << page << path("huge.png"));
        EXPECT_EQ(r.status, ExitTooLarge);
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("quality")) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("free memory")) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(path("huge.png")));
    }
}

// A picture its kind of file cannot hold (JPEG and WebP have a largest side) is refused before
// it is drawn, and one of a size fixed by the options before its page is even loaded (the page
// here does not exist: loading it would fail otherwise).
TEST_F(CaptureCommand, APictureTooLargeForItsFileKindIsRefusedBeforeItIsDrawn) {
    const QString tall = write("tall.html", R"html(<body style="margin:0"><div style="height:17000px;
background:linear-gradient(#0a8,#c30)"></div></body>)html");
    struct Case {
        QStringList args;
        const char* output;
        const char* says;
    } const cases[] = {
        {{"--width", "800", "--height", "17000", path("missing.html")},
         "big.webp",
         "WebP pictures can be at most 16383"},
        {{"--width", "7000", "--height", "1000", "--size", "1000", path("missing.html")},
         "big.jpg",
         "JPEG pictures can be at most 65500"},
        {{"--width", "300", "--height", "200", "--full-page", tall}, "tall.webp", "this one is 300 x 17000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        const Outcome r = run(QStringList{"--quiet"} + c.args + QStringList{path(c.output)});
        EXPECT_EQ(r.status, ExitWrite);
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("Save it as PNG instead")) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(path(c.output)));
    }
    // The same picture as a PNG is written.
    ASSERT_EQ(
        run({"--quiet", "--width", "300", "--height", "200", "--full-page", tall, path("tall.png")}).status,
        ExitOk);
    EXPECT_EQ(QImage(path("tall.png")).size(), QSize(300, 17000));
}

// The engine held by such a page does not close when asked and is killed; its folders in the
// temporary folder go all the same, the one for its single-instance socket too, whose link in
// the profile the engine had taken away as it began to close.
TEST_F(CaptureCommand, APageThatNeverFinishesTimesOut) {
    // Reading a named pipe that nobody writes never ends, so the document never completes.
    const QString fifo = path("never.html");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    QProcess p;
    const QString temp = ownTempFolder(p, QStringLiteral("tmp"));
    start(p, {"--quiet", "--timeout", "2", fifo, path("never.png")});
    const Outcome r = finish(p, 40000);
    EXPECT_EQ(r.status, ExitLoad) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("never.png")));
    EXPECT_EQ(enginesFoldersIn(temp).toStdString(), "");
}

// Outputs that cannot be written give status 5 and leave nothing behind; a write that fails
// half way is covered by the writer's own tests (the engine shares any file size limit of ours).
TEST_F(CaptureCommand, UnwritableOutputsGiveStatusFiveAndLeaveNothing) {
    const QString page = write("blocks.html", kBlocks);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.png"));
    for (const QString& output : {path("folder.png"), path("no-such-folder/x.png")}) {
        const Outcome r = run({"--quiet", page, output});
        EXPECT_EQ(r.status, ExitWrite) << output.toStdString();
        EXPECT_TRUE(r.err.contains("Could not save")) << r.err.toStdString();
    }
    EXPECT_TRUE(QFileInfo(path("folder.png")).isDir());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"blocks.html"}));
}

// What is at OUTPUT and is not a regular file is refused and left as it was; a link to a file
// stays a link and its file gets the picture.
TEST_F(CaptureCommand, OutputsThatAreNotFilesAreLeftAloneAndLinksAreFollowed) {
    const QString page = write("blocks.html", kBlocks);
    ASSERT_EQ(mkfifo(path("pipe.png").toLocal8Bit().constData(), 0600), 0);
    struct Case {
        QString output;
        const char* says;
        mode_t type;
    } const cases[] = {{path("pipe.png"), "named pipe", S_IFIFO}, {"/dev/null", "device", S_IFCHR}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output.toStdString());
        const Outcome r = run({"--quiet", "--width", "100", "--height", "100", page, c.output});
        EXPECT_EQ(r.status, ExitWrite);
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        struct stat st {};
        ASSERT_EQ(lstat(c.output.toLocal8Bit().constData(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, c.type);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2)
        << "no temporary file is left";

    QDir(dir.path()).mkdir("store");
    write("store/real.png", "old picture");
    ASSERT_TRUE(QFile::link("store/real.png", path("link.png")));
    const Outcome r = run({"--quiet", "--width", "100", "--height", "100", page, "link.png"});
    ASSERT_EQ(r.status, ExitOk) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo(path("link.png")).isSymLink());
    EXPECT_EQ(QFileInfo(path("link.png")).symLinkTarget(), path("store/real.png"));
    EXPECT_EQ(QImage(path("store/real.png")).size(), QSize(100, 100));
    EXPECT_EQ(QDir(path("store")).entryList(QDir::Files | QDir::Hidden), QStringList{"real.png"});
}

// A slip of the hand that names, as a picture or as the report, a file the run reads (the page
// itself, under any spelling, or the batch file) or the report is refused with status 5, and the
// file keeps what it held; the rest of a batch is written.
TEST_F(CaptureCommand, FilesTheRunUsesAreNotReplaced) {
    const QString page = write("blocks.html", kBlocks);
    ASSERT_TRUE(QFile::link(page, path("same.html")));
    const QByteArray list =
        QStringLiteral("%1 %2\n%1 %3\n").arg(page, path("a.png"), path("list.txt")).toUtf8();
    write("list.txt", list);
    struct Case {
        const char* name;
        QStringList arguments;
        const char* says;
        QString kept; // the file that must not change
        QByteArray content;
        const char* written; // a picture the run still writes, or null
    } const cases[] = {
        {"page as its picture", {page, path("same.html")}, "it is the page itself", page, kBlocks, nullptr},
        {"batch file as a picture",
         {"--jobs", "2", "--batch", path("list.txt")},
         "it is the batch file",
         path("list.txt"),
         list,
         "a.png"},
        {"report as a picture",
         {"--report", path("same.html"), page, "r.json"},
         "it is the page",
         page,
         kBlocks,
         nullptr},
        {"batch file as the report",
         {"--report", path("list.txt"), "--batch", path("list.txt")},
         "cannot write the report",
         path("list.txt"),
         list,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path("a.png"));
        const Outcome r = run(QStringList{"--quiet", "--width", "100", "--height", "100"} + c.arguments);
        EXPECT_EQ(r.status, ExitWrite) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        QFile kept(c.kept);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), c.content);
        if (c.written) {
            EXPECT_EQ(QImage(path(c.written)).size(), QSize(100, 100));
        }
    }
    // A picture named as the report: the report keeps its line for the page.
    const Outcome r = run({"--quiet", "--report", path("r.json"), page, path("r.json")});
    EXPECT_EQ(r.status, ExitWrite);
    EXPECT_TRUE(r.err.contains("it is the report")) << r.err.toStdString();
    QFile report(path("r.json"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    EXPECT_TRUE(report.readAll().contains("\"status\":5"));
}

// An address longer than the engine takes (a data: URL of megabytes) fails at once and says why,
// where the engine would drop it without a reason; the message shows the address's start and
// length, not megabytes of it, and the next page is written.
TEST_F(CaptureCommand, AnAddressTooLongForTheEngineSaysSo) {
    const QString page = write("blocks.html", kBlocks);
    const QByteArray longAddress = "data:text/html," + QByteArray(2 * 1024 * 1024, 'a');
    const Outcome r = CliTest::run({"--quiet", "--width", "100", "--height", "100", "--batch", "-"}, 90000,
                                   longAddress + " long.png\n" + page.toUtf8() + " next.png\n");
    EXPECT_EQ(r.status, ExitLoad);
    EXPECT_TRUE(r.err.contains(QStringLiteral("(%1 characters): the address is %1 characters long and the "
                                              "browser engine takes at most 2097152 (2 MiB)")
                                   .arg(longAddress.size())))
        << r.err.left(1000).toStdString();
    EXPECT_LT(r.err.size(), 1000);
    EXPECT_FALSE(QFile::exists(path("long.png")));
    EXPECT_EQ(QImage(path("next.png")).size(), QSize(100, 100));
}

// A page behind a password: the engine only says that the credentials were wrong, so the message
// tells how to give them; given as a header, they open the page.
TEST_F(CaptureCommand, APageThatAsksForAPasswordSaysHowToGiveIt) {
    clitest::LocalServer server("<html><body style='margin:0;background:#2a6'></body></html>");
    server.askForCredentials("Basic " + QByteArray("user:secret").toBase64());
    const QString address = server.url("/");
    const Outcome refused = run({"--quiet", address, path("refused.png")});
    EXPECT_EQ(refused.status, ExitLoad);
    EXPECT_TRUE(refused.err.contains("asks for a user name and password")) << refused.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("refused.png")));
    const Outcome opened =
        run({"--quiet", "--header", "Authorization: Basic " + QByteArray("user:secret").toBase64(), address,
             path("opened.png")});
    EXPECT_EQ(opened.status, 0) << opened.err.toStdString();
    EXPECT_EQ(pixelOf("opened.png", 10, 10), qRgb(0x22, 0xaa, 0x66));
}

} // namespace
