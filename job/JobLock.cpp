#include "job/JobLock.h"

#include "job/JobFiles.h"
#include "job/NativePath.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include "job/FileLock.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zelmod {

JobLock::JobLock(QString directory)
    : directory_(std::move(directory)), path_(workPath(directory_, WorkFile::lock)) {}

JobLock::~JobLock() {
    unlock();
}

JobFailure JobLock::busy() const {
    return {JobMessageId::JobBusy, {shownPath(directory_)}};
}

#ifdef Q_OS_WIN

// Opened without sharing, the file cannot be opened a second time while a
// job holds it, and the system deletes it when the handle closes.
std::optional<JobFailure> JobLock::tryLock() {
    if (handle_)
        return std::nullopt;
    const std::wstring path = path_.toStdWString();
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION)
            return busy();
        return fileFailure(JobMessageId::ToolDirUnwritable, directory_,
                           qt_error_string(int(error)));
    }
    handle_ = handle;
    return std::nullopt;
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
std::optional<JobFailure> JobLock::tryLock() {
    if (fd_ >= 0)
        return std::nullopt;
    const QByteArray path = nativePath(path_);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = openLocked(path.constData());
        const int error = errno;
        if (fd < 0 && error == EWOULDBLOCK)
            return busy();
        if (fd < 0)
            return fileFailure(JobMessageId::ToolDirUnwritable, directory_, systemErrorText(error));
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) == 0 && ::stat(path.constData(), &named) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
            fd_ = fd;
            return std::nullopt;
        }
        ::close(fd);
    }
    return busy();
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
