// How one page of a run ended, as the report, the progress lines and the batch's helper
// processes pass it on.
#pragma once

#include "app/cli/Batch.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace app::cli {

struct PageResult {
    int index = 0; // the job's index in the batch
    QString address;
    QString output;
    int status = 0; // an ExitStatus
    QString message;
    int width = 0; // of the picture written
    int height = 0;
    qint64 bytes = 0; // written to the output
    qint64 ms = 0;    // from the start of the page's turn to its picture written
    bool skipped = false;
    int httpStatus = 0; // of the page's document; 0 for one that did not come over HTTP
    // Where the time went: loading, the waits and scripts after it (settling among them),
    // drawing, encoding. Opening the page (its context, its target, the address handed over)
    // happens before its turn, while the page before it is captured.
    qint64 openMs = 0, loadMs = 0, settleMs = 0, prepareMs = 0, renderMs = 0, writeMs = 0;
};

PageResult resultFor(const Job& job);

// One line of JSON, without the line end: the report's form, and the helpers' to the tool.
QByteArray toJsonLine(const PageResult& result);
std::optional<PageResult> fromJsonLine(const QByteArray& line);

// Where finished pages go. Called from the thread that finished the page (pictures are written
// on a thread of their own), so implementations lock what they share.
class PageSink {
  public:
    virtual ~PageSink() = default;
    virtual void pageFinished(const PageResult& result) = 0;
    // How far the page being drawn is, in percent; only the terminal's bar shows it.
    virtual void pageProgress(const Job&, int /*percent*/) {}
};

} // namespace app::cli
