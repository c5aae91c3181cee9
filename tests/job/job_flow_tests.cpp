#include "converters/Converters.h"
#include "job/ConversionJob.h"
#include "job/InProcessConverterRun.h"
#include "job/JobFiles.h"
#include "job/JobLock.h"
#include "job/ReplaceFile.h"
#include "tests/support/qt_test_kit.h"
#include "transform/TransformEventLine.h"

#include <QFileInfo>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
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

// Notes on channels 1 and 10 at once, and the end of the first, which the
// converters write back byte for byte.
QByteArray notesAt(std::uint8_t note) {
    return midiBytes({{0x00, 0x90, note, 0x64, 0x00, 0x99, 60, 0x64, 0x83, 0x60, 0x80, note, 0x00,
                       0x00, 0xff, 0x2f, 0x00}});
}

const QByteArray input = notesAt(60);
const QByteArray transposed = notesAt(72);
const QByteArray oldOutput = "the user's old file";

// What a converter does in place of the real one: writes its output (the
// text, repeated), then ends with the code and the error line, or runs
// until it is cancelled.
struct StandIn {
    const char* output = nullptr;
    int repeat = 1;
    int exitCode = 0;
    const char* error = "";
    bool hangs = false;
};

const StandIn failing{.exitCode = 1, .error = "fake: Zeltmp.dat: not what was expected"};
const StandIn silent{};
const StandIn capping{.output = "MThd",
                      .exitCode = zelmod::convert::CappedExitCode,
                      .error = "t2mf: Zeltmpd.txt: capped 2 note values above 127 to 127"};
const StandIn invalidLine{.output = "0 On ch=1 n=60 v=1\r\n0 On ch=1 n=abc v=1\r\n"};
const StandIn largeText{.output = "0 On ch=1 n=60 v=100\r\n", .repeat = 1'000'000}; // 22 MB
const StandIn hanging{.hangs = true};

// The converters in process, each but where a stand-in takes its place.
class StandInRun : public zelmod::InProcessConverterRun {
  public:
    StandInRun(const zelmod::ToolFolders& folders, const StandIn* toText, const StandIn* toMidi)
        : InProcessConverterRun(folders), workDir_(folders.workDir), toText_(toText),
          toMidi_(toMidi) {}

    void start(const zelmod::ConverterCommand& command) override {
        const StandIn* standIn = &command == &zelmod::toTextCommand() ? toText_ : toMidi_;
        if (!standIn)
            return InProcessConverterRun::start(command);
        if (standIn->output)
            writeFile(zelmod::workPath(workDir_, command.arguments.split(' ').last()),
                      QByteArray(standIn->output).repeated(standIn->repeat));
        hanging_ = standIn->hangs;
        if (!hanging_)
            finishLater({std::nullopt, false, standIn->exitCode, standIn->error});
    }
    void cancel() override {
        if (!std::exchange(hanging_, false))
            return InProcessConverterRun::cancel();
        finishLater({std::nullopt, true, 0, QString()});
    }

  private:
    void finishLater(const zelmod::ConverterRunResult& result) {
        QMetaObject::invokeMethod(
            this, [this, result] { emit finished(result); }, Qt::QueuedConnection);
    }

    QString workDir_;
    const StandIn* toText_;
    const StandIn* toMidi_;
    bool hanging_ = false;
};

// A tool's directory whose converters run in process, each but where a
// test puts a stand-in in its place.
class JobFlow : public testing::Test {
  protected:
    void SetUp() override {
        writeFile(inputPath, input);
        writeFile(outputPath, oldOutput);
        host.input = inputPath;
        host.output = outputPath;
    }

    ConversionJob* newJob() {
        auto* run = new StandInRun(tool.folders(), toText, toMidi);
        if (streamed)
            run->runConversionChain();
        return new ConversionJob(tool.folders(), host, paths, run);
    }

    Outcome runJob() {
        std::unique_ptr<ConversionJob> job(newJob());
        return runToEnd(*job);
    }

    void expectCleanEnd() {
        EXPECT_EQ(host.controlStates, (std::vector<bool>{false, true}));
        EXPECT_FALSE(host.busy);
        EXPECT_FALSE(host.busyAtAMessage);
        EXPECT_TRUE(tool.leftovers().isEmpty()) << tool.leftovers().join(' ').toStdString();
        zelmod::JobLock lock(tool.path());
        EXPECT_EQ(lock.tryLock(), std::nullopt);
    }

