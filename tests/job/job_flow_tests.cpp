#include "job/ConversionJob.h"
#include "job/JobLock.h"
#include "job/ReplaceFile.h"
#include "tests/support/qt_test_kit.h"
#include "transform/TransformEventLine.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <optional>
#include <sys/stat.h>
#include <vector>

namespace {

using zelmod::ConversionJob;
using zelmod::JobMessage;
using zelmod::JobMessageId;
using zelmod::testing::PrintTo;
using namespace zelmod::testing;
using Outcome = ConversionJob::Outcome;

// Stands in for the window: answers the dialogs and records what the job shows.
class FakeHost : public zelmod::JobHost {
  public:
    QString amount = QStringLiteral("12");
    zelmod::Job job = zelmod::Job::Transpose;
    std::optional<QString> input;  // nothing: the Open dialog is cancelled
    std::optional<QString> output; // nothing: the Save dialog is cancelled
    std::vector<bool> controlStates;
    std::vector<JobMessage> messages;
    QStringList dialogStarts; // the path each dialog started from
    bool busy = false;
    bool wasBusy = false;
    bool busyAtAMessage = false;

    void setControlsEnabled(bool enabled) override { controlStates.push_back(enabled); }
    QString amountText() const override { return amount; }
    void setAmountText(const QString& text) override { amount = text; }
    bool isJobSelected(int index) const override {
        selectionQuestions.push_back(index);
        return index == int(job);
    }
    mutable std::vector<int> selectionQuestions;
    bool chooseInput(QString& path) override { return choose(input, path); }
    bool chooseOutput(QString& path) override { return choose(output, path); }
    void showMessage(const JobMessage& message) override {
        messages.push_back(message);
        busyAtAMessage = busyAtAMessage || busy;
    }
    void setBusy(bool converting) override {
        busy = converting;
        wasBusy = wasBusy || converting;
    }

  private:
    bool choose(const std::optional<QString>& answer, QString& path) {
        dialogStarts.append(path);
        if (answer)
            path = *answer;
        return answer.has_value();
    }
};

const QByteArray eventText = "MFile 1 1 480\r\nMTrk\r\n0 On ch=1 n=60 v=100\r\n"
                             "0 On ch=10 n=60 v=100\r\n480 Off ch=1 n=60 v=0\r\nTrkEnd\r\n";
const QByteArray transposed = "MFile 1 1 480\r\nMTrk\r\n0 On ch=1 n=72 v=100\r\n"
                              "0 On ch=10 n=60 v=100\r\n480 Off ch=1 n=72 v=0\r\nTrkEnd\r\n";
const QByteArray oldOutput = "the user's old file";

// A tool's directory whose converters copy, so that the input is event text
// and the output is the rewritten text.
class JobFlow : public testing::Test {
  protected:
    void SetUp() override {
        tool.setConverters(FakeConverter::copying, FakeConverter::copying);
        writeFile(inputPath, eventText);
        writeFile(outputPath, oldOutput);
        host.input = inputPath;
        host.output = outputPath;
    }

    Outcome runJob() {
        ConversionJob job(tool.folders(), host, paths);
        return job.run();
    }

    void expectCleanEnd() {
        EXPECT_EQ(host.controlStates, (std::vector<bool>{false, true}));
        EXPECT_FALSE(host.busy);
        EXPECT_FALSE(host.busyAtAMessage);
        EXPECT_TRUE(tool.leftovers().isEmpty()) << tool.leftovers().join(' ').toStdString();
        zelmod::JobLock lock(tool.path());
        EXPECT_EQ(lock.tryLock(), std::nullopt);
    }

    QString shownMessages() const {
        QStringList texts;
        for (const JobMessage& message : host.messages)
            texts.append(message.caption + QLatin1Char('|') + message.text);
        return texts.join('\n');
    }

