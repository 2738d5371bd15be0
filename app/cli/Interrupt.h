// Ending on a signal: Ctrl-C, a scheduler's SIGTERM (Kubernetes deleting a pod, Slurm at a job's
// time limit), a terminal that closes. The engines are stopped and their profile folders removed,
// helpers are told to do the same, and only then does the process end as the signal would have
// ended it. Without this the engines died with the tool but their folders stayed behind.
#pragma once

#include <QString>

class QObject;

namespace app::cli {

// Catches SIGTERM, and SIGINT and SIGHUP unless they are ignored already (a job started in the
// background, nohup). Call once, early in main.
void catchInterrupts();

// The signal caught, or 0.
int interruptSignal();

// Readable once a signal has been caught: for loops that wait in poll().
int interruptFd();

// Ends the run on the caught signal from the event loop of parent's thread, as soon as it runs.
void endOnInterruptFromEventLoop(QObject* parent);

// Stops the engine, removes the files registered below and ends the process as the caught
// signal would have ended it.
[[noreturn]] void endAsInterrupted();

// Files that must not outlive an interrupted run (the page read from standard input).
void removeOnInterrupt(const QString& path);
void keepOnInterrupt(const QString& path);

} // namespace app::cli
