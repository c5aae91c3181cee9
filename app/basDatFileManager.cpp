#include "app/basDatFileManager.h"

#include "app/basStrSub.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtDebug>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace basDatFileManager {

namespace {

// Windows file attribute bits (winnt.h), spelled out so the test is portable.
constexpr quint32 InvalidAttributes = 0xFFFFFFFFu;
constexpr quint32 SystemAttribute = 0x4u;
constexpr quint32 DirectoryAttribute = 0x10u;

#ifdef Q_OS_WIN
LPCWSTR wide(const QString& text) {
    return reinterpret_cast<LPCWSTR>(text.utf16());
}
#endif

void reportFailure(const char* what, const QString& path, const QString& reason) {
    qWarning().noquote() << QStringLiteral("Zelmod: %1 %2: %3")
                                .arg(QLatin1String(what), QDir::toNativeSeparators(path), reason);
}

// Clears read-only, hidden, system and archive. On other systems the
// equivalent is a file its owner may read and write. Returns the reason of a
// failure, or an empty text.
QString resetAttributes(const QString& path) {
#ifdef Q_OS_WIN
    const QString nativePath = QDir::toNativeSeparators(path);
    return SetFileAttributesW(wide(nativePath), FILE_ATTRIBUTE_NORMAL)
               ? QString()
               : qt_error_string(int(GetLastError()));
#else
    QFile file(path);
    const QFile::Permissions normal = QFile::ReadOwner | QFile::WriteOwner;
    const QFile::Permissions current = file.permissions();
    if ((current & normal) == normal || file.setPermissions(current | normal))
        return QString();
    return file.errorString();
#endif
}

bool setNormalAttributes(const QString& path) {
    const QString failure = resetAttributes(path);
    if (!failure.isEmpty())
        reportFailure("cannot reset the attributes of", path, failure);
    return failure.isEmpty();
}

// The first line of the file, without its line end (CR LF, CR or LF). Only
// one byte more than the header is read: a longer line differs anyway.
bool readFirstLine(QFile& file, QByteArray& line) {
    line = file.read(basStrSub::SetupHeader.toLocal8Bit().size() + 1);
    if (file.error() != QFile::NoError) {
        reportFailure("cannot read", file.fileName(), file.errorString());
        return false;
    }
    if (line.isEmpty()) {
        reportFailure("no line in", file.fileName(), QStringLiteral("the file is empty"));
        return false;
    }
    const auto lineEnd = std::find_if(line.cbegin(), line.cend(),
                                      [](char byte) { return byte == '\r' || byte == '\n'; });
    line.truncate(lineEnd - line.cbegin());
    return true;
}

} // namespace

bool attributesCountAsSetupFile(quint32 attributes) {
    return attributes != InvalidAttributes &&
           (attributes & (SystemAttribute | DirectoryAttribute)) == 0;
}

bool SetupFileExists(const QString& path) {
#ifdef Q_OS_WIN
    const QString nativePath = QDir::toNativeSeparators(path);
    return attributesCountAsSetupFile(GetFileAttributesW(wide(nativePath)));
#else
    return QFileInfo(path).isFile();
#endif
}

bool ReadSetupFile(const QString& path, qint32& mismatch) {
    if (!SetupFileExists(path))
        return false;
    if (!setNormalAttributes(path)) {
        mismatch = 1;
        return false;
    }
    QFile file(path);
    QByteArray line;
    if (!file.open(QIODevice::ReadOnly)) {
        reportFailure("cannot open", path, file.errorString());
        mismatch = 1;
        return false;
    }
    if (!readFirstLine(file, line) || QString::fromLocal8Bit(line) != basStrSub::SetupHeader) {
        mismatch = 1;
        return false;
    }
    return true;
}

bool WriteSetupFile(const QString& path) {
    // The old file goes first, whatever its attributes; a failure here only
    // means that the file is emptied and written over below.
    if (!QFileInfo(path).isDir()) {
        resetAttributes(path);
        QFile::remove(path);
    }
    QSaveFile file(path);
    file.setDirectWriteFallback(true); // a read-only directory may still hold a writable file
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(basStrSub::SetupHeader.toLocal8Bit() + "\r\n") < 0 || !file.commit()) {
        reportFailure("cannot write", path, file.errorString());
        return false;
    }
    return setNormalAttributes(path);
}

} // namespace basDatFileManager
