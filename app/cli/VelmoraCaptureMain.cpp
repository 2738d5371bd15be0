// velmora-capture: the window's capture from the command line, for scripts and machines without
// a desktop.
#include "app/cli/CaptureOptions.h"
#include "app/cli/CaptureRunner.h"

#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

// Qt's own notices (a missing runtime folder and the like) are not the tool's output; errors
// still come through.
void quietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "velmora-capture: %s\n", text.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char** argv) {
    using namespace app::cli;
    // A file size limit (or a quota) shows as a failed write with its own message, not as the
    // end of the process.
    std::signal(SIGXFSZ, SIG_IGN);
    qInstallMessageHandler(quietQtMessages);
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ParseResult parsed = parseArguments(arguments);
    if (!parsed.ok) {
        std::fprintf(stderr, "velmora-capture: %s\n\n%s", parsed.error.toLocal8Bit().constData(),
                     usageText().toLocal8Bit().constData());
        return ExitUsage;
    }
    if (parsed.options.help) {
        std::fputs(usageText().toLocal8Bit().constData(), stdout);
        return ExitOk;
    }

    // Pictures are made off screen: no display is needed, whatever the environment says.
    char platformOption[] = "-platform";
    char offscreen[] = "offscreen";
    std::vector<char*> qtArguments{argv[0], platformOption, offscreen, nullptr};
    int qtArgc = 3;
    QGuiApplication app(qtArgc, qtArguments.data());

    CaptureRunner runner(parsed.options, stderr, isatty(STDERR_FILENO) == 1);
    return runner.run();
}
