#include "job/amount/ShiftAmount.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>

namespace zelmod {
namespace {

bool isSkipped(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

// The characters a number is made of, as an input method in full-width mode
// types them: their code points are those of ASCII plus 0xFEE0.
constexpr std::string_view FoldedFromFullWidth = "0123456789+-.EDHOedho";

// A full-width digit, sign, point or exponent or radix letter (U+FF01 to
// U+FF5E, three bytes in UTF-8), as its ASCII character; 0 for anything else.
char asciiOfFullWidth(std::string_view text, std::size_t position) {
    if (position + 3 > text.size())
        return 0;
    const auto lead = static_cast<unsigned char>(text[position]);
    const auto second = static_cast<unsigned char>(text[position + 1]);
    const auto third = static_cast<unsigned char>(text[position + 2]);
    if (lead != 0xEF || (second != 0xBC && second != 0xBD) || (third & 0xC0) != 0x80)
        return 0;
    const int codePoint = 0xF000 | ((second & 0x3F) << 6) | (third & 0x3F);
    const char ascii = static_cast<char>(codePoint - 0xFEE0);
    return FoldedFromFullWidth.find(ascii) != std::string_view::npos ? ascii : 0;
}

constexpr std::string_view IdeographicSpace = "\xE3\x80\x80";

// The text with the full-width forms of the characters of a number, and the
// ideographic space, replaced by their ASCII forms; all else stays as it is.
std::string foldedFullWidth(std::string_view text) {
    std::string folded;
    folded.reserve(text.size());
    for (std::size_t position = 0; position < text.size();) {
        if (const char ascii = asciiOfFullWidth(text, position)) {
            folded.push_back(ascii);
            position += 3;
        } else if (text.substr(position, IdeographicSpace.size()) == IdeographicSpace) {
            folded.push_back(' ');
            position += IdeographicSpace.size();
        } else {
            folded.push_back(text[position++]);
        }
    }
    return folded;
}

// The text with every blank, tab and line feed taken out.
std::string withoutBlanks(std::string_view text) {
    std::string packed;
    packed.reserve(text.size());
    for (const char c : text) {
        if (!isSkipped(c))
            packed.push_back(c);
    }
    return packed;
}

// Digits of the given radix (8 or 16) after an &O or &H prefix.
double radixValue(std::string_view digits, int radix) {
    double value = 0;
    for (const char c : digits) {
        int digit = 0;
        const auto [end, error] = std::from_chars(&c, &c + 1, digit, radix);
        if (error != std::errc{} || end != &c + 1)
            break;
        value = value * radix + digit;
    }
    return std::min(value, std::numeric_limits<double>::max()); // a long run overflows
}

// Reads a run of decimal digits at position, appending them to out.
void takeDigits(std::string_view text, std::size_t& position, std::string& out) {
    while (position < text.size() && isDigit(text[position]))
        out.push_back(text[position++]);
}

// The longest decimal number at the start of text, as a normal form that
// from_chars reads: sign, digits, fraction, and exponent (saturated).
struct DecimalNumber {
    std::string text;           // for from_chars; empty when there is no number
    long long leadingPower = 0; // power of ten of the first non-zero digit
};

constexpr long long ExponentLimit = 100000;

long long readExponent(std::string_view text, std::size_t& position) {
    const std::size_t start = position;
    if (position >= text.size() || (upper(text[position]) != 'E' && upper(text[position]) != 'D'))
        return 0;
    ++position;
    bool negative = false;
    if (position < text.size() && (text[position] == '+' || text[position] == '-'))
        negative = text[position++] == '-';
    if (position >= text.size() || !isDigit(text[position])) {
        position = start; // "1E" or "1E+" ends before the letter
        return 0;
    }
    long long exponent = 0;
    for (; position < text.size() && isDigit(text[position]); ++position)
        exponent = std::min(exponent * 10 + (text[position] - '0'), ExponentLimit);
    return negative ? -exponent : exponent;
}

DecimalNumber readDecimal(std::string_view text) {
    std::size_t position = 0;
    std::string number;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        if (text[position] == '-')
            number.push_back('-');
        ++position;
    }
    std::string integerDigits;
    std::string fractionDigits;
    takeDigits(text, position, integerDigits);
    if (position < text.size() && text[position] == '.') {
        ++position;
        takeDigits(text, position, fractionDigits);
    }
    if (integerDigits.empty() && fractionDigits.empty())
        return {};
    const long long exponent = readExponent(text, position);

    const std::string digits = integerDigits + fractionDigits;
    const std::size_t firstNonZero = digits.find_first_not_of('0');
    if (firstNonZero == std::string::npos)
        return {"0", 0};
    number += integerDigits.empty() ? "0" : integerDigits;
    if (!fractionDigits.empty())
        number += "." + fractionDigits;
    number += "e" + std::to_string(exponent);
    const long long leadingPower = static_cast<long long>(integerDigits.size()) -
                                   static_cast<long long>(firstNonZero) - 1 + exponent;
    return {number, leadingPower};
}

double decimalValue(std::string_view text) {
    const DecimalNumber number = readDecimal(text);
    if (number.text.empty())
        return 0;
    double value = 0;
    const char* first = number.text.data();
    const char* last = first + number.text.size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (error == std::errc::result_out_of_range) {
        // Too large: the largest finite value, which every reader clamps.
        // Too small: zero.
        const bool negative = number.text.front() == '-';
        const double limit = number.leadingPower > 0 ? std::numeric_limits<double>::max() : 0.0;
        value = negative ? -limit : limit;
    }
    return value == 0 ? 0.0 : value; // no negative zero
}

} // namespace

double amountFromText(std::string_view text) {
    const std::string packed = withoutBlanks(foldedFullWidth(text));
    const std::string_view view = packed;
    if (view.size() >= 2 && view[0] == '&') {
        const char radix = upper(view[1]);
        if (radix == 'H')
            return radixValue(view.substr(2), 16);
        if (radix == 'O')
            return radixValue(view.substr(2), 8);
    }
    return decimalValue(view);
}

std::string amountToText(double amount) {
    constexpr int SignificantDigits = 15;
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, amount,
                                            std::chars_format::scientific, SignificantDigits - 1);
    const std::string_view scientific(buffer, error == std::errc{} ? end - buffer : 0);
    const std::size_t exponentMark = scientific.find('e');
    if (exponentMark == std::string_view::npos)
        return std::string(scientific); // inf or nan: never produced by amountFromText

