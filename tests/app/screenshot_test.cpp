// What a user sees, compared with reviewed reference pictures: each scene is
// drawn on Xvfb with one fixed Japanese font and compared pixel by pixel.
// Renew the references with ./dev.sh screenshots and review them.
#include "app/DropBatch.h"
#include "app/QtTranslation.h"
#include "app/basStrSub.h"
#include "app/frmAbout.h"
#include "app/frmMain.h"
#include "job/JobMessages.h"
#include "job/choosers/CommonDialog.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLockFile>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace {

const QString referenceDir = QStringLiteral(ZELMOD_TEST_SOURCE_DIR "/tests/app/screenshots");
// Shown in the Open dialog's address box, so it must be the same everywhere.
const QString sampleDir = QStringLiteral("/tmp/zelmod-samples");

// Before the application starts: the one font, and nothing of the desktop
// that would change a picture.
const bool fixedSurroundings = [] {
    setenv("FONTCONFIG_FILE", ZELMOD_TEST_SOURCE_DIR "/tests/app/screenshots/fonts.conf", 1);
    setenv("LC_ALL", "C.UTF-8", 1); // dates and sizes in the file dialog
    setenv("HOME", "/tmp", 1);      // the file dialog's side bar shows home
    for (const char* name : {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_FONT_DPI",
                             "QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE"})
        unsetenv(name);
    return true;
}();

// A pixel counts as changed when a channel moves by more than this; anti-
// aliasing moves edges by less. A picture may have a few changed pixels.
constexpr int ChannelTolerance = 64;
constexpr double ChangedShareAllowed = 0.001;

QImage readyForComparison(const QImage& image) {
    return image.convertToFormat(QImage::Format_RGB32);
}

bool pixelChanged(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) > ChannelTolerance ||
           std::abs(qGreen(a) - qGreen(b)) > ChannelTolerance ||
           std::abs(qBlue(a) - qBlue(b)) > ChannelTolerance;
}

// Compares a scene's picture with its reference. A changed picture is saved
// beside the test with a diff image (changes in red on the faded reference),
// whose path the failure names. With ZELMOD_RENEW_SCREENSHOTS set, the
// picture becomes the new reference instead.
testing::AssertionResult matchesReference(const QImage& picture, const QString& name) {
    const QString referencePath = referenceDir + QLatin1Char('/') + name + ".png";
    const QImage actual = readyForComparison(picture);
    if (qEnvironmentVariableIsSet("ZELMOD_RENEW_SCREENSHOTS")) {
        if (!actual.save(referencePath))
            return testing::AssertionFailure() << "cannot write " << referencePath.toStdString();
        return testing::AssertionSuccess() << "renewed";
    }
    const QImage reference = readyForComparison(QImage(referencePath));
    const QString actualPath = QDir::current().absoluteFilePath(name + "-actual.png");
    const QString diffPath = QDir::current().absoluteFilePath(name + "-diff.png");
    QFile::remove(actualPath); // from an earlier failed run
    QFile::remove(diffPath);
    if (reference.size() != actual.size()) {
        actual.save(actualPath);
        return testing::AssertionFailure()
               << name.toStdString() << ": not the size of " << referencePath.toStdString()
               << "; picture: " << actualPath.toStdString();
    }
    QImage diff = reference;
    QPainter(&diff).fillRect(diff.rect(), QColor(255, 255, 255, 192));
    qsizetype changed = 0;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            if (pixelChanged(actual.pixel(x, y), reference.pixel(x, y))) {
                diff.setPixel(x, y, qRgb(255, 0, 0));
                ++changed;
            }
        }
    }
    if (changed <= actual.width() * actual.height() * ChangedShareAllowed)
        return testing::AssertionSuccess();
    actual.save(actualPath);
    diff.save(diffPath);
    return testing::AssertionFailure()
           << name.toStdString() << ": " << changed << " pixels differ from "
           << referencePath.toStdString() << "; diff: " << diffPath.toStdString();
}

class Screenshots;

// One picture: how to bring it up (this may open a modal window and return
// only when it is closed) and which window to take once it is there.
struct Scene {
    const char* name;
    std::function<void(Screenshots&)> show;
    std::function<QWidget*(Screenshots&)> shown;
};

void PrintTo(const Scene& scene, std::ostream* out) {
    *out << scene.name;
}

template <typename Modal> Modal* modal() {
    return qobject_cast<Modal*>(QApplication::activeModalWidget());
}

