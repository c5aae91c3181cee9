// The file choosers answered through the dialog component's presenters:
// what they prepare the dialog with, and what they give back and leave on disk.
#include "CommonDialog.h"
#include "MessageBoxFit.h"
#include "basFileManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QMap>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <vector>

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << text.toStdString();
}

namespace {

using namespace zelmod;
using basFileManager::ChooseOpenFile;
using basFileManager::ChooseSaveFile;

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
        writeFile("in.mid", "MThd input");
        writeFile("out.mid", "MThd old output");
        ASSERT_TRUE(QDir(folder.path()).mkdir("sub"));
        dialog.setFilePresenter([this](const FileDialogRequest& request) {
            requests.push_back(request);
            return answer;
        });
        dialog.setMessagePresenter(
            [this](const MessageRequest& message) { messages.push_back(message); });
    }

    void writeFile(const QString& name, const QByteArray& content) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    // Every entry of the folder with its content.
    QMap<QString, QByteArray> snapshot() const {
        QMap<QString, QByteArray> entries;
        const QDir dir(folder.path());
        for (const QString& name : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
            QFile file(dir.filePath(name));
            entries.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : "<folder>");
        }
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

void PrintTo(const OutcomeCase& c, std::ostream* out) {
    *out << c.name;
}

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
        EXPECT_EQ(messages[0].text, QStringLiteral("ファイルが使用中です、上書きできません"));
        EXPECT_EQ(messages[0].caption, QStringLiteral("§ エラー"));
        EXPECT_EQ(messages[0].icon, QMessageBox::NoIcon);
    }
    EXPECT_EQ(snapshot(), before) << "the folder must be left as it was";
    EXPECT_TRUE(dialog.fileName().isEmpty());
    EXPECT_TRUE(dialog.initDir().isEmpty());
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
    [](const testing::TestParamInfo<OutcomeCase>& info) { return info.param.name; });

// ---- Where the dialog starts, for each start mode.

struct StartCase {
    const char* name;
    int startMode;
    const char* path;
    const char* directory; // what the dialog is asked to start in
    const char* fileName;  // what it is asked to show typed in
};

void PrintTo(const StartCase& c, std::ostream* out) {
    *out << c.name;
}

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
    [](const testing::TestParamInfo<StartCase>& info) { return info.param.name; });

// ---- Title, filters and behaviour of each dialog.

struct DialogCase {
    const char* name;
    bool save;
    QString title;
    QString secondFilter;
    QFileDialog::FileMode fileMode;
    bool confirmOverwrite;
};

void PrintTo(const DialogCase& c, std::ostream* out) {
    *out << c.name;
}

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

INSTANTIATE_TEST_SUITE_P(
    Roles, ChooserDialog,
    testing::Values(DialogCase{"Open", false, OpenTitle, "MIDI ファイル (*.mid) (*.mid)",
                               QFileDialog::ExistingFile, false},
                    DialogCase{"Save", true, SaveTitle, "MIDI (*.mid) (*.mid)",
                               QFileDialog::AnyFile, true}),
    [](const testing::TestParamInfo<DialogCase>& info) { return info.param.name; });

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

void PrintTo(const WrapCase& c, std::ostream* out) {
    *out << c.name;
}

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
    const QStringList wrapped = balancedLines(text, font, limit).split('\n');
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

} // namespace
