// Runs the converters as calls into their library on a thread of its own,
// with the exit code and the error line their programs would give: the
// same job without a script or a process for each conversion.
#pragma once

#include "job/ConverterRunner.h"
#include "job/ToolFolders.h"

#include "job/WorkerThread.h"

namespace zelmod {

class InProcessConverterRun : public ConverterRunner {
    Q_OBJECT
  public:
    explicit InProcessConverterRun(ToolFolders folders, QObject* parent = nullptr);

    void start(const ConverterCommand& command) override;
    // A conversion in process runs to its end; finished then says cancelled.
    void cancel() override;
    // Lets the job keep the intermediate files of a small input in memory.
    void keepWorkFilesInMemory() { memory_.emplace(); }
    MemoryWorkFiles* memoryWorkFiles() override { return memory_ ? &*memory_ : nullptr; }

  private:
    ToolFolders folders_;
    std::optional<MemoryWorkFiles> memory_;
    // Waits, when destroyed, for a conversion that still runs: it writes
    // into the working folder.
    WorkerThread worker_{this};
    bool cancelled_ = false;
};

} // namespace zelmod
