// What the tool hands the engine for an ADDRESS. The engine reads a name it cannot find as a web
// address, so a mistyped file name would turn into a search for a host of that name; the tool
// decides first.
#pragma once

#include <QString>

namespace app::cli {

struct ResolvedAddress {
    QString address; // for the engine: a file:// URL for local files, else as given
    QString error;   // for the user, when the address names a file that is not there
};

// An address without a scheme that holds a slash or ends in .htm, .html, .svg or .xhtml is a
// file name, relative to folder unless absolute; a "#fragment" after it is kept for the engine,
// which then shows the document at that fragment. Such a file must exist. Anything else (with
// a scheme, host:port, a bare host name) goes to the engine as it is.
ResolvedAddress resolveAddress(const QString& address, const QString& folder);

// The local file a resolved address (a file:// URL) names, without its fragment; empty for
// anything else.
QString localFileOf(const QString& resolvedAddress);

// Whether the two names lead to one existing file (through links, other spellings of the path,
// hard links); false when either does not exist.
bool sameFile(const QString& a, const QString& b);

} // namespace app::cli
