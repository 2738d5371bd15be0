// What a run tells as its pages end: a line per page on standard error (or a bar on a
// terminal), a JSON line per page in the report, and the exit status.
#pragma once

#include "app/cli/CaptureOptions.h"
#include "app/cli/PageResult.h"

#include <cstdio>
#include <mutex>
#include <vector>

namespace app::cli {

class BatchOutput : public PageSink {
  public:
    // Per-page lines go to err; a terminal gets a bar that redraws in place.
    BatchOutput(const CaptureOptions& options, std::FILE* err, bool errIsTerminal);
    ~BatchOutput() override;
    BatchOutput(const BatchOutput&) = delete;
    BatchOutput& operator=(const BatchOutput&) = delete;

    // Opens the report named by the options, if any. False with *error when it cannot be.
    bool openReport(QString* error);

    // Lines are printed as pages finish, each whole under one lock, so that pages finishing on
    // different threads or in different processes never mix their lines.
    void pageFinished(const PageResult& result) override;
    void pageProgress(const Job& job, int percent) override;

    int pagesDone() const;
    // ExitOk, or the status of the first failing page in batch order, whenever it failed;
    // ExitWrite when every page went well but the report could not be written.
    int exitStatus() const;

  private:
    void writeReportLine(const PageResult& result); // with m_mutex held
    void drawBar(int percent);                      // with m_mutex held

    const CaptureOptions& m_options;
    std::FILE* m_err;
    bool m_terminal;
    std::FILE* m_report = nullptr;
    bool m_ownsReport = false;
    long long m_reportBytes = 0; // written whole, line by line
    bool m_reportFailed = false;
    mutable std::mutex m_mutex;
    int m_done = 0;
    std::vector<std::pair<int, int>> m_failures; // index, status
};

} // namespace app::cli
