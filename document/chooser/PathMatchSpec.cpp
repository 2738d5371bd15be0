#include "document/chooser/PathMatchSpec.h"

#include <QChar>

namespace document {

namespace {

bool sameLetter(char32_t a, char32_t b) {
    return a == b || QChar::toCaseFolded(a) == QChar::toCaseFolded(b);
}

// One mask against one name, both as code points so that "?" takes a whole character even
// outside the basic plane. Greedy matching that only ever backtracks to the last star: any
// earlier star could only absorb less, never enable a match the last one cannot.
bool matchSingleMask(const QList<uint>& name, const QList<uint>& mask) {
    qsizetype n = 0;
    qsizetype m = 0;
    qsizetype starMask = -1;
    qsizetype starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && (mask[m] == '?' || sameLetter(mask[m], name[n]))) {
            ++m;
            ++n;
        } else if (starMask >= 0) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

} // namespace

bool PathMatchSpecW(QStringView file, QStringView spec) {
    const QList<uint> name = file.toUcs4();
    qsizetype start = 0;
    for (;;) {
        while (start < spec.size() && spec[start] == u' ')
            ++start;
        qsizetype end = spec.indexOf(u';', start);
        if (end < 0) end = spec.size();
        if (matchSingleMask(name, spec.mid(start, end - start).toUcs4())) return true;
        if (end >= spec.size()) return false;
        start = end + 1;
    }
}

QStringList splitFilterMasks(const QString& filter) {
    QStringList masks;
    const QString whole = filter.trimmed();
    if (whole.isEmpty() || whole == QLatin1String("*")) return masks;
    for (const QString& part : whole.split(u';')) {
        const QString mask = part.trimmed();
        if (!mask.isEmpty()) masks.append(mask);
    }
    return masks;
}

bool fileMatchesMasks(const QString& fileName, const QStringList& masks) {
    if (masks.isEmpty()) return true;
    for (const QString& mask : masks) {
        if (mask == QLatin1String("*.*")) {
            if (fileName.contains(u'.')) return true;
        } else if (PathMatchSpecW(fileName, mask)) {
            return true;
        }
    }
    return false;
}

} // namespace document
