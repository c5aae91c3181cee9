// The main window's common-dialog component, dlgCommonDialog: it holds what
// the next Open or Save dialog is to show and shows it with QFileDialog.
#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace zelmod {

// Everything a file dialog is prepared with, handed to the presenter.
struct FileDialogRequest {
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    QFileDialog::Options options;
    QString title;
    QString directory; // empty: wherever the dialog starts by itself
    QString fileName;  // typed into the name box, may carry a folder; empty for none
    QStringList nameFilters;
    QString selectedNameFilter;
};

// A message box with an OK button, shown on behalf of the dialog's users.
struct MessageRequest {
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

class CommonDialog : public QObject {
    Q_OBJECT

  public:
    // The Windows OPENFILENAME flag values that Flags takes.
    enum Flag : uint {
        OverwritePrompt = 0x0002,
        HideReadOnly = 0x0004,
        NoChangeDir = 0x0008,
        PathMustExist = 0x0800,
        FileMustExist = 0x1000,
    };

    // Shows a prepared file dialog; the chosen path, or nothing on cancel.
    using FilePresenter = std::function<std::optional<QString>(const FileDialogRequest&)>;
    using MessagePresenter = std::function<void(const MessageRequest&)>;
    using QuestionPresenter = std::function<int(const MessageRequest&, const QStringList&)>;

    // The dialogs are modal over parent when it is a widget.
    explicit CommonDialog(QObject* parent = nullptr);

    QString fileName() const { return fileName_; }
    void setFileName(const QString& fileName) { fileName_ = fileName; }
    // A folder, or a file whose folder the dialog then starts in.
    void setInitDir(const QString& initDir) { initDir_ = initDir; }
    void setDialogTitle(const QString& title) { dialogTitle_ = title; }
    // Pairs of description and pattern, each followed by a bar:
    // "MIDI (*.mid)|*.mid|". Patterns of one pair are separated by ';'.
    void setFilter(const QString& filter) { filter_ = filter; }
    // 1-based index of the preselected pair.
    void setFilterIndex(int index) { filterIndex_ = index; }
    void setFlags(uint flags) { flags_ = flags; }
    // When set, Cancel makes ShowOpen and ShowSave return false; when clear,
    // they return true with an empty FileName.
    void setCancelError(bool cancelError) { cancelError_ = cancelError; }

    // Show the dialog; FileName then holds the chosen path.
    bool ShowOpen();
    bool ShowSave();

    // Shows a message box over the same window as the dialogs, wide enough
    // for its caption and with its text in balanced lines, and returns when
    // the user has answered it. Every message box of the program is shown here.
    void showMessage(const MessageRequest& message) const;
    // The same with a button for each answer, the first the default; the
    // index of the one chosen. Escape, or closing the box, chooses the last.
    int ask(const MessageRequest& question, const QStringList& answers) const;

    // Shows a folder dialog starting in start, a folder or the one of a file;
    // the chosen folder, or nothing on cancel.
    std::optional<QString> chooseFolder(const QString& title, const QString& start) const;

    // Replace how dialogs and messages are shown (tests answer them this
    // way). A program tested as a separate process is started with the
    // environment variable ZELMOD_TEST_ANSWER_MESSAGES set: each message box
    // is then answered at once, and one line "message box: ICON | CAPTION |
    // TEXT" goes to standard error instead.
    void setFilePresenter(FilePresenter presenter);
    void setMessagePresenter(MessagePresenter presenter);
    void setQuestionPresenter(QuestionPresenter presenter);

    // The request the dialog would be shown with now.
    FileDialogRequest request(QFileDialog::AcceptMode mode) const;

    // The name filters QFileDialog takes for a filter text of bar-separated pairs.
    static QStringList nameFilters(const QString& filter);

  private:
    bool show(QFileDialog::AcceptMode mode);
    QWidget* owner() const;
    std::optional<QString> runFileDialog(const FileDialogRequest& request) const;
    void runMessageBox(const MessageRequest& message) const;
    int runQuestionBox(const MessageRequest& question, const QStringList& answers) const;

    QString fileName_;
    QString initDir_;
    QString dialogTitle_;
    QString filter_;
    int filterIndex_ = 0;
    uint flags_ = 0;
    bool cancelError_ = false;
    FilePresenter filePresenter_;
    MessagePresenter messagePresenter_;
    QuestionPresenter questionPresenter_;
};

} // namespace zelmod
