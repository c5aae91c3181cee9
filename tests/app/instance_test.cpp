// The single-instance test with real processes: a second start is refused,
// a crashed instance leaves no stale lock, and of simultaneous starts exactly
// one runs.
#include "tests/support/qt_test_kit.h"
#include "tests/support/test_processes.h"

#include <QDateTime>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <vector>

namespace {

using namespace zelmod::testing;

// The refusal as the test hook reports it.
const std::vector<std::string> Refusal = {
    "message box: Warning | Zelmod | すでに「Zelmod」は起動されています、２重起動はできません"};

class Instance : public testing::Test {
  protected:
    std::unique_ptr<Child> start() const {
        return std::make_unique<Child>(tool.tool("Zelmod"), std::vector<std::string>{},
                                       RunOptions{.environment = tool.windowEnvironment()});
    }

    std::unique_ptr<Child> startRunning() const {
        auto process = start();
        // A running instance creates the missing setup file at start.
        EXPECT_TRUE(waitUntil([&] { return QFileInfo::exists(setupPath); }))
            << "the instance did not start";
        return process;
    }

    Workspace tool{::getuid(), {builtProgram("Zelmod")}};
    const QString setupPath = QString::fromStdString(tool.tool("Zelmod.dat").string());
};

TEST_F(Instance, SecondStartIsRefusedAndLeavesTheSetupFileAlone) {
    auto first = startRunning();
    ASSERT_EQ(readFile(setupPath), SetupFileBytes);
    // A differing, read-only file: reading would reset its mode, writing its line.
    const QByteArray otherLine = "not the header\r\n";
    writeFile(setupPath, otherLine, QFile::ReadOwner);
    const QDateTime modified = QFileInfo(setupPath).lastModified();

    const RunResult second = start()->wait();
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(linesStartingWith(second.errors, "message box:"), Refusal);

    EXPECT_EQ(readFile(setupPath), otherLine);
    EXPECT_EQ(QFile::permissions(setupPath) & QFile::WriteOwner, QFile::Permissions());
    EXPECT_EQ(QFileInfo(setupPath).lastModified(), modified);
    EXPECT_TRUE(first->running());
}

TEST_F(Instance, AKilledInstanceDoesNotBlockTheNextStart) {
    auto crashed = startRunning();
    crashed->kill(SIGKILL); // no chance to clean anything up
    EXPECT_EQ(crashed->wait().signal, SIGKILL);
    ASSERT_TRUE(QFile::remove(setupPath));

    auto next = startRunning();
    EXPECT_TRUE(next->running());
    next->kill(SIGKILL);
    EXPECT_EQ(linesStartingWith(next->wait().errors, "message box:"), std::vector<std::string>());
}

TEST_F(Instance, OfSimultaneousStartsExactlyOneRuns) {
    constexpr int Starts = 3;
    std::vector<std::unique_ptr<Child>> processes;
    for (int started = 0; started < Starts; ++started)
        processes.push_back(start());

    const auto finished = [&] {
        return std::count_if(processes.begin(), processes.end(),
                             [](const auto& process) { return !process->running(); });
    };
    ASSERT_TRUE(waitUntil([&] { return finished() == Starts - 1 && QFileInfo::exists(setupPath); }))
        << finished() << " of " << Starts << " ended";

    for (auto& process : processes) {
        if (process->running())
            continue;
        const RunResult refused = process->wait();
        EXPECT_EQ(refused.exitCode, 0);
        EXPECT_EQ(linesStartingWith(refused.errors, "message box:"), Refusal);
    }
    EXPECT_EQ(finished(), Starts - 1);
}

} // namespace
