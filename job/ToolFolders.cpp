#include "job/ToolFolders.h"

#include "job/NativePath.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include "job/FolderSecurity.h"
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zelmod {
namespace {

// Whether another user may put files into the folder: it is another's, or
// its group or everyone may write to it (on Windows, its access list lets
// someone else write). Such a folder is no place for the work files, whose
// names anyone can foresee. So is one whose owner cannot be learnt.
bool othersMayWrite(const QString& folder) {
#ifdef Q_OS_WIN
    return FolderSecurity::of(folder).othersHave(FolderAccess::Write);
#else
    struct stat status {};
    return ::stat(nativePath(folder).constData(), &status) != 0 || status.st_uid != ::geteuid() ||
           (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
#endif
}

// The application's per-user data folder. A relative XDG_DATA_HOME is
// ignored, as the XDG rules say.
QString perUserFolder() {
    const QString location = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
#ifndef Q_OS_WIN
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!dataHome.isEmpty() && QDir::isRelativePath(dataHome) && location.startsWith(dataHome))
        return QDir::homePath() + QStringLiteral("/.local/share") + location.mid(dataHome.size());
#endif
    return location;
}

// Refuses a working folder that is another user's; closes one of the user's
// own to others (the per-user folder to all, a program folder to writers).
#ifdef Q_OS_WIN
// On Windows the system and the administrators may own it too, as they own
// what an elevated program made. Only the per-user folder's access list is
// ever changed; a program folder others may write to is never the working
// folder.
std::optional<JobFailure> keepPrivate(const QString& workDir) {
    const FolderSecurity security = FolderSecurity::of(workDir);
    if (!security.isRead())
        return fileFailure(JobMessageId::ToolDirUnwritable, workDir, security.errorText());
    if (!security.ownerIsTrusted())
        return JobFailure{JobMessageId::WorkDirNotOwned, {shownPath(workDir)}};
    if (workDir != perUserFolder() || !security.othersHave(FolderAccess::Any))
        return std::nullopt;
    if (const QString error = FolderSecurity::closeToOthers(workDir); !error.isEmpty())
        return fileFailure(JobMessageId::ToolDirUnwritable, workDir, error);
    return std::nullopt;
}
#else
std::optional<JobFailure> keepPrivate(const QString& workDir) {
    const int fd = ::open(nativePath(workDir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return fileFailure(JobMessageId::ToolDirUnwritable, workDir, systemErrorText(errno));
    struct stat status {};
    const bool owned = ::fstat(fd, &status) == 0 && status.st_uid == ::geteuid();
    const mode_t closed = workDir == perUserFolder() ? 077 : 022;
    const bool fixed =
        !owned || (status.st_mode & closed) == 0 || ::fchmod(fd, status.st_mode & 0700) == 0;
    const int error = errno;
    ::close(fd);
    if (!owned)
        return JobFailure{JobMessageId::WorkDirNotOwned, {shownPath(workDir)}};
    if (!fixed)
        return fileFailure(JobMessageId::ToolDirUnwritable, workDir, systemErrorText(error));
    return std::nullopt;
}
#endif

// Makes the folder open to its owner alone from the start, so that no other
// user ever enters it. The system's reason when that fails.
QString makePrivateFolder(const QString& folder) {
#ifdef Q_OS_WIN
    return FolderSecurity::makePrivateFolder(folder);
#else
    if (QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return QString();
    return qt_error_string();
#endif
}

} // namespace

ToolFolders toolFoldersOf(const QString& programDir) {
    const bool installed =
        QFileInfo(QDir(programDir).filePath(QLatin1String(installedMarkerName))).isFile();
    if (!installed && !othersMayWrite(programDir))
        return {programDir, programDir};
    return {programDir, perUserFolder()};
}

std::optional<JobFailure> makeWorkDir(const QString& workDir) {
    if (QFileInfo(workDir).isDir())
        return keepPrivate(workDir);
    // The folders above are the user's own and are made as usual; should
    // that fail, the working folder's own making says why.
    QDir().mkpath(QFileInfo(workDir).absolutePath());
    if (const QString error = makePrivateFolder(workDir); !error.isEmpty())
        return fileFailure(JobMessageId::ToolDirUnwritable, workDir, error);
    return std::nullopt;
}

} // namespace zelmod