class Screenshots : public testing::TestWithParam<Scene> {
  protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb") ||
            QGuiApplication::primaryScreen()->size() != QSize(1280, 1024))
            GTEST_SKIP() << "needs Xvfb with a 1280x1024 screen, as ./dev.sh test runs it";
        ASSERT_TRUE(installQtJapaneseTranslation(*qApp));
        QApplication::setCursorFlashTime(0); // a text cursor that never blinks
        ASSERT_TRUE(settings.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
        ASSERT_TRUE(samplesLock.lock());
        makeSamples();
        basStrSub::InputFilePath = sampleDir + QStringLiteral("/song.mid");
        window.setToolFolders({toolDir.path(), toolDir.path()});
    }

    void TearDown() override { QDir(sampleDir).removeRecursively(); }

    // Two MIDI files with fixed names, sizes and times.
    void makeSamples() {
        QDir(sampleDir).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(sampleDir));
        const QDateTime time(QDate(2024, 4, 1), QTime(9, 30));
        for (const char* name : {"song.mid", "練習曲.mid"}) {
            QFile file(sampleDir + QLatin1Char('/') + QString::fromUtf8(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(1234, 'M'));
            ASSERT_TRUE(file.flush());
            ASSERT_TRUE(file.setFileTime(time, QFileDevice::FileModificationTime));
        }
    }

  public:
    void showMessage(const zelmod::ClampCount& clamped) {
        zelmod::CommonDialog dialog(&window);
        const zelmod::JobMessage message = zelmod::completionMessage(clamped);
        dialog.showMessage({message.text, message.caption, QMessageBox::Warning});
    }

    // After a drop of several files, two of which could not be converted.
    void showDropSummary() {
        const QStringList failures = {
            sampleDir + QStringLiteral("/notes.txt: MIDI ファイルではありません"),
            sampleDir + QStringLiteral(
                            "/練習曲.mid: 変換プログラムがエラーで終了しました（終了コード 1）")};
        zelmod::CommonDialog(&window).showMessage(DropBatch::summary(3, 1, failures));
    }

    void startJob() {
        window.show();
        window.findChild<QPushButton*>(QStringLiteral("cmdJob1"))->click();
    }

    QWidget* openDialogWithItsFiles() {
        auto* dialog = modal<QFileDialog>();
        if (!dialog)
            return nullptr;
        auto* model = dialog->findChild<QFileSystemModel*>();
        return model && model->rowCount(model->index(sampleDir)) == 2 ? dialog : nullptr;
    }

    QTemporaryDir settings; // the file dialog keeps its state there
    QTemporaryDir toolDir;
    QLockFile samplesLock{QDir::tempPath() + QStringLiteral("/zelmod-samples.lock")};
    frmMain window;
    frmAbout about;
};

// The picture once it has stopped changing: the file dialog fills in its
// list and icons in the background.
QImage settledPicture(QWidget* widget) {
    QImage last;
    int unchanged = 0;
    for (int round = 0; round < 200 && unchanged < 5; ++round) {
        QTest::qWait(50);
        // Other programs on the same display may take the focus.
        QWidget* modalWindow = QApplication::activeModalWidget();
        QApplication::setActiveWindow(modalWindow ? modalWindow : widget->window());
        const QImage picture = widget->grab().toImage();
        unchanged = picture == last ? unchanged + 1 : 0;
        last = picture;
    }
    return last;
}

TEST_P(Screenshots, LookAsReviewed) {
    const Scene& scene = GetParam();
    QImage picture;
    bool done = false;
    // Taken from a timer, since a modal window holds show() until it closes;
    // closed also when it never gets ready, so that show() returns.
    QElapsedTimer waited;
    waited.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* shown = scene.shown(*this);
        const bool ready = shown && shown->isVisible();
        if (!ready && !waited.hasExpired(30000))
            return;
        poll.stop();
        if (ready)
            picture = settledPicture(shown);
        if (QWidget* modalWindow = QApplication::activeModalWidget())
            modalWindow->close();
        done = true;
    });
    poll.start(50);
    scene.show(*this);
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 60000));
    ASSERT_FALSE(picture.isNull()) << scene.name << " was never shown";
    EXPECT_TRUE(matchesReference(picture, QString::fromUtf8(scene.name)));
}

INSTANTIATE_TEST_SUITE_P(
    Scenes, Screenshots,
    testing::Values(Scene{"main-window", [](Screenshots& s) { s.window.show(); },
                          [](Screenshots& s) -> QWidget* { return &s.window; }},
                    Scene{"about-window", [](Screenshots& s) { s.about.show(); },
                          [](Screenshots& s) -> QWidget* { return &s.about; }},
                    Scene{"completion-box", [](Screenshots& s) { s.showMessage({}); },
                          [](Screenshots&) -> QWidget* { return modal<QMessageBox>(); }},
                    Scene{"warning-box", [](Screenshots& s) { s.showMessage({.atCeiling = 3}); },
                          [](Screenshots&) -> QWidget* { return modal<QMessageBox>(); }},
                    Scene{"drop-summary-box", [](Screenshots& s) { s.showDropSummary(); },
                          [](Screenshots&) -> QWidget* { return modal<QMessageBox>(); }},
                    Scene{"open-dialog", [](Screenshots& s) { s.startJob(); },
                          [](Screenshots& s) { return s.openDialogWithItsFiles(); }},
                    Scene{"window-during-job", [](Screenshots& s) { s.startJob(); },
                          [](Screenshots& s) -> QWidget* {
                              return s.openDialogWithItsFiles() ? &s.window : nullptr;
                          }}),
    [](const testing::TestParamInfo<Scene>& info) {
        return QString::fromUtf8(info.param.name).replace('-', '_').toStdString();
    });

} // namespace
