#include "files/Files.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <share.h>
#include <windows.h>
#else
#include <sys/file.h>
#endif

namespace zelmod::convert {
namespace {

bool seekFile(std::FILE* file, std::uint64_t offset) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::uint64_t fileSize(std::FILE* file) {
#ifdef _WIN32
    const bool ok = _fseeki64(file, 0, SEEK_END) == 0;
    const __int64 size = ok ? _ftelli64(file) : -1;
#else
    const bool ok = fseeko(file, 0, SEEK_END) == 0;
    const off_t size = ok ? ftello(file) : -1;
#endif
    if (size < 0 || !seekFile(file, 0))
        return 0;
    return static_cast<std::uint64_t>(size);
}

std::string systemMessage(int error) {
    return std::generic_category().message(error);
}

bool isStandardStream(const std::string& path) {
    return path == "-";
}

// The path of the temporary file being written, for the signal handler.
char pendingRemoval[4096];
volatile std::sig_atomic_t removalPending = 0;

void setPendingRemoval(const std::string& path) {
    removalPending = 0;
    if (path.size() >= sizeof pendingRemoval)
        return;
    std::memcpy(pendingRemoval, path.c_str(), path.size() + 1);
    removalPending = 1;
}

extern "C" void removePendingAndEnd(int signal) {
    if (removalPending)
        ::unlink(pendingRemoval);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The longest name the target's folder takes.
std::size_t nameLimit(const std::string& folder) {
#ifdef _WIN32
    (void)folder;
    return 255;
#else
    const long limit = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : 255;
#endif
}

// OUT.tmp, OUT.tmp1 ...: the target's name cut short enough that the
// suffix fits within the folder's name limit.
std::string temporaryCandidate(const std::string& target, std::size_t limit, int attempt) {
    const std::string folder = folderOf(target);
    const std::string name = target.substr(folder.size());
    const std::string suffix = ".tmp" + (attempt > 0 ? std::to_string(attempt) : std::string());
    return folder + name.substr(0, std::min(name.size(), limit - suffix.size())) + suffix;
}

constexpr int TemporaryTaken = -2;

// Opens candidate, emptied, for this converter alone: TemporaryTaken when
// another writer has it or something else is there, -1 with errno set when
// it cannot be made.
int takeTemporary(const std::string& candidate) {
#ifdef _WIN32
    // A file opened without sharing is this program's while it is open.
    int fd = -1;
    if (_sopen_s(&fd, candidate.c_str(), _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT, _SH_DENYRW,
                 _S_IREAD | _S_IWRITE) != 0)
        return errno == EACCES ? TemporaryTaken : -1;
    if (_chsize_s(fd, 0) != 0) {
        ::close(fd);
        return TemporaryTaken;
    }
    return fd;
#else
    const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        const int error = errno;
        struct stat existing {};
        if (::lstat(candidate.c_str(), &existing) == 0)
            return TemporaryTaken;
        errno = error;
        return -1;
    }
    // Locked: another converter writes there. Renamed away: taken meanwhile.
    // Only a stale file is emptied: on ext4, truncating even an empty file
    // makes its close wait for the whole new content to be allocated on disk.
    struct stat opened {};
    struct stat named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &opened) != 0 ||
        ::lstat(candidate.c_str(), &named) != 0 || opened.st_dev != named.st_dev ||
        opened.st_ino != named.st_ino || (opened.st_size != 0 && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return TemporaryTaken;
    }
    return fd;
#endif
}

// Copies an unseekable input whole to an unnamed temporary file.
std::FILE* spooled(std::FILE* input, const std::string& path) {
    std::FILE* copy = std::tmpfile();
    if (!copy)
        throw ConversionError(path + ": cannot make a temporary copy: " + systemMessage(errno));
    std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(FileBufferSize);
    std::size_t count = 0;
    while ((count = std::fread(buffer.get(), 1, FileBufferSize, input)) > 0) {
        if (std::fwrite(buffer.get(), 1, count, copy) != count) {
            std::fclose(copy);
            throw ConversionError(path + ": cannot make a temporary copy: " + systemMessage(errno));
        }
    }
    const bool failed = std::ferror(input) != 0;
    const int error = errno;
    if (input != stdin)
        std::fclose(input);
    if (failed || std::fflush(copy) != 0 || !seekFile(copy, 0)) {
        std::fclose(copy);
        throw ConversionError(path + ": cannot read: " + systemMessage(error));
    }
    return copy;
}

} // namespace

