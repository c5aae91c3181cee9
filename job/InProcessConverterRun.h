// Runs the converters as calls into their library on a thread of its own,
// with the exit code and the error line their programs would give: the
// same job without a script or a process for each conversion.
#pragma once

#include "job/ConverterRunner.h"
#include "job/EventTextRewrite.h"
#include "job/ToolFolders.h"
#include "job/WorkerThread.h"

#include "files/TextPipe.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>

namespace zelmod {

// The rewrite between the converters, on the text as it comes.
using ChainRewrite = std::function<RewriteResult(QIODevice& source, QIODevice& target)>;

// How the three steps of a chain ended, each as it would have alone. A
// step after one that failed, or that was cancelled, stopped early or never
// ran, and its result says nothing.
struct ChainResult {
    ConverterRunResult toText;
    RewriteResult rewrite;
    ConverterRunResult toMidi;
    bool cancelled = false;
};

// The converter to text, the rewrite and the converter back to MIDI of one
// input as one piece of work, with no stop on the job's event loop between
// them. Files in memory pass from one step to the next. For files on disk,
// the three run at once: the text streams from each to the next through
// bounded pipes in memory, never through a file, and the converters run on
// threads of their own beside the rewrite. Each still runs to its end after
// a later one failed, so that the first failure is the one a job reports,
// as when they run one after another; the bytes written are the same.
class ConversionChain : public QObject {
    Q_OBJECT
  public:
    explicit ConversionChain(QString workDir, QObject* parent = nullptr);
    ~ConversionChain() override;

    // The input copy to the output MIDI file, in memory when given, else
    // in the working folder; finished follows, never before start has returned.
    void start(MemoryWorkFiles* memory, ChainRewrite rewrite);
    // Stops the streaming steps within a piece of text (those in memory run
    // to their end); finished then says cancelled. Safe from any thread.
    void cancel();

  signals:
    void finished(const zelmod::ChainResult& result);

  private:
    ChainResult inMemory(MemoryWorkFiles& memory, const ChainRewrite& rewrite) const;
    ChainResult streamed(const ChainRewrite& rewrite);

    QString workDir_;
    std::mutex pipes_;                      // made and dropped by start(), cancelled from anywhere
    std::optional<convert::TextPipe> text_; // of a chain on files
    std::optional<convert::TextPipe> rewritten_;
    std::atomic<bool> cancelled_ = false;
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
    // Lets the job run both converters and its rewrite as one piece of work.
    void runConversionChain() { chain_.emplace(folders_.workDir, this); }
    ConversionChain* conversionChain() override { return chain_ ? &*chain_ : nullptr; }

  private:
    ToolFolders folders_;
    std::optional<MemoryWorkFiles> memory_;
    std::optional<ConversionChain> chain_;
    // Waits, when destroyed, for a conversion that still runs: it writes
    // into the working folder.
    WorkerThread worker_{this};
    bool cancelled_ = false;
};

} // namespace zelmod
