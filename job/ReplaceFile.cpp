#include "ReplaceFile.h"

#include "JobFiles.h"

#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace zelmod {
namespace {

std::filesystem::path fsPath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

bool copyInto(QFile& source, QFile& partial) {
    constexpr qint64 chunk = 256 * 1024;
    QByteArray buffer(chunk, Qt::Uninitialized);
    for (;;) {
        const qint64 count = source.read(buffer.data(), chunk);
        if (count < 0)
            return false;
        if (count == 0)
            return true;
        if (partial.write(buffer.constData(), count) != count)
            return false;
    }
}

// The data reaches the disk before the rename makes it the output.
bool syncToDisk(QFile& file) {
#ifdef Q_OS_WIN
    Q_UNUSED(file);
    return true;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

bool writePartial(const QString& sourcePath, const QString& partialPath, QString& errorText) {
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        errorText = source.errorString();
        return false;
    }
    QFile partial(partialPath);
    if (!partial.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        errorText = partial.errorString();
        return false;
    }
    if (!copyInto(source, partial) || !partial.flush() || !syncToDisk(partial)) {
        errorText =
            partial.error() != QFileDevice::NoError ? partial.errorString() : source.errorString();
        return false;
    }
    partial.close();
    errorText = partial.errorString();
    return partial.error() == QFileDevice::NoError;
}

} // namespace

QString partialPathFor(const QString& outputPath) {
    const QFileInfo output(outputPath);
    return output.absolutePath() + QStringLiteral("/.") + output.fileName() +
           QStringLiteral(".zelmod-partial");
}

bool replaceFileWithCopy(const QString& sourcePath, const QString& targetPath, QString& errorText) {
    const QString partialPath = partialPathFor(targetPath);
    makeReplaceable(partialPath);
    QFile::remove(partialPath);
    if (!writePartial(sourcePath, partialPath, errorText)) {
        QFile::remove(partialPath);
        return false;
    }
    makeReplaceable(targetPath);
    std::error_code error;
    std::filesystem::rename(fsPath(partialPath), fsPath(targetPath), error);
    if (error) {
        errorText = QString::fromLocal8Bit(error.message());
        QFile::remove(partialPath);
        return false;
    }
    return true;
}

} // namespace zelmod
