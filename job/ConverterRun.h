// Runs one converter program through its script in the working folder,
// while the program goes on handling its events.
#pragma once

#include "job/ConverterRunner.h"

#include <QFile>
#include <QProcess>

namespace zelmod {

class ConverterRun : public ConverterRunner {
    Q_OBJECT
  public:
    explicit ConverterRun(ToolFolders folders, QObject* parent = nullptr);
    // Ends a converter that still runs, together with everything it started.
    ~ConverterRun() override;

    // Writes the script into the working folder and starts it without a window.
    void start(const ConverterCommand& command) override;
    // Stops the running converter together with everything it started.
    void cancel() override;
    bool isRunning() const { return process_ != nullptr; }

  private:
    std::optional<JobFailure> writeScript(const QString& path, const ConverterCommand& command);
    void startScript(const QString& scriptPath);
    void processFailed(QProcess::ProcessError error);
    void processEnded();
    void endRun(const ConverterRunResult& result);
    void finishLater(const ConverterRunResult& result);
    void killTree();

    ToolFolders folders_;
    QString converter_; // the running converter's path, for its failures
    QProcess* process_ = nullptr;
    // The script stays open while it runs: on POSIX the interpreter reads
    // this very file, whatever is put under its name meanwhile; on Windows
    // no one else may change it or delete it meanwhile.
    QFile script_;
    bool cancelled_ = false;
};

} // namespace zelmod
