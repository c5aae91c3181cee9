#include "cli/Console.h"

#include "files/Files.h"
#include "job/NativePath.h"

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zelmod {
namespace {

bool errorOutputIsTerminal() {
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr));
#else
    return ::isatty(STDERR_FILENO);
#endif
}

// The progress line is redrawn at most this often.
constexpr qint64 progressIntervalMs = 100;

QString fileLines(const FileJob& file, const QString& message) {
    QString text = message;
    text.replace(QLatin1Char('\n'), QLatin1String("\n    "));
    return shownPath(file.input) + QStringLiteral(": ") + text + QLatin1Char('\n');
}

QString timeText(qint64 seconds) {
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

// Paths in the text come out with their own bytes, control characters
// escaped, so that a file name cannot drive the terminal.
void print(std::FILE* stream, const QString& text) {
    std::fputs(convert::escapedControls(nativeString(text), "\n").c_str(), stream);
    std::fflush(stream);
}

// The progress line's own carriage return and line clearing, unescaped.
static void printTerminalControl(const char* control) {
    std::fputs(control, stderr);
    std::fflush(stderr);
}

Console::Console(bool quiet, bool messagesToErrorOutput, qsizetype total)
    : quiet_(quiet), onTerminal_(!quiet && errorOutputIsTerminal()),
      messages_(messagesToErrorOutput ? stderr : stdout), total_(total) {
    clock_.start();
}

void Console::complain(const QString& text) {
    print(stderr, QStringLiteral("zelmod-cli: ") + text + QLatin1Char('\n'));
}

void Console::fileStarted(qsizetype index, const FileJob& file) const {
    if (!quiet_ && !onTerminal_ && total_ > 1)
        print(stderr,
              QStringLiteral("[%1/%2] %3\n").arg(index + 1).arg(total_).arg(shownPath(file.input)));
}

void Console::fileEnded(const FileJob& file, const FileRecord& record) {
    ++done_;
    const bool failed = record.status == FileStatus::Failed;
    failed_ += failed;
    clearProgress();
    if (failed)
        print(stderr, fileLines(file, record.message));
    else if (!quiet_ && !onTerminal_ && record.status == FileStatus::Written)
        print(messages_, fileLines(file, record.message));
    showProgress();
}

void Console::showProgress() {
    const qint64 now = clock_.elapsed();
    if (!onTerminal_ || (shownAt_ >= 0 && now - shownAt_ < progressIntervalMs && done_ < total_))
        return;
    shownAt_ = now;
    const double perSecond = now > 0 ? done_ * 1000.0 / now : 0;
    const QString left =
        perSecond > 0 ? timeText(qint64((total_ - done_) / perSecond)) : QStringLiteral("-");
    printTerminalControl("\r");
    print(stderr, QStringLiteral("%1/%2 done, %3 failed, %4 files/s, %5 left")
                      .arg(done_)
                      .arg(total_)
                      .arg(failed_)
                      .arg(perSecond, 0, 'f', 1)
                      .arg(left));
    printTerminalControl("\x1b[K");
}

void Console::clearProgress() {
    if (onTerminal_ && shownAt_ >= 0)
        printTerminalControl("\r\x1b[K");
}

void Console::summarize(const QList<FileJob>& files, const QList<FileRecord>& records) {
    clearProgress();
    shownAt_ = -1;
    if (quiet_)
        return;
    qsizetype counts[4] = {};
    quint64 clamped = 0;
    QString failures;
    for (qsizetype i = 0; i < records.size(); ++i) {
        ++counts[int(records[i].status)];
        clamped += records[i].clamped;
        if (records[i].status == FileStatus::Failed)
            failures += QStringLiteral("  failed: ") + fileLines(files[i], records[i].message);
    }
    QString text = QStringLiteral("written %1, skipped %2, failed %3, clamped %4, %5 s\n")
                       .arg(counts[int(FileStatus::Written)])
                       .arg(counts[int(FileStatus::Skipped)])
                       .arg(counts[int(FileStatus::Failed)])
                       .arg(clamped)
                       .arg(clock_.elapsed() / 1000.0, 0, 'f', 1);
    if (const qsizetype undone = counts[int(FileStatus::Interrupted)])
        text += QStringLiteral("not done (interrupted) %1\n").arg(undone);
    print(messages_, text + failures);
}

} // namespace zelmod
