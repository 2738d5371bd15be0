#include "app/cli/CaptureOptions.h"

#include "app/cli/Input.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <thread>

namespace app::cli {
namespace {

struct IntOption {
    const char* name;
    int CaptureOptions::*field;
    int min;
    int max;
};

constexpr int kMaxParallel = 16;

constexpr IntOption kIntOptions[] = {
    {"--width", &CaptureOptions::width, 10, kMaxViewSide},
    {"--height", &CaptureOptions::height, 10, kMaxViewSide},
    {"--size", &CaptureOptions::size, 10, 2000},
    {"--wait", &CaptureOptions::waitMs, 0, 3600000},
    {"--timeout", &CaptureOptions::timeoutS, 1, 86400},
    {"--quality", &CaptureOptions::quality, 1, 100},
    {"--jobs", &CaptureOptions::parallel, 1, kMaxParallel},
};

// Options that take a text: where it goes, and whether it may be given more than once.
struct TextOption {
    const char* name;
    QString CaptureOptions::*field;
};

constexpr TextOption kTextOptions[] = {
    {"--batch", &CaptureOptions::batchFile},       {"--report", &CaptureOptions::reportFile},
    {"--javascript", &CaptureOptions::javascript}, {"--wait-for", &CaptureOptions::waitFor},
    {"--selector", &CaptureOptions::selector},
};

// Characters below a blank other than the tab, and DEL.
bool hasControlCharacter(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        return (c.unicode() < 0x20 && c != QLatin1Char('\t')) || c.unicode() == 0x7f;
    });
}

// "Name: value", as a request header is written; names are HTTP tokens.
bool parseHeader(const QString& text, std::pair<QString, QString>* header) {
    static const QRegularExpression token(QStringLiteral("^[!#$%&'*+.^_`|~0-9A-Za-z-]+$"));
    const int colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0) return false;
    const QString name = text.left(colon).trimmed();
    if (!token.match(name).hasMatch()) return false;
    *header = {name, text.mid(colon + 1).trimmed()};
    return true;
}

// "name=value", as a cookie is set; the name may hold neither blanks nor separators.
bool parseCookie(const QString& text, std::pair<QString, QString>* cookie) {
    static const QRegularExpression name(QStringLiteral("^[^\\s;,=]+$"));
    const int eq = text.indexOf(QLatin1Char('='));
    if (eq <= 0 || !name.match(text.left(eq)).hasMatch() || text.mid(eq + 1).contains(QLatin1Char(';')))
        return false;
    *cookie = {text.left(eq), text.mid(eq + 1)};
    return true;
}

} // namespace

int defaultParallel() {
    int cores = int(std::thread::hardware_concurrency());
    // In a container the cores it may use are its control group's quota ("200000 100000" is two
    // cores), not the machine's: a pod limited to two cores should not start four engines.
    QFile quota(QStringLiteral("/sys/fs/cgroup/cpu.max"));
    if (quota.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> parts = quota.readAll().simplified().split(' ');
        bool okQuota = false, okPeriod = false;
        const long long max = parts.value(0).toLongLong(&okQuota);
        const long long period = parts.value(1).toLongLong(&okPeriod);
        if (okQuota && okPeriod && max > 0 && period > 0)
            cores = std::min(cores, int((max + period - 1) / period));
    }
    // One engine keeps about two cores busy by itself: its pages opened ahead load beside the
    // one being captured, and each picture is encoded on a thread of its own. On two cores a
    // second engine made a batch of documentation pages slower, not faster.
    return std::clamp(cores / 2, 1, 4);
}

QString usageText() {
    return QStringLiteral(
        "Usage: velmora-capture [options] ADDRESS OUTPUT\n"
        "       velmora-capture [options] --batch FILE\n"
        "\n"
        "Loads ADDRESS (a web address, a local file, or - for HTML on standard input) in a headless\n"
        "browser view and writes one picture of it to OUTPUT. The format follows OUTPUT's extension:\n"
        ".png, .jpg/.jpeg, .webp, .bmp; any other name is written as a Windows bitmap. OUTPUT \"-\"\n"
        "writes PNG to standard output.\n"
        "\n"
        "Picture:\n"
        "  --width N            width of the browser view in pixels (10..20000, default 800)\n"
        "  --height N           height of the browser view in pixels (10..20000, default 1000)\n"
        "  --size P             output size in percent of the view (10..2000, default 100)\n"
        "  --full-page          make the view as tall as the loaded document, to capture all of it\n"
        "  --selector CSS       the picture is the box of the first element that matches\n"
        "  --quality Q          JPEG and WebP quality; WebP at 100 is lossless (1..100, default 90)\n"
        "Page:\n"
        "  --wait MS            wait this long after the document has loaded (0..3600000, default 0)\n"
        "  --wait-for CSS       wait until an element matches (within --timeout)\n"
        "  --javascript CODE    run CODE in the page after it has loaded, before the picture\n"
        "  --javascript-file F  the same with the script in file F\n"
        "  --hide CSS           hide the matching elements, keeping their room (repeatable)\n"
        "  --timeout S          give up on a page after S seconds (1..86400, default 60)\n"
        "  --user-agent TEXT    the user agent the page sees\n"
        "  --header \"N: V\"      send this request header (repeatable)\n"
        "  --cookie NAME=VALUE  set this cookie for the page's host (repeatable)\n"
        "  --color-scheme dark|light   the colour scheme the page is told the user prefers\n"
        "  --media print|screen        the CSS media type\n"
        "Batches:\n"
        "  --batch FILE         capture every \"ADDRESS OUTPUT\" line of FILE (- for standard input)\n"
        "  --jobs N             spread a batch over N browser engines (1..16, default: half the\n"
        "                       number of cores, at least 1, at most 4)\n"
        "  --shard K/N          take only the pages whose index modulo N is K (0 <= K < N)\n"
        "  --shard-count N      the N that goes with JOB_COMPLETION_INDEX (Kubernetes)\n"
        "  --skip-existing      leave pages whose OUTPUT exists\n"
        "  --report FILE        one JSON line per page to FILE (- for standard output)\n"
        "  --quiet              no progress output\n"
        "  --help               show this text\n"
        "\n"
        "Exit status: 0 all pictures written; 2 bad usage; 3 a page could not be loaded, timed out,\n"
        "or a script or selector failed; 4 a picture too large or not enough memory; 5 an output\n"
        "or the report could not be written. A batch goes on after a failing page and exits with\n"
        "the status of the first failing page in batch order.\n");
}