void reportWritesBeyondSizeLimit() {
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void removeTemporaryFileWhenInterrupted() {
#ifdef SIGHUP
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
#else
    for (const int signal : {SIGINT, SIGTERM})
#endif
        std::signal(signal, removePendingAndEnd);
}

std::FILE* openForReading(const std::string& path) {
    if (isStandardStream(path))
        return stdin;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        throw ConversionError(path + ": cannot open: " + systemMessage(errno));
    return file;
}

std::string replacementTarget(const std::string& path) {
#ifdef _WIN32
    return path; // the converters follow no links on Windows
#else
    std::string target = path;
    for (int depth = 0; depth < 40; ++depth) {
        char link[4096];
        const ssize_t length = ::readlink(target.c_str(), link, sizeof link);
        if (length < 0 || static_cast<std::size_t>(length) == sizeof link)
            return target;
        const std::string named(link, static_cast<std::size_t>(length));
        target = named[0] == '/' ? named : folderOf(target) + named;
    }
    throw ConversionError(path + ": too many levels of symbolic links");
#endif
}

std::string temporaryPathFor(const std::string& path) {
    const std::string target = replacementTarget(path);
    return temporaryCandidate(target, nameLimit(folderOf(target)), 0);
}

InputFile::InputFile(const std::string& path)
    : path_(path), buffer_(std::make_unique_for_overwrite<unsigned char[]>(FileBufferSize)) {
    file_ = openForReading(path);
    struct stat status {};
    if (::fstat(::fileno(file_), &status) != 0 || !S_ISREG(status.st_mode))
        file_ = spooled(file_, path);
    size_ = fileSize(file_);
}

InputFile::~InputFile() {
    std::fclose(file_);
}

// Moves the unread bytes to the front of the buffer and fills the rest.
void InputFile::gather(std::size_t count) {
    if (offset() + (filled_ - position_) >= limit_)
        return; // all up to the limit is here already
    const std::size_t kept = filled_ - position_;
    std::memmove(buffer_.get(), buffer_.get() + position_, kept);
    bufferOffset_ += position_;
    position_ = 0;
    filled_ = kept;
    while (filled_ < count) {
        const std::size_t got =
            std::fread(buffer_.get() + filled_, 1, FileBufferSize - filled_, file_);
        if (got == 0 && std::ferror(file_))
            throw ConversionError(path_ + ": cannot read: " + systemMessage(errno));
        if (got == 0)
            break;
        filled_ += got;
    }
    updateAvailable();
}

void InputFile::updateAvailable() {
    const std::uint64_t beforeLimit = limit_ > bufferOffset_ ? limit_ - bufferOffset_ : 0;
    available_ = static_cast<std::size_t>(std::min<std::uint64_t>(filled_, beforeLimit));
}

int InputFile::getSlow() {
    if (offset() >= limit_)
        return -1;
    if (position_ == filled_)
        gather(1);
    if (position_ >= available_)
        return -1;
    return buffer_[position_++];
}

std::size_t InputFile::read(unsigned char* target, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        if (position_ >= available_) { // refilled by getSlow(), or at the end
            const int value = getSlow();
            if (value < 0)
                break;
            target[done++] = static_cast<unsigned char>(value);
            continue;
        }
        const std::size_t piece = std::min(count - done, available_ - position_);
        std::memcpy(target + done, buffer_.get() + position_, piece);
        position_ += piece;
        done += piece;
    }
    return done;
}

void InputFile::setLimit(std::uint64_t offset) {
    limit_ = offset;
    updateAvailable();
}

void InputFile::seek(std::uint64_t offset) {
    if (offset >= bufferOffset_ && offset <= bufferOffset_ + filled_) {
        position_ = static_cast<std::size_t>(offset - bufferOffset_);
        return;
    }
    if (!seekFile(file_, offset))
        throw ConversionError(path_ + ": cannot seek: " + systemMessage(errno));
    bufferOffset_ = offset;
    position_ = filled_ = 0;
    updateAvailable();
}

