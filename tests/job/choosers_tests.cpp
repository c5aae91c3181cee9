// The file choosers: what they prepare the dialog with, and what they give
// back and leave on disk, answered through the dialog component's
// presenters; Qt's real file dialog on a real display, answered as a user
// would; and whether a file may be replaced, asked as an unprivileged user.
#include "job/choosers/CommonDialog.h"
#include "job/choosers/MessageBoxFit.h"
#include "job/choosers/basFileManager.h"
#include "tests/support/qt_test_kit.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <vector>

#ifdef Q_OS_UNIX
#include "tests/support/test_processes.h"

#include <sys/stat.h>
#endif

namespace {

using zelmod::testing::PrintTo;
using namespace zelmod::testing;
using zelmod::CommonDialog;
using zelmod::FileDialogRequest;
using zelmod::MessageRequest;
using zelmod::basFileManager::ChooseOpenFile;
using zelmod::basFileManager::ChooseSaveFile;

const QString OpenTitle = QStringLiteral("変換対象のファイルを開きます");
const QString OpenFilter = QStringLiteral("MIDI ファイル (*.mid)|*.mid|");
const QString SaveTitle = QStringLiteral("変換ファイルの保存先を指定してください");
const QString SaveFilter = QStringLiteral("MIDI (*.mid)|*.mid|");
const QString PreviousPath = QStringLiteral("/previous/choice.mid");

#ifdef Q_OS_WIN
const QString AllFilesNameFilter = QStringLiteral("すべてのファイル (*.*) (*.*)");
#else
const QString AllFilesNameFilter = QStringLiteral("すべてのファイル (*.*) (*)");
#endif

// A temporary folder holding in.mid and out.mid and a folder sub.
class Choosers : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        writeFile(folder.filePath("in.mid"), "MThd input");
        writeFile(folder.filePath("out.mid"), "MThd old output");
        ASSERT_TRUE(QDir(folder.path()).mkdir("sub"));
        dialog.setFilePresenter([this](const FileDialogRequest& request) {
            requests.push_back(request);
            return answer;
        });
        dialog.setMessagePresenter(
            [this](const MessageRequest& message) { messages.push_back(message); });
    }

    // Every entry of the folder with its content.
    QMap<QString, QByteArray> snapshot() const {
        QMap<QString, QByteArray> entries;
        const QDir dir(folder.path());
        for (const QString& name : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
            entries.insert(name, readFile(dir.filePath(name)));
        return entries;
    }

    // Replaces {tmp} and {tool} in a path pattern.
    QString expand(const QString& pattern) const {
        return QString(pattern)
            .replace("{tmp}", folder.path())
            .replace("{tool}", QCoreApplication::applicationDirPath());
    }

    QTemporaryDir folder;
    CommonDialog dialog;
    std::optional<QString> answer;
    std::vector<FileDialogRequest> requests;
    std::vector<MessageRequest> messages;
};

// ---- What each chooser returns, and what it leaves on disk.

struct OutcomeCase {
    const char* name;
    bool save;
    std::optional<const char*> answer; // a name in the folder, or cancel
    bool result;
    bool pathChosen; // the path variable holds the answer afterwards
    bool inUseMessage;
};

class ChooserOutcome : public Choosers, public testing::WithParamInterface<OutcomeCase> {};

