#include "app/cli/PageAddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <sys/stat.h>

namespace app::cli {
namespace {

bool looksLikeFileName(const QString& name) {
    static const QRegularExpression page(QStringLiteral("\\.(html?|svg|xhtml)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    return name.contains(QLatin1Char('/')) || page.match(name).hasMatch();
}

} // namespace

ResolvedAddress resolveAddress(const QString& address, const QString& folder) {
    const QString trimmed = address.trimmed();
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    // host:port looks like a scheme but is a web address without one.
    static const QRegularExpression hostPort(QStringLiteral("^[A-Za-z0-9.-]+:\\d+(/|$)"));
    if (scheme.match(trimmed).hasMatch() || hostPort.match(trimmed).hasMatch()) return {address, {}};

    QString path = trimmed;
    if (path.startsWith(QLatin1String("~/"))) path = QDir::homePath() + path.mid(1);
    auto absolute = [&](const QString& p) { return QFileInfo(QDir(folder), p).absoluteFilePath(); };

    // A file whose own name holds '#' or '?' wins over reading them as a fragment and a query
    // (which a page of one's own reads from location, as one from a server does).
    if (QFileInfo(absolute(path)).isFile())
        return {QUrl::fromLocalFile(absolute(path)).toString(QUrl::FullyEncoded), {}};
    QString fragment;
    if (const int hash = path.indexOf(QLatin1Char('#')); hash >= 0) {
        fragment = path.mid(hash + 1);
        path = path.left(hash);
    }
    // The query starts at the first '?' after which the rest names a file, or else at the first.
    QString query;
    if (!QFileInfo(absolute(path)).isFile()) {
        int mark = path.indexOf(QLatin1Char('?'));
        for (int at = mark; at >= 0; at = path.indexOf(QLatin1Char('?'), at + 1)) {
            if (QFileInfo(absolute(path.left(at))).isFile()) {
                mark = at;
                break;
            }
        }
        if (mark >= 0) {
            query = path.mid(mark + 1);
            path = path.left(mark);
        }
    }
    if (!looksLikeFileName(path)) return {address, {}};
    const QFileInfo file(absolute(path));
    if (!file.exists()) return {{}, QStringLiteral("no such file: %1").arg(file.absoluteFilePath())};
    if (file.isDir()) return {{}, QStringLiteral("%1 is a folder, not a page").arg(file.absoluteFilePath())};
    QUrl url = QUrl::fromLocalFile(file.absoluteFilePath());
    if (!query.isNull()) url.setQuery(query);
    if (!fragment.isNull()) url.setFragment(fragment);
    return {url.toString(QUrl::FullyEncoded), {}};
}

QString localFileOf(const QString& resolvedAddress) {
    const QUrl url(resolvedAddress, QUrl::StrictMode);
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

bool sameFile(const QString& a, const QString& b) {
    if (a.isEmpty() || b.isEmpty()) return false;
    struct stat first = {};
    struct stat second = {};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

} // namespace app::cli