OutputFile::OutputFile(const std::string& path)
    : path_(path), buffer_(std::make_unique_for_overwrite<char[]>(FileBufferSize)) {
    if (isStandardStream(path)) {
        // Written out only once complete, like a file; seekable for patch32.
        file_ = std::tmpfile();
        if (!file_)
            fail("cannot make a temporary file");
        return;
    }
    target_ = replacementTarget(path);
    // Renaming onto a device or a folder would replace it: only files are replaced.
    struct stat status {};
    if (::stat(target_.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        throw ConversionError(path + ": exists and is not a regular file");
    openTemporary();
}

void OutputFile::openTemporary() {
    const std::size_t limit = nameLimit(folderOf(target_));
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate = temporaryCandidate(target_, limit, attempt);
        const int fd = takeTemporary(candidate);
        if (fd == TemporaryTaken)
            continue;
        if (fd < 0)
            fail("cannot create a temporary file beside it");
        file_ = ::fdopen(fd, "wb");
        if (!file_) {
            ::close(fd);
            fail("cannot create a temporary file beside it");
        }
        temporaryPath_ = candidate;
        setPendingRemoval(temporaryPath_);
        // The buffer here is the only one: each flush is one write.
        std::setvbuf(file_, nullptr, _IONBF, 0);
        return;
    }
    throw ConversionError(path_ + ": no free name for a temporary file beside it");
}

OutputFile::~OutputFile() {
    if (file_) {
        std::fclose(file_);
        if (!temporaryPath_.empty()) {
            removalPending = 0;
            std::remove(temporaryPath_.c_str());
        }
    }
}

void OutputFile::fail(const char* what) {
    throw ConversionError(path_ + ": " + what + ": " + systemMessage(errno));
}

void OutputFile::flush() {
    if (used_ > 0 && std::fwrite(buffer_.get(), 1, used_, file_) != used_)
        fail("cannot write");
    flushedOffset_ += used_;
    used_ = 0;
}

void OutputFile::write(const void* data, std::size_t count) {
    const char* bytes = static_cast<const char*>(data);
    while (count > 0) {
        const std::size_t piece = std::min(count, FileBufferSize);
        std::memcpy(reserve(piece), bytes, piece);
        used_ += piece;
        bytes += piece;
        count -= piece;
    }
}

void OutputFile::seekTo(std::uint64_t offset) {
    if (!seekFile(file_, offset))
        fail("cannot seek");
}

void OutputFile::patch32(std::uint64_t offset, std::uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
        static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    if (offset >= flushedOffset_) {
        std::memcpy(buffer_.get() + (offset - flushedOffset_), bytes, 4);
        return;
    }
    flush();
    seekTo(offset);
    if (std::fwrite(bytes, 1, 4, file_) != 4)
        fail("cannot write");
    seekTo(flushedOffset_);
}

void OutputFile::copyToStandardOutput() {
    if (!seekFile(file_, 0))
        fail("cannot seek");
    std::size_t count = 0;
    while ((count = std::fread(buffer_.get(), 1, FileBufferSize, file_)) > 0) {
        if (std::fwrite(buffer_.get(), 1, count, stdout) != count)
            fail("cannot write");
    }
    if (std::ferror(file_))
        fail("cannot read back");
    if (std::fflush(stdout) != 0)
        fail("cannot write");
}

// Our buffer and the C library's both handed to the system.
void OutputFile::flushAll() {
    flush();
    if (std::fflush(file_) != 0)
        fail("cannot write");
}

void OutputFile::startSync() {
    flushAll();
#ifdef __linux__
    // Only a request: a failure to write shows in commit's fsync.
    if (!temporaryPath_.empty())
        ::sync_file_range(::fileno(file_), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

// The new file takes the old one's mode, and its owner and group where the
// system allows; the rename happens while the lock is held.
void OutputFile::commit(bool syncFirst) {
    flushAll();
    if (temporaryPath_.empty()) {
        copyToStandardOutput();
        std::fclose(std::exchange(file_, nullptr));
        return;
    }
    const int fd = ::fileno(file_);
#ifdef _WIN32
    // Windows keeps no owner or mode to carry over, and renames only a closed file.
    if (syncFirst && _commit(fd) != 0)
        fail("cannot write");
    std::fclose(std::exchange(file_, nullptr));
    // The names are in the system's code page, as for the C library.
    if (!MoveFileExA(temporaryPath_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const std::string reason = std::system_category().message(int(GetLastError()));
        std::remove(temporaryPath_.c_str());
        throw ConversionError(path_ + ": cannot write: " + reason);
    }
#else
    struct stat old {};
    if (::stat(target_.c_str(), &old) == 0) {
        [[maybe_unused]] const int owned = ::fchown(fd, old.st_uid, old.st_gid);
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            fail("cannot set its permissions");
    }
    if (syncFirst && ::fsync(fd) != 0)
        fail("cannot write");
    if (::rename(temporaryPath_.c_str(), target_.c_str()) != 0)
        fail("cannot write");
    std::fclose(std::exchange(file_, nullptr));
#endif
    removalPending = 0;
}

} // namespace zelmod::convert
