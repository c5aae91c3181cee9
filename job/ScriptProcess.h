// The command interpreter running one converter script in the working
// folder, without a window, in a process group of its own, watched by the
// event loop.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#ifdef Q_OS_WIN
class QProcess;
#else
class QSocketNotifier;
#endif

namespace zelmod {

class ScriptProcess : public QObject {
    Q_OBJECT
  public:
    explicit ScriptProcess(QObject* parent = nullptr);
    // A process still running is killed with everything it started.
    ~ScriptProcess() override;

    // Starts the interpreter on the script scriptName of the folder workDir.
    // False, with the reason in errorText, when it could not be started.
    bool start(const QString& workDir, const QString& scriptName, QString& errorText);
    bool isRunning() const;
    // Kills the interpreter and everything it started, and waits for its end.
    void killTree();

    // Once it has ended: whether a signal or the system ended it, its exit
    // code, and what it wrote to its error output.
    bool crashed() const;
    int exitCode() const;
    QByteArray errorOutput();

  signals:
    void finished();

  private:
#ifdef Q_OS_WIN
    QProcess* process_;
#else
    void readErrorOutput();
    void reap();

    int pid_ = -1;
    int pidFd_ = -1;
    int errorFd_ = -1;
    int status_ = 0;
    QSocketNotifier* exitNotifier_ = nullptr;
    QSocketNotifier* errorNotifier_ = nullptr;
    QByteArray errorOutput_;
#endif
};

} // namespace zelmod
