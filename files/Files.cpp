#include "files/Files.h"

#include "files/TextPipe.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <system_error>
#include <utility>
#include <vector>

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
#include <dirent.h>
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

// The descriptor an output path names: 1 for "-", N for /dev/fd/N and
// /proc/self/fd/N, 1 and 2 for /dev/stdout and /dev/stderr; or -1. Opening
// such a name would reach the file behind the descriptor from its start.
int namedDescriptor(const std::string& path) {
    if (isStandardStream(path))
        return 1;
#ifndef _WIN32
    if (path == "/dev/stdout")
        return 1;
    if (path == "/dev/stderr")
        return 2;
    for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        if (path.size() <= prefix.size() || path.size() > prefix.size() + 9 ||
            path.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string digits = path.substr(prefix.size());
        if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::stoi(digits);
    }
#endif
    return -1;
}

// A closed standard stream would otherwise be taken by the next file opened.
void requireOpenDescriptor(int descriptor, const std::string& path, const char* what) {
#ifdef _WIN32
    (void)descriptor, (void)path, (void)what;
#else
    if (::fcntl(descriptor, F_GETFD) == -1)
        throw ConversionError(path + ": " + what + ": " + systemMessage(errno));
#endif
}

// The path of the partial file being written, for the signal handler.
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
#ifdef _WIN32
    const std::size_t slash = path.find_last_of("/\\:");
#else
    const std::size_t slash = path.rfind('/');
#endif
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The longest name the target's folder takes. A batch asks it of one
// folder several times in a row for each file, so the last answer is kept.
std::size_t nameLimit(const std::string& folder) {
#ifdef _WIN32
    (void)folder;
    return 255;
#else
    thread_local std::string lastFolder;
    thread_local std::size_t lastLimit = 0;
    if (lastLimit == 0 || folder != lastFolder) {
        const long limit = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
        lastLimit = limit > 0 ? static_cast<std::size_t>(limit) : 255;
        lastFolder = folder;
    }
    return lastLimit;
#endif
}

constexpr std::size_t TagLength = 6;
constexpr std::string_view PartialSuffix = ".tmp";

// ".NAME.": what the partial files of target begin with in its folder.
std::string partialPrefix(const std::string& target) {
    const std::string name = target.substr(folderOf(target).size());
    const std::size_t room = nameLimit(folderOf(target)) - 2 - TagLength - PartialSuffix.size();
    return "." + name.substr(0, std::min(name.size(), room)) + ".";
}

bool isTagCharacter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isPartialName(std::string_view name, std::string_view prefix) {
    if (name.size() != prefix.size() + TagLength + PartialSuffix.size() ||
        name.substr(0, prefix.size()) != prefix ||
        name.substr(prefix.size() + TagLength) != PartialSuffix)
        return false;
    const std::string_view tag = name.substr(prefix.size(), TagLength);
    return std::all_of(tag.begin(), tag.end(), isTagCharacter);
}

std::string randomTag() {
    static constexpr std::string_view characters =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    // Seeded once a thread: asking the system for every tag costs more than
    // the rest of a small file's conversion.
    thread_local std::mt19937_64 random = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    std::uniform_int_distribution<std::size_t> pick(0, characters.size() - 1);
    std::string tag;
    for (std::size_t i = 0; i < TagLength; ++i)
        tag += characters[pick(random)];
    return tag;
}

// Removes a partial file that a killed writer left: the user's own regular
// file that no writer holds. Another's file, a link or a file in use stays.
void removeIfStale(const std::string& path) {
#ifdef _WIN32
    // A writer's partial file is open without sharing and cannot be removed.
    std::error_code error;
    if (!std::filesystem::is_symlink(path, error))
        std::filesystem::remove(path, error);
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == ::geteuid() &&
        opened.st_nlink == 1 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
        opened.st_ino == named.st_ino)
        ::unlink(path.c_str());
    ::close(fd);
#endif
}

