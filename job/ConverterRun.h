// Runs one converter through its script in the working folder and waits
// for it while the program keeps handling its events.
#pragma once

#include "BatchScript.h"

#include <QObject>
#include <QString>

class QProcess;

namespace zelmod {

struct ConverterRunResult {
    enum class Outcome {
        Finished,         // the script ran to its end; see exitCode
        DirUnencodable,   // the console's code page cannot hold a folder
        ScriptUnwritable, // the script could not be written (see errorText)
        NotStarted,       // the interpreter could not be started (see errorText)
        Crashed,          // the script ended abnormally, killed by a signal or the system
        Cancelled,        // stopped by cancel(), or the program is quitting
    };
    Outcome outcome = Outcome::NotStarted;
    int exitCode = 0;
    QString errorText;     // why the script could not be written or started
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
    ConverterRunResult::Outcome writeScript(const QString& path, const ConverterCommand& command,
                                            QString& errorText);
    void startScript(QProcess& process, const QString& scriptPath);
    void killTree(QProcess& process);

    ToolFolders folders_;
    QProcess* process_ = nullptr;
    bool cancelled_ = false;
};

} // namespace zelmod
