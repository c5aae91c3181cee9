#include "job/ConverterRun.h"
#include "job/JobFiles.h"
#include "tests/support/qt_test_kit.h"
#include "tests/support/test_processes.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace {

using zelmod::ConverterRun;
using zelmod::ConverterRunResult;
using zelmod::testing::PrintTo;
using namespace zelmod::testing;

struct RunCase {
    const char* name;
    const char* converter;
    int exitCode;
    const char* converterText;
    QByteArray eventText; // what Zeltmps.txt holds afterwards
    const char* toolDir = "tool";
};

class ConverterOutcome : public testing::TestWithParam<RunCase> {};

TEST_P(ConverterOutcome, IsReportedWithTheConvertersMessage) {
    const RunCase& c = GetParam();
    FakeToolDir tool(QString::fromUtf8(c.toolDir));
    tool.setConverter(QStringLiteral("mf2t"), c.converter);
    writeFile(tool.file(QStringLiteral("Zeltmp.dat")), "data");
    ConverterRun run(tool.folders());
    const ConverterRunResult result = runToEnd(run, zelmod::toTextCommand());
    EXPECT_EQ(result.failure, std::nullopt);
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_TRUE(result.converterText.contains(QString::fromUtf8(c.converterText)))
        << result.converterText.toStdString();
    EXPECT_EQ(readFile(tool.file(QStringLiteral("Zeltmps.txt"))), c.eventText);
}

const QByteArray none = QByteArray(Unreadable.data(), qsizetype(Unreadable.size()));

INSTANTIATE_TEST_SUITE_P(
    Converters, ConverterOutcome,
    testing::Values(
        RunCase{"ends at once", FakeConverter::copying, 0, "", "data"},
        RunCase{"fails", FakeConverter::failing, 1, "fake: Zeltmp.dat: not what was expected",
                none},
        RunCase{"runs a missing program", "exec ./nothing-here", 127, "nothing-here", none},
        RunCase{"in a directory whose name the shell must not interpret", FakeConverter::copying, 0,
                "", "data", "to ol $HOME `echo x` \"q\" \\ 'n\nl;*"}));

struct StartFailureCase {
    const char* name;
    bool scriptFolderMissing; // otherwise the converter is missing
    zelmod::JobMessageId id;
};

class StartFailure : public testing::TestWithParam<StartFailureCase> {};

TEST_P(StartFailure, IsReportedWithTheSystemsReason) {
    FakeToolDir tool;
    const QString missing = tool.file(QStringLiteral("no such folder"));
    ConverterRun run(GetParam().scriptFolderMissing ? zelmod::ToolFolders{tool.path(), missing}
                                                    : tool.folders());
    const ConverterRunResult result = runToEnd(run, zelmod::toTextCommand());
    ASSERT_TRUE(result.failure);
    EXPECT_EQ(result.failure->id, GetParam().id);
    EXPECT_FALSE(result.failure->arguments.last().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Runs, StartFailure,
                         testing::Values(StartFailureCase{"script cannot be written", true,
                                                          zelmod::JobMessageId::ScriptUnwritable},
                                         StartFailureCase{
                                             "converter missing", false,
                                             zelmod::JobMessageId::ConverterNotStarted}));

TEST(ConverterRun, StartReturnsWhileTheConverterRuns) {
    FakeToolDir tool;
    tool.setConverter(QStringLiteral("mf2t"), "while [ ! -e go ]; do sleep 0.01; done");
    ConverterRun run(tool.folders());
    std::optional<ConverterRunResult> result;
    QObject::connect(&run, &ConverterRun::finished,
                     [&](const ConverterRunResult& end) { result = end; });
    run.start(zelmod::toTextCommand());
    EXPECT_TRUE(run.isRunning());
    writeFile(tool.file(QStringLiteral("go")), "");
    ASSERT_TRUE(handleEventsUntil([&] { return result.has_value(); }));
    EXPECT_EQ(result->exitCode, 0);
}

qint64 childOf(const FakeToolDir& tool) {
    return readFile(tool.file(QStringLiteral("child.pid"))).trimmed().toLongLong();
}

struct StopCase {
    const char* name;
    bool programQuits; // the runner is destroyed instead of cancelled
};

class StoppingAConverter : public testing::TestWithParam<StopCase> {};

TEST_P(StoppingAConverter, EndsItAndEverythingItStarted) {
    FakeToolDir tool;
    tool.setConverter(QStringLiteral("mf2t"), FakeConverter::hanging);
    auto run = std::make_unique<ConverterRun>(tool.folders());
    std::optional<ConverterRunResult> result;
    QObject::connect(run.get(), &ConverterRun::finished,
                     [&](const ConverterRunResult& end) { result = end; });
    run->start(zelmod::toTextCommand());
    ASSERT_TRUE(handleEventsUntil([&] { return childOf(tool) > 0; }));
    EXPECT_TRUE(run->isRunning());
    if (GetParam().programQuits) {
        run.reset();
    } else {
        run->cancel();
        ASSERT_TRUE(handleEventsUntil([&] { return result.has_value(); }));
        EXPECT_TRUE(result->cancelled);
        EXPECT_FALSE(run->isRunning());
    }
    EXPECT_TRUE(endsWithin(pid_t(childOf(tool)), std::chrono::seconds(5)))
        << "the converter's child " << childOf(tool) << " still runs";
}

INSTANTIATE_TEST_SUITE_P(Stops, StoppingAConverter,
                         testing::Values(StopCase{"cancel", false},
                                         StopCase{"program quits", true}));

} // namespace
