// The whole job through the window: the start button, the dialogs answered
// through the common-dialog component, the message boxes captured.
#include "app/basStrSub.h"
#include "app/frmMain.h"
#include "job/choosers/CommonDialog.h"
#include "tests/support/qt_test_kit.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QDropEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>

namespace {

using zelmod::CommonDialog;
using zelmod::FileDialogRequest;
using zelmod::MessageRequest;
using namespace zelmod::testing;

class WindowJob : public testing::Test {
  protected:
    void SetUp() override {
        tool.setConverters(FakeConverter::copying, FakeConverter::copying);
        writeFile(input, "MThd\n0 On ch=1 n=60 v=100\r\n0 On ch=10 n=60 v=100\r\n");
        writeFile(output, "the user's old file");
        basStrSub::InputFilePath.clear();
        basStrSub::OutputFilePath.clear();
        window.setToolFolders(tool.folders());
        auto* dialog = window.findChild<CommonDialog*>(QStringLiteral("dlgCommonDialog"));
        ASSERT_NE(dialog, nullptr);
        dialog->setFilePresenter([this](const FileDialogRequest& request) {
            dialogs.push_back(request);
            controlsDuringDialogs.push_back(anyControlEnabled());
            std::optional<QString> answer = answers.front();
            answers.pop_front();
            return answer;
        });
        dialog->setMessagePresenter([this](const MessageRequest& message) {
            messages.push_back(message);
            controlsDuringDialogs.push_back(anyControlEnabled());
            waitCursorAtAMessage = waitCursorAtAMessage || waitCursorShown();
        });
        dialog->setQuestionPresenter([this](const MessageRequest& question, const QStringList&) {
            questions.push_back(question);
            return 0; // the first answer, the default
        });
        window.show();
    }

    // Whatever way the job ended, the cursor is the usual one again, and it
    // was so when the message appeared.
    void TearDown() override {
        EXPECT_FALSE(waitCursorShown());
        EXPECT_FALSE(waitCursorAtAMessage);
    }

    static bool waitCursorShown() {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        return cursor && cursor->shape() == Qt::WaitCursor;
    }

    template <typename Widget> Widget* control(const char* name) {
        return window.findChild<Widget*>(QLatin1String(name));
    }

    void selectJob(int index) {
        for (QRadioButton* option : window.findChildren<QRadioButton*>(QStringLiteral("optJob")))
            if (option->property("index").toInt() == index)
                option->setChecked(true);
    }

    bool anyControlEnabled() {
        return control<QPushButton>("cmdJob1")->isEnabled() ||
               control<QPushButton>("cmdClose")->isEnabled() ||
               control<QGroupBox>("fmeOption")->isEnabled();
    }

    void start() { control<QPushButton>("cmdJob1")->click(); }
    // Drops the files beside the tool's folder on the window; whether it took them.
    bool drop(const QStringList& names) {
        QList<QUrl> urls;
        for (const QString& name : names)
            urls << QUrl::fromLocalFile(tool.outside(name));
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&window, &enter);
        QDropEvent dropped(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&window, &dropped);
        return enter.isAccepted() && dropped.isAccepted();
    }
    // Starts a job and handles events until its controls are enabled again.
    void runJob() {
        start();
        EXPECT_FALSE(anyControlEnabled());
        EXPECT_TRUE(handleEventsUntil([&] { return anyControlEnabled(); }));
    }

    FakeToolDir tool;
    QString input = tool.outside(QStringLiteral("in.mid"));
    QString output = tool.outside(QStringLiteral("out.mid"));
    frmMain window;
    std::deque<std::optional<QString>> answers;
    std::vector<FileDialogRequest> dialogs;
    std::vector<MessageRequest> messages;
    std::vector<MessageRequest> questions;
    std::vector<bool> controlsDuringDialogs;
    bool waitCursorAtAMessage = false;
};

