// Runs one converter through its script in the working folder and waits
// for it while the program keeps handling its events.
#pragma once

#include "job/BatchScript.h"
#include "job/JobMessages.h"

#include <QObject>
#include <QString>

class QProcess;

namespace zelmod {

// How a run ended. Without a failure and not cancelled, the script ran to
// its end and exitCode is the converter's.
struct ConverterRunResult {
    // The script could not be written (or not encoded for the console), the
    // converter not started, or it ended abnormally.
    std::optional<JobFailure> failure;
    bool cancelled = false; // stopped by cancel(), or the program is quitting
    int exitCode = 0;
    QString converterText; // what the converter wrote to its error output
};

class ConverterRun : public QObject {
    Q_OBJECT
  public:
    explicit ConverterRun(ToolFolders folders, QObject* parent = nullptr);

    // Writes the script into the working folder, starts it without a window
    // and returns once it has ended. Events are handled meanwhile.
    ConverterRunResult run(const ConverterCommand& command);

    // Stops a running converter together with everything it started.
    void cancel();
    bool isRunning() const { return process_ != nullptr; }

  private:
    std::optional<JobFailure> writeScript(const QString& path, const ConverterCommand& command);
    void startScript(QProcess& process, const QString& scriptPath);
    void killTree(QProcess& process);

    ToolFolders folders_;
    QProcess* process_ = nullptr;
    bool cancelled_ = false;
};

} // namespace zelmod
