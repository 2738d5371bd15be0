#include "platform/browser/Engine.h"

#include "platform/browser/BrowserError.h"
#include "platform/browser/CallLimits.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace browser {

// --- ChildProcess ---------------------------------------------------------------------------

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        kill();
        m_pid = other.m_pid;
        m_reaped = other.m_reaped;
        other.m_pid = 0;
    }
    return *this;
}

bool ChildProcess::running() {
    if (m_pid <= 0 || m_reaped) return false;
    int status = 0;
    pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid || (r < 0 && errno == ECHILD)) {
        m_reaped = true;
        return false;
    }
    return true;
}

void ChildProcess::kill(int graceMs) {
    if (m_pid <= 0) return;
    for (int waited = 0; waited < graceMs && running(); waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // The whole group: the engine's helpers (zygote, renderers) live there too.
    ::kill(-m_pid, SIGKILL);
    if (!m_reaped) {
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_reaped = true;
    }
    m_pid = 0;
}

// --- TemporaryProfile -----------------------------------------------------------------------

QString TemporaryProfile::prefix() {
    return QStringLiteral("velmora-engine-");
}

TemporaryProfile::TemporaryProfile() {
    QByteArray pattern = QDir(QDir::tempPath())
                             .filePath(prefix() + QString::number(::getpid()) + QStringLiteral("-XXXXXX"))
                             .toLocal8Bit();
    // mkdtemp makes the directory with mode 0700: no one else may read the engine's profile.
    if (!::mkdtemp(pattern.data()))
        throw BrowserError(
            QStringLiteral("Could not create a profile folder for the browser engine in %1: %2")
                .arg(QDir::tempPath(), QString::fromLocal8Bit(std::strerror(errno))));
    m_path = QString::fromLocal8Bit(pattern);
}

namespace {

// The folder the engine made for its single-instance socket, which the profile links to, when it
// is one of the engine's in the temporary folder; else empty.
QString socketFolderOf(const QString& profile) {
    const QFileInfo socket(QDir(profile).filePath(QStringLiteral("SingletonSocket")));
    if (!socket.isSymLink()) return {};
    const QString folder = QFileInfo(socket.symLinkTarget()).absolutePath();
    if (!QFileInfo(folder).fileName().startsWith(QLatin1String("org.chromium.Chromium.")) ||
        QFileInfo(folder).absolutePath() != QFileInfo(QDir::tempPath()).absoluteFilePath())
        return {};
    return folder;
}

// Removes a profile folder and the folder the engine made for its single-instance socket: the
// one noted while the engine ran, else the one the profile links to. The engine removes that
// folder itself when it ends, but not when it is killed, and each left one stays in the temporary
// folder for good.
void removeProfile(const QString& path, const QString& notedSocketFolder = {}) {
    const QString folder = notedSocketFolder.isEmpty() ? socketFolderOf(path) : notedSocketFolder;
    if (!folder.isEmpty()) QDir(folder).removeRecursively();
    QDir(path).removeRecursively();
}

} // namespace

TemporaryProfile::~TemporaryProfile() {
    if (!m_path.isEmpty()) removeProfile(m_path, m_socketFolder);
}

void TemporaryProfile::noteSocketFolder() {
    if (m_socketFolder.isEmpty()) m_socketFolder = socketFolderOf(m_path);
}

void TemporaryProfile::removeStale() {
    QDir temp(QDir::tempPath());
    const QStringList entries =
        temp.entryList({prefix() + QStringLiteral("*")}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& name : entries) {
        const QStringList parts = name.mid(prefix().size()).split(QLatin1Char('-'));
        bool ok = false;
        const long pid = parts.value(0).toLong(&ok);
        if (!ok || pid <= 0 || pid == ::getpid()) continue;
        struct stat st {};
        const QByteArray path = temp.filePath(name).toLocal8Bit();
        if (::lstat(path.constData(), &st) != 0 || st.st_uid != ::geteuid() || !S_ISDIR(st.st_mode)) continue;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue; // its program still runs
        removeProfile(temp.filePath(name));
    }
}

// --- Engine ---------------------------------------------------------------------------------

namespace {

std::unique_ptr<Engine>& sharedEngine() {
    static std::unique_ptr<Engine> engine;
    return engine;
}
int engineStarts = 0;
bool cleanupRegistered = false;
bool paced = false;

void shutdownAtExit() {
    Engine::shutdown();
}

} // namespace

void Engine::answerAtOnce(Connection& connection, const Json& event) {
    const std::string method = event.value("method", std::string());
    const Json& p = event.value("params", Json::object());
    if (method == "Page.javascriptDialogOpening") {
        Json params = {{"accept", true}};
        if (p.value("type", std::string()) == "prompt")
            params["promptText"] = p.value("defaultPrompt", std::string());
        connection.sendWithoutReply("Page.handleJavaScriptDialog", params,
                                    event.value("sessionId", std::string()));
    } else if (method == "Target.attachedToTarget" && p.value("waitingForDebugger", false)) {
        // The calls go out in order, so the child runs only once they are in place.
        const std::string child = p.value("sessionId", std::string());
        connection.sendWithoutReply("Network.enable", followRequests(), child);
        connection.sendWithoutReply("Target.setAutoAttach", followChildren(), child);
        connection.sendWithoutReply("Runtime.runIfWaitingForDebugger", Json::object(), child);
    }
}

Json Engine::followRequests() {
    // Requests are followed for their start and end only. Unless told otherwise the engine also
    // keeps every response's body for DevTools, which nothing here reads: a 42 MB text page then
    // took 94 s to load instead of 17 s.
    return {{"maxResourceBufferSize", 1024}, {"maxTotalBufferSize", 4096}};
}

Json Engine::followChildren() {
    // Frames of other sites (each in a renderer of its own) and dedicated workers: their requests
    // are reported to their own sessions only. Each waits until it is followed. (Not at the
    // browser's level: there, waiting holds up every window a page opens, whatever the filter,
    // and the page's script with it.)
    return {{"autoAttach", true},
            {"waitForDebuggerOnStart", true},
            {"flatten", true},
            {"filter", Json::array({{{"type", "iframe"}}, {{"type", "worker"}}})}};
}

QString Engine::findExecutable() {
    const QStringList names = {QStringLiteral("chromium"), QStringLiteral("chromium-browser"),
                               QStringLiteral("google-chrome")};
    const QStringList dirs =
        QString::fromLocal8Bit(qgetenv("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& name : names) {
        for (const QString& dir : dirs) {
            QFileInfo file(QDir(dir).filePath(name));
            if (file.isFile() && file.isExecutable()) return file.absoluteFilePath();
        }
    }
    return {};
}

QStringList Engine::arguments(const QString& profile) {
    QStringList args = {
        QStringLiteral("--headless"),
        QStringLiteral("--remote-debugging-pipe"),
        QStringLiteral("--user-data-dir=") + profile,
        QStringLiteral("--no-first-run"),
        QStringLiteral("--no-default-browser-check"),
        QStringLiteral("--disable-background-networking"),
        QStringLiteral("--disable-component-update"),
        QStringLiteral("--disable-sync"),
        QStringLiteral("--disable-default-apps"),
        QStringLiteral("--disable-extensions"),
        QStringLiteral("--disable-breakpad"),
        // A page navigated away from goes, rather than living on frozen beside the next one. No
        // spare renderer: the engine keeps one for one browser context, and with pages in several
        // contexts at once (the command-line tool's) it started one and threw it away for nearly
        // every page. No address-bar popup: the engine draws it in a renderer of its own for every
        // window, that is for every browser context, which cost as much processor time as the
        // page the context was made for.
        QStringLiteral("--disable-features=Translate,MediaRouter,OptimizationHints,BackForwardCache,"
                       "SpareRendererForSitePerProcess,WebUIOmniboxPopup,WebUIOmniboxAimPopup"),
        QStringLiteral("--hide-scrollbars"),
        QStringLiteral("--mute-audio"),
        QStringLiteral("--disable-gpu"),
        // A wheel turn in the live view should scroll at once, not over an animation that
        // a capture could catch half way.
        QStringLiteral("--disable-smooth-scrolling"),
    };
    // There is no screen to keep pace with: a capture should wait for drawing, not for the next
    // frame time. It halves what each capture costs beyond its pixels.
    if (!paced) args << QStringLiteral("--disable-frame-rate-limit") << QStringLiteral("--disable-gpu-vsync");
    // The engine's sandbox needs user namespaces that root cannot have; as root the engine
    // refuses to start with it.
    if (::geteuid() == 0) args << QStringLiteral("--no-sandbox");
    args << QStringLiteral("about:blank");
    return args;
}

Engine::Engine(int generation) : m_generation(generation) {
    start();
}

Engine::~Engine() {
    if (m_connection && !m_connection->closed())
        m_connection->sendWithoutReply("Browser.close", Json::object(), {});
    m_connection.reset();
    m_process.kill(500);
    m_profile.reset(); // after the process: it writes there until it ends
}

void Engine::start() {
    const QString executable = findExecutable();
    if (executable.isEmpty())
        throw BrowserError(QStringLiteral(
            "No web browser engine was found (looked for chromium, chromium-browser and google-chrome on "
            "the PATH). Please install the chromium package."));
    TemporaryProfile::removeStale();
    m_profile = std::make_unique<TemporaryProfile>();

    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        throw BrowserError(QStringLiteral("Could not create the pipe to the browser engine: %1")
                               .arg(QString::fromLocal8Bit(std::strerror(errno))));
    UniqueFd ours(sockets[0]);
    UniqueFd theirs(sockets[1]);

    // Everything the child needs is prepared here: after fork only async-signal-safe calls.
    std::vector<QByteArray> argStore;
    argStore.push_back(QFileInfo(executable).fileName().toLocal8Bit());
    for (const QString& a : arguments(m_profile->path()))
        argStore.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    argv.reserve(argStore.size() + 1);
    for (QByteArray& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray path = executable.toLocal8Bit();
    const QByteArray logPath = QDir(m_profile->path()).filePath(QStringLiteral("engine.log")).toLocal8Bit();
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid < 0)
        throw BrowserError(QStringLiteral("Could not start the browser engine: %1")
                               .arg(QString::fromLocal8Bit(std::strerror(errno))));
    if (pid == 0) {
        ::setpgid(0, 0);
        // Dies with us, also when we are killed. The setting survives the exec of the wrapper
        // script and its exec of the real binary (neither is set-user-ID).
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        // Moved to free descriptors first: if the socket were already 3 or 4, dup2 onto itself
        // would keep its close-on-exec flag and the engine would find no pipe.
        int a = ::fcntl(theirs.get(), F_DUPFD, 10);
        int b = ::fcntl(theirs.get(), F_DUPFD, 10);
        if (a < 0 || b < 0 || ::dup2(a, 3) < 0 || ::dup2(b, 4) < 0) ::_exit(127);
        int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0) ::dup2(devnull, 0);
        int log = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(path.constData(), argv.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid); // also from here, so that the group exists whichever runs first
    m_process = ChildProcess(pid);
    theirs.reset();

    UniqueFd readEnd(::fcntl(ours.get(), F_DUPFD_CLOEXEC, 0));
    m_connection = std::make_unique<Connection>(std::move(readEnd), std::move(ours), answerAtOnce);
    try {
        m_connection->call("Browser.getVersion");
        m_connection->call("Browser.setDownloadBehavior", {{"behavior", "deny"}});
        // Tells of every page whose renderer dies (Target.targetCrashed), in whatever state it is.
        m_connection->call("Target.setDiscoverTargets", {{"discover", true}});
        m_profile->noteSocketFolder();
    } catch (const BrowserError& e) {
        QString detail;
        QFile log(QString::fromLocal8Bit(logPath));
        if (log.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> lines = log.readAll().trimmed().split('\n');
            if (!lines.isEmpty())
                detail = QStringLiteral(" The engine said: %1").arg(QString::fromLocal8Bit(lines.last()));
        }
        throw BrowserError(
            QStringLiteral("The browser engine %1 did not start: %2%3").arg(executable, e.text(), detail));
    }
}

void Engine::setFramesPaced(bool framesPaced) {
    paced = framesPaced;
}

bool Engine::alive() {
    return m_connection && !m_connection->closed() && m_process.running();
}

Engine& Engine::shared() {
    std::unique_ptr<Engine>& engine = sharedEngine();
    if (engine && !engine->alive()) engine.reset();
    if (!engine) {
        if (!cleanupRegistered) {
            cleanupRegistered = true;
            if (QCoreApplication::instance()) qAddPostRoutine(shutdownAtExit);
            std::atexit(shutdownAtExit);
        }
        engine.reset(new Engine(++engineStarts));
    }
    return *engine;
}

Engine* Engine::current() {
    return sharedEngine().get();
}

void Engine::shutdown() {
    sharedEngine().reset();
}

} // namespace browser
