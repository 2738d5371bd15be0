// Batches end to end: several engines, shards as separate processes, the report, skipping.
#include "CliTestSupport.h"
#include "app/cli/BatchOutput.h"
#include "tests/common/FileSizeLimit.h"
#include "tests/common/ProcessTree.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QThread>
#include <atomic>
#include <csignal>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace clitest;

namespace {

QByteArray colourPage(const char* colour) {
    return QByteArray("<html><body style='margin:0;background:") + colour + "'></body></html>";
}

std::vector<QJsonObject> jsonLines(const QByteArray& text) {
    std::vector<QJsonObject> lines;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty()) continue;
        const QJsonDocument d = QJsonDocument::fromJson(line);
        EXPECT_TRUE(d.isObject()) << line.toStdString();
        lines.push_back(d.object());
    }
    return lines;
}

// The children of a process whose command line holds marker, with their command lines.
std::map<pid_t, QList<QByteArray>> childrenOf(qint64 parent, const QByteArray& marker) {
    std::map<pid_t, QList<QByteArray>> children;
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        bool isPid = false;
        const pid_t pid = it.fileName().toInt(&isPid);
        if (!isPid) continue;
        if (testing_support::parentOf(pid) != parent) continue;
        const QList<QByteArray> line = testing_support::commandLineOf(pid);
        if (line.contains(marker)) children[pid] = line;
    }
    return children;
}

// The helper processes of the tool: its children started with the hidden option.
std::vector<pid_t> helpersOf(qint64 tool) {
    std::vector<pid_t> helpers;
    for (const auto& [pid, line] : childrenOf(tool, "--worker-process"))
        helpers.push_back(pid);
    return helpers;
}

class BatchCommand : public CliTest {
  protected:
    QString writeBatch(const QStringList& lines) {
        return write(QStringLiteral("list.txt"), lines.join(QLatin1Char('\n')).toUtf8() + "\n");
    }
    // Starts p on two pages that server holds back, a.png and b.png, and a local one after them,
    // over two helpers, and waits until each helper holds its page. Returns the helpers.
    std::vector<pid_t> startWithTwoHeldPages(QProcess& p, LocalServer& server) {
        write("after.html", colourPage("#3c3"));
        start(p, {"--jobs", "2", "--timeout", "60", "--width", "200", "--height", "150", "--batch",
                  writeBatch({server.url("/hold-a") + " a.png", server.url("/hold-b") + " b.png",
                              "after.html after.png"})});
        QDeadlineTimer deadline(120000); // two engines start first, on a machine that may be busy
        while (server.heldRequests() < 2 && !deadline.hasExpired())
            QThread::msleep(20);
        if (server.heldRequests() < 2) return {};
        return helpersOf(p.processId());
    }
};

