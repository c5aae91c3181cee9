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

namespace {

// The lock file a job of this user made: one a link or another user put in
// its place is never taken for it.
bool isOwnLockFile(const struct stat& status) {
    return S_ISREG(status.st_mode) && status.st_uid == ::geteuid() && status.st_nlink == 1;
}

} // namespace

JobFailure JobLock::notOurs() const {
    return {JobMessageId::WorkFileNotPrivate, {shownPath(path_)}};
}

// Why the lock file cannot be opened, seen by its name. Another user's
// running job keeps its lock closed to this user.
JobFailure JobLock::refusal(int error) const {
    struct stat named {};
    if (error == EWOULDBLOCK)
        return busy();
    if (::lstat(nativePath(path_).constData(), &named) == 0) {
        if (S_ISREG(named.st_mode) && named.st_uid != ::geteuid() && error == EACCES)
            return busy();
        if (!isOwnLockFile(named))
            return notOurs();
    }
    return fileFailure(JobMessageId::ToolDirUnwritable, directory_, systemErrorText(error));
}

// The file is removed while the lock is still held. A job that opened the
// old file before that finds, once it has the lock, that its file is no
// longer the one under the name, and tries again.
std::optional<JobFailure> JobLock::tryLock() {
    if (fd_ >= 0)
        return std::nullopt;
    const QByteArray path = nativePath(path_);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = openLocked(path.constData());
        if (fd < 0)
            return refusal(errno);
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) == 0 && ::lstat(path.constData(), &named) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
            if (!isOwnLockFile(opened)) {
                ::close(fd);
                return notOurs();
            }
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
