#include "cli/BatchRun.h"

#include "files/Files.h"
#include "job/ConverterRun.h"
#include "job/InProcessConverterRun.h"
#include "job/NativePath.h"
#include "job/ReplaceFile.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <deque>
#include <filesystem>

namespace zelmod {
namespace {

// Answers the job's questions from the command line and keeps its message.
class CliHost : public JobHost {
  public:
    explicit CliHost(Job job) : job_(job) {}

    // The file of the next job.
    void setFile(const FileJob& file) {
        file_ = &file;
        message_.clear();
    }

    void setControlsEnabled(bool) override {}
    QString amountText() const override { return file_->amountText; }
    void setAmountText(const QString&) override {}
    bool isJobSelected(int index) const override { return index == int(job_); }
    bool chooseInput(QString& path) override {
        path = file_->input;
        return true;
    }
    bool chooseOutput(QString& path) override {
        path = file_->output;
        return true;
    }
    void showMessage(const JobMessage& message) override { message_ = message.text; }

    const QString& message() const { return message_; }

  private:
    const Job job_;
    const FileJob* file_ = nullptr;
    QString message_;
};

// The converters in process, with the rewrite as one piece of work: the
// intermediate files of small inputs in memory, the text of larger ones
// streaming from converter to converter.
ConverterRunner* inProcessRun(const ToolFolders& folders) {
    auto* run = new InProcessConverterRun(folders);
    run->keepWorkFilesInMemory();
    run->runConversionChain();
    return run;
}

// How many written files may wait for their commit, for each slot: the
// slots stop there, so that their open files and memory stay few.
constexpr int CommitsPerSlot = 4;

// Files handed to a slot at once: the one it converts and the next.
constexpr int FilesPerSlot = 2;

FileRecord failed(const JobFailure& failure) {
    return {FileStatus::Failed, jobMessage(failure).text};
}

} // namespace

// One of the jobs that run at once. Its job lives on the slot's own thread
// and converts one file after another there, its work included: a step
// hands nothing to another thread. The run hands it the next file while it
// converts one, so that it goes on at once; the slot and the run meet only
// when a file is handed over or ends.
struct BatchRun::Slot {
    explicit Slot(Job job) : host(job) { thread.start(); }
    // The job goes once its thread has ended; whatever it ran has stopped.
    ~Slot() {
        thread.quit();
        thread.wait();
        delete job;
    }

