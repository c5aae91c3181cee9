#include "app/basDatFileManager.h"

#include "app/basStrSub.h"
#include "job/NativePath.h"

#include <QDir>
#include <QFile>
#include <QtDebug>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

bool setNormalAttributes(const QString& path) {
    const QString failure = zelmod::setNormalAttributes(path);
    if (!failure.isEmpty())
        reportFailure("cannot reset the attributes of", path, failure);
    return failure.isEmpty();
}

#ifdef Q_OS_WIN
QString openForReading(QFile& file) {
    return file.open(QIODevice::ReadOnly) ? QString() : file.errorString();
}

// Made afresh for its owner; an old file that could not be removed is written over.
QString openForWriting(QFile& file) {
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                  QFile::ReadOwner | QFile::WriteOwner) ||
        file.open(QIODevice::WriteOnly | QIODevice::ExistingOnly | QIODevice::Truncate))
        return QString();
    return file.errorString();
}
#else
QString adopt(QFile& file, int fd, QIODevice::OpenMode mode) {
    if (fd < 0)
        return zelmod::systemErrorText(errno);
    if (file.open(fd, mode, QFileDevice::AutoCloseHandle))
        return QString();
    ::close(fd);
    return file.errorString();
}

// The file itself, never a link or a pipe in its place.
QString openForReading(QFile& file) {
    const QByteArray name = zelmod::nativePath(file.fileName());
    return adopt(file, ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC),
                 QIODevice::ReadOnly);
}

// Made afresh for its owner alone. An old file that could not be removed
// (a folder the user may not write to) is written over only when it is the
// user's own regular file that nothing else links to.
QString openForWriting(QFile& file) {
    const QByteArray name = zelmod::nativePath(file.fileName());
    int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        fd = ::open(name.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat status {};
        if (fd >= 0 &&
            (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
             status.st_uid != ::geteuid() || status.st_nlink != 1 || ::ftruncate(fd, 0) != 0)) {
            ::close(fd);
            fd = -1;
            errno = EPERM;
        }
    }
    return adopt(file, fd, QIODevice::WriteOnly);
}
#endif

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
    struct stat status {};
    return ::lstat(zelmod::nativePath(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
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
    if (const QString failure = openForReading(file); !failure.isEmpty()) {
        reportFailure("cannot open", path, failure);
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
    // The old file goes first, whatever its attributes, and so does a link
    // or a pipe in its place; a failure here is dealt with below.
    zelmod::setNormalAttributes(path);
    zelmod::removeNative(path);
    QFile file(path);
    QString failure = openForWriting(file);
    const QByteArray content = basStrSub::SetupHeader.toLocal8Bit() + "\r\n";
    if (failure.isEmpty() &&
        !(zelmod::writeAll(file, content.constData(), content.size()) && file.flush()))
        failure = file.errorString();
    if (!failure.isEmpty()) {
        reportFailure("cannot write", path, failure);
        return false;
    }
    file.close();
    return setNormalAttributes(path);
}

} // namespace basDatFileManager
