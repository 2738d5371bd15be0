// Running the real velmora-capture on pages a test writes into a folder of its own.
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace clitest {

inline const QString kProgram = QStringLiteral(VELMORA_CAPTURE_PATH);

struct Outcome {
    int status = -1; // -1: did not end in time; -2: crashed
    QByteArray out;
    QString err;
    qint64 ms = 0; // the whole process, start to end
};

inline bool near(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// An HTTP server on the loopback address that answers every request with one page and keeps
// the requests' heads. Requests for a path that starts with /hold get no answer until release(),
// those for /nocontent an answer without content (204), those for /missing the page as a 404,
// those for /trickle what trickle() set, sent a piece at a time.
class LocalServer {
  public:
    explicit LocalServer(QByteArray page) : m_page(std::move(page)) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_fd, 16) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            return;
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~LocalServer() {
        release();
        ::shutdown(m_fd, SHUT_RDWR);
        if (m_thread.joinable()) m_thread.join();
        for (std::thread& t : m_clients)
            t.join();
        ::close(m_fd);
    }
    int port() const { return m_port; }
    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
    }
    QByteArray requestFor(const QByteArray& path) {
        std::lock_guard lock(m_mutex);
        for (const QByteArray& head : m_heads)
            if (head.startsWith("GET " + path + " ")) return head;
        return {};
    }
    int heldRequests() {
        std::lock_guard lock(m_mutex);
        return m_held;
    }
    // Answers 401 with a request for Basic credentials to every request without this
    // Authorization header's value.
    void askForCredentials(const QByteArray& authorization) {
        std::lock_guard lock(m_mutex);
        m_authorization = authorization;
    }
    void release() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    // Runs action (on the server's thread) whenever a request for a path that starts with prefix
    // comes, before it is answered.
    void whenAsked(QByteArray prefix, std::function<void()> action) {
        std::lock_guard lock(m_mutex);
        m_hooks.emplace_back("GET " + prefix, std::move(action));
    }
    // The answer to /trickle: content of this type, sent in this many pieces, one every intervalMs
    // (the first at once, with the head).
    void trickle(QByteArray content, QByteArray type, int pieces, int intervalMs) {
        std::lock_guard lock(m_mutex);
        m_trickle = {std::move(content), std::move(type), pieces, intervalMs};
    }

  private:
    void serve() {
        for (;;) {
            const int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            m_clients.emplace_back([this, client] { answer(client); });
        }
    }
    void answer(int client) {
        QByteArray head;
        char buffer[4096];
        while (!head.contains("\r\n\r\n")) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            head.append(buffer, n);
        }
        {
            std::unique_lock lock(m_mutex);
            m_heads.push_back(head);
            if (head.startsWith("GET /hold")) {
                ++m_held;
                m_changed.wait(lock, [this] { return m_released; });
            }
        }
        std::vector<std::function<void()>> actions;
        {
            std::lock_guard lock(m_mutex);
            for (const auto& [prefix, action] : m_hooks)
                if (head.startsWith(prefix)) actions.push_back(action);
        }
        for (const auto& action : actions)
            action();
        if (head.startsWith("GET /trickle")) return sendTrickle(client);
        QByteArray status = head.startsWith("GET /missing") ? "404 Not Found\r\n" : "200 OK\r\n";
        if (head.startsWith("GET /nocontent")) {
            const QByteArray none = "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n";
            ::send(client, none.constData(), std::size_t(none.size()), MSG_NOSIGNAL);
            ::close(client);
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            if (!m_authorization.isEmpty() &&
                !head.toLower().contains("\r\nauthorization: " + m_authorization.toLower() + "\r\n"))
                status = "401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"test\"\r\n";
        }
        const QByteArray answer = "HTTP/1.1 " + status + "Content-Type: text/html\r\nConnection: close\r\n" +
                                  "Content-Length: " + QByteArray::number(m_page.size()) + "\r\n\r\n" +
                                  m_page;
        ::send(client, answer.constData(), std::size_t(answer.size()), MSG_NOSIGNAL);
        ::close(client);
    }

    void sendTrickle(int client) {
        Trickle t;
        {
            std::lock_guard lock(m_mutex);
            t = m_trickle;
        }
        const QByteArray head =
            "HTTP/1.1 200 OK\r\nContent-Type: " + t.type +
            "\r\nConnection: close\r\nContent-Length: " + QByteArray::number(t.content.size()) + "\r\n\r\n";
        ::send(client, head.constData(), std::size_t(head.size()), MSG_NOSIGNAL);
        const qsizetype piece = (t.content.size() + t.pieces - 1) / std::max(1, t.pieces);
        for (qsizetype at = 0; at < t.content.size(); at += piece) {
            if (at > 0) {
                std::unique_lock lock(m_mutex);
                // Released early when the server goes.
                if (m_changed.wait_for(lock, std::chrono::milliseconds(t.intervalMs),
                                       [this] { return m_released; }))
                    break;
            }
            const QByteArray part = t.content.mid(at, piece);
            ::send(client, part.constData(), std::size_t(part.size()), MSG_NOSIGNAL);
        }
        ::close(client);
    }

    struct Trickle {
        QByteArray content;
        QByteArray type = "text/plain";
        int pieces = 1;
        int intervalMs = 0;
    };
    Trickle m_trickle;
    QByteArray m_page;
    int m_fd = -1;
    int m_port = 0;
    std::thread m_thread;
    std::vector<std::thread> m_clients;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<QByteArray> m_heads;
    std::vector<std::pair<QByteArray, std::function<void()>>> m_hooks;
    int m_held = 0;
    bool m_released = false;
    QByteArray m_authorization;
};