TEST_P(ChooserOutcome, GivesResultPathAndMessage) {
    const OutcomeCase& c = GetParam();
    if (c.answer)
        answer = **c.answer ? folder.filePath(*c.answer) : QString();
    const QMap<QString, QByteArray> before = snapshot();
    QString path = PreviousPath;

    const bool result = c.save ? ChooseSaveFile(dialog, SaveTitle, SaveFilter, path, 2)
                               : ChooseOpenFile(dialog, OpenTitle, OpenFilter, path, 2);

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(path, c.pathChosen ? *answer : PreviousPath);
    ASSERT_EQ(messages.size(), c.inUseMessage ? 1u : 0u);
    if (c.inUseMessage) {
        EXPECT_EQ(messages[0].text, QStringLiteral("ファイルが使用中です、上書きできません\n") +
                                        QDir::toNativeSeparators(*answer));
        EXPECT_EQ(messages[0].caption, QStringLiteral("§ エラー"));
        EXPECT_EQ(messages[0].icon, QMessageBox::NoIcon);
    }
    EXPECT_EQ(snapshot(), before) << "the folder must be left as it was";
    EXPECT_TRUE(dialog.fileName().isEmpty());
    EXPECT_TRUE(dialog.request(QFileDialog::AcceptOpen).directory.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChooserOutcome,
    testing::Values(OutcomeCase{"OpenCancelled", false, std::nullopt, false, false, false},
                    OutcomeCase{"OpenChosen", false, "in.mid", true, true, false},
                    OutcomeCase{"OpenEmptyName", false, "", false, false, false},
                    OutcomeCase{"SaveCancelled", true, std::nullopt, false, false, false},
                    OutcomeCase{"SaveEmptyName", true, "", false, false, false},
                    OutcomeCase{"SaveNewName", true, "new.mid", true, true, false},
                    OutcomeCase{"SaveNameWithoutExtension", true, "new", true, true, false},
                    // The existing file stays until the job replaces it.
                    OutcomeCase{"SaveOntoExistingFile", true, "out.mid", true, true, false},
                    OutcomeCase{"SaveOntoFolder", true, "sub", false, true, true}),
    caseName);

// ---- Where the dialog starts, for each start mode.

struct StartCase {
    const char* name;
    int startMode;
    const char* path;
    const char* directory; // what the dialog is asked to start in
    const char* fileName;  // what it is asked to show typed in
};

class ChooserStart : public Choosers, public testing::WithParamInterface<StartCase> {};

TEST_P(ChooserStart, PreparesFolderAndName) {
    const StartCase& c = GetParam();
    dialog.setInitDir(folder.filePath("sub")); // only a mode outside 0..3 keeps this
    QString path = expand(c.path);

    ChooseOpenFile(dialog, OpenTitle, OpenFilter, path, c.startMode);

    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].directory, expand(c.directory));
    EXPECT_EQ(requests[0].fileName, expand(c.fileName));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ChooserStart,
    testing::Values(StartCase{"Plain", 0, "{tmp}/in.mid", "", ""},
                    StartCase{"ToolDirectory", 1, "{tmp}/in.mid", "{tool}", ""},
                    StartCase{"FromEarlierFile", 2, "{tmp}/in.mid", "{tmp}", ""},
                    StartCase{"FromVanishedFile", 2, "{tmp}/gone.mid", "{tmp}", ""},
                    StartCase{"FromFolder", 2, "{tmp}/sub", "{tmp}/sub", ""},
                    StartCase{"FromNothing", 2, "", "", ""},
                    StartCase{"WithPath", 3, "{tmp}/in.mid", "", "{tmp}/in.mid"},
                    StartCase{"UnknownModeKeepsDialog", 7, "{tmp}/in.mid", "{tmp}/sub", ""}),
    caseName);

// ---- Title, filters and behaviour of each dialog.

struct DialogCase {
    const char* name;
    bool save;
    QString title;
    QString secondFilter;
    QFileDialog::FileMode fileMode;
    bool confirmOverwrite;
};

class ChooserDialog : public Choosers, public testing::WithParamInterface<DialogCase> {};

