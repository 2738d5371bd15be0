#include "platform/browser/InputForwarder.h"

#include "platform/browser/PageSession.h"

#include <atomic>
#include <utility>

namespace browser {

namespace {

std::atomic<long> inFlight{0};

const char* buttonName(MouseButton b) {
    switch (b) {
    case MouseButton::Left:
        return "left";
    case MouseButton::Middle:
        return "middle";
    case MouseButton::Right:
        return "right";
    default:
        return "none";
    }
}

} // namespace

struct InputForwarder::Moves {
    bool inFlight = false;
    bool pending = false;
    Json next;
    std::function<PageSession*()> page;
};

InputForwarder::InputForwarder(std::function<PageSession*()> page)
    : m_page(std::move(page)), m_moves(std::make_shared<Moves>()) {
    m_moves->page = m_page;
}

InputForwarder::~InputForwarder() = default;

long InputForwarder::movesInFlight() {
    return inFlight.load();
}

namespace {

void sendMoveOn(PageSession& page, Json params, const std::shared_ptr<InputForwarder::Moves>& moves);

// The answer to a move: the latest move that arrived meanwhile goes next. The answer holds the
// shared state weakly, so nothing keeps itself alive, and an answer that comes after the view
// has gone finds nothing to do.
void moveAnswered(const std::weak_ptr<InputForwarder::Moves>& weak) {
    --inFlight;
    const std::shared_ptr<InputForwarder::Moves> moves = weak.lock();
    if (!moves) return;
    moves->inFlight = false;
    if (!moves->pending) return;
    moves->pending = false;
    PageSession* page = moves->page();
    if (!page || page->gone()) return;
    sendMoveOn(*page, std::exchange(moves->next, Json()), moves);
}

void sendMoveOn(PageSession& page, Json params, const std::shared_ptr<InputForwarder::Moves>& moves) {
    moves->inFlight = true;
    ++inFlight;
    std::weak_ptr<InputForwarder::Moves> weak = moves;
    page.connection().callAsync("Input.dispatchMouseEvent", std::move(params), page.id(),
                                [weak](const Message*, const QString&) { moveAnswered(weak); });
}

} // namespace

void InputForwarder::mouse(MouseAction action, int x, int y, MouseButton button, int buttons, int modifiers,
                           int clickCount) {
    PageSession* page = m_page();
    if (!page || page->gone()) return;
    Json params = {{"type", action == MouseAction::Press     ? "mousePressed"
                            : action == MouseAction::Release ? "mouseReleased"
                                                             : "mouseMoved"},
                   {"x", x},
                   {"y", y},
                   {"button", buttonName(button)},
                   {"buttons", buttons},
                   {"modifiers", modifiers},
                   {"clickCount", clickCount}};
    page->forgetScroll();
    if (action != MouseAction::Move) {
        page->connection().sendWithoutReply("Input.dispatchMouseEvent", params, page->id());
        return;
    }
    if (m_moves->inFlight) {
        m_moves->next = std::move(params);
        m_moves->pending = true;
        return;
    }
    sendMoveOn(*page, std::move(params), m_moves);
}

void InputForwarder::wheel(int x, int y, double deltaX, double deltaY, int modifiers) {
    PageSession* page = m_page();
    if (!page || page->gone()) return;
    page->forgetScroll();
    page->connection().sendWithoutReply("Input.dispatchMouseEvent",
                                        {{"type", "mouseWheel"},
                                         {"x", x},
                                         {"y", y},
                                         {"deltaX", deltaX},
                                         {"deltaY", deltaY},
                                         {"modifiers", modifiers}},
                                        page->id());
}

void InputForwarder::key(const KeyInput& key) {
    PageSession* page = m_page();
    if (!page || page->gone()) return;
    page->forgetScroll();
    Json params = {{"type", !key.down            ? "keyUp"
                            : key.text.isEmpty() ? "rawKeyDown"
                                                 : "keyDown"},
                   {"modifiers", key.modifiers},
                   {"windowsVirtualKeyCode", key.windowsKeyCode},
                   {"key", key.key.toStdString()},
                   {"code", key.code.toStdString()},
                   {"autoRepeat", key.autoRepeat}};
    if (key.down && !key.text.isEmpty()) {
        params["text"] = key.text.toStdString();
        params["unmodifiedText"] = key.text.toStdString();
    }
    page->connection().sendWithoutReply("Input.dispatchKeyEvent", params, page->id());
}

} // namespace browser
