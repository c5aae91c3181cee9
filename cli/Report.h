// How each file of a run ended, and the record of it that --report writes
// for scripts: one JSON object per input and line, in input order.
#pragma once

#include "cli/InputList.h"

#include <QString>

#include <cstdio>

namespace zelmod {

enum class FileStatus { Written, Skipped, Failed, Interrupted };

struct FileRecord {
    FileStatus status = FileStatus::Interrupted; // until the file's job has ended
    QString message;     // the job's message; for a failure, what failed and why
    quint64 clamped = 0; // values that had to be kept within their bounds
    double seconds = 0;
};

class ReportFile {
  public:
    ReportFile() = default;
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // Creates path afresh, open to its owner alone; "-" is standard output.
    // An existing file or a link there is refused, so no run overwrites
    // another's record. Gives why not, or nothing.
    std::optional<QString> create(const QString& path);
    void write(const FileJob& file, Job job, const FileRecord& record);
    // Whether every record reached the file.
    bool close();

  private:
    std::FILE* file_ = nullptr;
};

// The JSON form of a text: paths whose bytes are not UTF-8 keep them as
// \udc80..\udcff escapes.
QByteArray jsonString(const QString& text);

} // namespace zelmod
