#include "job/ConverterRun.h"

#include "job/JobFiles.h"
#include "job/NativePath.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

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
// entered by its own bytes, a process group of its own, so that cancel()
// reaches the converter, and on Linux an end together with the program (the
// script replaces the interpreter with the converter), so that a converter
// of a killed job never writes into the next job's files.
void enterAndLeadOwnGroup(const QByteArray& workDir) {
    if (::chdir(workDir.constData()) != 0)
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

} // namespace

ConverterRun::ConverterRun(ToolFolders folders, QObject* parent)
    : QObject(parent), folders_(std::move(folders)) {}

std::optional<JobFailure> ConverterRun::writeScript(const QString& path,
                                                    const ConverterCommand& command) {
    const std::optional<QByteArray> bytes = scriptBytes(folders_, command);
    if (!bytes)
        return JobFailure{JobMessageId::ToolDirUnencodable, {shownPath(folders_.workDir)}};
    QFile script;
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (auto failure = openNative(script, path, mode, JobMessageId::ScriptUnwritable))
        return failure;
    if (!writeAll(script, bytes->constData(), bytes->size()))
        return fileFailure(JobMessageId::ScriptUnwritable, path, script.errorString());
    script.close();
    return std::nullopt;
}

// The interpreter runs the script from the working folder. On POSIX it
// leads a process group of its own, so that cancel() reaches the converter.
void ConverterRun::startScript(QProcess& process, const QString& scriptPath) {
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
#ifdef Q_OS_WIN
    process.setWorkingDirectory(folders_.workDir);
    hideWindow(process);
    const QString interpreter = qEnvironmentVariable("ComSpec", QStringLiteral("cmd.exe"));
    // A relative path keeps the directory's characters away from cmd's own parsing.
    process.start(interpreter, {QStringLiteral("/d"), QStringLiteral("/c"),
                                QStringLiteral(".\\") + QFileInfo(scriptPath).fileName()});
#else
    // Qt would pass the directory's and the script's names in UTF-8, which
    // may not be their bytes.
    process.setChildProcessModifier(
        [workDir = nativePath(folders_.workDir)] { enterAndLeadOwnGroup(workDir); });
    process.start(QStringLiteral("/bin/sh"), {QFileInfo(scriptPath).fileName()});
#endif
}

void ConverterRun::killTree(QProcess& process) {
#ifdef Q_OS_WIN
    QProcess taskkill;
    hideWindow(taskkill);
    taskkill.start(QStringLiteral("taskkill"),
                   {QStringLiteral("/F"), QStringLiteral("/T"), QStringLiteral("/PID"),
                    QString::number(process.processId())});
    taskkill.waitForFinished();
#else
    ::kill(-pid_t(process.processId()), SIGKILL);
#endif
    process.kill();
    process.waitForFinished();
}

ConverterRunResult ConverterRun::run(const ConverterCommand& command) {
    ConverterRunResult result;
    cancelled_ = false;
    const QString scriptPath = workPath(folders_.workDir, command.scriptName);
    result.failure = writeScript(scriptPath, command);
    if (result.failure)
        return result;
    const QString converter = workPath(folders_.programDir, command.converterName);
#ifndef Q_OS_WIN
    // A missing converter would only show as the shell's exit code 127.
    if (::access(nativePath(converter).constData(), X_OK) != 0) {
        result.failure =
            fileFailure(JobMessageId::ConverterNotStarted, converter, systemErrorText(errno));
        return result;
    }
#endif

    QProcess process;
    QEventLoop loop;
    connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    startScript(process, scriptPath);
    if (!process.waitForStarted(-1)) {
        result.failure =
            fileFailure(JobMessageId::ConverterNotStarted, converter, process.errorString());
        return result;
    }

    // Waiting in an event loop rather than polling leaves the processor
    // free while the window still repaints and answers.
    process_ = &process;
    loop.exec();
    process_ = nullptr;
    if (process.state() != QProcess::NotRunning) {
        // The program is quitting and ended every event loop.
        cancelled_ = true;
        killTree(process);
    }

    result.converterText = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    result.exitCode = process.exitCode();
    result.cancelled = cancelled_;
    if (!cancelled_ && process.exitStatus() == QProcess::CrashExit)
        result.failure =
            fileFailure(JobMessageId::ConverterCrashed, converter, result.converterText);
    return result;
}

void ConverterRun::cancel() {
    if (!process_)
        return;
    cancelled_ = true;
    killTree(*process_);
}

} // namespace zelmod
