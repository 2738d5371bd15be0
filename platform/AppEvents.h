// Application-wide event plumbing: the WM_USER message to the main window, and the general
// error handler that every handler runs under.
//
// WM_USER reaches the main window in two ways. Inside the program, any thread posts it with
// PostUserMessage; it is queued as a Qt event and handled on the UI thread. From another
// process, an X11 ClientMessage of type WM_USER (0x0400) sent to the window's native id
// carries wParam in data.l[0] and lParam in data.l[1].
#pragma once

#include <QAbstractNativeEventFilter>
#include <QEvent>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <exception>
#include <type_traits>
#include <utility>

namespace platform {

constexpr unsigned WM_USER = 0x0400;

class UserMessageEvent : public QEvent {
  public:
    UserMessageEvent(unsigned message, std::intptr_t wParam, std::intptr_t lParam)
        : QEvent(type()), m_message(message), m_wParam(wParam), m_lParam(lParam) {}
    static QEvent::Type type();

    unsigned message() const { return m_message; }
    std::intptr_t wParam() const { return m_wParam; }
    std::intptr_t lParam() const { return m_lParam; }

  private:
    unsigned m_message;
    std::intptr_t m_wParam;
    std::intptr_t m_lParam;
};

// Mirrors PostMessage for messages from WM_USER up: queues the message for receiver's thread and
// returns at once. Safe to call from any thread.
void PostUserMessage(QObject* receiver, unsigned message, std::intptr_t wParam, std::intptr_t lParam);

// Turns X11 ClientMessages of type WM_USER addressed to window into posted UserMessageEvents.
// Install it with QCoreApplication::installNativeEventFilter when the platform is xcb.
class X11UserMessageFilter : public QAbstractNativeEventFilter {
  public:
    explicit X11UserMessageFilter(QWidget* window) : m_window(window) {}
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    QPointer<QWidget> m_window;
};

// The X11 ClientMessage as it arrives from the connection (32 bytes on the wire).
struct X11ClientMessage {
    std::uint8_t responseType; // 33, with bit 7 set when sent by another client
    std::uint8_t format;       // 32: data holds five 32-bit values
    std::uint16_t sequence;
    std::uint32_t window;
    std::uint32_t type;
    std::uint32_t data32[5];
};
static_assert(sizeof(X11ClientMessage) == 32);
constexpr std::uint8_t X11_CLIENT_MESSAGE = 33;

// --- The general error handler --------------------------------------------------------------

// Shows the text of the exception in flight in a message box titled with the application's
// name, with a stop icon and OK; the program then carries on. Call it inside a catch block.
void HandleCurrentException();
// Runs f, and sends anything it throws to HandleCurrentException.
template <class F> void runGuarded(F&& f) noexcept {
    try {
        std::forward<F>(f)();
    } catch (...) {
        HandleCurrentException();
    }
}

// A slot for connect() that runs object->method under the general error handler, so that no
// exception escapes into Qt's event loop.
template <class T, class... Args> auto guarded(T* object, void (T::*method)(Args...)) {
    return [object, method](Args... args) { runGuarded([&] { (object->*method)(args...); }); };
}
template <class F> auto guarded(F f) {
    return
        [f = std::move(f)](auto&&... args) { runGuarded([&] { f(std::forward<decltype(args)>(args)...); }); };
}

} // namespace platform
