#include "job/JobFiles.h"
#include "job/JobLock.h"
#include "job/JobMessages.h"
#include "job/NativePath.h"
#include "job/ReplaceFile.h"
#include "tests/support/qt_test_kit.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

using zelmod::JobFailure;
using zelmod::JobLock;
using zelmod::JobMessageId;
using zelmod::testing::PrintTo;
using namespace zelmod::testing;

TEST(JobLock, RefusesASecondHolderUntilTheFirstLetsGo) {
    FakeToolDir tool;
    JobLock first(tool.path());
    JobLock second(tool.path());
    ASSERT_EQ(first.tryLock(), std::nullopt);
    EXPECT_EQ(second.tryLock(), (JobFailure{JobMessageId::JobBusy, {tool.path()}}));
    first.unlock();
    EXPECT_FALSE(QFile::exists(tool.file(QStringLiteral("Zelmod.job.lock"))));
    EXPECT_EQ(second.tryLock(), std::nullopt);
}

TEST(JobLock, IsFreeAgainWhenItsHolderIsKilled) {
    FakeToolDir tool;
    const QString ready = tool.outside(QStringLiteral("ready"));
    writeFile(tool.file("Zelmod.job.lock"), "left over");
    // Another program holds the same kind of lock on the file. With -o the
    // command it runs does not share the lock; the command says when it runs.
    Child holder("flock", {"-o", tool.file("Zelmod.job.lock").toStdString(), "sh", "-c",
                           "echo $$ > \"$0\"; exec sleep 60", ready.toStdString()});
    waitUntil([&] { return QFile::exists(ready); }, std::chrono::seconds(5));
    JobLock lock(tool.path());
    ASSERT_EQ(lock.tryLock(), (JobFailure{JobMessageId::JobBusy, {tool.path()}}));
    holder.kill(SIGKILL);
    holder.wait();
    EXPECT_EQ(lock.tryLock(), std::nullopt);
    EXPECT_EQ(readFile(tool.file("Zelmod.job.lock")), ""); // made afresh
    const pid_t command = pid_t(readFile(ready).trimmed().toLongLong());
    if (command > 0)
        ::kill(command, SIGKILL); // left behind by the killed holder
}

TEST(JobLock, FailsInAFolderThatDoesNotExist) {
    FakeToolDir tool;
    JobLock lock(tool.file(QStringLiteral("missing")));
    const std::optional<JobFailure> failure = lock.tryLock();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->id, JobMessageId::ToolDirUnwritable);
    EXPECT_FALSE(failure->arguments.last().isEmpty());
}

struct JobFileCase {
    const char* name;
    bool outside; // of the tool's directory
    const char* path;
    bool isJobFile;
};

class JobFileRecognition : public testing::TestWithParam<JobFileCase> {};

TEST_P(JobFileRecognition, FindsTheJobsOwnFiles) {
    FakeToolDir tool;
    QFile::link(tool.path(), tool.outside(QStringLiteral("link")));
    const QString path = QString::fromUtf8(GetParam().path);
    EXPECT_EQ(
        zelmod::isJobFile(GetParam().outside ? tool.outside(path) : tool.file(path), tool.path()),
        GetParam().isJobFile);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, JobFileRecognition,
    testing::Values(JobFileCase{"each intermediate file", false, "Zeltmp2.dat", true},
                    JobFileCase{"the script", false, "Zelmod.bat", true},
                    JobFileCase{"the lock", false, "Zelmod.job.lock", true},
                    JobFileCase{"the setup file", false, "Zelmod.dat", true},
                    JobFileCase{"a converter's partial file", false, ".Zeltmps.txt.AbC123.tmp",
                                true},
                    JobFileCase{"through a dot", false, "./Zeltmpd.txt", true},
                    JobFileCase{"through a link", true, "link/Zeltmps.txt", true},
                    JobFileCase{"another name", false, "out.mid", false},
                    JobFileCase{"same name elsewhere", true, "Zeltmp.dat", false},
                    JobFileCase{"other letter case", false, "zeltmp.dat", false}));

TEST(RemoveIntermediateFiles, RemovesReadOnlyOnesAndLeavesOthers) {
    for (const zelmod::CleanUp when : {zelmod::CleanUp::BeforeJob, zelmod::CleanUp::AfterJob}) {
        FakeToolDir tool;
        for (const QString& name : jobFileNames.mid(0, 6)) {
            writeFile(tool.file(name), "left over");
            QFile::setPermissions(tool.file(name), QFileDevice::ReadOwner);
        }
        writeFile(tool.file(QStringLiteral("Zelmod.dat")), "setup");
        zelmod::removeIntermediateFiles(tool.path(), when);
        EXPECT_TRUE(tool.leftovers().isEmpty()) << tool.leftovers().join(' ');
        EXPECT_EQ(readFile(tool.file(QStringLiteral("Zelmod.dat"))), "setup");
    }
}

constexpr QDir::Filters hiddenFiles = QDir::Files | QDir::Hidden;

fs::perms modeOf(const QString& path) {
    return fs::status(path.toStdString()).permissions();
}

