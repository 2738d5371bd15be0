// The open and save dialogs as components: the settings live in the object between openings
// (title, filter, starting folder, file name), and Execute runs the dialog with them. The
// confirmed path is kept as the file name for the next opening.
//
// Execute goes through a swappable runner, so that tests can answer for the user and see what
// the dialog would have shown.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace widgets {

class FileDialog {
  public:
    enum class Kind { Open, Save };
    enum Option {
        OverwritePrompt = 0x1,
        HideReadOnly = 0x2,
        EnableSizing = 0x4,
        FileMustExist = 0x8,
    };

    explicit FileDialog(Kind kind) : m_kind(kind) {}

    Kind kind() const { return m_kind; }
    QString title;
    // Descriptions and masks alternating, separated by "|"; masks separated by ";".
    QString filter;
    QString initialDir;
    QString fileName;
    int options = HideReadOnly | EnableSizing;

    // Shows the dialog; true when the user confirmed a file, whose full path is then fileName.
    // The starting folder is the folder of fileName when it names one, else initialDir.
    bool Execute(QWidget* owner);

    // The folder the dialog opens in, and the name it proposes there.
    QString startFolder() const;
    QString proposedName() const;

    // The filter as the dialog lists it: one entry "description (patterns)" per pair. The
    // description is kept as given; "*.*" becomes "*", as it means every file here.
    static QStringList nameFilters(const QString& filter);

    using Runner = std::function<bool(FileDialog& dialog, QWidget* owner)>;
    // Replaces how dialogs are run; returns the previous runner (empty: the real dialog).
    static Runner setRunner(Runner runner);

  private:
    Kind m_kind;
};

} // namespace widgets
