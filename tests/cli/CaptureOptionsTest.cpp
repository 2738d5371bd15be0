// The command line, the batch file, shards and addresses: no engine needed.
#include "app/cli/CaptureOptions.h"

#include "app/cli/CaptureRunner.h"
#include "app/cli/Input.h"
#include "app/cli/PageAddress.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

using namespace app::cli;

namespace {

QProcessEnvironment environmentOf(std::initializer_list<std::pair<const char*, const char*>> variables) {
    QProcessEnvironment e;
    for (const auto& [name, value] : variables)
        e.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    return e;
}

class BatchFile : public ::testing::Test {
  protected:
    // A batch of `pages` lines, with a comment and a blank line among them (not counted).
    QString writeBatch(int pages) {
        QByteArray text = "# pages\n\n";
        for (int i = 0; i < pages; ++i)
            text += QStringLiteral("p%1.html o%1.png\n").arg(i).toUtf8();
        QFile f(dir.filePath("list.txt"));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return f.fileName();
    }
    QTemporaryDir dir;
};

TEST(CaptureOptions, ReadsOptionsAndRefusesBadOnes) {
    const ParseResult good = parseArguments({"--width",
                                             "1024",
                                             "--height=700",
                                             "--size",
                                             "150",
                                             "--quiet",
                                             "--hide",
                                             ".ad",
                                             "--hide=#banner",
                                             "--header",
                                             "X-Test:  yes ",
                                             "--cookie",
                                             "session=abc=1",
                                             "--color-scheme",
                                             "dark",
                                             "--media",
                                             "print",
                                             "--user-agent",
                                             "Tester/1",
                                             "--wait-for",
                                             "main",
                                             "--skip-existing",
                                             "--report",
                                             "r.jsonl",
                                             "a.html",
                                             "b.png"});
    ASSERT_TRUE(good.ok) << good.error.toStdString();
    const CaptureOptions& o = good.options;
    EXPECT_EQ(o.width, 1024);
    EXPECT_EQ(o.height, 700);
    EXPECT_EQ(o.size, 150);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.hide, QStringList({".ad", "#banner"}));
    ASSERT_EQ(o.setup.headers.size(), 1u);
    EXPECT_EQ(o.setup.headers[0], std::make_pair(QString("X-Test"), QString("yes")));
    ASSERT_EQ(o.setup.cookies.size(), 1u);
    EXPECT_EQ(o.setup.cookies[0], std::make_pair(QString("session"), QString("abc=1")));
    EXPECT_EQ(o.setup.colorScheme, "dark");
    EXPECT_EQ(o.setup.media, "print");
    EXPECT_EQ(o.setup.userAgent, "Tester/1");
    EXPECT_EQ(o.waitFor, "main");
    EXPECT_TRUE(o.skipExisting);
    EXPECT_EQ(o.reportFile, "r.jsonl");
    ASSERT_EQ(o.jobs.size(), 1u);
    EXPECT_EQ(o.jobs[0].address, "a.html");
    EXPECT_EQ(o.parallel, defaultParallel());
    EXPECT_GE(defaultParallel(), 1);
    EXPECT_LE(defaultParallel(), 4);

