// Whether the Save chooser lets a file be replaced, asked as the
// unprivileged user nobody, since file modes do not bind root.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <ostream>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t Nobody = 65534;
const QStringList AsNobody = {"--reuid=65534", "--regid=65534", "--clear-groups"};
const QByteArray Content = "MThd existing output";

enum class Entry { Nothing, File, Folder };

struct PermissionCase {
    const char* name;
    bool folderOwnedByNobody;
    mode_t folderMode;
    Entry entry;
    bool fileOwnedByNobody;
    mode_t fileMode;
    bool replaceable;
};

void PrintTo(const PermissionCase& c, std::ostream* out) {
    *out << c.name;
}

class ReplaceCheck : public testing::TestWithParam<PermissionCase> {
  protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to run the check as the user nobody";
        if (QProcess::execute("setpriv", AsNobody + QStringList{"true"}) != 0)
            GTEST_SKIP() << "setpriv cannot switch to the user nobody here";
        // The whole tree must be traversable by nobody, the probe included.
        ASSERT_TRUE(base.isValid());
        ASSERT_EQ(chmod(QFile::encodeName(base.path()).constData(), 0755), 0);
        probe = base.filePath("probe");
        ASSERT_TRUE(QFile::copy(QStringLiteral(ZELMOD_REPLACE_PROBE), probe));
        ASSERT_EQ(chmod(QFile::encodeName(probe).constData(), 0755), 0);
    }

    static void setOwnerAndMode(const QString& path, bool nobody, mode_t mode) {
        const QByteArray name = QFile::encodeName(path);
        ASSERT_EQ(chown(name.constData(), nobody ? Nobody : 0, nobody ? Nobody : 0), 0);
        ASSERT_EQ(chmod(name.constData(), mode), 0);
    }

    QTemporaryDir base;
    QString probe;
};

TEST_P(ReplaceCheck, AnswersAsTheUserWould) {
    const PermissionCase& c = GetParam();
    const QString folder = base.filePath("folder");
    const QString target = folder + "/out.mid";
    ASSERT_TRUE(QDir().mkdir(folder));
    if (c.entry == Entry::Folder) {
        ASSERT_TRUE(QDir().mkdir(target));
    } else if (c.entry == Entry::File) {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Content);
        file.close();
        setOwnerAndMode(target, c.fileOwnedByNobody, c.fileMode);
    }
    setOwnerAndMode(folder, c.folderOwnedByNobody, c.folderMode);

    QProcess run;
    run.start("setpriv", AsNobody + QStringList{probe, target});
    ASSERT_TRUE(run.waitForFinished());
    const QString said = QString::fromLocal8Bit(run.readAll()).trimmed();
    ASSERT_EQ(run.exitStatus(), QProcess::NormalExit);
    ASSERT_LT(run.exitCode(), 2) << said.toStdString();
    EXPECT_EQ(run.exitCode() == 0, c.replaceable) << said.toStdString();

    if (c.entry == Entry::File) {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), Content) << "the check must not touch the file";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceCheck,
    testing::Values(
        PermissionCase{"NothingThereYet", true, 0755, Entry::Nothing, false, 0, true},
        PermissionCase{"NothingThereInLockedFolder", false, 0755, Entry::Nothing, false, 0, true},
        PermissionCase{"FreeFile", true, 0755, Entry::File, true, 0644, true},
        PermissionCase{"SomeoneElsesFileInOwnFolder", true, 0755, Entry::File, false, 0644, true},
        PermissionCase{"ReadOnlyFile", true, 0755, Entry::File, true, 0444, true},
        PermissionCase{"FolderWithoutWritePermission", false, 0755, Entry::File, true, 0666, false},
        PermissionCase{"StickyFolderSomeoneElsesFile", false, 01777, Entry::File, false, 0666,
                       false},
        PermissionCase{"StickyFolderOwnFile", false, 01777, Entry::File, true, 0644, true},
        PermissionCase{"Directory", true, 0755, Entry::Folder, false, 0, false}),
    [](const testing::TestParamInfo<PermissionCase>& info) { return info.param.name; });

} // namespace
