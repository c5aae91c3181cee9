#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QtDebug>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include "job/FileLock.h"

#include <cerrno>
#include <cstring>
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

#endif
