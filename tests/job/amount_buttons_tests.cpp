// The step buttons beside the amount box, pressed in the real main window.
#include "app/frmMain.h"
#include "tests/support/test_files.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <ostream>
#include <utility>
#include <vector>

namespace {

using zelmod::testing::PrintTo;

struct StepCase {
    const char* name;
    const char* before;
    const char* afterUp;
    const char* afterDown;
};

class StepButtons : public testing::TestWithParam<StepCase> {
  protected:
    void SetUp() override {
        window.show();
        QApplication::setActiveWindow(&window);
        amount = window.findChild<QLineEdit*>("txtTrans");
        ASSERT_NE(amount, nullptr);
    }

    QString textAfterPressing(const char* button, const char* before) {
        auto* step = window.findChild<QPushButton*>(QLatin1String(button));
        EXPECT_NE(step, nullptr) << button;
        if (!step)
            return {};
        amount->setText(QString::fromUtf8(before));
        QTest::mouseClick(step, Qt::LeftButton);
        return amount->text();
    }

    frmMain window;
    QLineEdit* amount = nullptr;
};

TEST_P(StepButtons, StepClampAndRewriteTheAmount) {
    const StepCase& c = GetParam();
    EXPECT_EQ(textAfterPressing("cmdUp", c.before), QString::fromUtf8(c.afterUp));
    EXPECT_EQ(textAfterPressing("cmdDown", c.before), QString::fromUtf8(c.afterDown));
}

// In the box itself the arrow keys and a notch of the wheel step alike.
TEST_P(StepButtons, ArrowKeysAndWheelStepAsTheButtons) {
    const StepCase& c = GetParam();
    amount->setFocus();
    for (const auto& [key, after] :
         {std::pair{Qt::Key_Up, c.afterUp}, std::pair{Qt::Key_Down, c.afterDown}}) {
        amount->setText(QString::fromUtf8(c.before));
        QTest::keyClick(amount, key);
        EXPECT_EQ(amount->text(), QString::fromUtf8(after)) << "key " << key;
    }
    // Two half notches make one; a notch down then steps down.
    for (const auto& [angles, after] :
         {std::pair{std::vector{60, 60}, c.afterUp}, std::pair{std::vector{-120}, c.afterDown}}) {
        amount->setText(QString::fromUtf8(c.before));
        for (const int angle : angles) {
            QWheelEvent wheel(amount->rect().center(), amount->mapToGlobal(amount->rect().center()),
                              {}, QPoint(0, angle), Qt::NoButton, {}, Qt::NoScrollPhase, false);
            QApplication::sendEvent(amount, &wheel);
        }
        EXPECT_EQ(amount->text(), QString::fromUtf8(after)) << "wheel " << angles.front();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Amounts, StepButtons,
    testing::Values(
        StepCase{"Five", "5", "6", "4"}, StepCase{"Zero", "0", "1", "-1"},
        StepCase{"Empty", "", "1", "-1"}, StepCase{"Letters", "abc", "1", "-1"},
        StepCase{"NumberThenLetters", "12abc", "13", "11"},
        StepCase{"UpperLimit", "127", "127", "126"}, StepCase{"LowerLimit", "-127", "-126", "-127"},
        StepCase{"FractionBelowUpperLimit", "126.5", "127", "125.5"},
        StepCase{"FractionAboveLowerLimit", "-126.5", "-125.5", "-127"},
        StepCase{"FarAbove", "300", "127", "127"}, StepCase{"FarBelow", "-300", "-127", "-127"},
        StepCase{"Fraction", "2.5", "3.5", "1.5"}, StepCase{"NegativeHalf", "-0.5", ".5", "-1.5"},
        StepCase{"Hexadecimal", "&H10", "17", "15"}, StepCase{"Blanks", " 1 2", "13", "11"},
        StepCase{"FullWidth", "１　２", "13", "11"}, StepCase{"FullWidthMinus", "－５", "-4", "-6"},
        StepCase{"FullWidthFraction", "１２６．５", "127", "125.5"}),
    zelmod::testing::caseName);

} // namespace
