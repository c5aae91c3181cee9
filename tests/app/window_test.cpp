// The main window's behaviour: focus, keys and clicks, and legible captions.
#include "app/QtTranslation.h"
#include "app/frmAbout.h"
#include "app/frmMain.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <tuple>

namespace {

class MainWindow : public testing::Test {
  protected:
    void SetUp() override {
        window.show();
        // Activate directly: the platform's activation is asynchronous and
        // may lag behind on a loaded machine.
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(window.isActiveWindow());
    }

    template <typename Widget> Widget* control(const char* name) {
        auto* widget = window.findChild<Widget*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    QList<QRadioButton*> jobOptions() {
        QList<QRadioButton*> options = window.findChildren<QRadioButton*>("optJob");
        std::sort(options.begin(), options.end(), [](QRadioButton* a, QRadioButton* b) {
            return a->property("index").toInt() < b->property("index").toInt();
        });
        return options;
    }

    int selectedJob() {
        int selected = -1;
        for (int index = 0; index < frmMain::JobOptionCount; ++index) {
            if (window.isJobSelected(index)) {
                EXPECT_EQ(selected, -1) << "two options selected";
                selected = index;
            }
        }
        return selected;
    }

    frmMain window;
};

TEST_F(MainWindow, OpensWithPitchMirrorSelectedAmountZeroAndFocusOnStart) {
    EXPECT_EQ(selectedJob(), 0);
    EXPECT_EQ(control<QLineEdit>("txtTrans")->text(), "0");
    EXPECT_EQ(QApplication::focusWidget(), control<QPushButton>("cmdJob1"));
    EXPECT_EQ(jobOptions().size(), frmMain::JobOptionCount);
}

TEST_F(MainWindow, TabVisitsTheControlsInDesignOrderWithTheOptionGroupAsOneStop) {
    const QList<QRadioButton*> options = jobOptions();
    QTest::mouseClick(options[2], Qt::LeftButton, {}, QPoint(5, options[2]->height() / 2));
    ASSERT_EQ(selectedJob(), 2);
    control<QPushButton>("cmdJob1")->setFocus();

    const std::vector<QWidget*> expected = {
        control<QPushButton>("cmdClose"), options[2],
        control<QLineEdit>("txtTrans"),   control<QPushButton>("cmdUp"),
        control<QPushButton>("cmdDown"),  control<QPushButton>("cmdJob1"),
    };
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next)
            << "focus on " << qPrintable(QApplication::focusWidget()->objectName());
    }
}

TEST_F(MainWindow, ArrowKeysMoveTheSelectionThroughEveryJob) {
    const QList<QRadioButton*> options = jobOptions();
    options[0]->setFocus();
    const struct {
        Qt::Key key;
        int selected;
    } steps[] = {{Qt::Key_Down, 1}, {Qt::Key_Down, 2}, {Qt::Key_Down, 3},  {Qt::Key_Down, 4},
                 {Qt::Key_Down, 4}, {Qt::Key_Up, 3},   {Qt::Key_Right, 4}, {Qt::Key_Left, 3},
                 {Qt::Key_Left, 2}, {Qt::Key_Left, 1}, {Qt::Key_Up, 0},    {Qt::Key_Up, 0}};
    for (const auto& step : steps) {
        QTest::keyClick(QApplication::focusWidget(), step.key);
        EXPECT_EQ(selectedJob(), step.selected) << "after key " << step.key;
    }
}

TEST_F(MainWindow, ReversePlaybackIsSelectedByAClick) {
    QRadioButton* reverse = jobOptions()[frmMain::ReverseJobIndex];
    EXPECT_TRUE(reverse->isEnabled());
    QTest::mouseClick(reverse, Qt::LeftButton, {}, QPoint(5, reverse->height() / 2));
    EXPECT_EQ(selectedJob(), frmMain::ReverseJobIndex);
}

TEST_F(MainWindow, EnterAndEscapeStartAndCloseNothing) {
    QSignalSpy started(control<QPushButton>("cmdJob1"), &QAbstractButton::clicked);
    QSignalSpy closed(control<QPushButton>("cmdClose"), &QAbstractButton::clicked);
    QLineEdit* amount = control<QLineEdit>("txtTrans");
    amount->setFocus();
    QTest::keyClick(amount, Qt::Key_Return);
    QTest::keyClick(amount, Qt::Key_Enter);
    QTest::keyClick(amount, Qt::Key_Escape);
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(started.count(), 0);
    EXPECT_EQ(closed.count(), 0);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(amount->text(), "0");
}

// Enter presses the focused push button, as Space does.
TEST_F(MainWindow, EnterAndSpacePressTheFocusedButton) {
    const std::tuple<const char*, Qt::Key, const char*> presses[] = {
        {"cmdUp", Qt::Key_Return, "1"},
        {"cmdUp", Qt::Key_Enter, "1"},
        {"cmdDown", Qt::Key_Space, "-1"}};
    for (const auto& [button, key, after] : presses) {
        control<QLineEdit>("txtTrans")->setText(QStringLiteral("0"));
        control<QPushButton>(button)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_EQ(control<QLineEdit>("txtTrans")->text(), after) << button << " key " << key;
    }
}

