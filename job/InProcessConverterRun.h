// Runs the converters as calls into their library on a thread of its own,
// with the exit code and the error line their programs would give: the
// same job without a script or a process for each conversion.
#pragma once

#include "job/ConverterRunner.h"
#include "job/EventTextRewrite.h"
#include "job/ToolFolders.h"
#include "job/WorkerThread.h"

#include "files/TextPipe.h"

#include <functional>
#include <optional>

namespace zelmod {

// The rewrite between the converters, on the text as it streams through.
using StreamedRewrite = std::function<RewriteResult(QIODevice& source, QIODevice& target)>;

// How the three steps of a streamed conversion ended, each as it would have
// alone. A step after one that failed, or that was cancelled, stopped early
// and its result says nothing.
struct StreamedRunResult {
    ConverterRunResult toText;
    RewriteResult rewrite;
    ConverterRunResult toMidi;
    bool cancelled = false;
};

// The converter to text, the rewrite and the converter back to MIDI of one
// input at once: the text streams from each to the next through bounded
// pipes in memory, never through a file, and the converters run on threads
// of their own beside the rewrite. Each still runs to its end after a later
// one failed, so that the first failure is the one a job reports, as when
// they run one after another; the bytes written are the same.
class StreamedConversion : public QObject {
    Q_OBJECT
  public:
    explicit StreamedConversion(QString workDir, QObject* parent = nullptr);
    ~StreamedConversion() override;

    // The input copy in the working folder to the output MIDI file there;
    // finished follows, never before start has returned.
    void start(StreamedRewrite rewrite);
    // Stops all three within a piece of text; finished then says cancelled.
    void cancel();

  signals:
    void finished(const zelmod::StreamedRunResult& result);

  private:
    QString workDir_;
    std::optional<convert::TextPipe> text_;
    std::optional<convert::TextPipe> rewritten_;
    bool cancelled_ = false;
    // Declared last: destroyed first, it waits for the run, which a cancel
    // has stopped, before the pipes go.
    WorkerThread worker_{this};
};

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
    // Lets the job stream the text of a larger input from converter to converter.
    void streamEventText() { streamed_.emplace(folders_.workDir); }
    StreamedConversion* streamedConversion() override { return streamed_ ? &*streamed_ : nullptr; }

  private:
    ToolFolders folders_;
    std::optional<MemoryWorkFiles> memory_;
    std::optional<StreamedConversion> streamed_;
    // Waits, when destroyed, for a conversion that still runs: it writes
    // into the working folder.
    WorkerThread worker_{this};
    bool cancelled_ = false;
};

} // namespace zelmod
