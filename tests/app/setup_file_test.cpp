// The setup file routines on their own, as the user who owns the files.
#include "app/basDatFileManager.h"
#include "app/basStrSub.h"
#include "tests/support/qt_test_kit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

using zelmod::testing::PrintTo;
using namespace zelmod::testing;

using basDatFileManager::ReadSetupFile;
using basDatFileManager::WriteSetupFile;

class SetupFile : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        basStrSub::SetupHeader = QStringLiteral("Zelmod Setup File Ver.1.00");
    }

    QString path() const { return dir.filePath(QStringLiteral("Zelmod.dat")); }

    QTemporaryDir dir;
    WarningCapture warnings;
};

struct ReadCase {
    const char* name;
    QByteArray content;
    bool matches;
    int failuresReported;
};

// clang-format off
const ReadCase readCases[] = {
    {"HeaderWithCrLf",        "Zelmod Setup File Ver.1.00\r\n",               true,  0},
    {"HeaderWithoutLineEnd",  "Zelmod Setup File Ver.1.00",                   true,  0},
    {"HeaderWithLf",          "Zelmod Setup File Ver.1.00\n",                 true,  0},
    {"HeaderWithCr",          "Zelmod Setup File Ver.1.00\r",                 true,  0},
    {"HeaderThenMoreLines",   "Zelmod Setup File Ver.1.00\r\nmore\r\nlines",  true,  0},
    {"TrailingBlank",         "Zelmod Setup File Ver.1.00 \r\n",              false, 0},
    {"OtherLetterCase",       "zelmod Setup File Ver.1.00\r\n",               false, 0},
    {"ShorterVersion",        "Zelmod Setup File Ver.1.0\r\n",                false, 0},
    {"LongerVersion",         "Zelmod Setup File Ver.1.000\r\n",              false, 0},
    {"ByteOrderMark",         "\xEF\xBB\xBFZelmod Setup File Ver.1.00\r\n",   false, 0},
    {"HeaderOnSecondLine",    "\r\nZelmod Setup File Ver.1.00\r\n",           false, 0},
    {"OtherProgram",          "Zelmad Setup File Ver.1.00\r\n",               false, 0},
    {"EmptyFileHasNoLine",    "",                                             false, 1},
};
// clang-format on

class ReadSetupFileContent : public SetupFile, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadSetupFileContent, ComparesTheFirstLineExactly) {
    const ReadCase& c = GetParam();
    writeFile(path(), c.content);
    qint32 mismatch = 0;
    EXPECT_EQ(ReadSetupFile(path(), mismatch), c.matches);
    EXPECT_EQ(mismatch, c.matches ? 0 : 1);
    EXPECT_EQ(warnings.count(), c.failuresReported) << warnings.text();
    EXPECT_EQ(readFile(path()), c.content) << "reading changed the file";
}

INSTANTIATE_TEST_SUITE_P(Lines, ReadSetupFileContent, testing::ValuesIn(readCases), caseName);

// A missing file, or a directory of that name, is not a setup file: the flag
// keeps whatever the caller had in it.
TEST_F(SetupFile, NothingToReadLeavesTheMismatchFlagAlone) {
    qint32 mismatch = 7;
    EXPECT_FALSE(ReadSetupFile(path(), mismatch));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Zelmod.dat")));
    EXPECT_FALSE(ReadSetupFile(path(), mismatch));
    EXPECT_EQ(mismatch, 7);
    EXPECT_EQ(warnings.count(), 0) << warnings.text();
}

struct ModeCase {
    const char* name;
    QFile::Permissions mode;
};

const ModeCase modeCases[] = {
    {"OwnerReadWrite", QFile::ReadOwner | QFile::WriteOwner},
    {"OwnerReadOnly", QFile::ReadOwner},
    {"NoAccess", QFile::Permissions()},
};

// The nearest thing to a hidden or read-only file here is one without the
// owner's read and write bits; either operation leaves it normal.
class SetupFileMode : public SetupFile, public testing::WithParamInterface<ModeCase> {};

TEST_P(SetupFileMode, ReadingFindsTheFileAndMakesItNormal) {
    writeFile(path(), "Zelmod Setup File Ver.1.00\r\n", GetParam().mode);
    qint32 mismatch = 0;
    EXPECT_TRUE(ReadSetupFile(path(), mismatch));
    EXPECT_TRUE(hasNormalMode(path()));
    EXPECT_EQ(warnings.count(), 0) << warnings.text();
}

TEST_P(SetupFileMode, WritingReplacesTheFileWithTheHeaderAlone) {
    writeFile(path(), "Zelmod Setup File Ver.1.00\r\nand an old second line\r\n", GetParam().mode);
    EXPECT_TRUE(WriteSetupFile(path()));
    EXPECT_EQ(readFile(path()), SetupFileBytes);
    EXPECT_TRUE(hasNormalMode(path()));
    EXPECT_EQ(warnings.count(), 0) << warnings.text();
}

INSTANTIATE_TEST_SUITE_P(Modes, SetupFileMode, testing::ValuesIn(modeCases), caseName);

TEST_F(SetupFile, ADirectoryInTheWayIsReportedOnceAndKept) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Zelmod.dat")));
    const QFile::Permissions before = QFile::permissions(path());
    EXPECT_FALSE(WriteSetupFile(path()));
    EXPECT_TRUE(QFileInfo(path()).isDir());
    EXPECT_EQ(QFile::permissions(path()), before);
    EXPECT_EQ(warnings.count(), 1) << warnings.text();
    EXPECT_TRUE(warnings.text().contains(QDir::toNativeSeparators(path())));
}

// A link planted in the setup file's place is never followed: the file it
// names keeps its mode and content, and a file of the program's own, open to
// its owner alone, takes the link's place.
TEST_F(SetupFile, APlantedLinkIsReplacedNotFollowed) {
    namespace fs = std::filesystem;
    const QString victim = dir.filePath(QStringLiteral("private"));
    writeFile(victim, "private", QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    ASSERT_TRUE(QFile::link(victim, path()));
    qint32 mismatch = 0;
    EXPECT_FALSE(ReadSetupFile(path(), mismatch));
    EXPECT_TRUE(WriteSetupFile(path()));
    EXPECT_EQ(readFile(victim), "private");
    EXPECT_EQ(fs::status(victim.toStdString()).permissions(),
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_FALSE(QFileInfo(path()).isSymLink());
    EXPECT_EQ(readFile(path()), SetupFileBytes);
    EXPECT_EQ(fs::status(path().toStdString()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
}

struct AttributeCase {
    const char* name;
    quint32 attributes;
    bool present;
};

// clang-format off
const AttributeCase attributeCases[] = {
    {"Normal",            0x80,       true},
    {"Archive",           0x20,       true},
    {"ReadOnly",          0x01,       true},
    {"Hidden",            0x02,       true},
    {"HiddenReadOnly",    0x23,       true},
    {"System",            0x04,       false},
    {"HiddenSystem",      0x06,       false},
    {"Directory",         0x10,       false},
    {"HiddenDirectory",   0x12,       false},
    {"NoSuchFile",        0xFFFFFFFF, false},
};
// clang-format on

class WindowsExistenceTest : public testing::TestWithParam<AttributeCase> {};

TEST_P(WindowsExistenceTest, FindsHiddenFilesButNotSystemFilesOrDirectories) {
    EXPECT_EQ(basDatFileManager::attributesCountAsSetupFile(GetParam().attributes),
              GetParam().present);
}

INSTANTIATE_TEST_SUITE_P(Attributes, WindowsExistenceTest, testing::ValuesIn(attributeCases),
                         caseName);

} // namespace
