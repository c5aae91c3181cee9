// zelmod-cli: the conversion job without a window, for scripts and batches.
#include "CommandLine.h"
#include "ConversionJob.h"
#include "Interruption.h"
#include "ToolFolders.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
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
    if (!zelmod::parseCommandLine(QCoreApplication::arguments(), request, error)) {
        if (error.isEmpty()) {
            print(stdout, request.versionAsked ? QStringLiteral("zelmod-cli " ZELMOD_VERSION "\n")
                                               : zelmod::usageText());
            return 0;
        }
        print(stderr,
              QStringLiteral("zelmod-cli: ") + error + QLatin1Char('\n') + zelmod::usageText());
        return 2;
    }
    if (const QString refusal = zelmod::refusalOf(request); !refusal.isEmpty()) {
        print(stderr, QStringLiteral("zelmod-cli: ") + refusal + QLatin1Char('\n'));
        return 1;
    }

    const zelmod::ToolFolders folders =
        zelmod::toolFoldersOf(QCoreApplication::applicationDirPath());
    zelmod::Interruption interruption;
    int failures = 0;
    for (qsizetype i = 0; i < request.files.size() && !interruption.happened(); ++i) {
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
        if (job.run() != zelmod::ConversionJob::Outcome::Written)
            ++failures;
        interruption.watch(nullptr);
    }
    if (interruption.happened()) {
        print(stderr, QStringLiteral("zelmod-cli: ") +
                          zelmod::jobMessage(zelmod::JobMessageId::Interrupted).text +
                          QLatin1Char('\n'));
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
