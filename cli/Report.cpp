#include "cli/Report.h"

#include "job/NativePath.h"
#include "job/amount/ShiftAmount.h"

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>

namespace zelmod {
namespace {

// A new file at path, open to its owner alone, or nullptr with errno set
// when a file or a link is there or it cannot be made.
std::FILE* createdAfresh(const QString& path) {
#ifdef Q_OS_WIN
    return _wfopen(reinterpret_cast<const wchar_t*>(path.utf16()), L"wbx");
#else
    const int fd = ::open(nativePath(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    std::FILE* file = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (fd >= 0 && !file) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
#endif
}

const char* statusName(FileStatus status) {
    switch (status) {
    case FileStatus::Written:
        return "written";
    case FileStatus::Skipped:
        return "skipped";
    case FileStatus::Failed:
        return "failed";
    case FileStatus::Interrupted:
        break;
    }
    return "interrupted";
}

} // namespace

QByteArray jsonString(const QString& text) {
    QByteArray json("\"");
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit == u'"' || unit == u'\\')
            json.append('\\').append(char(unit));
        else if (unit == u'\n')
            json.append("\\n");
        else if (unit < 0x20 || c.isSurrogate())
            json.append(
                QStringLiteral("\\u%1").arg(unsigned(unit), 4, 16, QLatin1Char('0')).toLatin1());
        else
            json.append(QString(c).toUtf8());
    }
    return json.append('"');
}

ReportFile::~ReportFile() {
    close();
}

std::optional<QString> ReportFile::create(const QString& path) {
    if (path == QLatin1String("-")) {
        file_ = stdout;
        return std::nullopt;
    }
    file_ = createdAfresh(path);
    if (file_)
        return std::nullopt;
    const QString reason = systemErrorText(errno);
    return QStringLiteral("--report: %1: %2").arg(shownPath(path), reason);
}

void ReportFile::write(const FileJob& file, Job job, const FileRecord& record) {
    if (!file_)
        return;
    const double amount = clampAmount(amountFromText(file.amountText.toStdString()));
    const QByteArray line = "{\"input\":" + jsonString(shownPath(file.input)) +
                            ",\"output\":" + jsonString(shownPath(file.output)) +
                            ",\"job\":" + jsonString(jobName(job)) +
                            ",\"amount\":" + QByteArray::number(amount, 'g', 15) +
                            ",\"status\":\"" + statusName(record.status) +
                            "\",\"message\":" + jsonString(record.message) +
                            ",\"clamped\":" + QByteArray::number(record.clamped) +
                            ",\"seconds\":" + QByteArray::number(record.seconds, 'f', 3) + "}\n";
    std::fwrite(line.constData(), 1, std::size_t(line.size()), file_);
}

bool ReportFile::close() {
    if (!file_)
        return true;
    const bool written = file_ == stdout ? std::fflush(file_) == 0 && !std::ferror(file_)
                                         : !std::ferror(file_) && std::fclose(file_) == 0;
    file_ = nullptr;
    return written;
}

} // namespace zelmod
