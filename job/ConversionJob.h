// One conversion job: the input through the two converters and the line
// rewriter (or reverse playback) to the output, with everything the user
// sees supplied by a host (the window, or the command line).
#pragma once

#include "job/ConverterRunner.h"
#include "job/JobLock.h"
#include "job/JobMessages.h"
#include "job/ReplaceFile.h"
#include "job/WorkerThread.h"
#include "transform/TransformEventLine.h"

#include <QIODevice>
#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

class QFile;

namespace zelmod {

struct RewriteResult;
struct RewriteNames;
struct ChainResult;
class ConversionChain;

// The largest input whose intermediate files a job keeps in memory, where
// its runner lets it: their text takes about ten times the input's size.
inline constexpr qint64 MemoryInputLimit = 512 * 1024;

// What a job needs of the program that runs it.
class JobHost {
  public:
    virtual ~JobHost() = default;
    // The controls that start or change a job.
    virtual void setControlsEnabled(bool enabled) = 0;
    virtual QString amountText() const = 0;
    virtual void setAmountText(const QString& text) = 0;
    virtual bool isJobSelected(int index) const = 0;
    // Ask for a file starting from path; store the chosen one there.
    virtual bool chooseInput(QString& path) = 0;
    virtual bool chooseOutput(QString& path) = 0;
    virtual void showMessage(const JobMessage& message) = 0;
    // Converting: from the first converter's start until the job's message
    // is shown, whatever the way the job ends. A window shows a wait cursor.
    virtual void setBusy(bool /*busy*/) {}
};

// The last chosen files, kept from one job to the next by their owner.
struct JobFilePaths {
    QString input;
    QString output;
};

// A job runs as a chain of steps on the event loop of the thread that
// starts it: the host's questions there, the converters through their
// runner, and the copies and the rewrite on a worker thread, which looks
// for a cancel between pieces.
class ConversionJob : public QObject {
    Q_OBJECT
  public:
    enum class Outcome { Written, NoInputChosen, NoOutputChosen, Failed, Cancelled };

    // The job takes runner, which runs its converters.
    ConversionJob(const ToolFolders& folders, JobHost& host, JobFilePaths& paths,
                  ConverterRunner* runner, QObject* parent = nullptr);
    // Only when the program quits during a job: stops it and removes its files.
    ~ConversionJob() override;

    // Starts one whole job and returns; finished follows once the job's
    // completion or error message has been shown.
    void start();

    // Stops a running job: the converter is stopped, the intermediate files
    // removed, the output left untouched; no message is shown. From another
    // thread than the job's, the work in hand stops at once and the rest
    // follows on the job's thread.
    void cancel();
    bool isRunning() const { return running_; }
    // For a host that runs one job after another in a working folder of its
    // own: the folder stays locked from the first job until this is
    // destroyed, and each job after the first finds it as the last one left it.
    void holdFolderBetweenJobs() { holdsFolder_ = true; }
    // For a host that lets the outputs take their names off the job's way:
    // a job that wrote its output ends as written without waiting for the
    // disk, and its host takes the unfinished replacement with
    // takeReplacement() and finishes it; only then is the output there.
    void leaveReplacementsUnfinished() { leavesReplacements_ = true; }
    std::unique_ptr<PendingReplacement> takeReplacement() { return std::move(replacement_); }
    // What the last job had to keep within bounds, once it is written.
    ClampCount clamped() const;

  signals:
    void finished(zelmod::ConversionJob::Outcome outcome);

  private:
    // How a job ends, and the failure it shows when it failed.
    struct End {
        End(Outcome outcome) : outcome(outcome) {}
        End(JobFailure failure) : outcome(Outcome::Failed), failure(std::move(failure)) {}
        Outcome outcome;
        std::optional<JobFailure> failure;
    };

    // The steps, in their order; each ends the job or starts the next.
    void lockAndChooseInput();
    void inputCopied(const std::optional<JobFailure>& failure);
    void convert(const ConverterCommand& command);
    void converterEnded(const ConverterRunResult& result);
    void rewrite();
    void rewritten(const RewriteResult& result);
    // Or the three as one piece of work.
    void convertChained();
    void chainEnded(const ChainResult& result);
    void outputReplaced(const std::optional<JobFailure>& failure);
    void end(const End& end);

    // What the worker thread does.
    std::optional<JobFailure> copyInput();
    std::optional<JobFailure> copyInputToMemory(QFile& input);
    std::optional<JobFailure> replaceOutput();

    std::optional<JobFailure> lockWorkDir();
    const std::array<bool, JobCount>& selectedJobs();
    bool canChain();
    RewriteResult rewriteChained(QIODevice& source, QIODevice& target) const;
    RewriteNames textNames() const;
    bool inMemory() const;
    bool removeWorkFiles();
    double takeShiftAmount();
    std::optional<JobFailure> refuseOutput();
    std::optional<End> converterEnd(const ConverterRunResult& result) const;

    QString workDir_;
    QString programDir_;
    JobHost& host_;
    JobFilePaths& paths_;
    ConverterRunner* runner_;
    MemoryWorkFiles* memory_; // the runner's, when it takes work files in memory
    ConversionChain* chain_;  // the runner's, when it runs the three steps as one
    bool chained_ = false;    // this job's steps run as one
    std::optional<std::array<bool, JobCount>> selected_; // asked once a job
    std::optional<JobLock> lock_;
    WorkerThread worker_{this};
    const ConverterCommand* converting_ = nullptr;
    double shiftAmount_ = 0;
    bool running_ = false;
    bool holdsFolder_ = false;
    bool leavesReplacements_ = false;
    std::unique_ptr<PendingReplacement> replacement_; // of the last job, when left unfinished
    bool intermediatesGone_ = false; // removed by the worker once the output was written
    std::atomic<bool> cancelled_ = false;
    std::uint64_t clampedLines_ = 0; // by the rewrite
    std::uint64_t cappedValues_ = 0; // by the converter back to MIDI
    bool velocities_ = false;        // the selected job changes velocities
};

} // namespace zelmod