// Creates candidate afresh for this writer alone: -1 with errno set when it
// cannot be made, EEXIST when the name is taken.
int createPartial(const std::string& candidate) {
#ifdef _WIN32
    // A file opened without sharing is this program's while it is open.
    int fd = -1;
    if (_sopen_s(&fd, candidate.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _SH_DENYRW, _S_IREAD | _S_IWRITE) != 0)
        return -1;
    return fd;
#else
    const int fd =
        ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    // Locked at once; one that a cleaner took between its creation and the
    // lock is gone, and another name is tried.
    struct stat opened {};
    struct stat named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &opened) != 0 ||
        ::lstat(candidate.c_str(), &named) != 0 || opened.st_ino != named.st_ino) {
        ::close(fd);
        errno = EEXIST;
        return -1;
    }
    return fd;
#endif
}

#ifndef _WIN32
// The mode a new file gets: 0666 less the process's umask, read without
// changing it where the system shows it. Read once: these programs never
// change their umask.
mode_t readNewFileMode() {
    mode_t mask = 0;
    bool found = false;
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (!found && std::fgets(line, sizeof line, status)) {
            unsigned value = 0;
            found = std::sscanf(line, "Umask: %o", &value) == 1;
            mask = static_cast<mode_t>(value);
        }
        std::fclose(status);
    }
    if (!found)
        ::umask(mask = ::umask(022));
    return 0666 & ~mask;
}

mode_t newFileMode() {
    static const mode_t mode = readNewFileMode();
    return mode;
}
#endif

// Copies an unseekable input to an unnamed temporary file: all of it, or
// only its start when that is not signature.
std::FILE* spooled(std::FILE* input, const std::string& path, std::string_view signature) {
    std::FILE* copy = std::tmpfile();
    if (!copy)
        throw ConversionError(path + ": cannot make a temporary copy: " + systemMessage(errno));
    std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(FileBufferSize);
    std::size_t count = std::fread(buffer.get(), 1, signature.size(), input);
    const bool refused = std::string_view(buffer.get(), count) != signature;
    do {
        if (std::fwrite(buffer.get(), 1, count, copy) != count) {
            std::fclose(copy);
            throw ConversionError(path + ": cannot make a temporary copy: " + systemMessage(errno));
        }
    } while (!refused && (count = std::fread(buffer.get(), 1, FileBufferSize, input)) > 0);
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

std::string escapedControls(std::string_view text, std::string_view kept) {
    static constexpr std::string_view letters = "abtnvfr"; // \a (7) to \r (13)
    const auto hex = [](unsigned char byte) {
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02X", byte);
        return std::string(escape);
    };
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // C1 controls in UTF-8 (C2 80..C2 9F) reach a terminal as controls too.
        const bool c1 = byte == 0xC2 && i + 1 < text.size() &&
                        (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
        if (kept.find(text[i]) != kept.npos || (byte >= 0x20 && byte != 0x7F && !c1))
            shown += text[i];
        else if (byte >= 7 && byte <= 13)
            shown += {'\\', letters[byte - 7]};
        else if (byte == 0x1B)
            shown += "\\e";
        else
            shown += hex(byte) + (c1 ? hex(static_cast<unsigned char>(text[++i])) : "");
    }
    return shown;
}

std::FILE* openForReading(const std::string& path) {
    if (isStandardStream(path)) {
        requireOpenDescriptor(0, path, "cannot read");
        return stdin;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        throw ConversionError(path + ": cannot open: " + systemMessage(errno));
#ifndef _WIN32
    // Held, so that an input named like a stale partial file is never taken for one.
    ::flock(::fileno(file), LOCK_SH | LOCK_NB);
#endif
    return file;
}

std::string replacementTarget(const std::string& path) {
#ifdef _WIN32
    return path; // the converters follow no links on Windows
#else
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
        return path;
    struct stat folder {};
    const std::string folderPath = folderOf(path);
    if (::stat(folderPath.empty() ? "." : folderPath.c_str(), &folder) != 0)
        throw ConversionError(path + ": cannot open: " + systemMessage(errno));
    constexpr mode_t sharedSticky = S_ISVTX | S_IWOTH;
    if ((folder.st_mode & sharedSticky) == sharedSticky && link.st_uid != ::geteuid() &&
        link.st_uid != folder.st_uid)
        throw ConversionError(path + ": a link of another user in a shared folder, not followed");
    // The system follows the links, with its own checks on the way.
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        throw ConversionError(path + ": cannot open: " + systemMessage(errno));
    char target[4096];
    const std::string opened = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(opened.c_str(), target, sizeof target);
    ::close(fd);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof target || target[0] != '/')
        throw ConversionError(path + ": cannot find the file the link leads to");
    return std::string(target, static_cast<std::size_t>(length));
#endif
}

namespace {

// The names in folder that may be partial files: hidden, ending in .tmp.
std::vector<std::string> partialFormNames(const std::string& folder) {
    std::vector<std::string> names;
    const auto keep = [&](std::string_view name) {
        if (name.size() > PartialSuffix.size() && name[0] == '.' && name.ends_with(PartialSuffix))
            names.emplace_back(name);
    };
#ifdef _WIN32
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder.empty() ? "." : folder, error), end;
         !error && entry != end; entry.increment(error))
        keep(entry->path().filename().string());
#else
    // Read without a string per entry: an output folder may hold thousands.
    if (DIR* const entries = ::opendir(folder.empty() ? "." : folder.c_str())) {
        while (const dirent* entry = ::readdir(entries))
            keep(entry->d_name);
        ::closedir(entries);
    }
#endif
    return names;
}

