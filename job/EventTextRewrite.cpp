#include "job/EventTextRewrite.h"

#include "files/Files.h"
#include "job/NativePath.h"
#include "transform/ReversePlayback.h"

#include <QBuffer>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <memory>

namespace zelmod {
namespace {

// Small enough that a batch and its rewritten lines stay in the processor's
// cache between reading and writing them.
constexpr std::size_t batchSize = 256 * 1024;

// A batch buffer no larger than the text needs (one more byte, so that one
// reading sees the end): memory taken for a small text and given back after
// it costs a job of a small file more than rewriting it. Streamed text has
// no size in advance.
std::size_t batchSizeFor(const QIODevice& source) {
    if (source.isSequential())
        return batchSize;
    return std::clamp<std::size_t>(static_cast<std::size_t>(source.size()) + 1, 4096, batchSize);
}

// Storage that is not cleared first, so that a small text touches only the
// memory it fills: clearing the buffers cost a batch of small files more
// than rewriting them.
class Buffer {
  public:
    explicit Buffer(std::size_t size)
        : data_(std::make_unique_for_overwrite<char[]>(size)), size_(size) {}

    char* data() { return data_.get(); }
    std::size_t size() const { return size_; }

    // Grows to size, keeping the first kept characters.
    void grow(std::size_t size, std::size_t kept) {
        auto larger = std::make_unique_for_overwrite<char[]>(size);
        std::memcpy(larger.get(), data_.get(), kept);
        data_ = std::move(larger);
        size_ = size;
    }

  private:
    std::unique_ptr<char[]> data_;
    std::size_t size_;
};

// Hands out the text in batches of whole lines, read in large pieces. A
// line longer than the buffer makes it grow.
class BatchReader {
  public:
    BatchReader(QIODevice& file, std::size_t size) : file_(file), buffer_(size) {}

    enum class Status { Batch, End, Failed };

    Status next(std::string_view& batch) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        for (;;) {
            if (!fill())
                return Status::Failed;
            const std::string_view text(buffer_.data(), end_);
            const std::size_t lastLf = text.rfind('\n');
            if (lastLf != std::string_view::npos || atEnd_) {
                begin_ = lastLf != std::string_view::npos && !atEnd_ ? lastLf + 1 : end_;
                batch = text.substr(0, begin_);
                return batch.empty() ? Status::End : Status::Batch;
            }
            buffer_.grow(buffer_.size() * 2, end_);
        }
    }

  private:
    bool fill() {
        while (!atEnd_ && end_ < buffer_.size()) {
            const qint64 count = file_.read(buffer_.data() + end_, qint64(buffer_.size() - end_));
            if (count < 0)
                return false;
            atEnd_ = count == 0;
            end_ += std::size_t(count);
        }
        return true;
    }

    QIODevice& file_;
    Buffer buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool atEnd_ = false;
};

// The rewritten lines, gathered and written in large pieces.
class BatchWriter {
  public:
    BatchWriter(QIODevice& file, std::size_t size) : file_(file), buffer_(size) {}

    // Room for a rewritten line of at most count characters and its line end.
    char* room(std::size_t count) {
        if (buffer_.size() - used_ < count + 2) {
            if (!flush())
                return nullptr;
            if (buffer_.size() < count + 2)
                buffer_.grow(count + 2, 0);
        }
        return buffer_.data() + used_;
    }
    void lineWritten(char* end) {
        *end++ = '\r';
        *end++ = '\n';
        used_ = static_cast<std::size_t>(end - buffer_.data());
    }
    bool flush() {
        const bool written = writeAll(file_, buffer_.data(), qint64(used_));
        used_ = 0;
        return written;
    }

  private:
    QIODevice& file_;
    Buffer buffer_;
    std::size_t used_ = 0;
};

// Appends what is written to a string, so that a text rewritten in memory
// is not copied once more at the end.
class StringDevice : public QIODevice {
  public:
    explicit StringDevice(std::string& text) : text_(text) { open(WriteOnly | Unbuffered); }

  protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 count) override {
        text_.append(data, std::size_t(count));
        return count;
    }

  private:
    std::string& text_;
};

RewriteResult failure(JobMessageId id, std::int64_t lineNumber, const QString& path,
                      const QIODevice& file) {
    return {JobFailure{id, {QString::number(lineNumber), shownPath(path), file.errorString()}}};
}

// A line as a message can show it: long ones are cut.
QString shownLine(std::string_view line) {
    constexpr qsizetype shownLength = 120;
    const QString text = QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
    return text.size() <= shownLength ? text : text.left(shownLength) + QStringLiteral("…");
}

} // namespace

