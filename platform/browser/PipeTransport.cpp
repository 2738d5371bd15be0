#include "platform/browser/PipeTransport.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace browser {

void UniqueFd::reset(int fd) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
}

void MessageSplitter::feed(const char* data, std::size_t size, std::vector<std::string>& out) {
    const char* end = data + size;
    while (data < end) {
        const char* nul = static_cast<const char*>(std::memchr(data, '\0', std::size_t(end - data)));
        if (!nul) {
            m_partial.append(data, end);
            return;
        }
        if (m_partial.empty()) {
            out.emplace_back(data, nul);
        } else {
            m_partial.append(data, nul);
            out.push_back(std::move(m_partial));
            m_partial.clear();
        }
        data = nul + 1;
    }
}

namespace {

bool isSocket(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

} // namespace

PipeTransport::PipeTransport(UniqueFd readFd, UniqueFd writeFd, Handlers handlers)
    : m_readFd(std::move(readFd)), m_writeFd(std::move(writeFd)), m_handlers(std::move(handlers)) {
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_wakeRead.reset(wake[0]);
        m_wakeWrite.reset(wake[1]);
    }
    // Writes wait in poll() with a deadline rather than in write(): an engine that stops
    // reading must not hang the UI thread.
    if (m_writeFd.valid()) ::fcntl(m_writeFd.get(), F_SETFL, ::fcntl(m_writeFd.get(), F_GETFL) | O_NONBLOCK);
}

PipeTransport::~PipeTransport() {
    stop();
}

void PipeTransport::start() {
    std::lock_guard lock(m_threadMutex);
    if (m_reader.joinable() || m_reportedClosed) return;
    m_reader = std::thread([this] { readLoop(); });
}

void PipeTransport::stop() {
    m_reportedClosed = true; // the owner is going: no more callbacks
    close();
    std::lock_guard lock(m_threadMutex);
    if (m_reader.joinable()) m_reader.join();
}

bool PipeTransport::send(std::string_view message, int timeoutMs) {
    if (m_closed) return false;
    std::lock_guard lock(m_writeMutex);
    if (m_closed) return false; // closed while this waited for an earlier writer
    const int fd = m_writeFd.get();
    if (fd < 0) return false;
    const bool socket = isSocket(fd);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const char nul = '\0';
    std::string_view parts[2] = {message, std::string_view(&nul, 1)};
    bool started = false;
    const auto fail = [&] {
        if (started) close();
        return false;
    };
    for (std::string_view part : parts) {
        while (!part.empty()) {
            // MSG_NOSIGNAL: a dead engine must give an error here, not a SIGPIPE that ends us.
            ssize_t n = socket ? ::send(fd, part.data(), part.size(), MSG_NOSIGNAL)
                               : ::write(fd, part.data(), part.size());
            if (n > 0) {
                part.remove_prefix(std::size_t(n));
                started = true;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      deadline - std::chrono::steady_clock::now())
                                      .count();
                if (left <= 0 || m_closed) return fail();
                pollfd p[2] = {{fd, POLLOUT, 0}, {m_wakeRead.get(), POLLIN, 0}};
                ::poll(p, m_wakeRead.valid() ? 2 : 1, int(std::min<long long>(left, 100)));
                continue;
            }
            return fail();
        }
    }
    return true;
}

void PipeTransport::close() {
    if (m_closed.exchange(true)) return;
    if (m_wakeWrite.valid()) {
        const char c = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakeWrite.get(), &c, 1);
    }
}

void PipeTransport::finish() {
    close(); // wakes writers that wait for room the peer will never make
    if (!m_reportedClosed.exchange(true) && m_handlers.onClosed) m_handlers.onClosed();
}

void PipeTransport::readLoop() {
    MessageSplitter splitter;
    std::vector<std::string> messages;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        pollfd fds[2] = {{m_readFd.get(), POLLIN, 0}, {m_wakeRead.get(), POLLIN, 0}};
        int r = ::poll(fds, m_wakeRead.valid() ? 2 : 1, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (m_closed || (fds[1].revents & POLLIN)) break;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = ::read(m_readFd.get(), buffer.data(), buffer.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        splitter.feed(buffer.data(), std::size_t(n), messages);
        for (std::string& m : messages) {
            if (m_reportedClosed) break;
            if (m_handlers.onMessage) m_handlers.onMessage(std::move(m));
        }
        messages.clear();
    }
    finish();
}

} // namespace browser
