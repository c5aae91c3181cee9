// The text/number conversions of the shift amount beyond what the step
// buttons' table covers: exponents, octal, overflow, locale, long values and
// full-width characters.
#include "job/amount/ShiftAmount.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

namespace {

using zelmod::amountFromText;
using zelmod::amountToText;

struct FromTextCase {
    std::string text;
    double value;
};

void PrintTo(const FromTextCase& c, std::ostream* out) {
    *out << '"' << c.text << '"';
}

class AmountFromText : public testing::TestWithParam<FromTextCase> {};

TEST_P(AmountFromText, ReadsTheLeadingNumber) {
    EXPECT_DOUBLE_EQ(amountFromText(GetParam().text), GetParam().value) << GetParam().text;
}

constexpr double Largest = std::numeric_limits<double>::max();

INSTANTIATE_TEST_SUITE_P(
    Forms, AmountFromText,
    testing::Values(FromTextCase{"1E2", 100}, FromTextCase{"1e2", 100}, FromTextCase{"1D2", 100},
                    FromTextCase{"2.5d-1", 0.25}, FromTextCase{"1E+2x", 100}, FromTextCase{"1E", 1},
                    FromTextCase{"3E+", 3}, FromTextCase{"4Dx", 4}, FromTextCase{"+7", 7},
                    FromTextCase{"-.25", -0.25}, FromTextCase{"7.", 7}, FromTextCase{"1.2.3", 1.2},
                    FromTextCase{".", 0}, FromTextCase{"-", 0}, FromTextCase{"--5", 0},
                    FromTextCase{"\t-\n3 .5", -3.5}, FromTextCase{"1,5", 1},
                    FromTextCase{"&O17", 15}, FromTextCase{"&o17", 15}, FromTextCase{"&O8", 0},
                    FromTextCase{"&O178", 15}, FromTextCase{"&hff", 255}, FromTextCase{"&H", 0},
                    FromTextCase{"&X1", 0}, FromTextCase{"&", 0},
                    // Beyond the range of a double: the largest finite value, or zero.
                    FromTextCase{"1E999", Largest}, FromTextCase{"-1D400", -Largest},
                    FromTextCase{"1e99999999999999999999", Largest},
                    FromTextCase{"0.0000000001e320", Largest}, FromTextCase{"1E-999", 0},
                    FromTextCase{"-1E-999", 0},
                    FromTextCase{"&H1" + std::string(300, 'F'), Largest},
                    // Long digit runs that stay in range are read exactly.
                    FromTextCase{"0." + std::string(400, '0') + "1e401", 1},
                    FromTextCase{"1" + std::string(400, '0') + "e-400", 1}));

// Full-width forms, as an input method types them, and broken UTF-8 near them.
const std::string TwoBytesOfOne = "\xEF\xBC";
INSTANTIATE_TEST_SUITE_P(
    FullWidth, AmountFromText,
    testing::Values(FromTextCase{"１２", 12}, FromTextCase{"－５", -5},
                    FromTextCase{"＋７．５", 7.5}, FromTextCase{"１\u3000２", 12},
                    FromTextCase{"１Ｅ２", 100}, FromTextCase{"２ｄ－１", 0.2},
                    FromTextCase{"&Ｈ１０", 16}, FromTextCase{"&ｏ１７", 15},
                    FromTextCase{"1２3", 123}, FromTextCase{"１２ａｂｃ", 12},
                    FromTextCase{"１，５", 1}, FromTextCase{"１Ｆ", 1}, FromTextCase{"＆Ｈ１０", 0},
                    FromTextCase{"一二", 0}, FromTextCase{TwoBytesOfOne + "1", 0},
                    FromTextCase{TwoBytesOfOne + "１", 0}, FromTextCase{"5" + TwoBytesOfOne, 5},
                    FromTextCase{"\xE3\x80 5", 0}, FromTextCase{"\xEF\xBE\x91", 0}));

struct ToTextCase {
    double value;
    const char* text;
};

void PrintTo(const ToTextCase& c, std::ostream* out) {
    *out << c.text;
}

class AmountToText : public testing::TestWithParam<ToTextCase> {};

TEST_P(AmountToText, WritesPlainDecimal) {
    EXPECT_EQ(amountToText(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Values, AmountToText,
                         testing::Values(ToTextCase{1e-5, ".00001"}, ToTextCase{-1e-5, "-.00001"},
                                         ToTextCase{123456789012345678.0, "123456789012346000"},
                                         ToTextCase{0.1 + 0.2, ".3"}, ToTextCase{-0.0, "0"},
                                         ToTextCase{1e15, "1000000000000000"},
                                         ToTextCase{1.5e-20, ".000000000000000000015"},
                                         ToTextCase{9.9999999999999999, "10"},
                                         ToTextCase{-126.25, "-126.25"},
                                         ToTextCase{1234567.8901234567, "1234567.89012346"}));

TEST(AmountToText, LargestValueReadsBackAsItself) {
    const std::string text = amountToText(Largest);
    EXPECT_EQ(text, "179769313486232" + std::string(294, '0'));
    // Rounded up to 15 digits the text lies beyond the range and saturates.
    EXPECT_EQ(amountFromText(text), Largest);
}

// A locale whose decimal separator is a comma, made on the fly when a
// POSIX system has none installed; Windows always has German_Germany.
bool useCommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany"}) {
        if (std::setlocale(LC_ALL, name))
            return true;
    }
#ifdef _WIN32
    return false;
#else
    const auto folder = std::filesystem::temp_directory_path() / "zelmod-amount-locales";
    std::filesystem::create_directories(folder);
    const std::string make =
        "localedef -i de_DE -f UTF-8 '" + (folder / "de_DE.UTF-8").string() + "' 2>/dev/null";
    if (std::system(make.c_str()) != 0)
        return false;
    setenv("LOCPATH", folder.c_str(), 1);
    return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
#endif
}

TEST(AmountConversions, IgnoreTheLocale) {
    if (!useCommaLocale())
        GTEST_SKIP() << "no locale with a decimal comma available (localedef missing?)";
    ASSERT_EQ(std::string(std::localeconv()->decimal_point), ",");
    EXPECT_EQ(amountFromText("2.5"), 2.5);
    EXPECT_EQ(amountFromText("2,5"), 2);
    EXPECT_EQ(amountToText(-126.5), "-126.5");
    std::setlocale(LC_ALL, "C");
}

} // namespace
