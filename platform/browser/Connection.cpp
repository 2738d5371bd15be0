#include "platform/browser/Connection.h"

#include "platform/browser/BrowserError.h"
#include "platform/browser/CallLimits.h"

#include <QMetaObject>
#include <cstring>

namespace browser {

namespace {

// Payloads smaller than this parse quickly enough as they are.
constexpr std::size_t bulkThreshold = 64 * 1024;

// The UI thread's receiver of deliveries. The reader posts to it by the slot's name, so that the
// posted call is made, read and freed inside Qt alone: a functor of ours would be written on the
// reader thread and read on the UI thread with nothing between them but Qt's own locks, which a
// race detector does not see through.
class DeliveryReceiver : public QObject {
    Q_OBJECT
  public:
    explicit DeliveryReceiver(Connection& owner) : m_owner(owner) {}

  public slots:
    void deliver() { m_owner.deliver(); }

  private:
    Connection& m_owner;
};

bool isBase64(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=';
}

} // namespace

bool extractBulkData(std::string& text, std::string& data) {
    if (text.size() < bulkThreshold) return false;
    static constexpr std::string_view key = "\"data\":\"";
    std::size_t at = text.find(key);
    // Only a key at the start of an object member counts; the same letters inside a string
    // value would have their quotes escaped.
    if (at == std::string::npos || at == 0 || (text[at - 1] != '{' && text[at - 1] != ',')) return false;
    const std::size_t begin = at + key.size();
    const std::size_t end = text.find('"', begin);
    if (end == std::string::npos) return false;
    for (std::size_t i = begin; i < end; ++i)
        if (!isBase64(text[i])) return false;
    data.assign(text, begin, end - begin);
    text.erase(begin, end - begin);
    return true;
}

Connection::Connection(UniqueFd readFd, UniqueFd writeFd, ReaderHook hook)
    : m_hook(std::move(hook)), m_context(std::make_unique<DeliveryReceiver>(*this)),
      m_transport(std::make_unique<PipeTransport>(
          std::move(readFd), std::move(writeFd),
          PipeTransport::Handlers{[this](std::string&& text) { onMessage(std::move(text)); },
                                  [this] { onClosed(); }})) {
    // Only now: the engine may send at once, and the hook answers through m_transport.
    m_transport->start();
}

Connection::~Connection() {
    // The reader may be inside the hook, writing an answer through the transport, or queueing
    // an event: it is stopped and joined while the transport, the hook, the queue and the
    // delivery receiver are all whole. Only then do they go, the receiver first (taking any
    // delivery it had been posted with it), then the members in reverse order.
    m_transport->stop();
    m_context.reset();
}

std::string Connection::encode(std::uint64_t id, const std::string& method, Json params,
                               const std::string& sessionId) const {
    if (params.is_null()) params = Json::object();
    Json message = {{"id", id}, {"method", method}, {"params", std::move(params)}};
    if (!sessionId.empty()) message["sessionId"] = sessionId;
    return message.dump(-1, ' ', false, Json::error_handler_t::replace);
}

QString Connection::errorText(const std::string& method, const Json& error) {
    QString text = QString::fromStdString(error.value("message", std::string("unknown error")));
    if (error.contains("data") && error["data"].is_string())
        text += QStringLiteral(" (%1)").arg(QString::fromStdString(error["data"].get<std::string>()));
    return QStringLiteral("The browser engine refused %1: %2").arg(QString::fromStdString(method), text);
}

Message Connection::call(const std::string& method, Json params, const std::string& sessionId,
                         int timeoutMs) {
    return wait(send(method, std::move(params), sessionId, timeoutMs));
}

std::uint64_t Connection::send(const std::string& method, Json params, const std::string& sessionId,
                               int timeoutMs) {
    if (timeoutMs < 0) timeoutMs = defaultTimeoutMs();
    const std::uint64_t id = nextId();
    {
        std::lock_guard lock(m_mutex);
        if (m_closed) throw BrowserError(QStringLiteral("The browser engine is not running."));
        Pending& p = m_pending[id];
        p.waiting = true;
        p.sessionId = sessionId;
        p.method = method;
        p.timeoutMs = timeoutMs;
        p.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    }
    if (!m_transport->send(encode(id, method, std::move(params), sessionId), timeoutMs)) {
        std::lock_guard lock(m_mutex);
        m_pending.erase(id);
        throw BrowserError(QStringLiteral("The browser engine does not take commands any more."));
    }
    return id;
}

Message Connection::wait(std::uint64_t id) {
    std::unique_lock lock(m_mutex);
    auto it = m_pending.find(id);
    if (it == m_pending.end() || !it->second.waiting)
        throw BrowserError(QStringLiteral("No call %1 is waiting for an answer.").arg(id));
    m_answered.wait_until(lock, it->second.deadline, [&] {
        return it->second.done || it->second.crashed || it->second.replaced || m_closed;
    });
    const std::string method = it->second.method;
    if (!it->second.done && it->second.crashed) {
        m_pending.erase(it);
        throw BrowserError(QString::fromLatin1(pageCrashedText));
    }
    if (!it->second.done && it->second.replaced) {
        m_pending.erase(it);
        throw BrowserError(errorText(method, {{"message", documentReplacedText}}));
    }
    if (!it->second.done) {
        const bool closedNow = m_closed;
        const int timeoutMs = it->second.timeoutMs;
        m_pending.erase(it);
        if (closedNow)
            throw BrowserError(QStringLiteral("The browser engine stopped while working on %1.")
                                   .arg(QString::fromStdString(method)));
        throw BrowserTimeout(QStringLiteral("The browser engine did not answer %1 within %2 seconds.")
                                 .arg(QString::fromStdString(method))
                                 .arg(timeoutMs / 1000.0, 0, 'g', 3));
    }
    Message answer = std::move(it->second.answer);
    m_pending.erase(it);
    lock.unlock();
    if (answer.json.contains("error")) throw BrowserError(errorText(method, answer.json["error"]));
    Message result;
    result.json = answer.json.contains("result") ? std::move(answer.json["result"]) : Json::object();
    result.data = std::move(answer.data);
    return result;
}

bool Connection::awaitWithinLimit(std::uint64_t id) {
    std::unique_lock lock(m_mutex);
    auto it = m_pending.find(id);
    if (it == m_pending.end() || !it->second.waiting) return true;
    return m_answered.wait_until(lock, it->second.deadline, [&] {
        return it->second.done || it->second.crashed || it->second.replaced || m_closed;
    });
}

void Connection::extendLimit(std::uint64_t id, int ms) {
    std::lock_guard lock(m_mutex);
    auto it = m_pending.find(id);
    if (it == m_pending.end()) return;
    const auto now = std::chrono::steady_clock::now();
    const auto until = now + std::chrono::milliseconds(ms);
    if (until <= it->second.deadline) return;
    it->second.timeoutMs +=
        int(std::chrono::duration_cast<std::chrono::milliseconds>(until - it->second.deadline).count());
    it->second.deadline = until;
}

void Connection::abandon(std::uint64_t id) {
    std::lock_guard lock(m_mutex);
    m_pending.erase(id);
}

void Connection::callAsync(const std::string& method, Json params, const std::string& sessionId,
                           Reply reply) {
    const std::uint64_t id = nextId();
    {
        std::lock_guard lock(m_mutex);
        expireAsync();
        if (m_closed) {
            if (reply) {
                m_queue.push_back({Queued::Failure,
                                   {},
                                   std::move(reply),
                                   QStringLiteral("The browser engine is not running.")});
                postDelivery();
            }
            return;
        }
        Pending& p = m_pending[id];
        p.method = method;
        p.sessionId = sessionId;
        p.reply = std::move(reply);
        p.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(defaultTimeoutMs());
    }
    if (!m_transport->send(encode(id, method, std::move(params), sessionId), defaultTimeoutMs())) {
        std::lock_guard lock(m_mutex);
        auto it = m_pending.find(id);
        if (it != m_pending.end()) {
            if (it->second.reply) {
                m_queue.push_back({Queued::Failure,
                                   {},
                                   std::move(it->second.reply),
                                   QStringLiteral("The browser engine does not take commands any more.")});
                postDelivery();
            }
            m_pending.erase(it);
        }
    }
}

void Connection::sendWithoutReply(const std::string& method, Json params, const std::string& sessionId) {
    // The id is not registered, so the answer is dropped when it comes.
    m_transport->send(encode(nextId(), method, std::move(params), sessionId), defaultTimeoutMs());
}

void Connection::setEventHandler(const std::string& sessionId, EventHandler handler) {
    std::lock_guard lock(m_mutex);
    m_handlers[sessionId] = std::move(handler);
}

void Connection::removeEventHandler(const std::string& sessionId) {
    std::lock_guard lock(m_mutex);
    m_handlers.erase(sessionId);
}

void Connection::setClosedHandler(std::function<void()> handler) {
    std::lock_guard lock(m_mutex);
    m_closedHandler = std::move(handler);
}

int Connection::defaultTimeoutMs() const {
    const int ms = m_defaultTimeoutMs.load();
    return ms > 0 ? ms : engine::callTimeoutMs();
}

void Connection::close() {
    m_transport->close();
    onClosed();
}

bool Connection::closed() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

void Connection::onMessage(std::string&& text) {
    Message message;
    extractBulkData(text, message.data);
    message.json = Json::parse(text, nullptr, false);
    if (message.json.is_discarded() || !message.json.is_object())
        return; // not ours to understand; the engine does not send such things
    if (message.json.contains("id")) {
        const auto idValue = message.json["id"];
        if (!idValue.is_number_unsigned() && !idValue.is_number_integer()) return;
        const std::uint64_t id = idValue.get<std::uint64_t>();
        std::lock_guard lock(m_mutex);
        auto it = m_pending.find(id);
        if (it == m_pending.end()) return; // answer to a call that timed out or wanted none
        if (it->second.waiting) {
            it->second.answer = std::move(message);
            it->second.done = true;
            m_answered.notify_all();
        } else {
            if (it->second.reply) {
                m_queue.push_back({Queued::Answer, std::move(message), std::move(it->second.reply), {}});
                postDelivery();
            }
            m_pending.erase(it);
        }
        return;
    }
    if (m_hook) m_hook(*this, message.json);
    const std::string method = message.json.value("method", std::string());
    const std::string session = message.json.value("sessionId", std::string());
    std::lock_guard lock(m_mutex);
    // A renderer that dies answers nothing more: its session's calls fail now rather than at
    // their time limits.
    if (method == "Inspector.targetCrashed") {
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (session.empty() || it->second.sessionId != session) {
                ++it;
            } else if (it->second.waiting) {
                it->second.crashed = true;
                ++it;
            } else {
                if (it->second.reply)
                    m_queue.push_back({Queued::Failure,
                                       {},
                                       std::move(it->second.reply),
                                       QString::fromLatin1(pageCrashedText)});
                it = m_pending.erase(it);
            }
        }
        m_answered.notify_all();
    }
    // A capture asks the page's compositor for its next frame; when the page commits another
    // document first, that frame may never come, and the capture would wait out its whole time
    // limit. It fails now, as the engine's own refusal of a capture during a navigation does.
    if (method == "Page.frameNavigated") {
        const Json& frame = message.json.value("params", Json::object()).value("frame", Json::object());
        if (!frame.contains("parentId") && !session.empty()) {
            bool any = false;
            for (auto& [id, pending] : m_pending)
                if (pending.waiting && pending.sessionId == session &&
                    pending.method == "Page.captureScreenshot")
                    pending.replaced = any = true;
            if (any) m_answered.notify_all();
        }
    }
    m_queue.push_back({Queued::Event, std::move(message), {}, {}});
    postDelivery();
}

