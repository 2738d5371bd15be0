// velmora-capture: the window's capture from the command line, for scripts and machines without
// a desktop.
#include "app/cli/BatchOutput.h"
#include "app/cli/CaptureOptions.h"
#include "app/cli/CaptureRunner.h"
#include "app/cli/JobList.h"
#include "app/cli/WorkerProcess.h"
#include "platform/browser/Interrupt.h"

#include <QGuiApplication>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// Qt's own notices (a missing runtime folder and the like) are not the tool's output; errors
// still come through.
void quietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "velmora-capture: %s\n", text.toLocal8Bit().constData());
}

// Pictures are made off screen: no display is needed, whatever the environment says.
std::unique_ptr<QGuiApplication> offscreenApplication(char* program) {
    static char platformOption[] = "-platform";
    static char offscreen[] = "offscreen";
    static std::vector<char*> qtArguments{program, platformOption, offscreen, nullptr};
    static int qtArgc = 3;
    return std::make_unique<QGuiApplication>(qtArgc, qtArguments.data());
}

int runTool(int argc, char** argv) {
    using namespace app::cli;
    // A file size limit (or a quota) shows as a failed write with its own message, not as the
    // end of the process. So does a reader of standard output that has gone (`| head`, say),
    // which would otherwise end the tool at once and leave its engine's folders behind; and a
    // helper, or the tool, that has died shows as a failed write to its pipe.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    browser::catchInterrupts();
    qInstallMessageHandler(quietQtMessages);
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ParseResult parsed = parseArguments(arguments, QProcessEnvironment::systemEnvironment());
    if (!parsed.ok) {
        std::fprintf(stderr, "velmora-capture: %s\n\n%s", parsed.error.toLocal8Bit().constData(),
                     usageText().toLocal8Bit().constData());
        return ExitUsage;
    }
    const CaptureOptions& options = parsed.options;
    if (options.help) {
        std::fputs(usageText().toLocal8Bit().constData(), stdout);
        return ExitOk;
    }
    if (options.worker) {
        const auto app = offscreenApplication(argv[0]);
        browser::endOnInterruptFromEventLoop(app.get());
        return runWorker(options);
    }

    BatchOutput output(options, stderr, isatty(STDERR_FILENO) == 1);
    QString error;
    if (!output.openReport(&error)) {
        std::fprintf(stderr, "velmora-capture: %s\n", error.toLocal8Bit().constData());
        return ExitWrite;
    }
    JobList jobs(options, output);
    const int engines = std::min(options.parallel, int(options.jobs.size()));
    if (engines > 1) {
        runWorkerPool(arguments, engines, jobs, output);
    } else {
        const auto app = offscreenApplication(argv[0]);
        browser::endOnInterruptFromEventLoop(app.get());
        CaptureRunner runner(options, output);
        runner.run(jobs);
        if (browser::interruptSignal()) browser::endAsInterrupted();
    }
    return output.exitStatus();
}

} // namespace

int main(int argc, char** argv) {
    try {
        return runTool(argc, argv);
    } catch (const std::bad_alloc&) {
        // Pictures too large for the memory there is are caught where they are made; this is
        // whatever else ran out, said in the tool's words rather than as an abort.
        std::fputs("velmora-capture: not enough memory\n", stderr);
        return app::cli::ExitTooLarge;
    }
}
