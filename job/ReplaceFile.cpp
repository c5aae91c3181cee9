#include "job/ReplaceFile.h"

#include "files/Files.h"
#include "job/NativePath.h"

#include <optional>

namespace zelmod {

QString partialPathFor(const QString& outputPath, const QString& tag) {
    return pathFromNative(QByteArray::fromStdString(
        convert::partialPathFor(nativeString(outputPath), nativeString(tag))));
}

namespace {

// The copy of the source that open makes, from a file or from memory.
using SourceOpener = std::function<void(std::optional<convert::InputFile>&)>;

std::optional<JobFailure> replaceFile(const SourceOpener& open, const QString& targetPath,
                                      const std::function<bool()>& stillWanted,
                                      const std::function<void()>& whileSyncing) {
    const auto wanted = [&] { return !stillWanted || stillWanted(); };
    const JobMessageId failureId =
        existsNative(targetPath) ? JobMessageId::OutputUnwritable : JobMessageId::OutputUncreatable;
    try {
        std::optional<convert::InputFile> source;
        open(source);
        convert::OutputFile target(nativeString(targetPath));
        // Read straight into the output's buffer: each piece is one write.
        for (;;) {
            auto* const room =
                reinterpret_cast<unsigned char*>(target.reserve(convert::FileBufferSize));
            const std::size_t count = source->read(room, convert::FileBufferSize);
            if (count == 0)
                break;
            target.advance(count);
            if (!wanted())
                return std::nullopt;
        }
        source.reset(); // closed, so that whileSyncing may remove it
        target.startSync();
        if (whileSyncing)
            whileSyncing();
        if (wanted())
            target.commit(true);
        return std::nullopt;
    } catch (const convert::ConversionError& error) {
        return fileFailure(failureId, targetPath, pathFromNative(QByteArray(error.what())));
    }
}

} // namespace

std::optional<JobFailure> replaceFileWithCopy(const QString& sourcePath, const QString& targetPath,
                                              const std::function<bool()>& stillWanted,
                                              const std::function<void()>& whileSyncing) {
    return replaceFile(
        [&](std::optional<convert::InputFile>& source) {
            source.emplace(nativeString(sourcePath));
        },
        targetPath, stillWanted, whileSyncing);
}

std::optional<JobFailure> replaceFileWithBytes(std::string_view bytes, const QString& targetPath,
                                               const std::function<bool()>& stillWanted,
                                               const std::function<void()>& whileSyncing) {
    const std::string name = "memory";
    return replaceFile(
        [&](std::optional<convert::InputFile>& source) {
            source.emplace(convert::MemoryInput{bytes, name});
        },
        targetPath, stillWanted, whileSyncing);
}

} // namespace zelmod
