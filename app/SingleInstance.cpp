#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QtDebug>

#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#include <windows.h>
#else
#include "job/FileLock.h"

#include <QFileSystemWatcher>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

void reportFailure(const QString& where, const QString& reason) {
    qWarning().noquote()
        << QStringLiteral("Zelmod: cannot test for a running instance (%1): %2").arg(where, reason);
}

} // namespace

SingleInstance::SingleInstance(const QString& name) : name(name) {}

#ifdef Q_OS_WIN

SingleInstance::~SingleInstance() {
    delete callNotifier; // stops waiting before the event goes
    if (callEvent)
        CloseHandle(callEvent);
    if (mutex)
        CloseHandle(mutex);
}

QString SingleInstance::callEventName() const {
    return QStringLiteral("Local\\") + name + QStringLiteral(".call");
}

void SingleInstance::listenForCalls() {
    if (!mutex || callEvent)
        return;
    const QString eventName = callEventName();
    callEvent = CreateEventW(nullptr, FALSE, FALSE, reinterpret_cast<LPCWSTR>(eventName.utf16()));
    if (!callEvent)
        return;
    callNotifier = new QWinEventNotifier(callEvent, this);
    connect(callNotifier, &QWinEventNotifier::activated, this, &SingleInstance::calledByAnother);
}

void SingleInstance::callRunningInstance() {
    const QString eventName = callEventName();
    HANDLE event =
        OpenEventW(EVENT_MODIFY_STATE, FALSE, reinterpret_cast<LPCWSTR>(eventName.utf16()));
    if (!event)
        return;
    // The caller has the foreground; it lets the running instance take it.
    AllowSetForegroundWindow(ASFW_ANY);
    SetEvent(event);
    CloseHandle(event);
}

bool SingleInstance::anotherIsRunning() {
    if (mutex)
        return false;
    const QString mutexName = QStringLiteral("Local\\") + name;
    HANDLE handle = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(mutexName.utf16()));
    const DWORD error = GetLastError();
    if (!handle) {
        reportFailure(mutexName, qt_error_string(int(error)));
        return false;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(handle);
        return true;
    }
    mutex = handle;
    return false;
}

#else

SingleInstance::~SingleInstance() {
    if (lockFile >= 0)
        ::close(lockFile);
}

// The lock file in the user's runtime directory; empty when there is none.
QString SingleInstance::lockFilePath() const {
    const QString runtimeDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtimeDir.isEmpty() ? QString()
                                : QDir(runtimeDir).filePath(name + QStringLiteral(".lock"));
}

bool SingleInstance::anotherIsRunning() {
    if (lockFile >= 0)
        return false;
    const QString path = lockFilePath();
    if (path.isEmpty()) {
        reportFailure(QStringLiteral("no runtime directory"), QStringLiteral("none available"));
        return false;
    }
    const int fd = zelmod::openLocked(QFile::encodeName(path).constData());
    if (fd >= 0) {
        lockFile = fd;
        return false;
    }
    const int error = errno;
    if (error == EWOULDBLOCK)
        return true;
    reportFailure(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(error)));
    return false;
}

// A call is a change of the lock file's times, which inotify reports.
void SingleInstance::listenForCalls() {
    if (lockFile < 0)
        return;
    auto* watcher = new QFileSystemWatcher({lockFilePath()}, this);
    connect(watcher, &QFileSystemWatcher::fileChanged, this, &SingleInstance::calledByAnother);
}

void SingleInstance::callRunningInstance() {
    const QString path = lockFilePath();
    if (!path.isEmpty())
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), nullptr, AT_SYMLINK_NOFOLLOW);
}

#endif
