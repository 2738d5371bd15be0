#include "app/cli/Input.h"

#include "platform/browser/Interrupt.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app::cli {
namespace {

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

InputRead readInput(const QString& path, qint64 limit, QByteArray* data, QString* error) {
    const bool fromStdin = path == QLatin1String("-");
    // Opened without waiting: the open of a named pipe would wait for a writer, and a signal
    // that came just before that wait would not end it. The wait is in waitUntilReadable() below.
    const int fd = fromStdin ? STDIN_FILENO
                             : ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = systemError(errno);
        return InputRead::Failed;
    }
    struct Closer {
        int fd;
        bool owned;
        ~Closer() {
            if (owned) ::close(fd);
        }
    } closer{fd, !fromStdin};

    QByteArray read;
    for (;;) {
        browser::waitUntilReadable(fd, -1);
        const qsizetype at = read.size();
        const qsizetype chunk = qsizetype(std::min<qint64>(qint64(1) << 20, limit + 1 - at));
        read.resize(at + chunk);
        const ssize_t got = ::read(fd, read.data() + at, size_t(chunk));
        read.resize(at + std::max<ssize_t>(got, 0));
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            *error = systemError(errno);
            return InputRead::Failed;
        }
        if (got == 0) break;
        if (read.size() > limit) return InputRead::TooLarge;
    }
    *data = std::move(read);
    return InputRead::Whole;
}

std::FILE* openForWriting(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    for (;;) {
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Written through stdio, which takes a full pipe for an error when it does not wait.
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            std::FILE* file = ::fdopen(fd, "w");
            if (!file) {
                const int saved = errno;
                ::close(fd);
                errno = saved;
            }
            return file;
        }
        const int openError = errno;
        if (openError == EINTR) continue;
        // A named pipe that nobody reads yet is waited for (a socket says the same, and is refused).
        struct stat st {};
        if (openError != ENXIO || ::stat(name.constData(), &st) != 0 || !S_ISFIFO(st.st_mode)) {
            errno = openError;
            return nullptr;
        }
        browser::waitUntilReadable(-1, 50);
    }
}

} // namespace app::cli
