// Input for the live view: mouse, wheel and keys, in view coordinates, sent to the page without
// waiting for it. Mouse moves come far faster than a page handles them, so only one is under
// way at a time and only the latest of those that arrive meanwhile waits to be sent.
#pragma once

#include "platform/browser/Connection.h"

#include <QString>
#include <functional>
#include <memory>

namespace browser {

class PageSession;

enum class MouseButton { None, Left, Middle, Right };
enum class MouseAction { Press, Release, Move };

struct KeyInput {
    bool down = true;
    QString key;  // DOM key value ("a", "Enter", "ArrowLeft")
    QString code; // DOM code ("KeyA", "Enter")
    QString text; // what the key types, if anything
    int windowsKeyCode = 0;
    int modifiers = 0; // 1 Alt, 2 Ctrl, 4 Meta, 8 Shift
    bool autoRepeat = false;
};

class InputForwarder {
  public:
    // page() gives the page input goes to now, or null when there is none.
    explicit InputForwarder(std::function<PageSession*()> page);
    ~InputForwarder();
    InputForwarder(const InputForwarder&) = delete;
    InputForwarder& operator=(const InputForwarder&) = delete;

    void mouse(MouseAction action, int x, int y, MouseButton button, int buttons, int modifiers,
               int clickCount);
    void wheel(int x, int y, double deltaX, double deltaY, int modifiers);
    void key(const KeyInput& key);

    // Moves whose answer is awaited; tests count them to see that nothing is left behind.
    static long movesInFlight();

    struct Moves;

  private:
    std::function<PageSession*()> m_page;
    // Shared with the answers under way, which find it gone when the view has gone.
    std::shared_ptr<Moves> m_moves;
};

} // namespace browser
