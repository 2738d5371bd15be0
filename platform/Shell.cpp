#include "platform/Shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

namespace platform {

namespace {

HINSTANCE openWithDesktop(const ShellRequest& request) {
    if (!request.verb.isNull() && request.verb.compare(QLatin1String("open"), Qt::CaseInsensitive) != 0)
        return SE_ERR_NOASSOC;
    // An existing file, absolute or relative to the working folder, opens as a file; anything
    // else is read as a web address.
    const QString base = request.directory.isEmpty() ? QDir::currentPath() : request.directory;
    const QUrl url = QUrl::fromUserInput(request.file, base);
    if (!url.isValid()) return SE_ERR_NOASSOC;
    return QDesktopServices::openUrl(url) ? 42 : SE_ERR_NOASSOC;
}

ShellBackend& shellBackend() {
    static ShellBackend current;
    return current;
}

QString fromUtf8OrNull(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

} // namespace

HINSTANCE ShellExecuteA(OwnerWindow owner, const char* verb, const char* file, const char* parameters,
                        const char* directory, int showCommand) {
    ShellRequest request{owner.widget(),
                         fromUtf8OrNull(verb),
                         fromUtf8OrNull(file),
                         fromUtf8OrNull(parameters),
                         fromUtf8OrNull(directory),
                         showCommand};
    if (shellBackend()) return shellBackend()(request);
    return openWithDesktop(request);
}

ShellBackend SetShellBackend(ShellBackend replacement) {
    ShellBackend previous = std::move(shellBackend());
    shellBackend() = std::move(replacement);
    return previous;
}

ShellRecorder::ShellRecorder(HINSTANCE answer) {
    m_previous = SetShellBackend([this, answer](const ShellRequest& request) {
        m_calls.push_back(request);
        return answer;
    });
}

ShellRecorder::~ShellRecorder() {
    SetShellBackend(std::move(m_previous));
}

} // namespace platform
