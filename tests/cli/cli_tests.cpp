#include "converters/Converters.h"
#include "job/EventTextRewrite.h"
#include "job/JobLock.h"
#include "tests/support/qt_test_kit.h"
#include "tests/support/test_processes.h"
#include "transform/ReversePlayback.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QStandardPaths>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <sys/stat.h>

namespace {

using zelmod::testing::PrintTo;
using namespace zelmod::testing;
using ::testing::HasSubstr;

// zelmod-cli copied into a tool's directory of its own, beside fake converters.
class Cli : public testing::Test {
  public:
    void SetUp() override {
        fs::copy_file(builtProgram("zelmod-cli"), program());
        tool.setConverters(FakeConverter::copying, FakeConverter::copying);
        writeFile(tool.outside(QStringLiteral("a.mid")), "MThd\n0 On ch=1 n=60 v=1\n");
        QDir().mkpath(tool.outside(QStringLiteral("b/d")));
        QDir().mkpath(tool.outside(QStringLiteral("out")));
        writeFile(tool.outside(QStringLiteral("b/a.mid")), "MThd\n0 On ch=1 n=61 v=1\n");
        writeFile(tool.outside(QStringLiteral("c.mid")), "MThd\n0 On ch=1 n=62 v=1\n");
        writeFile(tool.outside(QStringLiteral("b/d/e.MIDI")), "MThd\n0 On ch=1 n=63 v=1\n");
        writeFile(tool.outside(QStringLiteral("b/notes.txt")), "not a piece");
    }

    fs::path program() const { return QFile::encodeName(tool.file("zelmod-cli")).toStdString(); }

    static std::vector<std::string> words(const QStringList& arguments) {
        std::vector<std::string> words;
        for (const QString& argument : arguments)
            words.push_back(QFile::encodeName(argument).toStdString());
        return words;
    }

    // Runs in the folder that holds the tool's directory.
    RunResult run(QStringList arguments, RunOptions options = {}) const {
        if (batchFiles)
            arguments.prepend(QStringLiteral("--batch-files"));
        if (options.workingDirectory.empty())
            options.workingDirectory = QFile::encodeName(tool.outside(QString())).toStdString();
        return zelmod::testing::run(program(), words(arguments), options);
    }

