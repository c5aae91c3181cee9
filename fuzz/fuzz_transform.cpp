// Any line, any job, any amount: exactly one line comes back, or the value
// conversion error; lines other than note lines come back untouched, and
// rebuilt note lines are cleanly spaced.
#include "transform/TransformEventLine.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

bool isNoteLine(std::string_view line) {
    const std::size_t first = line.find(' ');
    if (first == std::string_view::npos)
        return false;
    const std::string_view rest = line.substr(first + 1);
    const std::string_view second = rest.substr(0, rest.find(' '));
    return second == "On" || second == "Off";
}

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const int jobIndex = data[0] % (zelmod::JobCount + 1); // one past the last: nothing selected
    const double amount = static_cast<std::int8_t>(data[1]) + (data[2] % 4) * 0.25;
    const std::string_view input(reinterpret_cast<const char*>(data + 3), size - 3);
    const std::string_view line = input.substr(0, input.find('\n'));

    bool limit = true;
    std::string output;
    try {
        output = zelmod::TransformEventLine(line, amount, limit,
                                            [&](int index) { return index == jobIndex; });
    } catch (const zelmod::ValueConversionError&) {
        check(isNoteLine(line));
        return 0;
    }
    if (!isNoteLine(line)) {
        check(output == line && !limit);
        return 0;
    }
    check(output.find('\n') == std::string::npos);
    check(output.find("  ") == std::string::npos);
    check(output.empty() || (output.front() != ' ' && output.back() != ' '));
    check(std::count(output.begin(), output.end(), ' ') <= 6);
    return 0;
}