    FakeToolDir tool;
    FakeHost host;
    zelmod::JobFilePaths paths;
    QString inputPath = tool.outside(QStringLiteral("in.mid"));
    QString outputPath = tool.outside(QStringLiteral("out.mid"));
};

TEST_F(JobFlow, WritesTheRewrittenFileAndSaysSo) {
    host.amount = QStringLiteral("12abc");
    writeFile(zelmod::partialPathFor(outputPath), "left by a killed job");
    EXPECT_EQ(runJob(), Outcome::Written);
    EXPECT_EQ(readFile(outputPath), transposed);
    EXPECT_EQ(host.amount, QStringLiteral("12"));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].caption, QStringLiteral("(?)<変換完了！"));
    EXPECT_EQ(host.messages[0].text, QStringLiteral("変換完了！"));
    EXPECT_EQ(host.messages[0].icon, JobMessage::Icon::Exclamation);
    EXPECT_FALSE(QFile::exists(zelmod::partialPathFor(outputPath)));
    EXPECT_TRUE(host.wasBusy);
    expectCleanEnd();
}

// The job options are asked afresh for every line, in index order up to the
// selected one.
TEST_F(JobFlow, AsksTheWindowForTheJobAtEveryLine) {
    host.job = zelmod::Job::VelocityMirror;
    EXPECT_EQ(runJob(), Outcome::Written);
    const int lines = int(eventText.count('\n'));
    std::vector<int> expected;
    for (int line = 0; line < lines; ++line)
        expected.insert(expected.end(), {0, 1, 2});
    EXPECT_EQ(host.selectionQuestions, expected);
}

struct WarningCase {
    const char* name;
    const char* amount;
    const char* toMidi;
    const char* expectedText;
};

class CompletionWarning : public JobFlow, public testing::WithParamInterface<WarningCase> {};

TEST_P(CompletionWarning, TellsWhetherAValueHitItsLimit) {
    host.amount = QString::fromUtf8(GetParam().amount);
    tool.setConverter(QStringLiteral("t2mf"), GetParam().toMidi);
    EXPECT_EQ(runJob(), Outcome::Written);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, QString::fromUtf8(GetParam().expectedText));
    expectCleanEnd();
}

const char* const plainCompletion = "変換完了！";
const char* const warningCompletion =
    "変換完了！しましたが、頭打ちになった音が存在していることを警告しておきます";

INSTANTIATE_TEST_SUITE_P(Jobs, CompletionWarning,
                         testing::Values(WarningCase{"no clamp", "12", FakeConverter::copying,
                                                     plainCompletion},
                                         WarningCase{"clamped by the rewrite", "-60",
                                                     FakeConverter::copying, warningCompletion},
                                         WarningCase{"capped by the converter", "12",
                                                     FakeConverter::capping, warningCompletion}));

using PathOf = QString (*)(const FakeToolDir&);

struct FailureCase {
    const char* name;
    const char* toText;
    const char* toMidi;
    std::vector<const char*> textParts; // all appear in the error message
    PathOf input = nullptr;             // instead of the usual input
    PathOf output = nullptr;            // instead of the usual output
};

class JobFailure : public JobFlow, public testing::WithParamInterface<FailureCase> {};

TEST_P(JobFailure, StopsWithAMessageAndLeavesTheOutputAlone) {
    const FailureCase& c = GetParam();
    tool.setConverters(c.toText ? c.toText : "", c.toMidi);
    if (!c.toText)
        QFile::remove(tool.file(QStringLiteral("mf2t")));
    if (c.input)
        host.input = c.input(tool);
    if (c.output)
        host.output = c.output(tool);
    EXPECT_EQ(runJob(), Outcome::Failed);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].caption, QStringLiteral("§ エラー"));
    for (const char* part : c.textParts)
        EXPECT_TRUE(host.messages[0].text.contains(QString::fromUtf8(part)))
            << shownMessages().toStdString();
    EXPECT_EQ(readFile(outputPath), oldOutput);
    expectCleanEnd();
}

