// The step buttons beside the amount box, pressed in the real main window.
#include "app/frmMain.h"
#include "tests/support/test_files.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <utility>

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

// In the box itself the arrow keys and each notch of the wheel step as the
// buttons do; two half notches make one.
TEST_P(StepButtons, ArrowKeysAndWheelStepAsTheButtons) {
    const StepCase& c = GetParam();
    const auto wheel = [this](int angle) {
        QWheelEvent event({}, {}, {}, QPoint(0, angle), Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(amount, &event);
    };
    const std::pair<std::function<void()>, const char*> steps[] = {
        {[&] { QTest::keyClick(amount, Qt::Key_Up); }, c.afterUp},
        {[&] { QTest::keyClick(amount, Qt::Key_Down); }, c.afterDown},
        {[&] { wheel(60), wheel(60); }, c.afterUp},
        {[&] { wheel(-120); }, c.afterDown}};
    for (const auto& [step, after] : steps) {
        amount->setText(QString::fromUtf8(c.before));
        step();
        EXPECT_EQ(amount->text(), QString::fromUtf8(after));
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
