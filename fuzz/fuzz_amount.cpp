// Any text typed as the shift amount reads as a finite number; the text form
// of any finite number reads back to a number with the same text form; the
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
    const double amount =
        zelmod::amountFromText(std::string_view(reinterpret_cast<const char*>(data), size));
    check(std::isfinite(amount), "typed text reads as a finite number");
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
