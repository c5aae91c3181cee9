#include "job/ConversionJob.h"

#include "converters/Converters.h"
#include "files/Files.h"
#include "job/EventTextRewrite.h"
#include "job/JobFiles.h"
#include "job/JobLock.h"
#include "job/NativePath.h"
#include "job/ReplaceFile.h"
#include "job/ToolFolders.h"
#include "job/amount/ShiftAmount.h"

#include <QCoreApplication>
#include <QFile>

namespace zelmod {

ConversionJob::ConversionJob(const ToolFolders& folders, JobHost& host, JobFilePaths& paths,
                             QObject* parent)
    : QObject(parent), workDir_(folders.workDir), programDir_(folders.programDir), host_(host),
      paths_(paths), converterRun_(folders) {}

ConversionJob::Outcome ConversionJob::run() {
    convert::reportWritesBeyondSizeLimit(); // also for the converters, which inherit it
    running_ = true;
    cancelled_ = false;
    limitReached_ = false;
    host_.setControlsEnabled(false);
    const End end = runLocked();
    host_.setBusy(false);
    if (end.failure)
        host_.showMessage(jobMessage(*end.failure));
    else if (end.outcome == Outcome::Written)
        host_.showMessage(
            jobMessage(limitReached_ ? JobMessageId::CompletedWithLimit : JobMessageId::Completed));
    host_.setControlsEnabled(true);
    running_ = false;
    return end.outcome;
}

void ConversionJob::cancel() {
    if (!running_)
        return;
    cancelled_ = true;
    converterRun_.cancel();
}

// The lock is taken before anything in the working folder is touched and
// given back once the intermediate files are gone. A cancelled job ends
// without a message, whatever step it was in.
ConversionJob::End ConversionJob::runLocked() {
    if (auto failure = makeWorkDir(workDir_))
        return *failure;
    JobLock lock(workDir_);
    if (auto failure = lock.tryLock())
        return *failure;
    removeIntermediateFiles(workDir_, CleanUp::BeforeJob);
    const End end = runSteps();
    removeIntermediateFiles(workDir_, CleanUp::AfterJob);
    return cancelled_ ? Outcome::Cancelled : end;
}

double ConversionJob::takeShiftAmount() {
    const double amount = clampAmount(amountFromText(host_.amountText().toStdString()));
    host_.setAmountText(QString::fromStdString(amountToText(amount)));
    return amount;
}

ConversionJob::End ConversionJob::runSteps() {
    const double shiftAmount = takeShiftAmount();
    if (!host_.chooseInput(paths_.input))
        return Outcome::NoInputChosen;
    if (auto failure = copyInput())
        return *failure;
    if (!host_.chooseOutput(paths_.output))
        return Outcome::NoOutputChosen;
    if (auto failure = refuseOutput())
        return *failure;
    if (auto end = convert(toTextCommand(), WorkFile::eventText, false))
        return *end;
    if (auto failure = rewrite(shiftAmount))
        return *failure;
    if (auto end = convert(toMidiCommand(), WorkFile::outputMidi, true))
        return *end;
    if (auto failure = replaceOutput())
        return *failure;
    return Outcome::Written;
}

// The input is read only when it is a regular file: a pipe without a
// writer would hold the job, and the lock, with no way to interrupt it.
std::optional<JobFailure> ConversionJob::copyInput() {
    const QString& inputPath = paths_.input;
    if (isJobFile(inputPath, workDir_))
        return JobFailure{JobMessageId::InputIsWorkFile, {shownPath(inputPath)}};
    QFile input;
    if (auto failure =
            openNative(input, inputPath, QIODevice::ReadOnly, JobMessageId::InputUncopyable))
        return failure;
    if (!isRegularFile(input))
        return JobFailure{JobMessageId::InputNotAFile, {shownPath(inputPath)}};
    const QString copyPath = workPath(workDir_, WorkFile::inputCopy);
    QFile copy;
    if (auto failure = openNative(copy, copyPath, QIODevice::WriteOnly | QIODevice::Unbuffered,
                                  JobMessageId::WorkFileUncreatable))
        return failure;
    QByteArray piece(256 * 1024, Qt::Uninitialized);
    for (qint64 count = 0; (count = input.read(piece.data(), piece.size())) != 0;) {
        if (count < 0)
            return fileFailure(JobMessageId::InputUncopyable, inputPath, input.errorString());
        if (!writeAll(copy, piece.constData(), count))
            return fileFailure(JobMessageId::WorkFileUncreatable, copyPath, copy.errorString());
    }
    return std::nullopt;
}

std::optional<JobFailure> ConversionJob::refuseOutput() {
    const QStringList output{shownPath(paths_.output)};
    if (isJobFile(paths_.output, workDir_))
        return JobFailure{JobMessageId::OutputIsWorkFile, output};
    if (isProgramFile(paths_.output, programDir_) || isProgramFile(paths_.output, workDir_))
        return JobFailure{JobMessageId::OutputIsProgramFile, output};
    return std::nullopt;
}

std::optional<ConversionJob::End> ConversionJob::convert(const ConverterCommand& command,
                                                         const QString& outputName,
                                                         bool mayCapValues) {
    if (cancelled_) // while a dialog was open
        return Outcome::Cancelled;
    host_.setBusy(true);
    const ConverterRunResult result = converterRun_.run(command);
    if (result.cancelled)
        return Outcome::Cancelled;
    if (result.failure)
        return *result.failure;
    const QString converter = shownPath(workPath(programDir_, command.converterName));
    const bool capped = mayCapValues && result.exitCode == convert::CappedExitCode;
    if (result.exitCode != 0 && !capped)
        return JobFailure{JobMessageId::ConverterFailed,
                          {converter, QString::number(result.exitCode), result.converterText}};
    const QString output = workPath(workDir_, outputName);
    if (!existsNative(output))
        return JobFailure{JobMessageId::ConverterNoOutput, {converter, shownPath(output)}};
    limitReached_ = limitReached_ || capped;
    return std::nullopt;
}

std::optional<JobFailure> ConversionJob::rewrite(double shiftAmount) {
    const JobOptionQuery isSelected = [this](int index) { return host_.isJobSelected(index); };
    const RewriteResult result =
        rewriteEventText(workPath(workDir_, WorkFile::eventText),
                         workPath(workDir_, WorkFile::rewrittenText), shiftAmount, isSelected);
    limitReached_ = result.limitReached;
    return result.failure;
}

// An interrupt during the copy abandons it, so that a job either says it
// wrote the output or leaves the old one. The intermediate files are removed
// while the output's data goes to the disk: removing a large text takes about
// as long. runLocked removes them again on every road, and then finds none.
std::optional<JobFailure> ConversionJob::replaceOutput() {
    const auto stillWanted = [this] {
        QCoreApplication::processEvents();
        return !cancelled_;
    };
    return replaceFileWithCopy(workPath(workDir_, WorkFile::outputMidi), paths_.output, stillWanted,
                               [this] { removeIntermediateFiles(workDir_, CleanUp::AfterJob); });
}

} // namespace zelmod
