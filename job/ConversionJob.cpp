#include "ConversionJob.h"

#include "EventTextRewrite.h"
#include "Files.h"
#include "JobFiles.h"
#include "JobLock.h"
#include "NativePath.h"
#include "ReplaceFile.h"
#include "ShiftAmount.h"
#include "ToolFolders.h"

#include <QCoreApplication>
#include <QFile>

namespace zelmod {

ConversionJob::ConversionJob(const ToolFolders& folders, JobHost& host, JobFilePaths& paths,
                             QObject* parent)
    : QObject(parent), workDir_(folders.workDir), programDir_(folders.programDir), host_(host),
      paths_(paths), converterRun_(folders) {}

ConversionJob::Outcome ConversionJob::run() {
    // Under a file-size limit (ulimit -f) a write beyond it would end the
    // program, and the converters that inherit this, by a signal, leaving the
    // intermediate files behind; ignored, the write fails and the job says so.
    convert::reportWritesBeyondSizeLimit();
    running_ = true;
    cancelled_ = false;
    limitReached_ = false;
    message_.reset();
    host_.setControlsEnabled(false);
    const Outcome outcome = runLocked();
    host_.setBusy(false);
    if (message_)
        host_.showMessage(*message_);
    host_.setControlsEnabled(true);
    running_ = false;
    return outcome;
}

void ConversionJob::cancel() {
    if (!running_)
        return;
    cancelled_ = true;
    converterRun_.cancel();
}

// The lock is taken before anything in the working folder is touched and
// given back once the intermediate files are gone.
ConversionJob::Outcome ConversionJob::runLocked() {
    QString errorText;
    if (!makeWorkDir(workDir_, errorText))
        return fail(JobMessageId::ToolDirUnwritable, {shownPath(workDir_), errorText});
    JobLock lock(workDir_);
    switch (lock.tryLock()) {
    case JobLock::Status::Busy:
        return fail(JobMessageId::JobBusy, {shownPath(workDir_)});
    case JobLock::Status::Failed:
        return fail(JobMessageId::ToolDirUnwritable, {shownPath(workDir_), lock.errorText()});
    case JobLock::Status::Held:
        break;
    }
    removeIntermediateFiles(workDir_, CleanUp::BeforeJob);
    Outcome outcome = runSteps();
    if (cancelled_) {
        outcome = Outcome::Cancelled;
        message_.reset();
    }
    removeIntermediateFiles(workDir_, CleanUp::AfterJob);
    return outcome;
}

double ConversionJob::takeShiftAmount() {
    const double amount = clampAmount(amountFromText(host_.amountText().toStdString()));
    host_.setAmountText(QString::fromStdString(amountToText(amount)));
    return amount;
}

ConversionJob::Outcome ConversionJob::runSteps() {
    const double shiftAmount = takeShiftAmount();
    if (!host_.chooseInput(paths_.input))
        return Outcome::NoInputChosen;
    if (auto stop = copyInput())
        return *stop;
    if (!host_.chooseOutput(paths_.output))
        return Outcome::NoOutputChosen;
    if (isJobFile(paths_.output, workDir_))
        return fail(JobMessageId::OutputIsWorkFile, {shownPath(paths_.output)});
    if (isProgramFile(paths_.output, programDir_) || isProgramFile(paths_.output, workDir_))
        return fail(JobMessageId::OutputIsProgramFile, {shownPath(paths_.output)});

    if (auto stop = convert(toTextCommand(), WorkFile::eventText, false))
        return *stop;
    if (auto stop = rewrite(shiftAmount))
        return *stop;
    if (auto stop = convert(toMidiCommand(), WorkFile::outputMidi, true))
        return *stop;
    // An interrupt during the copy abandons it, so that a job either says
    // it wrote the output or leaves the old one.
    const auto stillWanted = [this] {
        QCoreApplication::processEvents();
        return !cancelled_;
    };
    QString errorText;
    const bool outputExisted = existsNative(paths_.output);
    if (!replaceFileWithCopy(workPath(workDir_, WorkFile::outputMidi), paths_.output, errorText,
                             stillWanted)) {
        if (cancelled_)
            return Outcome::Cancelled;
        return fail(outputExisted ? JobMessageId::OutputUnwritable
                                  : JobMessageId::OutputUncreatable,
                    {shownPath(paths_.output), errorText});
    }
    message_ =
        jobMessage(limitReached_ ? JobMessageId::CompletedWithLimit : JobMessageId::Completed);
    return Outcome::Written;
}

// The input is read only when it is a regular file: a pipe without a
// writer would hold the job, and the lock, with no way to interrupt it.
std::optional<ConversionJob::Outcome> ConversionJob::copyInput() {
    const QString& inputPath = paths_.input;
    if (isJobFile(inputPath, workDir_))
        return fail(JobMessageId::InputIsWorkFile, {shownPath(inputPath)});
    QFile input;
    QString errorText;
    if (!openNative(input, inputPath, QIODevice::ReadOnly, errorText))
        return fail(JobMessageId::InputUncopyable, {shownPath(inputPath), errorText});
    if (!isRegularFile(input))
        return fail(JobMessageId::InputNotAFile, {shownPath(inputPath)});
    const QString copyPath = workPath(workDir_, WorkFile::inputCopy);
    QFile copy;
    if (!openNative(copy, copyPath, QIODevice::WriteOnly | QIODevice::Unbuffered, errorText))
        return fail(JobMessageId::WorkFileUncreatable, {shownPath(copyPath), errorText});
    QByteArray piece(256 * 1024, Qt::Uninitialized);
    for (qint64 count = 0; (count = input.read(piece.data(), piece.size())) != 0;) {
        if (count < 0)
            return fail(JobMessageId::InputUncopyable, {shownPath(inputPath), input.errorString()});
        if (!writeAll(copy, piece.constData(), count))
            return fail(JobMessageId::WorkFileUncreatable,
                        {shownPath(copyPath), copy.errorString()});
    }
    return std::nullopt;
}

std::optional<ConversionJob::Outcome> ConversionJob::convert(const ConverterCommand& command,
                                                             const QString& outputName,
                                                             bool mayCapValues) {
    using Run = ConverterRunResult::Outcome;
    if (cancelled_) // while a dialog was open
        return Outcome::Cancelled;
    host_.setBusy(true);
    const ConverterRunResult result = converterRun_.run(command);
    const QString converter = shownPath(workPath(programDir_, command.converterName));
    switch (result.outcome) {
    case Run::Cancelled:
        return Outcome::Cancelled;
    case Run::DirUnencodable:
        return fail(JobMessageId::ToolDirUnencodable, {shownPath(workDir_)});
    case Run::ScriptUnwritable:
        return fail(JobMessageId::ScriptUnwritable,
                    {shownPath(workPath(workDir_, command.scriptName)), result.errorText});
    case Run::NotStarted:
        return fail(JobMessageId::ConverterNotStarted, {converter, result.errorText});
    case Run::Crashed:
        return fail(JobMessageId::ConverterCrashed, {converter, result.converterText});
    case Run::Finished:
        break;
    }
    const bool capped = mayCapValues && result.exitCode == cappedExitCode;
    if (result.exitCode != 0 && !capped)
        return fail(JobMessageId::ConverterFailed,
                    {converter, QString::number(result.exitCode), result.converterText});
    const QString output = workPath(workDir_, outputName);
    if (!existsNative(output))
        return fail(JobMessageId::ConverterNoOutput, {converter, shownPath(output)});
    limitReached_ = limitReached_ || capped;
    return std::nullopt;
}

namespace {

// A line as a message can show it: long ones are cut.
QString shownLine(const std::string& line) {
    constexpr qsizetype shownLength = 120;
    const QString text = QString::fromLocal8Bit(line);
    return text.size() <= shownLength ? text : text.left(shownLength) + QStringLiteral("…");
}

} // namespace

std::optional<ConversionJob::Outcome> ConversionJob::rewrite(double shiftAmount) {
    using Rewrite = RewriteResult::Outcome;
    const QString source = workPath(workDir_, WorkFile::eventText);
    const QString target = workPath(workDir_, WorkFile::rewrittenText);
    const JobOptionQuery isSelected = [this](int index) { return host_.isJobSelected(index); };
    const RewriteResult result = rewriteEventText(source, target, shiftAmount, isSelected);
    const QString lineNumber = QString::number(result.lineNumber);
    switch (result.outcome) {
    case Rewrite::Done:
        limitReached_ = result.limitReached;
        return std::nullopt;
    case Rewrite::TargetUncreatable:
        return fail(JobMessageId::WorkFileUncreatable, {shownPath(target), result.errorText});
    case Rewrite::SourceUnopenable:
        return fail(JobMessageId::EventTextUnopenable, {shownPath(source), result.errorText});
    case Rewrite::SourceUnreadable:
        return fail(JobMessageId::EventTextUnreadable,
                    {lineNumber, shownPath(source), result.errorText});
    case Rewrite::LineInvalid:
        return fail(JobMessageId::EventLineInvalid, {lineNumber, shownLine(result.line)});
    case Rewrite::TargetUnwritable:
        return fail(JobMessageId::EventTextUnwritable,
                    {lineNumber, shownPath(target), result.errorText});
    }
    return fail(JobMessageId::EventTextUnopenable, {shownPath(source), result.errorText});
}

ConversionJob::Outcome ConversionJob::fail(JobMessageId id, const QStringList& arguments) {
    message_ = jobMessage(id, arguments);
    return Outcome::Failed;
}

} // namespace zelmod
