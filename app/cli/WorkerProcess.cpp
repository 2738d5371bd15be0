#include "app/cli/WorkerProcess.h"

#include "platform/browser/Engine.h"
#include "platform/browser/Interrupt.h"
#include "platform/browser/PipeTransport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace app::cli {
namespace {

using browser::UniqueFd;
using Clock = std::chrono::steady_clock;

// A helper says it is alive this often, whatever its page is doing, and one that has said
// nothing for kSilenceLimit is taken for stopped (a SIGSTOP, a frozen group of processes, a
// process that no longer runs at all) and ended. Its own time limits end a page that hangs.
constexpr auto kHeartbeat = std::chrono::milliseconds(500);
constexpr auto kSilenceLimit = std::chrono::seconds(10);
constexpr QByteArrayView kAliveLine = "{\"alive\":true}";

bool writeLine(int fd, const QByteArray& line) {
    const QByteArray data = line + '\n';
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, std::size_t(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= n;
    }
    return true;
}

// Cuts lines out of what a pipe delivers.
class LineReader {
  public:
    // Appends what one read gives; false at the end of the stream or on an error.
    bool fill(int fd) {
        char buffer[16384];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            // A signal to end: no more lines.
            if (n < 0 && errno == EINTR && !browser::interruptSignal()) continue;
            if (n <= 0) return false;
            m_pending.append(buffer, n);
            return true;
        }
    }
    std::optional<QByteArray> take() {
        const qsizetype end = m_pending.indexOf('\n');
        if (end < 0) return std::nullopt;
        QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        return line;
    }

  private:
    QByteArray m_pending;
};

QByteArray jobLine(const Job& job) {
    return QJsonDocument(QJsonObject{{"index", job.index}, {"address", job.address}, {"output", job.output}})
        .toJson(QJsonDocument::Compact);
}

// The helper's end of the pipes: pages in, results out.
class WorkerChannel : public JobSource, public PageSink {
  public:
    std::optional<Job> next() override {
        if (m_taken > 0 && !send(QByteArrayLiteral("{\"ready\":true}"))) return std::nullopt;
        for (;;) {
            if (const std::optional<QByteArray> line = m_reader.take()) {
                const QJsonObject o = QJsonDocument::fromJson(*line).object();
                ++m_taken;
                return Job{o.value(QLatin1String("address")).toString(),
                           o.value(QLatin1String("output")).toString(),
                           o.value(QLatin1String("index")).toInt()};
            }
            if (!m_reader.fill(kWorkerJobsFd)) return std::nullopt;
        }
    }
    void pageFinished(const PageResult& result) override { send(toJsonLine(result)); }

    // Results come from the writer thread, readiness from the runner's and the heartbeat from
    // its own: one line at a time.
    bool send(const QByteArray& line) {
        std::lock_guard lock(m_mutex);
        return writeLine(kWorkerResultsFd, line);
    }

  private:
    LineReader m_reader;
    std::mutex m_mutex;
    int m_taken = 0;
};

QString describeEnd(int status) {
    if (WIFSIGNALED(status))
        return QStringLiteral("was killed by signal %1 (%2)")
            .arg(WTERMSIG(status))
            .arg(QString::fromLocal8Bit(strsignal(WTERMSIG(status))));
    if (WIFEXITED(status)) return QStringLiteral("exited with status %1").arg(WEXITSTATUS(status));
    return QStringLiteral("ended");
}

// One helper process, as the tool sees it.
struct Worker {
    pid_t pid = -1;
    UniqueFd jobs;    // the tool writes pages here; closing it tells the helper to finish
    UniqueFd results; // and reads results here
    LineReader reader;
    std::deque<Job> held;                   // pages handed over and not yet finished
    bool ready = true;                      // it can take a page now
    Clock::time_point heard = Clock::now(); // when it last sent anything
    bool silenced = false;                  // ended by the tool for saying nothing