    QString at(const char* name) const { return tool.outside(QString::fromUtf8(name)); }
    void writeMidi(const QString& name, unsigned seed) const {
        QDir().mkpath(QFileInfo(tool.outside(name)).path());
        writeFile(std::filesystem::path(tool.outside(name).toStdString()), noteFile(20, seed));
    }
    // Pieces in nested folders below pieces/, real MIDI files.
    void writePieces(int count) const {
        for (int i = 0; i < count; ++i)
            writeMidi(QStringLiteral("pieces/%1/piece%2.mid").arg(i % 3).arg(i), unsigned(i));
    }
    // Every file below the folder with its bytes, by relative path.
    QMap<QString, QByteArray> tree(const char* folder) const {
        QMap<QString, QByteArray> files;
        for (QDirIterator it(at(folder), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString path = it.next();
            files.insert(QDir(at(folder)).relativeFilePath(path), readFile(path));
        }
        return files;
    }

    // Starts a run whose first converter hangs, and returns once it hangs.
    std::unique_ptr<Child> startHangingRun() const {
        tool.setConverter(QStringLiteral("mf2t"), FakeConverter::hanging);
        auto cli = std::make_unique<Child>(program(), words({"--batch-files", "--job", "transpose",
                                                             "-o", at("out.mid"), at("a.mid")}));
        EXPECT_TRUE(waitUntil([&] { return QFile::exists(tool.outside("child.pid")); }));
        return cli;
    }

    FakeToolDir tool;
    // Through the fake converters beside the program, which take the
    // inputs' text for MIDI; without, zelmod-cli converts real files itself.
    bool batchFiles = true;
};

struct UsageCase {
    const char* name;
    QStringList arguments;
    const char* named = "zelmod-cli: "; // what the error names
};

class CliUsage : public Cli, public testing::WithParamInterface<UsageCase> {};

TEST_P(CliUsage, IsRefusedWithTheHelpText) {
    const RunResult result = run(GetParam().arguments);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_THAT(result.errors, HasSubstr("zelmod-cli [options]"));
    EXPECT_THAT(result.errors, HasSubstr(GetParam().named));
    EXPECT_TRUE(tool.leftovers().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CliUsage,
    testing::Values(
        UsageCase{"nothing", {}}, UsageCase{"no job", {"-o", "x.mid", "a.mid"}},
        UsageCase{"unknown job", {"--job", "retrograde", "-o", "x.mid", "a.mid"}},
        UsageCase{"no output", {"--job", "transpose", "a.mid"}},
        UsageCase{"both outputs", {"--job", "transpose", "-o", "x.mid", "--out-dir", ".", "a.mid"}},
        UsageCase{"-o with two inputs", {"--job", "transpose", "-o", "x.mid", "a.mid", "c.mid"}},
        UsageCase{"no input", {"--job", "transpose", "--out-dir", "."}},
        UsageCase{"unknown option", {"--job", "transpose", "--fast", "-o", "x.mid", "a.mid"}},
        UsageCase{"amount with text after it",
                  {"--job", "transpose", "--amount", "12abc", "-o", "x.mid", "a.mid"},
                  "\"12abc\""},
        UsageCase{"amount in C's hexadecimal",
                  {"--job", "transpose", "--amount", "0x10", "-o", "x.mid", "a.mid"},
                  "\"0x10\""},
        UsageCase{"empty item in a list",
                  {"--job", "transpose", "--amount", "1,,3", "--out-dir", "out", "a.mid"},
                  "\"\""},
        UsageCase{"range of fractions",
                  {"--job", "transpose", "--amount", "1.5..3", "--out-dir", "out", "a.mid"},
                  "\"1.5..3\""},
        UsageCase{"range backwards",
                  {"--job", "transpose", "--amount", "5..1", "--out-dir", "out", "a.mid"},
                  "\"5..1\""},
        UsageCase{"-o with a folder", {"--job", "transpose", "-o", "x.mid", "b"}},
        UsageCase{"-o with two amounts",
                  {"--job", "transpose", "--amount", "1,2", "-o", "x.mid", "a.mid"}},
        UsageCase{"-0 without a list", {"--job", "transpose", "-0", "--out-dir", "out", "a.mid"}},
        UsageCase{"missing list",
                  {"--job", "transpose", "--files-from", "none.txt", "--out-dir", "out"},
                  "none.txt"}));

TEST_F(Cli, HelpGoesToStandardOutput) {
    const RunResult result = run({QStringLiteral("--help")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_THAT(result.output, HasSubstr("--out-dir <DIR>"));
}

struct AmountCase {
    const char* amount;
    const char* job;
    QByteArray expected;
    const char* said = "変換完了！";
};

void PrintTo(const AmountCase& c, std::ostream* os) {
    *os << c.job << " " << c.amount;
}

class CliAmount : public Cli, public testing::WithParamInterface<AmountCase> {};

TEST_P(CliAmount, IsReadLikeTheWindowsAmountBox) {
    writeFile(at("out.mid"), "old output");
    const RunResult result = run(
        {"--job", GetParam().job, "--amount", GetParam().amount, "-o", at("out.mid"), at("a.mid")});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(readFile(at("out.mid")), GetParam().expected);
    EXPECT_THAT(result.output, HasSubstr(GetParam().said));
}

INSTANTIATE_TEST_SUITE_P(
    Amounts, CliAmount,
    testing::Values(AmountCase{" 1 2\t", "transpose", "0 On ch=1 n=72 v=1\r\n"},
                    AmountCase{"&H10", "transpose", "0 On ch=1 n=76 v=1\r\n"},
                    AmountCase{"1.5", "transpose", "0 On ch=1 n=62 v=1\r\n"},
                    AmountCase{"-12", "transpose", "0 On ch=1 n=48 v=1\r\n"},
                    AmountCase{"-100", "transpose", "0 On ch=1 n=1 v=1\r\n",
                               "1 個の音が下限 1 に引き上げられました"},
                    AmountCase{"300", "velocity-shift", "0 On ch=1 n=60 v=128\r\n"},
                    AmountCase{"5", "pitch-mirror", "0 On ch=1 n=69 v=1\r\n"},
                    AmountCase{"0", "velocity-mirror", "0 On ch=1 n=60 v=128\r\n"}));

// A killed run's partial files of both outputs go; the user's own stays.
TEST_F(Cli, WritesEachInputIntoTheFolderUnderItsOwnName) {
    QDir().mkpath(at("out"));
    for (const char* left : {"out/.a.mid.AbC123.tmp", "out/.c.mid.XyZ789.tmp", "out/.c.mid.tmp"})
        writeFile(at(left), "left");
    const RunResult result = run(
        {"--job", "transpose", "--amount", "1", "--out-dir", at("out"), at("a.mid"), at("c.mid")});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(QDir(at("out")).entryList(QDir::Files | QDir::Hidden),
              (QStringList{".c.mid.tmp", "a.mid", "c.mid"}));
    EXPECT_EQ(readFile(at("out/a.mid")), "0 On ch=1 n=61 v=1\r\n");
    EXPECT_EQ(readFile(at("out/c.mid")), "0 On ch=1 n=63 v=1\r\n");
    EXPECT_THAT(result.errors, HasSubstr("[2/2]"));
    EXPECT_THAT(result.output, HasSubstr("a.mid: 変換完了！"));
    EXPECT_THAT(result.output, HasSubstr("c.mid: 変換完了！"));
}

struct LayoutCase {
    const char* name;
    QStringList arguments; // run in the folder of a.mid, b/a.mid, b/d/e.MIDI and c.mid
    QByteArray list;       // standard input
    QStringList outputs;   // every file below the output folder, and its note
};

class CliLayout : public Cli, public testing::WithParamInterface<LayoutCase> {};

TEST_P(CliLayout, MirrorsTheInputsBelowTheOutputFolder) {
    const LayoutCase& c = GetParam();
    const RunResult result = run(QStringList{"--job", "transpose", "--amount", "1"} + c.arguments,
                                 {.input = c.list.toStdString()});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    const QString outDir = at("out");
    QStringList written;
    for (QDirIterator it(outDir, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        const QByteArray note = readFile(path).mid(12, 2);
        written << QDir(outDir).relativeFilePath(path) + QLatin1Char(' ') +
                       QString::fromLatin1(note);
    }
    written.sort();
    EXPECT_EQ(written, c.outputs);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CliLayout,
    testing::Values(LayoutCase{"a folder's tree",
                               {"--out-dir", "out/new", "b"},
                               {},
                               {"new/a.mid 62", "new/d/e.MIDI 64"}},
                    LayoutCase{"several amounts",
                               {"--amount", "-1,1", "--out-dir", "out", "a.mid"},
                               {},
                               {"transpose+1/a.mid 61", "transpose-1/a.mid 59"}},
                    LayoutCase{"a range of amounts",
                               {"--amount", "-1..0", "--out-dir", "out", "c.mid"},
                               {},
                               {"transpose+0/c.mid 62", "transpose-1/c.mid 61"}},
                    LayoutCase{"a list keeps its folders",
                               {"--files-from", "-", "--out-dir", "out"},
                               "b/a.mid\nc.mid\n",
                               {"b/a.mid 62", "c.mid 63"}},
                    LayoutCase{"a list ending names with NUL",
                               {"--files-from", "-", "-0", "--out-dir", "out", "a.mid"},
                               QByteArray("b/d/../a.mid\0b/d\0", 18),
                               {"a.mid 61", "b/a.mid 62", "b/d/e.MIDI 64"}}));

// A second run goes on where the first stopped, and each says in its record what it did.
TEST_F(Cli, ReportsEachInputAndSkipsTheOutputsThatExist) {
    const QStringList files{"--out-dir", "out", "c.mid", "missing.mid"};
    EXPECT_EQ(run(QStringList{"--job", "transpose", "--report", "first.json"} + files).exitCode, 1);
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(at("first.json").toStdString()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    QDir().mkpath(at("out/d"));
    writeFile(at("out/d/e.MIDI"), "kept");
    const RunResult again =
        run(QStringList{"--job", "transpose", "--skip-existing", "--report", "-", "b"} + files);
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(readFile(at("out/d/e.MIDI")), "kept");
    QStringList statuses;
    for (const QByteArray& line :
         (readFile(at("first.json")) + QByteArray::fromStdString(again.output)).split('\n')) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        EXPECT_TRUE(line.isEmpty() || !record.isEmpty()) << line.toStdString();
        if (!record.isEmpty())
            statuses << record[QStringLiteral("status")].toString() + QLatin1Char(' ') +
                            QFileInfo(record[QStringLiteral("input")].toString()).fileName();
    }
    EXPECT_EQ(statuses, QStringList({"written c.mid", "failed missing.mid", "written a.mid",
                                     "skipped e.MIDI", "skipped c.mid", "failed missing.mid"}));
    EXPECT_THAT(again.errors, HasSubstr("written 1, skipped 2, failed 1"));
    const RunResult refused =
        run(QStringList{"--job", "transpose", "--report", "first.json"} + files);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_THAT(refused.errors, HasSubstr("first.json"));
}

TEST_F(Cli, WithTheOutputOnStandardOutputSaysEverythingElseOnErrorOutput) {
    const RunResult result = run({"--job", "transpose", "--amount", "2", "-o", "-", "a.mid"});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(result.output, "0 On ch=1 n=62 v=1\r\n");
    EXPECT_THAT(result.errors, HasSubstr("変換完了！"));
    EXPECT_THAT(result.errors, HasSubstr("written 1"));
}

// A job's step on the event text, between mf2t and t2mf.
using TextStep = void (*)(const QString& source, const QString& target);

struct WayCase {
    const char* job;
    TextStep step;
};

void PrintTo(const WayCase& c, std::ostream* os) {
    *os << c.job;
}

class CliWays : public Cli, public testing::WithParamInterface<WayCase> {
  protected:
    // The input through mf2t, the job's step and t2mf, called as libraries.
    QByteArray throughLibraries(const QString& input) const {
        const QString text = at("x.txt"), changed = at("y.txt"), midi = at("z.mid");
        QFile::remove(changed);
        zelmod::convert::midiToText(input.toStdString(), text.toStdString());
        GetParam().step(text, changed);
        zelmod::convert::textToMidi(changed.toStdString(), midi.toStdString());
        return readFile(midi);
    }
};

// In process, several at once, or through the programs as the window runs them:
// the same bytes as the libraries give, and the records in input order.
TEST_P(CliWays, ConvertInProcessAtOnceLikeTheWindow) {
    writePieces(12);
    // Too large to be held in memory: its text streams between the converters.
    writeFile(std::filesystem::path(at("pieces/large.mid").toStdString()), noteFile(100'000, 12));
    for (const char* converter : {"mf2t", "t2mf"}) {
        QFile::remove(tool.file(QString::fromLatin1(converter)));
        QFile::copy(qEnvironmentVariable("ZELMOD_TOOL_DIR") + QLatin1Char('/') + converter,
                    tool.file(QString::fromLatin1(converter)));
    }
    const QStringList job{"--job", GetParam().job, "--report", "-", "pieces"};
    const RunResult windowsWay = run(job + QStringList{"--out-dir", "window"});
    batchFiles = false;
    const RunResult oneByOne = run(job + QStringList{"-j", "1", "--out-dir", "one"});
    const RunResult atOnce = run(job + QStringList{"-j", "3", "--out-dir", "three"});
    EXPECT_EQ(atOnce.exitCode, 0) << atOnce.errors;
    EXPECT_EQ(tree("window").size(), 13);
    EXPECT_EQ(tree("one"), tree("window"));
    EXPECT_EQ(tree("three"), tree("window"));
    const auto inputs = [](const RunResult& result) {
        QStringList names;
        for (const QByteArray& line : QByteArray::fromStdString(result.output).split('\n')) {
            const QJsonObject record = QJsonDocument::fromJson(line).object();
            names << record[QStringLiteral("input")].toString() + QLatin1Char(' ') +
                         QString::number(record[QStringLiteral("clamped")].toInteger());
        }
        return names;
    };
    EXPECT_EQ(inputs(atOnce), inputs(windowsWay));
    EXPECT_EQ(inputs(oneByOne), inputs(windowsWay));
    const QMap<QString, QByteArray> written = tree("one");
    for (auto it = written.begin(); it != written.end(); ++it)
        EXPECT_EQ(*it, throughLibraries(at("pieces/") + it.key())) << it.key().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, CliWays,
    testing::Values(WayCase{"pitch-mirror",
                            [](const QString& source, const QString& target) {
                                zelmod::rewriteEventText(
                                    source, target, 0, zelmod::fixedJob(zelmod::Job::PitchMirror));
                            }},
                    WayCase{"reverse", [](const QString& source, const QString& target) {
                                zelmod::reversePlayback(source.toStdString(), target.toStdString());
                            }}));

// Shards of one list, run at once by GNU parallel into one tree, as on many
// machines, give the tree of one run; a shard run again skips what it wrote.
TEST_F(Cli, ShardsUnderGnuParallelGiveTheTreeOfOneRun) {
    const QString parallel = QStandardPaths::findExecutable(QStringLiteral("parallel"));
    if (parallel.isEmpty())
        GTEST_SKIP() << "GNU parallel is missing; dev.sh installs it with the test packages";
    writePieces(12);
    batchFiles = false;
    QStringList shards(4);
    const QStringList pieces = tree("pieces").keys();
    for (qsizetype i = 0; i < pieces.size(); ++i)
        shards[i % 4] += QStringLiteral("pieces/") + pieces[i] + QLatin1Char('\n');
    writeFile(at("list"), shards.join(QString()).toUtf8());
    const QStringList job{"--job", "transpose", "--amount", "-1..1", "-j", "1", "--out-dir"};
    QStringList command{"--will-cite", tool.file(QStringLiteral("zelmod-cli"))};
    command << job << "sharded"
            << "--files-from"
            << "{}"
            << ":::";
    for (qsizetype i = 0; i < shards.size(); ++i) {
        command << QStringLiteral("shard%1").arg(i);
        writeFile(at(command.last().toUtf8().constData()), shards[i].toUtf8());
    }
    const RunResult sharded = zelmod::testing::run(parallel.toStdString(), words(command),
                                                   {.workingDirectory = at("").toStdString()});
    EXPECT_EQ(sharded.exitCode, 0) << sharded.errors;
    EXPECT_EQ(run(job + QStringList{"single", "--files-from", "list"}).exitCode, 0);
    EXPECT_EQ(tree("sharded").size(), 36);
    EXPECT_EQ(tree("sharded"), tree("single"));
    const RunResult again =
        run(job + QStringList{"sharded", "--files-from", "shard1", "--skip-existing"});
    EXPECT_THAT(again.output, HasSubstr("written 0, skipped 9, failed 0"));
}

struct BadInputCase {
    const char* name;
    std::function<void(const Cli&)> spoil; // of the pieces below pieces/
    const char* input;                     // its record
    const char* textPart;
    int written; // the other records
};

class CliBadInput : public Cli, public testing::WithParamInterface<BadInputCase> {};

// Each is one failed record with its reason; the others are written.
TEST_P(CliBadInput, FailsAloneAndLeavesNothing) {
    const BadInputCase& c = GetParam();
    writePieces(6);
    c.spoil(*this);
    batchFiles = false;
    QDir().mkpath(at("tmp"));
    const RunResult result = run({"--job", "transpose", "-j", "2", "--report", "-", "--out-dir",
                                  "result", "--files-from", "list", "pieces"},
                                 {.environment = {"TMPDIR=" + at("tmp").toStdString()}});
    EXPECT_EQ(result.exitCode, 1);
    QStringList failed;
    int written = 0;
    for (const QByteArray& line : QByteArray::fromStdString(result.output).split('\n')) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        written += record[QStringLiteral("status")] == QStringLiteral("written");
        if (record[QStringLiteral("status")] == QStringLiteral("failed"))
            failed << QDir(at("")).relativeFilePath(record[QStringLiteral("input")].toString()) +
                          QLatin1Char(' ') + record[QStringLiteral("message")].toString();
    }
    ASSERT_EQ(failed.size(), 1) << result.output;
    EXPECT_TRUE(failed[0].startsWith(QString::fromUtf8(c.input))) << failed[0].toStdString();
    EXPECT_TRUE(failed[0].contains(QString::fromUtf8(c.textPart))) << failed[0].toStdString();
    EXPECT_EQ(written, c.written);
    for (const QString& name : tree("result").keys())
        EXPECT_FALSE(name.endsWith(QStringLiteral(".tmp"))) << name.toStdString();
    EXPECT_TRUE(tree("tmp").isEmpty() && QDir(at("tmp")).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CliBadInput,
    testing::Values(
        BadInputCase{"damaged file",
                     [](const Cli& cli) {
                         writeFile(cli.at("pieces/1/piece1.mid"), "MThd, and then nothing");
                         writeFile(cli.at("list"), "");
                     },
                     "pieces/1/piece1.mid", "ファイルの先頭が途中で切れています", 5},
        // Its converter to text fails while the rewrite and the other converter run.
        BadInputCase{"large file cut short",
                     [](const Cli& cli) {
                         Bytes large = noteFile(100'000, 1);
                         large.resize(large.size() - 100);
                         writeFile(
                             std::filesystem::path(cli.at("pieces/2/piece2.mid").toStdString()),
                             large);
                         writeFile(cli.at("list"), "");
                     },
                     "pieces/2/piece2.mid", "トラック 1 の途中でファイルが終わっています", 5},
        BadInputCase{"vanished input",
                     [](const Cli& cli) { writeFile(cli.at("list"), "pieces/gone.mid\n"); },
                     "pieces/gone.mid", "変換対象のファイルを読み込めません", 6},
        BadInputCase{"name that cannot be written",
                     [](const Cli& cli) {
                         QDir().mkpath(cli.at("result"));
                         writeFile(cli.at("result/mine"), "a file where a folder is wanted");
                         cli.writeMidi("mine/x.mid", 9);
                         writeFile(cli.at("list"), "mine/x.mid\n");
                     },
                     "mine/x.mid", "変換ファイルを保存できません", 6}));

TEST_F(Cli, GoesOnAfterAFailedFileAndSaysSo) {
    const RunResult result =
        run({"--job", "transpose", "--out-dir", at("out"), at("missing.mid"), at("c.mid")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.errors, HasSubstr("変換対象のファイルを読み込めません"));
    EXPECT_TRUE(QFile::exists(at("out/c.mid")));
    EXPECT_TRUE(tool.leftovers().isEmpty());
}

struct RefusalCase {
    const char* name;
    QStringList inputs; // made when missing, and kept
    const char* output;
    const char* textPart;
    const char* outputOption = "--out-dir";
};

class CliRefusal : public Cli, public testing::WithParamInterface<RefusalCase> {};

TEST_P(CliRefusal, HappensBeforeAnyWork) {
    QStringList arguments{
        "--job", "transpose", "--amount", "1", GetParam().outputOption, at(GetParam().output)};
    for (const QString& input : GetParam().inputs) {
        arguments << at(input.toUtf8().constData());
        if (!QFile::exists(arguments.last()))
            writeFile(arguments.last(), "kept");
    }
    const RunResult result = run(arguments);
    for (const QString& input : GetParam().inputs)
        EXPECT_TRUE(QFile::exists(at(input.toUtf8().constData()))) << input.toStdString();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.errors, HasSubstr(GetParam().textPart));
    EXPECT_EQ(readFile(at("a.mid")), "MThd\n0 On ch=1 n=60 v=1\n");
    EXPECT_EQ(readFile(at("b/a.mid")), "MThd\n0 On ch=1 n=61 v=1\n");
    EXPECT_FALSE(QFile::exists(at("b/c.mid")));
    EXPECT_FALSE(QFile::exists(at("out/c.mid")));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CliRefusal,
    testing::Values(
        RefusalCase{"two inputs of one name",
                    {"c.mid", "a.mid", "b/a.mid"},
                    "out",
                    "同じ名前の入力ファイル"},
        RefusalCase{
            "output onto an input", {"c.mid", "b/a.mid"}, "b", "保存先が入力ファイルと同じです"},
        RefusalCase{"output onto itself", {"a.mid"}, ".", "保存先が入力ファイルと同じです"},
        RefusalCase{
            "-o onto its input", {"a.mid"}, "a.mid", "保存先が入力ファイルと同じです", "-o"},
        RefusalCase{"names with control characters, escaped",
                    {"c\x1b[2J.mid", "b/c\x1b[2J.mid"},
                    "out",
                    "c\\e[2J.mid"},
        RefusalCase{"a folder and a file in it", {"b", "b/a.mid"}, "out", "同じ名前の入力ファイル"},
        RefusalCase{"input is an intermediate file",
                    {"tool/Zeltmp2.dat"},
                    "out",
                    "作業用のファイルは変換できません"}));

// Names from archives made on Windows (Shift_JIS, Latin-1) are not UTF-8;
// Qt would read them as U+FFFD. The shell passes their bytes as they are.
TEST_F(Cli, KeepsTheBytesOfNamesThatAreNotUtf8) {
    const std::string root = QFile::encodeName(tool.outside(QString())).toStdString();
    const std::string toolDir = root + "/to\xE9ol";
    fs::create_directory(toolDir);
    for (const char* name : {"zelmod-cli", "mf2t", "t2mf"})
        fs::copy_file(QFile::encodeName(tool.file(name)).toStdString(), toolDir + "/" + name);
    fs::copy_file(QFile::encodeName(at("a.mid")).toStdString(), root + "/in\x82\xA0.mid");
    const std::string command = "cd '" + root +
                                "' && './to\xE9ol/zelmod-cli' --batch-files --job " +
                                "transpose --amount 1 -o 'out\xE9.mid' 'in\x82\xA0.mid' >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readText(root + "/out\xE9.mid"), "0 On ch=1 n=61 v=1\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(toolDir), {}), 3);
}

// With batch files a run takes the window's working folder; without, a folder of its own.
TEST_F(Cli, RefusesWhileAnotherJobUsesTheDirectory) {
    zelmod::JobLock other(tool.path());
    ASSERT_EQ(other.tryLock(), std::nullopt);
    const RunResult result = run({"--job", "transpose", "-o", at("out.mid"), at("a.mid")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.errors, HasSubstr("別の変換が実行中"));
    EXPECT_FALSE(QFile::exists(at("out.mid")));
    batchFiles = false;
    writeMidi("piece.mid", 1);
    EXPECT_EQ(run({"--job", "transpose", "-o", at("out.mid"), at("piece.mid")}).exitCode, 0);
}

TEST_F(Cli, AnInterruptStopsTheConverterAndCleansUp) {
    writeFile(at("out.mid"), "old output");
    const std::unique_ptr<Child> cli = startHangingRun();
    cli->kill(SIGTERM);
    const RunResult result = cli->wait();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.errors, HasSubstr("中断"));
    EXPECT_EQ(readFile(at("out.mid")), "old output");
    EXPECT_TRUE(tool.leftovers().isEmpty()) << tool.leftovers().join(' ').toStdString();
    const pid_t child = pid_t(readFile(at("child.pid")).trimmed().toLongLong());
    // A killed process ends when it next runs, which on a busy machine can be a moment later.
    EXPECT_TRUE(endsWithin(child, std::chrono::seconds(5))) << "the converter's child " << child;
}

// In process, the interrupt reaches a slot's thread in the middle of its
// streamed conversion; the file already handed to it next is not begun.
TEST_F(Cli, AnInterruptStopsAStreamedConversionAndCleansUp) {
    batchFiles = false;
    QDir().mkpath(at("out"));
    writeFile(at("out/large.mid"), "old output");
    writeFile(std::filesystem::path(at("large.mid").toStdString()), noteFile(2'000'000, 1));
    writeFile(std::filesystem::path(at("small.mid").toStdString()), noteFile(20, 1));
    QDir().mkpath(at("tmp"));
    Child cli(program(),
              words({"--job", "transpose", "-j", "1", "--out-dir", at("out"), at("large.mid"),
                     at("small.mid")}),
              {.environment = {"TMPDIR=" + at("tmp").toStdString()}});
    // The input's copy in the run's private folder: converting has begun.
    EXPECT_TRUE(waitUntil([&] {
        const QStringList files = tree("tmp").keys();
        return std::any_of(files.begin(), files.end(),
                           [](const QString& file) { return file.endsWith("/Zeltmp.dat"); });
    }));
    cli.kill(SIGTERM);
    const RunResult result = cli.wait();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.errors, HasSubstr("中断"));
    EXPECT_TRUE(readFile(at("out/large.mid")) == "old output");
    EXPECT_FALSE(QFileInfo::exists(at("out/small.mid")));
    EXPECT_TRUE(QDir(at("tmp")).isEmpty()) << tree("tmp").keys().join(' ').toStdString();
}

TEST_F(Cli, AKilledRunLeavesNothingThatStopsTheNext) {
    const std::unique_ptr<Child> killed = startHangingRun();
    killed->kill(SIGKILL);
    EXPECT_EQ(killed->wait().signal, SIGKILL);
    // The killed run's converter lives on in a process group of its own.
    const pid_t orphan = pid_t(readFile(at("child.pid")).trimmed().toLongLong());
    if (orphan > 0)
        ::kill(orphan, SIGKILL);
    EXPECT_FALSE(tool.leftovers().isEmpty());

    tool.setConverter(QStringLiteral("mf2t"), FakeConverter::copying);
    const RunResult result = run({"--job", "transpose", "-o", at("out.mid"), at("a.mid")});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_TRUE(tool.leftovers().isEmpty()) << tool.leftovers().join(' ').toStdString();
}

// Permissions only mean something to an unprivileged user.
class CliAsNobody : public Cli {
  protected:
    void SetUp() override {
        if (!canRunAsNobody())
            GTEST_SKIP() << "needs root and setpriv to run zelmod-cli as an unprivileged user";
        Cli::SetUp();
        QFile::setPermissions(tool.outside(QString()), QFile::permissions(tool.path()) |
                                                           QFileDevice::ExeOther |
                                                           QFileDevice::ReadOther);
        makeWritableForAll(at(""));
        // The user's own portable copy, which works in its own folder.
        ASSERT_EQ(::chown(QFile::encodeName(tool.path()).constData(), Nobody, Nobody), 0);
        writeFile(at("out.mid"), "old output");
    }

    static void makeWritableForAll(const QString& path) {
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOther |
                                        QFileDevice::WriteOther | QFileDevice::ExeOther);
    }

    RunResult runAsNobody(const QStringList& arguments,
                          const std::vector<std::string>& environment = {}) const {
        return run(arguments, {.asNobody = true, .environment = environment});
    }
};

TEST_F(CliAsNobody, AFolderThatCannotBeSearchedIsOneFailedRecord) {
    writePieces(3);
    QFile::setPermissions(at("pieces/1"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    batchFiles = false;
    const RunResult result =
        runAsNobody({"--job", "transpose", "--report", "-", "--out-dir", "result", "pieces"});
    EXPECT_EQ(result.exitCode, 1);
    const QList<QByteArray> records =
        QByteArray::fromStdString(result.output).trimmed().split('\n');
    ASSERT_EQ(records.size(), 3) << result.output;
    const QJsonObject locked = QJsonDocument::fromJson(records[1]).object();
    EXPECT_EQ(locked[QStringLiteral("input")].toString(), QStringLiteral("pieces/1"));
    EXPECT_EQ(locked[QStringLiteral("status")].toString(), QStringLiteral("failed"));
    EXPECT_TRUE(locked[QStringLiteral("message")].toString().contains(
        QStringLiteral("変換対象のファイルを読み込めません")));
    EXPECT_EQ(tree("result").keys(), QStringList({"0/piece0.mid", "2/piece2.mid"}));
}

TEST_F(CliAsNobody, ReplacesAReadOnlyOutput) {
    makeWritableForAll(at("out.mid"));
    QFile::setPermissions(at("out.mid"), QFileDevice::ReadOwner | QFileDevice::ReadOther);
    const RunResult result = runAsNobody({"--job", "transpose", "-o", at("out.mid"), at("a.mid")});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(readFile(at("out.mid")), "0 On ch=1 n=60 v=1\r\n");
    struct stat replaced {};
    ASSERT_EQ(::stat(QFile::encodeName(at("out.mid")).constData(), &replaced), 0);
    EXPECT_EQ(replaced.st_mode & 0777, 0404u) << "the replaced output keeps its mode";
}

struct LockedFolderCase {
    const char* name;
    const char* folder; // root's, given this mode
    const char* textPart;
    mode_t mode = 0505;
    bool batchFiles = true;
};

class CliLockedFolder : public CliAsNobody, public testing::WithParamInterface<LockedFolderCase> {};

TEST_P(CliLockedFolder, IsReportedAndNothingIsLeft) {
    writeMidi("piece.mid", 1);
    ASSERT_EQ(::chmod(QFile::encodeName(at(GetParam().folder)).constData(), GetParam().mode), 0);
    batchFiles = GetParam().batchFiles;
    const RunResult result =
        runAsNobody({"--job", "transpose", "-o", at("out.mid"), at("piece.mid")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.errors, HasSubstr(GetParam().textPart));
    EXPECT_EQ(readFile(at("out.mid")), "old output");
    EXPECT_EQ(QDir(at("")).entryList({"*.tmp"}, QDir::Files | QDir::Hidden), QStringList());
    EXPECT_TRUE(tool.leftovers().isEmpty());
}

// In a shared folder only the owner of root's output may rename over it:
// the new file is written whole, then its commit fails.
INSTANTIATE_TEST_SUITE_P(
    Folders, CliLockedFolder,
    testing::Values(LockedFolderCase{"output folder", "", "変換ファイルを保存できません"},
                    LockedFolderCase{"tool's directory", "tool",
                                     "ツールのフォルダに書き込めません"},
                    LockedFolderCase{"shared folder", "", "cannot write", 01777, false}));

// What another user (root here) leaves at a work file's name in the
// user's tool folder, with the end it must come to.
struct PlantedCase {
    const char* name;
    const char* file;
    void (*plant)(const QByteArray& path, const QByteArray& victim);
    int exitCode;
    const char* textPart;
    bool namesIt = true; // a refusal names the file
};

class CliPlantedWorkFile : public CliAsNobody, public testing::WithParamInterface<PlantedCase> {};

TEST_P(CliPlantedWorkFile, NeverRunsOrWritesThroughIt) {
    const PlantedCase& c = GetParam();
    writeFile(at("private.txt"), "the user's own");
    const QByteArray planted = QFile::encodeName(tool.file(QString::fromUtf8(c.file)));
    c.plant(planted, QFile::encodeName(at("private.txt")));
    const RunResult result = runAsNobody({"--job", "transpose", "-o", at("out.mid"), at("a.mid")});
    EXPECT_EQ(result.exitCode, c.exitCode) << result.errors;
    EXPECT_THAT(result.output + result.errors, HasSubstr(c.textPart));
    if (c.exitCode != 0 && c.namesIt) {
        EXPECT_THAT(result.errors, HasSubstr(c.file));
    }
    EXPECT_EQ(readFile(at("private.txt")), "the user's own");
    EXPECT_EQ(readFile(at("out.mid")), c.exitCode == 0 ? "0 On ch=1 n=60 v=1\r\n" : "old output");
}

void plantFifo(const QByteArray& path, const QByteArray&) {
    ASSERT_EQ(::mkfifo(path.constData(), 0666), 0);
}
void plantLink(const QByteArray& path, const QByteArray& victim) {
    ASSERT_EQ(::symlink(victim.constData(), path.constData()), 0);
}
void plantFolder(const QByteArray& path, const QByteArray&) {
    ASSERT_EQ(::mkdir(path.constData(), 0777), 0);
    writeFile(QFile::decodeName(path) + QStringLiteral("/kept"), "");
}
void plantFile(const QByteArray& path, mode_t mode) {
    writeFile(QFile::decodeName(path), "");
    ASSERT_EQ(::chmod(path.constData(), mode), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Planted, CliPlantedWorkFile,
    testing::Values(
        PlantedCase{"fifo as the script", "Zelmod.bat", plantFifo, 0, "変換完了！"},
        PlantedCase{"link as the event text", "Zeltmps.txt", plantLink, 0, "変換完了！"},
        PlantedCase{"folder as the script", "Zelmod.bat", plantFolder, 1,
                    "前の作業用のファイルを削除できません"},
        PlantedCase{"link as the lock", "Zelmod.job.lock", plantLink, 1, "ほかのユーザーのものか"},
        PlantedCase{"fifo as the lock", "Zelmod.job.lock", plantFifo, 1, "ほかのユーザーのものか"},
        PlantedCase{"another user's open lock", "Zelmod.job.lock",
                    [](const QByteArray& path, const QByteArray&) { plantFile(path, 0666); }, 1,
                    "ほかのユーザーのものか"},
        PlantedCase{"another user's job", "Zelmod.job.lock",
                    [](const QByteArray& path, const QByteArray&) { plantFile(path, 0600); }, 1,
                    "別の変換が実行中", false}));

struct WorkFolderCase {
    const char* name;
    bool installed;
    const char* dataHome; // XDG_DATA_HOME below the test's folder ("data" is the user's home)
    const char* workDir;  // where the job is to work
    int exitCode;
    const char* textPart;
    QByteArray output;
};

// The program folder belongs to root, as an installation lays it out.
class CliWorkFolder : public CliAsNobody, public testing::WithParamInterface<WorkFolderCase> {};

TEST_P(CliWorkFolder, IsNeverTheFolderOfAnInstalledProgram) {
    const WorkFolderCase& c = GetParam();
    if (c.installed)
        writeFile(tool.file(QStringLiteral("zelmod-installed")), "");
    for (const char* folder : {"data", "taken/Zelmod", "open/Zelmod"}) {
        QDir().mkpath(at(folder));
        makeWritableForAll(at(folder));
    }
    ASSERT_EQ(::chown(QFile::encodeName(at("open/Zelmod")).constData(), Nobody, Nobody), 0);
    ASSERT_EQ(::chown(QFile::encodeName(tool.path()).constData(), 0, 0), 0);
    QFile::setPermissions(tool.path(), QFile::permissions(tool.path()) & ~QFileDevice::WriteOther);
    const QStringList programFiles = QDir(tool.path()).entryList(QDir::AllEntries);
    const QString dataHome = c.dataHome[0] == '.' ? c.dataHome : at(c.dataHome);
    const RunResult result = runAsNobody(
        {"--job", "transpose", "-o", at("out.mid"), at("a.mid")},
        {"XDG_DATA_HOME=" + dataHome.toStdString(), "HOME=" + at("data").toStdString()});
    EXPECT_EQ(result.exitCode, c.exitCode) << result.errors;
    EXPECT_THAT(result.output + result.errors, HasSubstr(c.textPart));
    EXPECT_EQ(readFile(at("out.mid")), c.output);
    EXPECT_EQ(QDir(tool.path()).entryList(QDir::AllEntries), programFiles);
    const fs::path workDir = at(c.workDir).toStdString();
    if (c.exitCode == 0)
        EXPECT_EQ(fs::status(workDir).permissions(), fs::perms::owner_all);
    else
        EXPECT_FALSE(fs::exists(workDir));
}

const QByteArray newOutput = "0 On ch=1 n=60 v=1\r\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Copies, CliWorkFolder,
    testing::Values(
        WorkFolderCase{"portable copy in another user's folder", false, "data", "data/Zelmod", 0,
                       "変換完了！", newOutput},
        WorkFolderCase{"installed copy", true, "data", "data/Zelmod", 0, "変換完了！", newOutput},
        WorkFolderCase{"installed copy whose own folder cannot be made", true, "tool",
                       "tool/Zelmod", 1, "ツールのフォルダに書き込めません", "old output"},
        WorkFolderCase{"installed copy whose folder another user made", true, "taken",
                       "data/Zelmod", 1, "作業用のフォルダがほかのユーザーのものです", "old output"},
        WorkFolderCase{"installed copy whose folder others may enter", true, "open",
                       "open/Zelmod", 0, "変換完了！", newOutput},
        WorkFolderCase{"relative data home", true, "./data", "data/.local/share/Zelmod", 0,
                       "変換完了！", newOutput}));
// clang-format on

} // namespace
