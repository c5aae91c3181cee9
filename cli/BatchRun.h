// Converts the planned files one after another and keeps a record of each.
#pragma once

#include "cli/Console.h"
#include "cli/InputList.h"
#include "cli/Interruption.h"
#include "cli/Report.h"
#include "job/ToolFolders.h"

#include <QList>
#include <QObject>

namespace zelmod {

class BatchRun : public QObject {
    Q_OBJECT
  public:
    BatchRun(const CliRequest& request, const QList<FileJob>& files, ToolFolders folders,
             ReportFile& report, QObject* parent = nullptr);

    // Runs every file, prints the summary and gives the exit status.
    int run();

  private:
    FileRecord convert(const FileJob& file);
    std::optional<FileRecord> recordBeforeJob(const FileJob& file) const;

    const CliRequest& request_;
    const QList<FileJob>& files_;
    ToolFolders folders_;
    ReportFile& report_;
    Console console_;
    Interruption interruption_;
    QList<FileRecord> records_;
    bool interrupted_ = false;
};

} // namespace zelmod
