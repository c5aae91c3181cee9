// Rewrites one line of event text for the job chosen in the window.
#pragma once

#include "converters/EventText.h"

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zelmod {

// The jobs in the order of their option buttons; the value is the button's index.
enum class Job {
    PitchMirror = 0,
    Transpose = 1,
    VelocityMirror = 2,
    VelocityShift = 3,
    Reverse = 4
};
inline constexpr int JobCount = 5;

// Answers whether the job option button of the given index (0 to 4) is selected.
using JobOptionQuery = std::function<bool(int index)>;

// A query for a job fixed in advance, for callers without a window.
JobOptionQuery fixedJob(Job job);

// The note or velocity value of a line is not a decimal integer.
class ValueConversionError : public std::runtime_error {
  public:
    explicit ValueConversionError(std::string field);
    const std::string& field() const noexcept { return field_; }

  private:
    std::string field_;
};

// A shifted value is kept within MinShiftedValue..MaxShiftedValue (1..128):
// one above what a data byte holds, so that t2mf caps it and says so. A
// mirrored value v becomes MirrorSum - v (129 - v: 60 becomes 69).
inline constexpr int MinShiftedValue = 1;
inline constexpr int MaxShiftedValue = convert::MaxDataValue + 1;
inline constexpr int MirrorSum = MinShiftedValue + MaxShiftedValue;

// Rewrites one line of event text (without its line end) and returns it.
// Lines whose second field is not a note name come back unchanged. The
// job is asked of isSelected in index order 0 to 4 at every call; limitFlag
// is cleared first and set when a shifted value had to be clamped.
// Throws ValueConversionError when the target value cannot be converted.
std::string TransformEventLine(std::string_view line, double shiftAmount, bool& limitFlag,
                               const JobOptionQuery& isSelected);

// The most a rewritten line is longer than the line it came from: a value
// of one digit can come back with three (MirrorSum - 0).
inline constexpr std::size_t MaxLineGrowth = 2;

// The same, for a caller rewriting many lines into one buffer: writes the
// rewritten line at out, which has room for line.size() + MaxLineGrowth
// characters, and returns its end. On a conversion error nothing is written.
char* writeTransformedLine(char* out, std::string_view line, double shiftAmount, bool& limitFlag,
                           const JobOptionQuery& isSelected);

} // namespace zelmod
