#include "document/AddressRule.h"

#include <QFileInfo>

namespace document {

namespace {
bool isBlank(QChar c) {
    return c.unicode() >= 1 && c.unicode() <= 32;
}
} // namespace

AddressTooLong::AddressTooLong()
    : std::runtime_error("The address is longer than 256 characters and cannot be opened. Please enter a "
                         "shorter address.") {}

QString firstCommandLineItem(const QString& text) {
    // A NUL ends the text, as it would end the C string the field's text once was.
    const qsizetype end = text.contains(QChar(0)) ? text.indexOf(QChar(0)) : text.size();
    qsizetype i = 0;
    for (;;) {
        while (i < end && isBlank(text[i]))
            ++i;
        if (i + 1 < end && text[i] == '"' && text[i + 1] == '"')
            i += 2;
        else
            break;
    }
    QString item;
    while (i < end && !isBlank(text[i])) {
        if (text[i] == '"') {
            ++i;
            while (i < end && text[i] != '"')
                item += text[i++];
            if (i < end) ++i;
        } else {
            item += text[i++];
        }
    }
    return item;
}

bool isExistingFile(const QString& path) {
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

QString addressFileName(const QString& text, const FileExists& exists) {
    if (exists(text)) return text;
    QString item = firstCommandLineItem(text);
    if (item.size() > kMaxAddressItem) throw AddressTooLong();
    return item;
}

QString addressToOpen(const QString& text, const FileExists& exists) {
    const QString name = addressFileName(text, exists);
    return name.isEmpty() ? text : name;
}

} // namespace document