    const bool negative = scientific.front() == '-';
    std::string digits;
    for (const char c : scientific.substr(0, exponentMark)) {
        if (isDigit(c))
            digits.push_back(c);
    }
    digits.erase(digits.find_last_not_of('0') + 1);
    if (digits.empty())
        return "0";
    int exponent = 0;
    const std::string_view exponentText = scientific.substr(exponentMark + 1);
    const char* exponentStart = exponentText.data() + (exponentText.front() == '+' ? 1 : 0);
    std::from_chars(exponentStart, exponentText.data() + exponentText.size(), exponent);

    // The first digit stands for 10^exponent; the point goes after exponent + 1 digits.
    const long long integerLength = static_cast<long long>(exponent) + 1;
    std::string text = negative ? "-" : "";
    if (integerLength <= 0) {
        text += "." + std::string(static_cast<std::size_t>(-integerLength), '0') + digits;
    } else if (integerLength >= static_cast<long long>(digits.size())) {
        text += digits + std::string(static_cast<std::size_t>(integerLength) - digits.size(), '0');
    } else {
        const auto split = static_cast<std::size_t>(integerLength);
        text += digits.substr(0, split) + "." + digits.substr(split);
    }
    return text;
}

double clampAmount(double amount) {
    if (amount > AmountLimit)
        return AmountLimit;
    if (amount < -AmountLimit)
        return -AmountLimit;
    return amount;
}

} // namespace zelmod
