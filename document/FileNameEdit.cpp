#include "document/FileNameEdit.h"

#include "document/AddressRule.h"
#include "platform/AppEvents.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

namespace document {

FileNameEdit::FileNameEdit(QWidget* parent)
    : QWidget(parent), m_editor(new QLineEdit(this)), m_button(new QToolButton(this)) {
    setFocusProxy(m_editor);
    m_editor->installEventFilter(this);
    m_button->setText(QStringLiteral("..."));
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setToolTip(QStringLiteral("Browse"));
    connect(m_button, &QToolButton::clicked, this, platform::guarded(this, &FileNameEdit::browse));
    connect(m_editor, &QLineEdit::textChanged, this, &FileNameEdit::textChanged);
    resize(337, 21);
}

QString FileNameEdit::text() const {
    return m_editor->text();
}

void FileNameEdit::setText(const QString& text) {
    m_editor->setText(text);
}

QString FileNameEdit::FileName() const {
    return addressFileName(text());
}

QString FileNameEdit::quotedPath(const QString& path) {
    return path.contains(' ') ? QLatin1Char('"') + path + QLatin1Char('"') : path;
}

void FileNameEdit::browse() {
    QString name;
    try {
        name = FileName();
    } catch (const AddressTooLong&) {
        // Too long to be a path the dialog could start from.
    }
    bool proceed = true;
    if (m_beforeDialog) m_beforeDialog(name, proceed);
    if (!proceed) return;
    if (!name.isEmpty()) m_dialog.fileName = name;
    if (!m_dialog.Execute(window())) return;
    const QString chosen = m_dialog.fileName;
    m_dialog.initialDir = QFileInfo(chosen).absolutePath();
    setText(quotedPath(chosen));
    m_editor->setFocus();
}

bool FileNameEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_editor && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers held =
            key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        if (key->key() == Qt::Key_Down && held == Qt::AltModifier) {
            platform::runGuarded([this] { browse(); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FileNameEdit::resizeEvent(QResizeEvent*) {
    const int buttonWidth = height();
    m_editor->setGeometry(0, 0, width() - buttonWidth, height());
    m_button->setGeometry(width() - buttonWidth, 0, buttonWidth, height());
}

} // namespace document
