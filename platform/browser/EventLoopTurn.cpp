#include "platform/browser/EventLoopTurn.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace browser {

std::uint64_t eventLoopGeneration() {
    static std::uint64_t generation = 0;
    static bool posted = false;
    if (!posted && QCoreApplication::instance()) {
        posted = true;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [] {
                ++generation;
                posted = false;
            },
            Qt::QueuedConnection);
    }
    return generation;
}

} // namespace browser
