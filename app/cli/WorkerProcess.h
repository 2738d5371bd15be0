// A batch spread over several engines runs each engine in a helper process of its own: the tool
// starts copies of itself in a hidden mode, hands each the next page when it is free, and reads
// back one result line per page. Processes rather than threads, because the browser layer and
// Qt's GUI objects live on one thread per process; an engine that dies takes only its own
// process, and the page it was on, with it.
//
// The helpers talk over two pipes of their own (descriptors 3 and 4 in the helper), so that
// standard output stays free for a picture written to "-". Each message is one line of JSON:
// a page to the helper, a finished page or {"ready":true} back. A helper says it is ready once
// its picture is drawn and handed to its writer thread, so the next page loads while the last
// one is encoded; it makes the next picture only after that write, so a helper holds at most one
// picture.
#pragma once

#include "app/cli/BatchOutput.h"
#include "app/cli/CaptureOptions.h"
#include "app/cli/CaptureRunner.h"

#include <QStringList>

namespace app::cli {

inline constexpr int kWorkerJobsFd = 3;
inline constexpr int kWorkerResultsFd = 4;

// The helper's side: captures the pages that come on descriptor 3 until it closes.
int runWorker(const CaptureOptions& options);

// The tool's side: spreads the pages of source over at most `engines` helpers, started when
// first needed, each with arguments (the tool's own command line) and the hidden option. A
// helper that dies fails the pages it held (status 3) and the rest go to a new one.
void runWorkerPool(const QStringList& arguments, int engines, JobSource& source, PageSink& sink);

} // namespace app::cli
