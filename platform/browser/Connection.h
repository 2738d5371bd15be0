// The protocol client on top of the transport: call ids, pending calls, sessions and events.
//
// Calls made on the UI thread wait for their answer without running the Qt event loop. Events
// (and answers to calls that were sent without waiting) are queued by the reader thread and
// delivered on the UI thread through a queued invocation, so no handler ever runs inside a
// synchronous call.
#pragma once

#include "platform/browser/PipeTransport.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

namespace browser {

using Json = nlohmann::json;

// One message from the engine. A large base64 payload (a screenshot or a screencast frame) is
// lifted out of the JSON text before parsing, because the general parser is far slower on it
// than the decoder that follows; it is kept in data, and the JSON's own "data" is left empty.
struct Message {
    Json json;
    std::string data;
};

// Lifts the first "data" string value out of text when the text is large; returns false (text
// unchanged) when there is none or it is not plain base64.
bool extractBulkData(std::string& text, std::string& data);

class Connection {
  public:
    using EventHandler = std::function<void(const Message&)>;
    using Reply = std::function<void(const Message* result, const QString& error)>;
    // Runs on the reader thread for every event before it is queued; it may answer at once with
    // sendWithoutReply (a page's script dialog blocks the page until it is answered, and the UI
    // thread may be waiting on that very page).
    using ReaderHook = std::function<void(Connection&, const Json& event)>;

    Connection(UniqueFd readFd, UniqueFd writeFd, ReaderHook hook = {});
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // What a call of a page's session fails with when the page's renderer dies under it.
    static constexpr const char* pageCrashedText = "The page has crashed.";
    // What a capture of a page's session fails with when the page goes on to another document
    // before it is answered: the engine may never answer it then.
    static constexpr const char* documentReplacedText = "Not attached to an active page";

    // Sends a call and waits for its answer; throws BrowserError on an error answer, a closed
    // connection, a crash of the session's page (pageCrashedText) or when timeoutMs passes. Returns the
    // message whose json is the "result".
    Message call(const std::string& method, Json params = Json::object(), const std::string& sessionId = {},
                 int timeoutMs = -1);
    // The two halves of call, for keeping several calls under way at once: send returns the
    // call's id, wait its answer (or throws as call does). A sent call that is not waited for
    // must be abandoned, and its answer is dropped when it comes.
    std::uint64_t send(const std::string& method, Json params, const std::string& sessionId,
                       int timeoutMs = -1);
    Message wait(std::uint64_t id);
    void abandon(std::uint64_t id);
    // For a call that may be given more time: waits until its answer is in (or it can no longer
    // come) and returns true, or returns false once its time is up. It stays open either way:
    // wait takes the answer, or throws as it would have.
    bool awaitWithinLimit(std::uint64_t id);
    // Gives an open call ms more from now.
    void extendLimit(std::uint64_t id, int ms);
    // Sends a call; reply (if any) runs later on the UI thread, with a null result and an
    // error text when the call failed, timed out or the connection closed.
    void callAsync(const std::string& method, Json params, const std::string& sessionId, Reply reply = {});
    // Sends a call whose answer nobody wants; safe from any thread.
    void sendWithoutReply(const std::string& method, Json params, const std::string& sessionId);

    // Events of one session ("" = the browser's own) go to its handler only. Handlers run on
    // the UI thread; setting them is safe from any thread.
    void setEventHandler(const std::string& sessionId, EventHandler handler);
    void removeEventHandler(const std::string& sessionId);
    // Told once, on the UI thread, after the connection has closed.
    void setClosedHandler(std::function<void()> handler);

    // Fails every pending call and stops the transport.
    void close();
    bool closed() const;

    // The time limit of calls made without one; 0 (the default) follows the engine-wide limit.
    // Safe from any thread: the reader thread answers dialogs with it.
    void setDefaultTimeoutMs(int ms) { m_defaultTimeoutMs.store(ms); }
    int defaultTimeoutMs() const;

    // Delivers what the reader has queued; normally run by the event loop.
    void deliver();

  private:
    struct Pending {
        bool waiting = false; // a synchronous caller waits for it
        bool done = false;
        bool crashed = false;  // the session's page died before answering
        bool replaced = false; // a capture whose page went on to another document before answering
        std::string sessionId;
        Message answer;
        Reply reply;
        std::string method;
        int timeoutMs = 0;
        std::chrono::steady_clock::time_point deadline;
    };
    struct Queued {
        enum Kind { Event, Answer, Failure } kind = Event;
        Message message;
        Reply reply;
        QString error;
    };

    std::uint64_t nextId() { return m_nextId.fetch_add(1); }
    std::string encode(std::uint64_t id, const std::string& method, Json params,
                       const std::string& sessionId) const;
    void onMessage(std::string&& text);
    void onClosed();
    void postDelivery(); // with m_mutex held
    void expireAsync();  // with m_mutex held
    static QString errorText(const std::string& method, const Json& error);

    // What the reader thread reads lock-free: atomics, and the hook that is set before the
    // reader starts and kept until it has been joined.
    std::atomic<std::uint64_t> m_nextId{1};
    std::atomic<int> m_defaultTimeoutMs{0};
    const ReaderHook m_hook;

    // Everything below, up to m_alive, is shared with the reader thread or may be set from
    // any thread: under m_mutex.
    mutable std::mutex m_mutex;
    std::function<void()> m_closedHandler;
    std::map<std::string, EventHandler> m_handlers;
    std::condition_variable m_answered;
    std::map<std::uint64_t, Pending> m_pending;
    std::deque<Queued> m_queue;
    bool m_closed = false;
    bool m_closedReported = false;
    bool m_deliveryPosted = false;

    // Lets deliver() notice that a handler has destroyed the connection.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::unique_ptr<QObject> m_context; // the UI thread's receiver of queued deliveries
    // Last, so that it is made after and goes before everything its reader reaches; the
    // destructor stops the reader before any of that goes.
    const std::unique_ptr<PipeTransport> m_transport;
};

} // namespace browser
