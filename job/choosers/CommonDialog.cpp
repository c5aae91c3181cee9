#include "job/choosers/CommonDialog.h"

#include "job/choosers/MessageBoxFit.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QMetaEnum>
#include <QPushButton>
#include <QScreen>
#include <QTreeView>
#include <QWidget>

#include <algorithm>
#include <cstdio>

namespace zelmod {
namespace {

// On Windows "*.*" matches every name; elsewhere it would hide the names
// without a dot.
QString portablePattern(const QString& pattern) {
#ifdef Q_OS_WIN
    return pattern;
#else
    return pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern;
#endif
}

// InitDir may name a file (the one chosen last time): start in its folder.
QString startDirectory(const QString& initDir) {
    if (initDir.isEmpty())
        return {};
    const QFileInfo start(initDir);
    return start.isDir() ? start.absoluteFilePath() : start.absolutePath();
}

// The dialog restores the column widths of its last use, which may cut the
// size, type and date short ("12…iB"), in Japanese more so. Once its folder
// is listed, columns too narrow for their texts are widened to them, and the
// dialog widens to show them, as far as the screen allows.
void widenForColumnsWhenListed(QFileDialog& dialog) {
    auto* list = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (!list || !model)
        return;
    auto* fitting = new QObject(&dialog); // ends the connection once fitted
    QObject::connect(
        model, &QFileSystemModel::directoryLoaded, fitting,
        [&dialog, list, fitting](const QString& folder) {
            if (QDir(folder) != dialog.directory())
                return;
            QHeaderView* header = list->header();
            const QAbstractItemView* view = list;
            for (int column = 1; column < header->count(); ++column)
                header->resizeSection(
                    column, std::max({header->sectionSize(column), header->sectionSizeHint(column),
                                      view->sizeHintForColumn(column)}));
            const int missing = header->length() - list->viewport()->width();
            const int room = dialog.screen()->availableGeometry().width();
            if (missing > 0)
                dialog.resize(std::min(dialog.width() + missing, room), dialog.height());
            fitting->deleteLater();
        });
}

void answerOnStandardError(const MessageRequest& message) {
    const char* icon = QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(message.icon);
    std::fprintf(stderr, "message box: %s | %s | %s\n", icon, qUtf8Printable(message.caption),
                 qUtf8Printable(message.text));
}

} // namespace

CommonDialog::CommonDialog(QObject* parent)
    : QObject(parent),
      filePresenter_([this](const FileDialogRequest& request) { return runFileDialog(request); }),
      questionPresenter_([this](const MessageRequest& question, const QStringList& answers) {
          return runQuestionBox(question, answers);
      }) {
    if (qEnvironmentVariableIsSet("ZELMOD_TEST_ANSWER_MESSAGES"))
        messagePresenter_ = answerOnStandardError;
    else
        messagePresenter_ = [this](const MessageRequest& message) { runMessageBox(message); };
}

bool CommonDialog::ShowOpen() {
    return show(QFileDialog::AcceptOpen);
}

bool CommonDialog::ShowSave() {
    return show(QFileDialog::AcceptSave);
}

bool CommonDialog::show(QFileDialog::AcceptMode mode) {
    const std::optional<QString> chosen = filePresenter_(request(mode));
    fileName_ = chosen.value_or(QString());
    return chosen.has_value() || !cancelError_;
}

void CommonDialog::showMessage(const MessageRequest& message) const {
    messagePresenter_(message);
}

int CommonDialog::ask(const MessageRequest& question, const QStringList& answers) const {
    return questionPresenter_(question, answers);
}

std::optional<QString> CommonDialog::chooseFolder(const QString& title,
                                                  const QString& start) const {
    FileDialogRequest request;
    request.fileMode = QFileDialog::Directory;
    request.options = QFileDialog::ShowDirsOnly;
    request.title = title;
    request.directory = startDirectory(start);
    return filePresenter_(request);
}

void CommonDialog::setQuestionPresenter(QuestionPresenter presenter) {
    questionPresenter_ = std::move(presenter);
}

void CommonDialog::setFilePresenter(FilePresenter presenter) {
    filePresenter_ = std::move(presenter);
}

void CommonDialog::setMessagePresenter(MessagePresenter presenter) {
    messagePresenter_ = std::move(presenter);
}

FileDialogRequest CommonDialog::request(QFileDialog::AcceptMode mode) const {
    FileDialogRequest request;
    request.acceptMode = mode;
    request.fileMode = flags_ & FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile;
    // QFileDialog never offers a read-only box nor changes the current
    // directory, so HideReadOnly and NoChangeDir need nothing here.
    request.options = QFileDialog::HideNameFilterDetails;
    if (!(flags_ & OverwritePrompt))
        request.options |= QFileDialog::DontConfirmOverwrite;
    request.title = dialogTitle_;
    request.directory = startDirectory(initDir_);
    request.fileName = fileName_;
    request.nameFilters = nameFilters(filter_);
    if (filterIndex_ >= 1 && filterIndex_ <= request.nameFilters.size())
        request.selectedNameFilter = request.nameFilters.at(filterIndex_ - 1);
    return request;
}

// Each pair becomes "description (patterns)". With HideNameFilterDetails the
// dialog shows only the description and filters by the patterns, so a pair
// keeps its label even where its pattern is rewritten.
QStringList CommonDialog::nameFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns)
            pattern = portablePattern(pattern.trimmed());
        if (patterns.isEmpty())
            continue;
        filters.append(parts.at(i) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')'));
    }
    return filters;
}

QWidget* CommonDialog::owner() const {
    return qobject_cast<QWidget*>(parent());
}

std::optional<QString> CommonDialog::runFileDialog(const FileDialogRequest& request) const {
    QFileDialog dialog(owner(), request.title, request.directory);
    dialog.setAcceptMode(request.acceptMode);
    dialog.setFileMode(request.fileMode);
    dialog.setOptions(request.options);
    dialog.setNameFilters(request.nameFilters);
    dialog.selectNameFilter(request.selectedNameFilter);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    widenForColumnsWhenListed(dialog);
    const MessageBoxFitting fitting; // the overwrite question
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

void CommonDialog::runMessageBox(const MessageRequest& message) const {
    QMessageBox box(message.icon, message.caption, message.text, QMessageBox::Ok, owner());
    fitMessageBox(box);
    box.exec();
}

int CommonDialog::runQuestionBox(const MessageRequest& question, const QStringList& answers) const {
    QMessageBox box(question.icon, question.caption, question.text, QMessageBox::NoButton, owner());
    QList<QAbstractButton*> buttons;
    for (const QString& answer : answers)
        buttons << box.addButton(answer, QMessageBox::AcceptRole);
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.constFirst()));
    box.setEscapeButton(buttons.constLast());
    fitMessageBox(box);
    box.exec();
    const int chosen = int(buttons.indexOf(box.clickedButton()));
    return chosen < 0 ? int(answers.size()) - 1 : chosen;
}

} // namespace zelmod