TEST_F(WindowJob, StartButtonRunsAWholeJob) {
    selectJob(1);
    control<QLineEdit>("txtTrans")->setText(QStringLiteral("12abc"));
    answers = {input, output};
    runJob();
    EXPECT_EQ(readFile(output), "0 On ch=1 n=72 v=100\r\n0 On ch=10 n=60 v=100\r\n");
    EXPECT_EQ(control<QLineEdit>("txtTrans")->text(), QStringLiteral("12"));
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[0].title, QStringLiteral("変換対象のファイルを開きます"));
    EXPECT_EQ(dialogs[1].title, QStringLiteral("変換ファイルの保存先を指定してください"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, QStringLiteral("(?)<変換完了！"));
    EXPECT_EQ(messages[0].text, QStringLiteral("変換完了！"));
    EXPECT_EQ(messages[0].icon, QMessageBox::Warning);
    EXPECT_EQ(controlsDuringDialogs, (std::vector<bool>{false, false, false}));
    EXPECT_TRUE(anyControlEnabled());
    EXPECT_TRUE(control<QPushButton>("cmdJob1")->isEnabled());
    EXPECT_TRUE(window.findChildren<QRadioButton*>(QStringLiteral("optJob"))[4]->isEnabled());
    EXPECT_EQ(basStrSub::InputFilePath, input);
    EXPECT_EQ(basStrSub::OutputFilePath, output);
    EXPECT_TRUE(tool.leftovers().isEmpty());
}

// One dropped MIDI file goes straight to the Save dialog; several files, or
// a folder, into one chosen folder under their own names, with one summary.
TEST_F(WindowJob, DroppedFilesAreConverted) {
    const QByteArray song = "MThd\n0 On ch=1 n=60 v=100\r\n";
    ASSERT_TRUE(QDir().mkpath(tool.outside(QStringLiteral("songs/deeper"))));
    for (const char* name : {"in.mid", "two.MIDI", "notes.txt", "songs/deeper/three.mid"})
        writeFile(tool.outside(QString::fromUtf8(name)), song);
    writeFile(tool.outside(QStringLiteral("songs/cover.jpg")), "not music");
    selectJob(1);
    const QString saveTitle = QStringLiteral("変換ファイルの保存先を指定してください");
    const QString folderTitle = QStringLiteral("変換ファイルの保存先のフォルダを指定してください");
    const struct {
        QStringList dropped;
        bool duringJob;
        QString dialog;
        QStringList written;
        const char* message;
        QString existing = {}; // in the folder before: skipped, as the question's default says
    } drops[] = {
        {{"in.mid"}, false, saveTitle, {"in.mid"}, "変換完了！"},
        {{"in.mid"}, true, {}, {}, "変換完了！"},
        {{"in.mid", "two.MIDI"},
         false,
         folderTitle,
         {"in.mid", "two.MIDI"},
         "2 個のファイルを変換しました（うち頭打ちあり 0 個）\n変換できなかったファイル 0 個"},
        {{"songs"}, false, folderTitle, {"three.mid"}, "1 個のファイルを変換しました"},
        {{"notes.txt", "in.mid"},
         false,
         folderTitle,
         {"in.mid"},
         "notes.txt: MIDI ファイルではありません"},
        {{"in.mid", "two.MIDI"},
         false,
         folderTitle,
         {"in.mid", "two.MIDI"},
         "two.MIDI: 保存先に同じ名前のファイルがあるためスキップしました",
         "two.MIDI"},
    };
    int row = 0;
    for (const auto& [dropped, duringJob, dialog, written, message, existing] : drops) {
        const QString folder = tool.outside(QStringLiteral("drop%1").arg(++row));
        ASSERT_TRUE(QDir().mkdir(folder));
        if (!existing.isEmpty())
            writeFile(folder + QLatin1Char('/') + existing, "the user's old file");
        questions.clear();
        control<QLineEdit>("txtTrans")->setText(QStringLiteral("12"));
        dialogs.clear();
        messages.clear();
        answers = {dialog == saveTitle ? folder + QStringLiteral("/in.mid") : folder};
        if (duringJob) {
            answers = {input, output};
            start();
        }
        EXPECT_NE(drop(dropped), duringJob) << row;
        EXPECT_TRUE(handleEventsUntil([&] { return !messages.empty() && anyControlEnabled(); }))
            << row;
        EXPECT_EQ(dialogs.size(), duringJob ? 2u : 1u) << row;
        EXPECT_EQ(dialogs.back().title, duringJob ? saveTitle : dialog) << row;
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), written) << row;
        for (const QString& name : written)
            EXPECT_EQ(readFile(folder + QLatin1Char('/') + name),
                      name == existing ? "the user's old file" : "0 On ch=1 n=72 v=100\r\n");
        EXPECT_EQ(questions.size(), existing.isEmpty() ? 0u : 1u) << row;
        ASSERT_EQ(messages.size(), 1u) << row;
        EXPECT_TRUE(messages[0].text.contains(QString::fromUtf8(message)))
            << row << ": " << messages[0].text.toStdString();
        EXPECT_EQ(messages[0].caption, QStringLiteral("(?)<変換完了！")) << row;
    }
    EXPECT_TRUE(tool.leftovers().isEmpty());
}

