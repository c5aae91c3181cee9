// One conversion job: the input through the two converters and the line
// rewriter to the output, with everything the user sees supplied by a host
// (the window, or the command line).
#pragma once

#include "job/ConverterRun.h"
#include "job/JobMessages.h"

#include <QObject>
#include <QString>

#include <optional>

namespace zelmod {

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

class ConversionJob : public QObject {
    Q_OBJECT
  public:
    enum class Outcome { Written, NoInputChosen, NoOutputChosen, Failed, Cancelled };

    ConversionJob(const ToolFolders& folders, JobHost& host, JobFilePaths& paths,
                  QObject* parent = nullptr);

    // Runs one whole job and shows its completion or error message.
    Outcome run();

    // Stops a running job: the converter is stopped, the intermediate files
    // removed, the output left untouched; no message is shown.
    void cancel();
    bool isRunning() const { return running_; }

  private:
    // How a job ends, and the failure it shows when it failed.
    struct End {
        End(Outcome outcome) : outcome(outcome) {}
        End(JobFailure failure) : outcome(Outcome::Failed), failure(std::move(failure)) {}
        Outcome outcome;
        std::optional<JobFailure> failure;
    };

    End runLocked();
    End runSteps();
    // Each step gives nothing when the job goes on, or why it stops there.
    std::optional<JobFailure> copyInput();
    std::optional<JobFailure> refuseOutput();
    std::optional<End> convert(const ConverterCommand& command, const QString& outputName,
                               bool mayCapValues);
    std::optional<JobFailure> rewrite(double shiftAmount);
    std::optional<JobFailure> replaceOutput();
    double takeShiftAmount();

    QString workDir_;
    QString programDir_;
    JobHost& host_;
    JobFilePaths& paths_;
    ConverterRun converterRun_;
    bool running_ = false;
    bool cancelled_ = false;
    bool limitReached_ = false;
};

} // namespace zelmod
