// The headless Chromium process that every browser view shares: found on PATH, started by the
// first operation that needs it, talked to over the DevTools pipe, ended with the program (also
// when the program is killed), and started anew after it has died.
#pragma once

#include "platform/browser/Connection.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <sys/types.h>

namespace browser {

// A started child process in a process group of its own; the group is killed and the child
// reaped when the owner goes.
class ChildProcess {
  public:
    ChildProcess() = default;
    explicit ChildProcess(pid_t pid) : m_pid(pid) {}
    ~ChildProcess() { kill(); }
    ChildProcess(ChildProcess&& other) noexcept : m_pid(other.m_pid), m_reaped(other.m_reaped) {
        other.m_pid = 0;
    }
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    bool running(); // reaps the child if it has ended
    // Waits up to graceMs for the child to end by itself, then kills its group.
    void kill(int graceMs = 0);

  private:
    pid_t m_pid = 0;
    bool m_reaped = false;
};

// A private directory (mode 0700) that is removed with everything in it when the owner goes.
class TemporaryProfile {
  public:
    TemporaryProfile(); // throws BrowserError
    ~TemporaryProfile();
    TemporaryProfile(const TemporaryProfile&) = delete;
    TemporaryProfile& operator=(const TemporaryProfile&) = delete;
    const QString& path() const { return m_path; }
    // Notes the folder the engine made for its single-instance socket, which the profile links
    // to once the engine runs. The engine takes the link away when it begins to close, and one
    // killed while closing (held by a file it reads) left the folder behind.
    void noteSocketFolder();

    // Removes profiles left behind by our own processes that no longer run (a killed program
    // cannot clean up after itself).
    static void removeStale();
    static QString prefix(); // file name prefix of every profile directory

  private:
    QString m_path;
    QString m_socketFolder;
};

class Engine {
  public:
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // The running engine, started first if there is none or the last one has died. Throws
    // BrowserError when no engine can be found or it does not start.
    static Engine& shared();
    // The running engine, or null; never starts one.
    static Engine* current();
    static void shutdown();

    Connection& connection() { return *m_connection; }
    pid_t pid() const { return m_process.pid(); }
    // Counts engine starts; a page made on an earlier engine has to be made again.
    int generation() const { return m_generation; }
    bool alive();

    // Frames at a display's pace, 60 a second, rather than each as soon as it can be made: the
    // engine's own window then costs far less while pages load (its loading animation is drawn
    // as often as frames come), and each capture waits up to a frame longer. Taken by engines
    // started after the call; unpaced is the default, for drawing in many captures.
    static void setFramesPaced(bool paced);

    // The engine's file on PATH, or empty.
    static QString findExecutable();
    static QStringList arguments(const QString& profile);
    // The connection's reader hook, for what must be answered on the spot because the UI thread
    // may be waiting on that very page: it accepts a page's script dialog (alert, confirm, prompt
    // with its default text, beforeunload), since nobody is there to answer it; and it lets a
    // page's frame or worker that waits to be followed run, once its requests are followed and
    // its own frames and workers will wait in turn.
    static void answerAtOnce(Connection& connection, const Json& event);
    // Target.setAutoAttach's parameters for a page and each frame and worker of it: the ones
    // whose requests are reported to sessions of their own are followed too.
    static Json followChildren();
    // Network.enable's parameters for a page and each frame and worker of it.
    static Json followRequests();

  private:
    Engine(int generation); // throws BrowserError
    void start();

    int m_generation;
    std::unique_ptr<TemporaryProfile> m_profile;
    ChildProcess m_process;
    std::unique_ptr<Connection> m_connection;
};

} // namespace browser
