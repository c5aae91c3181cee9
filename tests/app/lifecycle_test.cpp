// The main window's lifecycle in this process: load, close, resize and the
// mouse press that opens the About window.
#include "app/basStrSub.h"
#include "app/frmAbout.h"
#include "app/frmMain.h"
#include "job/choosers/CommonDialog.h"
#include "tests/support/qt_test_kit.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace {

using zelmod::testing::PrintTo;
using namespace zelmod::testing;

const QSize DesignSize(493, 552);

// Runs whileOpen as soon as a modal window of type Modal is open, then
// closes that window. Tells whether one opened while action ran.
template <typename Modal>
bool modalOpenedDuring(const std::function<void()>& action,
                       const std::function<void(Modal&)>& whileOpen = {}) {
    bool opened = false;
    const auto closeOpenModal = [&] {
        auto* modal = qobject_cast<Modal*>(QApplication::activeModalWidget());
        if (!modal || !modal->isVisible())
            return;
        opened = true;
        if (whileOpen)
            whileOpen(*modal);
        modal->close();
    };
    QTimer watcher;
    watcher.setInterval(10);
    QObject::connect(&watcher, &QTimer::timeout, closeOpenModal);
    watcher.start();
    action();
    QCoreApplication::processEvents(); // what the action left to the event loop
    closeOpenModal();
    return opened;
}

class Lifecycle : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(toolDir.isValid());
        ASSERT_TRUE(runtimeDir.isValid());
        // Each test has its own lock, so tests may run side by side.
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    }

    QString setupPath() const { return toolDir.filePath(QStringLiteral("Zelmod.dat")); }

    void loadAndShow() {
        ASSERT_TRUE(window.Form_Load({toolDir.path(), toolDir.path()}));
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    template <typename Widget = QWidget> Widget* control(const char* name, int index = -1) {
        for (auto* widget : window.findChildren<Widget*>(QLatin1String(name))) {
            if (index < 0 || widget->property("index").toInt() == index)
                return widget;
        }
        ADD_FAILURE() << "no control " << name;
        return nullptr;
    }

    // A press as the window system delivers it: to the window, at a point.
    void pressOnWindow(QWidget* target, QPoint point, Qt::MouseButton button) {
        QTest::mousePress(window.windowHandle(), button, {}, target->mapTo(&window, point));
    }

    QTemporaryDir toolDir;
    QTemporaryDir runtimeDir;
    WarningCapture warnings;
    frmMain window;
};

TEST_F(Lifecycle, LoadSetsTheProgramWideValues) {
    ASSERT_TRUE(window.Form_Load({toolDir.path(), toolDir.path()}));
    EXPECT_EQ(QFileInfo(basStrSub::SetupFilePath), QFileInfo(setupPath()));
    EXPECT_EQ(basStrSub::SetupHeader, "Zelmod Setup File Ver.1.00");
    EXPECT_TRUE(basStrSub::SaveSetupOnExit);
    EXPECT_EQ(basStrSub::MaxFormWidth, 7395);
    EXPECT_EQ(basStrSub::MaxFormHeight, 8280);
}

struct SetupCase {
    const char* name;
    std::optional<QByteArray> content; // none: no file; a directory when isDirectory
    QFile::Permissions mode;
    bool isDirectory;
    QByteArray afterStart;
    int failuresAtStart;
    int failuresAtClose;
};

const QFile::Permissions rw = QFile::ReadOwner | QFile::WriteOwner;
const QByteArray otherLine = "Zelmod Setup File Ver.1.01\r\n";
const QByteArray extraLines = "Zelmod Setup File Ver.1.00\r\nsecond line\r\n";

// clang-format off
const SetupCase setupCases[] = {
    {"NoFileIsCreated",         std::nullopt,   rw,              false, SetupFileBytes, 0, 0},
    {"MatchingFileIsKept",      SetupFileBytes, rw,              false, SetupFileBytes, 0, 0},
    {"DifferingLineIsKept",     otherLine,      rw,              false, otherLine,      0, 0},
    {"ExtraLinesAreKept",       extraLines,     rw,              false, extraLines,     0, 0},
    {"ReadOnlyFileIsRead",      otherLine,      QFile::ReadOwner, false, otherLine,     0, 0},
    {"EmptyFileIsReported",     QByteArray(),   rw,              false, QByteArray(),   1, 0},
    {"DirectoryIsReported",     std::nullopt,   rw,              true,  "<unreadable>", 1, 1},
};
// clang-format on

class StartAndClose : public Lifecycle, public testing::WithParamInterface<SetupCase> {};