    const QStringList bad[] = {
        {"--size", "abc", "a", "b"},
        {"--bogus", "a", "b"},
        {"-q", "a", "b"},
        {"-q", "a"},
        {"a"},
        {"a", "b", "c"},
        {"a", ""},
        {"--width"},
        {"--batch"},
        {"--batch", "/nonexistent/list"},
        {"a", "-", "--batch", "x"},
        {"--width", "1e3", "a", "b"},
        {"--header", "no colon", "a", "b"},
        {"--header", ": empty name", "a", "b"},
        {"--header", "Bad Name: v", "a", "b"},
        {"--cookie", "novalue", "a", "b"},
        {"--cookie", "=v", "a", "b"},
        {"--cookie", "a=b; path=/", "a", "b"},
        // A line break would end a request header early.
        {"--header", "X-A: a\r\nX-B: b", "a", "b"},
        {"--user-agent", "agent\n", "a", "b"},
        {"--cookie", QString("a=b") + QChar(0x7f), "a", "b"},
        // Read whole, but not without end.
        {"--javascript-file", "/dev/zero", "a", "b"},
        {"--color-scheme", "blue", "a", "b"},
        {"--media", "tv", "a", "b"},
        {"--selector", "#x", "--full-page", "a", "b"},
        {"--javascript", "1", "--javascript-file", "/dev/null", "a", "b"},
        {"--javascript-file", "/nonexistent/script.js", "a", "b"},
        {"--report", "-", "a", "-"},
        {"--shard", "0/2", "a", "b"},
        {"--wait-for", "", "a", "b"},
    };
    for (const QStringList& args : bad)
        EXPECT_FALSE(parseArguments(args).ok) << args.join(' ').toStdString();
    EXPECT_EQ(
        parseArguments({"-q", "a"}).error.toStdString(),
        "unknown option -q (options begin with --; put -- before an ADDRESS or OUTPUT that begins with -)");
    // After -- a name may begin with a dash.
    const ParseResult dashed = parseArguments({"--", "-page.html", "-out.png"});
    ASSERT_TRUE(dashed.ok) << dashed.error.toStdString();
    ASSERT_EQ(dashed.options.jobs.size(), 1u);
    EXPECT_EQ(dashed.options.jobs[0].address, "-page.html");
}

