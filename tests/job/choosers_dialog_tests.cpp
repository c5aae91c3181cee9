// The choosers with Qt's real file dialog on a real display: the test
// reads the dialog that opens and answers it as a user would.
#include "CommonDialog.h"
#include "basFileManager.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << text.toStdString();
}

namespace {

using namespace zelmod;

// Runs action on the modal widget of type Shown once it has opened.
template <typename Shown> void whenShown(std::function<void(Shown*)> action, int triesLeft = 200) {
    QTimer::singleShot(50, [action, triesLeft] {
        if (auto* shown = qobject_cast<Shown*>(QApplication::activeModalWidget()))
            action(shown);
        else if (triesLeft > 0)
            whenShown<Shown>(action, triesLeft - 1);
        else
            ADD_FAILURE() << Shown::staticMetaObject.className() << " did not open";
    });
}

// What the test saw of the file dialog.
struct SeenDialog {
    QString title;
    QStringList nameFilters;
    QStringList shownFilters; // as listed, without the patterns behind them
    int selectedFilter = -1;
    QString directory;
    QString typedName;

    void read(const QFileDialog* dialog) {
        title = dialog->windowTitle();
        nameFilters = dialog->nameFilters();
        if (const auto* combo = dialog->findChild<QComboBox*>("fileTypeCombo")) {
            for (int i = 0; i < combo->count(); ++i)
                shownFilters.append(combo->itemText(i));
            selectedFilter = combo->currentIndex();
        }
        directory = dialog->directory().absolutePath();
        if (const auto* name = dialog->findChild<QLineEdit*>("fileNameEdit"))
            typedName = name->text();
    }
};

class RealDialog : public testing::Test {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs a real display (QT_QPA_PLATFORM=xcb under Xvfb)";
        ASSERT_TRUE(folder.isValid());
        QFile file(folder.filePath("out.mid"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Content);
        dialog.setMessagePresenter([this](const MessageRequest& message) {
            ADD_FAILURE() << "unexpected message " << message.text.toStdString();
        });
    }

    const QByteArray Content = "MThd existing output";
    QTemporaryDir folder;
    QWidget window;
    CommonDialog dialog{&window};
};

TEST_F(RealDialog, OpenShowsTitleAndBothFiltersWithTheSecondSelected) {
    SeenDialog seen;
    whenShown<QFileDialog>([&seen](QFileDialog* shown) {
        seen.read(shown);
        shown->reject();
    });
    QString path = folder.filePath("out.mid");

    EXPECT_FALSE(
        basFileManager::ChooseOpenFile(dialog, QStringLiteral("変換対象のファイルを開きます"),
                                       QStringLiteral("MIDI ファイル (*.mid)|*.mid|"), path, 2));

    EXPECT_EQ(path, folder.filePath("out.mid"));
    EXPECT_EQ(seen.title, QStringLiteral("変換対象のファイルを開きます"));
    ASSERT_EQ(seen.nameFilters.size(), 2);
    EXPECT_EQ(seen.selectedFilter, 1);
    EXPECT_EQ(seen.shownFilters, QStringList({QStringLiteral("すべてのファイル (*.*)"),
                                              QStringLiteral("MIDI ファイル (*.mid)")}));
}

TEST_F(RealDialog, SaveOntoAnExistingFileAsksBeforeReplacing) {
    SeenDialog seen;
    QString prompt;
    whenShown<QFileDialog>([&seen, &prompt](QFileDialog* shown) {
        seen.read(shown);
        whenShown<QMessageBox>([&prompt](QMessageBox* box) {
            prompt = box->text();
            box->button(QMessageBox::Yes)->click();
        });
        auto* name = shown->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        QTest::keyClicks(name, "out.mid");
        QTest::keyClick(name, Qt::Key_Return);
    });
    // As after an earlier job: the path names the file chosen then.
    QString path = folder.filePath("out.mid");

    EXPECT_TRUE(basFileManager::ChooseSaveFile(
        dialog, QStringLiteral("変換ファイルの保存先を指定してください"),
        QStringLiteral("MIDI (*.mid)|*.mid|"), path, 2));

    EXPECT_EQ(seen.title, QStringLiteral("変換ファイルの保存先を指定してください"));
    EXPECT_EQ(seen.directory, folder.path()) << "starts in the earlier file's folder";
    EXPECT_TRUE(seen.typedName.isEmpty());
    EXPECT_EQ(seen.shownFilters, QStringList({QStringLiteral("すべてのファイル (*.*)"),
                                              QStringLiteral("MIDI (*.mid)")}));
    EXPECT_EQ(seen.selectedFilter, 1);
    EXPECT_TRUE(prompt.contains("out.mid")) << "overwrite prompt: " << prompt.toStdString();
    EXPECT_EQ(path, folder.filePath("out.mid"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), Content);
}

} // namespace
