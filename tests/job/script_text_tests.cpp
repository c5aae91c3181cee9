#include "job/BatchScript.h"
#include "job/JobFiles.h"
#ifdef Q_OS_WIN
#include "job/FolderSecurity.h"
#endif
#include "tests/support/qt_test_kit.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using zelmod::ConverterCommand;
using zelmod::testing::PrintTo;
using namespace zelmod::testing;

const ConverterCommand toText{QStringLiteral("Zelmod.bat"), QStringLiteral("MF2T.EXE"),
                              QStringLiteral(" Zeltmp.dat Zeltmps.txt")};
const ConverterCommand toMidi{QStringLiteral("Zelmod2.bat"), QStringLiteral("T2MF.EXE"),
                              QStringLiteral(" Zeltmpd.txt Zeltmp2.dat")};

struct ScriptCase {
    const char* name;
    const char* toolDir;
    const ConverterCommand* command;
    const char* expected;
    const char* workDir = nullptr; // an installed copy's own; else the tool's directory

    zelmod::ToolFolders folders() const {
        return {QString::fromUtf8(toolDir), QString::fromUtf8(workDir ? workDir : toolDir)};
    }
};

class WindowsScript : public testing::TestWithParam<ScriptCase> {};

TEST_P(WindowsScript, IsThreeLinesEndingCrLf) {
    const ScriptCase& c = GetParam();
    EXPECT_EQ(zelmod::windowsScriptText(c.folders(), *c.command).toStdString(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WindowsScript,
    testing::Values(
        ScriptCase{"plain", "C:\\Tools\\Mid", &toText,
                   "C:\r\ncd \"C:\\Tools\\Mid\"\r\n\"C:\\Tools\\Mid\\MF2T.EXE\" Zeltmp.dat "
                   "Zeltmps.txt\r\n"},
        ScriptCase{"second", "D:\\Z", &toMidi,
                   "D:\r\ncd \"D:\\Z\"\r\n\"D:\\Z\\T2MF.EXE\" Zeltmpd.txt Zeltmp2.dat\r\n"},
        ScriptCase{"blanks stay inside the quotes", "C:\\Program Files\\Zel mod", &toText,
                   "C:\r\ncd \"C:\\Program Files\\Zel mod\"\r\n\"C:\\Program Files\\Zel "
                   "mod\\MF2T.EXE\" Zeltmp.dat Zeltmps.txt\r\n"},
        ScriptCase{"percent signs are doubled", "C:\\100%\\%PATH%", &toText,
                   "C:\r\ncd \"C:\\100%%\\%%PATH%%\"\r\n\"C:\\100%%\\%%PATH%%\\MF2T.EXE\" "
                   "Zeltmp.dat Zeltmps.txt\r\n"},
        ScriptCase{"cmd's other specials need no escape inside quotes", "C:\\a&b (x86)^!", &toText,
                   "C:\r\ncd \"C:\\a&b (x86)^!\"\r\n\"C:\\a&b (x86)^!\\MF2T.EXE\" Zeltmp.dat "
                   "Zeltmps.txt\r\n"},
        ScriptCase{"installed: works on the user's disk, converter from the program's",
                   "C:\\Program Files\\Zelmod", &toMidi,
                   "D:\r\ncd \"D:\\Users\\%%USER%%\\Zelmod\"\r\n\"C:\\Program "
                   "Files\\Zelmod\\T2MF.EXE\" Zeltmpd.txt Zeltmp2.dat\r\n",
                   "D:\\Users\\%USER%\\Zelmod"}));

class PosixScript : public testing::TestWithParam<ScriptCase> {};

TEST_P(PosixScript, QuotesTheDirectory) {
    const ScriptCase& c = GetParam();
    EXPECT_EQ(zelmod::posixScriptText(c.folders(), *c.command).toStdString(), c.expected);
}

const ConverterCommand posixToText{QStringLiteral("Zelmod.bat"), QStringLiteral("mf2t"),
                                   QStringLiteral(" Zeltmp.dat Zeltmps.txt")};

INSTANTIATE_TEST_SUITE_P(
    Texts, PosixScript,
    testing::Values(
        ScriptCase{
            "plain", "/opt/zelmod", &posixToText,
            "cd '/opt/zelmod' || exit 126\nexec '/opt/zelmod''/mf2t' Zeltmp.dat Zeltmps.txt\n"},
        ScriptCase{"single quote", "/a'b", &posixToText,
                   "cd '/a'\\''b' || exit 126\nexec '/a'\\''b''/mf2t' Zeltmp.dat Zeltmps.txt\n"},
        ScriptCase{
            "shell specials", "/x $HOME `id` \"q\" \\ *", &posixToText,
            "cd '/x $HOME `id` \"q\" \\ *' || exit 126\nexec '/x $HOME `id` \"q\" \\ *''/mf2t' "
            "Zeltmp.dat Zeltmps.txt\n"},
        ScriptCase{"installed", "/usr/lib/zelmod", &posixToText,
                   "cd '/home/a b/.local/share/Zelmod' || exit 126\nexec '/usr/lib/zelmod''/mf2t' "
                   "Zeltmp.dat Zeltmps.txt\n",
                   "/home/a b/.local/share/Zelmod"}));

// What the console's code page can hold decides whether the script can be written.
std::optional<QByteArray> latin1Only(const QString& text) {
    QStringEncoder encoder(QStringEncoder::Latin1);
    const QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        return std::nullopt;
    return bytes;
}

std::optional<QByteArray> utf8(const QString& text) {
    return text.toUtf8();
}

TEST(WindowsScriptEncoding, RefusesADirectoryTheCodePageCannotHold) {
    EXPECT_FALSE(zelmod::windowsScriptBytes(
        {QStringLiteral("C:\\音楽\\Zelmod"), QStringLiteral("C:\\Z")}, toText, latin1Only));
    EXPECT_FALSE(zelmod::windowsScriptBytes(
        {QStringLiteral("C:\\Z"), QStringLiteral("C:\\Zelmod\u0100")}, toText, latin1Only));
}

TEST(WindowsScriptEncoding, WritesTheTextInTheCodePage) {
    const auto latin = zelmod::windowsScriptBytes(
        {QStringLiteral("C:\\Caf\u00e9"), QStringLiteral("C:\\Caf\u00e9")}, toText, latin1Only);
    ASSERT_TRUE(latin);
    EXPECT_EQ(latin->left(16), QByteArray("C:\r\ncd \"C:\\Caf\xe9\""));
    const auto japanese = zelmod::windowsScriptBytes(
        {QStringLiteral("C:\\音楽"), QStringLiteral("C:\\音楽")}, toText, utf8);
    ASSERT_TRUE(japanese);
    EXPECT_TRUE(japanese->contains(QStringLiteral("音楽\\MF2T.EXE").toUtf8()));
}

// Both Windows scripts, run as the job runs them (cmd /d /c .\\Zelmod.bat
// from the tool's directory) by Wine's cmd.exe, in a tool's directory that
// holds cmd's special characters and Japanese. ./dev.sh windows sets WINE
// and ZELMOD_WINDOWS_TOOL_DIR (the folder of MF2T.EXE and T2MF.EXE), and
// a Japanese locale, in which Wine's console code page is 932.
TEST(WindowsScriptUnderWine, RunsBothConvertersFromAnAwkwardDirectory) {
    const QString wine = qEnvironmentVariable("WINE");
    const QString exeDir = qEnvironmentVariable("ZELMOD_WINDOWS_TOOL_DIR");
    if (wine.isEmpty() || exeDir.isEmpty())
        GTEST_SKIP() << "WINE or ZELMOD_WINDOWS_TOOL_DIR unset (run by ./dev.sh windows)";
    QTemporaryDir scratch;
    const QString toolDir = scratch.path() + QStringLiteral("/Zel mod 100% & ^ (x86) 音楽");
    ASSERT_TRUE(QDir().mkpath(toolDir));
    for (const ConverterCommand* command : {&toText, &toMidi})
        ASSERT_TRUE(QFile::copy(exeDir + u'/' + command->converterName,
                                toolDir + u'/' + command->converterName));
    const QByteArray midi =
        QByteArray::fromHex("4d54686400000006000000010060" // format 0, 1 track, 96 ticks
                            "4d54726b0000000b00903c40603c0000ff2f00");
    const auto inTool = [&](const QString& name) { return toolDir + u'/' + name; };
    writeFile(inTool(QStringLiteral("Zeltmp.dat")), midi);
    const QString windowsDir = QStringLiteral("Z:") + QString(toolDir).replace(u'/', u'\\');
    const auto codePage932 = [](const QString& text) -> std::optional<QByteArray> {
        QStringEncoder encoder("windows-932");
        const QByteArray bytes = encoder.encode(text);
        return encoder.hasError() ? std::nullopt : std::optional(bytes);
    };
    for (const ConverterCommand* command : {&toText, &toMidi}) {
        if (command == &toMidi)
            writeFile(inTool(QStringLiteral("Zeltmpd.txt")),
                      readFile(inTool(QStringLiteral("Zeltmps.txt"))));
        const auto script =
            zelmod::windowsScriptBytes({windowsDir, windowsDir}, *command, codePage932);
        ASSERT_TRUE(script);
        writeFile(inTool(command->scriptName), *script);
        QProcess cmd;
        cmd.setWorkingDirectory(toolDir);
        cmd.start(wine, {QStringLiteral("cmd"), QStringLiteral("/d"), QStringLiteral("/c"),
                         QStringLiteral(".\\") + command->scriptName});
        ASSERT_TRUE(cmd.waitForFinished(100'000));
        EXPECT_EQ(cmd.exitCode(), 0) << cmd.readAllStandardError().toStdString();
    }
    EXPECT_TRUE(
        readFile(inTool(QStringLiteral("Zeltmps.txt"))).startsWith("MThd format=0 tracks=1"));
    EXPECT_EQ(readFile(inTool(QStringLiteral("Zeltmp2.dat"))), midi);
}

#ifdef Q_OS_WIN
// Where the scripts are written: a program folder whose access list lets
// another user write there is no place for them. %1 is the user, %2 another.
struct FolderSecurityCase {
    const char* name;
    const char* descriptor; // in the system's text form
    bool othersMayWrite;
    bool othersMayEnter;
    bool ownerTrusted = true;
};

class WindowsFolderSecurity : public testing::TestWithParam<FolderSecurityCase> {};

TEST_P(WindowsFolderSecurity, TellsWhoElseMayUseTheFolder) {
    const FolderSecurityCase& c = GetParam();
    const QString user = QStringLiteral("S-1-5-21-1-2-3-1001");
    const auto security = zelmod::FolderSecurity::fromText(
        QString::fromUtf8(c.descriptor).arg(user, QStringLiteral("S-1-5-21-1-2-3-1002")), user);
    ASSERT_TRUE(security.isRead()) << security.errorText();
    EXPECT_EQ(security.othersHave(zelmod::FolderAccess::Write), c.othersMayWrite);
    EXPECT_EQ(security.othersHave(zelmod::FolderAccess::Any), c.othersMayEnter);
    EXPECT_EQ(security.ownerIsTrusted(), c.ownerTrusted);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Descriptors, WindowsFolderSecurity,
    testing::Values(
        FolderSecurityCase{"the user's own", "O:%1D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;%1)", false, false},
        FolderSecurityCase{"Everyone: full control", "O:%1D:(A;OICI;FA;;;%1)(A;OICI;FA;;;WD)", true, true},
        FolderSecurityCase{"Users: modify", "O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", true, true},
        FolderSecurityCase{"Users: write, generically", "O:%1D:(A;;GW;;;BU)", true, true},
        FolderSecurityCase{"another user: change the access list", "O:%1D:(A;;FA;;;%1)(A;;WD;;;%2)", true, true},
        FolderSecurityCase{"signed-in users: make folders, as in C:\\",
                           "O:SYD:(A;OICI;FA;;;SY)(A;OICIIO;GWGR;;;AU)(A;;0x4;;;AU)", true, true},
        FolderSecurityCase{"Users: read and run, TrustedInstaller owns it",
                           "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
                           "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", false, true},
        FolderSecurityCase{"another user: full control of what it holds only",
                           "O:%1D:(A;OICI;FA;;;%1)(A;OICIIO;FA;;;%2)", false, false},
        FolderSecurityCase{"CREATOR OWNER and OWNER RIGHTS stand for the owner",
                           "O:%1D:(A;OICI;FA;;;CO)(A;;FA;;;S-1-3-4)", false, false},
        FolderSecurityCase{"Everyone denied", "O:%1D:(D;;FA;;;WD)(A;;FA;;;%1)", false, false},
        FolderSecurityCase{"made by an elevated program", "O:BAD:P(A;OICI;FA;;;%1)", false, false},
        FolderSecurityCase{"another user's", "O:%2D:P(A;OICI;FA;;;%1)", true, true, false},
        FolderSecurityCase{"no access list", "O:%1", true, true}));
// clang-format on

TEST(WindowsFolderSecurity, AFolderOfUnknownSecurityIsTakenAsShared) {
    const auto security = zelmod::FolderSecurity::of(QStringLiteral("C:\\no such folder\\x"));
    EXPECT_FALSE(security.isRead());
    EXPECT_TRUE(security.othersHave(zelmod::FolderAccess::Write));
}

TEST(WindowsFolderSecurity, AFolderMadePrivateIsTheUsersAlone) {
    QTemporaryDir scratch;
    const QString folder = scratch.path() + QStringLiteral("/work");
    ASSERT_EQ(zelmod::FolderSecurity::makePrivateFolder(folder), QString());
    const auto security = zelmod::FolderSecurity::of(folder);
    EXPECT_TRUE(security.ownerIsTrusted());
    EXPECT_FALSE(security.othersHave(zelmod::FolderAccess::Any));
}
#endif

TEST(ConverterCommands, NameTheConvertersOfThisPlatform) {
#ifdef Q_OS_WIN
    EXPECT_EQ(zelmod::toTextCommand().converterName, toText.converterName);
    EXPECT_EQ(zelmod::toMidiCommand().converterName, toMidi.converterName);
#else
    EXPECT_EQ(zelmod::toTextCommand().converterName, QStringLiteral("mf2t"));
    EXPECT_EQ(zelmod::toMidiCommand().converterName, QStringLiteral("t2mf"));
#endif
    EXPECT_EQ(zelmod::toTextCommand().arguments, toText.arguments);
    EXPECT_EQ(zelmod::toMidiCommand().arguments, toMidi.arguments);
    EXPECT_EQ(zelmod::toTextCommand().scriptName, QStringLiteral("Zelmod.bat"));
    EXPECT_EQ(zelmod::toMidiCommand().scriptName, QStringLiteral("Zelmod2.bat"));
}

} // namespace
