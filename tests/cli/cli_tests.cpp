#include "job/JobLock.h"
#include "job/ReplaceFile.h"
#include "tests/support/qt_test_kit.h"
#include "tests/support/test_processes.h"

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
  protected:
    void SetUp() override {
        fs::copy_file(builtProgram("zelmod-cli"), program());
        tool.setConverters(FakeConverter::copying, FakeConverter::copying);
        writeFile(tool.outside(QStringLiteral("a.mid")), "0 On ch=1 n=60 v=1\n");
        QDir().mkpath(tool.outside(QStringLiteral("b")));
        QDir().mkpath(tool.outside(QStringLiteral("out")));
        writeFile(tool.outside(QStringLiteral("b/a.mid")), "0 On ch=1 n=61 v=1\n");
        writeFile(tool.outside(QStringLiteral("c.mid")), "0 On ch=1 n=62 v=1\n");
    }

    fs::path program() const { return QFile::encodeName(tool.file("zelmod-cli")).toStdString(); }

    static std::vector<std::string> words(const QStringList& arguments) {
        std::vector<std::string> words;
        for (const QString& argument : arguments)
            words.push_back(QFile::encodeName(argument).toStdString());
        return words;
    }

    RunResult run(const QStringList& arguments, const RunOptions& options = {}) const {
        return zelmod::testing::run(program(), words(arguments), options);
    }

    QString at(const char* name) const { return tool.outside(QString::fromUtf8(name)); }

    // Starts a run whose first converter hangs, and returns once it hangs.
    std::unique_ptr<Child> startHangingRun() const {
        tool.setConverter(QStringLiteral("mf2t"), FakeConverter::hanging);
        auto cli = std::make_unique<Child>(
            program(), words({"--job", "transpose", "-o", at("out.mid"), at("a.mid")}));
        EXPECT_TRUE(waitUntil([&] { return QFile::exists(at("child.pid")); }));
        return cli;
    }

    FakeToolDir tool;
};

struct UsageCase {
    const char* name;
    QStringList arguments;
};

class CliUsage : public Cli, public testing::WithParamInterface<UsageCase> {};

TEST_P(CliUsage, IsRefusedWithTheHelpText) {
    const RunResult result = run(GetParam().arguments);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_THAT(result.errors, HasSubstr("zelmod-cli [options]"));
    EXPECT_TRUE(tool.leftovers().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CliUsage,
    testing::Values(
        UsageCase{"nothing", {}}, UsageCase{"no job", {"-o", "x.mid", "a.mid"}},
        UsageCase{"unknown job", {"--job", "reverse", "-o", "x.mid", "a.mid"}},
        UsageCase{"no output", {"--job", "transpose", "a.mid"}},
        UsageCase{"both outputs", {"--job", "transpose", "-o", "x.mid", "--out-dir", ".", "a.mid"}},
        UsageCase{"-o with two inputs", {"--job", "transpose", "-o", "x.mid", "a.mid", "c.mid"}},
        UsageCase{"no input", {"--job", "transpose", "--out-dir", "."}},
        UsageCase{"unknown option", {"--job", "transpose", "--fast", "-o", "x.mid", "a.mid"}}));

TEST_F(Cli, HelpGoesToStandardOutput) {
    const RunResult result = run({QStringLiteral("--help")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_THAT(result.output, HasSubstr("--out-dir <DIR>"));
}

struct AmountCase {
    const char* amount;
    const char* job;
    QByteArray expected;
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
    EXPECT_THAT(result.output, HasSubstr("変換完了！"));
}

INSTANTIATE_TEST_SUITE_P(
    Amounts, CliAmount,
    testing::Values(AmountCase{"12abc", "transpose", "0 On ch=1 n=72 v=1\r\n"},
                    AmountCase{"-12", "transpose", "0 On ch=1 n=48 v=1\r\n"},
                    AmountCase{"300", "velocity-shift", "0 On ch=1 n=60 v=128\r\n"},
                    AmountCase{"5", "pitch-mirror", "0 On ch=1 n=69 v=1\r\n"},
                    AmountCase{"0", "velocity-mirror", "0 On ch=1 n=60 v=128\r\n"}));

TEST_F(Cli, WritesEachInputIntoTheFolderUnderItsOwnName) {
    const RunResult result = run(
        {"--job", "transpose", "--amount", "1", "--out-dir", at("out"), at("a.mid"), at("c.mid")});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(readFile(at("out/a.mid")), "0 On ch=1 n=61 v=1\r\n");
    EXPECT_EQ(readFile(at("out/c.mid")), "0 On ch=1 n=63 v=1\r\n");
    EXPECT_THAT(result.errors, HasSubstr("[2/2]"));
    EXPECT_THAT(result.output, HasSubstr("a.mid: 変換完了！"));
    EXPECT_THAT(result.output, HasSubstr("c.mid: 変換完了！"));
}

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
    EXPECT_EQ(readFile(at("a.mid")), "0 On ch=1 n=60 v=1\n");
    EXPECT_EQ(readFile(at("b/a.mid")), "0 On ch=1 n=61 v=1\n");
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
    const RunResult result = zelmod::testing::run(
        toolDir + "/zelmod-cli", {"--job", "transpose", "--amount", "1", "-o",
                                  root + "/out\xE9.mid", root + "/in\x82\xA0.mid"});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(readText(root + "/out\xE9.mid"), "0 On ch=1 n=61 v=1\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(toolDir), {}), 3);
}

TEST_F(Cli, RefusesWhileAnotherJobUsesTheDirectory) {
    zelmod::JobLock other(tool.path());
    ASSERT_EQ(other.tryLock(), std::nullopt);
    const RunResult result = run({"--job", "transpose", "-o", at("out.mid"), at("a.mid")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.errors, HasSubstr("別の変換が実行中"));
    EXPECT_FALSE(QFile::exists(at("out.mid")));
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
    const char* folder; // made read-only for everyone, root aside
    const char* textPart;
};

class CliLockedFolder : public CliAsNobody, public testing::WithParamInterface<LockedFolderCase> {};

TEST_P(CliLockedFolder, IsReportedAndNothingIsLeft) {
    QFile::setPermissions(at(GetParam().folder), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                     QFileDevice::ReadOther |
                                                     QFileDevice::ExeOther);
    const RunResult result = runAsNobody({"--job", "transpose", "-o", at("out.mid"), at("a.mid")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_THAT(result.errors, HasSubstr(GetParam().textPart));
    EXPECT_EQ(readFile(at("out.mid")), "old output");
    EXPECT_FALSE(QFile::exists(zelmod::partialPathFor(at("out.mid"))));
    EXPECT_TRUE(tool.leftovers().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Folders, CliLockedFolder,
                         testing::Values(LockedFolderCase{"output folder", "",
                                                          "変換ファイルを保存できません"},
                                         LockedFolderCase{"tool's directory", "tool",
                                                          "ツールのフォルダに書き込めません"}));

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
    const RunResult result = runAsNobody({"--job", "transpose", "-o", at("out.mid"), at("a.mid")},
                                         {"XDG_DATA_HOME=" + dataHome.toStdString(),
                                          "HOME=" + at("data").toStdString()});
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
