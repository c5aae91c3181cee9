#include "job/NativePath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstring>

#ifdef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zelmod {

#ifdef Q_OS_WIN
// The C library and the converters' command lines take names in the
// system's code page.
QString pathFromNative(const QByteArray& bytes) {
    return QString::fromLocal8Bit(bytes);
}

QByteArray nativePath(const QString& path) {
    return path.toLocal8Bit();
}

std::filesystem::path filesystemPath(const QString& path) {
    return std::filesystem::path(path.toStdWString());
}

QString pathFromFilesystem(const std::filesystem::path& path) {
    return QString::fromStdWString(path.native());
}
#else
namespace {

constexpr char16_t escapeBase = 0xDC00;

// The length of the well-formed UTF-8 sequence at bytes[i], or 0.
int sequenceLength(const QByteArray& bytes, qsizetype i) {
    const auto byte = [&](qsizetype at) { return static_cast<unsigned char>(bytes[at]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    const int length = lead >= 0xC2 && lead <= 0xDF   ? 2
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                      : 0;
    if (length == 0 || i + length > bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    }
    const unsigned char second = byte(i + 1);
    // Overlong forms, UTF-16 surrogates and code points above U+10FFFF.
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

} // namespace

QString pathFromNative(const QByteArray& bytes) {
    QString path;
    path.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const int length = sequenceLength(bytes, i);
        if (length == 0) {
            path += QChar(char16_t(escapeBase + static_cast<unsigned char>(bytes[i])));
            ++i;
        } else {
            path += QString::fromUtf8(bytes.constData() + i, length);
            i += length;
        }
    }
    return path;
}

QByteArray nativePath(const QString& path) {
    QByteArray bytes;
    bytes.reserve(path.size());
    qsizetype plainStart = 0;
    const auto flushPlain = [&](qsizetype end) {
        bytes += QStringView(path).mid(plainStart, end - plainStart).toUtf8();
    };
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t unit = path[i].unicode();
        if (unit >= escapeBase + 0x80 && unit <= escapeBase + 0xFF) {
            flushPlain(i);
            bytes += char(unit - escapeBase);
            plainStart = i + 1;
        }
    }
    flushPlain(path.size());
    return bytes;
}

std::filesystem::path filesystemPath(const QString& path) {
    return std::filesystem::path(nativeString(path));
}

QString pathFromFilesystem(const std::filesystem::path& path) {
    return pathFromNative(QByteArray::fromStdString(path.native()));
}
#endif

bool writeAll(QIODevice& file, const char* data, qint64 size) {
    for (qint64 done = 0; done < size;) {
        const qint64 count = file.write(data + done, size - done);
        if (count <= 0)
            return false;
        done += count;
    }
    return true;
}

#ifdef Q_OS_WIN
// Windows keeps names in UTF-16, which a QString holds exactly. A file is
// created only where nothing is, a link included, and while it is open no
// one else may write to it or delete it.
std::optional<JobFailure> openNative(QFile& file, const QString& path, QIODevice::OpenMode mode,
                                     JobMessageId failureId) {
    file.setFileName(path);
    if (!(mode & QIODevice::WriteOnly)) {
        if (!file.open(mode))
            return fileFailure(failureId, path, file.errorString());
        return std::nullopt;
    }
    const QString nativeName = QDir::toNativeSeparators(path);
    const auto wide = reinterpret_cast<LPCWSTR>(nativeName.utf16());
    const bool reading = mode & QIODevice::ReadOnly;
    const DWORD access = reading ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
    const HANDLE handle = CreateFileW(wide, access, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return fileFailure(failureId, path, qt_error_string(int(GetLastError())));
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                   (reading ? _O_RDWR : _O_WRONLY) | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return fileFailure(failureId, path, systemErrorText(errno));
    }
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        _close(fd);
        return fileFailure(failureId, path, file.errorString());
    }
    return std::nullopt;
}