// Pages spread over three engines all come out as with one; the exit status is that of the
// first failing page in batch order, although a later page failed earlier in time.
TEST_F(BatchCommand, SeveralEnginesWriteEveryPageAndTellTheFirstFailureInBatchOrder) {
    // The first page is held back by the server until the second has failed, and then fails
    // in its script.
    LocalServer server("<html><head><title>fail</title></head><body></body></html>");
    ASSERT_GT(server.port(), 0);
    const char* colours[] = {"#c33", "#3c3", "#33c", "#cc3"};
    QStringList lines;
    lines << server.url("/hold") + " o0.png";
    write("first.html", colourPage("#888"));
    lines << "first.html no-such-folder/o1.png"; // fails once drawn, with status 5
    for (int i = 0; i < 4; ++i) {
        write(QStringLiteral("p%1.html").arg(i), colourPage(colours[i]));
        lines << QStringLiteral("p%1.html o%2.png").arg(i).arg(i + 2);
    }
    QProcess p;
    start(p, {"--jobs", "3", "--javascript", "if (document.title == 'fail') throw new Error('told to fail')",
              "--width", "200", "--height", "150", "--report", "report.jsonl", "--batch", writeBatch(lines)});
    QDeadlineTimer deadline(90000);
    auto reported = [&] {
        QFile report(path("report.jsonl"));
        return report.open(QIODevice::ReadOnly) ? jsonLines(report.readAll()) : std::vector<QJsonObject>();
    };
    auto secondFailed = [&] {
        for (const QJsonObject& o : reported())
            if (o["index"].toInt() == 1) return true;
        return false;
    };
    while (!secondFailed() && !deadline.hasExpired())
        QThread::msleep(20);
    ASSERT_TRUE(secondFailed());
    server.release();
    const Outcome r = finish(p, 90000);
    EXPECT_EQ(r.status, 3) << r.err.toStdString();
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(near(pixelOf(QStringLiteral("o%1.png").arg(i + 2), 100, 75), QColor(colours[i]).rgb(), 0))
            << i;
    EXPECT_FALSE(QFile::exists(path("o0.png")));

    // One whole line per page on standard error, whatever order the pages ended in.
    const QStringList errLines = r.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(errLines.size(), 6) << r.err.toStdString();
    static const QRegularExpression wellFormed(
        QStringLiteral("^(\\d/6 p\\d\\.html -> o\\d\\.png \\(200 x 150\\)|velmora-capture: \\S+: .+)$"));
    for (const QString& line : errLines)
        EXPECT_TRUE(wellFormed.match(line).hasMatch()) << line.toStdString();

    std::map<int, QJsonObject> byIndex;
    for (const QJsonObject& o : reported())
        EXPECT_TRUE(byIndex.emplace(o["index"].toInt(), o).second) << "each page is reported once";
    ASSERT_EQ(byIndex.size(), 6u);
    EXPECT_EQ(byIndex[0]["status"].toInt(), 3);
    EXPECT_TRUE(byIndex[0]["message"].toString().contains("told to fail"));
    EXPECT_EQ(byIndex[1]["status"].toInt(), 5);
    EXPECT_TRUE(byIndex[1]["message"].toString().contains("o1.png"));
    for (int i = 2; i < 6; ++i) {
        const QJsonObject& o = byIndex[i];
        EXPECT_EQ(o["status"].toInt(), 0);
        EXPECT_EQ(o["address"].toString(), QStringLiteral("p%1.html").arg(i - 2));
        EXPECT_EQ(o["width"].toInt(), 200);
        EXPECT_EQ(o["height"].toInt(), 150);
        EXPECT_EQ(o["bytes"].toInteger(), QFileInfo(path(o["output"].toString())).size());
        EXPECT_GT(o["ms"].toInteger(), 0);
        EXPECT_FALSE(o["skipped"].toBool());
    }
}

// A helper process that dies fails the page it held, and the pages after it get a new one.
TEST_F(BatchCommand, AHelperThatDiesFailsItsPageAndTheBatchGoesOn) {
    // Both helpers get a page that the server holds back until the test lets it go.
    LocalServer server(colourPage("#33c"));
    ASSERT_GT(server.port(), 0);
    // The engines' folders go in a temporary folder of the test's own, to be looked at after.
    QProcess p;
    const QString temp = ownTempFolder(p, QStringLiteral("tmp"));
    const std::vector<pid_t> helpers = startWithTwoHeldPages(p, server);
    ASSERT_EQ(helpers.size(), 2u);
    ASSERT_EQ(::kill(helpers[0], SIGKILL), 0);
    server.release();

    const Outcome r = finish(p, 90000);
    EXPECT_EQ(r.status, 3) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("was killed by signal 9")) << r.err.toStdString();
    EXPECT_EQ(r.err.count("velmora-capture: "), 1) << r.err.toStdString();
    // One held page failed with its helper; the other was written.
    EXPECT_NE(QFile::exists(path("a.png")), QFile::exists(path("b.png"))) << r.err.toStdString();
    const QString held = QFile::exists(path("a.png")) ? "a.png" : "b.png";
    EXPECT_TRUE(near(pixelOf(held, 100, 75), qRgb(0x33, 0x33, 0xcc), 0));
    EXPECT_TRUE(near(pixelOf("after.png", 100, 75), qRgb(0x33, 0xcc, 0x33), 0)) << r.err.toStdString();
    // The killed helper's engine folders do not stay behind: its profile, and the folder of its
    // single-instance socket, which the engine removes only when it ends by itself.
    EXPECT_EQ(enginesFoldersIn(temp).toStdString(), "");
}

