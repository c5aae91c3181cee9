// The shift amount lives as text in the window's amount box; these are the
// two conversions between that text and the number, shared by every reader.
#pragma once

#include <string>
#include <string_view>

namespace zelmod {

inline constexpr double AmountLimit = 127.0;

// The number at the start of the text, or 0 when there is none. Blanks, tabs
// and line feeds are skipped anywhere; &H and &O prefixes read hexadecimal
// and octal; an exponent may be introduced by E or D. A number beyond the
// range of a double reads as the largest finite one (of its sign), a number
// too small for it as 0, so the result is always finite. The text is UTF-8;
// full-width digits, signs, points, blanks and the letters E, D, H and O
// read as their ASCII forms, as typed by an input method in full-width mode.
double amountFromText(std::string_view text);

// Plain decimal, 15 significant digits, no trailing zeros, ".5" and "-.5"
// for fractions between -1 and 1.
std::string amountToText(double amount);

// Keeps the amount within -127..127.
double clampAmount(double amount);

} // namespace zelmod
