#include "job/ReplaceFile.h"

#include "files/Files.h"
#include "job/NativePath.h"

#include <optional>

namespace zelmod {

QString partialPathFor(const QString& outputPath, const QString& tag) {
    return pathFromNative(QByteArray::fromStdString(
        convert::partialPathFor(nativeString(outputPath), nativeString(tag))));
}

std::optional<JobFailure> replaceFileWithCopy(const QString& sourcePath, const QString& targetPath,
                                              const std::function<bool()>& stillWanted,
                                              const std::function<void()>& whileSyncing) {
    const auto wanted = [&] { return !stillWanted || stillWanted(); };
    const JobMessageId failureId =
        existsNative(targetPath) ? JobMessageId::OutputUnwritable : JobMessageId::OutputUncreatable;
    try {
        std::optional<convert::InputFile> source(std::in_place, nativeString(sourcePath));
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

} // namespace zelmod
