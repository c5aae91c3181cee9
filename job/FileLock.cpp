#include "job/FileLock.h"

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zelmod {
namespace {

constexpr int lockFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Closes fd and says why, keeping errno for the caller.
int failed(int fd, int error) {
    ::close(fd);
    errno = error;
    return -1;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The file still under the name once locked: another holder may have
// removed it in between, after finding it left over.
bool isNamedBy(int fd, const char* path) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path, &named) == 0 && sameFile(opened, named);
}

// Removes the file at path that a holder left when it ended; an unlocked
// file that is not this user's, or not a plain file, stays where it is.
int removeLeftOver(const char* path) {
    const int fd = ::open(path, lockFlags);
    if (fd < 0)
        return errno == ENOENT ? 0 : -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return failed(fd, errno);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
        status.st_nlink != 1)
        return failed(fd, EEXIST);
    if (isNamedBy(fd, path) && ::unlink(path) != 0)
        return failed(fd, errno);
    ::close(fd);
    return 0;
}

} // namespace

int openLocked(const char* path) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(path, lockFlags | O_CREAT | O_EXCL, 0600);
        if (fd < 0) {
            if (errno != EEXIST || removeLeftOver(path) != 0)
                return -1;
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
            return failed(fd, errno);
        if (isNamedBy(fd, path))
            return fd;
        ::close(fd);
    }
    errno = EWOULDBLOCK;
    return -1;
}

} // namespace zelmod
#endif
