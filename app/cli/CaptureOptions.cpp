#include "app/cli/CaptureOptions.h"

#include <QFile>

namespace app::cli {
namespace {

struct IntOption {
    const char* name;
    int CaptureOptions::*field;
    int min;
    int max;
};

constexpr IntOption kIntOptions[] = {
    {"--width", &CaptureOptions::width, 10, 20000},     {"--height", &CaptureOptions::height, 10, 20000},
    {"--size", &CaptureOptions::size, 10, 2000},        {"--wait", &CaptureOptions::waitMs, 0, 3600000},
    {"--timeout", &CaptureOptions::timeoutS, 1, 86400}, {"--quality", &CaptureOptions::quality, 1, 100},
};

// Splits a line into items the way a command line is read: blanks separate, double quotes group
// and are dropped.
QStringList splitItems(const QString& line) {
    QStringList items;
    QString current;
    bool inQuotes = false;
    bool any = false;
    for (QChar c : line) {
        if (c == QLatin1Char('"')) {
            inQuotes = !inQuotes;
            any = true;
        } else if (!inQuotes && c.unicode() <= 32) {
            if (any) items << current;
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any) items << current;
    return items;
}

} // namespace

QString usageText() {
    return QStringLiteral(
        "Usage: velmora-capture [options] ADDRESS OUTPUT\n"
        "       velmora-capture [options] --batch FILE\n"
        "\n"
        "Loads ADDRESS (a web address or a local file) in a headless browser view and writes one\n"
        "picture of it to OUTPUT. The format follows OUTPUT's extension: .png, .jpg/.jpeg, .bmp;\n"
        "any other name is written as a Windows bitmap. OUTPUT \"-\" writes PNG to standard output.\n"
        "\n"
        "Options:\n"
        "  --width N       width of the browser view in pixels (10..20000, default 800)\n"
        "  --height N      height of the browser view in pixels (10..20000, default 1000)\n"
        "  --size P        output size in percent of the view (10..2000, default 100)\n"
        "  --full-page     make the view as tall as the loaded document, to capture all of it\n"
        "  --wait MS       wait this long after the document has loaded (default 0)\n"
        "  --timeout S     give up on a page after S seconds (default 60)\n"
        "  --quality Q     JPEG quality (1..100, default 90)\n"
        "  --batch FILE    capture every \"ADDRESS OUTPUT\" line of FILE with one browser\n"
        "  --quiet         no progress output\n"
        "  --help          show this text\n"
        "\n"
        "Exit status: 0 all pictures written; 2 bad usage; 3 a page could not be loaded or timed\n"
        "out; 4 a picture too large or not enough memory; 5 an output could not be written.\n"
        "A batch goes on after a failing page and exits with the first failure's status.\n");
}

bool readBatch(const QString& text, std::vector<Job>* jobs, QString* error) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
        const QStringList items = splitItems(line);
        if (items.size() != 2) {
            *error = QStringLiteral(
                         "line %1 of the batch file: expected an address and an output, found %2 item(s)")
                         .arg(i + 1)
                         .arg(items.size());
            return false;
        }
        jobs->push_back(Job{items[0], items[1]});
    }
    return true;
}

ParseResult parseArguments(const QStringList& arguments) {
    ParseResult result;
    CaptureOptions& o = result.options;
    QStringList positional;
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
        if (!arg.startsWith(QLatin1String("--")) || arg == QLatin1String("-")) {
            positional << arg;
            continue;
        }
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

        if (arg == QLatin1String("--help")) {
            o.help = true;
        } else if (arg == QLatin1String("--quiet")) {
            o.quiet = true;
        } else if (arg == QLatin1String("--full-page")) {
            o.fullPage = true;
        } else if (arg == QLatin1String("--batch")) {
            if (!takeValue() || value.isEmpty()) return fail(QStringLiteral("--batch needs a file"));
            o.batchFile = value;
        } else {
            const IntOption* option = nullptr;
            for (const auto& candidate : kIntOptions)
                if (arg == QLatin1String(candidate.name)) option = &candidate;
            if (!option) return fail(QStringLiteral("unknown option %1").arg(arg));
            if (!takeValue()) return fail(QStringLiteral("%1 needs a value").arg(arg));
            bool ok = false;
            const qlonglong n = value.toLongLong(&ok);
            if (!ok) return fail(QStringLiteral("%1: \"%2\" is not a whole number").arg(arg, value));
            if (n < option->min || n > option->max)
                return fail(QStringLiteral("%1: %2 is outside %3..%4")
                                .arg(arg, value)
                                .arg(option->min)
                                .arg(option->max));
            o.*(option->field) = int(n);
        }
    }

    if (o.help) {
        result.ok = true;
        return result;
    }
    if (!o.batchFile.isEmpty()) {
        if (!positional.isEmpty())
            return fail(QStringLiteral("--batch takes no ADDRESS or OUTPUT on the command line"));
        QFile file(o.batchFile);
        if (!file.open(QIODevice::ReadOnly))
            return fail(
                QStringLiteral("cannot read the batch file %1: %2").arg(o.batchFile, file.errorString()));
        QString error;
        if (!readBatch(QString::fromUtf8(file.readAll()), &o.jobs, &error)) return fail(error);
        if (o.jobs.empty()) return fail(QStringLiteral("the batch file %1 lists no pages").arg(o.batchFile));
    } else {
        if (positional.size() != 2)
            return fail(positional.size() < 2 ? QStringLiteral("ADDRESS and OUTPUT are needed")
                                              : QStringLiteral("too many arguments"));
        if (positional[0].trimmed().isEmpty()) return fail(QStringLiteral("the ADDRESS is empty"));
        o.jobs.push_back(Job{positional[0], positional[1]});
    }
    int toStdout = 0;
    for (const Job& job : o.jobs)
        toStdout += job.output == QLatin1String("-");
    if (toStdout > 1) return fail(QStringLiteral("only one picture can go to standard output"));
    result.ok = true;
    return result;
}

} // namespace app::cli
