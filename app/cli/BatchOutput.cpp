#include "app/cli/BatchOutput.h"

#include "app/cli/CaptureOptions.h"
#include "app/cli/Input.h"
#include "app/cli/PageAddress.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace app::cli {

BatchOutput::BatchOutput(const CaptureOptions& options, std::FILE* err, bool errIsTerminal)
    : m_options(options), m_err(err), m_terminal(errIsTerminal && !options.quiet) {}

BatchOutput::~BatchOutput() {
    if (m_ownsReport) std::fclose(m_report);
}

bool BatchOutput::openReport(QString* error) {
    if (m_options.reportFile.isEmpty()) return true;
    if (m_options.reportFile == QLatin1String("-")) {
        m_report = stdout;
        return true;
    }
    // The report is emptied before the first page: it must not be a file the run reads.
    auto refuse = [&](const QString& why) {
        *error = QStringLiteral("cannot write the report %1: it is %2").arg(m_options.reportFile, why);
        return false;
    };
    if (m_options.batchFile != QLatin1String("-") && sameFile(m_options.reportFile, m_options.batchFile))
        return refuse(QStringLiteral("the batch file"));
    if (QFile::exists(m_options.reportFile)) {
        for (const Job& job : m_options.jobs)
            if (sameFile(m_options.reportFile,
                         localFileOf(resolveAddress(job.address, QDir::currentPath()).address)))
                return refuse(QStringLiteral("the page %1").arg(job.address));
    }
    m_report = openForWriting(m_options.reportFile);
    if (!m_report) {
        *error = QStringLiteral("cannot write the report %1: %2")
                     .arg(m_options.reportFile, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_ownsReport = true;
    return true;
}

void BatchOutput::pageFinished(const PageResult& result) {
    std::lock_guard lock(m_mutex);
    ++m_done;
    if (result.status != 0) m_failures.emplace_back(result.index, result.status);
    if (m_report) writeReportLine(result);
    if (m_terminal) std::fputs("\r\033[K", m_err);
    // An address can be megabytes long (a data: URL): the line shows its start and its length,
    // the report holds all of it.
    constexpr qsizetype kShownAddress = 200;
    const QByteArray address =
        (result.address.size() <= kShownAddress ? result.address
                                                : QStringLiteral("%1... (%2 characters)")
                                                      .arg(result.address.left(kShownAddress))
                                                      .arg(result.address.size()))
            .toLocal8Bit();
    const int total = int(m_options.jobs.size());
    if (result.status != 0) {
        // Failures are reported even when quiet: they are the answer, not progress.
        // One line per page, whatever the message holds.
        std::fprintf(m_err, "velmora-capture: %s: %s\n", address.constData(),
                     result.message.simplified().toLocal8Bit().constData());
    } else if (!m_options.quiet) {
        const QByteArray output = result.output.toLocal8Bit();
        if (result.skipped)
            std::fprintf(m_err, "%d/%d %s -> %s (skipped: it exists)\n", m_done, total, address.constData(),
                         output.constData());
        else
            std::fprintf(m_err, "%d/%d %s -> %s (%d x %d)%s%s\n", m_done, total, address.constData(),
                         output.constData(), result.width, result.height,
                         result.message.isEmpty() ? "" : ": ",
                         result.message.simplified().toLocal8Bit().constData());
    }
    if (m_terminal && m_done < total) drawBar(-1);
    std::fflush(m_err);
}

void BatchOutput::writeReportLine(const PageResult& result) {
    const QByteArray line = toJsonLine(result) + '\n';
    // Flushed line by line: whoever follows the report sees each page as it ends.
    errno = 0;
    if (std::fwrite(line.constData(), 1, std::size_t(line.size()), m_report) == std::size_t(line.size()) &&
        std::fflush(m_report) == 0) {
        m_reportBytes += line.size();
        return;
    }
    const QString reason = QString::fromLocal8Bit(std::strerror(errno ? errno : EIO));
    // A report that lost a page must not look whole: the run says so and ends with ExitWrite.
    // The pictures go on being made. A line the disk took only part of is cut off again, so
    // that the report holds whole lines, each of a page that ended.
    if (m_ownsReport) {
        std::fclose(m_report);
        const QByteArray name = QFile::encodeName(m_options.reportFile);
        [[maybe_unused]] const int cut = ::truncate(name.constData(), off_t(m_reportBytes));
        m_ownsReport = false;
    }
    m_report = nullptr;
    m_reportFailed = true;
    const QString report = m_options.reportFile == QLatin1String("-") ? QStringLiteral("to standard output")
                                                                      : m_options.reportFile;
    const QByteArray text = QStringLiteral("cannot write the report %1: %2; it ends before %3")
                                .arg(report, reason, result.address)
                                .toLocal8Bit();
    if (m_terminal) std::fputs("\r\033[K", m_err);
    std::fprintf(m_err, "velmora-capture: %s\n", text.constData());
}

void BatchOutput::pageProgress(const Job&, int percent) {
    if (!m_terminal) return;
    std::lock_guard lock(m_mutex);
    // Render ends by setting its progress back to 0: the page is drawn then, not starting.
    drawBar(percent > 0 ? std::min(percent, 100) : -1);
}

void BatchOutput::drawBar(int percent) {
    constexpr int kBar = 30;
    const int total = std::max<int>(1, int(m_options.jobs.size()));
    const int filled = m_done * kBar / total;
    char bar[kBar + 1];
    std::memset(bar, '#', std::size_t(filled));
    std::memset(bar + filled, '-', std::size_t(kBar - filled));
    bar[kBar] = 0;
    if (percent >= 0)
        std::fprintf(m_err, "\r\033[K[%s] %d/%d pages done, drawing %3d%%", bar, m_done, total, percent);
    else
        std::fprintf(m_err, "\r\033[K[%s] %d/%d pages done", bar, m_done, total);
    std::fflush(m_err);
}

int BatchOutput::pagesDone() const {
    std::lock_guard lock(m_mutex);
    return m_done;
}

int BatchOutput::exitStatus() const {
    std::lock_guard lock(m_mutex);
    const auto first = std::min_element(m_failures.begin(), m_failures.end());
    if (first != m_failures.end()) return first->second;
    return m_reportFailed ? ExitWrite : ExitOk;
}

} // namespace app::cli