// Whatever the setup file holds, the program starts and closes; it reads
// or creates the file at start and leaves the header line alone at close.
TEST_P(StartAndClose, SetupFileIsCheckedAtStartAndRewrittenAtClose) {
    const SetupCase& c = GetParam();
    if (c.content)
        writeFile(setupPath(), *c.content, c.mode);
    if (c.isDirectory) {
        ASSERT_TRUE(QDir(toolDir.path()).mkdir(QStringLiteral("Zelmod.dat")));
    }

    loadAndShow();
    EXPECT_EQ(readFile(setupPath()), c.afterStart);
    EXPECT_EQ(warnings.count(), c.failuresAtStart) << warnings.text();

    QTest::mouseClick(control("cmdClose"), Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(warnings.count(), c.failuresAtStart + c.failuresAtClose) << warnings.text();
    if (c.isDirectory) {
        EXPECT_TRUE(QFileInfo(setupPath()).isDir());
    } else {
        EXPECT_EQ(readFile(setupPath()), SetupFileBytes);
        EXPECT_TRUE(hasNormalMode(setupPath()));
    }
}

INSTANTIATE_TEST_SUITE_P(SetupFiles, StartAndClose, testing::ValuesIn(setupCases), caseName);

// The refused start also brings the running window forward, minimised or not.
TEST_F(Lifecycle, SecondInstanceIsRefusedWithoutTouchingTheSetupFile) {
    loadAndShow();
    writeFile(setupPath(), otherLine, QFile::ReadOwner);
    window.showMinimized();
    QWidget elsewhere;
    elsewhere.show();
    QApplication::setActiveWindow(&elsewhere);

    frmMain second;
    bool loaded = true;
    const bool refused = modalOpenedDuring<QMessageBox>(
        [&] {
            loaded = second.Form_Load({toolDir.path(), toolDir.path()});
        },
        [](QMessageBox& box) {
            EXPECT_EQ(box.text(), "すでに「Zelmod」は起動されています、２重起動はできません");
            EXPECT_EQ(box.windowTitle(), "Zelmod");
            EXPECT_EQ(box.icon(), QMessageBox::Warning);
            EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
        });
    EXPECT_TRUE(refused);
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(basStrSub::SaveSetupOnExit);
    EXPECT_FALSE(second.isVisible());
    EXPECT_EQ(readFile(setupPath()), otherLine);
    EXPECT_FALSE(hasNormalMode(setupPath())) << "the refused instance reset the attributes";
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.isActiveWindow(); }));
    EXPECT_FALSE(window.isMinimized());
}

struct ResizeCase {
    const char* name;
    QSize requested;
    QSize expected;
};

// clang-format off
const ResizeCase resizeCases[] = {
    {"LargerBothWays",   DesignSize + QSize(100, 80),  DesignSize},
    {"WiderOnly",        QSize(600, 300),              QSize(493, 300)},
    {"TallerOnly",       QSize(200, 900),              QSize(200, 552)},
    {"OnePixelLarger",   DesignSize + QSize(1, 1),     DesignSize},
    {"DesignSize",       DesignSize,                   DesignSize},
    {"Smaller",          QSize(300, 200),              QSize(300, 200)},
};
// clang-format on

class Resize : public Lifecycle, public testing::WithParamInterface<ResizeCase> {};

TEST_P(Resize, TheWindowMayShrinkButNeverGrowBeyondItsDesignSize) {
    loadAndShow();
    for (const auto& resize : std::initializer_list<std::function<void(QSize)>>{
             [&](QSize size) { window.resize(size); },
             [&](QSize size) { window.windowHandle()->resize(size); }}) {
        window.resize(DesignSize - QSize(50, 50));
        QCoreApplication::processEvents(); // the window system's answer to that resize
        resize(GetParam().requested);
        QCoreApplication::processEvents();
        EXPECT_EQ(window.size(), GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Resize, testing::ValuesIn(resizeCases), caseName);

TEST_F(Lifecycle, MinimisingAndRestoringShowsNoMessageAndKeepsTheSize) {
    loadAndShow();
    window.resize(400, 450);
    const bool messageShown = modalOpenedDuring<QMessageBox>([&] {
        window.showMinimized();
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.isMinimized(); }));
        window.showNormal();
    });
    EXPECT_FALSE(messageShown);
    EXPECT_EQ(window.size(), QSize(400, 450));
    EXPECT_EQ(warnings.count(), 0) << warnings.text();
}

