// The application object: QApplication with the general error handler as the last net under
// every event, and the program's start-up settings.
#pragma once

#include <QApplication>

class VelmoraApplication : public QApplication {
  public:
    static constexpr const char* Title = "Velmora 1.0";

    VelmoraApplication(int& argc, char** argv);
    // An exception that a handler let through ends here instead of in Qt's event loop.
    bool notify(QObject* receiver, QEvent* event) override;
};

// Sets the application's title; main() and the tests call it.
void InitApplicationTitle();

// SIGTERM (a session that logs out), SIGINT and SIGHUP (the terminal it was started from) end the
// program as they would have, but the browser engine is stopped and its folders in the temporary
// folder removed first. Call once the application object exists.
void StopEngineOnSignals();

// Output that nobody reads any more (a closed terminal, a pipe whose reader has gone) fails its
// writes rather than ending the program (SIGPIPE). Call first: Qt warns as it starts.
void IgnoreClosedOutput();
