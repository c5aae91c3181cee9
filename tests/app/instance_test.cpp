// The single-instance test with real processes: a second start is refused,
// a crashed instance leaves no stale lock, and of simultaneous starts exactly
// one runs.
#include "tests/app/lifecycle_process.h"
#include "tests/support/qt_test_kit.h"

#include <QDateTime>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using namespace zelmod::testing;

class Instance : public testing::Test {
  protected:
    Process startRunning() {
        auto process = tool.start(QStringLiteral("Zelmod"));
        // A running instance creates the missing setup file at start.
        EXPECT_TRUE(waitUntil([&] { return QFileInfo::exists(tool.setupPath()); }))
            << "the instance did not start";
        return process;
    }

    ToolCopy tool{{builtProgram()}};
};

TEST_F(Instance, SecondStartIsRefusedAndLeavesTheSetupFileAlone) {
    auto first = startRunning();
    ASSERT_EQ(readFile(tool.setupPath()), SetupFileBytes);
    // A differing, read-only file: reading would reset its mode, writing its line.
    const QByteArray otherLine = "not the header\r\n";
    writeFile(tool.setupPath(), otherLine, QFile::ReadOwner);
    const QDateTime modified = QFileInfo(tool.setupPath()).lastModified();

    auto second = tool.start(QStringLiteral("Zelmod"));
    ASSERT_TRUE(second->waitForFinished(30000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(stderrLines(*second, QStringLiteral("message box:")), QStringList{RefusalLine});

    EXPECT_EQ(readFile(tool.setupPath()), otherLine);
    EXPECT_EQ(QFile::permissions(tool.setupPath()) & QFile::WriteOwner, QFile::Permissions());
    EXPECT_EQ(QFileInfo(tool.setupPath()).lastModified(), modified);
    EXPECT_EQ(first->state(), QProcess::Running);
}

TEST_F(Instance, AKilledInstanceDoesNotBlockTheNextStart) {
    auto crashed = startRunning();
    crashed->kill(); // SIGKILL: no chance to clean anything up
    ASSERT_TRUE(crashed->waitForFinished(30000));
    ASSERT_TRUE(QFile::remove(tool.setupPath()));

    auto next = startRunning();
    EXPECT_EQ(next->state(), QProcess::Running);
    EXPECT_EQ(stderrLines(*next, QStringLiteral("message box:")), QStringList());
}

TEST_F(Instance, OfSimultaneousStartsExactlyOneRuns) {
    constexpr int Starts = 3;
    std::vector<Process> processes;
    for (int start = 0; start < Starts; ++start)
        processes.push_back(tool.start(QStringLiteral("Zelmod")));

    const auto finished = [&] {
        return std::count_if(processes.begin(), processes.end(), [](const auto& process) {
            return process->state() == QProcess::NotRunning;
        });
    };
    ASSERT_TRUE(waitUntil([&] {
        for (auto& process : processes)
            process->waitForFinished(10);
        return finished() == Starts - 1 && QFileInfo::exists(tool.setupPath());
    })) << finished()
        << " of " << Starts << " ended";

    for (auto& process : processes) {
        if (process->state() == QProcess::Running)
            continue;
        EXPECT_EQ(process->exitCode(), 0);
        EXPECT_EQ(stderrLines(*process, QStringLiteral("message box:")), QStringList{RefusalLine});
    }
    EXPECT_EQ(finished(), Starts - 1);
}

} // namespace
