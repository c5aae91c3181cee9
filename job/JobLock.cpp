#include "JobLock.h"

#include "NativePath.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zelmod {

JobLock::JobLock(QString directory)
    : path_(directory + QLatin1Char('/') + QLatin1String(fileName)) {}

JobLock::~JobLock() {
    unlock();
}

#ifdef Q_OS_WIN

// Opened without sharing, the file cannot be opened a second time while a
// job holds it, and the system deletes it when the handle closes.
JobLock::Status JobLock::tryLock() {
    if (handle_)
        return Status::Held;
    const std::wstring path = path_.toStdWString();
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION)
            return Status::Busy;
        errorText_ = qt_error_string(int(error));
        return Status::Failed;
    }
    handle_ = handle;
    return Status::Held;
}

void JobLock::unlock() {
    if (handle_)
        CloseHandle(handle_);
    handle_ = nullptr;
}

#else

// The file is removed while the lock is still held. A job that opened the
// old file before that finds, once it has the lock, that its file is no
// longer the one under the name, and tries again.
JobLock::Status JobLock::tryLock() {
    if (fd_ >= 0)
        return Status::Held;
    const QByteArray path = nativePath(path_);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            errorText_ = QString::fromLocal8Bit(std::strerror(errno));
            return Status::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            if (error == EWOULDBLOCK)
                return Status::Busy;
            errorText_ = QString::fromLocal8Bit(std::strerror(error));
            return Status::Failed;
        }
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) == 0 && ::stat(path.constData(), &named) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
            fd_ = fd;
            return Status::Held;
        }
        ::close(fd);
    }
    return Status::Busy;
}

void JobLock::unlock() {
    if (fd_ < 0)
        return;
    ::unlink(nativePath(path_).constData());
    ::close(fd_);
    fd_ = -1;
}

#endif

} // namespace zelmod
