#include "TransformEventLine.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace zelmod {
namespace {

constexpr int FieldCount = 7;
using Fields = std::array<std::string_view, FieldCount>;

// What a job does: which field it rewrites, with which prefix, and how.
struct JobRule {
    int field; // zero-based index into Fields, or -1 when the job rewrites nothing
    std::string_view prefix;
    bool mirror;
};

constexpr std::array<JobRule, JobCount> jobRules{{
    {3, "n=", true},  // pitch mirror
    {3, "n=", false}, // transpose
    {4, "v=", true},  // velocity mirror
    {4, "v=", false}, // velocity shift
    {-1, "", false},  // reverse playback: no rewriting
}};

constexpr int noteMin = 1;
constexpr int noteMax = 128;
constexpr int mirrorSum = 129;

int selectedJob(const JobOptionQuery& isSelected) {
    for (int index = 0; index < JobCount; ++index) {
        if (isSelected(index))
            return index;
    }
    return static_cast<int>(Job::Reverse);
}

// The line cut at every space, keeping empty pieces; pieces after the
// seventh are dropped. A plain line (seven fields at most, none empty) is
// its own rebuilt form.
struct SplitLine {
    Fields fields{};
    bool plain = true;
};

// Eight bytes of text from at, the first in the lowest bits; bytes past
// the end read as zero.
std::uint64_t loadWord(const char* at, std::size_t left) {
    std::uint64_t word = 0;
    if (left >= 8 && std::endian::native == std::endian::little) {
        std::memcpy(&word, at, 8);
        return word;
    }
    for (std::size_t i = 0; i < std::min<std::size_t>(left, 8); ++i)
        word |= std::uint64_t(static_cast<unsigned char>(at[i])) << (8 * i);
    return word;
}

// The high bit of every byte of word that is a space, and no other bit;
// eight bytes are tested at once, since cutting is most of the work.
constexpr std::uint64_t spaceBits(std::uint64_t word) {
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7F;
    const std::uint64_t x = word ^ 0x2020202020202020;
    return ~(((x & low7) + low7) | x | low7);
}

SplitLine splitFields(std::string_view line) {
    SplitLine split;
    std::size_t start = 0;
    int count = 0;
    for (std::size_t base = 0; base < line.size(); base += 8) {
        for (std::uint64_t spaces = spaceBits(loadWord(line.data() + base, line.size() - base));
             spaces != 0; spaces &= spaces - 1) {
            const std::size_t at = base + static_cast<std::size_t>(std::countr_zero(spaces) / 8);
            split.plain = split.plain && at != start;
            split.fields[count] = line.substr(start, at - start);
            start = at + 1;
            if (++count == FieldCount) {
                split.plain = false;
                return split;
            }
        }
    }
    split.plain = split.plain && start != line.size();
    split.fields[count] = line.substr(start);
    return split;
}

char* copied(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// The value text of a target field: the digits after the prefix when the
// field is 3 to 5 characters long, else the whole field (which fails).
std::int32_t parseValue(std::string_view field) {
    const std::string_view text = field.size() >= 3 && field.size() <= 5 ? field.substr(2) : field;
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        throw ValueConversionError(std::string(field));
    return value;
}

std::int32_t shifted(std::int32_t value, double shiftAmount, bool& limitFlag) {
    // nearbyint rounds in the default mode: to nearest, halves to even.
    const double sum = std::nearbyint(static_cast<double>(value) + shiftAmount);
    if (sum < noteMin) {
        limitFlag = true;
        return noteMin;
    }
    if (sum > noteMax) {
        limitFlag = true;
        return noteMax;
    }
    return static_cast<std::int32_t>(sum);
}

char* rebuilt(char* out, const Fields& fields) {
    if (fields[0].empty())
        return out;
    out = copied(out, fields[0]);
    for (int i = 1; i < FieldCount && !fields[i].empty(); ++i) {
        *out++ = ' ';
        out = copied(out, fields[i]);
    }
    return out;
}

} // namespace

JobOptionQuery fixedJob(Job job) {
    return [job](int index) { return index == static_cast<int>(job); };
}

ValueConversionError::ValueConversionError(std::string field)
    : std::runtime_error("\"" + field + "\" does not hold a decimal value"),
      field_(std::move(field)) {}

std::string TransformEventLine(std::string_view line, double shiftAmount, bool& limitFlag,
                               const JobOptionQuery& isSelected) {
    std::string out(line.size() + MaxLineGrowth, '\0');
    char* const end = writeTransformedLine(out.data(), line, shiftAmount, limitFlag, isSelected);
    out.resize(static_cast<std::size_t>(end - out.data()));
    return out;
}

char* writeTransformedLine(char* out, std::string_view line, double shiftAmount, bool& limitFlag,
                           const JobOptionQuery& isSelected) {
    limitFlag = false;
    const JobRule& rule = jobRules[selectedJob(isSelected)];

    const SplitLine split = splitFields(line);
    const Fields& fields = split.fields;
    const bool noteOn = fields[1] == "On";
    if (!noteOn && fields[1] != "Off")
        return copied(out, line);

    // Channel 10 is the percussion channel: its notes are instruments, not pitches.
    if (rule.field < 0 || fields[2] == "ch=10" || !fields[rule.field].starts_with(rule.prefix))
        return split.plain ? copied(out, line) : rebuilt(out, fields);

    const std::string_view target = fields[rule.field];
    const std::int32_t value = parseValue(target);
    std::int32_t newValue = value;
    const bool velocityJob = rule.prefix == "v=";
    // A note-on of velocity 0 ends a note; giving it a velocity would leave the note stuck.
    if (!(velocityJob && noteOn && value == 0))
        newValue = rule.mirror ? mirrorSum - value : shifted(value, shiftAmount, limitFlag);

    std::array<char, 16> rewritten{};
    char* const valueStart = std::copy(rule.prefix.begin(), rule.prefix.end(), rewritten.begin());
    const auto written = std::to_chars(valueStart, rewritten.data() + rewritten.size(), newValue);
    const std::string_view newTarget(rewritten.data(),
                                     static_cast<std::size_t>(written.ptr - rewritten.data()));
    if (split.plain) {
        // The rebuilt line is the line itself with the new value in place,
        // which mostly has as many digits as the old one.
        const auto targetAt = static_cast<std::size_t>(target.data() - line.data());
        copied(out, line);
        copied(out + targetAt, newTarget);
        if (newTarget.size() == target.size())
            return out + line.size();
        return copied(out + targetAt + newTarget.size(), line.substr(targetAt + target.size()));
    }
    Fields changed = fields;
    changed[rule.field] = newTarget;
    return rebuilt(out, changed);
}

} // namespace zelmod
