// File names as the system stores them. A name need not be valid UTF-8 (a
// Shift_JIS or Latin-1 name from an archive made on Windows); such bytes are
// carried in a QString as U+DC80..U+DCFF, so that every byte comes back
// exactly, and every file the job touches is opened through these bytes.
// On Windows the bytes are the system's code page, in which the C library
// opens files.
#pragma once

#include "job/JobMessages.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <filesystem>
#include <string>

namespace zelmod {

QByteArray nativePath(const QString& path);
QString pathFromNative(const QByteArray& bytes);
inline std::string nativeString(const QString& path) {
    return nativePath(path).toStdString();
}
// The name as a std::filesystem path, and back: UTF-16 on Windows, where
// the library does not read narrow names in the system's code page; the
// name's bytes elsewhere.
std::filesystem::path filesystemPath(const QString& path);
QString pathFromFilesystem(const std::filesystem::path& path);

// Opens path: ReadOnly, or WriteOnly (ReadWrite) to create it afresh for its owner alone
// (0600), failing when anything, a link included, is in its place. A read
// never waits for a pipe's writer. A failure is reported as failureId with
// the path and the system's reason.
std::optional<JobFailure> openNative(QFile& file, const QString& path, QIODevice::OpenMode mode,
                                     JobMessageId failureId);
// Whether file is a regular file (not a pipe, a device or a folder).
bool isRegularFile(const QFile& file);
// Whether file is one only its owner, this user, can reach: a regular file
// with one link and mode 0600. On Windows, whether it is a regular file.
bool isPrivateFile(const QFile& file);
// Writes all of data. A short write (a disk just filled up) sets no error,
// so the rest is written again until the system names the cause.
bool writeAll(QIODevice& file, const char* data, qint64 size);
bool existsNative(const QString& path);
// Removes the file; the system's reason when one stays there, or an empty text.
QString removeNative(const QString& path);
// Sets a file's attributes to normal, as before it is read, replaced or
// deleted: on Windows clears read-only, hidden, system and archive;
// elsewhere gives its owner read and write. Never through a link. The
// system's reason when that fails, or an empty text.
QString setNormalAttributes(const QString& path);
// The folder with its links resolved, or the path cleaned when it does not exist.
QString resolvedFolder(const QString& folder);

// Where a path leads: its folder resolved and its file name. Two paths to
// one place have the same identity, compared with fileNameCase.
QString pathIdentity(const QString& path);
#ifdef Q_OS_WIN
inline constexpr Qt::CaseSensitivity fileNameCase = Qt::CaseInsensitive;
#else
inline constexpr Qt::CaseSensitivity fileNameCase = Qt::CaseSensitive;
#endif

// The folder that holds the running program.
QString programDirectory();

// The system's text for an error number.
QString systemErrorText(int error);

} // namespace zelmod
