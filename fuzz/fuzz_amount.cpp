// Any text typed as the shift amount reads as a finite number, and reads the
// same with the characters of a number typed in full width; the text form of
// any finite number reads back to a number with the same text form; the
// clamp keeps every value within the limits and leaves those inside alone.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "job/amount/ShiftAmount.h"

using zelmod::fuzz::check;

namespace {

// The text with each digit, sign, point, blank and exponent or radix letter
// in its full-width form, as an input method in full-width mode types it.
std::string fullWidth(std::string_view text) {
    constexpr std::string_view Widened = "0123456789+-.EDHOedho";
    std::string wide;
    for (const char c : text) {
        if (c == ' ') {
            wide += "\xE3\x80\x80";
        } else if (Widened.find(c) != std::string_view::npos) {
            const int codePoint = c + 0xFEE0;
            wide += '\xEF';
            wide += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            wide += static_cast<char>(0x80 | (codePoint & 0x3F));
        } else {
            wide += c;
        }
    }
    return wide;
}

void checkNumber(double amount) {
    const std::string text = zelmod::amountToText(amount);
    const double reread = zelmod::amountFromText(text);
    check(std::isfinite(reread), "the written text reads as a finite number");
    check(zelmod::amountToText(reread) == text, "the written text reads back to itself");
    check(text.find_first_not_of("-.0123456789") == std::string::npos,
          "the written text is plain decimal");

    const double clamped = zelmod::clampAmount(amount);
    check(std::fabs(clamped) <= zelmod::AmountLimit, "the clamp keeps within the limits");
    check(std::fabs(amount) > zelmod::AmountLimit || clamped == amount,
          "the clamp leaves values within the limits alone");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view typed(reinterpret_cast<const char*>(data), size);
    const double amount = zelmod::amountFromText(typed);
    check(std::isfinite(amount), "typed text reads as a finite number");
    check(zelmod::amountFromText(fullWidth(typed)) == amount, "full width reads as ASCII does");
    checkNumber(amount);
    // The same bytes as a number, to reach values that typing rarely makes.
    double bits = 0;
    if (size == sizeof bits) {
        std::memcpy(&bits, data, sizeof bits);
        if (std::isfinite(bits))
            checkNumber(bits);
    }
    return 0;
}
