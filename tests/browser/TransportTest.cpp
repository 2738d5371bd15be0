// The protocol client against a scripted engine on the other end of a socket pair: framing,
// ids, held-back events, time limits and closing.
#include "platform/browser/BrowserError.h"
#include "platform/browser/Connection.h"
#include "platform/browser/Pixels.h"

#include <QCoreApplication>
#include <QTest>
#include <atomic>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace browser;

namespace {

TEST(MessageSplitter, CutsAtNulWhateverTheReadsAre) {
    struct Case {
        const char* name;
        std::vector<std::string> reads;
        std::vector<std::string> expected;
        std::size_t leftOver;
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {"one message in one read", {"{\"a\":1}\0"s}, {"{\"a\":1}"}, 0},
        {"one message over two reads", {"{\"a\"", ":1}\0"s}, {"{\"a\":1}"}, 0},
        {"two messages in one read", {"{}\0[]\0"s}, {"{}", "[]"}, 0},
        {"second message split", {"{}\0["s, "1]\0"s}, {"{}", "[1]"}, 0},
        {"partial message kept", {"{}\0{\"b\""s}, {"{}"}, 4},
        {"NUL arriving alone", {"{\"c\":2}", "\0"s}, {"{\"c\":2}"}, 0},
    };
    for (const Case& c : cases) {
        MessageSplitter splitter;
        std::vector<std::string> out;
        for (const std::string& r : c.reads)
            splitter.feed(r.data(), r.size(), out);
        EXPECT_EQ(out, c.expected) << c.name;
        EXPECT_EQ(splitter.pendingBytes(), c.leftOver) << c.name;
    }
}

TEST(Base64, DecodesWithAndWithoutPaddingAndRejectsOtherCharacters) {
    struct Case {
        std::string text;
        bool ok;
        std::string bytes;
    };
    const Case cases[] = {
        {"", true, ""},        {"TQ==", true, "M"},      {"TQ", true, "M"},    {"TWE=", true, "Ma"},
        {"TWFu", true, "Man"}, {"TWFuTQ", true, "ManM"}, {"TW\"u", false, ""}, {"TWF", true, "Ma"},
        {"T", false, ""},      {"TW\nu", false, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> out;
        EXPECT_EQ(decodeBase64(c.text, out), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(std::string(out.begin(), out.end()), c.bytes) << c.text;
        }
    }
}

TEST(BulkData, LiftsOnlyALargePlainBase64DataMember) {
    const std::string payload(100000, 'A');
    std::string big = "{\"id\":3,\"result\":{\"data\":\"" + payload + "\"},\"sessionId\":\"S\"}";
    std::string data;
    ASSERT_TRUE(extractBulkData(big, data));
    EXPECT_EQ(data, payload);
    const Json json = Json::parse(big);
    EXPECT_EQ(json["result"]["data"], "");
    EXPECT_EQ(json["sessionId"], "S");

    std::string small = "{\"id\":3,\"result\":{\"data\":\"QUJD\"}}";
    EXPECT_FALSE(extractBulkData(small, data));

    // Escapes mean it is not a picture: left for the real parser.
    std::string escaped = "{\"id\":3,\"result\":{\"data\":\"" + payload + "\\n\"}}";
    const std::string before = escaped;
    EXPECT_FALSE(extractBulkData(escaped, data));
    EXPECT_EQ(escaped, before);

    // The key inside a string value is not a member.
    std::string inString =
        "{\"id\":3,\"result\":{\"text\":\"x\\\"data\\\":\\\"y\",\"n\":\"" + payload + "\"}}";
    EXPECT_FALSE(extractBulkData(inString, data));
}

// A scripted engine: answers each call with reply(call), which may also send events first.
class FakeEngine {
  public:
    using Script = std::function<std::vector<std::string>(const Json& call)>;

    explicit FakeEngine(Script script) : m_script(std::move(script)) {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        m_client = UniqueFd(fds[0]);
        m_server = fds[1];
        m_thread = std::thread([this] { run(); });
    }
    ~FakeEngine() {
        hangUp();
        m_thread.join();
    }
    std::unique_ptr<Connection> connect() {
        UniqueFd readEnd(::dup(m_client.get()));
        return std::make_unique<Connection>(std::move(readEnd), std::move(m_client));
    }
    void hangUp() {
        if (!m_hungUp.exchange(true)) ::shutdown(m_server, SHUT_RDWR);
    }
    std::atomic<int> calls{0};

  private:
    void run() {
        MessageSplitter splitter;
        std::vector<std::string> in;
        char buf[4096];
        for (;;) {
            ssize_t n = ::read(m_server, buf, sizeof buf);
            if (n <= 0) break;
            splitter.feed(buf, std::size_t(n), in);
            for (const std::string& m : in) {
                ++calls;
                for (const std::string& out : m_script(Json::parse(m))) {
                    std::string framed = out;
                    framed.push_back('\0');
                    if (::send(m_server, framed.data(), framed.size(), MSG_NOSIGNAL) < 0) return;
                }
            }
            in.clear();
        }
        ::close(m_server);
    }

    Script m_script;
    UniqueFd m_client;
    int m_server = -1;
    std::atomic<bool> m_hungUp{false};
    std::thread m_thread;
};

std::string answer(const Json& call, Json result) {
    return Json{{"id", call["id"]}, {"result", std::move(result)}}.dump();
}
std::string event(const std::string& method, const std::string& session, int n) {
    Json e = {{"method", method}, {"params", {{"n", n}}}};
    if (!session.empty()) e["sessionId"] = session;
    return e.dump();
}

TEST(Connection, EachCallGetsItsOwnAnswerAndEventsWaitForTheEventLoop) {
    // Every call is answered after an event; "slow" calls are answered after the next call's
    // answer, so answers arrive out of order.
    Json held;
    FakeEngine fake([&](const Json& call) -> std::vector<std::string> {
        std::vector<std::string> out = {
            event("Page.thing", call.value("sessionId", ""), call["params"]["n"])};
        if (call["method"] == "slow") {
            held = call;
            return out;
        }
        out.push_back(answer(call, {{"echo", call["params"]["n"]}}));
        if (!held.is_null()) {
            out.push_back(answer(held, {{"echo", held["params"]["n"]}}));
            held = Json();
        }
        return out;
    });
    auto connection = fake.connect();
    Connection& c = *connection;
    std::vector<std::pair<std::string, int>> events;
    c.setEventHandler("A",
                      [&](const Message& m) { events.emplace_back("A", m.json["params"]["n"].get<int>()); });
    c.setEventHandler("B",
                      [&](const Message& m) { events.emplace_back("B", m.json["params"]["n"].get<int>()); });

    int asyncEcho = -1;
    c.callAsync("slow", {{"n", 1}}, "A",
                [&](const Message* m, const QString&) { asyncEcho = m ? m->json["echo"].get<int>() : -2; });
    EXPECT_EQ(c.call("fast", {{"n", 2}}, "B").json["echo"], 2);
    EXPECT_EQ(c.call("fast", {{"n", 3}}, "A").json["echo"], 3);
    EXPECT_TRUE(events.empty()) << "no event may be delivered inside a call";
    EXPECT_EQ(asyncEcho, -1) << "async answers come through the event loop";

    (void)QTest::qWaitFor([&] { return events.size() == 3 && asyncEcho != -1; }, 5000);
    EXPECT_EQ(asyncEcho, 1);
    const std::vector<std::pair<std::string, int>> expected = {{"A", 1}, {"B", 2}, {"A", 3}};
    EXPECT_EQ(events, expected);
}

TEST(Connection, ErrorAnswersTimeOutsAndClosingRaiseErrors) {
    FakeEngine fake([](const Json& call) -> std::vector<std::string> {
        if (call["method"] == "refuse")
            return {
                Json{{"id", call["id"]}, {"error", {{"code", -32000}, {"message", "No such thing"}}}}.dump()};
        if (call["method"] == "ignore") return {};
        return {answer(call, Json::object())};
    });
    auto connection = fake.connect();
    Connection& c = *connection;
    bool closedTold = false;
    c.setClosedHandler([&] { closedTold = true; });

    try {
        c.call("refuse");
        ADD_FAILURE() << "an error answer must raise";
    } catch (const BrowserError& e) {
        EXPECT_TRUE(e.text().contains("No such thing")) << e.text().toStdString();
    }

    const auto start = std::chrono::steady_clock::now();
    try {
        c.call("ignore", Json::object(), {}, 300);
        ADD_FAILURE() << "a call without an answer must time out";
    } catch (const BrowserError& e) {
        EXPECT_TRUE(e.text().contains("did not answer")) << e.text().toStdString();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_NO_THROW(c.call("fine")) << "a time-out leaves the connection usable";

    // A pending synchronous call fails as soon as the engine goes away, not at its time limit.
    QString asyncError;
    const int received = fake.calls;
    c.callAsync("ignore", Json::object(), {},
                [&](const Message* m, const QString& e) { asyncError = m ? QStringLiteral("answered") : e; });
    std::thread killer([&] {
        // The engine goes away once the synchronous call below has reached it.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (fake.calls < received + 2 && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        fake.hangUp();
    });
    const auto before = std::chrono::steady_clock::now();
    EXPECT_THROW(c.call("ignore", Json::object(), {}, 20000), BrowserError);
    killer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    EXPECT_THROW(c.call("fine"), BrowserError) << "a closed connection refuses calls";
    (void)QTest::qWaitFor([&] { return closedTold; }, 5000);
    EXPECT_TRUE(closedTold);
    EXPECT_FALSE(asyncError.isEmpty());
    EXPECT_NE(asyncError, QStringLiteral("answered"));
}

TEST(Connection, ACaptureFailsAtOnceWhenItsPageGoesOnToAnotherDocument) {
    // The engine reports the navigations a call asks for ("navigated": [[session, subframe]]),
    // and answers it only when told to.
    FakeEngine fake([](const Json& call) -> std::vector<std::string> {
        std::vector<std::string> out;
        for (const Json& n : call["params"].value("navigated", Json::array())) {
            Json frame = {{"id", "F"}, {"url", "file:///next.html"}};
            if (n[1].get<bool>()) frame["parentId"] = "MAIN";
            out.push_back(Json{
                {"method", "Page.frameNavigated"},
                {"params", {{"frame", frame}, {"type", "Navigation"}}},
                {"sessionId",
                 n[0]}}.dump());
        }
        if (call["params"].value("answer", false)) out.push_back(answer(call, {{"data", "AAAA"}}));
        return out;
    });
    auto connection = fake.connect();
    Connection& c = *connection;
    struct Case {
        const char* what;
        std::string method;
        Json navigated;
        bool answered;
    };
    const Case cases[] = {
        {"another page's document", "Page.captureScreenshot", Json::array({Json::array({"B", false})}), true},
        {"a subframe's document", "Page.captureScreenshot", Json::array({Json::array({"A", true})}), true},
        {"a call that is not a capture", "Runtime.evaluate", Json::array({Json::array({"A", false})}), true},
        {"the page's own document", "Page.captureScreenshot", Json::array({Json::array({"A", false})}),
         false},
    };
    for (const Case& k : cases) {
        const auto start = std::chrono::steady_clock::now();
        try {
            c.call(k.method, {{"navigated", k.navigated}, {"answer", k.answered}}, "A", 20000);
            EXPECT_TRUE(k.answered) << k.what << ": the capture of a replaced document must fail";
        } catch (const BrowserError& e) {
            EXPECT_FALSE(k.answered) << k.what << ": " << e.text().toStdString();
            EXPECT_TRUE(e.text().contains(QLatin1String(Connection::documentReplacedText)))
                << e.text().toStdString();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << k.what;
    }
    EXPECT_NO_THROW(c.call("Page.captureScreenshot", {{"answer", true}}, "A"))
        << "the page can be captured again";
}

TEST(Connection, ClosingFailsEveryPendingCall) {
    FakeEngine fake([](const Json&) -> std::vector<std::string> { return {}; });
    auto connection = fake.connect();
    Connection& c = *connection;
    int failures = 0;
    for (int i = 0; i < 3; ++i)
        c.callAsync("ignore", Json::object(), {}, [&](const Message* m, const QString& e) {
            if (!m && !e.isEmpty()) ++failures;
        });
    (void)QTest::qWaitFor([&] { return fake.calls == 3; }, 5000);
    c.close();
    EXPECT_TRUE(c.closed());
    (void)QTest::qWaitFor([&] { return failures == 3; }, 5000);
    EXPECT_EQ(failures, 3);
}

TEST(Connection, AMessageCutOffByItsTimeLimitClosesTheConnection) {
    // The far end takes nothing, so a message larger than the socket's buffer is cut off when
    // its time runs out. What went out is half a message: anything sent after it would be read
    // as its rest, so the connection must not go on.
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    UniqueFd engineEnd(fds[1]);
    UniqueFd ours(fds[0]);
    UniqueFd readEnd(::dup(ours.get()));
    Connection c(std::move(readEnd), std::move(ours));
    bool closedTold = false;
    c.setClosedHandler([&] { closedTold = true; });

    const std::string big(4 << 20, 'x');
    EXPECT_THROW(c.call("Page.setDocumentContent", {{"html", big}}, {}, 200), BrowserError);
    EXPECT_TRUE(QTest::qWaitFor([&] { return closedTold; }, 5000));
    EXPECT_TRUE(c.closed());
    EXPECT_THROW(c.call("Browser.getVersion", Json::object(), {}, 200), BrowserError);
}

} // namespace