// What a screen reader announces; the labels Up and Down name their buttons.
TEST_F(MainWindow, AmountControlsHaveAccessibleNames) {
    const std::tuple<const char*, const char*, const char*> controls[] = {
        {"txtTrans", "シフト量", "fmeOption"},
        {"cmdUp", "上げる", "lblUp"},
        {"cmdDown", "下げる", "lblDown"}};
    for (const auto& [name, announced, label] : controls) {
        QAccessibleInterface* accessible =
            QAccessible::queryAccessibleInterface(control<QWidget>(name));
        EXPECT_EQ(accessible->text(QAccessible::Name), QString::fromUtf8(announced)) << name;
        QStringList labels;
        for (const auto& [other, relation] : accessible->relations(QAccessible::Label))
            labels << other->object()->objectName();
        EXPECT_TRUE(labels.contains(label)) << name << ": " << qPrintable(labels.join(' '));
    }
}

// The step arrows take the palette's button text colour: a dark one shows them.
TEST_F(MainWindow, StepArrowsTakeTheButtonTextColour) {
    QPalette dark = window.palette();
    dark.setColor(QPalette::Button, Qt::black);
    dark.setColor(QPalette::ButtonText, Qt::yellow);
    window.setPalette(dark);
    for (const char* name : {"cmdUp", "cmdDown"}) {
        const QImage picture = control<QPushButton>(name)->grab().toImage();
        int arrowPixels = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x)
                arrowPixels += picture.pixelColor(x, y) == QColor(Qt::yellow);
        }
        EXPECT_GE(arrowPixels, 10) << name;
    }
}

TEST_F(MainWindow, AmountBoxTakesAnyText) {
    QLineEdit* amount = control<QLineEdit>("txtTrans");
    amount->clear();
    QTest::keyClicks(amount, "12abc &H1 -.5e3");
    EXPECT_EQ(amount->text(), "12abc &H1 -.5e3");
    EXPECT_EQ(amount->validator(), nullptr);
}

TEST_F(MainWindow, ChoosingAnOptionOrTypingChangesNothingElse) {
    QTest::mouseClick(jobOptions()[3], Qt::LeftButton, {}, QPoint(5, 8));
    QTest::keyClicks(control<QLineEdit>("txtTrans"), "7");
    EXPECT_EQ(selectedJob(), 3);
    EXPECT_EQ(control<QLineEdit>("txtTrans")->text(), "07");
    EXPECT_TRUE(control<QPushButton>("cmdJob1")->isEnabled());
    EXPECT_TRUE(window.isVisible());
}

// Every caption must be drawn with real glyphs, never with empty boxes.
TEST_F(MainWindow, EveryCaptionHasGlyphsInItsControlsFont) {
    QStringList checked;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        QString text;
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            text = button->text();
        else if (auto* label = qobject_cast<QLabel*>(widget))
            text = label->text();
        else if (auto* frame = qobject_cast<QGroupBox*>(widget))
            text = frame->title();
        else if (auto* edit = qobject_cast<QLineEdit*>(widget))
            text = edit->text();
        const QFontMetrics metrics(widget->font());
        for (char32_t ch : text.toUcs4()) {
            if (ch != U' ') {
                EXPECT_TRUE(metrics.inFontUcs4(ch))
                    << qPrintable(widget->objectName()) << ": U+" << std::hex << unsigned(ch)
                    << " missing from " << qPrintable(widget->font().family());
            }
        }
        checked << text;
    }
    EXPECT_TRUE(checked.contains(QStringLiteral("強弱情報シフト")));
}

// Message boxes, file dialogs and the About window use the main window's font.
TEST_F(MainWindow, BoxesDialogsAndTheAboutWindowUseTheWindowsFont) {
    QMessageBox box;
    QFileDialog dialog;
    frmAbout about;
    for (QWidget* other : std::initializer_list<QWidget*>{&box, &dialog, &about})
        EXPECT_EQ(other->font(), window.font()) << other->metaObject()->className();
}

// Captions fit their controls without moving or resizing them.
TEST_F(MainWindow, EveryCaptionFitsItsControl) {
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        const int indicator = qobject_cast<QRadioButton*>(button) ? 20 : 4;
        const int needed =
            QFontMetrics(button->font()).horizontalAdvance(button->text()) + indicator;
        EXPECT_LE(needed, button->width()) << qPrintable(button->text());
    }
}

} // namespace

TEST(QtTexts, AreJapaneseOnceTheTranslationIsInstalled) {
    ASSERT_TRUE(installQtJapaneseTranslation(*qApp)) << "qt6-translations-l10n is missing";
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("キャンセル"));
}
