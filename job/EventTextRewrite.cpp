#include "EventTextRewrite.h"

#include <QFile>
#include <QThreadPool>

#include <array>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <vector>

namespace zelmod {
namespace {

constexpr std::size_t batchSize = 1024 * 1024;
// Below this a batch is not worth a second thread.
constexpr std::size_t splitSize = 64 * 1024;

// Hands out the text in batches of whole lines, read in large pieces. A
// line longer than the buffer makes it grow.
class BatchReader {
  public:
    explicit BatchReader(QFile& file) : file_(file), buffer_(batchSize) {}

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
            buffer_.resize(buffer_.size() * 2);
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

    QFile& file_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool atEnd_ = false;
};

// The rewritten lines of one part of a batch. Kept from batch to batch, so
// that its text's memory is reused.
struct RewrittenPart {
    std::string text; // each line followed by CR LF
    std::int64_t lineCount = 0;
    bool limitReached = false;
    std::optional<std::string> invalidLine; // the part stops at it
};

void rewritePart(std::string_view part, double shiftAmount, const JobOptionQuery& isSelected,
                 RewrittenPart& rewritten) {
    rewritten.text.clear();
    rewritten.lineCount = 0;
    rewritten.limitReached = false;
    rewritten.invalidLine.reset();
    rewritten.text.reserve(part.size() + part.size() / 8);
    while (!part.empty()) {
        const std::size_t lf = std::min(part.find('\n'), part.size());
        std::string_view line = part.substr(0, lf);
        part.remove_prefix(std::min(lf + 1, part.size()));
        if (!line.empty() && line.back() == '\r') // a CR before LF is not part of the line
            line.remove_suffix(1);
        bool limitFlag = false;
        try {
            rewritten.text += TransformEventLine(line, shiftAmount, limitFlag, isSelected);
        } catch (const ValueConversionError&) {
            rewritten.invalidLine = std::string(line);
            return;
        }
        rewritten.text += "\r\n";
        ++rewritten.lineCount;
        rewritten.limitReached = rewritten.limitReached || limitFlag;
    }
}

// A large batch is cut at a line end near its middle and its halves are
// rewritten side by side.
void rewriteBatch(std::string_view batch, double shiftAmount, const JobOptionQuery& isSelected,
                  std::array<RewrittenPart, 2>& parts) {
    const std::size_t middleLf = batch.find('\n', batch.size() / 2);
    const std::size_t cut = batch.size() < splitSize || middleLf == std::string_view::npos
                                ? batch.size()
                                : middleLf + 1;
    if (cut == batch.size()) {
        rewritePart(batch, shiftAmount, isSelected, parts[0]);
        rewritePart({}, shiftAmount, isSelected, parts[1]);
        return;
    }
    // A pooled thread stays alive from batch to batch, so the system keeps
    // it on a processor of its own. It owns the promise it fulfils.
    auto secondDone = std::make_shared<std::promise<void>>();
    std::future<void> second = secondDone->get_future();
    const std::string_view secondHalf = batch.substr(cut);
    QThreadPool::globalInstance()->start([=, &isSelected, &parts] {
        try {
            rewritePart(secondHalf, shiftAmount, isSelected, parts[1]);
            secondDone->set_value();
        } catch (...) {
            secondDone->set_exception(std::current_exception());
        }
    });
    try {
        rewritePart(batch.substr(0, cut), shiftAmount, isSelected, parts[0]);
    } catch (...) {
        second.wait(); // the other half still uses the batch and the parts
        throw;
    }
    second.get();
}

// The options cannot change while a job runs (the window disables them), so
// they are asked once; the answers can then be read from any thread.
JobOptionQuery selectionSnapshot(const JobOptionQuery& isSelected) {
    std::array<bool, JobCount> selected{};
    for (int index = 0; index < JobCount; ++index)
        selected[index] = isSelected(index);
    return [selected](int index) { return index >= 0 && index < JobCount && selected[index]; };
}

bool writeAll(QFile& file, const std::string& text) {
    return file.write(text.data(), qint64(text.size())) == qint64(text.size());
}

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

    BatchReader reader(source);
    const JobOptionQuery selection = selectionSnapshot(isSelected);
    RewriteResult result;
    std::int64_t linesDone = 0;
    std::string_view batch;
    std::array<RewrittenPart, 2> parts;
    for (;;) {
        const BatchReader::Status status = reader.next(batch);
        if (status == BatchReader::Status::End)
            break;
        if (status == BatchReader::Status::Failed)
            return failure(Outcome::SourceUnreadable, linesDone + 1, source);
        rewriteBatch(batch, shiftAmount, selection, parts);
        for (RewrittenPart& part : parts) {
            if (!writeAll(target, part.text))
                return failure(Outcome::TargetUnwritable, linesDone + part.lineCount, target);
            linesDone += part.lineCount;
            result.limitReached = result.limitReached || part.limitReached;
            if (part.invalidLine) {
                result.outcome = Outcome::LineInvalid;
                result.lineNumber = linesDone + 1;
                result.line = std::move(*part.invalidLine);
                return result;
            }
        }
    }
    target.close();
    if (target.error() != QFileDevice::NoError)
        return failure(Outcome::TargetUnwritable, linesDone, target);
    return result;
}

} // namespace zelmod