struct PressCase {
    const char* name;
    const char* control; // nullptr: the window itself
    int index;           // of an option button, or -1
    QPoint point;        // in the control; (-1, -1) for its centre
    Qt::MouseButton button;
    bool frameDisabled;
    bool opensAbout;
};

const QPoint centre(-1, -1);

// clang-format off
const PressCase pressCases[] = {
    {"BackgroundLeft",            nullptr,     -1, QPoint(3, 3),     Qt::LeftButton,   false, true},
    {"BackgroundRight",           nullptr,     -1, QPoint(3, 3),     Qt::RightButton,  false, true},
    {"BackgroundMiddle",          nullptr,     -1, QPoint(480, 540), Qt::MiddleButton, false, true},
    {"BackgroundBetweenButtons",  nullptr,     -1, QPoint(250, 528), Qt::LeftButton,   false, true},
    {"BackgroundBesideFrame",     nullptr,     -1, QPoint(300, 450), Qt::LeftButton,   false, true},
    {"LabelUp",                   "lblUp",     -1, centre,           Qt::LeftButton,   false, false},
    {"LabelDownRightButton",      "lblDown",   -1, centre,           Qt::RightButton,  false, false},
    {"FrameBorder",               "fmeOption", -1, QPoint(4, 95),    Qt::LeftButton,   false, false},
    {"FrameCaption",              "fmeOption", -1, QPoint(30, 4),    Qt::LeftButton,   false, false},
    {"DisabledFrame",             "fmeOption", -1, QPoint(4, 95),    Qt::LeftButton,   true,  false},
    {"OptionRightOfCaption",      "optJob",     0, QPoint(103, 8),   Qt::LeftButton,   false, false},
    {"DisabledOption",            "optJob",     4, centre,           Qt::LeftButton,   false, false},
    {"OptionInDisabledFrame",     "optJob",     1, centre,           Qt::LeftButton,   true,  false},
    {"StartButton",               "cmdJob1",   -1, centre,           Qt::LeftButton,   false, false},
    {"CloseButtonRightButton",    "cmdClose",  -1, centre,           Qt::RightButton,  false, false},
    {"AmountBox",                 "txtTrans",  -1, centre,           Qt::LeftButton,   false, false},
    {"StepButton",                "cmdUp",     -1, centre,           Qt::LeftButton,   false, false},
};
// clang-format on

class MousePress : public Lifecycle, public testing::WithParamInterface<PressCase> {};

TEST_P(MousePress, OnlyThePictureBehindTheControlsOpensTheAboutWindow) {
    const PressCase& c = GetParam();
    loadAndShow();
    // The start button starts a job, whose Open dialog is cancelled here.
    window.findChild<zelmod::CommonDialog*>()->setFilePresenter(
        [](const zelmod::FileDialogRequest&) { return std::optional<QString>(); });
    control("fmeOption")->setEnabled(!c.frameDisabled);
    QWidget* target = c.control ? control(c.control, c.index) : &window;
    ASSERT_NE(target, nullptr);
    const QPoint point = c.point == centre ? target->rect().center() : c.point;
    ASSERT_TRUE(target->rect().contains(point));

    bool ownerless = false;
    const bool opened = modalOpenedDuring<frmAbout>(
        [&] { pressOnWindow(target, point, c.button); },
        [&](frmAbout& about) { ownerless = about.parentWidget() == nullptr; });
    QTest::mouseRelease(window.windowHandle(), c.button, {}, target->mapTo(&window, point));
    EXPECT_EQ(opened, c.opensAbout);
    EXPECT_EQ(ownerless, c.opensAbout);
}

INSTANTIATE_TEST_SUITE_P(Presses, MousePress, testing::ValuesIn(pressCases), caseName);

// While the About window is open the main window takes no input; after it
// has closed, the main window works as before.
TEST_F(Lifecycle, TheAboutWindowBlocksTheMainWindowUntilClosed) {
    loadAndShow();
    auto* amount = control<QLineEdit>("txtTrans");
    QWidget* close = control("cmdClose");
    const QPoint closeCentre = close->mapTo(&window, close->rect().center());
    const bool opened = modalOpenedDuring<frmAbout>(
        [&] { pressOnWindow(&window, QPoint(3, 3), Qt::LeftButton); },
        [&](frmAbout&) {
            QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, closeCentre);
            QTest::keyClick(window.windowHandle(), Qt::Key_5);
            EXPECT_TRUE(window.isVisible());
        });
    ASSERT_TRUE(opened);
    EXPECT_EQ(amount->text(), "0");
    EXPECT_TRUE(window.isVisible());

    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, closeCentre);
    EXPECT_FALSE(window.isVisible());
}

} // namespace