INSTANTIATE_TEST_SUITE_P(
    Converters, JobFailure,
    testing::Values(FailureCase{"first converter fails",
                                FakeConverter::failing,
                                FakeConverter::copying,
                                {"エラーで終了", "終了コード 1", "mf2t",
                                 "fake: Zeltmp.dat: not what was expected"}},
                    FailureCase{"first converter writes nothing",
                                FakeConverter::silent,
                                FakeConverter::copying,
                                {"出力ファイルを作成しませんでした", "Zeltmps.txt"}},
                    FailureCase{"second converter fails",
                                FakeConverter::copying,
                                FakeConverter::failing,
                                {"終了コード 1", "t2mf", "fake: Zeltmpd.txt"}},
                    FailureCase{"second converter writes nothing",
                                FakeConverter::copying,
                                FakeConverter::silent,
                                {"Zeltmp2.dat"}},
                    FailureCase{"a line that cannot be converted",
                                FakeConverter::invalidLine,
                                FakeConverter::copying,
                                {"2行目を変換できません", "0 On ch=1 n=abc v=1"}},
                    FailureCase{"converter runs a missing program",
                                "exec ./nothing-here",
                                FakeConverter::copying,
                                {"終了コード 127"}},
                    FailureCase{"converter missing",
                                nullptr,
                                FakeConverter::copying,
                                {"変換プログラムを起動できません", "mf2t"}}));

TEST_F(JobFlow, ACancelStopsTheConverterAndCleansUp) {
    tool.setConverter(QStringLiteral("mf2t"), FakeConverter::hanging);
    ConversionJob job(tool.folders(), host, paths);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QFile::exists(tool.outside(QStringLiteral("child.pid"))))
            job.cancel();
    });
    poll.start(20);
    EXPECT_EQ(job.run(), Outcome::Cancelled);
    EXPECT_FALSE(job.isRunning());
    EXPECT_TRUE(host.wasBusy);
    EXPECT_TRUE(host.messages.empty()) << shownMessages().toStdString();
    EXPECT_EQ(readFile(outputPath), oldOutput);
    expectCleanEnd();
}

TEST_F(JobFlow, RefusesWhileAnotherJobHoldsTheDirectory) {
    zelmod::JobLock other(tool.path());
    ASSERT_EQ(other.tryLock(), std::nullopt);
    writeFile(tool.file(QStringLiteral("Zeltmp.dat")), "the other job's copy");
    EXPECT_EQ(runJob(), Outcome::Failed);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].text.contains(QStringLiteral("別の変換が実行中")));
    EXPECT_TRUE(host.dialogStarts.isEmpty());
    EXPECT_EQ(readFile(tool.file(QStringLiteral("Zeltmp.dat"))), "the other job's copy");
    EXPECT_EQ(host.controlStates, (std::vector<bool>{false, true}));
}

struct EarlyEndCase {
    const char* name;
    bool inputChosen;
    bool outputChosen;
    Outcome outcome;
};

class DialogCancelled : public JobFlow, public testing::WithParamInterface<EarlyEndCase> {};

TEST_P(DialogCancelled, EndsQuietlyWithTheAmountRewritten) {
    host.amount = QStringLiteral("200");
    if (!GetParam().inputChosen)
        host.input.reset();
    if (!GetParam().outputChosen)
        host.output.reset();
    EXPECT_EQ(runJob(), GetParam().outcome);
    EXPECT_EQ(host.amount, QStringLiteral("127"));
    EXPECT_TRUE(host.messages.empty()) << shownMessages().toStdString();
    EXPECT_EQ(readFile(outputPath), oldOutput);
    EXPECT_FALSE(host.wasBusy);
    expectCleanEnd();
}

INSTANTIATE_TEST_SUITE_P(Dialogs, DialogCancelled,
                         testing::Values(EarlyEndCase{"open", false, false, Outcome::NoInputChosen},
                                         EarlyEndCase{"save", true, false,
                                                      Outcome::NoOutputChosen}));

