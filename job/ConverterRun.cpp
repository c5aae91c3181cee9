#include "ConverterRun.h"

#include "NativePath.h"
#include "ScriptProcess.h"

#include <QEventLoop>
#include <QFile>

#ifndef Q_OS_WIN
#include <cerrno>
#include <unistd.h>
#endif

namespace zelmod {

ConverterRun::ConverterRun(ToolFolders folders, QObject* parent)
    : QObject(parent), folders_(std::move(folders)) {}

ConverterRunResult::Outcome ConverterRun::writeScript(const QString& path,
                                                      const ConverterCommand& command,
                                                      QString& errorText) {
    const std::optional<QByteArray> bytes = scriptBytes(folders_, command);
    if (!bytes)
        return ConverterRunResult::Outcome::DirUnencodable;
    QFile script;
    if (!openNative(script, path, QIODevice::WriteOnly | QIODevice::Unbuffered, errorText))
        return ConverterRunResult::Outcome::ScriptUnwritable;
    if (!writeAll(script, bytes->constData(), bytes->size())) {
        errorText = script.errorString();
        return ConverterRunResult::Outcome::ScriptUnwritable;
    }
    script.close();
    return ConverterRunResult::Outcome::Finished;
}

ConverterRunResult ConverterRun::run(const ConverterCommand& command) {
    ConverterRunResult result;
    cancelled_ = false;
    const QString scriptPath = folders_.workDir + QLatin1Char('/') + command.scriptName;
    result.outcome = writeScript(scriptPath, command, result.errorText);
    if (result.outcome != ConverterRunResult::Outcome::Finished)
        return result;
#ifndef Q_OS_WIN
    // A missing converter would only show as the shell's exit code 127.
    const QString converter = folders_.programDir + QLatin1Char('/') + command.converterName;
    if (::access(nativePath(converter).constData(), X_OK) != 0) {
        result.outcome = ConverterRunResult::Outcome::NotStarted;
        result.errorText = systemErrorText(errno);
        return result;
    }
#endif

    ScriptProcess process;
    QEventLoop loop;
    connect(&process, &ScriptProcess::finished, &loop, &QEventLoop::quit);
    if (!process.start(folders_.workDir, command.scriptName, result.errorText)) {
        result.outcome = ConverterRunResult::Outcome::NotStarted;
        return result;
    }

    // Waiting in an event loop rather than polling leaves the processor
    // free while the window still repaints and answers.
    process_ = &process;
    loop.exec();
    process_ = nullptr;
    if (process.isRunning()) {
        // The program is quitting and ended every event loop.
        cancelled_ = true;
        process.killTree();
    }

    result.converterText = QString::fromLocal8Bit(process.errorOutput()).trimmed();
    result.exitCode = process.exitCode();
    if (cancelled_)
        result.outcome = ConverterRunResult::Outcome::Cancelled;
    else if (process.crashed())
        result.outcome = ConverterRunResult::Outcome::Crashed;
    else
        result.outcome = ConverterRunResult::Outcome::Finished;
    return result;
}

void ConverterRun::cancel() {
    if (!process_)
        return;
    cancelled_ = true;
    process_->killTree();
}

} // namespace zelmod
