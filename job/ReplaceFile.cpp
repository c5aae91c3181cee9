#include "job/ReplaceFile.h"

#include "files/Files.h"
#include "job/NativePath.h"

#include <optional>

namespace zelmod {

QString partialPathFor(const QString& outputPath, const QString& tag) {
    return pathFromNative(QByteArray::fromStdString(
        convert::partialPathFor(nativeString(outputPath), nativeString(tag))));
}

PendingReplacement::PendingReplacement(std::unique_ptr<convert::OutputFile> file,
                                       const QString& targetPath, JobMessageId failureId)
    : file_(std::move(file)), targetPath_(targetPath), failureId_(failureId) {}

PendingReplacement::~PendingReplacement() = default;

// The file is closed either way, and on failure removed.
std::optional<JobFailure> PendingReplacement::finish() {
    const std::unique_ptr<convert::OutputFile> file = std::move(file_);
    try {
        file->commit(true);
        return std::nullopt;
    } catch (const convert::ConversionError& error) {
        return fileFailure(failureId_, targetPath_, pathFromNative(QByteArray(error.what())));
    }
}

namespace {

// The copy of the source that open makes, from a file or from memory.
using SourceOpener = std::function<void(std::optional<convert::InputFile>&)>;

std::optional<JobFailure> replaceFile(const SourceOpener& open, const QString& targetPath,
                                      const std::function<bool()>& stillWanted,
                                      const std::function<void()>& whileSyncing,
                                      std::unique_ptr<PendingReplacement>* pending) {
    const auto wanted = [&] { return !stillWanted || stillWanted(); };
    const JobMessageId failureId =
        existsNative(targetPath) ? JobMessageId::OutputUnwritable : JobMessageId::OutputUncreatable;
    try {
        std::optional<convert::InputFile> source;
        open(source);
        auto target = std::make_unique<convert::OutputFile>(nativeString(targetPath));
        // Read straight into the output's buffer: each piece is one write.
        for (;;) {
            auto* const room =
                reinterpret_cast<unsigned char*>(target->reserve(convert::FileBufferSize));
            const std::size_t count = source->read(room, convert::FileBufferSize);
            if (count == 0)
                break;
            target->advance(count);
            if (!wanted())
                return std::nullopt;
        }
        source.reset(); // closed, so that whileSyncing may remove it
        target->startSync();
        if (whileSyncing)
            whileSyncing();
        if (!wanted())
            return std::nullopt;
        auto replacement =
            std::make_unique<PendingReplacement>(std::move(target), targetPath, failureId);
        if (!pending)
            return replacement->finish();
        *pending = std::move(replacement);
        return std::nullopt;
    } catch (const convert::ConversionError& error) {
        return fileFailure(failureId, targetPath, pathFromNative(QByteArray(error.what())));
    }
}

} // namespace

std::optional<JobFailure> replaceFileWithCopy(const QString& sourcePath, const QString& targetPath,
                                              const std::function<bool()>& stillWanted,
                                              const std::function<void()>& whileSyncing,
                                              std::unique_ptr<PendingReplacement>* pending) {
    return replaceFile(
        [&](std::optional<convert::InputFile>& source) {
            source.emplace(nativeString(sourcePath));
        },
        targetPath, stillWanted, whileSyncing, pending);
}

std::optional<JobFailure> replaceFileWithBytes(std::string_view bytes, const QString& targetPath,
                                               const std::function<bool()>& stillWanted,
                                               const std::function<void()>& whileSyncing,
                                               std::unique_ptr<PendingReplacement>* pending) {
    const std::string name = "memory";
    return replaceFile(
        [&](std::optional<convert::InputFile>& source) {
            source.emplace(convert::MemoryInput{bytes, name});
        },
        targetPath, stillWanted, whileSyncing, pending);
}

} // namespace zelmod
