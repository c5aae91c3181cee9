// Converts the planned files, a number of them at once, and keeps a record
// of each: the report and the summary in input order, whatever order the
// files end in.
#pragma once

#include "cli/Console.h"
#include "cli/InputList.h"
#include "cli/Interruption.h"
#include "cli/Report.h"
#include "job/ConversionJob.h"
#include "job/ToolFolders.h"
#include "job/WorkerThread.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>

#include <atomic>
#include <memory>
#include <set>
#include <vector>

namespace zelmod {

class BatchRun : public QObject {
    Q_OBJECT
  public:
    // Each of the jobs at once works in a folder of its own below
    // folders.workDir, unless the request runs them through batch files,
    // which the window's working folder takes one at a time.
    BatchRun(const CliRequest& request, const QList<FileJob>& files, ToolFolders folders,
             ReportFile& report, QObject* parent = nullptr);
    ~BatchRun() override;

    void start();

  signals:
    // After the summary: every file has ended or the run was interrupted.
    void finished(int exitStatus);

  private:
    struct Slot;

    void startFiles();
    qsizetype takeNextFile(Slot& slot);
    bool isInUse(std::size_t run) const;
    void handOver(Slot& slot, qsizetype index);
    void makeJob(Slot& slot);
    // On the slot's thread.
    void startNext(Slot& slot);
    void jobEnded(Slot& slot, ConversionJob::Outcome outcome);
    void handBack(Slot& slot, qsizetype index, const FileRecord& record,
                  std::unique_ptr<PendingReplacement> replacement);
    // Back on the run's thread.
    void fileConverted(Slot& slot, qsizetype index, const FileRecord& record,
                       const QElapsedTimer& clock, std::unique_ptr<PendingReplacement> replacement);
    void commit(qsizetype index, const FileRecord& written, const QElapsedTimer& clock,
                std::unique_ptr<PendingReplacement> replacement);
    void fileEnded(qsizetype index, const FileRecord& record);
    void interrupt();
    void finish();
    std::optional<FileRecord> recordBeforeJob(const FileJob& file) const;
    ToolFolders slotFolders(std::size_t slot) const;

    const CliRequest& request_;
    const QList<FileJob>& files_;
    ToolFolders folders_;
    ReportFile& report_;
    Console console_;
    Interruption interruption_;
    std::vector<std::unique_ptr<Slot>> slots_;
    QList<FileRecord> records_;
    std::vector<bool> ended_;
    // Consecutive files that write into one folder form a run, whose files
    // start in order. A slot keeps to its run; then it takes the first run
    // that no other slot is writing into, so that slots do not queue for
    // one folder's lock. A single slot takes the files in their order.
    struct FolderRun {
        qsizetype next;
        qsizetype end;
    };
    std::vector<FolderRun> runs_;
    std::set<std::size_t> openRuns_; // those with files left to start
    qsizetype started_ = 0;
    qsizetype reported_ = 0; // the files before it are in the report
    int running_ = 0;
    int committing_ = 0; // written files whose commit has not ended
    bool interrupted_ = false;
    std::atomic<bool> stopping_ = false; // the slots start no more files
    bool finished_ = false;
    // Waits for the written files' data and renames them, one after another,
    // while the slots go on with the next files.
    WorkerThread committer_{this};
};

} // namespace zelmod
