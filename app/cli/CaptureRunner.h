// Captures the pages of a velmora-capture run one after the other. The next pages are opened and
// load while the page before them settles and is drawn, and a page's picture is written on a
// second thread meanwhile: at most four pages and one picture at a time. A page that ended well
// leaves its view (renderer and browser context) to a later page, wiped of everything it left;
// one that failed takes its view with it.
#pragma once

#include "app/cli/CaptureOptions.h"
#include "app/cli/PageResult.h"
#include "app/cli/WriteBehind.h"

#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

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
        int documentHeight = 0; // set when the view could not be as tall as the document
        int innerScrolling = 0; // the --height that shows all of a page that scrolls inside an element
    };

    struct Page;

    // The engine leaves frames of another origin empty below the viewport: each of boxes is
    // drawn again with the page scrolled to it, and put into the picture. Returns how many could
    // not be.
    int drawFramesBelow(browser::BrowserView& view, const Frame& frame, const QList<QRect>& boxes,
                        pixolan::DibOwner& picture, Deadline deadline);
    // What a picture lacks after that, said for the user; empty if nothing.
    QString emptyFramesNote(int undrawn, const Frame& frame) const;
    // What else the picture of a page lacks, or how it was taken, said for the user: the rest of
    // a page too tall for a view or that grew each time it was shown, the rest of one that scrolls
    // inside an element, and how often one that reloaded without end had done so (0: it had not).
    static QStringList takenNotes(const Frame& frame, std::uint64_t restlessDocuments);

    // Starts the engine before the first page that needs it.
    void warmUp();
    // Opens the job's page in a view of its own and hands the address over; what fails here is
    // told in the page's turn.
    std::unique_ptr<Page> open(const Job& job);
    // The page's turn, from the wait for its load to its picture handed to the writer; the next
    // pages are opened (openNext) once this one's time has started.
    void finish(Page& page, const std::function<void()>& openNext);

    // Gives the page's address to a view: one a page before left (mayReuse, when there is one)
    // or a fresh one, its engine calls bounded by deadline. Returns why it could not, the view
    // then gone.
    QString startLoading(Page& page, bool mayReuse, Deadline deadline);
    // Waits for the page's load; a page whose view could not be reused loads in a fresh one.
    QString loadPage(Page& page, Deadline deadline);
    QString waitForLoad(Page& page, Deadline deadline);
    Deadline networkBy(Deadline deadline) const;
    // After the page went on to another document: whether one has loaded since completedBefore
    // (waiting for it) with time left to take the page again.
    bool nextDocumentLoaded(Page& page, std::uint64_t completedBefore, Deadline deadline);
    // Settling (unless hurried), then --wait-for, --wait, --javascript and --hide, in that order.
    QString preparePage(Page& page, Deadline deadline, QString* doing, bool hurried);
    // The view's size for --full-page, the element's box for --selector. The page's requests are
    // waited for until networkBy as the view grows.
    QString measure(browser::BrowserView& view, Frame* frame, Deadline networkBy, Deadline deadline);
    // The picture, or when the engine's own PNG of the view is the file wanted (the whole view at
    // 100 % into a PNG), those bytes in *png instead. A picture that is final as drawn (nothing
    // is put into it afterwards) and goes into a PNG comes encoded in *png too.
    int render(browser::BrowserView& view, const Job& job, const Frame& frame, bool final,
               pixolan::DibOwner* picture, QByteArray* png, QString* message);
    // The page's message for its time limit running out while doing something: it stopped
    // answering, or (its view still answers within patience) it was slow and a longer limit may do.
    QString ranOut(const QString& doing, browser::BrowserView* view,
                   std::chrono::milliseconds patience = std::chrono::milliseconds(500)) const;
    // The page's message for a draw the view could not make, from the view's reason.
    QString drawFailure(const QString& why, browser::BrowserView& view) const;

    const CaptureOptions& m_options;
    PageSink& m_sink;
    // Views of pages that ended well, for the next pages to be opened in, each with the number
    // of pages it has held.
    struct SpareView {
        std::unique_ptr<browser::BrowserView> view;
        int pages = 0;
    };
    std::vector<SpareView> m_spareViews;
    WriteBehind m_writer;
    bool m_warm = false;
};

// The rule for a picture's size, in the tool's own words: empty when a picture of width x height
// pixels can be made, else why not.
QString pictureSizeError(long long width, long long height);

} // namespace app::cli
