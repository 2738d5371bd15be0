// The connection's reader thread against an engine that never stops sending: script dialogs that
// the reader answers at once while the owner calls, changes settings, closes and destroys the
// connection. Faults here are crashes and torn messages, so each case runs many times.
#include "platform/browser/BrowserError.h"
#include "platform/browser/Connection.h"
#include "platform/browser/Engine.h"

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace browser;

namespace {

constexpr const char* defaultPrompt = "yes please";

// Runs the owner's event loop until done() holds or timeoutMs passes.
template <typename Done> bool waitUntil(Done done, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents();
        std::this_thread::yield();
    }
    return true;
}

// An engine on the far end of a socket pair that keeps up to `window` script dialogs open at
// all times: each answer makes room for the next dialog. It checks every message it gets and
// answers calls other than dialog answers with their own "n".
class FloodingEngine {
  public:
    explicit FloodingEngine(int window = 64) : m_window(window) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        m_client = UniqueFd(fds[0]);
        m_server = UniqueFd(fds[1]);
        // The first dialogs are under way before the connection exists.
        m_writer = std::thread([this] { flood(); });
        m_reader = std::thread([this] { drain(); });
    }
    ~FloodingEngine() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_room.notify_all();
        ::shutdown(m_server.get(), SHUT_RDWR);
        waitForHangUp();
    }

    // Returns once the connection has closed its end and everything it wrote has been checked.
    void waitForHangUp() {
        if (m_reader.joinable()) m_reader.join();
        if (m_writer.joinable()) m_writer.join();
    }

    std::unique_ptr<Connection> connect() {
        UniqueFd readEnd(::dup(m_client.get()));
        return std::make_unique<Connection>(std::move(readEnd), std::move(m_client), Engine::answerAtOnce);
    }

    std::atomic<int> dialogAnswers{0};
    std::atomic<int> callsSeen{0};
    std::atomic<int> badMessages{0};

  private:
    static std::string dialog(bool prompt) {
        Json params = {{"type", prompt ? "prompt" : "alert"}, {"message", "hello"}};
        if (prompt) params["defaultPrompt"] = defaultPrompt;
        return Json{
            {"method", "Page.javascriptDialogOpening"}, {"sessionId", prompt ? "P" : "A"}, {"params", params}}
            .dump();
    }

    bool write(const std::string& framed) {
        std::lock_guard lock(m_writeMutex);
        std::size_t done = 0;
        while (done < framed.size()) {
            const ssize_t n =
                ::send(m_server.get(), framed.data() + done, framed.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += std::size_t(n);
        }
        return true;
    }

    void flood() {
        const std::string frames[2] = {dialog(false) + '\0', dialog(true) + '\0'};
        for (unsigned i = 0;; ++i) {
            {
                std::unique_lock lock(m_mutex);
                m_room.wait(lock, [&] { return m_stop || m_open < m_window; });
                if (m_stop) return;
                ++m_open;
            }
            if (!write(frames[i % 2])) return; // the connection has gone
        }
    }

    void check(const Json& m) {
        if (m.value("method", std::string()) == "Page.handleJavaScriptDialog") {
            const bool prompt = m.value("sessionId", std::string()) == "P";
            const Json& p = m.value("params", Json::object());
            const bool right =
                p.value("accept", false) &&
                (prompt ? p.value("promptText", std::string()) == defaultPrompt : !p.contains("promptText"));
            if (!right) ++badMessages;
            ++dialogAnswers;
            {
                std::lock_guard lock(m_mutex);
                --m_open;
            }
            m_room.notify_all();
            return;
        }
        if (!m.contains("id") || !m.contains("params")) {
            ++badMessages;
            return;
        }
        // Counted before the answer goes: once it has, the caller may look at the count.
        ++callsSeen;
        const Json answer = {{"id", m["id"]}, {"result", {{"n", m["params"].value("n", -1)}}}};
        write(answer.dump() + '\0');
    }

    void drain() {
        MessageSplitter splitter;
        std::vector<std::string> in;
        char buffer[16384];
        for (;;) {
            const ssize_t n = ::read(m_server.get(), buffer, sizeof buffer);
            if (n <= 0) break;
            splitter.feed(buffer, std::size_t(n), in);
            for (const std::string& text : in) {
                const Json m = Json::parse(text, nullptr, false);
                if (m.is_discarded() || !m.is_object())
                    ++badMessages; // a torn or interleaved write
                else
                    check(m);
            }
            in.clear();
        }
        // Lets the flood see the end too, when it waits for room.
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_room.notify_all();
    }

    const int m_window;
    UniqueFd m_client;
    UniqueFd m_server;
    std::mutex m_writeMutex;
    std::mutex m_mutex;
    std::condition_variable m_room;
    int m_open = 0;
    bool m_stop = false;
    std::thread m_writer;
    std::thread m_reader;
};

TEST(ConnectionThreads, DestroyingTheConnectionWhileTheEngineFloodsDialogsIsSafe) {
    // The reader is answering a dialog at almost any moment, so destroying the connection at
    // once, or after some answers, lands in the middle of an answer in most rounds.
    int answersSeen = 0;
    for (int round = 0; round < 100; ++round) {
        FloodingEngine engine;
        auto connection = engine.connect();
        const int wanted = (round % 4) * 8;
        ASSERT_TRUE(waitUntil([&] { return engine.dialogAnswers >= wanted; })) << "round " << round;
        connection.reset();
        // Deliveries the reader had posted must die with the connection.
        QCoreApplication::processEvents();
        engine.waitForHangUp();
        answersSeen += engine.dialogAnswers;
        EXPECT_EQ(engine.badMessages, 0) << "round " << round;
    }
    EXPECT_GT(answersSeen, 0);
}

TEST(ConnectionThreads, OwnerCallsAndReaderAnswersShareTheStreamWhole) {
    FloodingEngine engine;
    auto connection = engine.connect();
    Connection& c = *connection;
    int alerts = 0;
    c.setEventHandler("A", [&](const Message&) { ++alerts; });
    for (int i = 0; i < 200; ++i) {
        // The reader reads the limit for its answers while the owner changes it.
        c.setDefaultTimeoutMs(i % 2 ? 20000 : 0);
        EXPECT_EQ(c.call("Test.echo", {{"n", i}}).json.value("n", -1), i);
        if (i % 10 == 0) {
            c.removeEventHandler("P");
            c.setEventHandler("P", [](const Message&) {});
        }
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(waitUntil([&] { return alerts > 0; }));
    EXPECT_TRUE(waitUntil([&] { return engine.dialogAnswers > 0; }));
    EXPECT_EQ(engine.callsSeen, 200);
    EXPECT_EQ(engine.badMessages, 0);

    // Closing while the reader answers: calls fail from then on.
    bool closedTold = false;
    c.setClosedHandler([&] { closedTold = true; });
    c.close();
    EXPECT_THROW(c.call("Test.echo", {{"n", 0}}), BrowserError);
    EXPECT_TRUE(waitUntil([&] { return closedTold; }));
    connection.reset();
    engine.waitForHangUp();
    EXPECT_EQ(engine.badMessages, 0);
}

} // namespace
