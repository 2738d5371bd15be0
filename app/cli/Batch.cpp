#include "app/cli/Batch.h"

#include "app/cli/PageAddress.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStringList>
#include <algorithm>

namespace app::cli {
namespace {

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

// A whole decimal number without sign or blanks, as schedulers write them.
bool readCount(const QString& text, long long* value) {
    if (text.isEmpty() || text.size() > 12) return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    *value = text.toLongLong();
    return true;
}

} // namespace

bool readBatch(const QString& text, std::vector<Job>* jobs, QString* error) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    int index = 0;
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
        if (items[0].trimmed().isEmpty() || items[1].isEmpty()) {
            *error =
                QStringLiteral("line %1 of the batch file: the %2 is empty")
                    .arg(i + 1)
                    .arg(items[0].trimmed().isEmpty() ? QStringLiteral("address") : QStringLiteral("output"));
            return false;
        }
        if (items[0] == QLatin1String("-")) {
            *error = QStringLiteral("line %1 of the batch file: standard input (\"-\") can only be the "
                                    "ADDRESS of a single page on the command line")
                         .arg(i + 1);
            return false;
        }
        jobs->push_back(Job{items[0], items[1], index++, i + 1});
    }
    return true;
}

void markTakenOutputs(std::vector<Job>* jobs, const QString& folder) {
    struct Taker {
        int line;
        QString page;
    };
    QHash<QString, Taker> takers;
    for (Job& job : *jobs) {
        if (job.output == QLatin1String("-")) continue;
        // The folder as the links lead, so that two spellings of one folder meet; a folder that is
        // not there yet is compared as written.
        const QFileInfo output(QDir(folder).absoluteFilePath(job.output));
        const QString where = output.dir().canonicalPath();
        const QString key = (where.isEmpty() ? QDir::cleanPath(output.absolutePath()) : where) +
                            QLatin1Char('/') + output.fileName();
        const ResolvedAddress resolved = resolveAddress(job.address, folder);
        const QString page = resolved.error.isEmpty() ? resolved.address : job.address;
        const auto taken = takers.constFind(key);
        if (taken == takers.cend())
            takers.insert(key, Taker{job.line, page});
        else if (taken->page != page)
            job.outputTakenBy = taken->line;
    }
}

bool parseShard(const QString& text, Shard* shard, QString* error) {
    const int slash = text.indexOf(QLatin1Char('/'));
    long long k = 0, n = 0;
    if (slash < 0 || !readCount(text.left(slash), &k) || !readCount(text.mid(slash + 1), &n)) {
        *error = QStringLiteral("--shard: \"%1\" is not K/N (two whole numbers, such as 0/3)").arg(text);
        return false;
    }
    if (n < 1 || n > kMaxShards || k >= n) {
        *error = QStringLiteral("--shard: %1 needs 1 <= N <= %2 and 0 <= K < N").arg(text).arg(kMaxShards);
        return false;
    }
    *shard = Shard{int(k), int(n)};
    return true;
}

bool shardFromEnvironment(const QProcessEnvironment& environment, int shardCount, Shard* shard, bool* found,
                          QString* error) {
    *found = false;
    auto number = [&](const char* name, long long* value) {
        const QString text = environment.value(QString::fromLatin1(name)).trimmed();
        if (readCount(text, value)) return true;
        *error = QStringLiteral("%1 is \"%2\", not a whole number").arg(QLatin1String(name), text);
        return false;
    };

    if (environment.contains(QStringLiteral("JOB_COMPLETION_INDEX"))) {
        if (shardCount <= 0) {
            *error =
                QStringLiteral("JOB_COMPLETION_INDEX is set (a Kubernetes Indexed Job) but Kubernetes does "
                               "not tell the number of shards: give it as --shard-count N (the Job's "
                               "completions), or choose the shard with --shard K/N");
            return false;
        }
        long long index = 0;
        if (!number("JOB_COMPLETION_INDEX", &index)) return false;
        if (index >= shardCount) {
            *error = QStringLiteral("JOB_COMPLETION_INDEX is %1, but --shard-count is %2")
                         .arg(index)
                         .arg(shardCount);
            return false;
        }
        *shard = Shard{int(index), shardCount};
        *found = true;
        return true;
    }
    if (shardCount > 0) {
        *error = QStringLiteral("--shard-count goes with JOB_COMPLETION_INDEX, which is not set");
        return false;
    }
    if (environment.contains(QStringLiteral("SLURM_ARRAY_TASK_ID"))) {
        long long id = 0, count = 0, first = 0, step = 1;
        if (!number("SLURM_ARRAY_TASK_ID", &id)) return false;
        if (!environment.contains(QStringLiteral("SLURM_ARRAY_TASK_COUNT"))) {
            *error = QStringLiteral("SLURM_ARRAY_TASK_ID is set but SLURM_ARRAY_TASK_COUNT is not");
            return false;
        }
        if (!number("SLURM_ARRAY_TASK_COUNT", &count)) return false;
        // An array such as --array=5-9 starts at 5: its first task takes shard 0.
        if (environment.contains(QStringLiteral("SLURM_ARRAY_TASK_MIN")) &&
            !number("SLURM_ARRAY_TASK_MIN", &first))
            return false;
        if (environment.contains(QStringLiteral("SLURM_ARRAY_TASK_STEP")) &&
            !number("SLURM_ARRAY_TASK_STEP", &step))
            return false;
        if (step < 1) step = 1;
        const long long index = (id - first) / step;
        if (count < 1 || count > kMaxShards || id < first || (id - first) % step != 0 || index >= count) {
            *error =
                QStringLiteral("the Slurm array task %1 (first %2, step %3, %4 tasks) is not one of evenly "
                               "spaced tasks; choose the shard with --shard K/N")
                    .arg(id)
                    .arg(first)
                    .arg(step)
                    .arg(count);
            return false;
        }
        *shard = Shard{int(index), int(count)};
        *found = true;
    }
    return true;
}

std::vector<Job> selectShard(const std::vector<Job>& jobs, const Shard& shard) {
    std::vector<Job> taken;
    for (const Job& job : jobs)
        if (job.index % shard.count == shard.index) taken.push_back(job);
    return taken;
}

} // namespace app::cli
