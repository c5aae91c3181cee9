// Reads a text file line by line through one fixed buffer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "files/Files.h"

namespace zelmod::convert {

class LineReader {
  public:
    explicit LineReader(const std::string& path);
    // Reads the text in memory, all of it at hand at once.
    explicit LineReader(const MemoryInput& memory);
    // Reads the text as it comes through pipe, named as the pipe is.
    explicit LineReader(TextPipe& pipe);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next line without its line end (LF or CR LF); false at the end of
    // the file. The view stays valid until the next call. Throws
    // ConversionError for a line longer than MaxLineLength.
    bool next(std::string_view& line);
    std::uint64_t lineNumber() const { return lineNumber_; }

  private:
    bool refill();

    std::string path_;
    std::FILE* file_ = nullptr; // none for text in memory or in a pipe
    TextPipe* pipe_ = nullptr;
    std::unique_ptr<char[]> buffer_;
    const char* text_ = nullptr; // the buffer, or the text in memory
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool atEnd_ = false;
    std::uint64_t lineNumber_ = 0;
};

} // namespace zelmod::convert
