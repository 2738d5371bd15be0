#include "platform/browser/Interrupt.h"

#include "platform/browser/Engine.h"

#include <QFile>
#include <QSocketNotifier>
#include <QStringList>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <unistd.h>

namespace browser {
namespace {

volatile std::sig_atomic_t caught = 0;
int pipeFds[2] = {-1, -1};

std::mutex& filesMutex() {
    static std::mutex m;
    return m;
}

QStringList& files() {
    static QStringList list;
    return list;
}

extern "C" void onSignal(int signal) {
    const int saved = errno;
    if (!caught) caught = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

} // namespace

void catchInterrupts() {
    if (pipeFds[0] >= 0) return;
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction old {};
        ::sigaction(signal, nullptr, &old);
        if (signal != SIGTERM && old.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        // No SA_RESTART: a helper waiting for its next page in read() wakes up.
        action.sa_flags = 0;
        ::sigaction(signal, &action, nullptr);
    }
}

int interruptSignal() {
    return caught;
}

int interruptFd() {
    return pipeFds[0];
}

bool waitUntilReadable(int fd, int timeoutMs) {
    for (;;) {
        // Whichever thread a signal came to, and whenever it came, its byte in the pipe wakes
        // this one. poll() passes over a descriptor below 0.
        pollfd fds[2] = {{fd, POLLIN, 0}, {pipeFds[0], POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeoutMs);
        if (caught) endAsInterrupted();
        if (ready < 0 && errno == EINTR) continue;
        // A failed poll() is left to the caller's read to tell.
        return ready != 0;
    }
}

void endOnInterruptFromEventLoop(QObject* parent) {
    if (pipeFds[0] < 0) return;
    auto* notifier = new QSocketNotifier(qintptr(pipeFds[0]), QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, [] { endAsInterrupted(); });
    // A signal that came before the notifier was there.
    if (caught) endAsInterrupted();
}

void endAsInterrupted() {
    const int signal = caught ? int(caught) : SIGTERM;
    // Kills the engine's process group and removes its profile folder.
    Engine::shutdown();
    {
        std::lock_guard lock(filesMutex());
        for (const QString& path : files())
            QFile::remove(path);
    }
    std::signal(signal, SIG_DFL);
    ::raise(signal);
    std::_Exit(128 + signal);
}

void removeOnInterrupt(const QString& path) {
    std::lock_guard lock(filesMutex());
    files().append(path);
}

void keepOnInterrupt(const QString& path) {
    std::lock_guard lock(filesMutex());
    files().removeAll(path);
}

} // namespace browser