    FakeToolDir tool;
    RecordingHost host;
    const StandIn* toText = nullptr; // nothing: the real converter
    const StandIn* toMidi = nullptr;
    bool streamed = false; // the real converters and the rewrite at once
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

// The options are disabled during a job: the job asks for each once, on
// the host's thread, and the rewrite follows the one selected.
TEST_F(JobFlow, AsksTheWindowForTheJobOnceBeforeTheRewrite) {
    host.job = zelmod::Job::PitchMirror;
    EXPECT_EQ(runJob(), Outcome::Written);
    EXPECT_EQ(host.selectionQuestions, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(readFile(outputPath), notesAt(69));
}

struct WarningCase {
    const char* name;
    const char* amount;
    const StandIn* toMidi;
    const char* expectedText;
    zelmod::Job job = zelmod::Job::Transpose;
    QByteArray output = {}; // when given, the output written
};

class CompletionWarning : public JobFlow, public testing::WithParamInterface<WarningCase> {};

TEST_P(CompletionWarning, TellsWhetherAValueHitItsLimit) {
    host.amount = QString::fromUtf8(GetParam().amount);
    host.job = GetParam().job;
    toMidi = GetParam().toMidi;
    EXPECT_EQ(runJob(), Outcome::Written);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, QString::fromUtf8(GetParam().expectedText));
    if (!GetParam().output.isEmpty()) {
        EXPECT_EQ(readFile(outputPath), GetParam().output);
    }
    expectCleanEnd();
}

const char* const plainCompletion = "変換完了！";

// Channel 10 is left alone: the note on and off of channel 1 reach a bound.
INSTANTIATE_TEST_SUITE_P(
    Jobs, CompletionWarning,
    testing::Values(WarningCase{"no clamp", "12", nullptr, plainCompletion},
                    WarningCase{"clamped by the rewrite", "-60", nullptr,
                                "変換は完了しましたが、\n2 個の音が下限 1 に引き上げられました"},
                    WarningCase{"capped by the converter", "12", &capping,
                                "変換は完了しましたが、\n2 個の音が上限 127 で頭打ちになりました"},
                    WarningCase{"clamped, then capped, counted once", "100", nullptr,
                                "変換は完了しましたが、\n2 個の音が上限 127 で頭打ちになりました"},
                    WarningCase{"velocities", "100", nullptr,
                                "変換は完了しましたが、\n1 個の強弱が上限 127 で頭打ちになりました",
                                zelmod::Job::VelocityShift},
                    // The channel 10 note, never ended, ends with Off v=64; the amount is ignored.
                    WarningCase{
                        "reverse playback", "-60", nullptr, plainCompletion, zelmod::Job::Reverse,
                        midiBytes({hexBytes("00993c6400903c648360893c4000803c0000ff2f00")})}));

using PathOf = QString (*)(const FakeToolDir&);

struct FailureCase {
    const char* name;
    std::vector<const char*> textParts; // all appear in the error message
    PathOf input = nullptr;             // instead of the usual input
    PathOf output = nullptr;            // instead of the usual output
    const StandIn* toText = nullptr;
    const StandIn* toMidi = nullptr;
    zelmod::Job job = zelmod::Job::Transpose;
};

class JobFailure : public JobFlow, public testing::WithParamInterface<FailureCase> {};

TEST_P(JobFailure, StopsWithAMessageAndLeavesTheOutputAlone) {
    const FailureCase& c = GetParam();
    toText = c.toText;
    toMidi = c.toMidi;
    host.job = c.job;
    if (c.input)
        host.input = c.input(tool);
    if (c.output)
        host.output = c.output(tool);
    EXPECT_EQ(runJob(), Outcome::Failed);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].caption, QStringLiteral("§ エラー"));
    for (const char* part : c.textParts)
        EXPECT_TRUE(host.messages[0].text.contains(QString::fromUtf8(part)))
            << host.shownMessages().toStdString();
    EXPECT_EQ(readFile(outputPath), oldOutput);
    expectCleanEnd();
}

INSTANTIATE_TEST_SUITE_P(
    Converters, JobFailure,
    testing::Values(FailureCase{.name = "first converter fails",
                                .textParts = {"MIDI ファイルの中身が壊れています、変換できません\n",
                                              "in.mid\nfake: Zeltmp.dat: not what was expected"},
                                .toText = &failing},
                    FailureCase{.name = "first converter writes nothing",
                                .textParts = {"出力ファイルを作成しませんでした", "Zeltmps.txt"},
                                .toText = &silent},
                    FailureCase{.name = "second converter fails",
                                .textParts = {"MIDI ファイルに戻せません、変換できません\n",
                                              "in.mid\nfake: Zeltmp.dat: not what was expected"},
                                .toMidi = &failing},
                    FailureCase{.name = "second converter writes nothing",
                                .textParts = {"Zeltmp2.dat"},
                                .toMidi = &silent},
                    FailureCase{.name = "a line that cannot be converted",
                                .textParts = {"2行目を変換できません", "0 On ch=1 n=abc v=1"},
                                .toText = &invalidLine},
                    FailureCase{.name = "text that cannot be played backwards",
                                .textParts = {"逆再生できません", "Zeltmps.txt: line 1: "},
                                .toText = &invalidLine,
                                .job = zelmod::Job::Reverse},
                    // The converter's exact line follows the user's terms.
                    FailureCase{
                        "a track cut short",
                        {"トラック 1 の途中でファイルが終わっています、変換できません\n",
                         "cut.mid\nmf2t: Zeltmp.dat: track 1, byte 14: truncated MTrk chunk"},
                        [](const FakeToolDir& t) {
                            writeFile(t.outside("cut.mid"), input.chopped(4));
                            return t.outside("cut.mid");
                        }},
                    FailureCase{"input that is no MIDI file",
                                {"MIDI ファイルではありません\n", "text.mid"},
                                [](const FakeToolDir& t) {
                                    writeFile(t.outside("text.mid"), "not MIDI");
                                    return t.outside("text.mid");
                                }}));