TEST_F(WindowJob, AFailureShowsTheErrorBox) {
    tool.setConverter(QStringLiteral("mf2t"), FakeConverter::failing);
    answers = {input, output};
    runJob();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, QStringLiteral("§ エラー"));
    EXPECT_EQ(messages[0].icon, QMessageBox::NoIcon);
    EXPECT_TRUE(messages[0].text.contains(QStringLiteral("not what was expected")));
    EXPECT_EQ(readFile(output), "the user's old file");
    EXPECT_TRUE(control<QPushButton>("cmdClose")->isEnabled());
}

TEST_F(WindowJob, CancelledOpenDialogEndsQuietly) {
    answers = {std::nullopt};
    runJob();
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(anyControlEnabled());
    EXPECT_TRUE(basStrSub::InputFilePath.isEmpty());
}

TEST_F(WindowJob, ClosingTheWindowDuringAConversionCancelsItFirst) {
    tool.setConverter(QStringLiteral("mf2t"), FakeConverter::hanging);
    answers = {input, output};
    start();
    ASSERT_TRUE(handleEventsUntil(
        [&] { return QFile::exists(tool.outside(QStringLiteral("child.pid"))); }));
    EXPECT_TRUE(waitCursorShown());
    window.close();
    EXPECT_TRUE(window.isVisible()); // not before the job has cleaned up
    EXPECT_TRUE(handleEventsUntil([&] { return !window.isVisible(); }));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(readFile(output), "the user's old file");
    EXPECT_TRUE(tool.leftovers().isEmpty()) << tool.leftovers().join(' ').toStdString();
}

// The job ends while the About window is open; its message and its enabled
// controls wait until that window is closed.
TEST_F(WindowJob, AnAboutWindowOpenedDuringAJobHoldsOnlyItsMessage) {
    tool.setConverter(QStringLiteral("mf2t"), "while [ ! -e ../go ]; do sleep 0.01; done; "
                                              "cp \"$1\" \"$2\"");
    answers = {input, output};
    start();
    ASSERT_TRUE(handleEventsUntil([&] { return waitCursorShown(); }));
    bool endedWithMessageHeld = false;
    QTimer::singleShot(0, [&] {
        writeFile(tool.outside(QStringLiteral("go")), "");
        endedWithMessageHeld = handleEventsUntil([&] { return !waitCursorShown(); }) &&
                               readFile(output) != "the user's old file" && messages.empty() &&
                               !anyControlEnabled();
        QApplication::activeModalWidget()->close();
    });
    const QPointF picture(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, picture, window.mapToGlobal(picture),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &press); // returns once the About window is closed
    EXPECT_TRUE(endedWithMessageHeld);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("変換完了！"));
    EXPECT_TRUE(anyControlEnabled());
    EXPECT_TRUE(tool.leftovers().isEmpty()) << tool.leftovers().join(' ').toStdString();
}

} // namespace
