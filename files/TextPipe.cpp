#include "files/TextPipe.h"

#include <algorithm>
#include <cstring>

namespace zelmod::convert {

TextPipe::TextPipe(std::string name, std::size_t capacity)
    : name_(std::move(name)), capacity_(capacity),
      ring_(std::make_unique_for_overwrite<char[]>(capacity)) {}

bool TextPipe::wasWritten() const {
    const std::lock_guard lock(mutex_);
    return written_;
}

void TextPipe::throwIfCancelled() const {
    if (cancelled_)
        throw PipeBroken(name_ + ": cancelled");
}

void TextPipe::write(const char* data, std::size_t count) {
    std::unique_lock lock(mutex_);
    written_ = written_ || count > 0;
    while (count > 0) {
        changed_.wait(lock, [this] { return cancelled_ || !reading_ || used_ < capacity_; });
        throwIfCancelled();
        if (!reading_)
            return;
        // Into the free space after the unread text, up to the ring's end.
        const std::size_t end = (start_ + used_) % capacity_;
        const std::size_t piece = std::min({count, capacity_ - used_, capacity_ - end});
        std::memcpy(ring_.get() + end, data, piece);
        used_ += piece;
        data += piece;
        count -= piece;
        changed_.notify_all();
    }
}

void TextPipe::closeWriting() {
    const std::lock_guard lock(mutex_);
    if (writer_ == Writer::Writing)
        writer_ = Writer::Closed;
    changed_.notify_all();
}

void TextPipe::abandonWriting() {
    const std::lock_guard lock(mutex_);
    if (writer_ == Writer::Writing)
        writer_ = Writer::Failed;
    changed_.notify_all();
}

std::size_t TextPipe::read(char* target, std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return cancelled_ || used_ > 0 || writer_ != Writer::Writing; });
    throwIfCancelled();
    if (used_ == 0 && writer_ == Writer::Failed)
        throw PipeBroken(name_ + ": its writer failed");
    const std::size_t piece = std::min({count, used_, capacity_ - start_});
    std::memcpy(target, ring_.get() + start_, piece);
    start_ = (start_ + piece) % capacity_;
    used_ -= piece;
    changed_.notify_all();
    return piece;
}

void TextPipe::stopReading() {
    const std::lock_guard lock(mutex_);
    reading_ = false;
    used_ = 0;
    changed_.notify_all();
}

void TextPipe::cancel() {
    const std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
}

} // namespace zelmod::convert
