#include "job/ConverterRun.h"

#include "job/JobFiles.h"
#include "job/NativePath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <cerrno>
#include <csignal>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace zelmod {
namespace {

#ifdef Q_OS_WIN
void hideWindow(QProcess& process) {
    process.setCreateProcessArgumentsModifier(
        [](QProcess::CreateProcessArguments* arguments) { arguments->flags |= CREATE_NO_WINDOW; });
}
#else
// Runs in the started interpreter before the script: the working folder
// entered by its own bytes, the open script as its standard input, read
// from the start (no /dev/fd or /proc is needed), a process group of its own, so that cancel()
// reaches the converter, and on Linux an end together with the program (the script replaces the
// interpreter with the converter), so that a converter of a killed job never
// writes into the next job's files.
void enterAndLeadOwnGroup(const QByteArray& workDir, int script) {
    if (::chdir(workDir.constData()) != 0 || ::dup2(script, STDIN_FILENO) != STDIN_FILENO ||
        ::lseek(STDIN_FILENO, 0, SEEK_SET) != 0)
        ::_exit(126);
    ::setpgid(0, 0);
#ifdef Q_OS_LINUX
    const pid_t program = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != program) // the program ended before the request took hold
        ::_exit(126);
#endif
}
#endif

ConverterRunResult failedRun(std::optional<JobFailure> failure) {
    ConverterRunResult result;
    result.failure = std::move(failure);
    return result;
}

} // namespace

ConverterRun::ConverterRun(ToolFolders folders, QObject* parent)
    : ConverterRunner(parent), folders_(std::move(folders)) {}

// Only when the program quits during a run: the converter must not outlive
// the job, nor write into the next job's files.
ConverterRun::~ConverterRun() {
    if (!process_)
        return;
    process_->disconnect(this);
    killTree();
    process_->waitForFinished();
}

// The script is made afresh and checked once written: a file that someone
// else could change or read before it runs is never started.
std::optional<JobFailure> ConverterRun::writeScript(const QString& path,
                                                    const ConverterCommand& command) {
    const std::optional<QByteArray> bytes = scriptBytes(folders_, command);
    if (!bytes)
        return JobFailure{JobMessageId::ToolDirUnencodable, {shownPath(folders_.workDir)}};
    script_.close();
    // Read back by the interpreter through the same open file.
    const QIODevice::OpenMode mode = QIODevice::ReadWrite | QIODevice::Unbuffered;
    if (auto failure = openNative(script_, path, mode, JobMessageId::ScriptUnwritable))
        return failure;
    if (!writeAll(script_, bytes->constData(), bytes->size()))
        return fileFailure(JobMessageId::ScriptUnwritable, path, script_.errorString());
    if (!isPrivateFile(script_))
        return JobFailure{JobMessageId::WorkFileNotPrivate, {shownPath(path)}};
    return std::nullopt;
}

// The interpreter runs the script from the working folder. On POSIX it
// reads the open script as its standard input, never by its name, and
// leads a process group of its own, so that cancel() reaches the converter.
void ConverterRun::startScript([[maybe_unused]] const QString& scriptPath) {
    process_ = new QProcess(this);
    connect(process_, &QProcess::errorOccurred, this, &ConverterRun::processFailed);
    connect(process_, &QProcess::finished, this, &ConverterRun::processEnded);
    // On POSIX the child then takes the script as its input instead.
    process_->setStandardInputFile(QProcess::nullDevice());
    process_->setStandardOutputFile(QProcess::nullDevice());
#ifdef Q_OS_WIN
    process_->setWorkingDirectory(folders_.workDir);
    hideWindow(*process_);
    const QString interpreter = qEnvironmentVariable("ComSpec", QStringLiteral("cmd.exe"));
    // A relative path keeps the directory's characters away from cmd's own parsing.
    process_->start(interpreter, {QStringLiteral("/d"), QStringLiteral("/c"),
                                  QStringLiteral(".\\") + QFileInfo(scriptPath).fileName()});
#else
    // Qt would pass the directory's name in UTF-8, which may not be its bytes.
    const int script = script_.handle();
    process_->setChildProcessModifier([workDir = nativePath(folders_.workDir), script] {
        enterAndLeadOwnGroup(workDir, script);
    });
    process_->start(QStringLiteral("/bin/sh"), {QStringLiteral("-s")});
#endif
}

// The interpreter ends once its tree is gone; Windows ends the tree by a
// program of its own, which is not waited for.
void ConverterRun::killTree() {
#ifdef Q_OS_WIN
    auto* taskkill = new QProcess(this);
    hideWindow(*taskkill);
    connect(taskkill, &QProcess::finished, taskkill, &QObject::deleteLater);
    connect(taskkill, &QProcess::finished, process_, &QProcess::kill);
    taskkill->start(QStringLiteral("taskkill"),
                    {QStringLiteral("/F"), QStringLiteral("/T"), QStringLiteral("/PID"),
                     QString::number(process_->processId())});
#else
    ::kill(-pid_t(process_->processId()), SIGKILL);
    process_->kill();
#endif
}

void ConverterRun::start(const ConverterCommand& command) {
    cancelled_ = false;
    const QString scriptPath = workPath(folders_.workDir, command.scriptName);
    if (auto failure = writeScript(scriptPath, command))
        return finishLater(failedRun(failure));
    converter_ = workPath(folders_.programDir, command.converterName);
#ifndef Q_OS_WIN
    // A missing converter would only show as the shell's exit code 127.
    if (::access(nativePath(converter_).constData(), X_OK) != 0)
        return finishLater(failedRun(
            fileFailure(JobMessageId::ConverterNotStarted, converter_, systemErrorText(errno))));
#endif
    startScript(scriptPath);
}

// A crash is reported by finished, which follows it.
void ConverterRun::processFailed(QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart)
        endRun(failedRun(
            fileFailure(JobMessageId::ConverterNotStarted, converter_, process_->errorString())));
}

void ConverterRun::processEnded() {
    ConverterRunResult result;
    result.converterText = QString::fromLocal8Bit(process_->readAllStandardError()).trimmed();
    result.exitCode = process_->exitCode();
    result.cancelled = cancelled_;
    if (!cancelled_ && process_->exitStatus() == QProcess::CrashExit)
        result.failure =
            fileFailure(JobMessageId::ConverterCrashed, converter_, result.converterText);
    endRun(result);
}

void ConverterRun::endRun(const ConverterRunResult& result) {
    script_.close();
    process_->deleteLater();
    process_ = nullptr;
    emit finished(result);
}

void ConverterRun::finishLater(const ConverterRunResult& result) {
    script_.close();
    QMetaObject::invokeMethod(
        this, [this, result] { emit finished(result); }, Qt::QueuedConnection);
}

void ConverterRun::cancel() {
    if (!process_)
        return;
    cancelled_ = true;
    killTree();
}

} // namespace zelmod
