#include "app/cli/JobList.h"

#include <QFileInfo>

namespace app::cli {

std::optional<Job> JobList::next() {
    while (m_next < m_options.jobs.size()) {
        const Job& job = m_options.jobs[m_next++];
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
