// zelmod-cli: the conversion job without a window, for scripts and batches.
#include "cli/CommandLine.h"
#include "cli/Interruption.h"
#include "files/Files.h"
#include "job/ConversionJob.h"
#include "job/ConverterRun.h"
#include "job/JobFiles.h"
#include "job/NativePath.h"
#include "job/ToolFolders.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

// Paths in the text come out with their own bytes, control characters escaped.
void print(std::FILE* stream, const QString& text) {
    std::fputs(zelmod::convert::escapedControls(zelmod::nativeString(text), "\n").c_str(), stream);
    std::fflush(stream);
}

// Qt's own list would turn bytes that are not UTF-8 into U+FFFD.
QStringList argumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(zelmod::pathFromNative(QByteArray(argv[i])));
    return arguments;
}

// Answers the job's questions from the command line and prints its messages.
class CliHost : public zelmod::JobHost {
  public:
    CliHost(const zelmod::CliRequest& request, const zelmod::FileJob& file)
        : request_(request), file_(file) {}

    void setControlsEnabled(bool) override {}
    QString amountText() const override { return request_.amountText; }
    void setAmountText(const QString&) override {}
    bool isJobSelected(int index) const override { return index == int(request_.job); }
    bool chooseInput(QString& path) override {
        path = file_.input;
        return true;
    }
    bool chooseOutput(QString& path) override {
        path = file_.output;
        return true;
    }
    void showMessage(const zelmod::JobMessage& message) override {
        const bool error = message.icon == zelmod::JobMessage::Icon::None;
        QString text = message.text;
        text.replace(QLatin1Char('\n'), QLatin1String("\n    "));
        print(error ? stderr : stdout,
              zelmod::shownPath(file_.input) + QStringLiteral(": ") + text + QLatin1Char('\n'));
    }

  private:
    const zelmod::CliRequest& request_;
    const zelmod::FileJob& file_;
};

// Converts the files one after another on the event loop, one job each,
// and ends the loop with the exit code once none is left.
class FileRuns {
  public:
    FileRuns(const zelmod::CliRequest& request, const zelmod::ToolFolders& folders)
        : request_(request), folders_(folders) {}

    void startNext() {
        // Interrupted: a job was cancelled or files were left undone. An
        // interrupt after the last file was written changes nothing.
        interrupted_ = interrupted_ || (interruption_.happened() && next_ < request_.files.size());
        if (next_ == request_.files.size() || interrupted_)
            return QCoreApplication::exit(reportEnd());
        const zelmod::FileJob& file = request_.files[next_++];
        if (request_.files.size() > 1)
            print(stderr, QStringLiteral("[%1/%2] %3\n")
                              .arg(next_)
                              .arg(request_.files.size())
                              .arg(zelmod::shownPath(file.input)));
        host_.emplace(request_, file);
        job_ = std::make_unique<zelmod::ConversionJob>(folders_, *host_, paths_,
                                                       new zelmod::ConverterRun(folders_));
        interruption_.watch(job_.get());
        QObject::connect(job_.get(), &zelmod::ConversionJob::finished,
                         [this](zelmod::ConversionJob::Outcome outcome) {
                             interruption_.watch(nullptr);
                             jobEnded(outcome);
                         });
        job_->start();
    }

  private:
    void jobEnded(zelmod::ConversionJob::Outcome outcome) {
        if (outcome != zelmod::ConversionJob::Outcome::Written)
            ++failures_;
        interrupted_ = outcome == zelmod::ConversionJob::Outcome::Cancelled;
        // Next from the event loop, which handles an interrupt still pending first.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [this] { startNext(); }, Qt::QueuedConnection);
    }

    // Says so when the run was interrupted; gives the exit code.
    int reportEnd() const {
        if (interrupted_) {
            print(stderr, QStringLiteral("zelmod-cli: ") +
                              zelmod::jobMessage(zelmod::JobMessageId::Interrupted).text +
                              QLatin1Char('\n'));
            return 1;
        }
        return failures_ == 0 ? 0 : 1;
    }

    const zelmod::CliRequest& request_;
    const zelmod::ToolFolders& folders_;
    zelmod::Interruption interruption_;
    std::optional<CliHost> host_;
    std::unique_ptr<zelmod::ConversionJob> job_; // replaced from the event loop, not its signal
    zelmod::JobFilePaths paths_;
    qsizetype next_ = 0;
    int failures_ = 0;
    bool interrupted_ = false;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The window's name: both share an installed copy's per-user working folder.
    QCoreApplication::setApplicationName(zelmod::AppTitle);
    zelmod::CliRequest request;
    QString error;
    if (!zelmod::parseCommandLine(argumentsOf(argc, argv), request, error)) {
        if (error.isEmpty()) {
            print(stdout, request.versionAsked ? QStringLiteral("zelmod-cli " ZELMOD_VERSION "\n")
                                               : zelmod::usageText());
            return 0;
        }
        print(stderr,
              QStringLiteral("zelmod-cli: ") + error + QLatin1Char('\n') + zelmod::usageText());
        return 2;
    }
    const zelmod::ToolFolders folders = zelmod::toolFoldersOf(zelmod::programDirectory());
    if (const QString refusal = zelmod::refusalOf(request, folders.workDir); !refusal.isEmpty()) {
        print(stderr, QStringLiteral("zelmod-cli: ") + refusal + QLatin1Char('\n'));
        return 1;
    }
    FileRuns runs(request, folders);
    runs.startNext();
    return QCoreApplication::exec();
}