void Connection::onClosed() {
    std::lock_guard lock(m_mutex);
    if (m_closed) return;
    m_closed = true;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (!it->second.waiting) {
            if (it->second.reply)
                m_queue.push_back({Queued::Failure,
                                   {},
                                   std::move(it->second.reply),
                                   QStringLiteral("The browser engine has stopped.")});
            it = m_pending.erase(it);
        } else {
            ++it; // its caller wakes up below and fails
        }
    }
    m_answered.notify_all();
    postDelivery();
}

void Connection::postDelivery() {
    if (m_deliveryPosted || !m_context) return;
    m_deliveryPosted = true;
    QMetaObject::invokeMethod(m_context.get(), "deliver", Qt::QueuedConnection);
}

void Connection::expireAsync() {
    const auto now = std::chrono::steady_clock::now();
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (!it->second.waiting && it->second.deadline <= now) {
            if (it->second.reply)
                m_queue.push_back({Queued::Failure,
                                   {},
                                   std::move(it->second.reply),
                                   QStringLiteral("The browser engine did not answer %1 in time.")
                                       .arg(QString::fromStdString(it->second.method))});
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
}

void Connection::deliver() {
    {
        std::lock_guard lock(m_mutex);
        m_deliveryPosted = false;
        expireAsync();
    }
    // One item at a time, so that a handler that calls the engine, or opens a nested event
    // loop, leaves the rest of the queue in order for whoever delivers next.
    const std::weak_ptr<bool> alive = m_alive;
    for (;;) {
        if (alive.expired()) return;
        Queued item;
        bool got = false;
        std::function<void()> closedHandler;
        EventHandler handler;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty()) {
                if (m_closed && !m_closedReported) {
                    m_closedReported = true;
                    closedHandler = m_closedHandler;
                }
            } else {
                item = std::move(m_queue.front());
                m_queue.pop_front();
                got = true;
                if (item.kind == Queued::Event) {
                    auto it = m_handlers.find(item.message.json.value("sessionId", std::string()));
                    // A copy: a handler may remove itself while it runs.
                    if (it != m_handlers.end()) handler = it->second;
                }
            }
        }
        if (closedHandler) {
            closedHandler();
            return;
        }
        if (!got) return;
        switch (item.kind) {
        case Queued::Event:
            if (handler) handler(item.message);
            break;
        case Queued::Answer: {
            Json& json = item.message.json;
            if (json.contains("error")) {
                item.reply(nullptr, errorText("a call", json["error"]));
            } else {
                Message result;
                result.json = json.contains("result") ? std::move(json["result"]) : Json::object();
                result.data = std::move(item.message.data);
                item.reply(&result, {});
            }
            break;
        }
        case Queued::Failure:
            item.reply(nullptr, item.error);
            break;
        }
    }
}

} // namespace browser

#include "Connection.moc"
