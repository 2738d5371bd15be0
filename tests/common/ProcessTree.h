// What /proc tells of other processes: a process's parent, and its command line.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <sys/types.h>

namespace testing_support {

// The parent of pid, or 0 once it has gone.
inline pid_t parentOf(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return 0;
    const QByteArray text = stat.readAll();
    // pid (name) state ppid ...: the name may hold blanks and brackets, so read after its last ')'.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 ? pid_t(fields[1].toLongLong()) : 0;
}

// The arguments pid was started with, or none once it has gone.
inline QList<QByteArray> commandLineOf(pid_t pid) {
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly)) return {};
    return cmdline.readAll().split('\0');
}

} // namespace testing_support
