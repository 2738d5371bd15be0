// A file-name edit: a text field with a browse button at its right end. The button, or
// Alt+Down in the field, opens a file dialog; a confirmed path replaces the text, in double
// quotes when it contains a space. The dialog keeps the confirmed file and its folder for its
// next opening.
#pragma once

#include "platform/widgets/FileDialog.h"

#include <QWidget>
#include <functional>

class QLineEdit;
class QToolButton;

namespace document {

class FileNameEdit : public QWidget {
    Q_OBJECT
  public:
    explicit FileNameEdit(QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    // The file name the text stands for (AddressRule.h); throws AddressTooLong.
    QString FileName() const;

    // Before the dialog opens: the proposed file name (the field's file name on entry) and a
    // flag to go on (true on entry). An empty name leaves the dialog as it last was.
    using BeforeDialogHandler = std::function<void(QString& name, bool& proceed)>;
    void setOnBeforeDialog(BeforeDialogHandler handler) { m_beforeDialog = std::move(handler); }

    widgets::FileDialog& dialog() { return m_dialog; }
    QLineEdit* editor() const { return m_editor; }
    QToolButton* browseButton() const { return m_button; }

    // What the browse button and Alt+Down do.
    void browse();

    // The text the field shows for a chosen path.
    static QString quotedPath(const QString& path);

  signals:
    void textChanged(const QString& text);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QLineEdit* m_editor;
    QToolButton* m_button;
    widgets::FileDialog m_dialog{widgets::FileDialog::Kind::Open};
    BeforeDialogHandler m_beforeDialog;
};

} // namespace document