struct CancelCase {
    const char* name;
    const StandIn* toText;
    bool (*cancelNow)(const RecordingHost& host, const FakeToolDir& tool);
    bool streamed = false;
};

class CancelledJob : public JobFlow, public testing::WithParamInterface<CancelCase> {};

TEST_P(CancelledJob, EndsWithoutLeftoversAndKeepsTheOldOutput) {
    toText = GetParam().toText;
    streamed = GetParam().streamed;
    if (streamed) // 6 MB, whose text fills the pipes many times over
        writeFile(std::filesystem::path(inputPath.toStdString()), noteFile(1'000'000, 1));
    std::unique_ptr<ConversionJob> job(newJob());
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (GetParam().cancelNow(host, tool))
            job->cancel();
    });
    poll.start(1);
    EXPECT_EQ(runToEnd(*job), Outcome::Cancelled);
    EXPECT_FALSE(job->isRunning());
    EXPECT_TRUE(host.wasBusy);
    EXPECT_TRUE(host.messages.empty()) << host.shownMessages().toStdString();
    EXPECT_EQ(readFile(outputPath), oldOutput);
    expectCleanEnd();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CancelledJob,
    testing::Values(
        CancelCase{"during a converter", &hanging,
                   [](const RecordingHost& host, const FakeToolDir&) { return host.busy; }},
        CancelCase{"during the rewrite of a large text", &largeText,
                   [](const RecordingHost&, const FakeToolDir& tool) {
                       return QFileInfo(tool.file(QStringLiteral("Zeltmpd.txt"))).size() > 0;
                   }},
        CancelCase{"during a streamed conversion", nullptr,
                   [](const RecordingHost& host, const FakeToolDir&) { return host.busy; }, true}));

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
    EXPECT_TRUE(host.messages.empty()) << host.shownMessages().toStdString();
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
                                {"変換対象のファイルを読み込めません", "none.mid"},
                                [](const FakeToolDir& t) { return t.outside("none.mid"); }},
                    FailureCase{"output is an intermediate file",
                                {"作業用のファイルには保存できません"},
                                nullptr,
                                [](const FakeToolDir& t) { return t.file("Zeltmp2.dat"); }},
                    FailureCase{"input is a pipe",
                                {"通常のファイルではありません", "fifo"},
                                [](const FakeToolDir& t) {
                                    ::mkfifo(QFile::encodeName(t.outside("fifo")), 0600);
                                    return t.outside("fifo");
                                }},
                    FailureCase{"input is an intermediate file",
                                {"作業用のファイルは変換できません"},
                                [](const FakeToolDir& t) { return t.file("Zeltmp2.dat"); }},
                    FailureCase{"output is a converter",
                                {"変換ツールのファイルには保存できません"},
                                nullptr,
                                [](const FakeToolDir& t) { return t.file("t2mf"); }},
                    // The first line ends where it would say that an earlier file is kept.
                    FailureCase{"output folder missing",
                                {"変換ファイルを保存できません\n"},
                                nullptr,
                                [](const FakeToolDir& t) { return t.outside("none/out.mid"); }},
                    FailureCase{"output is a folder",
                                {"変換ファイルを保存できません、元のファイルはそのままです"},
                                nullptr,
                                [](const FakeToolDir& t) {
                                    QDir().mkpath(t.outside("folder.mid"));
                                    return t.outside("folder.mid");
                                }}));

TEST_F(JobFlow, PreCleanKeepsStaleFilesFromStandingInForMissingOutput) {
    toText = &silent;
    for (const QString& name : jobFileNames.mid(0, 6)) {
        writeFile(tool.file(name), input);
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
    writeFile(inputPath, midiBytes({hexBytes("00903c0100803d0100ff2f00")}));
    EXPECT_EQ(runJob(), Outcome::Written);
    EXPECT_EQ(host.amount, QStringLiteral("2.5"));
    EXPECT_EQ(readFile(outputPath), midiBytes({hexBytes("00903e010080400100ff2f00")}));
}

} // namespace
