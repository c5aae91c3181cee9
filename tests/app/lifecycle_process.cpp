#include "tests/app/lifecycle_process.h"

#include "tests/support/qt_test_kit.h"
#include "tests/support/test_processes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace {

const QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
const QFile::Permissions AnyoneMayEnter =
    OwnerOnly | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;

QString runtimeDir(const QTemporaryDir& root) {
    return root.filePath(QStringLiteral("runtime"));
}

bool giveAway(const QString& path) {
    using zelmod::testing::Nobody;
    return ::chown(QFile::encodeName(path).constData(), Nobody, Nobody) == 0;
}

} // namespace

ToolCopy::ToolCopy(const QStringList& programs) {
    QDir(root.path()).mkdir(QStringLiteral("tool"));
    QDir(root.path()).mkdir(QStringLiteral("runtime"));
    QFile::setPermissions(root.path(), AnyoneMayEnter);
    QFile::setPermissions(toolDir(), AnyoneMayEnter);
    QFile::setPermissions(runtimeDir(root), OwnerOnly);
    for (const QString& program : programs)
        QFile::copy(program, QDir(toolDir()).filePath(QFileInfo(program).fileName()));
}

QString ToolCopy::toolDir() const {
    return root.filePath(QStringLiteral("tool"));
}

QString ToolCopy::setupPath() const {
    return QDir(toolDir()).filePath(QStringLiteral("Zelmod.dat"));
}

bool ToolCopy::handToUnprivilegedUser(bool toolDirToo) {
    return giveAway(runtimeDir(root)) && (!toolDirToo || giveAway(toolDir()));
}

void EndProcess::operator()(QProcess* process) const {
    process->kill();
    process->waitForFinished();
    delete process;
}

Process ToolCopy::start(const QString& program, bool unprivileged) const {
    Process process(new QProcess);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir(root));
    environment.insert(QStringLiteral("HOME"), runtimeDir(root));
    environment.insert(QStringLiteral("ZELMOD_TEST_ANSWER_MESSAGES"), QStringLiteral("1"));
    process->setProcessEnvironment(environment);
    const QString path = QDir(toolDir()).filePath(program);
    const QStringList command =
        unprivileged ? zelmod::testing::asNobody({path}) : QStringList{path};
    process->start(command.first(), command.mid(1));
    process->waitForStarted();
    return process;
}

QString builtProgram() {
    return QDir(qEnvironmentVariable("ZELMOD_TOOL_DIR")).filePath(QStringLiteral("Zelmod"));
}

QStringList stderrLines(QProcess& process, const QString& prefix) {
    QStringList lines;
    const QStringList all = QString::fromUtf8(process.readAllStandardError()).split('\n');
    for (const QString& line : all) {
        if (line.startsWith(prefix))
            lines << line;
    }
    return lines;
}