ParseResult parseArguments(const QStringList& arguments, const QProcessEnvironment& environment) {
    ParseResult result;
    CaptureOptions& o = result.options;
    o.parallel = defaultParallel();
    QStringList positional;
    QString shardText;
    QString javascriptFile;
    int shardCount = 0;
    auto fail = [&](const QString& text) {
        result.ok = false;
        result.error = text;
        return result;
    };

    for (int i = 0; i < arguments.size(); ++i) {
        QString arg = arguments[i];
        if (arg == QLatin1String("--")) {
            positional += arguments.mid(i + 1);
            break;
        }
        if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            positional << arg;
            continue;
        }
        // -q or -o: options have two dashes here, and a name that begins with one comes after --.
        if (!arg.startsWith(QLatin1String("--")))
            return fail(QStringLiteral("unknown option %1 (options begin with --; put -- before an "
                                       "ADDRESS or OUTPUT that begins with -)")
                            .arg(arg));
        QString value;
        bool hasValue = false;
        if (const int eq = arg.indexOf(QLatin1Char('=')); eq > 0) {
            value = arg.mid(eq + 1);
            arg = arg.left(eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= arguments.size()) return false;
            value = arguments[++i];
            return true;
        };
        auto is = [&](const char* name) { return arg == QLatin1String(name); };

        if (is("--help")) {
            o.help = true;
        } else if (is("--quiet")) {
            o.quiet = true;
        } else if (is("--full-page")) {
            o.fullPage = true;
        } else if (is("--skip-existing")) {
            o.skipExisting = true;
        } else if (arg == QLatin1String(kWorkerOption)) {
            o.worker = true;
        } else if (const auto text = std::find_if(std::begin(kTextOptions), std::end(kTextOptions),
                                                  [&](const TextOption& t) { return is(t.name); });
                   text != std::end(kTextOptions)) {
            if (!takeValue() || value.isEmpty()) return fail(QStringLiteral("%1 needs a value").arg(arg));
            o.*(text->field) = value;
        } else if (is("--javascript-file") || is("--shard") || is("--user-agent") || is("--color-scheme") ||
                   is("--media") || is("--hide") || is("--header") || is("--cookie")) {
            if (!takeValue() || value.isEmpty()) return fail(QStringLiteral("%1 needs a value").arg(arg));
            // What goes into requests and cookies as it is: a line break there would end the
            // header early (the engine refuses it, and only once the page is opened).
            if ((is("--user-agent") || is("--header") || is("--cookie")) && hasControlCharacter(value))
                return fail(
                    QStringLiteral("%1: the value holds a line break or another control character").arg(arg));
            if (is("--javascript-file")) {
                javascriptFile = value;
            } else if (is("--shard")) {
                shardText = value;
            } else if (is("--user-agent")) {
                o.setup.userAgent = value;
            } else if (is("--color-scheme")) {
                if (value != QLatin1String("dark") && value != QLatin1String("light"))
                    return fail(
                        QStringLiteral("--color-scheme: \"%1\" is neither dark nor light").arg(value));
                o.setup.colorScheme = value;
            } else if (is("--media")) {
                if (value != QLatin1String("print") && value != QLatin1String("screen"))
                    return fail(QStringLiteral("--media: \"%1\" is neither print nor screen").arg(value));
                o.setup.media = value;
            } else if (is("--hide")) {
                o.hide << value;
            } else if (is("--header")) {
                std::pair<QString, QString> header;
                if (!parseHeader(value, &header))
                    return fail(QStringLiteral("--header: \"%1\" is not \"Name: value\"").arg(value));
                o.setup.headers.push_back(header);
            } else {
                std::pair<QString, QString> cookie;
                if (!parseCookie(value, &cookie))
                    return fail(QStringLiteral("--cookie: \"%1\" is not \"name=value\"").arg(value));
                o.setup.cookies.push_back(cookie);
            }
        } else {
            const IntOption* option = nullptr;
            for (const auto& candidate : kIntOptions)
                if (is(candidate.name)) option = &candidate;
            const bool count = is("--shard-count");
            if (!option && !count) return fail(QStringLiteral("unknown option %1").arg(arg));
            if (!takeValue()) return fail(QStringLiteral("%1 needs a value").arg(arg));
            const int min = count ? 1 : option->min;
            const int max = count ? kMaxShards : option->max;
            bool ok = false;
            const qlonglong n = value.toLongLong(&ok);
            if (!ok) return fail(QStringLiteral("%1: \"%2\" is not a whole number").arg(arg, value));
            if (n < min || n > max)
                return fail(QStringLiteral("%1: %2 is outside %3..%4").arg(arg, value).arg(min).arg(max));
            (count ? shardCount : o.*(option->field)) = int(n);
        }
    }

    if (o.help) {
        result.ok = true;
        return result;
    }
    if (!javascriptFile.isEmpty()) {
        if (!o.javascript.isEmpty())
            return fail(QStringLiteral("give either --javascript or --javascript-file, not both"));
        QByteArray script;
        QString why;
        const InputRead read = readInput(javascriptFile, kMaxScriptBytes, &script, &why);
        if (read == InputRead::Failed)
            return fail(QStringLiteral("cannot read the script %1: %2").arg(javascriptFile, why));
        if (read == InputRead::TooLarge)
            return fail(QStringLiteral("the script %1 is larger than %2 MiB")
                            .arg(javascriptFile)
                            .arg(kMaxScriptBytes >> 20));
        o.javascript = QString::fromUtf8(script);
        if (o.javascript.trimmed().isEmpty())
            return fail(QStringLiteral("the script %1 is empty").arg(javascriptFile));
    }
    if (!o.selector.isEmpty() && o.fullPage)
        return fail(QStringLiteral("--selector and --full-page exclude each other: the picture is either the "
                                   "element's box or the whole page"));
    // A helper process gets its pages over a pipe; the rest of its command line is the batch's.
    if (o.worker) {
        result.ok = true;
        return result;
    }

    if (!o.batchFile.isEmpty()) {
        if (!positional.isEmpty())
            return fail(QStringLiteral("--batch takes no ADDRESS or OUTPUT on the command line"));
        bool fromEnvironment = false;
        if (!shardText.isEmpty()) {
            if (shardCount > 0) return fail(QStringLiteral("give either --shard or --shard-count, not both"));
            if (!parseShard(shardText, &o.shard, &result.error)) return fail(result.error);
        } else if (!shardFromEnvironment(environment, shardCount, &o.shard, &fromEnvironment,
                                         &result.error)) {
            return fail(result.error);
        }
        // "-": the list comes down a pipe, from whatever makes it.
        const bool fromStdin = o.batchFile == QLatin1String("-");
        const QString batchName = fromStdin ? QStringLiteral("from standard input") : o.batchFile;
        QByteArray text;
        QString why;
        const InputRead read = readInput(o.batchFile, kMaxBatchBytes, &text, &why);
        if (read == InputRead::Failed)
            return fail(QStringLiteral("cannot read the batch file %1: %2").arg(batchName, why));
        if (read == InputRead::TooLarge)
            return fail(QStringLiteral("the batch file %1 is larger than %2 MiB: split it into several")
                            .arg(batchName)
                            .arg(kMaxBatchBytes >> 20));
        QString error;
        std::vector<Job> all;
        if (!readBatch(QString::fromUtf8(text), &all, &error)) return fail(error);
        if (all.empty()) return fail(QStringLiteral("the batch file %1 lists no pages").arg(batchName));
        o.batchPages = int(all.size());
        // Over the whole batch, so that each of several machines finds the same repeats.
        markTakenOutputs(&all, QDir::currentPath());
        o.jobs = selectShard(all, o.shard);
    } else {
        if (!shardText.isEmpty() || shardCount > 0)
            return fail(QStringLiteral("--shard and --shard-count need --batch"));
        if (positional.size() != 2)
            return fail(positional.size() < 2 ? QStringLiteral("ADDRESS and OUTPUT are needed")
                                              : QStringLiteral("too many arguments"));
        if (positional[0].trimmed().isEmpty()) return fail(QStringLiteral("the ADDRESS is empty"));
        if (positional[1].isEmpty()) return fail(QStringLiteral("the OUTPUT is empty"));
        o.jobs.push_back(Job{positional[0], positional[1], 0});
        o.batchPages = 1;
    }
    int toStdout = 0;
    for (const Job& job : o.jobs)
        toStdout += job.output == QLatin1String("-");
    if (toStdout > 1) return fail(QStringLiteral("only one picture can go to standard output"));
    if (toStdout > 0 && o.reportFile == QLatin1String("-"))
        return fail(QStringLiteral("the picture and the report cannot both go to standard output"));
    result.ok = true;
    return result;
}

} // namespace app::cli