    ~Worker() {
        jobs.reset();
        results.reset();
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

// Starts a helper. Its pipe ends go to descriptors 3 and 4; they are first moved above 10, so
// that putting one in place cannot overwrite the other.
std::unique_ptr<Worker> startWorker(const QStringList& arguments, QString* error) {
    int jobsPipe[2], resultsPipe[2];
    if (::pipe2(jobsPipe, O_CLOEXEC) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    UniqueFd jobsRead(jobsPipe[0]), jobsWrite(jobsPipe[1]);
    if (::pipe2(resultsPipe, O_CLOEXEC) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    UniqueFd resultsRead(resultsPipe[0]), resultsWrite(resultsPipe[1]);
    UniqueFd childJobs(::fcntl(jobsRead.get(), F_DUPFD_CLOEXEC, 10));
    UniqueFd childResults(::fcntl(resultsWrite.get(), F_DUPFD_CLOEXEC, 10));
    if (!childJobs.valid() || !childResults.valid()) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }

    std::vector<QByteArray> storage{QByteArrayLiteral("velmora-capture"), QByteArray(kWorkerOption)};
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    argv.reserve(storage.size() + 1);
    for (QByteArray& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childJobs.get(), kWorkerJobsFd);
    posix_spawn_file_actions_adddup2(&actions, childResults.get(), kWorkerResultsFd);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        *error = QString::fromLocal8Bit(std::strerror(rc));
        return nullptr;
    }
    auto worker = std::make_unique<Worker>();
    worker->pid = pid;
    worker->jobs = std::move(jobsWrite);
    worker->results = std::move(resultsRead);
    return worker;
}

} // namespace

int runWorker(const CaptureOptions& options) {
    // The engine this helper starts must not hold the pipes open after the helper has gone.
    ::fcntl(kWorkerJobsFd, F_SETFD, FD_CLOEXEC);
    ::fcntl(kWorkerResultsFd, F_SETFD, FD_CLOEXEC);
    // A helper has nothing to do once the tool is gone (its engine follows it the same way).
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    WorkerChannel channel;
    // The heartbeat runs on a thread of its own, so that it goes on while the runner waits for
    // the engine or the writer; it stops only with the process.
    std::mutex beatMutex;
    std::condition_variable beatWake;
    bool finished = false;
    std::thread heartbeat([&] {
        std::unique_lock lock(beatMutex);
        while (!beatWake.wait_for(lock, kHeartbeat, [&] { return finished; }))
            channel.send(kAliveLine.toByteArray());
    });
    {
        CaptureRunner runner(options, channel);
        runner.run(channel);
    }
    {
        std::lock_guard lock(beatMutex);
        finished = true;
    }
    beatWake.notify_one();
    heartbeat.join();
    if (browser::interruptSignal()) browser::endAsInterrupted();
    return ExitOk;
}

// Removes the engine folders of a helper that was killed. Its engine dies with it, but may still
// be writing into its folder for a moment: removed again until nothing of it is left (three
// seconds at most).
void removeProfilesOf(pid_t helper) {
    const QDir temp(QDir::tempPath());
    const QStringList pattern{browser::TemporaryProfile::prefix() + QString::number(helper) +
                              QStringLiteral("-*")};
    for (int tries = 0; tries < 60; ++tries) {
        browser::TemporaryProfile::removeStale();
        if (temp.entryList(pattern, QDir::Dirs | QDir::Hidden).isEmpty()) return;
        ::usleep(50000);
    }
}

// The tool was told to end: its helpers are told too and given a few seconds to stop their
// engines and remove their folders, then the tool ends on the same signal.
[[noreturn]] void endHelpersAndRun(std::vector<std::unique_ptr<Worker>>& workers) {
    for (auto& w : workers) {
        w->jobs.reset();
        if (w->pid > 0) {
            ::kill(w->pid, SIGTERM);
            ::kill(w->pid, SIGCONT); // a stopped helper could not act on it
        }
    }
    for (auto& w : workers) {
        if (w->pid <= 0) continue;
        int waited = 0;
        while (::waitpid(w->pid, nullptr, WNOHANG) == 0 && waited < 5000) {
            ::usleep(10000);
            waited += 10;
        }
        if (waited >= 5000) {
            ::kill(w->pid, SIGKILL);
            ::waitpid(w->pid, nullptr, 0);
        }
        w->pid = -1;
    }
    browser::endAsInterrupted();
}

void runWorkerPool(const QStringList& arguments, int engines, JobSource& source, PageSink& sink) {
    std::vector<std::unique_ptr<Worker>> workers;
    std::optional<Job> pending;
    bool sourceDone = false;
    // Pages a helper had taken ahead when it died: they go to the next free helper first.
    std::deque<Job> again;
    Clock::time_point awake = Clock::now(); // when the tool last looked at its helpers
    auto nextJob = [&]() -> std::optional<Job> {
        if (!again.empty()) {
            Job job = again.front();
            again.pop_front();
            return job;
        }
        if (sourceDone) return std::nullopt;
        std::optional<Job> job = source.next();
        sourceDone = !job;
        return job;
    };
    auto failPage = [&](const Job& job, const QString& message) {
        PageResult r = resultFor(job);
        r.status = ExitLoad;
        r.message = message;
        sink.pageFinished(r);
    };

    for (;;) {
        // Hand out pages while a helper is free or another may be started.
        for (;;) {
            Worker* free = nullptr;
            for (auto& w : workers)
                if (w->ready && w->jobs.valid()) free = w.get();
            if (!free && int(workers.size()) >= engines) break;
            if (!pending) pending = nextJob();
            if (!pending) break;
            if (!free) {
                QString error;
                std::unique_ptr<Worker> started = startWorker(arguments, &error);
                if (!started) {
                    failPage(*pending, QStringLiteral("no capture process could be started: %1").arg(error));
                    pending.reset();
                    continue;
                }
                free = started.get();
                workers.push_back(std::move(started));
            }
            // Held before it is sent: should the helper be gone already, the page fails with it.
            free->held.push_back(*pending);
            free->ready = false;
            writeLine(free->jobs.get(), jobLine(*pending));
            pending.reset();
        }
        // No more pages: a free helper is told to finish by the end of its pipe.
        if (sourceDone && again.empty() && !pending)
            for (auto& w : workers)
                if (w->ready) w->jobs.reset();
        if (workers.empty()) return;

        std::vector<pollfd> fds;
        fds.reserve(workers.size() + 1);
        for (auto& w : workers)
            fds.push_back(pollfd{w->results.get(), POLLIN, 0});
        if (browser::interruptFd() >= 0) fds.push_back(pollfd{browser::interruptFd(), POLLIN, 0});
        const int polled = ::poll(fds.data(), fds.size(), int(std::chrono::milliseconds(kHeartbeat).count()));
        if (polled < 0 && errno != EINTR) return;
        if (browser::interruptSignal()) endHelpersAndRun(workers);
        const Clock::time_point now = Clock::now();
        // Silence is counted only while the tool itself ran: after the tool was stopped (a
        // shell's Ctrl-Z stops its helpers with it) or waited on a slow reader of its output,
        // every helper starts afresh.
        if (now - awake > 4 * kHeartbeat)
            for (auto& w : workers)
                w->heard = now;
        awake = now;
        for (auto& w : workers)
            if (w->pid > 0 && !w->silenced && now - w->heard > kSilenceLimit) {
                // Its pipe closes as it dies, and it is then ended as any helper that died.
                ::kill(w->pid, SIGKILL);
                w->silenced = true;
            }
        for (std::size_t i = workers.size(); i-- > 0;) {
            if (fds[i].revents == 0) continue;
            Worker& w = *workers[i];
            const bool open = w.reader.fill(w.results.get());
            if (open) w.heard = now;
            while (const std::optional<QByteArray> line = w.reader.take()) {
                if (*line == kAliveLine) continue;
                if (line->startsWith("{\"ready\"")) {
                    w.ready = true;
                    continue;
                }
                const std::optional<PageResult> result = fromJsonLine(*line);
                if (!result) continue;
                for (auto it = w.held.begin(); it != w.held.end(); ++it)
                    if (it->index == result->index) {
                        w.held.erase(it);
                        break;
                    }
                sink.pageFinished(*result);
            }
            if (open) continue;
            // The helper has ended: normally once its pipe was closed and its pages were done;
            // any page it still held died with it.
            w.jobs.reset();
            w.results.reset();
            int status = 0;
            ::waitpid(w.pid, &status, 0);
            const QString how = w.silenced ? QStringLiteral("said nothing for %1 seconds and was ended")
                                                 .arg(std::chrono::seconds(kSilenceLimit).count())
                                           : describeEnd(status);
            const pid_t pid = std::exchange(w.pid, -1);
            // A helper that was killed could not remove its engine's folder.
            if (!WIFEXITED(status)) removeProfilesOf(pid);
            // Its pages are done in order: the oldest is the one it was working on, and those
            // after it were only opened ahead, so another helper takes them.
            if (!w.held.empty())
                failPage(w.held.front(),
                         QStringLiteral("the capture process working on this page %1; the batch goes on with "
                                        "a new one")
                             .arg(how));
            for (std::size_t k = w.held.size(); k-- > 1;)
                again.push_front(w.held[k]);
            workers.erase(workers.begin() + std::ptrdiff_t(i));
        }
    }
}

} // namespace app::cli
