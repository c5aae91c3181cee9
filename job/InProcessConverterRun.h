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

  private:
    ToolFolders folders_;
    // Waits, when destroyed, for a conversion that still runs: it writes
    // into the working folder.
    WorkerThread worker_{this};
    bool cancelled_ = false;
};

} // namespace zelmod