// Every numeric option takes its smallest and largest values and refuses one step beyond.
TEST(CaptureOptions, NumericOptionsTakeTheirBoundsAndNothingBeyond) {
    struct Case {
        const char* option;
        int min, max;
        int CaptureOptions::*field;
    } const cases[] = {
        {"--width", 10, 20000, &CaptureOptions::width},  {"--height", 10, 20000, &CaptureOptions::height},
        {"--size", 10, 2000, &CaptureOptions::size},     {"--quality", 1, 100, &CaptureOptions::quality},
        {"--wait", 0, 3600000, &CaptureOptions::waitMs}, {"--timeout", 1, 86400, &CaptureOptions::timeoutS},
        {"--jobs", 1, 16, &CaptureOptions::parallel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        for (int value : {c.min, c.max}) {
            const ParseResult r = parseArguments({c.option, QString::number(value), "a.html", "b.png"});
            ASSERT_TRUE(r.ok) << value << ": " << r.error.toStdString();
            EXPECT_EQ(r.options.*(c.field), value);
        }
        for (int value : {c.min - 1, c.max + 1}) {
            const ParseResult r = parseArguments({c.option, QString::number(value), "a.html", "b.png"});
            EXPECT_FALSE(r.ok) << value;
            EXPECT_TRUE(r.error.contains(c.option)) << r.error.toStdString();
        }
    }
}

TEST_F(BatchFile, ShardAndShardCountTakeTheirBoundsAndNothingBeyond) {
    const QString list = writeBatch(3);
    struct Case {
        QStringList args;
        QProcessEnvironment environment;
        bool ok;
    } const cases[] = {
        {{"--shard", "0/1"}, {}, true},
        {{"--shard", "99999/100000"}, {}, true},
        {{"--shard", "1/1"}, {}, false},
        {{"--shard", "0/0"}, {}, false},
        {{"--shard", "-1/2"}, {}, false},
        {{"--shard", "0/100001"}, {}, false},
        {{"--shard", "2"}, {}, false},
        {{"--shard", "a/b"}, {}, false},
        {{"--shard", "0/2", "--shard-count", "2"}, {}, false},
        {{"--shard-count", "1"}, environmentOf({{"JOB_COMPLETION_INDEX", "0"}}), true},
        {{"--shard-count", "100000"}, environmentOf({{"JOB_COMPLETION_INDEX", "99999"}}), true},
        {{"--shard-count", "0"}, environmentOf({{"JOB_COMPLETION_INDEX", "0"}}), false},
        {{"--shard-count", "100001"}, environmentOf({{"JOB_COMPLETION_INDEX", "0"}}), false},
    };
    for (const Case& c : cases) {
        const ParseResult r = parseArguments(QStringList(c.args) << "--batch" << list, c.environment);
        EXPECT_EQ(r.ok, c.ok) << c.args.join(' ').toStdString() << ": " << r.error.toStdString();
    }
}

// Each shard takes the lines whose index modulo N is K, counting pages only; the scheduler's
// variables choose the shard when --shard does not.
TEST_F(BatchFile, TheShardComesFromTheCommandLineOrTheScheduler) {
    const QString list = writeBatch(7);
    struct Case {
        QStringList args;
        QProcessEnvironment environment;
        std::vector<int> indexes; // empty: refused
    } const cases[] = {
        {{}, {}, {0, 1, 2, 3, 4, 5, 6}},
        {{"--shard", "0/3"}, {}, {0, 3, 6}},
        {{"--shard", "2/3"}, {}, {2, 5}},
        {{"--shard", "6/9"}, {}, {6}},
        // --shard wins over the environment.
        {{"--shard", "1/3"},
         environmentOf({{"SLURM_ARRAY_TASK_ID", "0"}, {"SLURM_ARRAY_TASK_COUNT", "2"}}),
         {1, 4}},
        {{"--shard-count", "3"}, environmentOf({{"JOB_COMPLETION_INDEX", "1"}}), {1, 4}},
        {{}, environmentOf({{"JOB_COMPLETION_INDEX", "1"}}), {}}, // Kubernetes gives no count
        {{"--shard-count", "3"}, {}, {}},                         // a count without an index
        {{"--shard-count", "3"}, environmentOf({{"JOB_COMPLETION_INDEX", "3"}}), {}},
        {{}, environmentOf({{"SLURM_ARRAY_TASK_ID", "1"}, {"SLURM_ARRAY_TASK_COUNT", "2"}}), {1, 3, 5}},
        // An array 5-7 starts at 5: task 6 is the second shard.
        {{},
         environmentOf(
             {{"SLURM_ARRAY_TASK_ID", "6"}, {"SLURM_ARRAY_TASK_COUNT", "3"}, {"SLURM_ARRAY_TASK_MIN", "5"}}),
         {1, 4}},
        // An array 10-14:2 has tasks 10, 12 and 14.
        {{},
         environmentOf({{"SLURM_ARRAY_TASK_ID", "14"},
                        {"SLURM_ARRAY_TASK_COUNT", "3"},
                        {"SLURM_ARRAY_TASK_MIN", "10"},
                        {"SLURM_ARRAY_TASK_STEP", "2"}}),
         {2, 5}},
        {{}, environmentOf({{"SLURM_ARRAY_TASK_ID", "1"}}), {}},
        {{}, environmentOf({{"SLURM_ARRAY_TASK_ID", "9"}, {"SLURM_ARRAY_TASK_COUNT", "3"}}), {}},
        {{}, environmentOf({{"SLURM_ARRAY_TASK_ID", "x"}, {"SLURM_ARRAY_TASK_COUNT", "3"}}), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString() + " " +
                     c.environment.toStringList().join(' ').toStdString());
        const ParseResult r = parseArguments(QStringList(c.args) << "--batch" << list, c.environment);
        if (c.indexes.empty()) {
            EXPECT_FALSE(r.ok);
            EXPECT_FALSE(r.error.isEmpty());
            continue;
        }
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        std::vector<int> got;
        for (const Job& job : r.options.jobs) {
            got.push_back(job.index);
            EXPECT_EQ(job.address, QStringLiteral("p%1.html").arg(job.index));
        }
        EXPECT_EQ(got, c.indexes);
        EXPECT_EQ(r.options.batchPages, 7);
    }
    // A single page on the command line is never sharded by the scheduler's variables.
    const ParseResult single =
        parseArguments({"a.html", "b.png"}, environmentOf({{"JOB_COMPLETION_INDEX", "1"}}));
    ASSERT_TRUE(single.ok) << single.error.toStdString();
    EXPECT_EQ(single.options.jobs.size(), 1u);
}

// Files and pipes are read whole up to a bound, and refused beyond it.
TEST(CaptureOptions, InputIsReadWholeUpToItsBound) {
    QTemporaryDir dir;
    const QString name = dir.filePath("text");
    const QByteArray text = QByteArray(3000, 'x');
    {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    for (const qint64 limit : {qint64(2999), qint64(3000), qint64(1) << 20}) {
        QByteArray read;
        QString error;
        EXPECT_EQ(readInput(name, limit, &read, &error),
                  limit >= 3000 ? InputRead::Whole : InputRead::TooLarge)
            << limit;
        if (limit >= 3000) {
            EXPECT_EQ(read, text);
        }
    }
    QByteArray read;
    QString error;
    EXPECT_EQ(readInput(dir.filePath("missing"), 100, &read, &error), InputRead::Failed);
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_EQ(readInput(dir.path(), 100, &read, &error), InputRead::Failed);
    EXPECT_EQ(error, "Is a directory");
    const ParseResult zero = parseArguments({"--batch", "/dev/zero"});
    EXPECT_FALSE(zero.ok);
    EXPECT_EQ(zero.error, "the batch file /dev/zero is larger than 256 MiB: split it into several");
}

TEST(CaptureOptions, BatchLinesTakeQuotesAndSkipComments) {
    std::vector<Job> jobs;
    QString error;
    ASSERT_TRUE(readBatch("# pages\n\nhttp://a.example/ a.png\n\"/tmp/with space.html\"  \"out dir/b.jpg\"\n",
                          &jobs, &error));
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[1].address, "/tmp/with space.html");
    EXPECT_EQ(jobs[1].output, "out dir/b.jpg");
    EXPECT_EQ(jobs[1].index, 1);
    jobs.clear();
    EXPECT_FALSE(readBatch("only-an-address\n", &jobs, &error));
    EXPECT_TRUE(error.contains("line 1"));
    EXPECT_FALSE(readBatch("# c\n- out.png\n", &jobs, &error)) << "standard input is for a single page";
    EXPECT_TRUE(error.contains("line 2"));
    EXPECT_FALSE(readBatch("a.html b.png\na.html \"\"\n", &jobs, &error));
    EXPECT_EQ(error, "line 2 of the batch file: the output is empty");
    EXPECT_FALSE(readBatch("\" \" b.png\n", &jobs, &error));
    EXPECT_EQ(error, "line 1 of the batch file: the address is empty");
}

// Two pages of a batch whose pictures go to one file: the later line is marked with the earlier
// one's, however the name is spelled; the same page named again is not.
TEST(CaptureOptions, OutputsThatAnEarlierLineTakesForAnotherPageAreMarked) {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("out");
    ASSERT_TRUE(QFile::link(dir.filePath("out"), dir.filePath("link")));
    for (const char* name : {"a.html", "b.html"}) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    std::vector<Job> jobs;
    QString error;
    ASSERT_TRUE(readBatch("a.html x.png\n" // 1
                          "b.html x.png\n" // 2: line 1's
                          "# a comment\n"
                          "./a.html ./x.png\n"          // 4: the same page again
                          "b.html out/y.png\n"          // 5
                          "a.html link/y.png\n"         // 6: line 5's, through the link
                          "a.html out/../out/z.png\n"   // 7
                          "b.html ./out//z.png\n"       // 8: line 7's, spelled otherwise
                          "http://h.example/ w.png\n"   // 9
                          "http://h.example/#b w.png\n" // 10: another page
                          "b.html X.png\n"              // 11: names differ in case
                          "a.html -\n"
                          "b.html -\n", // standard output is judged elsewhere
                          &jobs, &error))
        << error.toStdString();
    markTakenOutputs(&jobs, dir.path());
    std::vector<std::pair<int, int>> marked;
    for (const Job& job : jobs)
        if (job.outputTakenBy) marked.emplace_back(job.line, job.outputTakenBy);
    EXPECT_EQ(marked, (std::vector<std::pair<int, int>>{{2, 1}, {6, 5}, {8, 7}, {10, 9}}));
}

TEST(CaptureOptions, AddressesThatNameMissingFilesAreCaughtBeforeTheEngine) {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("docs");
    for (const char* name : {"docs/page.html", "plain.HTM", "odd#name.html", "odd?query.html"}) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString base = QUrl::fromLocalFile(dir.path()).toString(QUrl::FullyEncoded);
    struct Case {
        QString address;
        QString engine; // empty: refused
    } const cases[] = {
        {"docs/page.html", base + "/docs/page.html"},
        {"docs/page.html#part-2", base + "/docs/page.html#part-2"},
        {dir.filePath("docs/page.html") + "#top", base + "/docs/page.html#top"},
        {"plain.HTM", base + "/plain.HTM"},
        {"odd#name.html", base + "/odd%23name.html"},
        {"docs/page.html?id=3&tab=a%20b", base + "/docs/page.html?id=3&tab=a%20b"},
        {"docs/page.html?id=3#part-2", base + "/docs/page.html?id=3#part-2"},
        {"odd?query.html", base + "/odd%3Fquery.html"},
        {"odd?query.html?x", base + "/odd%3Fquery.html?x"},
        {"missing.html?id=3", ""},
        {"docs/missing.html", ""},
        {"missing.html", ""},
        {"missing.svg#x", ""},
        {"docs/", ""},
        {"nothere/index", ""},
        {"https://example.org/a.html", "https://example.org/a.html"},
        {"about:blank", "about:blank"},
        {"localhost:8080/page.html", "localhost:8080/page.html"},
        {"example.org", "example.org"},
    };
    for (const Case& c : cases) {
        const ResolvedAddress r = resolveAddress(c.address, dir.path());
        if (c.engine.isEmpty()) {
            EXPECT_TRUE(r.address.isEmpty()) << c.address.toStdString();
            EXPECT_FALSE(r.error.isEmpty()) << c.address.toStdString();
        } else {
            EXPECT_EQ(r.address, c.engine) << c.address.toStdString() << ": " << r.error.toStdString();
        }
    }
    EXPECT_TRUE(resolveAddress("missing.html", dir.path()).error.startsWith("no such file"));
}

// The tool's own words for pictures it cannot make, before anything is loaded.
TEST(CaptureOptions, PictureSizesAreJudgedInTheToolsOwnWords) {
    struct Case {
        long long width, height;
        const char* says; // nullptr: accepted
    } const cases[] = {
        {10000, 20000, nullptr},  {20000, 10000, nullptr},  {10001, 10001, "both sides above 10000 pixels"},
        {10000, 400000, "4 GiB"}, {1431655764, 1, nullptr}, {0, 10, "nothing to draw"},
    };
    for (const Case& c : cases) {
        const QString error = pictureSizeError(c.width, c.height);
        if (!c.says) {
            EXPECT_TRUE(error.isEmpty()) << c.width << " x " << c.height << ": " << error.toStdString();
            continue;
        }
        EXPECT_TRUE(error.contains(c.says)) << error.toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("%1 x %2").arg(c.width).arg(c.height)))
            << error.toStdString();
        EXPECT_FALSE(error.contains("quality")) << "the window's words are not the tool's";
    }
}

} // namespace
