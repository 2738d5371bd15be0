// Captures the pages of a velmora-capture run with one browser view, one after the other. A
// page's picture is written on a second thread while the next page loads.
#pragma once

#include "app/cli/CaptureOptions.h"
#include "app/cli/PageResult.h"
#include "app/cli/WriteBehind.h"

#include <QRect>
#include <QSize>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>

namespace browser {
class BrowserView;
}

namespace app::cli {

// Hands out the pages a runner takes, one when the runner is ready for it; nothing left ends
// the run.
class JobSource {
  public:
    virtual ~JobSource() = default;
    virtual std::optional<Job> next() = 0;
};

class CaptureRunner {
  public:
    // Finished pages go to sink, from the runner's thread or the writer's.
    CaptureRunner(const CaptureOptions& options, PageSink& sink);
    ~CaptureRunner();
    CaptureRunner(const CaptureRunner&) = delete;
    CaptureRunner& operator=(const CaptureRunner&) = delete;

    // Captures every page the source hands out; returns when the last picture is written.
    void run(JobSource& source);

  private:
    using Clock = std::chrono::steady_clock;
    using Deadline = Clock::time_point;
    // What the picture shows: the view at its size, and the part of it in the picture.
    struct Frame {
        QSize view;
        QRect part;
    };

    // Starts the engine before the first page that needs it.
    void warmUp();
    // One page from start to end: navigate, wait, the page's scripts, measure, render, write.
    void capturePage(const Job& job);

    QString loadPage(const QString& address, Deadline deadline);
    // --wait-for, --wait, --javascript and --hide, in that order.
    Deadline networkBy(Deadline deadline) const;
    QString preparePage(Deadline deadline, QString* doing);
    // The view's size for --full-page, the element's box for --selector.
    QString measure(Frame* frame, Deadline deadline);
    int render(const Job& job, const Frame& frame, pixolan::DibOwner* picture, QString* message);
    QString ranOut(const QString& doing) const;

    const CaptureOptions& m_options;
    PageSink& m_sink;
    std::unique_ptr<browser::BrowserView> m_view;
    WriteBehind m_writer;
    bool m_warm = false;
};

// The rule for a picture's size, in the tool's own words: empty when a picture of width x height
// pixels can be made, else why not.
QString pictureSizeError(long long width, long long height);

} // namespace app::cli
