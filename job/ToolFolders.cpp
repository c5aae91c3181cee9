#include "job/ToolFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace zelmod {

ToolFolders toolFoldersOf(const QString& programDir) {
    if (!QFileInfo(QDir(programDir).filePath(QLatin1String(installedMarkerName))).isFile())
        return {programDir, programDir};
    return {programDir, QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)};
}

std::optional<JobFailure> makeWorkDir(const QString& workDir) {
    if (QFileInfo(workDir).isDir())
        return std::nullopt;
    // The folders above are the user's own and are made as usual; should
    // that fail, the mkdir below says why.
    QDir().mkpath(QFileInfo(workDir).absolutePath());
    // Created with its mode at once, so that no other user ever enters it.
    if (QDir().mkdir(workDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return std::nullopt;
    return fileFailure(JobMessageId::ToolDirUnwritable, workDir, qt_error_string());
}

} // namespace zelmod