// A batch run's listings: each output folder is read the first time an
// output goes there, not for every output, which in a folder of n outputs
// would read n times n names.
struct FolderListings {
    std::atomic<bool> kept{false};
    std::mutex mutex;
    std::map<std::string, std::vector<std::string>> partialNames;
};

FolderListings& folderListings() {
    static FolderListings listings;
    return listings;
}

// The partial files of prefix in folder: from the kept listing, taken out
// of it, or read now.
std::vector<std::string> partialsOf(const std::string& folder, std::string_view prefix) {
    FolderListings& listings = folderListings();
    std::vector<std::string> names;
    if (!listings.kept) {
        names = partialFormNames(folder);
        std::erase_if(names, [&](const std::string& name) { return !isPartialName(name, prefix); });
        return names;
    }
    const std::lock_guard lock(listings.mutex);
    auto [listing, added] = listings.partialNames.try_emplace(folder);
    if (added)
        listing->second = partialFormNames(folder);
    const auto matching = std::stable_partition(
        listing->second.begin(), listing->second.end(),
        [&](const std::string& name) { return !isPartialName(name, prefix); });
    names.assign(std::make_move_iterator(matching), std::make_move_iterator(listing->second.end()));
    listing->second.erase(matching, listing->second.end());
    return names;
}

} // namespace

void keepFolderListings() {
    folderListings().kept = true;
}

void removeStalePartials(const std::string& target) {
    const std::string folder = folderOf(target);
    for (const std::string& name : partialsOf(folder, partialPrefix(target)))
        removeIfStale(folder + name);
}

bool isPartialNameOf(std::string_view name, const std::string& target) {
    return isPartialName(name, partialPrefix(target));
}

std::string partialPathFor(const std::string& path, std::string_view tag) {
    const std::string target = replacementTarget(path);
    return folderOf(target) + partialPrefix(target) + std::string(tag) + std::string(PartialSuffix);
}

InputFile::InputFile(const std::string& path, std::string_view signature)
    : path_(path), buffer_(std::make_unique_for_overwrite<unsigned char[]>(FileBufferSize)) {
    file_ = openForReading(path);
    struct stat status {};
    if (::fstat(::fileno(file_), &status) != 0 || !S_ISREG(status.st_mode))
        file_ = spooled(file_, path, signature);
    size_ = fileSize(file_);
    bytes_ = buffer_.get();
}

InputFile::InputFile(const MemoryInput& memory)
    : path_(memory.name), bytes_(reinterpret_cast<const unsigned char*>(memory.bytes.data())),
      size_(memory.bytes.size()), filled_(memory.bytes.size()) {
    updateAvailable();
}

InputFile::~InputFile() {
    if (file_)
        std::fclose(file_);
}

