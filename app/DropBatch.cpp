#include "app/DropBatch.h"

#include "app/basStrSub.h"
#include "job/ConverterRun.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

namespace {

using zelmod::JobMessageId;

// The summary names this many failed files at most, so that it fits the screen.
constexpr int FailuresListed = 10;

// The answers to the question about outputs already in the folder.
enum ExistingOutputs { Skip, Replace, Abort };

QString messageText(JobMessageId id, const QStringList& arguments = {}) {
    return zelmod::jobMessage(id, arguments).text;
}

} // namespace

DropBatch::DropBatch(const zelmod::ToolFolders& folders, zelmod::JobHost& window,
                     zelmod::CommonDialog& dialogs, QObject* parent)
    : QObject(parent), folders_(folders), window_(window), dialogs_(dialogs) {}

bool DropBatch::isMidiFileName(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("mid") || suffix == QLatin1String("midi");
}

QStringList DropBatch::droppedFiles(const QStringList& paths) {
    QStringList files;
    for (const QString& path : paths) {
        if (!QFileInfo(path).isDir()) {
            files << path;
            continue;
        }
        QStringList found;
        QDirIterator walk(path, {QStringLiteral("*.mid"), QStringLiteral("*.midi")}, QDir::Files,
                          QDirIterator::Subdirectories);
        while (walk.hasNext())
            found << walk.next();
        found.sort();
        files << found;
    }
    return files;
}

void DropBatch::start(const QStringList& inputs, const QString& start) {
    window_.setControlsEnabled(false);
    const std::optional<QString> chosen =
        dialogs_.chooseFolder(messageText(JobMessageId::DroppedFolderTitle), start);
    folder_ = chosen.value_or(QString());
    // Nothing chosen, or stopped at the question: nothing to sum up.
    cancelled_ = !chosen || !plan(inputs);
    convertNext();
}

// Sorts the inputs into those to convert and those that fail at once. An
// input is never written over, and outputs already there are replaced only
// when the user says so. False when the user chose to stop.
bool DropBatch::plan(const QStringList& inputs) {
    QSet<QString> inputFiles;
    for (const QString& input : inputs)
        inputFiles << QFileInfo(input).canonicalFilePath();
    inputFiles.remove(QString()); // of an input that is gone
    QSet<QString> outputs;
    std::vector<Conversion> existing;
    for (const QString& input : inputs) {
        const QString output = QDir(folder_).filePath(QFileInfo(input).fileName());
        if (!isMidiFileName(input))
            fail(input, messageText(JobMessageId::DroppedNotMidi));
        else if (inputFiles.contains(QFileInfo(output).canonicalFilePath()))
            fail(input, messageText(JobMessageId::OutputIsInput, {zelmod::shownPath(output)}));
        else if (outputs.contains(output))
            fail(input, messageText(JobMessageId::InputNamesClash,
                                    {zelmod::shownPath(input), zelmod::shownPath(output)}));
        else if (QFileInfo::exists(output))
            existing.push_back({input, output});
        else
            waiting_.push_back({input, output});
        outputs << output;
    }
    if (existing.empty())
        return true;
    const QString question =
        messageText(JobMessageId::DroppedOutputsExist, {QString::number(existing.size())});
    const int answer = dialogs_.ask(
        {question, basStrSub::AppTitle, QMessageBox::Question},
        {QStringLiteral("スキップ"), QStringLiteral("上書き"), QStringLiteral("中止")});
    for (const Conversion& conversion : existing) {
        if (answer == Replace)
            waiting_.push_back(conversion);
        else
            fail(conversion.input, messageText(JobMessageId::DroppedSkipped));
    }
    return answer != Abort;
}

void DropBatch::cancel() {
    cancelled_ = true;
    if (job_)
        job_->cancel();
}

void DropBatch::convertNext() {
    if (cancelled_ || waiting_.empty()) {
        end();
        return;
    }
    paths_ = {waiting_.front().input, waiting_.front().output};
    waiting_.pop_front();
    jobMessage_ = {};
    job_ = new zelmod::ConversionJob(folders_, *this, paths_, new zelmod::ConverterRun(folders_),
                                     this);
    connect(job_, &zelmod::ConversionJob::finished, this, &DropBatch::jobEnded);
    job_->start();
}

bool DropBatch::chooseInput(QString&) {
    return true; // the job's paths already name it
}

bool DropBatch::chooseOutput(QString&) {
    return true;
}

// A job's own message is kept: a completion other than the plain one means
// that notes were clamped, a failure's first line says why.
void DropBatch::jobEnded(zelmod::ConversionJob::Outcome outcome) {
    job_->deleteLater();
    job_ = nullptr;
    if (outcome == zelmod::ConversionJob::Outcome::Written) {
        ++written_;
        clamped_ += jobMessage_.text != messageText(JobMessageId::Completed);
    } else if (outcome == zelmod::ConversionJob::Outcome::Failed) {
        fail(paths_.input, jobMessage_.text.section(QLatin1Char('\n'), 0, 0));
    }
    convertNext();
}

void DropBatch::fail(const QString& input, const QString& reason) {
    failures_ << messageText(JobMessageId::DroppedFailure, {zelmod::shownPath(input), reason});
}

void DropBatch::end() {
    if (!cancelled_)
        dialogs_.showMessage(summary(written_, clamped_, failures_));
    window_.setControlsEnabled(true);
    emit finished();
}

zelmod::MessageRequest DropBatch::summary(int written, int clamped, const QStringList& failures) {
    QStringList lines = {messageText(
        JobMessageId::DroppedSummary,
        {QString::number(written), QString::number(clamped), QString::number(failures.size())})};
    lines << failures.mid(0, FailuresListed);
    if (failures.size() > FailuresListed)
        lines << messageText(JobMessageId::DroppedMoreFailures,
                             {QString::number(failures.size() - FailuresListed)});
    return {lines.join(QLatin1Char('\n')), zelmod::jobMessage(JobMessageId::DroppedSummary).caption,
            QMessageBox::Warning};
}
