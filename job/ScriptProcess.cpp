#include "ScriptProcess.h"

#include "NativePath.h"

#ifdef Q_OS_WIN
#include <QProcess>
#include <qt_windows.h>
#else
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace zelmod {

#ifdef Q_OS_WIN

namespace {

void hideWindow(QProcess& process) {
    process.setCreateProcessArgumentsModifier(
        [](QProcess::CreateProcessArguments* arguments) { arguments->flags |= CREATE_NO_WINDOW; });
}

} // namespace

ScriptProcess::ScriptProcess(QObject* parent) : QObject(parent), process_(new QProcess(this)) {
    connect(process_, &QProcess::finished, this, &ScriptProcess::finished);
}

ScriptProcess::~ScriptProcess() {
    killTree();
}

bool ScriptProcess::start(const QString& workDir, const QString& scriptName, QString& errorText) {
    process_->setStandardInputFile(QProcess::nullDevice());
    process_->setStandardOutputFile(QProcess::nullDevice());
    process_->setWorkingDirectory(workDir);
    hideWindow(*process_);
    const QString interpreter = qEnvironmentVariable("ComSpec", QStringLiteral("cmd.exe"));
    // A relative path keeps the directory's characters away from cmd's own parsing.
    process_->start(interpreter, {QStringLiteral("/d"), QStringLiteral("/c"),
                                  QStringLiteral(".\\") + scriptName});
    if (process_->waitForStarted(-1))
        return true;
    errorText = process_->errorString();
    return false;
}

bool ScriptProcess::isRunning() const {
    return process_->state() != QProcess::NotRunning;
}

void ScriptProcess::killTree() {
    if (!isRunning())
        return;
    QProcess taskkill;
    hideWindow(taskkill);
    taskkill.start(QStringLiteral("taskkill"),
                   {QStringLiteral("/F"), QStringLiteral("/T"), QStringLiteral("/PID"),
                    QString::number(process_->processId())});
    taskkill.waitForFinished();
    process_->kill();
    process_->waitForFinished();
}

bool ScriptProcess::crashed() const {
    return process_->exitStatus() == QProcess::CrashExit;
}

int ScriptProcess::exitCode() const {
    return process_->exitCode();
}

QByteArray ScriptProcess::errorOutput() {
    return process_->readAllStandardError();
}

#else

namespace {

// The child shares the program's memory until the interpreter replaces it,
// so it is not copied at all: copying a Qt program's memory map cost
// milliseconds a start. Everything it needs is prepared beforehand.
struct ChildSetUp {
    const char* workDir;
    char* const* arguments;
    int nullFd;
    int errorFd;
    pid_t program;
    sigset_t programMask; // restored for the interpreter
    int execError;        // set by the child when the interpreter could not be started
};

constexpr std::size_t childStackSize = 64 * 1024;
// Enough of a converter's error output for its message.
constexpr qsizetype errorOutputLimit = 64 * 1024;

// Runs in the child on a stack of its own: the working folder entered by its
// own bytes, a process group of its own, so that killTree() reaches the
// converter, and on Linux an end together with the program (the script
// replaces the interpreter with the converter), so that a converter of a
// killed job never writes into the next job's files.
int runInterpreter(void* setUpAddress) {
    auto& setUp = *static_cast<ChildSetUp*>(setUpAddress);
    // A handler of the program would run here, on the program's memory.
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_IGN &&
            action.sa_handler != SIG_DFL) {
            action = {};
            action.sa_handler = SIG_DFL;
            ::sigaction(signal, &action, nullptr);
        }
    }
    if (::dup2(setUp.nullFd, STDIN_FILENO) < 0 || ::dup2(setUp.nullFd, STDOUT_FILENO) < 0 ||
        ::dup2(setUp.errorFd, STDERR_FILENO) < 0 || ::chdir(setUp.workDir) != 0)
        ::_exit(126);
    ::setpgid(0, 0);
#ifdef Q_OS_LINUX
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != setUp.program) // the program ended before the request took hold
        ::_exit(126);
