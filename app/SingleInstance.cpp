#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QtDebug>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
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
    if (mutex)
        CloseHandle(mutex);
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

bool SingleInstance::anotherIsRunning() {
    if (lockFile >= 0)
        return false;
    const QString runtimeDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtimeDir.isEmpty()) {
        reportFailure(QStringLiteral("no runtime directory"), QStringLiteral("none available"));
        return false;
    }
    const QString path = QDir(runtimeDir).filePath(name + QStringLiteral(".lock"));
    // Close-on-exec, so that programs started from the window do not keep the lock.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        reportFailure(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        lockFile = fd;
        return false;
    }
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK)
        return true;
    reportFailure(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(error)));
    return false;
}

#endif