// Moves the unread bytes to the front of the buffer and fills the rest.
void InputFile::gather(std::size_t count) {
    if (!file_ || offset() + (filled_ - position_) >= limit_)
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
    return bytes_[position_++];
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
        std::memcpy(target + done, bytes_ + position_, piece);
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
    if (!file_ || (offset >= bufferOffset_ && offset <= bufferOffset_ + filled_)) {
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
    descriptor_ = namedDescriptor(path);
    if (descriptor_ >= 0) {
        requireOpenDescriptor(descriptor_, path, "cannot write");
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
    removeStalePartials(target_);
    openPartial();
}

OutputFile::OutputFile(const MemoryOutput& memory)
    : path_("memory"), memory_(&memory.bytes),
      buffer_(std::make_unique_for_overwrite<char[]>(FileBufferSize)) {
    memory_->clear();
}

OutputFile::OutputFile(TextPipe& pipe)
    : path_(pipe.name()), pipe_(&pipe),
      buffer_(std::make_unique_for_overwrite<char[]>(FileBufferSize)) {}

void OutputFile::openPartial() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = partialPathFor(target_, randomTag());
        const int fd = createPartial(candidate);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            fail("cannot create a partial file beside it");
        file_ = ::fdopen(fd, "wb");
        if (!file_) {
            ::close(fd);
            std::remove(candidate.c_str());
            fail("cannot create a partial file beside it");
        }
        partialPath_ = candidate;
        setPendingRemoval(partialPath_);
        // The buffer here is the only one: each flush is one write.
        std::setvbuf(file_, nullptr, _IONBF, 0);
        return;
    }
    throw ConversionError(path_ + ": no free name for a partial file beside it");
}

OutputFile::~OutputFile() {
    if (memory_)
        memory_->clear();
    if (pipe_)
        pipe_->abandonWriting();
    if (file_) {
        std::fclose(file_);
        if (!partialPath_.empty()) {
            removalPending = 0;
            std::remove(partialPath_.c_str());
        }
    }
}

void OutputFile::fail(const char* what) {
    throw ConversionError(path_ + ": " + what + ": " + systemMessage(errno));
}

void OutputFile::flush() {
    if (memory_)
        memory_->append(buffer_.get(), used_);
    else if (pipe_)
        pipe_->write(buffer_.get(), used_);
    else if (used_ > 0 && std::fwrite(buffer_.get(), 1, used_, file_) != used_)
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
    if (pipe_)
        throw ConversionError(path_ + ": cannot seek back in a stream");
    flush();
    if (memory_) {
        std::memcpy(memory_->data() + offset, bytes, 4);
        return;
    }
    seekTo(offset);
    if (std::fwrite(bytes, 1, 4, file_) != 4)
        fail("cannot write");
    seekTo(flushedOffset_);
}

void OutputFile::copyToDescriptor() {
    if (!seekFile(file_, 0))
        fail("cannot seek");
    std::size_t count = 0;
    while ((count = std::fread(buffer_.get(), 1, FileBufferSize, file_)) > 0) {
        for (std::size_t done = 0; done < count;) {
            const auto written =
                ::write(descriptor_, buffer_.get() + done, static_cast<unsigned>(count - done));
            if (written < 0 && errno != EINTR)
                fail("cannot write");
            done += written > 0 ? static_cast<std::size_t>(written) : 0;
        }
    }
    if (std::ferror(file_))
        fail("cannot read back");
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
    if (!partialPath_.empty())
        ::sync_file_range(::fileno(file_), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

// The new file takes the old one's mode, and its owner and group where the
// system allows, or a new file's mode; the rename happens while the lock is held.
void OutputFile::commit(bool syncFirst) {
    if (memory_ || pipe_) {
        flush();
        memory_ = nullptr; // kept
        if (pipe_)
            std::exchange(pipe_, nullptr)->closeWriting();
        return;
    }
    flushAll();
    if (partialPath_.empty()) {
        copyToDescriptor();
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
    if (!MoveFileExA(partialPath_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const std::string reason = std::system_category().message(int(GetLastError()));
        std::remove(partialPath_.c_str());
        throw ConversionError(path_ + ": cannot write: " + reason);
    }
#else
    // The mode is set only now that the file is whole: until then it is 0600.
    struct stat old {};
    const bool replacing = ::stat(target_.c_str(), &old) == 0;
    [[maybe_unused]] const int owned = replacing ? ::fchown(fd, old.st_uid, old.st_gid) : 0;
    if (::fchmod(fd, replacing ? old.st_mode & 07777 : newFileMode()) != 0)
        fail("cannot set its permissions");
    if (syncFirst && ::fsync(fd) != 0)
        fail("cannot write");
    if (::rename(partialPath_.c_str(), target_.c_str()) != 0)
        fail("cannot write");
    std::fclose(std::exchange(file_, nullptr));
#endif
    removalPending = 0;
}

} // namespace zelmod::convert
