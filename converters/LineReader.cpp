#include "converters/LineReader.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "converters/EventText.h"
#include "files/Files.h"
#include "files/TextPipe.h"

namespace zelmod::convert {

LineReader::LineReader(const std::string& path)
    : path_(path), buffer_(std::make_unique_for_overwrite<char[]>(FileBufferSize)) {
    file_ = openForReading(path);
    text_ = buffer_.get();
}

LineReader::LineReader(const MemoryInput& memory)
    : path_(memory.name), text_(memory.bytes.data()), end_(memory.bytes.size()), atEnd_(true) {}

LineReader::LineReader(TextPipe& pipe)
    : path_(pipe.name()), pipe_(&pipe),
      buffer_(std::make_unique_for_overwrite<char[]>(FileBufferSize)) {
    text_ = buffer_.get();
}

// A reader that ends early lets the pipe's writer run on to its own end.
LineReader::~LineReader() {
    if (file_)
        std::fclose(file_);
    if (pipe_)
        pipe_->stopReading();
}

bool LineReader::refill() {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    if (pipe_) {
        const std::size_t count = pipe_->read(buffer_.get() + end_, FileBufferSize - end_);
        end_ += count;
        return count > 0;
    }
    const std::size_t count = std::fread(buffer_.get() + end_, 1, FileBufferSize - end_, file_);
    if (count == 0 && std::ferror(file_)) {
        throw ConversionError(path_ + ": cannot read: " + std::generic_category().message(errno));
    }
    end_ += count;
    return count > 0;
}

bool LineReader::next(std::string_view& line) {
    for (;;) {
        const char* start = text_ + begin_;
        // An empty text in memory may have no storage at all.
        const auto* newline =
            end_ > begin_ ? static_cast<const char*>(std::memchr(start, '\n', end_ - begin_))
                          : nullptr;
        const std::size_t length =
            newline ? static_cast<std::size_t>(newline - start) : end_ - begin_;
        // A CR before the line end is not part of the line and does not count;
        // an unfinished line may still be waiting for the LF after its CR.
        const bool complete = newline || atEnd_;
        const std::size_t cr = complete && length > 0 && start[length - 1] == '\r' ? 1 : 0;
        if (length - cr > MaxLineLength + (complete ? 0 : 1)) {
            throw ConversionError(path_ + ": line " + std::to_string(lineNumber_ + 1) +
                                  ": line longer than " + std::to_string(MaxLineLength) +
                                  " characters");
        }
        if (newline || (atEnd_ && length > 0)) {
            begin_ += length + (newline ? 1 : 0);
            line = std::string_view(start, length - cr);
            ++lineNumber_;
            return true;
        }
        if (atEnd_)
            return false;
        atEnd_ = !refill();
    }
}

} // namespace zelmod::convert