// By the open handle: a file opened from a descriptor has no name in QFile.
bool isRegularFile(const QFile& file) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileType(handle) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(handle, &information) &&
           !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isPrivateFile(const QFile& file) {
    return isRegularFile(file);
}

bool existsNative(const QString& path) {
    return QFileInfo::exists(path);
}

QString removeNative(const QString& path) {
    QFile file(path);
    if (file.remove() || !QFileInfo::exists(path))
        return QString();
    return file.errorString();
}

QString setNormalAttributes(const QString& path) {
    const QString nativeName = QDir::toNativeSeparators(path);
    const auto wide = reinterpret_cast<LPCWSTR>(nativeName.utf16());
    const DWORD attributes = GetFileAttributesW(wide);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return QString(); // a link keeps its own attributes; its target is not touched
    return SetFileAttributesW(wide, FILE_ATTRIBUTE_NORMAL) ? QString()
                                                           : qt_error_string(int(GetLastError()));
}

QString resolvedFolder(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(folder).absolutePath()) : canonical;
}

QString programDirectory() {
    return QCoreApplication::applicationDirPath();
}
#else
std::optional<JobFailure> openNative(QFile& file, const QString& path, QIODevice::OpenMode mode,
                                     JobMessageId failureId) {
    const bool writing = mode & QIODevice::WriteOnly;
    const int access = mode & QIODevice::ReadOnly ? O_RDWR : O_WRONLY;
    const int flags = writing ? access | O_CREAT | O_EXCL | O_NOFOLLOW : O_RDONLY | O_NONBLOCK;
    const int fd = ::open(nativePath(path).constData(), flags | O_CLOEXEC, 0600);
    if (fd < 0)
        return fileFailure(failureId, path, systemErrorText(errno));
    if (!writing)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fileFailure(failureId, path, file.errorString());
    }
    return std::nullopt;
}

bool isRegularFile(const QFile& file) {
    struct stat status {};
    return ::fstat(file.handle(), &status) == 0 && S_ISREG(status.st_mode);
}

bool isPrivateFile(const QFile& file) {
    struct stat status {};
    return ::fstat(file.handle(), &status) == 0 && S_ISREG(status.st_mode) &&
           status.st_uid == ::geteuid() && status.st_nlink == 1 && (status.st_mode & 07777) == 0600;
}

bool existsNative(const QString& path) {
    struct stat status {};
    return ::stat(nativePath(path).constData(), &status) == 0;
}

QString removeNative(const QString& path) {
    if (::unlink(nativePath(path).constData()) == 0 || errno == ENOENT)
        return QString();
    return systemErrorText(errno);
}

QString setNormalAttributes(const QString& path) {
    const QByteArray name = nativePath(path);
    struct stat status {};
    if (::lstat(name.constData(), &status) != 0)
        return systemErrorText(errno);
    const mode_t normal = S_IRUSR | S_IWUSR;
    if (!S_ISREG(status.st_mode) || (status.st_mode & normal) == normal)
        return QString();
    if (::fchmodat(AT_FDCWD, name.constData(), (status.st_mode | normal) & 07777,
                   AT_SYMLINK_NOFOLLOW) != 0)
        return systemErrorText(errno);
    return QString();
}

QString resolvedFolder(const QString& folder) {
    char resolved[PATH_MAX];
    if (::realpath(nativePath(folder).constData(), resolved))
        return pathFromNative(QByteArray(resolved));
    return QDir::cleanPath(QDir(folder).absolutePath());
}

QString programDirectory() {
    char target[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", target, sizeof target);
    if (length <= 0 || length == ssize_t(sizeof target))
        return QCoreApplication::applicationDirPath();
    const QByteArray program(target, length);
    return pathFromNative(program.left(program.lastIndexOf('/')));
}

#endif

QString pathIdentity(const QString& path) {
    const QFileInfo file(path);
    return resolvedFolder(file.absolutePath()) + QLatin1Char('/') + file.fileName();
}

QString systemErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace zelmod
