// Buffered binary file access for the converters: reading in bounded pieces,
// and writing through a partial file that replaces the target only on success.
// A path of "-" stands for standard input or standard output; an output of
// /dev/stdout, /dev/fd/N or /proc/self/fd/N is written through that descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zelmod::convert {

class TextPipe;

// A failure that ends a conversion; what() is one line saying where and what.
class ConversionError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::size_t FileBufferSize = 64 * 1024;

// Makes a write beyond the file-size limit (ulimit -f) fail and be reported
// like any other failed write; by default the signal would end the converter
// without a word and leave its partial file behind.
void reportWritesBeyondSizeLimit();

// Makes SIGINT, SIGTERM and SIGHUP remove the partial file of the output
// being written before the converter ends by the signal.
void removeTemporaryFileWhenInterrupted();

// The text with its control characters written as escapes (\e, \n, \xHH),
// so that a file name in a message cannot drive the terminal. The
// characters in kept stay as they are.
std::string escapedControls(std::string_view text, std::string_view kept = {});

// Opens a file for reading, or standard input for "-".
std::FILE* openForReading(const std::string& path);

// Where writing to path puts the data: path itself, or the file a symbolic
// link there leads to as the system resolves it. A link is followed only
// where the system's protected_symlinks rule lets this user follow it: not
// another user's link in a sticky folder that all may write to, unless that
// user owns the folder. Throws ConversionError for such a link.
std::string replacementTarget(const std::string& path);

// The partial file of an output is .NAME.TAG.tmp beside the file replaced,
// TAG being six random letters and digits, NAME shortened to fit the
// folder's name limit. A leftover of a killed writer is known by that form.
std::string partialPathFor(const std::string& path, std::string_view tag);
// Whether name, in the folder of target, has the form of target's partial files.
bool isPartialNameOf(std::string_view name, const std::string& target);
// Removes the partial files of target that a killed writer left behind: the
// user's own regular files of that form that no writer holds, and no others.
void removeStalePartials(const std::string& target);
// From now on, removeStalePartials reads each folder once for this process
// and finds in that listing the partial files of every later target there:
// for a batch run writing many outputs into one folder. Partial files that
// appear in a folder after it was read are left to the next run.
void keepFolderListings();

// A file's bytes held in memory in place of a file, and the name that its
// reader's errors give it.
struct MemoryInput {
    std::string_view bytes;
    const std::string& name;
};
// Memory that a writer fills in place of a file: it holds the whole output
// once committed, and is cleared when the writer ends without a commit.
struct MemoryOutput {
    std::string& bytes;
};

// A file read through one fixed buffer, with its byte offset always known.
// A pipe or other unseekable input is first copied whole to an unnamed
// temporary file, since a MIDI file is read twice and its size is needed;
// one that does not start with signature is refused by its reader at once,
// so only its start is copied.
class InputFile {
  public:
    explicit InputFile(const std::string& path, std::string_view signature = {});
    // Reads the bytes in memory, all of them at hand at once.
    explicit InputFile(const MemoryInput& memory);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::uint64_t size() const { return size_; }
    std::uint64_t offset() const { return bufferOffset_ + position_; }

    // The next byte, or -1 at the limit or the end of the file.
    int get() {
        if (position_ < available_)
            return bytes_[position_++];
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
        bytes = bytes_ + position_;
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
    std::FILE* file_ = nullptr; // none for bytes in memory
    std::unique_ptr<unsigned char[]> buffer_;
    const unsigned char* bytes_ = nullptr; // the buffer, or the bytes in memory
    std::uint64_t size_ = 0;
    std::uint64_t bufferOffset_ = 0;
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
    std::size_t available_ = 0; // bytes of the buffer before the limit
    std::uint64_t limit_ = UINT64_MAX;
};

// Writes to a partial file beside the target, made afresh for this writer
// alone (mode 0600, never through a link). commit() gives it the target's
// permission bits (and owner and group where allowed), or the usual mode
// of a new file, and renames it onto the target; without a commit it is
// removed, so an existing target is never left half-written. A symbolic
// link to the target stays and leads to the new file. The partial file is
// locked while in use, so that the partial files a killed writer of the same
// target left behind, and only those, are removed.
class OutputFile {
  public:
    explicit OutputFile(const std::string& path);
    explicit OutputFile(const MemoryOutput& memory);
    // Writes into pipe, whose reader gets the text as it comes. A commit
    // closes it; a writer that ends without one leaves it abandoned.
    explicit OutputFile(TextPipe& pipe);
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

    // Overwrites four bytes written earlier with a big-endian number; in a
    // pipe, only bytes that have not yet gone into it.
    void patch32(std::uint64_t offset, std::uint32_t value);
    // Sets the data written so far on its way to the disk without waiting,
    // where the system can, so that a later commit(true) waits less.
    void startSync();
    // syncFirst: the data reaches the disk before it takes the target's name.
    // After startSync() this may run on another thread than the writes.
    void commit(bool syncFirst = false);

  private:
    void openPartial();
    void copyToDescriptor();
    void flush();
    void flushAll();
    void seekTo(std::uint64_t offset);
    [[noreturn]] void fail(const char* what);

    std::string path_;
    std::string target_;
    std::string partialPath_; // empty when writing through a descriptor
    int descriptor_ = -1;     // standard output or the descriptor named
    std::FILE* file_ = nullptr;
    std::string* memory_ = nullptr; // filled in place of a file
    TextPipe* pipe_ = nullptr;      // written into in place of a file
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    std::uint64_t flushedOffset_ = 0;
};

} // namespace zelmod::convert
