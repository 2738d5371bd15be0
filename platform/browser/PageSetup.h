// What a page is given before it loads: the identity and preferences it sees.
#pragma once

#include <QString>
#include <utility>
#include <vector>

namespace browser {

struct PageSetup {
    QString userAgent;                                // empty: the engine's own
    std::vector<std::pair<QString, QString>> headers; // extra request headers: name, value
    std::vector<std::pair<QString, QString>> cookies; // name, value; for the host navigated to
    QString colorScheme;                              // "", "dark" or "light"
    QString media;                                    // "", "print" or "screen"

    bool operator==(const PageSetup&) const = default;
};

} // namespace browser
