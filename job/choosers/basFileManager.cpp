#include "job/choosers/basFileManager.h"

#include "job/JobMessages.h"
#include "job/choosers/CommonDialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zelmod::basFileManager {
namespace {

constexpr uint OpenFlags = CommonDialog::HideReadOnly | CommonDialog::NoChangeDir |
                           CommonDialog::PathMustExist | CommonDialog::FileMustExist;
constexpr uint SaveFlags = CommonDialog::OverwritePrompt | CommonDialog::HideReadOnly |
                           CommonDialog::NoChangeDir | CommonDialog::PathMustExist;
static_assert(OpenFlags == 0x180C && SaveFlags == 0x080E);

// The all-files pair comes first; the caller's own, second, is preselected.
const char AllFilesFilter[] = "すべてのファイル (*.*)|*.*|";
constexpr int CallerFilterIndex = 2;

void prepare(CommonDialog& dialog, const QString& path, int startMode) {
    switch (startMode) {
    case StartPlain:
        dialog.setFileName({});
        dialog.setInitDir({});
        break;
    case StartInToolDirectory:
        dialog.setFileName({});
        dialog.setInitDir(QCoreApplication::applicationDirPath());
        break;
    case StartFromPath:
        dialog.setFileName({});
        dialog.setInitDir(path);
        break;
    case StartWithPath:
        dialog.setInitDir({});
        dialog.setFileName(path);
        break;
    default: // any other mode leaves the dialog as it is
        break;
    }
}

// Shows the dialog; true with path set to the chosen file, false when it was
// cancelled. The dialog is left with no name and no folder in every case.
bool choose(CommonDialog& dialog, QFileDialog::AcceptMode mode, const QString& title,
            const QString& filter, QString& path, int startMode) {
    const bool save = mode == QFileDialog::AcceptSave;
    prepare(dialog, path, startMode);
    dialog.setDialogTitle(title);
    dialog.setCancelError(true);
    dialog.setFlags(save ? SaveFlags : OpenFlags);
    dialog.setFilter(QString::fromUtf8(AllFilesFilter) + filter);
    dialog.setFilterIndex(CallerFilterIndex);
    const bool shown = save ? dialog.ShowSave() : dialog.ShowOpen();
    const QString fileName = shown ? dialog.fileName() : QString();
    dialog.setFileName({});
    dialog.setInitDir({});
    if (fileName.isEmpty())
        return false;
    path = fileName;
    return true;
}

#ifdef Q_OS_WIN
// A file that another program holds open cannot be opened without sharing.
bool heldByAnotherProgram(const QString& path) {
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return true;
    CloseHandle(file);
    return false;
}
#endif

} // namespace

bool ChooseOpenFile(CommonDialog& dialog, const QString& title, const QString& filter,
                    QString& path, int startMode) {
    return choose(dialog, QFileDialog::AcceptOpen, title, filter, path, startMode);
}

// The file is only checked, never touched: the job replaces it later with a
// complete new file, so a failed conversion still leaves the old one.
bool ChooseSaveFile(CommonDialog& dialog, const QString& title, const QString& filter,
                    QString& path, int startMode) {
    if (!choose(dialog, QFileDialog::AcceptSave, title, filter, path, startMode))
        return false;
    const std::optional<JobMessageId> refusal = replaceRefusal(path);
    if (!refusal)
        return true;
    const JobMessage message = jobMessage(*refusal, {shownPath(path)});
    dialog.showMessage({message.text, message.caption, QMessageBox::NoIcon});
    return false;
}

#ifdef Q_OS_WIN
std::optional<JobMessageId> replaceRefusal(const QString& path) {
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return std::nullopt;
        return JobMessageId::OutputInUse;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY || heldByAnotherProgram(path))
        return JobMessageId::OutputInUse;
    if (attributes & FILE_ATTRIBUTE_READONLY) // a rename does not replace it
        return JobMessageId::OutputReadOnly;
    return std::nullopt;
}
#else
// Replacing a file by renaming another over it needs write access to its
// folder and, in a sticky folder, ownership of the file or the folder.
// A new file is made beside it, so even a new output needs a folder that
// may be written; a missing folder is left for the job to report.
std::optional<JobMessageId> replaceRefusal(const QString& path) {
    const QByteArray file = QFile::encodeName(path);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    struct stat fileStatus {};
    if (lstat(file.constData(), &fileStatus) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            return JobMessageId::OutputInUse;
        const bool denied =
            access(folder.constData(), W_OK | X_OK) != 0 && (errno == EACCES || errno == EROFS);
        return denied ? std::optional(JobMessageId::OutputFolderUnwritable) : std::nullopt;
    }
    if (S_ISDIR(fileStatus.st_mode))
        return JobMessageId::OutputInUse;
    struct stat folderStatus {};
    if (stat(folder.constData(), &folderStatus) != 0 ||
        access(folder.constData(), W_OK | X_OK) != 0)
        return JobMessageId::OutputFolderUnwritable;
    const uid_t user = geteuid();
    const bool sticky = folderStatus.st_mode & S_ISVTX;
    if (sticky && user != 0 && fileStatus.st_uid != user && folderStatus.st_uid != user)
        return JobMessageId::OutputReadOnly;
    return std::nullopt;
}
#endif

} // namespace zelmod::basFileManager
