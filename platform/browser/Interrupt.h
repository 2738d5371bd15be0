// Ending on a signal: Ctrl-C, a scheduler's SIGTERM (Kubernetes deleting a pod, Slurm at a job's
// time limit), a desktop session that logs out, a terminal that closes. The engine is stopped and
// its profile folders removed, and only then does the process end as the signal would have ended
// it. Without this the engine died with the program but its folders stayed behind in the
// temporary folder.
#pragma once

#include <QString>

class QObject;

namespace browser {

// Catches SIGTERM, and SIGINT and SIGHUP unless they are ignored already (a job started in the
// background, nohup). Call once, early in main.
void catchInterrupts();

// The signal caught, or 0.
int interruptSignal();

// Readable once a signal has been caught: for loops that wait in poll().
int interruptFd();

// Waits until fd is readable, or at its end or in error (fd < 0: waits for nothing), or until
// timeoutMs has passed (-1: no limit); a signal caught before or meanwhile ends the run. For
// waits outside the event loop that the system would not break off: false when the time ran out.
bool waitUntilReadable(int fd, int timeoutMs);

// Ends the run on the caught signal from the event loop of parent's thread, as soon as it runs.
void endOnInterruptFromEventLoop(QObject* parent);

// Stops the engine, removes the files registered below and ends the process as the caught
// signal would have ended it.
[[noreturn]] void endAsInterrupted();

// Files that must not outlive an interrupted run (the page read from standard input).
void removeOnInterrupt(const QString& path);
void keepOnInterrupt(const QString& path);

} // namespace browser