// A helper that no longer runs (stopped by a signal, a frozen group of processes) is ended once
// it has said nothing for ten seconds, and only its page fails; but the tool stopped together
// with its helpers for longer than that (a shell's Ctrl-Z, then fg) loses nothing.
TEST_F(BatchCommand, AHelperThatStopsRunningIsEndedButARunStoppedWholeIsNot) {
    LocalServer server(colourPage("#33c"));
    ASSERT_GT(server.port(), 0);
    QProcess p;
    const QString temp = ownTempFolder(p, QStringLiteral("tmp"));
    const std::vector<pid_t> helpers = startWithTwoHeldPages(p, server);
    ASSERT_EQ(helpers.size(), 2u);

    const std::vector<pid_t> run{pid_t(p.processId()), helpers[0], helpers[1]};
    for (const pid_t pid : run)
        ASSERT_EQ(::kill(pid, SIGSTOP), 0);
    QThread::sleep(12); // longer than a helper may be silent
    for (auto it = run.rbegin(); it != run.rend(); ++it)
        ASSERT_EQ(::kill(*it, SIGCONT), 0);
    ASSERT_EQ(::kill(helpers[1], SIGSTOP), 0);
    server.release();

    const Outcome r = finish(p, 90000);
    EXPECT_EQ(r.status, 3) << r.err.toStdString();
    EXPECT_EQ(r.err.count("velmora-capture: "), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("the capture process working on this page said nothing for 10 seconds and was "
                               "ended; the batch goes on with a new one"))
        << r.err.toStdString();
    EXPECT_NE(QFile::exists(path("a.png")), QFile::exists(path("b.png"))) << r.err.toStdString();
    EXPECT_TRUE(near(pixelOf("after.png", 100, 75), qRgb(0x33, 0xcc, 0x33), 0)) << r.err.toStdString();
    // The stopped helper is gone, and so are its engine and the engine's folders.
    EXPECT_NE(::kill(helpers[1], 0), 0);
    EXPECT_EQ(enginesFoldersIn(temp).toStdString(), "");
}

