// Buffered binary file access for the converters: reading in bounded pieces,
// and writing through a temporary file that replaces the target only on success.
// A path of "-" stands for standard input or standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zelmod::convert {

// A failure that ends a conversion; what() is one line saying where and what.
class ConversionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::size_t FileBufferSize = 64 * 1024;

// Makes a write beyond the file-size limit (ulimit -f) fail and be reported
// like any other failed write; by default the signal would end the converter
// without a word and leave its temporary file behind.
void reportWritesBeyondSizeLimit();

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary file of the output
// being written before the converter ends by the signal.
void removeTemporaryFileWhenInterrupted();

// Opens a file for reading, or standard input for "-".
std::FILE* openForReading(const std::string& path);

// Where writing to path puts the data: the file that a symbolic link names
// (through any chain of links), or path itself.
std::string replacementTarget(const std::string& path);

// The first name OutputFile tries for its temporary file: OUT.tmp, with the
// name shortened when that would exceed the folder's limit.
std::string temporaryPathFor(const std::string& path);

// A file read through one fixed buffer, with its byte offset always known.
// A pipe or other unseekable input is first copied whole to an unnamed
// temporary file, since a MIDI file is read twice and its size is needed.
class InputFile {
  public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::uint64_t size() const { return size_; }
    std::uint64_t offset() const { return bufferOffset_ + position_; }

    // The next byte, or -1 at the limit or the end of the file.
    int get() {
        if (position_ < available_)
            return buffer_[position_++];
        return getSlow();
    }
    // Reads up to count bytes; fewer only at the limit or the end of the file.
    std::size_t read(unsigned char* target, std::size_t count);
    // The buffered bytes from the offset on, for decoding in place: at least
    // count of them (count <= FileBufferSize), fewer only at the limit or the
    // end of the file. skip() passes over bytes that peek() showed.
    std::size_t peek(const unsigned char*& bytes, std::size_t count) {
        if (available_ < position_ + count)
            gather(count);
        bytes = buffer_.get() + position_;
        return available_ > position_ ? available_ - position_ : 0;
    }
    void skip(std::size_t count) { position_ += count; }
    void seek(std::uint64_t offset);
    // Reading stops at this offset, as if the file ended there.
    void setLimit(std::uint64_t offset);

  private:
    int getSlow();
    void gather(std::size_t count);
    void updateAvailable();

    std::string path_;
    std::FILE* file_ = nullptr;
    std::unique_ptr<unsigned char[]> buffer_;
    std::uint64_t size_ = 0;
    std::uint64_t bufferOffset_ = 0;
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
    std::size_t available_ = 0; // bytes of the buffer before the limit
    std::uint64_t limit_ = UINT64_MAX;
};

// Writes to a temporary file beside the target. commit() renames it onto the
// target; without a commit the temporary file is removed, so an existing
// target is never left half-written. The target keeps its permission bits
// (and owner and group where allowed); a symbolic link stays and its target
// is replaced. The temporary file is locked while in use: another writer of
// the same target takes another name, and a stale one is reused.
class OutputFile {
  public:
    explicit OutputFile(const std::string& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::uint64_t offset() const { return flushedOffset_ + used_; }

    // Room for count bytes (count <= FileBufferSize); call advance() with what was used.
    char* reserve(std::size_t count) {
        if (FileBufferSize - used_ < count)
            flush();
        return buffer_.get() + used_;
    }
    void advance(std::size_t count) { used_ += count; }

    void put(char c) { *reserve(1) = c, ++used_; }
    void write(const void* data, std::size_t count);
    void write(std::string_view text) { write(text.data(), text.size()); }

    // Overwrites four bytes written earlier with a big-endian number.
    void patch32(std::uint64_t offset, std::uint32_t value);
    // Sets the data written so far on its way to the disk without waiting,
    // where the system can, so that a later commit(true) waits less.
    void startSync();
    // syncFirst: the data reaches the disk before it takes the target's name.
    void commit(bool syncFirst = false);

  private:
    void openTemporary();
    void copyToStandardOutput();
    void flush();
    void flushAll();
    void seekTo(std::uint64_t offset);
    [[noreturn]] void fail(const char* what);

    std::string path_;
    std::string target_;
    std::string temporaryPath_; // empty when writing to standard output
    std::FILE* file_ = nullptr;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    std::uint64_t flushedOffset_ = 0;
};

} // namespace zelmod::convert
