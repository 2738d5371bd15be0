#include "app/Application.h"

#include "platform/AppEvents.h"
#include "platform/browser/Interrupt.h"

#include <csignal>

VelmoraApplication::VelmoraApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool VelmoraApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        platform::HandleCurrentException();
        return false;
    }
}

void InitApplicationTitle() {
    QCoreApplication::setApplicationName(QString::fromLatin1(VelmoraApplication::Title));
}

void IgnoreClosedOutput() {
    std::signal(SIGPIPE, SIG_IGN);
}

void StopEngineOnSignals() {
    browser::catchInterrupts();
    browser::endOnInterruptFromEventLoop(qApp);
}