class CliTest : public ::testing::Test {
  protected:
    QString write(const QString& name, const QByteArray& content) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
        f.write(content);
        return path;
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    // A line of a batch, both parts quoted.
    static QByteArray batchLine(const QString& address, const QString& output) {
        return '"' + address.toUtf8() + "\" \"" + output.toUtf8() + "\"\n";
    }

    // Gives the tool to be started by p a temporary folder of its own (TMPDIR), name in the test's
    // folder, so that what its engines leave there can be looked at after; returns its path.
    QString ownTempFolder(QProcess& p, const QString& name) {
        const QString temp = path(name);
        EXPECT_TRUE(QDir().mkpath(temp));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), temp);
        p.setProcessEnvironment(environment);
        return temp;
    }
    // The engines' folders in temp: their profiles and those of their single-instance sockets.
    static QString enginesFoldersIn(const QString& temp) {
        const QStringList all = QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        return (all.filter(QStringLiteral("velmora")) + all.filter(QStringLiteral("chromium")))
            .join(QStringLiteral(", "));
    }

    // Starts the tool in the test's folder; the caller waits for it.
    void start(QProcess& p, const QStringList& arguments) {
        p.setWorkingDirectory(dir.path());
        p.start(kProgram, arguments);
        ASSERT_TRUE(p.waitForStarted());
    }
    static Outcome finish(QProcess& p, int timeoutMs) {
        Outcome r;
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.out = p.readAllStandardOutput();
        r.err = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }
    Outcome run(const QStringList& arguments, int timeoutMs = 90000, const QByteArray& input = {}) {
        QProcess p;
        QElapsedTimer clock;
        clock.start();
        start(p, arguments);
        if (!input.isNull()) p.write(input);
        p.closeWriteChannel();
        Outcome r = finish(p, timeoutMs);
        r.ms = clock.elapsed();
        return r;
    }
    // The colour at (x, y) of a picture file, or 0 when it cannot be read.
    QRgb pixelOf(const QString& name, int x, int y) {
        const QImage image(path(name));
        return image.isNull() ? 0 : image.pixel(x, y);
    }

    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/velmora-cli-XXXXXX")};
};

} // namespace clitest
