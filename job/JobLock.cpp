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

// Made afresh and opened without sharing, the file cannot be opened a
// second time while a job holds it, and the system deletes it when the
// handle closes. One left by a job that never closed it (the machine went
// down) is removed first; one that is held cannot be.
std::optional<JobFailure> JobLock::tryLock() {
    if (handle_)
        return std::nullopt;
    const std::wstring path = path_.toStdWString();
    for (int attempt = 0; attempt < 2; ++attempt) {
        const HANDLE handle =
            CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            handle_ = handle;
            return std::nullopt;
        }
        DWORD error = GetLastError();
        const bool found = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        if (found && DeleteFileW(path.c_str()))
            continue;
        if (found)
            error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION)
            return busy();
        return fileFailure(JobMessageId::ToolDirUnwritable, directory_,
                           qt_error_string(int(error)));
    }
    return busy();
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
            return {JobMessageId::WorkFileNotPrivate, {shownPath(path_)}};
    }
    return fileFailure(JobMessageId::ToolDirUnwritable, directory_, systemErrorText(error));
}

// The file is removed while the lock is still held, so that the next job
// makes its own afresh.
std::optional<JobFailure> JobLock::tryLock() {
    if (fd_ >= 0)
        return std::nullopt;
    fd_ = openLocked(nativePath(path_).constData());
    if (fd_ < 0)
        return refusal(errno);
    return std::nullopt;
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
