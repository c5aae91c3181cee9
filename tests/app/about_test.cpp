// The About window's behaviour: focus, keys, closing and what it shows.
#include "app/WindowFont.h"
#include "app/frmAbout.h"
#include "tests/support/qt_test_kit.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace {

using zelmod::testing::PrintTo;
using namespace zelmod::testing;

// Opens a fresh About window modally, as the main window does, runs whileOpen
// inside its event loop and tells whether the window was closed by then.
bool closedBy(const std::function<void(frmAbout&)>& whileOpen) {
    frmAbout about;
    bool closed = true;
    QTimer::singleShot(0, &about, [&] {
        EXPECT_EQ(QApplication::activeModalWidget(), &about);
        whileOpen(about);
        QApplication::processEvents();
        if (about.isVisible()) {
            closed = false;
            about.done(QDialog::Rejected);
        }
    });
    about.exec();
    return closed;
}

// The control that has the focus whenever the window is active. Keys go to
// it directly, as the tests cannot rely on the window system activating the
// window in time.
QWidget* focused(frmAbout& about) {
    return about.focusWidget();
}

struct KeyCase {
    const char* name;
    Qt::Key key;
    bool closes;
};

const KeyCase keyCases[] = {
    {"Return", Qt::Key_Return, true}, {"KeypadEnter", Qt::Key_Enter, true},
    {"Space", Qt::Key_Space, true},   {"Escape", Qt::Key_Escape, false},
    {"Tab", Qt::Key_Tab, false},
};

class AboutKey : public testing::TestWithParam<KeyCase> {};

TEST_P(AboutKey, OnlyTheKeysThatPressCloseCloseTheWindow) {
    const bool closed = closedBy([](frmAbout& about) {
        ASSERT_NE(focused(about), nullptr);
        QTest::keyClick(focused(about), GetParam().key);
        // Enter presses the button with a short animation; the click comes at its end.
        const auto* close = about.findChild<QPushButton*>("cmdExit");
        EXPECT_TRUE(QTest::qWaitFor([&] { return !close->isDown(); }));
    });
    EXPECT_EQ(closed, GetParam().closes);
}

INSTANTIATE_TEST_SUITE_P(Keys, AboutKey, testing::ValuesIn(keyCases), caseName);

struct Opening {
    QString focus;
    QString about;
    QString credit;
    QString caption;
};

Opening openingSeen() {
    Opening seen;
    closedBy([&](frmAbout& about) {
        seen.focus = focused(about) ? focused(about)->objectName() : QString();
        seen.about = about.findChild<QLabel*>("lblAbout")->text();
        seen.credit = about.findChild<QLabel*>("lblAout2")->text();
        seen.caption = about.windowTitle();
        about.findChild<QPushButton*>("cmdExit")->click();
    });
    return seen;
}

TEST(About, EveryOpeningShowsTheSameTextsWithFocusOnClose) {
    for (int opening = 0; opening < 3; ++opening) {
        const Opening seen = openingSeen();
        EXPECT_EQ(seen.focus, "cmdExit") << "opening " << opening;
        EXPECT_EQ(seen.about, "Zelmod Ver1.00\u3000このソフトはMF2T/T2MFの技術を使用しています。");
        EXPECT_TRUE(seen.credit.contains("アイコン")) << seen.credit;
        EXPECT_EQ(seen.caption, " ");
    }
}

TEST(About, TheCloseBoxClosesItLikeTheButton) {
    EXPECT_TRUE(closedBy([](frmAbout& about) { about.close(); }));
}

TEST(About, TheCloseButtonClosesItWithAMouseClick) {
    EXPECT_TRUE(closedBy([](frmAbout& about) {
        QTest::mouseClick(about.findChild<QPushButton*>("cmdExit"), Qt::LeftButton);
    }));
}

// Labels take no focus, so Tab keeps it on the one button.
TEST(About, TabLeavesTheFocusOnTheButton) {
    closedBy([](frmAbout& about) {
        QTest::keyClick(focused(about), Qt::Key_Tab);
        EXPECT_EQ(focused(about)->objectName(), "cmdExit");
    });
}

// The texts wrap within their labels in the window's font, not made smaller;
// nothing is cut off.
TEST(About, EachTextFitsItsLabel) {
    frmAbout about;
    for (QLabel* label : about.findChildren<QLabel*>()) {
        EXPECT_LE(label->heightForWidth(label->width()), label->height())
            << qPrintable(label->objectName());
        EXPECT_EQ(label->font(), japaneseWindowFont()) << qPrintable(label->objectName());
    }
}

} // namespace
