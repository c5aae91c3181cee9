// Files dropped on the main window, converted one after the other into one
// folder: each by an ordinary conversion job whose questions this batch
// answers, with one summary at the end instead of a box per file.
#pragma once

#include "job/ConversionJob.h"
#include "job/ToolFolders.h"
#include "job/choosers/CommonDialog.h"

#include <QObject>
#include <QStringList>

#include <deque>

class DropBatch : public QObject, private zelmod::JobHost {
    Q_OBJECT

  public:
    // The window answers what the jobs ask of the options and the amount;
    // dialogs asks for the folder and shows the summary.
    DropBatch(const zelmod::ToolFolders& folders, zelmod::JobHost& window,
              zelmod::CommonDialog& dialogs, QObject* parent = nullptr);

    // Asks for the output folder, starting in the one of start (a folder or
    // a file), and converts the
    // inputs into it; finished follows once the summary has been shown.
    void start(const QStringList& inputs, const QString& start);
    // Stops the running job and converts no more; no summary is shown.
    void cancel();

    // The MIDI files among the dropped paths, each folder walked for them.
    static QStringList droppedFiles(const QStringList& paths);
    static bool isMidiFileName(const QString& path);

    // The box at the end: how many files were written and clamped, and
    // each failed file with its reason, the first few of them.
    static zelmod::MessageRequest summary(int written, int clamped, const QStringList& failures);

  signals:
    void finished();

  private:
    struct Conversion {
        QString input;
        QString output;
    };

    bool plan(const QStringList& inputs);
    void convertNext();
    void jobEnded(zelmod::ConversionJob::Outcome outcome);
    void end();
    void fail(const QString& input, const QString& reason);

    // What each job asks: answered without dialogs, its message kept.
    void setControlsEnabled(bool) override {}
    QString amountText() const override { return window_.amountText(); }
    void setAmountText(const QString& text) override { window_.setAmountText(text); }
    bool isJobSelected(int index) const override { return window_.isJobSelected(index); }
    bool chooseInput(QString& path) override;
    bool chooseOutput(QString& path) override;
    void showMessage(const zelmod::JobMessage& message) override { jobMessage_ = message; }
    void setBusy(bool busy) override { window_.setBusy(busy); }

    zelmod::ToolFolders folders_;
    zelmod::JobHost& window_;
    zelmod::CommonDialog& dialogs_;
    QString folder_;
    std::deque<Conversion> waiting_;
    zelmod::JobFilePaths paths_;
    zelmod::ConversionJob* job_ = nullptr;
    zelmod::JobMessage jobMessage_;
    bool cancelled_ = false;
    int written_ = 0;
    int clamped_ = 0;
    QStringList failures_;
};