// An engine killed from outside (the system short of memory, a user) takes no page with it: the
// page in its turn, settling, is loaded again in a new engine, and so is the one loading behind it.
TEST_F(BatchCommand, PagesOfAnEngineThatWasKilledAreLoadedAgainInANewOne) {
    // Every page asks for something more once it has loaded, which the server holds back.
    LocalServer server("<html><body style='margin:0;background:#33c'><script>"
                       "addEventListener('load', () => fetch('/hold-late'));</script></body></html>");
    ASSERT_GT(server.port(), 0);
    write("after.html", colourPage("#3c3"));
    QProcess p;
    start(p, {"--jobs", "1", "--timeout", "60", "--width", "200", "--height", "150", "--report",
              path("report.json"), "--batch",
              writeBatch(
                  {server.url("/a") + " a.png", server.url("/hold-b") + " b.png", "after.html after.png"})});
    // The first page settling (its late request held) and the second still loading behind it.
    QDeadlineTimer deadline(60000);
    while (server.heldRequests() < 2 && !deadline.hasExpired())
        QThread::msleep(20);
    ASSERT_EQ(server.heldRequests(), 2);
    const auto engines = childrenOf(p.processId(), "--remote-debugging-pipe");
    ASSERT_EQ(engines.size(), 1u);
    ASSERT_EQ(::kill(engines.begin()->first, SIGKILL), 0);
    server.release();

    const Outcome r = finish(p, 90000);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("velmora-capture: ")) << r.err.toStdString();
    EXPECT_TRUE(near(pixelOf("a.png", 100, 75), qRgb(0x33, 0x33, 0xcc), 0));
    EXPECT_TRUE(near(pixelOf("b.png", 100, 75), qRgb(0x33, 0x33, 0xcc), 0));
    EXPECT_TRUE(near(pixelOf("after.png", 100, 75), qRgb(0x33, 0xcc, 0x33), 0));
    QFile report(path("report.json"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const std::vector<QJsonObject> lines = jsonLines(report.readAll());
    ASSERT_EQ(lines.size(), 3u);
    for (const QJsonObject& line : lines)
        EXPECT_EQ(line.value("status").toInt(), 0) << line.value("message").toString().toStdString();
}

// A page that takes the engine down whenever it is loaded (here its server kills the engine as
// it asks for it) fails alone: the page whose turn it was when it went down is loaded again on
// its own in the new engine, not beside that page, and so are the pages loaded behind it.
TEST_F(BatchCommand, APageThatTakesTheEngineDownFailsAloneAndThePagesAroundItAreWritten) {
    // The first page waits 3 s for its element, so that the second is opened during its turn.
    LocalServer server("<html><body style='margin:0;background:#33c'><script>setTimeout(() => "
                       "document.body.append(Object.assign(document.createElement('p'), {id: 'ready'})), "
                       "location.pathname === '/a' ? 3000 : 0);</script></body></html>");
    ASSERT_GT(server.port(), 0);
    QProcess p;
    std::atomic<int> kills{0};
    server.whenAsked("/down", [&] {
        for (const auto& [pid, line] : childrenOf(p.processId(), "--remote-debugging-pipe"))
            if (::kill(pid, SIGKILL) == 0) ++kills;
    });
    start(p, {"--jobs", "1", "--timeout", "30", "--width", "200", "--height", "150", "--wait-for", "#ready",
              "--report", path("report.json"), "--batch",
              writeBatch({server.url("/a") + " a.png", server.url("/down") + " down.png",
                          server.url("/b") + " b.png", server.url("/c") + " c.png"})});
    const Outcome r = finish(p, 120000);
    EXPECT_EQ(r.status, 3) << r.err.toStdString();
    // Loaded ahead, then once more in its own turn; never beside the retried first page.
    EXPECT_EQ(kills.load(), 2) << r.err.toStdString();
    for (const char* name : {"a.png", "b.png", "c.png"})
        EXPECT_TRUE(near(pixelOf(name, 100, 75), qRgb(0x33, 0x33, 0xcc), 0)) << name << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("down.png")));
    QFile report(path("report.json"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const std::vector<QJsonObject> lines = jsonLines(report.readAll());
    ASSERT_EQ(lines.size(), 4u);
    for (const QJsonObject& line : lines)
        EXPECT_EQ(line.value("status").toInt(), line.value("index").toInt() == 1 ? 3 : 0)
            << line.value("output").toString().toStdString() << ": "
            << line.value("message").toString().toStdString();
}

// The tool's engines, its own and its helpers', draw frames at a display's pace: unpaced, each
// engine's window cost a sixth more processor time over a batch.
TEST_F(BatchCommand, EveryEngineOfTheToolDrawsFramesAtADisplaysPace) {
    for (const int jobs : {1, 2}) {
        SCOPED_TRACE(jobs);
        LocalServer server(colourPage("#33c"));
        ASSERT_GT(server.port(), 0);
        QProcess p;
        start(p,
              {"--jobs", QString::number(jobs), "--timeout", "60", "--width", "200", "--height", "150",
               "--batch", writeBatch({server.url("/hold-a") + " a.png", server.url("/hold-b") + " b.png"})});
        QDeadlineTimer deadline(120000);
        while (server.heldRequests() < 2 && !deadline.hasExpired())
            QThread::msleep(20);
        ASSERT_EQ(server.heldRequests(), 2);
        // One engine is the tool's own child; with helpers, each helper has one.
        std::vector<qint64> owners;
        if (jobs == 1) owners.push_back(p.processId());
        for (const pid_t helper : helpersOf(p.processId()))
            owners.push_back(helper);
        ASSERT_EQ(owners.size(), std::size_t(jobs));
        for (const qint64 owner : owners) {
            const auto engines = childrenOf(owner, "--remote-debugging-pipe");
            ASSERT_EQ(engines.size(), 1u);
            const QList<QByteArray>& line = engines.begin()->second;
            EXPECT_TRUE(line.contains("--headless"));
            EXPECT_FALSE(line.contains("--disable-frame-rate-limit"));
            EXPECT_FALSE(line.contains("--disable-gpu-vsync"));
        }
        server.release();
        const Outcome r = finish(p, 90000);
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
    }
}

// Three shards run as separate processes, as a cluster's tasks would, take every line once;
// the second and third get their shard from the scheduler's variables.
TEST_F(BatchCommand, ThreeShardsCoverEveryLineExactlyOnce) {
    write("page.html", colourPage("#c3c"));
    QStringList lines{"# the pages"};
    for (int i = 0; i < 8; ++i) {
        lines << QStringLiteral("page.html o%1.png").arg(i);
        if (i == 3)
            lines << ""
                  << "# a comment does not count";
    }
    const QString list = writeBatch(lines);
    const QStringList common{"--jobs", "1", "--width", "100", "--height", "100", "--batch", list};
    QProcess shards[3];
    shards[0].setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    QProcessEnvironment kubernetes = QProcessEnvironment::systemEnvironment();
    kubernetes.insert("JOB_COMPLETION_INDEX", "1");
    shards[1].setProcessEnvironment(kubernetes);
    QProcessEnvironment slurm = QProcessEnvironment::systemEnvironment();
    slurm.insert("SLURM_ARRAY_TASK_ID", "7");
    slurm.insert("SLURM_ARRAY_TASK_MIN", "5");
    slurm.insert("SLURM_ARRAY_TASK_COUNT", "3");
    shards[2].setProcessEnvironment(slurm);
    start(shards[0], QStringList{"--shard", "0/3", "--report", "r0.jsonl"} + common);
    start(shards[1], QStringList{"--shard-count", "3", "--report", "r1.jsonl"} + common);
    start(shards[2], QStringList{"--report", "r2.jsonl"} + common);
    std::multiset<int> taken;
    for (int k = 0; k < 3; ++k) {
        const Outcome r = finish(shards[k], 120000);
        ASSERT_EQ(r.status, 0) << k << ": " << r.err.toStdString();
        QFile report(path(QStringLiteral("r%1.jsonl").arg(k)));
        ASSERT_TRUE(report.open(QIODevice::ReadOnly));
        for (const QJsonObject& o : jsonLines(report.readAll())) {
            const int index = o["index"].toInt();
            EXPECT_EQ(index % 3, k);
            EXPECT_EQ(o["output"].toString(), QStringLiteral("o%1.png").arg(index));
            taken.insert(index);
        }
    }
    EXPECT_EQ(taken, (std::multiset<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(QFile::exists(path(QStringLiteral("o%1.png").arg(i)))) << i;
}

TEST_F(BatchCommand, SkipExistingLeavesOutputsThatAreThereAndReportsThemSkipped) {
    write("page.html", colourPage("#3cc"));
    write("o1.png", "not touched");
    const Outcome r = run({"--skip-existing", "--report", "-", "--width", "100", "--height", "100", "--batch",
                           writeBatch({"page.html o0.png", "page.html o1.png"})});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    QFile kept(path("o1.png"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("not touched"));
    EXPECT_TRUE(near(pixelOf("o0.png", 50, 50), qRgb(0x33, 0xcc, 0xcc), 0));
    const std::vector<QJsonObject> report = jsonLines(r.out);
    ASSERT_EQ(report.size(), 2u) << r.out.toStdString();
    for (const QJsonObject& o : report) {
        EXPECT_EQ(o["status"].toInt(), 0);
        EXPECT_EQ(o["skipped"].toBool(), o["index"].toInt() == 1) << QJsonDocument(o).toJson().toStdString();
    }
}

// Two lines of a batch that send different pages to one file: the later one fails without being
// loaded and the earlier one's picture stays, whichever engine is quicker; the rest is written.
TEST_F(BatchCommand, APageWhoseOutputAnEarlierLineTakesFailsAndThatPictureStays) {
    write("a.html", colourPage("#3cc"));
    write("b.html", colourPage("#c3c"));
    const Outcome r = run({"--jobs", "2", "--report", "-", "--width", "100", "--height", "100", "--batch",
                           writeBatch({"a.html same.png", "b.html same.png", "b.html other.png"})});
    EXPECT_EQ(r.status, 5) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("b.html: Could not save \"same.png\": line 1 of the batch file writes "
                               "another page's picture there"))
        << r.err.toStdString();
    EXPECT_TRUE(near(pixelOf("same.png", 50, 50), qRgb(0x33, 0xcc, 0xcc), 0));
    EXPECT_TRUE(near(pixelOf("other.png", 50, 50), qRgb(0xcc, 0x33, 0xcc), 0));
    std::map<int, int> statuses;
    for (const QJsonObject& o : jsonLines(r.out))
        statuses[o["index"].toInt()] = o["status"].toInt();
    EXPECT_EQ(statuses, (std::map<int, int>{{0, 0}, {1, 5}, {2, 0}})) << r.out.toStdString();
}

// "--batch -": the list comes down a pipe; helpers get their pages from the tool as ever.
TEST_F(BatchCommand, ABatchReadFromStandardInputIsCapturedByEveryEngine) {
    write("a.html", colourPage("#3cc"));
    write("b.html", colourPage("#c3c"));
    const Outcome r = run({"--jobs", "2", "--width", "100", "--height", "100", "--batch", "-"}, 90000,
                          "a.html o0.png\nb.html o1.png\n# a comment\na.html \"o 2.png\"\n");
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(near(pixelOf("o0.png", 50, 50), qRgb(0x33, 0xcc, 0xcc), 0));
    EXPECT_TRUE(near(pixelOf("o1.png", 50, 50), qRgb(0xcc, 0x33, 0xcc), 0));
    EXPECT_TRUE(near(pixelOf("o 2.png", 50, 50), qRgb(0x33, 0xcc, 0xcc), 0));
    const Outcome empty = run({"--batch", "-"}, 90000, "# nothing\n");
    EXPECT_EQ(empty.status, 2);
    EXPECT_TRUE(empty.err.contains("the batch file from standard input lists no pages"))
        << empty.err.toStdString();
}

// Told to end (Ctrl-C, a scheduler's SIGTERM, a closed terminal) while pages load: the tool and
// its helpers stop their engines, remove the engines' folders and the page read from standard
// input, and end on the signal, leaving no process and no half-written picture behind.
TEST_F(BatchCommand, ASignalEndsTheRunWithoutLeavingAnythingBehind) {
    LocalServer server(colourPage("#33c"));
    ASSERT_GT(server.port(), 0);
    struct Case {
        const char* name;
        int signal;
        QStringList arguments;
        QByteArray input; // for "-"
    } const cases[] = {
        {"one engine, SIGTERM",
         SIGTERM,
         {"--jobs", "1", "--batch",
          writeBatch({server.url("/hold-1") + " a.png", server.url("/hold-2") + " b.png"})},
         {}},
        {"two engines, SIGINT",
         SIGINT,
         {"--jobs", "2", "--batch",
          writeBatch({server.url("/hold-3") + " a.png", server.url("/hold-4") + " b.png"})},
         {}},
        {"page from standard input, SIGHUP",
         SIGHUP,
         {"-", "a.png"},
         QByteArray("<html><body><img src='") + server.url("/hold-5").toUtf8() + "'></body></html>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QProcess p;
        const QString temp = ownTempFolder(p, QStringLiteral("tmp-%1").arg(c.signal));
        const int heldBefore = server.heldRequests();
        start(p, QStringList{"--timeout", "60", "--width", "200", "--height", "150"} + c.arguments);
        if (!c.input.isEmpty()) {
            p.write(c.input);
            p.waitForBytesWritten();
        }
        p.closeWriteChannel();
        QDeadlineTimer deadline(120000);
        while (server.heldRequests() == heldBefore && !deadline.hasExpired())
            QThread::msleep(20);
        ASSERT_GT(server.heldRequests(), heldBefore);
        QElapsedTimer clock;
        clock.start();
        ASSERT_EQ(::kill(pid_t(p.processId()), c.signal), 0);
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitStatus(), QProcess::CrashExit) << "ended by the signal";
        EXPECT_LT(clock.elapsed(), 10000);
        // The engines' processes go with them (their command lines name the folder).
        QDeadlineTimer gone(10000);
        auto left = [&] {
            QProcess pgrep;
            pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-f"), temp});
            pgrep.waitForFinished();
            return pgrep.readAllStandardOutput().trimmed();
        };
        while (!left().isEmpty() && !gone.hasExpired())
            QThread::msleep(50);
        EXPECT_TRUE(left().isEmpty()) << left().toStdString();
        // Nor do the engines' folders: their profiles and the ones for their single-instance
        // sockets, which a killed engine leaves.
        EXPECT_EQ(enginesFoldersIn(temp).toStdString(), "");
        EXPECT_EQ(QDir(dir.path())
                      .entryList({QStringLiteral(".velmora*"), QStringLiteral("*.png*")},
                                 QDir::Files | QDir::Hidden),
                  QStringList());
    }
}

// Whether process pid has its own handler for signal (its SigCgt mask in /proc).
bool catches(qint64 pid, int signal) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

// Told to end while it still waits for what it reads before any page (a list or a page typed at
// a terminal, a named pipe that nobody writes to or reads yet), the tool ends on the signal at
// once; reads and opens that the system takes up again after a signal would wait on for ever.
TEST_F(BatchCommand, ASignalEndsARunStillWaitingForItsInput) {
    const QString fifo = path("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    write("page.html", colourPage("#3c3"));
    struct Case {
        const char* name;
        int signal;
        QStringList arguments;
    } const cases[] = {
        {"a batch on standard input", SIGINT, {"--batch", "-"}},
        {"two engines' batch on standard input", SIGTERM, {"--jobs", "2", "--batch", "-"}},
        {"a page on standard input", SIGTERM, {"-", "a.png"}},
        {"a batch file nobody writes", SIGHUP, {"--batch", fifo}},
        {"a script nobody writes", SIGINT, {"--javascript-file", fifo, "page.html", "a.png"}},
        {"a report nobody reads", SIGTERM, {"--report", fifo, "page.html", "a.png"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QProcess p;
        start(p, c.arguments); // its standard input stays open, and empty
        QDeadlineTimer deadline(10000);
        while (!catches(p.processId(), c.signal) && !deadline.hasExpired())
            QThread::msleep(10);
        ASSERT_TRUE(catches(p.processId(), c.signal));
        ASSERT_EQ(::kill(pid_t(p.processId()), c.signal), 0);
        const bool ended = p.waitForFinished(10000);
        if (!ended) {
            p.kill();
            p.waitForFinished();
        }
        ASSERT_TRUE(ended) << "still waiting after the signal";
        EXPECT_EQ(p.exitStatus(), QProcess::CrashExit) << "ended by the signal";
        EXPECT_EQ(QDir(dir.path())
                      .entryList({QStringLiteral(".velmora*"), QStringLiteral("*.png*")},
                                 QDir::Files | QDir::Hidden),
                  QStringList());
    }
}

// A report that cannot be written is not a run that went well: the tool says so, goes on with
// the pictures and ends with status 5.
TEST_F(BatchCommand, AReportThatCannotBeWrittenFailsTheRunButNotThePictures) {
    write("page.html", colourPage("#3cc"));
    const Outcome r = run({"--jobs", "1", "--report", "/dev/full", "--width", "100", "--height", "100",
                           "--batch", writeBatch({"page.html o0.png", "page.html o1.png"})});
    EXPECT_EQ(r.status, 5) << r.err.toStdString();
    EXPECT_EQ(r.err.count("cannot write the report /dev/full: No space left on device"), 1)
        << r.err.toStdString();
    EXPECT_TRUE(near(pixelOf("o0.png", 50, 50), qRgb(0x33, 0xcc, 0xcc), 0));
    EXPECT_TRUE(near(pixelOf("o1.png", 50, 50), qRgb(0x33, 0xcc, 0xcc), 0));
}

// A disk that takes only part of a report line: the part is cut off again, so that the report
// holds whole lines of pages that ended; a failing page still decides the exit status.
TEST(BatchReport, ALineTheDiskTookOnlyPartOfIsCutOff) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    app::cli::CaptureOptions options;
    options.quiet = true;
    options.reportFile = dir.filePath(QStringLiteral("report.jsonl"));
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    app::cli::BatchOutput output(options, err, false);
    QString error;
    ASSERT_TRUE(output.openReport(&error)) << error.toStdString();

    auto page = [](int index, int status) {
        app::cli::PageResult p;
        p.index = index;
        p.address = QStringLiteral("page%1.html").arg(index);
        p.output = QStringLiteral("o%1.png").arg(index);
        p.status = status;
        return p;
    };
    const QByteArray first = app::cli::toJsonLine(page(0, 0)) + '\n';
    // Files may grow to a line and a half: the second line is cut short by the limit.
    {
        const testing_support::FileSizeLimit limit(rlim_t(first.size() + first.size() / 2));
        ASSERT_TRUE(limit.applied());
        output.pageFinished(page(0, 0));
        output.pageFinished(page(1, 0));
        output.pageFinished(page(2, 0));
    }

    QFile report(options.reportFile);
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    EXPECT_EQ(report.readAll(), first);
    EXPECT_EQ(output.exitStatus(), 5);
    std::rewind(err);
    QFile told;
    ASSERT_TRUE(told.open(err, QIODevice::ReadOnly));
    const QByteArray text = told.readAll();
    EXPECT_EQ(text.count("cannot write the report"), 1) << text.toStdString();
    EXPECT_TRUE(text.contains("it ends before page1.html")) << text.toStdString();
    output.pageFinished(page(3, 3));
    EXPECT_EQ(output.exitStatus(), 3);
    told.close();
    std::fclose(err);
}

} // namespace