    // On the run's thread:
    std::size_t number = 0;       // names its working folder
    int handedOver = 0;           // files handed to it that have not ended
    std::size_t run = 0;          // the run of the last of them
    ConversionJob* job = nullptr; // lives on thread
    QThread thread;
    // On the slot's thread:
    std::deque<qsizetype> waiting; // handed over, not started
    qsizetype index = -1;          // the file it converts; -1 while it waits
    CliHost host;
    JobFilePaths paths;
    QElapsedTimer clock;
};

BatchRun::BatchRun(const CliRequest& request, const QList<FileJob>& files, ToolFolders folders,
                   ReportFile& report, QObject* parent)
    : QObject(parent), request_(request), files_(files), folders_(std::move(folders)),
      report_(report), console_(request.quiet, request.messagesToErrorOutput(), files.size()),
      records_(files.size()), ended_(std::size_t(files.size()), false) {
    const int jobs = request.batchFiles ? 1 : std::max(1, request.jobs);
    for (int i = 0; i < jobs; ++i) {
        slots_.push_back(std::make_unique<Slot>(request.job));
        slots_.back()->number = std::size_t(i);
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (i == 0 || QFileInfo(files[i].output).path() != QFileInfo(files[i - 1].output).path())
            runs_.push_back({i, i});
        ++runs_.back().end;
    }
    for (std::size_t run = 0; run < runs_.size(); ++run)
        openRuns_.insert(run);
    connect(&interruption_, &Interruption::interrupted, this, &BatchRun::interrupt);
}

BatchRun::~BatchRun() = default;

// Many outputs may share a folder; its leftovers are looked for once.
void BatchRun::start() {
    convert::keepFolderListings();
    startFiles();
}

// Hands each slot its next files. A file that needs no job ends at once.
void BatchRun::startFiles() {
    for (auto& slot : slots_) {
        while (slot->handedOver < FilesPerSlot && started_ < files_.size() && !interrupted_ &&
               committing_ < CommitsPerSlot * int(slots_.size())) {
            const qsizetype index = takeNextFile(*slot);
            if (std::optional<FileRecord> record = recordBeforeJob(files_[index])) {
                console_.fileStarted(index, files_[index]);
                fileEnded(index, *record);
            } else {
                handOver(*slot, index);
            }
        }
    }
    if (running_ == 0 && committing_ == 0 && !finished_)
        finish();
}

// A slot stays in its run while it has files left; then it takes the first
// run that no other slot is in or, when every run left is in use, the first.
qsizetype BatchRun::takeNextFile(Slot& slot) {
    if (slot.handedOver == 0 || !openRuns_.contains(slot.run)) {
        const auto free = std::find_if(openRuns_.begin(), openRuns_.end(),
                                       [this](std::size_t run) { return !isInUse(run); });
        slot.run = free != openRuns_.end() ? *free : *openRuns_.begin();
    }
    FolderRun& run = runs_[slot.run];
    if (++run.next == run.end)
        openRuns_.erase(slot.run);
    ++started_;
    return run.next - 1;
}

bool BatchRun::isInUse(std::size_t run) const {
    return std::any_of(slots_.begin(), slots_.end(), [run](const std::unique_ptr<Slot>& slot) {
        return slot->handedOver > 0 && slot->run == run;
    });
}

ToolFolders BatchRun::slotFolders(std::size_t slot) const {
    if (request_.batchFiles)
        return folders_;
    return {folders_.programDir, folders_.workDir + QStringLiteral("/%1").arg(slot)};
}

void BatchRun::handOver(Slot& slot, qsizetype index) {
    if (!slot.job)
        makeJob(slot);
    ++slot.handedOver;
    ++running_;
    QMetaObject::invokeMethod(
        slot.job,
        [this, &slot, index] {
            slot.waiting.push_back(index);
            startNext(slot);
        },
        Qt::QueuedConnection);
}

void BatchRun::makeJob(Slot& slot) {
    const ToolFolders folders = slotFolders(slot.number);
    ConverterRunner* runner = request_.batchFiles
                                  ? static_cast<ConverterRunner*>(new ConverterRun(folders))
                                  : inProcessRun(folders);
    slot.job = new ConversionJob(folders, slot.host, slot.paths, runner);
    if (!request_.batchFiles) {
        slot.job->holdFolderBetweenJobs();
        slot.job->leaveReplacementsUnfinished();
    }
    // On the slot's thread, where the job ends.
    connect(slot.job, &ConversionJob::finished, slot.job,
            [this, &slot](ConversionJob::Outcome outcome) { jobEnded(slot, outcome); });
    slot.job->moveToThread(&slot.thread);
}

// On the slot's thread. Files handed over before an interrupt end undone.
void BatchRun::startNext(Slot& slot) {
    while (slot.index < 0 && !slot.waiting.empty()) {
        const qsizetype index = slot.waiting.front();
        slot.waiting.pop_front();
        if (stopping_) {
            handBack(slot, index, {FileStatus::Interrupted, {}}, nullptr);
            continue;
        }
        slot.index = index;
        slot.host.setFile(files_[index]);
        slot.clock.start();
        console_.fileStarted(index, files_[index]);
        slot.job->start();
    }
}

// On the slot's thread: the record goes to the run, and the slot goes on
// with the next file once the job has returned.
void BatchRun::jobEnded(Slot& slot, ConversionJob::Outcome outcome) {
    FileRecord record{FileStatus::Failed, slot.host.message()};
    if (outcome == ConversionJob::Outcome::Written) {
        record.status = FileStatus::Written;
        record.clamped = slot.job->clamped().total();
    } else if (outcome == ConversionJob::Outcome::Cancelled) {
        record.status = FileStatus::Interrupted;
    }
    record.seconds = slot.clock.elapsed() / 1000.0;
    handBack(slot, std::exchange(slot.index, -1), record, slot.job->takeReplacement());
    QMetaObject::invokeMethod(
        slot.job, [this, &slot] { startNext(slot); }, Qt::QueuedConnection);
}

// On the slot's thread.
void BatchRun::handBack(Slot& slot, qsizetype index, const FileRecord& record,
                        std::unique_ptr<PendingReplacement> replacement) {
    QMetaObject::invokeMethod(
        this,
        [this, &slot, index, record, clock = slot.clock,
         replacement = std::move(replacement)]() mutable {
            fileConverted(slot, index, record, clock, std::move(replacement));
        },
        Qt::QueuedConnection);
}

void BatchRun::fileConverted(Slot& slot, qsizetype index, const FileRecord& record,
                             const QElapsedTimer& clock,
                             std::unique_ptr<PendingReplacement> replacement) {
    --slot.handedOver;
    --running_;
    if (replacement)
        commit(index, record, clock, std::move(replacement));
    else
        fileEnded(index, record);
    startFiles();
}

// A written file's record is final once its commit has ended. Commits
// already handed over end even after an interrupt: their files are whole.
void BatchRun::commit(qsizetype index, const FileRecord& written, const QElapsedTimer& clock,
                      std::unique_ptr<PendingReplacement> replacement) {
    ++committing_;
    committer_.start([replacement = std::move(replacement)] { return replacement->finish(); },
                     [this, index, written, clock](const std::optional<JobFailure>& failure) {
                         --committing_;
                         FileRecord record = failure ? failed(*failure) : written;
                         record.seconds = clock.elapsed() / 1000.0;
                         fileEnded(index, record);
                         startFiles();
                     });
}

void BatchRun::fileEnded(qsizetype index, const FileRecord& record) {
    records_[index] = record;
    ended_[std::size_t(index)] = true;
    if (record.status != FileStatus::Interrupted)
        console_.fileEnded(files_[index], record);
    for (; reported_ < files_.size() && ended_[std::size_t(reported_)]; ++reported_)
        report_.write(files_[reported_], request_.job, records_[reported_]);
}

void BatchRun::interrupt() {
    interrupted_ = interrupted_ || started_ < files_.size() || running_ > 0;
    stopping_ = true;
    for (auto& slot : slots_) {
        if (slot->handedOver > 0)
            slot->job->cancel();
    }
}

void BatchRun::finish() {
    finished_ = true;
    if (interrupted_ || started_ < files_.size()) {
        // Interrupted: files were left undone. An interrupt after the last
        // file was written changes nothing.
        interrupted_ = true;
        for (qsizetype i = reported_; i < files_.size(); ++i)
            report_.write(files_[i], request_.job, records_[i]);
    }
    console_.summarize(files_, records_);
    const bool reported = report_.close();
    if (!reported)
        Console::complain(QStringLiteral("--report: the record could not be written"));
    if (interrupted_)
        Console::complain(jobMessage(JobMessageId::Interrupted).text);
    const bool allDone = std::all_of(records_.begin(), records_.end(), [](const FileRecord& r) {
        return r.status == FileStatus::Written || r.status == FileStatus::Skipped;
    });
    emit finished(allDone && reported ? 0 : 1);
}

// A file that need not or cannot go to the job: its folder could not be
// searched, its output exists and is to be kept, or the output's folder
// cannot be made.
std::optional<FileRecord> BatchRun::recordBeforeJob(const FileJob& file) const {
    if (file.failure)
        return failed(*file.failure);
    if (request_.skipExisting && existsNative(file.output))
        return FileRecord{FileStatus::Skipped, QStringLiteral("the output exists")};
    if (request_.outDir.isEmpty())
        return std::nullopt;
    std::error_code error;
    std::filesystem::create_directories(filesystemPath(QFileInfo(file.output).path()), error);
    if (error)
        return failed(fileFailure(JobMessageId::OutputUncreatable, file.output,
                                  QString::fromLocal8Bit(error.message())));
    return std::nullopt;
}

} // namespace zelmod