#endif
    ::sigprocmask(SIG_SETMASK, &setUp.programMask, nullptr);
    ::execve(setUp.arguments[0], setUp.arguments, environ);
    setUp.execError = errno;
    ::_exit(127);
}

// The descriptor moved above the standard ones, so that setting up the
// child's standard descriptors never overwrites it; -1 stays -1.
int aboveStandard(int fd) {
    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

void closeIfOpen(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

ScriptProcess::ScriptProcess(QObject* parent) : QObject(parent) {}

ScriptProcess::~ScriptProcess() {
    killTree();
    closeIfOpen(errorFd_);
}

bool ScriptProcess::start(const QString& workDir, const QString& scriptName, QString& errorText) {
    const QByteArray dir = nativePath(workDir);
    QByteArray interpreter("/bin/sh");
    QByteArray script = nativePath(scriptName);
    char* const arguments[] = {interpreter.data(), script.data(), nullptr};
    int errorPipe[2] = {-1, -1};
    ChildSetUp setUp{dir.constData(), arguments, -1, -1, ::getpid(), {}, 0};
    setUp.nullFd = aboveStandard(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (setUp.nullFd < 0 || ::pipe2(errorPipe, O_CLOEXEC) != 0) {
        errorText = systemErrorText(errno);
        closeIfOpen(setUp.nullFd);
        return false;
    }
    errorFd_ = aboveStandard(errorPipe[0]);
    setUp.errorFd = aboveStandard(errorPipe[1]);

    const auto stack = std::make_unique_for_overwrite<char[]>(childStackSize);
    sigset_t all;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &setUp.programMask);
    // The program goes on once the child has replaced itself or ended.
    pid_ = ::clone(runInterpreter, stack.get() + childStackSize,
                   CLONE_VM | CLONE_VFORK | CLONE_PIDFD | SIGCHLD, &setUp, &pidFd_);
    const int cloneError = errno;
    ::pthread_sigmask(SIG_SETMASK, &setUp.programMask, nullptr);
    closeIfOpen(setUp.nullFd);
    closeIfOpen(setUp.errorFd);
    if (pid_ < 0 || setUp.execError != 0) {
        errorText = systemErrorText(pid_ < 0 ? cloneError : setUp.execError);
        reap();
        closeIfOpen(errorFd_);
        return false;
    }
    ::fcntl(errorFd_, F_SETFL, O_NONBLOCK);
    errorNotifier_ = new QSocketNotifier(errorFd_, QSocketNotifier::Read, this);
    connect(errorNotifier_, &QSocketNotifier::activated, this, &ScriptProcess::readErrorOutput);
    // The process descriptor becomes readable when the process ends.
    exitNotifier_ = new QSocketNotifier(pidFd_, QSocketNotifier::Read, this);
    connect(exitNotifier_, &QSocketNotifier::activated, this, [this] {
        reap();
        emit finished();
    });
    return true;
}

bool ScriptProcess::isRunning() const {
    return pid_ > 0;
}

void ScriptProcess::killTree() {
    if (!isRunning())
        return;
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    reap();
    emit finished();
}

// Waits for the ended (or killed) process and keeps what it left.
void ScriptProcess::reap() {
    delete exitNotifier_;
    exitNotifier_ = nullptr;
    if (pid_ > 0) {
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
    closeIfOpen(pidFd_);
    readErrorOutput();
}

void ScriptProcess::readErrorOutput() {
    char piece[4096];
    qint64 count = 0;
    while (errorFd_ >= 0 && (count = ::read(errorFd_, piece, sizeof piece)) != 0) {
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) // nothing more for now
            return;
        errorOutput_.append(piece,
                            std::min<qsizetype>(count, errorOutputLimit - errorOutput_.size()));
    }
    // The end of the output: a converter's own child may keep it open longer.
    delete errorNotifier_;
    errorNotifier_ = nullptr;
    closeIfOpen(errorFd_);
}

bool ScriptProcess::crashed() const {
    return WIFSIGNALED(status_);
}

int ScriptProcess::exitCode() const {
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : WTERMSIG(status_);
}

QByteArray ScriptProcess::errorOutput() {
    return errorOutput_;
}

#endif

} // namespace zelmod
