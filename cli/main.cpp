// zelmod-cli: the conversion job without a window, for scripts and batches.
#include "cli/CommandLine.h"
#include "cli/Interruption.h"
#include "files/Files.h"
#include "job/ConversionJob.h"
#include "job/NativePath.h"
#include "job/ToolFolders.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The window's name: both share an installed copy's per-user working folder.
    QCoreApplication::setApplicationName(QStringLiteral("Zelmod"));
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

    zelmod::Interruption interruption;
    int failures = 0;
    // Interrupted: a job was cancelled or files were left undone. An
    // interrupt after the last file was written changes nothing.
    bool interrupted = false;
    for (qsizetype i = 0; i < request.files.size() && !interrupted; ++i) {
        const zelmod::FileJob& file = request.files[i];
        if (request.files.size() > 1)
            print(stderr, QStringLiteral("[%1/%2] %3\n")
                              .arg(i + 1)
                              .arg(request.files.size())
                              .arg(zelmod::shownPath(file.input)));
        CliHost host(request, file);
        zelmod::JobFilePaths paths;
        zelmod::ConversionJob job(folders, host, paths);
        interruption.watch(&job);
        const zelmod::ConversionJob::Outcome outcome = job.run();
        interruption.watch(nullptr);
        if (outcome != zelmod::ConversionJob::Outcome::Written)
            ++failures;
        interrupted = outcome == zelmod::ConversionJob::Outcome::Cancelled ||
                      (interruption.happened() && i + 1 < request.files.size());
    }
    if (interrupted) {
        print(stderr, QStringLiteral("zelmod-cli: ") +
                          zelmod::jobMessage(zelmod::JobMessageId::Interrupted).text +
                          QLatin1Char('\n'));
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
