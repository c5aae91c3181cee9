// Setup files the program may not read or write: the program still starts
// and closes, and reports each failure once. These run the program as an
// unprivileged user, since the permissions mean nothing to root.
#include "tests/app/lifecycle_process.h"
#include "tests/support/qt_test_kit.h"
#include "tests/support/test_processes.h"

#include <QDir>
#include <QFileInfo>
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
    ToolCopy tool{{QStringLiteral(ZELMOD_LIFECYCLE_PROBE)}};
    ASSERT_TRUE(tool.handToUnprivilegedUser(c.directoryIsTheUsers));
    if (c.content) {
        writeFile(tool.setupPath(), *c.content, c.mode);
        if (c.fileIsTheUsers) {
            const QByteArray path = QFile::encodeName(tool.setupPath());
            ASSERT_EQ(::chown(path.constData(), Nobody, Nobody), 0);
        }
    }

    auto probe = tool.start(QStringLiteral("lifecycle_probe"), true);
    ASSERT_TRUE(probe->waitForFinished(30000));
    EXPECT_EQ(probe->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe->exitCode(), 0);
    const QStringList failures = stderrLines(*probe, QStringLiteral("Zelmod:"));
    EXPECT_EQ(failures.size(), c.failuresReported) << failures.join('\n').toStdString();
    for (const QString& failure : failures)
        EXPECT_TRUE(failure.contains(tool.setupPath())) << failure.toStdString();
    EXPECT_EQ(readFile(tool.setupPath()), c.afterClose);
}

INSTANTIATE_TEST_SUITE_P(SetupFiles, Unprivileged, testing::ValuesIn(cases), caseName);

} // namespace
