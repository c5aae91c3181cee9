#include "ReplaceFile.h"

#include "Files.h"
#include "NativePath.h"

#include <vector>

namespace zelmod {

QString partialPathFor(const QString& outputPath) {
    return pathFromNative(
        QByteArray::fromStdString(convert::temporaryPathFor(nativeString(outputPath))));
}

bool replaceFileWithCopy(const QString& sourcePath, const QString& targetPath, QString& errorText,
                         const std::function<bool()>& stillWanted) {
    const auto wanted = [&] { return !stillWanted || stillWanted(); };
    try {
        convert::InputFile source(nativeString(sourcePath));
        convert::OutputFile target(nativeString(targetPath));
        std::vector<unsigned char> piece(convert::FileBufferSize);
        while (const std::size_t count = source.read(piece.data(), piece.size())) {
            target.write(piece.data(), count);
            if (!wanted())
                return false;
        }
        if (!wanted())
            return false;
        target.commit(true);
        return true;
    } catch (const convert::ConversionError& error) {
        errorText = pathFromNative(QByteArray(error.what()));
        return false;
    }
}

} // namespace zelmod
