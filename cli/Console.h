// What a zelmod-cli run prints while it runs and when it ends. On a
// terminal one line shows the progress and is redrawn; elsewhere each file
// gets its own lines, for logs. Every message is written as whole lines.
#pragma once

#include "cli/Report.h"

#include <QElapsedTimer>
#include <QList>

#include <cstdio>

namespace zelmod {

class Console {
  public:
    // messagesToErrorOutput: standard output carries the converted file.
    Console(bool quiet, bool messagesToErrorOutput, qsizetype total);

    // May be called from any thread: it changes nothing.
    void fileStarted(qsizetype index, const FileJob& file) const;
    void fileEnded(const FileJob& file, const FileRecord& record);
    // Written, skipped, failed (each with its reason), clamped, and the time.
    void summarize(const QList<FileJob>& files, const QList<FileRecord>& records);
    // A message of the program itself, after "zelmod-cli: ".
    static void complain(const QString& text);

  private:
    void showProgress();
    void clearProgress();

    const bool quiet_;
    const bool onTerminal_;
    std::FILE* const messages_;
    const qsizetype total_;
    qsizetype done_ = 0;
    qsizetype failed_ = 0;
    QElapsedTimer clock_;
    qint64 shownAt_ = -1;
};

// Prints text, paths in it with their own bytes.
void print(std::FILE* stream, const QString& text);

} // namespace zelmod
