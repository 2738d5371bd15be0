// File-name masks of the "Open file" list: the DOS-style wildcard matching the shell applies to
// file names, and the list's own reading of a filter made of several masks.
#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace document {

// Mirrors PathMatchSpecW: true when the name matches one of the masks in spec, which are
// separated by ";" (blanks before a mask are skipped). "*" stands for any run of characters,
// "?" for exactly one, and letters compare without regard to case. Runs in O(name x mask) at
// worst, so a mask full of stars cannot stall the list on a long name.
bool PathMatchSpecW(QStringView file, QStringView spec);

// The masks of a list filter: the parts between ";" with surrounding blanks removed and empty
// parts dropped. The empty filter and "*" mean no masks at all, that is every file is listed.
QStringList splitFilterMasks(const QString& filter);

// Whether the list shows a file of this name under these masks. "*.*" is settled here, not left
// to the matcher: by old DOS habit many matchers let it match every name, but the list shows
// under it only names that have a dot somewhere.
bool fileMatchesMasks(const QString& fileName, const QStringList& masks);

} // namespace document
