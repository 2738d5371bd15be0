#include "app/cli/StdinPage.h"

#include "app/cli/Batch.h"
#include "app/cli/Input.h"
#include "platform/browser/Interrupt.h"

#include <QDir>
#include <QUrl>

namespace app::cli {

// The page is loaded from a file in the current folder, not from the text itself with a <base>
// element pointing there: a <base> would have to be placed after any doctype and before the
// first relative link, would override the page's own <base>, and would leave the page's own
// address (location, document.URL, its storage) elsewhere. A file beside the page's neighbours
// gives the page exactly the address it would have if it were saved there. The file is private
// to the user (QTemporaryFile makes it 0600), hidden by its dot, and removed once the picture
// is made.
bool StdinPage::create(const QString& folder, QString* error) {
    QByteArray html;
    QString why;
    const InputRead read = readInput(QStringLiteral("-"), kMaxPageBytes, &html, &why);
    if (read == InputRead::Failed) {
        *error = QStringLiteral("standard input cannot be read: %1").arg(why);
        return false;
    }
    if (read == InputRead::TooLarge) {
        *error = QStringLiteral("the page on standard input is larger than %1 MiB").arg(kMaxPageBytes >> 20);
        return false;
    }
    m_file =
        std::make_unique<QTemporaryFile>(QDir(folder).filePath(QStringLiteral(".velmora-stdin-XXXXXX.html")));
    if (!m_file->open() || m_file->write(html) != html.size() || !m_file->flush()) {
        *error =
            QStringLiteral("the page from standard input is loaded from a file in the current folder, so "
                           "that its relative links find their files, and %1 takes no file: %2")
                .arg(QDir(folder).absolutePath(), m_file->errorString());
        m_file.reset();
        return false;
    }
    browser::removeOnInterrupt(m_file->fileName());
    return true;
}

StdinPage::~StdinPage() {
    if (m_file) browser::keepOnInterrupt(m_file->fileName());
}

QString StdinPage::address() const {
    return m_file ? QUrl::fromLocalFile(m_file->fileName()).toString(QUrl::FullyEncoded) : QString();
}

} // namespace app::cli
