// What the tool reads whole before it starts: a batch file, a script, a page on standard input;
// and the report it opens. Any of them can be a pipe or a terminal that waits.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>

namespace app::cli {

enum class InputRead { Whole, TooLarge, Failed };

// Reads all of what path names ("-": standard input), up to limit bytes: TooLarge when there is
// more, Failed with *error set (the system's words) when it cannot be opened or read. A caught
// Ctrl-C or SIGTERM ends the run while it waits, be it on a terminal, on a pipe whose writer is
// slow or on a named pipe that nobody writes to yet: Qt and the C library take their reads and
// opens up again after a signal, and the run would wait on for ever.
InputRead readInput(const QString& path, qint64 limit, QByteArray* data, QString* error);

// Opens path for writing as fopen(path, "w") does, a named pipe once somebody reads it; a
// caught signal ends the run while it waits. nullptr with errno set when it fails.
std::FILE* openForWriting(const QString& path);

} // namespace app::cli
