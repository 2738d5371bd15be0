// Captures the pages of a velmora-capture run with one browser view, one after the other.
#pragma once

#include "app/cli/CaptureOptions.h"

#include <QString>
#include <cstdio>

namespace browser {
class BrowserView;
}

namespace app::cli {

class CaptureRunner {
  public:
    // Progress and per-page lines go to err; a terminal gets a bar that redraws in place.
    CaptureRunner(const CaptureOptions& options, std::FILE* err, bool errIsTerminal);
    // Runs every job; returns ExitOk or the status of the first failure.
    int run();

  private:
    struct Outcome {
        int status = ExitOk;
        QString message;
        int width = 0;
        int height = 0;
    };
    Outcome captureOne(browser::BrowserView& view, const Job& job, int index);
    QString loadPage(browser::BrowserView& view, const QString& address);
    void showProgress(int index, int percent);
    void finishLine(int index, const Job& job, const Outcome& outcome);

    const CaptureOptions& m_options;
    std::FILE* m_err;
    bool m_terminal;
};

} // namespace app::cli
