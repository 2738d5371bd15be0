// velmora-capture end to end: the real program, the real engine, pages written by the tests.
#include "app/cli/CaptureOptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace app::cli;

namespace {

const QString kProgram = QStringLiteral(VELMORA_CAPTURE_PATH);

// Red 200 x 100 at (100, 50), blue 100 x 100 at (400, 300), green 100 x 100 at (700, 900).
const QByteArray kBlocks = R"(<html><body style="margin:0;background:#fff">
<div style="position:absolute;left:100px;top:50px;width:200px;height:100px;background:#f00"></div>
<div style="position:absolute;left:400px;top:300px;width:100px;height:100px;background:#00f"></div>
<div style="position:absolute;left:700px;top:900px;width:100px;height:100px;background:#0f0"></div>
</body></html>)";

struct Outcome {
    int status = -1;
    QByteArray out;
    QString err;
};

class CaptureCommand : public ::testing::Test {
  protected:
    QString write(const QString& name, const QByteArray& content) {
        const QString path = dir.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(content);
        return path;
    }
    QString path(const QString& name) const { return dir.filePath(name); }

    Outcome run(const QStringList& arguments, int timeoutMs = 60000) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(kProgram, arguments);
        Outcome r;
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.out = p.readAllStandardOutput();
        r.err = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

    static bool near(QRgb a, QRgb b, int tolerance) {
        return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
               std::abs(qBlue(a) - qBlue(b)) <= tolerance;
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

    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/velmora-cli-XXXXXX")};
};

TEST(CaptureOptions, ReadsOptionsAndRefusesBadOnes) {
    const ParseResult good = parseArguments(
        {"--width", "1024", "--height=700", "--size", "150", "--full-page", "--quiet", "a.html", "b.png"});
    ASSERT_TRUE(good.ok) << good.error.toStdString();
    EXPECT_EQ(good.options.width, 1024);
    EXPECT_EQ(good.options.height, 700);
    EXPECT_EQ(good.options.size, 150);
    EXPECT_TRUE(good.options.fullPage);
    EXPECT_TRUE(good.options.quiet);
    ASSERT_EQ(good.options.jobs.size(), 1u);
    EXPECT_EQ(good.options.jobs[0].address, "a.html");

    const QStringList bad[] = {
        {"--width", "5", "a", "b"},
        {"--width", "20001", "a", "b"},
        {"--size", "abc", "a", "b"},
        {"--size", "9", "a", "b"},
        {"--quality", "0", "a", "b"},
        {"--timeout", "0", "a", "b"},
        {"--bogus", "a", "b"},
        {"a"},
        {"a", "b", "c"},
        {"--width"},
        {"--batch"},
        {"--batch", "/nonexistent/list"},
        {"a", "-", "--batch", "x"},
        {"--width", "1e3", "a", "b"},
    };
    for (const QStringList& args : bad)
        EXPECT_FALSE(parseArguments(args).ok) << args.join(' ').toStdString();
}

TEST(CaptureOptions, BatchLinesTakeQuotesAndSkipComments) {
    std::vector<Job> jobs;
    QString error;
    ASSERT_TRUE(readBatch("# pages\n\nhttp://a.example/ a.png\n\"/tmp/with space.html\"  \"out dir/b.jpg\"\n",
                          &jobs, &error));
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[1].address, "/tmp/with space.html");
    EXPECT_EQ(jobs[1].output, "out dir/b.jpg");
    EXPECT_FALSE(readBatch("only-an-address\n", &jobs, &error));
    EXPECT_TRUE(error.contains("line 1"));
}

TEST_F(CaptureCommand, WritesEachFormatWithThePagesPixels) {
    const QString page = write("blocks.html", kBlocks);
    struct Case {
        const char* output;
        int tolerance;
    } const cases[] = {
        {"shot.png", 0}, {"shot.bmp", 0}, {"shot.jpg", 12}, {"shot.jpeg", 12}, {"shot.picture", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        const Outcome r = run({"--quiet", page, path(c.output)});
        ASSERT_EQ(r.status, ExitOk) << r.err.toStdString();
        QImage image;
        ASSERT_TRUE(image.load(path(c.output)));
        EXPECT_EQ(image.size(), QSize(800, 1000));
        expectBlocks(image, 100, c.tolerance);
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
    // Not a terminal: one line per page written.
    EXPECT_TRUE(r.err.contains("1/4")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("4/4")) << r.err.toStdString();
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

TEST_F(CaptureCommand, ATooLargePictureGivesStatusFour) {
    const QString page = write("blocks.html", kBlocks);
    // 20000 x 20000 at 100 %: both sides above 10000.
    const Outcome r = run({"--quiet", "--width", "20000", "--height", "20000", page, path("huge.png")});
    EXPECT_EQ(r.status, ExitTooLarge);
    EXPECT_TRUE(r.err.contains("to large")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("huge.png")));
}

TEST_F(CaptureCommand, APageThatNeverFinishesTimesOut) {
    // Reading a named pipe that nobody writes never ends, so the document never completes.
    const QString fifo = path("never.html");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const Outcome r = run({"--quiet", "--timeout", "2", fifo, path("never.png")}, 40000);
    EXPECT_EQ(r.status, ExitLoad) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("never.png")));
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

} // namespace
