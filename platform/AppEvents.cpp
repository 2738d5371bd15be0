#include "platform/AppEvents.h"

#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QString>
#include <new>
#include <stdexcept>

namespace platform {

QEvent::Type UserMessageEvent::type() {
    static const auto registered = QEvent::Type(QEvent::registerEventType());
    return registered;
}

void PostUserMessage(QObject* receiver, unsigned message, std::intptr_t wParam, std::intptr_t lParam) {
    if (receiver) QCoreApplication::postEvent(receiver, new UserMessageEvent(message, wParam, lParam));
}

bool X11UserMessageFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !message || !m_window) return false;
    const auto* event = static_cast<const X11ClientMessage*>(message);
    if ((event->responseType & 0x7F) != X11_CLIENT_MESSAGE || event->type != WM_USER || event->format != 32)
        return false;
    // Only a window that exists natively can be addressed; asking winId() of one that does
    // not would create it here.
    if (!m_window->testAttribute(Qt::WA_WState_Created) || event->window != std::uint32_t(m_window->winId()))
        return false;
    // The values travel as 32-bit words; wParam is a signed 32-bit number for the receiver.
    PostUserMessage(m_window, WM_USER, std::int32_t(event->data32[0]), std::int32_t(event->data32[1]));
    return true;
}

void HandleCurrentException() {
    QString text;
    try {
        throw;
    } catch (const std::bad_alloc&) {
        text = QStringLiteral("Out of memory.");
    } catch (const std::exception& e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("An unknown error occurred.");
    }
    if (text.isEmpty()) text = QStringLiteral("An unknown error occurred.");
    // Showing the message must not throw back into the caller, which may be a Qt slot.
    try {
        ApplicationMessageBox(text, QCoreApplication::applicationName(), MB_OK | MB_ICONSTOP);
    } catch (...) {
    }
}

} // namespace platform
