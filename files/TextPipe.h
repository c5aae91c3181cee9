// Text passed from one thread to another through a bounded ring of memory:
// the event text between the converters and the rewrite of a large file,
// which then never lies in a file, nor whole in memory.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "files/Files.h"

namespace zelmod::convert {

// What a reader of a pipe gets once its writer failed or the pipe was
// cancelled: the text will not come whole.
class PipeBroken : public ConversionError {
  public:
    using ConversionError::ConversionError;
};

class TextPipe {
  public:
    // name: the file the text stands for, as readers' errors give it.
    explicit TextPipe(std::string name, std::size_t capacity = 8 * FileBufferSize);
    TextPipe(const TextPipe&) = delete;
    TextPipe& operator=(const TextPipe&) = delete;

    const std::string& name() const { return name_; }
    // Whether a writer put anything in.
    bool wasWritten() const;

    // The writer's side. write() waits while the pipe is full; once the
    // reader stopped, what is written is dropped, so that the writer still
    // runs to its end and reports its own failure first. Throws PipeBroken
    // after cancel().
    void write(const char* data, std::size_t count);
    void closeWriting();   // the text is whole
    void abandonWriting(); // the writer failed: its reader gets PipeBroken

    // The reader's side. read() waits for text; 0 at the end of a whole text.
    // Throws PipeBroken when the writer failed or the pipe was cancelled.
    std::size_t read(char* target, std::size_t count);
    void stopReading(); // the reader ends before the text does

    // Both sides stop at once: every call after it throws PipeBroken.
    void cancel();

  private:
    enum class Writer { Writing, Closed, Failed };
    void throwIfCancelled() const;

    const std::string name_;
    const std::size_t capacity_;
    std::unique_ptr<char[]> ring_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t start_ = 0; // of the unread text in the ring
    std::size_t used_ = 0;
    Writer writer_ = Writer::Writing;
    bool reading_ = true;
    bool cancelled_ = false;
    bool written_ = false;
};

} // namespace zelmod::convert
