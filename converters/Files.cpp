#include "Files.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

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

// A name beside the target that no file has yet.
std::string freeTemporaryPath(const std::string& path) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string candidate = path + ".tmp";
        if (attempt > 0)
            candidate += std::to_string(attempt);
        std::error_code error;
        if (!std::filesystem::exists(candidate, error) && !error)
            return candidate;
    }
    throw ConversionError(path + ": no free name for a temporary file beside it");
}

} // namespace

void reportWritesBeyondSizeLimit() {
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

InputFile::InputFile(const std::string& path)
    : path_(path), buffer_(std::make_unique<unsigned char[]>(FileBufferSize)) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_)
        throw ConversionError(path + ": cannot open: " + systemMessage(errno));
    size_ = fileSize(file_);
}

InputFile::~InputFile() {
    std::fclose(file_);
}

bool InputFile::refill() {
    bufferOffset_ += filled_;
    position_ = 0;
    filled_ = std::fread(buffer_.get(), 1, FileBufferSize, file_);
    if (filled_ == 0 && std::ferror(file_))
        throw ConversionError(path_ + ": cannot read: " + systemMessage(errno));
    updateAvailable();
    return filled_ > 0;
}

void InputFile::updateAvailable() {
    const std::uint64_t beforeLimit = limit_ > bufferOffset_ ? limit_ - bufferOffset_ : 0;
    available_ = static_cast<std::size_t>(std::min<std::uint64_t>(filled_, beforeLimit));
}

int InputFile::getSlow() {
    if (offset() >= limit_ || (position_ == filled_ && !refill()) || position_ >= available_)
        return -1;
    return buffer_[position_++];
}

std::size_t InputFile::read(unsigned char* target, std::size_t count) {
    std::size_t done = 0;
    for (int value = 0; done < count && (value = get()) >= 0; ++done)
        target[done] = static_cast<unsigned char>(value);
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
    : path_(path), buffer_(std::make_unique<char[]>(FileBufferSize)) {
    // Renaming onto a device or a folder would replace it: only files are replaced.
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        throw ConversionError(path + ": exists and is not a regular file");
    temporaryPath_ = freeTemporaryPath(path);
    file_ = std::fopen(temporaryPath_.c_str(), "wb");
    if (!file_)
        throw ConversionError(path + ": cannot create: " + systemMessage(errno));
}

OutputFile::~OutputFile() {
    if (file_) {
        std::fclose(file_);
        std::remove(temporaryPath_.c_str());
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

void OutputFile::commit() {
    flush();
    std::FILE* file = std::exchange(file_, nullptr);
    std::error_code error;
    if (std::fclose(file) != 0)
        error = std::error_code(errno, std::generic_category());
    else
        std::filesystem::rename(temporaryPath_, path_, error);
    if (error) {
        std::remove(temporaryPath_.c_str());
        throw ConversionError(path_ + ": cannot write: " + error.message());
    }
}

} // namespace zelmod::convert
