#include "job/ConversionJob.h"

#include "converters/Converters.h"
#include "files/Files.h"
#include "job/EventTextRewrite.h"
#include "job/InProcessConverterRun.h"
#include "job/JobFiles.h"
#include "job/NativePath.h"
#include "job/ReplaceFile.h"
#include "job/ToolFolders.h"
#include "job/amount/ShiftAmount.h"

#include <QFile>
#include <QThread>

#include <array>

namespace zelmod {

ConversionJob::ConversionJob(const ToolFolders& folders, JobHost& host, JobFilePaths& paths,
                             ConverterRunner* runner, QObject* parent)
    : QObject(parent), workDir_(folders.workDir), programDir_(folders.programDir), host_(host),
      paths_(paths), runner_(runner), memory_(runner->memoryWorkFiles()),
      chain_(runner->conversionChain()) {
    runner_->setParent(this);
    connect(runner_, &ConverterRunner::finished, this, &ConversionJob::converterEnded);
    if (chain_)
        connect(chain_, &ConversionChain::finished, this, &ConversionJob::chainEnded);
}

ConversionJob::~ConversionJob() {
    cancelled_ = true;
    delete runner_; // its converter ends first
    worker_.stop();
    if (lock_)
        removeIntermediateFiles(workDir_, CleanUp::AfterJob);
}

void ConversionJob::start() {
    convert::reportWritesBeyondSizeLimit(); // also for the converters, which inherit it
    running_ = true;
    cancelled_ = false;
    clampedLines_ = 0;
    cappedValues_ = 0;
    selected_.reset();
    host_.setControlsEnabled(false);
    QMetaObject::invokeMethod(this, &ConversionJob::lockAndChooseInput, Qt::QueuedConnection);
}

// The flag and the chain may be reached from any thread; the job's own
// state only from its thread.
void ConversionJob::cancel() {
    if (thread() != QThread::currentThread()) {
        cancelled_ = true;
        if (chain_)
            chain_->cancel();
        QMetaObject::invokeMethod(this, &ConversionJob::cancel, Qt::QueuedConnection);
        return;
    }
    if (!running_)
        return;
    cancelled_ = true;
    if (converting_)
        runner_->cancel();
}

// The lock is taken before anything in the working folder is touched and
// given back once the intermediate files are gone. A job that still holds
// it from the last one finds the folder as that one left it: clean.
void ConversionJob::lockAndChooseInput() {
    if (!lock_) {
        if (auto failure = lockWorkDir())
            return end(*failure);
    }
    shiftAmount_ = takeShiftAmount();
    if (!host_.chooseInput(paths_.input))
        return end(Outcome::NoInputChosen);
    if (isJobFile(paths_.input, workDir_))
        return end(JobFailure{JobMessageId::InputIsWorkFile, {shownPath(paths_.input)}});
    worker_.start([this] { return copyInput(); },
                  [this](const std::optional<JobFailure>& failure) { inputCopied(failure); });
}

std::optional<JobFailure> ConversionJob::lockWorkDir() {
    if (auto failure = makeWorkDir(workDir_))
        return failure;
    lock_.emplace(workDir_);
    if (auto failure = lock_->tryLock()) {
        lock_.reset();
        return failure;
    }
    return removeIntermediateFiles(workDir_, CleanUp::BeforeJob);
}

double ConversionJob::takeShiftAmount() {
    const double amount = clampAmount(amountFromText(host_.amountText().toStdString()));
    host_.setAmountText(QString::fromStdString(amountToText(amount)));
    return amount;
}

// The input is read only when it is a regular file: a pipe without a
// writer would hold the worker, and the lock, with no way to interrupt it.
// Its first bytes show whether it is a MIDI file at all, so that the user
// hears so before choosing where to save it.
std::optional<JobFailure> ConversionJob::copyInput() {
    const QString& inputPath = paths_.input;
    QFile input;
    if (auto failure =
            openNative(input, inputPath, QIODevice::ReadOnly, JobMessageId::InputUncopyable))
        return failure;
    if (!isRegularFile(input))
        return JobFailure{JobMessageId::InputNotAFile, {shownPath(inputPath)}};
    if (input.peek(4) != "MThd")
        return JobFailure{JobMessageId::InputNotMidi, {shownPath(inputPath)}};
    if (memory_ && input.size() <= MemoryInputLimit)
        return copyInputToMemory(input);
    const QString copyPath = workPath(workDir_, WorkFile::inputCopy);
    QFile copy;
    if (auto failure = openNative(copy, copyPath, QIODevice::WriteOnly | QIODevice::Unbuffered,
                                  JobMessageId::WorkFileUncreatable))
        return failure;
    QByteArray piece(256 * 1024, Qt::Uninitialized);
    for (qint64 count = 0; !cancelled_ && (count = input.read(piece.data(), piece.size())) != 0;) {
        if (count < 0)
            return fileFailure(JobMessageId::InputUncopyable, inputPath, input.errorString());
        if (!writeAll(copy, piece.constData(), count))
            return fileFailure(JobMessageId::WorkFileUncreatable, copyPath, copy.errorString());
    }
    return std::nullopt;
}

// Read in one piece, as small as it is.
std::optional<JobFailure> ConversionJob::copyInputToMemory(QFile& input) {
    std::string& copy = memory_->contents[WorkFile::inputCopy];
    copy.resize(std::size_t(input.size()));
    const qint64 count = input.read(copy.data(), qint64(copy.size()));
    if (count < 0)
        return fileFailure(JobMessageId::InputUncopyable, paths_.input, input.errorString());
    copy.resize(std::size_t(count));
    memory_->inUse = true;
    return std::nullopt;
}

void ConversionJob::inputCopied(const std::optional<JobFailure>& failure) {
    if (failure)
        return end(*failure);
    if (cancelled_)
        return end(Outcome::Cancelled);
    if (!host_.chooseOutput(paths_.output))
        return end(Outcome::NoOutputChosen);
    if (auto refusal = refuseOutput())
        return end(*refusal);
    chained_ = canChain();
    if (chained_)
        return convertChained();
    convert(toTextCommand());
}

// Reverse playback needs whole tracks.
bool ConversionJob::canChain() {
    return chain_ && !selectedJobs()[int(Job::Reverse)];
}

std::optional<JobFailure> ConversionJob::refuseOutput() {
    const QStringList output{shownPath(paths_.output)};
    if (isJobFile(paths_.output, workDir_))
        return JobFailure{JobMessageId::OutputIsWorkFile, output};
    if (isProgramFile(paths_.output, programDir_) || isProgramFile(paths_.output, workDir_))
        return JobFailure{JobMessageId::OutputIsProgramFile, output};
    return std::nullopt;
}

void ConversionJob::convert(const ConverterCommand& command) {
    if (cancelled_) // while a dialog was open
        return end(Outcome::Cancelled);
    host_.setBusy(true);
    converting_ = &command;
    runner_->start(command);
}

void ConversionJob::converterEnded(const ConverterRunResult& result) {
    if (auto stop = converterEnd(result))
        return end(*stop);
    if (std::exchange(converting_, nullptr) == &toTextCommand())
        return rewrite();
    if (result.exitCode == convert::CappedExitCode)
        cappedValues_ = convert::cappedValuesIn(result.converterText.toStdString());
    worker_.start([this] { return replaceOutput(); },
                  [this](const std::optional<JobFailure>& failure) { outputReplaced(failure); });
}

// Only the converter back to MIDI may end with its code for capped values.
std::optional<ConversionJob::End>
ConversionJob::converterEnd(const ConverterRunResult& result) const {
    if (result.cancelled || cancelled_)
        return Outcome::Cancelled;
    if (result.failure)
        return *result.failure;
    const ConverterCommand& command = *converting_;
    const QString converter = shownPath(workPath(programDir_, command.converterName));
    const bool capped = &command == &toMidiCommand() && result.exitCode == convert::CappedExitCode;
    if (result.exitCode == 1) // the converter's own one-line refusal
        return converterRefusal(&command == &toTextCommand(), paths_.input, result.converterText);
    if (result.exitCode != 0 && !capped)
        return JobFailure{JobMessageId::ConverterFailed,
                          {converter, QString::number(result.exitCode), result.converterText}};
    if (chained_ && &command == &toTextCommand())
        return std::nullopt; // its text went on to the rewrite, not into a file to look for
    const QString& name = &command == &toMidiCommand() ? WorkFile::outputMidi : WorkFile::eventText;
    const QString output = workPath(workDir_, name);
    if (inMemory() ? memory_->contents[name].empty() : !existsNative(output))
        return JobFailure{JobMessageId::ConverterNoOutput, {converter, shownPath(output)}};
    return std::nullopt;
}

// The job selection cannot change during a job (its options are disabled),
// so the job asks for it once, and the worker asks a copy at every line.
const std::array<bool, JobCount>& ConversionJob::selectedJobs() {
    if (!selected_) {
        selected_.emplace();
        for (int index = 0; index < JobCount; ++index)
            (*selected_)[index] = host_.isJobSelected(index);
        velocities_ =
            (*selected_)[int(Job::VelocityMirror)] || (*selected_)[int(Job::VelocityShift)];
    }
    return *selected_;
}

// Reverse playback needs whole tracks, so it takes the place of the line
// rewrite and its amount.
void ConversionJob::rewrite() {
    worker_.start(
        [this, selected = selectedJobs(), names = textNames()] {
            const auto isSelected = [selected](int index) { return selected[index]; };
            const auto stillWanted = [this] { return !cancelled_; };
            if (!inMemory() && selected[int(Job::Reverse)])
                return reverseEventText(names.source, names.target, stillWanted);
            if (!inMemory())
                return rewriteEventText(names.source, names.target, shiftAmount_, isSelected,
                                        stillWanted);
            const std::string& source = memory_->contents[WorkFile::eventText];
            std::string& target = memory_->contents[WorkFile::rewrittenText];
            if (selected[int(Job::Reverse)])
                return reverseEventText(source, target, names);
            return rewriteEventText(source, target, names, shiftAmount_, isSelected, stillWanted);
        },
        [this](const RewriteResult& result) { rewritten(result); });
}

void ConversionJob::rewritten(const RewriteResult& result) {
    if (cancelled_)
        return end(Outcome::Cancelled);
    if (result.failure)
        return end(*result.failure);
    clampedLines_ = result.clampedLines;
    convert(toMidiCommand());
}

void ConversionJob::convertChained() {
    if (cancelled_) // while a dialog was open
        return end(Outcome::Cancelled);
    host_.setBusy(true);
    converting_ = &toTextCommand();
    chain_->start(inMemory() ? memory_ : nullptr, [this](QIODevice& source, QIODevice& target) {
        return rewriteChained(source, target);
    });
}

// On the chain's worker; the selection and the amount stay as they are
// during the job.
RewriteResult ConversionJob::rewriteChained(QIODevice& source, QIODevice& target) const {
    const std::array<bool, JobCount>& selected = *selected_;
    return rewriteEventText(
        source, target, textNames(), shiftAmount_,
        [&selected](int index) { return selected[index]; }, [this] { return !cancelled_; });
}

// The texts before and after the rewrite, as its failures name them.
RewriteNames ConversionJob::textNames() const {
    return {workPath(workDir_, WorkFile::eventText), workPath(workDir_, WorkFile::rewrittenText)};
}

// Each step ends as if it had run alone, in their order: a later step's
// failure counts only when the earlier ones went well.
void ConversionJob::chainEnded(const ChainResult& result) {
    if (result.cancelled)
        return end(Outcome::Cancelled);
    if (auto stop = converterEnd(result.toText))
        return end(*stop);
    if (result.rewrite.failure)
        return end(*result.rewrite.failure);
    clampedLines_ = result.rewrite.clampedLines;
    converting_ = &toMidiCommand();
    converterEnded(result.toMidi);
}

// A cancel during the copy abandons it, so that a job either says it wrote
// the output or leaves the old one. The intermediate files are removed
// while the output's data goes to the disk: removing a large text takes
// about as long. end() removes them again on every road where that failed.
std::optional<JobFailure> ConversionJob::replaceOutput() {
    const auto stillWanted = [this] { return !cancelled_; };
    const auto whileSyncing = [this] { intermediatesGone_ = removeWorkFiles(); };
    std::unique_ptr<PendingReplacement>* const pending =
        leavesReplacements_ ? &replacement_ : nullptr;
    if (inMemory())
        return replaceFileWithBytes(memory_->contents[WorkFile::outputMidi], paths_.output,
                                    stillWanted, whileSyncing, pending);
    return replaceFileWithCopy(workPath(workDir_, WorkFile::outputMidi), paths_.output, stillWanted,
                               whileSyncing, pending);
}

bool ConversionJob::inMemory() const {
    return memory_ && memory_->inUse;
}

// Whether none is left: those in memory always go.
bool ConversionJob::removeWorkFiles() {
    if (!inMemory())
        return !removeIntermediateFiles(workDir_, CleanUp::AfterJob);
    memory_->contents.clear();
    memory_->inUse = false;
    return true;
}

void ConversionJob::outputReplaced(const std::optional<JobFailure>& failure) {
    if (cancelled_)
        return end(Outcome::Cancelled);
    if (failure)
        return end(*failure);
    end(Outcome::Written);
}

// A shift past the ceiling needs an amount above 1 and one below the floor
// an amount below 1, so the rewrite's clamps of one job are all at one
// bound. Those at the ceiling come out as 128, which the converter then caps
// and counts along with any other value above 127.
ClampCount ConversionJob::clamped() const {
    return {cappedValues_, shiftAmount_ < 1 ? clampedLines_ : 0, velocities_};
}

// A cancelled job ends without a message, whatever step it was in.
void ConversionJob::end(const End& end) {
    converting_ = nullptr;
    if (lock_) {
        const bool clean = std::exchange(intermediatesGone_, false) || removeWorkFiles();
        if (!holdsFolder_ || !clean)
            lock_.reset();
    }
    const Outcome outcome = cancelled_ ? Outcome::Cancelled : end.outcome;
    if (outcome != Outcome::Written)
        replacement_.reset(); // removed: the old output stays
    host_.setBusy(false);
    if (outcome == Outcome::Failed)
        host_.showMessage(jobMessage(*end.failure));
    else if (outcome == Outcome::Written)
        host_.showMessage(completionMessage(clamped()));
    host_.setControlsEnabled(true);
    running_ = false;
    emit finished(outcome);
}

} // namespace zelmod