TEST(ReplaceFile, ReplacesTheTargetAndRemovesALeftoverPartial) {
    FakeToolDir dir;
    const QString target = dir.file(QStringLiteral("out.mid"));
    writeFile(target, "old");
    QFile::setPermissions(target, QFileDevice::ReadOwner);
    writeFile(zelmod::partialPathFor(target), "killed half way");
    writeFile(dir.file(QStringLiteral("out.mid.tmp")), "the user's own");
    writeFile(dir.file(QStringLiteral("new")), "new");
    const QStringList partials{QStringLiteral(".out.mid.??????.tmp")};
    // While the copy is synced it is whole and private, the target is still
    // the old one, and the source may go.
    int syncing = 0;
    const auto whileSyncing = [&] {
        ++syncing;
        const QFileInfoList partial = QDir(dir.path()).entryInfoList(partials, hiddenFiles);
        ASSERT_EQ(partial.size(), 1);
        EXPECT_EQ(readFile(partial[0].filePath()), "new");
        EXPECT_EQ(modeOf(partial[0].filePath()), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(readFile(target), "old");
        EXPECT_TRUE(QFile::remove(dir.file(QStringLiteral("new"))));
    };
    ASSERT_EQ(
        zelmod::replaceFileWithCopy(dir.file(QStringLiteral("new")), target, {}, whileSyncing),
        std::nullopt);
    EXPECT_EQ(syncing, 1);
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(modeOf(target), fs::perms::owner_read);
    EXPECT_TRUE(QDir(dir.path()).entryList(partials, hiddenFiles).isEmpty());
    EXPECT_EQ(readFile(dir.file(QStringLiteral("out.mid.tmp"))), "the user's own");
}

// A work file is made afresh for its owner alone; a link planted in its
// place is refused, and the file it names is left alone.
TEST(OpenNative, CreatesWorkFilesAfreshAndNeverThroughALink) {
    FakeToolDir dir;
    writeFile(dir.file(QStringLiteral("private")), "private");
    ASSERT_TRUE(QFile::link(dir.file(QStringLiteral("private")), dir.file("Zeltmpd.txt")));
    for (const char* name : {"Zeltmpd.txt", "Zeltmp.dat"}) {
        QFile file;
        const bool refused = zelmod::openNative(file, dir.file(name), QIODevice::WriteOnly,
                                                JobMessageId::WorkFileUncreatable)
                                 .has_value();
        EXPECT_EQ(refused, QFileInfo(dir.file(name)).isSymLink()) << name;
    }
    EXPECT_EQ(readFile(dir.file(QStringLiteral("private"))), "private");
    EXPECT_EQ(modeOf(dir.file("Zeltmp.dat")), fs::perms::owner_read | fs::perms::owner_write);
}

TEST(ReplaceFile, NamesThePartialAfterTheOutputWithinTheNameLimit) {
    EXPECT_EQ(zelmod::partialPathFor(QStringLiteral("/music/song.mid")),
              QStringLiteral("/music/.song.mid.XXXXXX.tmp"));
    EXPECT_EQ(zelmod::partialPathFor(QStringLiteral("/music/") + QString(255, 'x')),
              QStringLiteral("/music/.") + QString(243, 'x') + QStringLiteral(".XXXXXX.tmp"));
}

TEST(ReplaceFile, LeavesTheTargetWhenTheCopyFails) {
    FakeToolDir dir;
    const QString target = dir.file(QStringLiteral("out.mid"));
    writeFile(target, "old");
    const std::optional<JobFailure> failure =
        zelmod::replaceFileWithCopy(dir.file(QStringLiteral("missing")), target);
    ASSERT_TRUE(failure);
    EXPECT_FALSE(failure->arguments.last().isEmpty());
    EXPECT_EQ(readFile(target), "old");
    EXPECT_FALSE(QFile::exists(zelmod::partialPathFor(target)));
}

TEST(ReplaceFile, FailsWhenTheTargetIsAFolder) {
    FakeToolDir dir;
    const QString target = dir.file(QStringLiteral("out.mid"));
    QDir().mkpath(target + QStringLiteral("/inner"));
    writeFile(dir.file(QStringLiteral("new")), "new");
    EXPECT_TRUE(zelmod::replaceFileWithCopy(dir.file(QStringLiteral("new")), target));
    EXPECT_TRUE(QFileInfo(target + QStringLiteral("/inner")).isDir());
    EXPECT_FALSE(QFile::exists(zelmod::partialPathFor(target)));
}

TEST(JobMessages, FillEveryPlaceholderOnceAndLeaveArgumentsAlone) {
    const zelmod::JobMessage message = zelmod::jobMessage(
        zelmod::JobMessageId::ConverterFailed,
        {QStringLiteral("C:\\100%2\\MF2T.EXE"), QStringLiteral("1"), QStringLiteral("%1 bad")});
    EXPECT_EQ(message.caption, QStringLiteral("§ エラー"));
    EXPECT_EQ(message.text, QStringLiteral("変換プログラムがエラーで終了しました（終了コード 1）\n"
                                           "C:\\100%2\\MF2T.EXE\n%1 bad"));
}

TEST(JobMessages, CompletionUsesItsOwnCaptionAndIcon) {
    for (const zelmod::ClampCount& clamped : {zelmod::ClampCount{}, {.atFloor = 1}}) {
        const zelmod::JobMessage message = zelmod::completionMessage(clamped);
        EXPECT_EQ(message.caption, QStringLiteral("(?)<変換完了！"));
        EXPECT_EQ(message.icon, zelmod::JobMessage::Icon::Exclamation);
    }
}

} // namespace
