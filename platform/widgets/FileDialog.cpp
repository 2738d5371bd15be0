#include "platform/widgets/FileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace widgets {

namespace {

FileDialog::Runner& runner() {
    static FileDialog::Runner current;
    return current;
}

bool runQtDialog(FileDialog& settings, QWidget* owner) {
    QFileDialog dialog(owner, settings.title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (settings.kind() == FileDialog::Kind::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite,
                         !(settings.options & FileDialog::OverwritePrompt));
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode((settings.options & FileDialog::FileMustExist) ? QFileDialog::ExistingFile
                                                                          : QFileDialog::AnyFile);
    }
    const QStringList filters = FileDialog::nameFilters(settings.filter);
    if (!filters.isEmpty()) {
        // The patterns are already part of each description as the filter gives it.
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        dialog.setNameFilters(filters);
    }
    const QString folder = settings.startFolder();
    if (!folder.isEmpty()) dialog.setDirectory(folder);
    const QString name = settings.proposedName();
    if (!name.isEmpty()) dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    settings.fileName = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
    return true;
}

} // namespace

QString FileDialog::startFolder() const {
    if (!fileName.isEmpty()) {
        const QFileInfo info(fileName);
        QString folder = info.absolutePath();
        if (fileName.contains('/') && QFileInfo(folder).isDir()) return folder;
    }
    return initialDir;
}

QString FileDialog::proposedName() const {
    return fileName.isEmpty() ? QString() : QFileInfo(fileName).fileName();
}

QStringList FileDialog::nameFilters(const QString& filter) {
    QStringList result;
    const QStringList parts = filter.split('|');
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& mask : parts[i + 1].split(';', Qt::SkipEmptyParts))
            patterns << (mask.trimmed() == QLatin1String("*.*") ? QStringLiteral("*") : mask.trimmed());
        result << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(' '));
    }
    return result;
}

bool FileDialog::Execute(QWidget* owner) {
    if (runner()) return runner()(*this, owner);
    return runQtDialog(*this, owner);
}

FileDialog::Runner FileDialog::setRunner(Runner replacement) {
    Runner previous = std::move(runner());
    runner() = std::move(replacement);
    return previous;
}

} // namespace widgets