INSTANTIATE_TEST_SUITE_P(
    Files, JobFailure,
    testing::Values(FailureCase{"input missing",
                                FakeConverter::copying,
                                FakeConverter::copying,
                                {"変換対象のファイルを読み込めません", "none.mid"},
                                [](const FakeToolDir& t) { return t.outside("none.mid"); }},
                    FailureCase{"output is an intermediate file",
                                FakeConverter::copying,
                                FakeConverter::copying,
                                {"作業用のファイルには保存できません"},
                                nullptr,
                                [](const FakeToolDir& t) { return t.file("Zeltmp2.dat"); }},
                    FailureCase{"input is a pipe",
                                FakeConverter::copying,
                                FakeConverter::copying,
                                {"通常のファイルではありません", "fifo"},
                                [](const FakeToolDir& t) {
                                    ::mkfifo(QFile::encodeName(t.outside("fifo")), 0600);
                                    return t.outside("fifo");
                                }},
                    FailureCase{"input is an intermediate file",
                                FakeConverter::copying,
                                FakeConverter::copying,
                                {"作業用のファイルは変換できません"},
                                [](const FakeToolDir& t) { return t.file("Zeltmp2.dat"); }},
                    FailureCase{"output is a converter",
                                FakeConverter::copying,
                                FakeConverter::copying,
                                {"変換ツールのファイルには保存できません"},
                                nullptr,
                                [](const FakeToolDir& t) { return t.file("t2mf"); }},
                    // The first line ends where it would say that an earlier file is kept.
                    FailureCase{"output folder missing",
                                FakeConverter::copying,
                                FakeConverter::copying,
                                {"変換ファイルを保存できません\n"},
                                nullptr,
                                [](const FakeToolDir& t) { return t.outside("none/out.mid"); }},
                    FailureCase{"output is a folder",
                                FakeConverter::copying,
                                FakeConverter::copying,
                                {"変換ファイルを保存できません、元のファイルはそのままです"},
                                nullptr,
                                [](const FakeToolDir& t) {
                                    QDir().mkpath(t.outside("folder.mid"));
                                    return t.outside("folder.mid");
                                }}));

TEST_F(JobFlow, PreCleanKeepsStaleFilesFromStandingInForMissingOutput) {
    tool.setConverter(QStringLiteral("mf2t"), FakeConverter::silent);
    for (const QString& name : jobFileNames.mid(0, 6)) {
        writeFile(tool.file(name), eventText);
        QFile::setPermissions(tool.file(name), QFileDevice::ReadOwner);
    }
    EXPECT_EQ(runJob(), Outcome::Failed);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.messages[0].text.contains(QStringLiteral("作成しませんでした")));
    expectCleanEnd();
}

TEST_F(JobFlow, TheSameFileMayBeInputAndOutput) {
    host.output = inputPath;
    EXPECT_EQ(runJob(), Outcome::Written);
    EXPECT_EQ(readFile(inputPath), transposed);
}

TEST_F(JobFlow, DialogsStartWhereThePreviousJobEnded) {
    EXPECT_EQ(runJob(), Outcome::Written);
    host.input.reset();
    EXPECT_EQ(runJob(), Outcome::NoInputChosen);
    EXPECT_EQ(host.dialogStarts, (QStringList{QString(), QString(), inputPath}));
    EXPECT_EQ(paths.input, inputPath);
    EXPECT_EQ(paths.output, outputPath);
}

TEST_F(JobFlow, AFractionalAmountReachesTheRewriteUnrounded) {
    host.amount = QStringLiteral("2.5");
    writeFile(inputPath, "0 On ch=1 n=60 v=1\n0 On ch=1 n=61 v=1\n");
    EXPECT_EQ(runJob(), Outcome::Written);
    EXPECT_EQ(host.amount, QStringLiteral("2.5"));
    EXPECT_EQ(readFile(outputPath), "0 On ch=1 n=62 v=1\r\n0 On ch=1 n=64 v=1\r\n");
}

} // namespace
