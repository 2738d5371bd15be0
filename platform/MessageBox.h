// Modal message boxes with the flags and results of MessageBoxA. The box itself is drawn by a
// swappable back-end: QMessageBox in the program, a recorder in tests that answers for the user.
#pragma once

#include "platform/gdi/Gdi.h"

#include <QString>
#include <cstddef>
#include <functional>
#include <vector>

class QWidget;

namespace platform {

using UINT = unsigned int;

// Buttons
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_TYPEMASK = 0xF;
// Icons
constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x40;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_ICONMASK = 0xF0;

// Answers
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// The window a box (or a shell or help request) belongs to: a widget, a window handle of the
// raster layer, or none.
class OwnerWindow {
  public:
    OwnerWindow(std::nullptr_t) {}
    OwnerWindow(QWidget* widget) : m_widget(widget) {}
    OwnerWindow(gdi::HWND hwnd) : m_hwnd(hwnd) {}
    QWidget* widget() const; // the widget, or the widget behind the handle; null for none

  private:
    QWidget* m_widget = nullptr;
    gdi::HWND m_hwnd = nullptr;
};

struct MessageBoxRequest {
    QWidget* owner = nullptr;
    QString text;
    QString caption; // null when the caller gave none; the box then shows "Error"
    UINT type = MB_OK;
};

using MessageBoxBackend = std::function<int(const MessageBoxRequest&)>;

// Mirrors MessageBoxA: text and caption are UTF-8; a null caption shows "Error". Returns the
// IDxxx of the button chosen; closing the box counts as Cancel where there is one, else as OK.
int MessageBoxA(OwnerWindow owner, const char* text, const char* caption, UINT type);
int ShowMessageBox(OwnerWindow owner, const QString& text, const QString& caption, UINT type);

// The application's message box: owned by the application's main window.
int ApplicationMessageBox(const QString& text, const QString& caption, UINT type);
void SetApplicationMainWindow(QWidget* window);
QWidget* ApplicationMainWindow();

// Replaces the back-end and returns the previous one; an empty function restores QMessageBox.
MessageBoxBackend SetMessageBoxBackend(MessageBoxBackend backend);

// For tests: records every box and answers from a queue (then with defaultAnswer). Restores the
// previous back-end when it goes out of scope.
class MessageBoxRecorder {
  public:
    explicit MessageBoxRecorder(std::vector<int> answers = {}, int defaultAnswer = IDOK);
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    const std::vector<MessageBoxRequest>& calls() const { return m_calls; }
    void answerNext(int answer) { m_answers.push_back(answer); }
    // Runs while the box would be up, before it answers (e.g. to look at the screen then).
    void setOnShow(std::function<void(const MessageBoxRequest&)> onShow) { m_onShow = std::move(onShow); }
    void clear() { m_calls.clear(); }

  private:
    std::vector<MessageBoxRequest> m_calls;
    std::vector<int> m_answers;
    int m_defaultAnswer;
    std::function<void(const MessageBoxRequest&)> m_onShow;
    MessageBoxBackend m_previous;
};

} // namespace platform
