#include "app/cli/JobList.h"

#include <QFileInfo>

namespace app::cli {

std::optional<Job> JobList::next() {
    while (m_next < m_options.jobs.size()) {
        const Job& job = m_options.jobs[m_next++];
        if (job.outputTakenBy > 0) {
            PageResult failed = resultFor(job);
            failed.status = ExitWrite;
            failed.message =
                QStringLiteral("Could not save \"%1\": line %2 of the batch file writes another page's "
                               "picture there, which this one would replace.")
                    .arg(job.output)
                    .arg(job.outputTakenBy);
            m_sink.pageFinished(failed);
            continue;
        }
        // exists() follows a link: a link to nothing yet is a picture still to be made.
        if (m_options.skipExisting && job.output != QLatin1String("-") && QFileInfo::exists(job.output)) {
            PageResult skipped = resultFor(job);
            skipped.skipped = true;
            skipped.message = QStringLiteral("the output exists");
            m_sink.pageFinished(skipped);
            continue;
        }
        return job;
    }
    return std::nullopt;
}

} // namespace app::cli
