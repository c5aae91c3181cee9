#include "cli/BatchRun.h"

#include "job/ConversionJob.h"
#include "job/NativePath.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <filesystem>

namespace zelmod {
namespace {

// Answers the job's questions from the command line and keeps its message.
class CliHost : public JobHost {
  public:
    CliHost(Job job, const FileJob& file) : job_(job), file_(file) {}

    void setControlsEnabled(bool) override {}
    QString amountText() const override { return file_.amountText; }
    void setAmountText(const QString&) override {}
    bool isJobSelected(int index) const override { return index == int(job_); }
    bool chooseInput(QString& path) override {
        path = file_.input;
        return true;
    }
    bool chooseOutput(QString& path) override {
        path = file_.output;
        return true;
    }
    void showMessage(const JobMessage& message) override { message_ = message.text; }

    const QString& message() const { return message_; }

  private:
    const Job job_;
    const FileJob& file_;
    QString message_;
};

FileRecord failed(const JobFailure& failure) {
    return {FileStatus::Failed, jobMessage(failure).text};
}

} // namespace

BatchRun::BatchRun(const CliRequest& request, const QList<FileJob>& files, ToolFolders folders,
                   ReportFile& report, QObject* parent)
    : QObject(parent), request_(request), files_(files), folders_(std::move(folders)),
      report_(report), console_(request.quiet, request.messagesToErrorOutput(), files.size()),
      interruption_(this), records_(files.size()) {}

int BatchRun::run() {
    for (qsizetype i = 0; i < files_.size() && !interrupted_; ++i) {
        console_.fileStarted(i, files_[i]);
        records_[i] = convert(files_[i]);
        if (records_[i].status != FileStatus::Interrupted)
            console_.fileEnded(files_[i], records_[i]);
        // An interrupt after the last file was written changes nothing.
        interrupted_ = records_[i].status == FileStatus::Interrupted ||
                       (interruption_.happened() && i + 1 < files_.size());
    }
    for (qsizetype i = 0; i < files_.size(); ++i)
        report_.write(files_[i], request_.job, records_[i]);
    console_.summarize(files_, records_);
    const bool reported = report_.close();
    if (!reported)
        Console::complain(QStringLiteral("--report: the record could not be written"));
    if (interrupted_)
        Console::complain(jobMessage(JobMessageId::Interrupted).text);
    const bool allDone = std::all_of(records_.begin(), records_.end(), [](const FileRecord& r) {
        return r.status == FileStatus::Written || r.status == FileStatus::Skipped;
    });
    return allDone && reported ? 0 : 1;
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
    std::filesystem::create_directories(nativeString(QFileInfo(file.output).path()), error);
    if (error)
        return failed(fileFailure(JobMessageId::OutputUncreatable, file.output,
                                  QString::fromLocal8Bit(error.message())));
    return std::nullopt;
}

FileRecord BatchRun::convert(const FileJob& file) {
    if (std::optional<FileRecord> record = recordBeforeJob(file))
        return *record;
    QElapsedTimer clock;
    clock.start();
    CliHost host(request_.job, file);
    JobFilePaths paths;
    ConversionJob job(folders_, host, paths);
    interruption_.watch(&job);
    const ConversionJob::Outcome outcome = job.run();
    interruption_.watch(nullptr);
    FileRecord record{FileStatus::Failed, host.message()};
    if (outcome == ConversionJob::Outcome::Written) {
        record.status = FileStatus::Written;
        record.clamped = host.message() == jobMessage(JobMessageId::CompletedWithLimit).text;
    } else if (outcome == ConversionJob::Outcome::Cancelled) {
        record.status = FileStatus::Interrupted;
    }
    record.seconds = clock.elapsed() / 1000.0;
    return record;
}

} // namespace zelmod
