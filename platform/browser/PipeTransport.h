// The byte stream to and from the engine: messages are JSON texts, each ended by a NUL byte.
// The transport only frames messages; ids, calls and events are the connection's business.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace browser {

// Owns one file descriptor; closes it when it goes.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

  private:
    int m_fd = -1;
};

// Cuts a byte stream into NUL-terminated messages. Bytes after the last NUL are kept for the
// next feed, so a message may arrive in any number of pieces.
class MessageSplitter {
  public:
    // Appends each complete message to out (without its NUL).
    void feed(const char* data, std::size_t size, std::vector<std::string>& out);
    std::size_t pendingBytes() const { return m_partial.size(); }

  private:
    std::string m_partial;
};

// A full-duplex stream to the engine over two descriptors (one may serve both ways). Once
// started, a reader thread delivers each message to onMessage and, once the stream has ended or
// failed, calls onClosed exactly once; both run on the reader thread, and whatever they use must
// outlive stop().
class PipeTransport {
  public:
    struct Handlers {
        std::function<void(std::string&&)> onMessage;
        std::function<void()> onClosed;
    };

    PipeTransport(UniqueFd readFd, UniqueFd writeFd, Handlers handlers);
    ~PipeTransport(); // stops the reader
    PipeTransport(const PipeTransport&) = delete;
    PipeTransport& operator=(const PipeTransport&) = delete;

    // Starts the reader. Separate from the constructor so that the owner can finish setting up
    // what the handlers reach (the first message may come at once) before any of them runs.
    void start();
    // Closes the stream and waits for the reader to end; no handler runs after it returns, not
    // even onClosed. Sends still under way fail at once. Not from a handler.
    void stop();

    // Writes message and its NUL; any thread. Fails (false) when the stream is closed, the peer
    // is gone, or the peer has not taken the bytes within timeoutMs. A message cut off half way
    // closes the stream, since the next one would be read as its rest.
    bool send(std::string_view message, int timeoutMs);
    // Stops reading and writing; the reader reports onClosed if it has not yet. Any thread.
    void close();
    bool closed() const { return m_closed.load(); }

  private:
    void readLoop();
    void finish();

    // The descriptors and handlers are set before the reader starts and stay until it has
    // ended; the reader only reads them.
    UniqueFd m_readFd;
    UniqueFd m_writeFd;
    // Readable once close() has run, and never drained: it wakes the reader's poll and every
    // writer's wait for room.
    UniqueFd m_wakeRead;
    UniqueFd m_wakeWrite;
    Handlers m_handlers;
    std::mutex m_writeMutex;
    std::atomic<bool> m_closed{false};
    std::atomic<bool> m_reportedClosed{false};
    std::mutex m_threadMutex; // start() and stop() from different threads
    std::thread m_reader;
};

} // namespace browser