RewriteResult rewriteEventText(QIODevice& source, QIODevice& target, const RewriteNames& names,
                               double shiftAmount, const JobOptionQuery& isSelected,
                               const std::function<bool()>& stillWanted) {
    const QString& sourcePath = names.source;
    const QString& targetPath = names.target;
    const std::size_t size = batchSizeFor(source);
    BatchReader reader(source, size);
    BatchWriter writer(target, size);
    RewriteResult result;
    std::int64_t lineNumber = 0;
    std::string_view batch;
    for (;;) {
        const BatchReader::Status status = reader.next(batch);
        if (status == BatchReader::Status::End)
            break;
        if (stillWanted && !stillWanted())
            return result;
        if (status == BatchReader::Status::Failed)
            return failure(JobMessageId::EventTextUnreadable, lineNumber + 1, sourcePath, source);
        while (!batch.empty()) {
            const std::size_t lf = std::min(batch.find('\n'), batch.size());
            std::string_view line = batch.substr(0, lf);
            batch.remove_prefix(std::min(lf + 1, batch.size()));
            if (!line.empty() && line.back() == '\r') // a CR before LF is not part of the line
                line.remove_suffix(1);
            ++lineNumber;
            char* const out = writer.room(line.size() + MaxLineGrowth);
            if (!out)
                return failure(JobMessageId::EventTextUnwritable, lineNumber, targetPath, target);
            bool limitFlag = false;
            try {
                writer.lineWritten(
                    writeTransformedLine(out, line, shiftAmount, limitFlag, isSelected));
            } catch (const ValueConversionError&) {
                // The job stops here; what was rewritten so far is thrown away with the file.
                result.failure = JobFailure{JobMessageId::EventLineInvalid,
                                            {QString::number(lineNumber), shownLine(line)}};
                return result;
            }
            result.clampedLines += limitFlag;
        }
    }
    // Written in large pieces: the text is never held whole.
    if (!writer.flush())
        return failure(JobMessageId::EventTextUnwritable, lineNumber, targetPath, target);
    target.close();
    if (const auto* file = qobject_cast<const QFileDevice*>(&target);
        file && file->error() != QFileDevice::NoError)
        return failure(JobMessageId::EventTextUnwritable, lineNumber, targetPath, target);
    return result;
}

RewriteResult rewriteEventText(const QString& sourcePath, const QString& targetPath,
                               double shiftAmount, const JobOptionQuery& isSelected,
                               const std::function<bool()>& stillWanted) {
    QFile target;
    if (auto failure = openNative(target, targetPath, QIODevice::WriteOnly | QIODevice::Unbuffered,
                                  JobMessageId::WorkFileUncreatable))
        return {failure};
    QFile source;
    if (auto failure = openNative(source, sourcePath, QIODevice::ReadOnly | QIODevice::Unbuffered,
                                  JobMessageId::EventTextUnopenable))
        return {failure};
    return rewriteEventText(source, target, {sourcePath, targetPath}, shiftAmount, isSelected,
                            stillWanted);
}

RewriteResult
rewriteInMemory(const std::string& sourceText, std::string& targetText,
                const std::function<RewriteResult(QIODevice& source, QIODevice& target)>& rewrite) {
    QByteArray sourceBytes =
        QByteArray::fromRawData(sourceText.data(), qsizetype(sourceText.size()));
    QBuffer source(&sourceBytes);
    source.open(QIODevice::ReadOnly);
    targetText.clear();
    // About as long as the source: a value gains or loses a digit at most.
    targetText.reserve(sourceText.size() + sourceText.size() / 8);
    StringDevice target(targetText);
    return rewrite(source, target);
}

RewriteResult rewriteEventText(const std::string& sourceText, std::string& targetText,
                               const RewriteNames& names, double shiftAmount,
                               const JobOptionQuery& isSelected,
                               const std::function<bool()>& stillWanted) {
    return rewriteInMemory(sourceText, targetText, [&](QIODevice& source, QIODevice& target) {
        return rewriteEventText(source, target, names, shiftAmount, isSelected, stillWanted);
    });
}

RewriteResult reverseEventText(const std::string& sourceText, std::string& targetText,
                               const RewriteNames& names) {
    try {
        targetText = reversePlaybackText(sourceText, nativeString(names.source));
    } catch (const convert::ConversionError& error) {
        return {JobFailure{JobMessageId::EventTextUnreversed,
                           {pathFromNative(QByteArray(error.what()))}}};
    }
    return {};
}

RewriteResult reverseEventText(const QString& sourcePath, const QString& targetPath,
                               const std::function<bool()>& stillWanted) {
    try {
        reversePlayback(nativeString(sourcePath), nativeString(targetPath), stillWanted);
    } catch (const ReverseCancelled&) {
        return {};
    } catch (const convert::ConversionError& error) {
        return {JobFailure{JobMessageId::EventTextUnreversed,
                           {pathFromNative(QByteArray(error.what()))}}};
    }
    return {};
}

} // namespace zelmod
