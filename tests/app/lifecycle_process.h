// Starting the window program as separate processes, from a copy of the
// tool's directory in a temporary tree that any user may enter.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

// A started process that is killed, if it still runs, when it goes.
struct EndProcess {
    void operator()(QProcess* process) const;
};
using Process = std::unique_ptr<QProcess, EndProcess>;

class ToolCopy {
  public:
    // Copies the given programs into a fresh tool directory; each copy has its
    // own runtime directory, so its single-instance lock is its own too.
    explicit ToolCopy(const QStringList& programs);

    QString toolDir() const;
    QString setupPath() const;

    // Hands the tool directory (when toolDirToo) and the runtime directory
    // to the unprivileged user the tests switch to.
    bool handToUnprivilegedUser(bool toolDirToo);

    // Starts a copied program; as the unprivileged user when asked. Message
    // boxes are answered at once and reported on standard error.
    Process start(const QString& program, bool unprivileged = false) const;

  private:
    QTemporaryDir root;
};

// The Zelmod executable that the build put in the tool's directory.
QString builtProgram();

// The lines of a finished process's standard error that start with prefix.
QStringList stderrLines(QProcess& process, const QString& prefix);

// The refusal as the test hook reports it.
inline const QString RefusalLine = QStringLiteral(
    "message box: Warning | Zelmod | すでに「Zelmod」は起動されています、２重起動はできません");
