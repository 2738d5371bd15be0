#include "platform/MessageBox.h"

#include "platform/gdi/GdiQt.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

namespace platform {

namespace {

int showWithQMessageBox(const MessageBoxRequest& request) {
    QMessageBox box(request.owner);
    box.setWindowTitle(request.caption.isNull() ? QStringLiteral("Error") : request.caption);
    box.setText(request.text);
    box.setTextFormat(Qt::PlainText);
    switch (request.type & MB_ICONMASK) {
    case MB_ICONHAND:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB_ICONASTERISK:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }

    struct Choice {
        QMessageBox::StandardButton button;
        int id;
    };
    std::vector<Choice> choices;
    switch (request.type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        choices = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    case MB_ABORTRETRYIGNORE:
        choices = {
            {QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
        break;
    case MB_YESNOCANCEL:
        choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    case MB_YESNO:
        choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
        break;
    case MB_RETRYCANCEL:
        choices = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    default:
        choices = {{QMessageBox::Ok, IDOK}};
        break;
    }
    QMessageBox::StandardButtons buttons;
    for (const Choice& c : choices)
        buttons |= c.button;
    box.setStandardButtons(buttons);
    box.setDefaultButton(choices.front().button);
    // Closing the box is Cancel where the box has one; a box without Cancel (OK, Yes/No) can
    // only be closed by Escape when it has a single button, which then is the answer.
    for (const Choice& c : choices)
        if (c.id == IDCANCEL) box.setEscapeButton(c.button);
    if (choices.size() == 1) box.setEscapeButton(choices.front().button);

    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (const Choice& c : choices)
        if (clicked && clicked == box.button(c.button)) return c.id;
    for (const Choice& c : choices)
        if (c.id == IDCANCEL) return IDCANCEL;
    return choices.front().id;
}

MessageBoxBackend& messageBoxBackend() {
    static MessageBoxBackend current;
    return current;
}

QPointer<QWidget>& mainWindow() {
    static QPointer<QWidget> window;
    return window;
}

} // namespace

QWidget* OwnerWindow::widget() const {
    if (m_widget) return m_widget;
    if (m_hwnd) return gdi::WidgetFromWindow(m_hwnd);
    return nullptr;
}

int ShowMessageBox(OwnerWindow owner, const QString& text, const QString& caption, UINT type) {
    MessageBoxRequest request{owner.widget(), text, caption, type};
    if (messageBoxBackend()) return messageBoxBackend()(request);
    return showWithQMessageBox(request);
}

int MessageBoxA(OwnerWindow owner, const char* text, const char* caption, UINT type) {
    return ShowMessageBox(owner, text ? QString::fromUtf8(text) : QString(""),
                          caption ? QString::fromUtf8(caption) : QString(), type);
}

int ApplicationMessageBox(const QString& text, const QString& caption, UINT type) {
    return ShowMessageBox(mainWindow().data(), text, caption, type);
}

void SetApplicationMainWindow(QWidget* window) {
    mainWindow() = window;
}

QWidget* ApplicationMainWindow() {
    return mainWindow().data();
}

MessageBoxBackend SetMessageBoxBackend(MessageBoxBackend replacement) {
    MessageBoxBackend previous = std::move(messageBoxBackend());
    messageBoxBackend() = std::move(replacement);
    return previous;
}

MessageBoxRecorder::MessageBoxRecorder(std::vector<int> answers, int defaultAnswer)
    : m_answers(std::move(answers)), m_defaultAnswer(defaultAnswer) {
    m_previous = SetMessageBoxBackend([this](const MessageBoxRequest& request) {
        m_calls.push_back(request);
        if (m_onShow) m_onShow(request);
        if (m_answers.empty()) return m_defaultAnswer;
        int answer = m_answers.front();
        m_answers.erase(m_answers.begin());
        return answer;
    });
}

MessageBoxRecorder::~MessageBoxRecorder() {
    SetMessageBoxBackend(std::move(m_previous));
}

} // namespace platform
