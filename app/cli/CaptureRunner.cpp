#include "app/cli/CaptureRunner.h"

#include "capture/PictureWriter.h"
#include "capture/Render.h"
#include "platform/browser/BrowserView.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <functional>

using namespace gdi;

namespace app::cli {
namespace {

// Render's surroundings in the command-line tool: the view, the desktop's DC for reading back,
// progress to the runner, and Render's own messages kept for the page's report.
class CliRenderHost : public capture::RenderHost {
  public:
    CliRenderHost(browser::BrowserView& view, std::function<void(int)> progress)
        : m_view(view), m_progress(std::move(progress)) {}

    bool drawView(HDC dc, const RECT& bounds) override {
        return browser::OleDraw(&m_view, browser::DVASPECT_CONTENT, dc, &bounds) == browser::S_OK;
    }
    HDC acquireReadDC() override { return GetDC(nullptr); }
    void releaseReadDC(HDC dc) override { ReleaseDC(nullptr, dc); }
    void setProStatus(int percent) override { m_progress(percent); }
    void showError(const char* text) override { m_message = QString::fromUtf8(text); }
    const QString& message() const { return m_message; }

  private:
    browser::BrowserView& m_view;
    std::function<void(int)> m_progress;
    QString m_message;
};

void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

CaptureRunner::CaptureRunner(const CaptureOptions& options, std::FILE* err, bool errIsTerminal)
    : m_options(options), m_err(err), m_terminal(errIsTerminal) {}

int CaptureRunner::run() {
    browser::BrowserView view;
    int firstFailure = ExitOk;
    for (std::size_t i = 0; i < m_options.jobs.size(); ++i) {
        const Job& job = m_options.jobs[i];
        const Outcome outcome = captureOne(view, job, int(i));
        finishLine(int(i), job, outcome);
        if (outcome.status != ExitOk && firstFailure == ExitOk) firstFailure = outcome.status;
    }
    return firstFailure;
}

QString CaptureRunner::loadPage(browser::BrowserView& view, const QString& address) {
    const int timeoutMs = m_options.timeoutS * 1000;
    // No single engine call may outlast the page's own time limit.
    const int previousCallLimit = browser::engine::callTimeoutMs();
    browser::engine::setCallTimeoutMs(std::min(previousCallLimit, timeoutMs));
    struct RestoreLimit {
        int ms;
        ~RestoreLimit() { browser::engine::setCallTimeoutMs(ms); }
    } restore{previousCallLimit};

    QEventLoop loop;
    bool complete = false;
    QObject::connect(&view, &browser::BrowserView::documentComplete, &loop,
                     [&](const QString& frameId, const QString&) {
                         if (frameId == view.mainFrameId()) {
                             complete = true;
                             loop.quit();
                         }
                     });
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    try {
        view.navigate(address);
    } catch (const browser::BrowserError& e) {
        return e.text();
    }
    if (timer.isActive()) loop.exec();
    // The engine's answer to the navigation comes before its error page has loaded.
    if (const QString error = view.navigationError(); !error.isEmpty())
        return QStringLiteral("could not be loaded (%1)").arg(error);
    if (!complete) return QStringLiteral("did not finish loading within %1 s").arg(m_options.timeoutS);
    return QString();
}

CaptureRunner::Outcome CaptureRunner::captureOne(browser::BrowserView& view, const Job& job, int index) {
    Outcome out;
    showProgress(index, 0);
    try {
        view.resize(m_options.width, m_options.height);
        if (const QString error = loadPage(view, job.address); !error.isEmpty()) {
            out.status = ExitLoad;
            out.message = error;
            return out;
        }
        if (m_options.waitMs > 0) spin(m_options.waitMs);
        if (m_options.fullPage) {
            const QSize document = view.documentSize();
            const int height = std::clamp(document.height(), 10, browser::BrowserView::maxDimension);
            if (height != view.size().height()) view.resize(m_options.width, height);
        }
    } catch (const browser::BrowserError& e) {
        out.status = ExitLoad;
        out.message = e.text();
        return out;
    }

    capture::RenderSettings settings;
    settings.viewWidth = view.size().width();
    settings.viewHeight = view.size().height();
    settings.quality = m_options.size;
    CliRenderHost host(view, [&](int percent) { showProgress(index, percent); });
    DibRecord picture{};
    capture::RenderOutcome result;
    try {
        result = capture::Render(settings, host, &picture);
    } catch (const std::exception& e) {
        out.status = ExitLoad;
        out.message = QString::fromUtf8(e.what());
        return out;
    }
    if (result != capture::RenderOutcome::Done) {
        out.status = ExitTooLarge;
        out.message = host.message();
        return out;
    }
    struct FreePicture {
        DibRecord& dib;
        ~FreePicture() { deldib(dib); }
    } freePicture{picture};
    out.width = picture.info->bmiHeader.biWidth;
    out.height = picture.info->bmiHeader.biHeight;

    QString error;
    bool written;
    if (job.output == QLatin1String("-")) {
        QFile stdoutFile;
        written = stdoutFile.open(stdout, QIODevice::WriteOnly) &&
                  capture::WritePictureTo(picture, &stdoutFile, capture::PictureFormat::Png, &error);
        stdoutFile.flush();
    } else {
        written = capture::WritePicture(picture, job.output, capture::formatForFileName(job.output), &error,
                                        m_options.quality);
    }
    if (!written) {
        out.status = ExitWrite;
        out.message = error;
    }
    return out;
}

void CaptureRunner::showProgress(int index, int percent) {
    if (m_options.quiet || !m_terminal) return;
    constexpr int kBar = 30;
    const int filled = std::clamp(percent, 0, 100) * kBar / 100;
    char bar[kBar + 1];
    std::memset(bar, '#', std::size_t(filled));
    std::memset(bar + filled, '-', std::size_t(kBar - filled));
    bar[kBar] = 0;
    std::fprintf(m_err, "\r[%s] %3d%%  page %d/%zu", bar, std::clamp(percent, 0, 100), index + 1,
                 m_options.jobs.size());
    std::fflush(m_err);
}

void CaptureRunner::finishLine(int index, const Job& job, const Outcome& outcome) {
    if (m_terminal && !m_options.quiet) std::fprintf(m_err, "\r\033[K");
    if (outcome.status != ExitOk) {
        // Failures are reported even when quiet: they are the answer, not progress.
        std::fprintf(m_err, "velmora-capture: %s: %s\n", job.address.toLocal8Bit().constData(),
                     outcome.message.toLocal8Bit().constData());
    } else if (!m_options.quiet) {
        std::fprintf(m_err, "%d/%zu %s -> %s (%d x %d)\n", index + 1, m_options.jobs.size(),
                     job.address.toLocal8Bit().constData(), job.output.toLocal8Bit().constData(),
                     outcome.width, outcome.height);
    }
    std::fflush(m_err);
}

} // namespace app::cli
