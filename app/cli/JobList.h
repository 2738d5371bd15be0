// The pages of a run, handed out in batch order. A page whose output an earlier line names for
// another page fails at once; with --skip-existing, the pages whose output is there already are
// reported as skipped instead.
#pragma once

#include "app/cli/CaptureRunner.h"

#include <cstddef>

namespace app::cli {

class JobList : public JobSource {
  public:
    JobList(const CaptureOptions& options, PageSink& sink) : m_options(options), m_sink(sink) {}
    std::optional<Job> next() override;

  private:
    const CaptureOptions& m_options;
    PageSink& m_sink;
    std::size_t m_next = 0;
};

} // namespace app::cli