TEST_P(ChooserDialog, IsPreparedForItsRole) {
    const DialogCase& c = GetParam();
    QString path;
    if (c.save)
        ChooseSaveFile(dialog, SaveTitle, SaveFilter, path, 0);
    else
        ChooseOpenFile(dialog, OpenTitle, OpenFilter, path, 0);

    ASSERT_EQ(requests.size(), 1u);
    const FileDialogRequest& request = requests[0];
    EXPECT_EQ(request.acceptMode, c.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    EXPECT_EQ(request.title, c.title);
    EXPECT_EQ(request.nameFilters, QStringList({AllFilesNameFilter, c.secondFilter}));
    EXPECT_EQ(request.selectedNameFilter, c.secondFilter);
    EXPECT_EQ(request.fileMode, c.fileMode);
    EXPECT_EQ(request.options.testFlag(QFileDialog::DontConfirmOverwrite), !c.confirmOverwrite);
    EXPECT_TRUE(request.options.testFlag(QFileDialog::HideNameFilterDetails));
}

INSTANTIATE_TEST_SUITE_P(Roles, ChooserDialog,
                         testing::Values(DialogCase{"Open", false, OpenTitle,
                                                    "MIDI ファイル (*.mid) (*.mid)",
                                                    QFileDialog::ExistingFile, false},
                                         DialogCase{"Save", true, SaveTitle, "MIDI (*.mid) (*.mid)",
                                                    QFileDialog::AnyFile, true}),
                         caseName);

struct FilterCase {
    const char* filter;
    QStringList nameFilters;
};

void PrintTo(const FilterCase& c, std::ostream* out) {
    *out << '"' << c.filter << '"';
}

class CommonDialogFilter : public testing::TestWithParam<FilterCase> {};

TEST_P(CommonDialogFilter, BecomesNameFilters) {
    EXPECT_EQ(CommonDialog::nameFilters(QString::fromUtf8(GetParam().filter)),
              GetParam().nameFilters);
}

INSTANTIATE_TEST_SUITE_P(Texts, CommonDialogFilter,
                         testing::Values(FilterCase{"", {}},
                                         FilterCase{"MIDI|*.mid", {"MIDI (*.mid)"}},
                                         FilterCase{"MIDI|*.mid;*.midi|Text|*.txt|",
                                                    {"MIDI (*.mid *.midi)", "Text (*.txt)"}},
                                         FilterCase{"No pattern||", {}}));

struct WrapCase {
    const char* name;
    const char* text;
    QList<int> lineCounts; // per paragraph
};

class MessageWrap : public testing::TestWithParam<WrapCase> {};

// A long paragraph needs as many lines as at the limit, no more, and they are
// about equally wide: no line holds only the last word. Nothing is lost.
TEST_P(MessageWrap, KeepsParagraphsAndBalancesTheirLines) {
    QFont font;
    font.setPixelSize(12);
    const QFontMetrics metrics(font);
    const int limit = 20 * metrics.horizontalAdvance(QChar(0x3000));
    const QString text = QString::fromUtf8(GetParam().text);
    const QStringList paragraphs = text.split('\n');
    const QStringList wrapped = zelmod::balancedLines(text, font, limit).split('\n');
    qsizetype line = 0;
    for (qsizetype p = 0; p < paragraphs.size(); ++p) {
        const int count = GetParam().lineCounts[p];
        const QStringList lines = wrapped.mid(line, count);
        line += count;
        EXPECT_EQ(lines.join(QString()), paragraphs[p]);
        int narrowest = limit;
        int widest = 0;
        for (const QString& shown : lines) {
            narrowest = std::min(narrowest, metrics.horizontalAdvance(shown));
            widest = std::max(widest, metrics.horizontalAdvance(shown));
        }
        EXPECT_LE(widest, limit);
        if (count > 1) {
            EXPECT_LE(widest - narrowest, 2 * metrics.horizontalAdvance(QChar(0x3000))) << widest;
        }
    }
    EXPECT_EQ(line, wrapped.size());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MessageWrap,
    testing::Values(WrapCase{"short", "変換完了！", {1}},
                    WrapCase{"completion warning",
                             "変換完了！しましたが、頭打ちになった音が存在していることを"
                             "警告しておきます",
                             {2}},
                    WrapCase{"paragraphs",
                             "変換プログラムを起動できません\n/tmp/a.mid\n"
                             "イベントテキストの12行目を読み込めません、ファイルが途中で"
                             "終わっています、もう一度変換してください",
                             {1, 1, 3}}));

TEST_F(Choosers, CancelWithoutCancelErrorGivesAnEmptyName) {
    dialog.setFileName("old.mid");
    dialog.setCancelError(false);
    EXPECT_TRUE(dialog.ShowOpen());
    EXPECT_TRUE(dialog.fileName().isEmpty());
    dialog.setCancelError(true);
    EXPECT_FALSE(dialog.ShowOpen());
}

// ---- Qt's real file dialog, read and answered as a user would.

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

struct RealDialogCase {
    const char* name;
    bool save; // the user types the existing file's name and agrees to replace it; else cancels
    QString title;
    QString shownFilter; // the second filter, selected
};

class RealDialog : public testing::TestWithParam<RealDialogCase> {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs a real display (QT_QPA_PLATFORM=xcb under Xvfb)";
        ASSERT_TRUE(folder.isValid());
        writeFile(folder.filePath("out.mid"), Content);
        // The file dialog keeps its column widths there; each test starts afresh.
        ASSERT_TRUE(settings.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
        dialog.setMessagePresenter([](const MessageRequest& message) {
            ADD_FAILURE() << "unexpected message " << message.text.toStdString();
        });
    }

    const QByteArray Content = "MThd existing output";
    QTemporaryDir folder;
    QTemporaryDir settings;
    QWidget window;
    CommonDialog dialog{&window};
};

// Whether every column of the listed folder is as wide as its texts and the
// dialog as wide as its columns.
bool columnsShowTheirTexts(QFileDialog& dialog) {
    auto* tree = dialog.findChild<QTreeView*>("treeView");
    const QAbstractItemView* list = tree;
    QHeaderView* header = tree->header();
    if (tree->model()->rowCount(tree->rootIndex()) == 0)
        return false;
    for (int column = 0; column < header->count(); ++column) {
        if (header->sectionSize(column) < list->sizeHintForColumn(column))
            return false;
    }
    return header->length() <= tree->viewport()->width();
}

TEST_P(RealDialog, ShowsTitleAndFiltersAndKeepsTheFile) {
    const RealDialogCase& c = GetParam();
    {
        // An earlier use left the columns narrow; the dialog restores them.
        QFileDialog earlier;
        QHeaderView* header = earlier.findChild<QTreeView*>("treeView")->header();
        for (int column = 1; column < header->count(); ++column)
            header->resizeSection(column, 8);
    }
    SeenDialog seen;
    QString prompt;
    whenShown<QFileDialog>([&](QFileDialog* shown) {
        seen.read(shown);
        if (!c.save) {
            EXPECT_TRUE(QTest::qWaitFor([shown] { return columnsShowTheirTexts(*shown); }));
            shown->reject();
            return;
        }
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

    EXPECT_EQ(c.save ? ChooseSaveFile(dialog, SaveTitle, SaveFilter, path, 2)
                     : ChooseOpenFile(dialog, OpenTitle, OpenFilter, path, 2),
              c.save);

    EXPECT_EQ(seen.title, c.title);
    ASSERT_EQ(seen.nameFilters.size(), 2);
    EXPECT_EQ(seen.shownFilters,
              QStringList({QStringLiteral("すべてのファイル (*.*)"), c.shownFilter}));
    EXPECT_EQ(seen.selectedFilter, 1);
    EXPECT_EQ(seen.directory, folder.path()) << "starts in the earlier file's folder";
    EXPECT_TRUE(seen.typedName.isEmpty());
    if (c.save) {
        EXPECT_TRUE(prompt.contains("out.mid")) << "overwrite prompt: " << prompt;
    }
    EXPECT_EQ(path, folder.filePath("out.mid"));
    EXPECT_EQ(readFile(path), Content);
}

INSTANTIATE_TEST_SUITE_P(
    Roles, RealDialog,
    testing::Values(RealDialogCase{"Open", false, OpenTitle, "MIDI ファイル (*.mid)"},
                    RealDialogCase{"SaveOntoAnExistingFile", true, SaveTitle, "MIDI (*.mid)"}),
    caseName);

#ifdef Q_OS_UNIX
// ---- Whether the Save chooser lets a file be replaced, asked by the probe
// ---- program as the unprivileged user, since file modes do not bind root.

enum class Entry { Nothing, File, Folder };

struct PermissionCase {
    const char* name;
    bool folderOwnedByNobody;
    mode_t folderMode;
    Entry entry;
    bool fileOwnedByNobody;
    mode_t fileMode;
    const char* answer; // the first line of the chooser's message
};

class ReplaceCheck : public testing::TestWithParam<PermissionCase> {
  protected:
    void SetUp() override {
        if (!canRunAsNobody())
            GTEST_SKIP() << "needs root and setpriv to run the check as the user nobody";
        // The whole tree must be traversable by nobody, the probe included.
        ASSERT_TRUE(base.isValid());
        ASSERT_EQ(chmod(QFile::encodeName(base.path()).constData(), 0755), 0);
        probe = base.filePath("probe");
        ASSERT_TRUE(QFile::copy(QStringLiteral(ZELMOD_REPLACE_PROBE), probe));
        ASSERT_EQ(chmod(QFile::encodeName(probe).constData(), 0755), 0);
    }

    static void setOwnerAndMode(const QString& path, bool nobody, mode_t mode) {
        const QByteArray name = QFile::encodeName(path);
        ASSERT_EQ(chown(name.constData(), nobody ? Nobody : 0, nobody ? Nobody : 0), 0);
        ASSERT_EQ(chmod(name.constData(), mode), 0);
    }

    const QByteArray Content = "MThd existing output";
    QTemporaryDir base;
    QString probe;
};

TEST_P(ReplaceCheck, AnswersAsTheUserWould) {
    const PermissionCase& c = GetParam();
    const QString folder = base.filePath("folder");
    const QString target = folder + "/out.mid";
    ASSERT_TRUE(QDir().mkdir(folder));
    if (c.entry == Entry::Folder) {
        ASSERT_TRUE(QDir().mkdir(target));
    } else if (c.entry == Entry::File) {
        writeFile(target, Content);
        setOwnerAndMode(target, c.fileOwnedByNobody, c.fileMode);
    }
    setOwnerAndMode(folder, c.folderOwnedByNobody, c.folderMode);

    const RunResult run =
        zelmod::testing::run(QFile::encodeName(probe).toStdString(),
                             {QFile::encodeName(target).toStdString()}, {.asNobody = true});
    ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.output;
    EXPECT_EQ(run.output, std::string(c.answer) + "\n");

    if (c.entry == Entry::File) {
        EXPECT_EQ(readFile(target), Content) << "the check must not touch the file";
    }
}

const char* const replaceable = "replaceable";
const char* const folderLocked = "フォルダに書き込む権限がありません、保存できません";

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceCheck,
    testing::Values(
        PermissionCase{"NothingThereYet", true, 0755, Entry::Nothing, false, 0, replaceable},
        PermissionCase{"NothingThereInLockedFolder", false, 0755, Entry::Nothing, false, 0,
                       folderLocked},
        PermissionCase{"FreeFile", true, 0755, Entry::File, true, 0644, replaceable},
        PermissionCase{"SomeoneElsesFileInOwnFolder", true, 0755, Entry::File, false, 0644,
                       replaceable},
        PermissionCase{"ReadOnlyFile", true, 0755, Entry::File, true, 0444, replaceable},
        PermissionCase{"FolderWithoutWritePermission", false, 0755, Entry::File, true, 0666,
                       folderLocked},
        PermissionCase{"StickyFolderSomeoneElsesFile", false, 01777, Entry::File, false, 0666,
                       "ファイルが読み取り専用です、上書きできません"},
        PermissionCase{"StickyFolderOwnFile", false, 01777, Entry::File, true, 0644, replaceable},
        PermissionCase{"Directory", true, 0755, Entry::Folder, false, 0,
                       "ファイルが使用中です、上書きできません"}),
    caseName);
#endif

} // namespace
