#include "job/ConverterRun.h"
#include "job/JobFiles.h"
#include "tests/support/qt_test_kit.h"
#include "tests/support/test_processes.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

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
};

class ConverterOutcome : public testing::TestWithParam<RunCase> {};

TEST_P(ConverterOutcome, IsReportedWithTheConvertersMessage) {
    const RunCase& c = GetParam();
    FakeToolDir tool;
    tool.setConverter(QStringLiteral("mf2t"), c.converter);
    writeFile(tool.file(QStringLiteral("Zeltmp.dat")), "data");
    ConverterRun run(tool.folders());
    const ConverterRunResult result = run.run(zelmod::toTextCommand());
    EXPECT_EQ(result.failure, std::nullopt);
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_TRUE(result.converterText.contains(QString::fromUtf8(c.converterText)))
        << result.converterText.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Converters, ConverterOutcome,
                         testing::Values(RunCase{"ends at once", FakeConverter::copying, 0, ""},
                                         RunCase{"fails", FakeConverter::failing, 1,
                                                 "fake: Zeltmp.dat: not what was expected"}));

TEST(ConverterRun, RunsInADirectoryWhoseNameTheShellMustNotInterpret) {
    FakeToolDir tool(QStringLiteral("to ol $HOME `echo x` \"q\" \\ 'n\nl;*"));
    tool.setConverter(QStringLiteral("mf2t"), FakeConverter::copying);
    writeFile(tool.file(QStringLiteral("Zeltmp.dat")), "event text");
    ConverterRun run(tool.folders());
    const ConverterRunResult result = run.run(zelmod::toTextCommand());
    EXPECT_EQ(result.failure, std::nullopt);
    EXPECT_EQ(result.exitCode, 0) << result.converterText.toStdString();
    EXPECT_EQ(readFile(tool.file(QStringLiteral("Zeltmps.txt"))), "event text");
}

TEST(ConverterRun, ReportsAScriptThatCannotBeWritten) {
    FakeToolDir tool;
    ConverterRun run({tool.path(), tool.file(QStringLiteral("no such folder"))});
    const ConverterRunResult result = run.run(zelmod::toTextCommand());
    ASSERT_TRUE(result.failure);
    EXPECT_EQ(result.failure->id, zelmod::JobMessageId::ScriptUnwritable);
    EXPECT_FALSE(result.failure->arguments.last().isEmpty());
}

TEST(ConverterRun, HandlesEventsWhileTheConverterRuns) {
    FakeToolDir tool;
    tool.setConverter(QStringLiteral("mf2t"), "sleep 1");
    ConverterRun run(tool.folders());
    bool timerFired = false;
    QTimer::singleShot(100, [&] { timerFired = true; });
    const ConverterRunResult result = run.run(zelmod::toTextCommand());
    EXPECT_EQ(result.failure, std::nullopt);
    EXPECT_TRUE(timerFired);
}

// Cancels as soon as the hanging converter has started its child and
// written its number (the file exists a moment before that).
void cancelOnceStarted(const FakeToolDir& tool, const std::function<void()>& stop) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [&tool, stop, timer] {
        if (readFile(tool.outside(QStringLiteral("child.pid"))).trimmed().toLongLong() <= 0)
            return;
        timer->deleteLater();
        stop();
    });
    timer->start(20);
}

struct StopCase {
    const char* name;
    bool quitProgram; // the program quits instead of cancelling the job
};

class StoppingAConverter : public testing::TestWithParam<StopCase> {};

TEST_P(StoppingAConverter, EndsItAndEverythingItStarted) {
    FakeToolDir tool;
    tool.setConverter(QStringLiteral("mf2t"), FakeConverter::hanging);
    ConverterRun run(tool.folders());
    cancelOnceStarted(tool, [&] {
        EXPECT_TRUE(run.isRunning());
        if (GetParam().quitProgram)
            QCoreApplication::exit(0);
        else
            run.cancel();
    });
    const ConverterRunResult result = run.run(zelmod::toTextCommand());
    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(run.isRunning());
    const qint64 child = readFile(tool.outside(QStringLiteral("child.pid"))).trimmed().toLongLong();
    ASSERT_GT(child, 0);
    EXPECT_TRUE(endsWithin(pid_t(child), std::chrono::seconds(5)))
        << "the converter's child " << child << " still runs";
    if (GetParam().quitProgram) {
        // Event loops may run again once the program's own loop has ended.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
}

INSTANTIATE_TEST_SUITE_P(Stops, StoppingAConverter,
                         testing::Values(StopCase{"cancel", false},
                                         StopCase{"program quits", true}));

} // namespace
