// Setup files the program may not read or write: the program still starts
// and closes, and reports each failure once. These run the program as an
// unprivileged user, since the permissions mean nothing to root.
#include "tests/support/qt_test_kit.h"
#include "tests/support/test_processes.h"

#include <gtest/gtest.h>

#include <optional>
#include <unistd.h>

namespace {

using zelmod::testing::PrintTo;
using namespace zelmod::testing;

const QFile::Permissions ReadWrite =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
const QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner;
const QFile::Permissions ReadOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
const QByteArray OtherLine = "Zelmod Setup File Ver.0.99\r\n";

struct Case {
    const char* name;
    bool directoryIsTheUsers;
    std::optional<QByteArray> content; // none: no setup file
    bool fileIsTheUsers;
    QFile::Permissions mode;
    int failuresReported; // at start and close together
    QByteArray afterClose;
};

// clang-format off
const Case cases[] = {
    {"UnreadableFile",              false, OtherLine,      false, OwnerOnly,               2, OtherLine},
    {"ReadOnlyDirectoryNoFile",     false, std::nullopt,   false, ReadWrite,               2, "<unreadable>"},
    {"ReadOnlyDirectoryOwnFile",    false, OtherLine,      true,  ReadWrite,               0, SetupFileBytes},
    {"OthersReadOnlyFile",          true,  SetupFileBytes, false, ReadOnly,                1, SetupFileBytes},
    {"OwnReadOnlyFile",             true,  OtherLine,      true,  ReadOnly,                0, SetupFileBytes},
    {"OwnFileWithoutAccess",        true,  OtherLine,      true,  QFile::Permissions(),    0, SetupFileBytes},
};
// clang-format on

class Unprivileged : public testing::TestWithParam<Case> {};

TEST_P(Unprivileged, TheProgramStartsAndClosesAndReportsEachFailureOnce) {
    if (!canRunAsNobody())
        GTEST_SKIP() << "switching to an unprivileged user needs root and setpriv";
    const Case& c = GetParam();
    const Workspace tool(::getuid(), {ZELMOD_LIFECYCLE_PROBE});
    const std::string setupPath = tool.tool("Zelmod.dat").string();
    giveTo(tool.runtime(), Nobody);
    if (c.directoryIsTheUsers)
        giveTo(tool.tool(), Nobody);
    if (c.content) {
        writeFile(QString::fromStdString(setupPath), *c.content, c.mode);
        if (c.fileIsTheUsers)
            giveTo(setupPath, Nobody);
    }

    const RunResult probe = run(tool.tool("lifecycle_probe"), {},
                                {.asNobody = true, .environment = tool.windowEnvironment()});
    EXPECT_EQ(probe.exitCode, 0) << probe.errors;
    const std::vector<std::string> failures = linesStartingWith(probe.errors, "Zelmod:");
    EXPECT_EQ(failures.size(), std::size_t(c.failuresReported)) << probe.errors;
    for (const std::string& failure : failures)
        EXPECT_NE(failure.find(setupPath), std::string::npos) << failure;
    EXPECT_EQ(readFile(QString::fromStdString(setupPath)), c.afterClose);
}

INSTANTIATE_TEST_SUITE_P(SetupFiles, Unprivileged, testing::ValuesIn(cases), caseName);

} // namespace
