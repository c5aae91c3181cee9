#include "EventTextRewrite.h"

#include <QFile>

#include <cstring>
#include <vector>

namespace zelmod {
namespace {

constexpr qint64 chunkSize = 256 * 1024;

// Hands out the lines of a file read in large pieces. A line longer than
// the buffer makes it grow; a CR before the LF is not part of the line.
class LineReader {
  public:
    explicit LineReader(QFile& file) : file_(file), buffer_(chunkSize) {}

    enum class Status { Line, End, Failed };

    Status next(std::string_view& line) {
        for (;;) {
            const char* start = buffer_.data() + begin_;
            if (const void* lf = std::memchr(start, '\n', end_ - begin_)) {
                const auto length = std::size_t(static_cast<const char*>(lf) - start);
                line = withoutCarriageReturn(std::string_view(start, length));
                begin_ += length + 1;
                return Status::Line;
            }
            if (atEnd_) {
                if (begin_ == end_)
                    return Status::End;
                line = withoutCarriageReturn(std::string_view(start, end_ - begin_));
                begin_ = end_;
                return Status::Line;
            }
            if (!fill())
                return Status::Failed;
        }
    }

  private:
    static std::string_view withoutCarriageReturn(std::string_view line) {
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        return line;
    }

    bool fill() {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        if (end_ == buffer_.size())
            buffer_.resize(buffer_.size() * 2);
        const qint64 count = file_.read(buffer_.data() + end_, qint64(buffer_.size() - end_));
        if (count < 0)
            return false;
        atEnd_ = count == 0;
        end_ += std::size_t(count);
        return true;
    }

    QFile& file_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool atEnd_ = false;
};

// Collects lines and writes them in large pieces.
class LineWriter {
  public:
    explicit LineWriter(QFile& file) : file_(file) { pending_.reserve(chunkSize + 4096); }

    bool write(std::string_view line) {
        pending_.append(line);
        pending_.append("\r\n");
        return pending_.size() < std::size_t(chunkSize) || flush();
    }

    bool flush() {
        const bool written =
            file_.write(pending_.data(), qint64(pending_.size())) == qint64(pending_.size());
        pending_.clear();
        return written;
    }

  private:
    QFile& file_;
    std::string pending_;
};

RewriteResult failure(RewriteResult::Outcome outcome, std::int64_t lineNumber, const QFile& file) {
    RewriteResult result;
    result.outcome = outcome;
    result.lineNumber = lineNumber;
    result.errorText = file.errorString();
    return result;
}

} // namespace

RewriteResult rewriteEventText(const QString& sourcePath, const QString& targetPath,
                               double shiftAmount, const JobOptionQuery& isSelected) {
    using Outcome = RewriteResult::Outcome;
    QFile target(targetPath);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return failure(Outcome::TargetUncreatable, 0, target);
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return failure(Outcome::SourceUnopenable, 0, source);

    LineReader reader(source);
    LineWriter writer(target);
    RewriteResult result;
    std::string_view line;
    std::int64_t lineNumber = 0;
    for (;;) {
        ++lineNumber;
        const LineReader::Status status = reader.next(line);
        if (status == LineReader::Status::End)
            break;
        if (status == LineReader::Status::Failed)
            return failure(Outcome::SourceUnreadable, lineNumber, source);
        bool limitFlag = false;
        try {
            if (!writer.write(TransformEventLine(line, shiftAmount, limitFlag, isSelected)))
                return failure(Outcome::TargetUnwritable, lineNumber, target);
        } catch (const ValueConversionError&) {
            result.outcome = Outcome::LineInvalid;
            result.lineNumber = lineNumber;
            result.line = std::string(line);
            return result;
        }
        result.limitReached = result.limitReached || limitFlag;
    }
    const std::int64_t lastLine = lineNumber - 1;
    if (!writer.flush())
        return failure(Outcome::TargetUnwritable, lastLine, target);
    target.close();
    if (target.error() != QFileDevice::NoError)
        return failure(Outcome::TargetUnwritable, lastLine, target);
    return result;
}

} // namespace zelmod
